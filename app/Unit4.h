// The font-info tool window: the family selected in the main window's list, the
// file of its regular face, every file that provides the family, and a command that
// saves a copy of the regular face's file.
#pragma once

#include "ComCtrls.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"

#include <functional>

class TForm4 : public TForm {
    Q_OBJECT
public:
    explicit TForm4(TComponent* AOwner);

    TPageControl* PageControl1 = nullptr;
    TTabSheet* TabSheet1 = nullptr;
    TBevel* Bevel1 = nullptr;
    TLabel* Label1 = nullptr;
    TLabel* Label2 = nullptr;
    TLabel* Label3 = nullptr;
    TLabel* Label4 = nullptr;
    TListBox* ListBox1 = nullptr;
    TButton* Button1 = nullptr;

    void FormShow(TObject* Sender);
    void Button1Click(TObject* Sender);

    // Shows a family and the file of its regular face ("-" where there is none).
    void ShowFamily(const QString& family);
    QString Family() const { return FFamily; }
    // Full path of the shown family's font file; empty if none was found.
    QString FontFile() const { return FFontFile; }
    // Every file that provides the shown family (the list shows them).
    QStringList FontFiles() const { return FFontFiles; }

    // Asks the user where to save the copy, suggesting a path; empty means
    // cancelled. A file dialog by default.
    std::function<QString(const QString& suggested)> AskSaveFileName;

    std::span<const TMethodBinding> PublishedMethods() const override;

private:
    QString FFamily;
    QString FFontFile;
    QStringList FFontFiles;
};

// Copies a file through a temporary file that replaces the target only when
// complete; failures raise an exception naming the file and the reason.
void CopyFontFile(const QString& source, const QString& target);

extern TForm4* Form4;
