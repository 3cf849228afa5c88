// The main window: the font list, the Alphabet page with its preview, the Text
// page with one edit field per installed font, the size and style bar, and the
// menu with the language switch, help and the font-info window.
#pragma once

#include "ComCtrls.h"
#include "ExtCtrls.h"
#include "FontFiles.h"
#include "Forms.h"
#include "Menus.h"
#include "RXSplit.h"
#include "ScrollBox.h"
#include "StdCtrls.h"
#include "Trans.h"

#include <memory>

class TForm1 : public TForm {
    Q_OBJECT
    // The window's messages: a key line, then the German and the English text.
    Q_PROPERTY(TStrings* Messages READ Messages WRITE SetMessages)
public:
    TStrings* Messages() const { return FMessages.get(); }
    void SetMessages(TStrings* value) {
        FMessages->SetStrings(value ? value->ToStringList() : QStringList());
    }
    // A message's text in the interface's language; the key itself if there is none.
    QString MessageText(const QString& key) const;

    // The faces the fields in view take after the next toggle of Bold, of Italic, or a
    // step of the size, in that order; made ahead while the Text page is idle.
    QList<QFont> TextPageWarmList() const;
    // The preview fonts readied for the entries beside the selection.
    QList<QFont> WarmedNeighbours() const { return FWarmFonts; }
    explicit TForm1(TComponent* AOwner);

    TStatusBar* StatusBar1 = nullptr;
    TPanel* Panel2 = nullptr;
    TPageControl* PageControl1 = nullptr;
    TTabSheet* TabSheet1 = nullptr;
    TMemo* Memo1 = nullptr;
    TMemo* Memo2 = nullptr;
    TTabSheet* TabSheet2 = nullptr;
    TPanel* Panel4 = nullptr;
    TLabel* Label3 = nullptr;
    TEdit* Edit1 = nullptr;
    TButton* Button1 = nullptr;
    TScrollBox* ScrollBox1 = nullptr;
    TPanel* Panel3 = nullptr;
    TBevel* Bevel1 = nullptr;
    TLabel* Label1 = nullptr;
    TLabel* Label2 = nullptr;
    TBevel* Bevel2 = nullptr;
    TTrackBar* TrackBar1 = nullptr;
    TBevel* Bevel3 = nullptr;
    TCheckBox* CheckBox1 = nullptr;
    TCheckBox* CheckBox2 = nullptr;
    TRxSplitter* RxSplitter1 = nullptr;
    TPanel* Panel1 = nullptr;
    TListBox* ListBox1 = nullptr;
    TMainMenu* MainMenu2 = nullptr;
    TMenuItem* Datei1 = nullptr;
    TMenuItem* Beenden1 = nullptr;
    TMenuItem* Ansicht1 = nullptr;
    TMenuItem* Alphabetansehen1 = nullptr;
    TMenuItem* VorgegebenenTextansehen1 = nullptr;
    TMenuItem* N2 = nullptr;
    TMenuItem* FontInfo1 = nullptr;
    TMenuItem* N1 = nullptr;
    TMenuItem* English1 = nullptr;
    TMenuItem* Hilfe1 = nullptr;
    TMenuItem* Inhalt1 = nullptr;
    TMenuItem* Info1 = nullptr;
    TTranslator* Translator1 = nullptr;

    void FormCreate(TObject* Sender);
    void FormClose(TObject* Sender, TCloseAction& Action);
    void FormResize(TObject* Sender);
    void ListBox1Click(TObject* Sender);
    void ListBox1DblClick(TObject* Sender);
    void TrackBar1Change(TObject* Sender);
    void CheckBox1Click(TObject* Sender);
    void CheckBox2Click(TObject* Sender);
    void Button1Click(TObject* Sender);
    void PageControl1Change(TObject* Sender);
    void Edit99DblClick(TObject* Sender);
    void Beenden1Click(TObject* Sender);
    void Alphabetansehen1Click(TObject* Sender);
    void VorgegebenenTextansehen1Click(TObject* Sender);
    void FontInfo1Click(TObject* Sender);
    void English1Click(TObject* Sender);
    void Inhalt1Click(TObject* Sender);
    void Info1Click(TObject* Sender);
    void FormKeyDown(TObject* Sender, Word& Key, TShiftState Shift);
    void Translator1AfterTranslate(TObject* Sender);

    // The family selected in the font list; empty when nothing is selected.
    QString SelectedFamily() const;
    // Selects a family of the list (by name, ignoring case) and previews it, as a click would.
    void SelectFamily(const QString& family);

    // Opens font files while the program runs (dropped on the window): their families join
    // the list and the Text page, the first family of the first file is selected, and the
    // paths that could not be opened are reported, in the interface's language.
    void OpenFontFiles(const QStringList& paths);
    // Reports paths that could not be opened: one message, a line for each, once the
    // events running now are done.
    void ReportFontFiles(const QList<TOpenedFontFile>& failed);
    // The lines of that message in the current language.
    QString FontFilesMessage(const QList<TOpenedFontFile>& failed) const;

    // Re-applies face, size, style, width and text to every per-font field and
    // stacks them by their heights, keeping the user's scroll position.
    void RefreshEditfields();

    int EditTop() const { return FEditTop; }
    bool Closing() const { return FClosing; }
    std::span<const TMethodBinding> PublishedMethods() const override;

    static constexpr int PerFontTag = 99;

private:
    void CreateEditfields();
    // Makes the fields for list entries from `first` on (all before have theirs).
    void AddEditfields(int first);
    void StatusChanged() const;
    // The per-font fields in creation order (they are the main window's components with the tag).
    std::vector<TEdit*> Editfields() const;
    void ShowProgress(int done, int total);
    QString FieldText(const QString& face) const;
    // Whether text already reads sample + " (" + face + ")", without building it.
    static bool IsFieldText(const QString& text, const QString& sample, const QString& face);
    // Keeps the font-info window in step with the selection while it shows.
    void SelectionChanged();
    // Readies the preview fonts of the entries beside the selection while idle.
    void WarmNeighbours(int delayMs = 50);
    // Readies, while the Text page is idle, the faces the fields in view take after
    // the next style toggle or size step.
    void WarmTextPage();
    void WarmTextPageStep(quint64 generation);

    int FEditTop = 0;
    // What each field's text was last made from, so a refresh with the same sample and
    // list reads no text that has not moved since (with thousands of fields, reading
    // every text costs more than the rest of the pass).
    struct TFieldTextNote {
        const TEdit* field = nullptr;
        quint64 version = 0;
    };
    std::vector<TFieldTextNote> FFieldTextNotes;
    QString FFieldTextSample;
    quint64 FFieldTextNames = 0; // the list's generation
    bool FClosing = false;
    bool FRefreshing = false;
    bool FWarmScheduled = false;
    QList<QFont> FWarmFonts;
    quint64 FTextWarmGeneration = 0;
    QList<TFontStyles> FTextWarmStyles;
    QList<QFont> FTextWarmQueue;
    QList<QFont> FTextWarmFonts;
    std::unique_ptr<QObject> FDropFilter;
    std::unique_ptr<TStrings> FMessages = std::make_unique<TStrings>();
};

// Font files opened in one go (the command line, or one drop).
struct TFontFileBatch {
    QStringList families; // of every file opened, in order, each once
    QString first;        // the first family of the first file opened
    QList<TOpenedFontFile> failed;
};
// Opens font files for this run (see OpenFontFile); a path given twice is opened once.
TFontFileBatch OpenFontFiles(const QStringList& paths);

extern TForm1* Form1;
