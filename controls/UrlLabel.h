// A label that behaves like a link: blue and underlined, with a pointing hand,
// ActiveColor while the left button is held on it; a click asks the shell to
// open its URL (or its caption), and its own menu copies the caption.
#pragma once

#include "Menus.h"
#include "StdCtrls.h"

// The application cursor the links show.
inline constexpr TCursor crHand = 5;

// The "HAND" cursor resource: 32 x 32, one bit, hot spot at the fingertip (5, 0).
QCursor LoadHandCursor();

class TUrlLabel : public TLabel {
    Q_OBJECT
    Q_PROPERTY(QString URL READ URL WRITE SetURL)
    Q_PROPERTY(int ActiveColor READ ActiveColor WRITE SetActiveColor)
public:
    explicit TUrlLabel(TComponent* AOwner);
    ~TUrlLabel() override;

    QString URL() const { return FURL; }
    void SetURL(const QString& value) { FURL = value; }
    TColor ActiveColor() const { return FActiveColor; }
    void SetActiveColor(TColor value) { FActiveColor = value; }
    TPopupMenu* LinkMenu() const { return FLinkMenu; }
    TMenuItem* CopyItem() const { return FCopyItem; }

    // What the shell is asked to open: URL unless it is blank, else the caption.
    QString Target() const;
    // Puts the caption on the clipboard as plain text.
    void CopyClick(TObject* Sender);

    void Click() override;
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;

private:
    QString FURL;
    TColor FSavedColor = clBlue;
    TColor FActiveColor = clPurple;
    TPopupMenu* FLinkMenu = nullptr; // owned as a component
    TMenuItem* FCopyItem = nullptr;  // owned by the menu
};
