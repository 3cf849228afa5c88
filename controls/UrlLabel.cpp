#include "UrlLabel.h"

#include "Forms.h"
#include "Shell.h"

#include <QBitmap>
#include <QClipboard>
#include <QGuiApplication>

QCursor LoadHandCursor() {
    const QBitmap image(QStringLiteral(":/controls/hand.xbm"));
    const QBitmap mask(QStringLiteral(":/controls/hand_mask.xbm"));
    if (image.isNull() || mask.isNull()) return QCursor(Qt::PointingHandCursor);
    return QCursor(image, mask, 5, 0);
}

// Blanks and control characters at either end do not count, as for the
// class library's Trim.
static QString TrimControls(const QString& s) {
    qsizetype b = 0, e = s.size();
    while (b < e && s[b].unicode() <= u' ')
        ++b;
    while (e > b && s[e - 1].unicode() <= u' ')
        --e;
    return s.mid(b, e - b);
}

TUrlLabel::TUrlLabel(TComponent* AOwner) : TLabel(AOwner) {
    // Every label registers the cursor again; the latest registration wins.
    if (Screen) Screen->SetCursors(crHand, LoadHandCursor());
    SetCursor(crHand);
    FActiveColor = clPurple;
    FFont->SetColor(clBlue);
    FFont->SetStyle(TFontStyles(fsUnderline));
    FSavedColor = FFont->Color();
    FLinkMenu = new TPopupMenu(this);
    FCopyItem = new TMenuItem(FLinkMenu);
    FCopyItem->SetCaption(QStringLiteral("Copy"));
    FCopyItem->SetOnClick(TNotifyEvent(this, &TUrlLabel::CopyClick));
    FLinkMenu->Items()->Add(FCopyItem);
    SetPopupMenu(FLinkMenu);
}

TUrlLabel::~TUrlLabel() {
    delete FLinkMenu;
}

QString TUrlLabel::Target() const {
    return TrimControls(FURL).isEmpty() ? FCaption : FURL;
}

void TUrlLabel::CopyClick(TObject*) {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(FCaption);
}

void TUrlLabel::Click() {
    TLabel::Click();
    const QString target = Target();
    // A target the shell cannot open passes silently, as the shell's result is not used.
    if (!TrimControls(target).isEmpty()) ShellOpen(target);
}

void TUrlLabel::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (button == mbLeft) {
        FSavedColor = FFont->Color();
        FFont->SetColor(FActiveColor);
    }
    TLabel::MouseDown(button, shift, x, y);
}

void TUrlLabel::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    if (button == mbLeft) FFont->SetColor(FSavedColor);
    TLabel::MouseUp(button, shift, x, y);
}
