#include "unit1.h"

#include "Unit2.h"
#include "Unit3.h"
#include "Unit4.h"
#include "WhenShown.h"

#include "FaceMetrics.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLoggingCategory>
#include <QMimeData>
#include <QScopeGuard>
#include <QSet>
#include <QTimer>
#include <QUrl>

#include <algorithm>

// What the status bar shows, for the end-to-end cases; off by default.
Q_LOGGING_CATEGORY(lcFonts, "glyvex.fonts", QtWarningMsg)

TForm1* Form1 = nullptr;

namespace {

// Local files carried by a drag, empty if it carries anything else.
QStringList DroppedFiles(const QMimeData* data) {
    QStringList files;
    if (!data || !data->hasUrls()) return files;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) return {};
        files << url.toLocalFile();
    }
    return files;
}

// Font files dropped anywhere on the main window open as if given on the command line.
// Watches the whole application, since the window's edits would take a drop themselves.
class TFontDropFilter : public QObject {
public:
    explicit TFontDropFilter(TForm1* form) : FForm(form) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) return false;
        auto* widget = qobject_cast<QWidget*>(watched);
        QWidget* window = FForm && FForm->HandleAllocated() ? FForm->Widget()->window() : nullptr;
        if (!widget || !window || widget->window() != window) return false;
        auto* drop = static_cast<QDropEvent*>(event); // enter and move events are drop events
        const QStringList files = DroppedFiles(drop->mimeData());
        if (files.isEmpty()) return false;
        drop->acceptProposedAction();
        if (type == QEvent::Drop) {
            // After the drop has ended: opening may report failures in a message box.
            QTimer::singleShot(0, FForm, [form = FForm, files] {
                Guard([&] {
                    if (form) form->OpenFontFiles(files);
                });
            });
        }
        return true;
    }

private:
    QPointer<TForm1> FForm;
};

} // namespace

TFontFileBatch OpenFontFiles(const QStringList& paths) {
    TFontFileBatch batch;
    QSet<QString> opened, families;
    TFaceMetrics* metrics = Screen ? Screen->FaceMetrics() : nullptr;
    for (const QString& path : paths) {
        const QString absolute = path.isEmpty() ? path : QFileInfo(path).absoluteFilePath();
        if (!path.isEmpty() && opened.contains(absolute)) continue;
        opened.insert(absolute);
        const TOpenedFontFile file = OpenFontFile(path, metrics);
        if (file.error != TFontFileError::None) {
            batch.failed << file;
            continue;
        }
        if (batch.first.isEmpty()) batch.first = file.families.front();
        for (const QString& family : file.families) {
            const QString key = CaseFoldKey(family);
            if (families.contains(key)) continue;
            families.insert(key);
            batch.families << family;
        }
    }
    return batch;
}

TForm1::TForm1(TComponent* AOwner) : TForm(AOwner) {
    ReadDefinition(QStringLiteral(":/app/unit1.gxf"));
    BindComponent(StatusBar1, "StatusBar1");
    BindComponent(Panel2, "Panel2");
    BindComponent(PageControl1, "PageControl1");
    BindComponent(TabSheet1, "TabSheet1");
    BindComponent(Memo1, "Memo1");
    BindComponent(Memo2, "Memo2");
    BindComponent(TabSheet2, "TabSheet2");
    BindComponent(Panel4, "Panel4");
    BindComponent(Label3, "Label3");
    BindComponent(Edit1, "Edit1");
    BindComponent(Button1, "Button1");
    BindComponent(ScrollBox1, "ScrollBox1");
    BindComponent(Panel3, "Panel3");
    BindComponent(Bevel1, "Bevel1");
    BindComponent(Label1, "Label1");
    BindComponent(Label2, "Label2");
    BindComponent(Bevel2, "Bevel2");
    BindComponent(TrackBar1, "TrackBar1");
    BindComponent(Bevel3, "Bevel3");
    BindComponent(CheckBox1, "CheckBox1");
    BindComponent(CheckBox2, "CheckBox2");
    BindComponent(RxSplitter1, "RxSplitter1");
    BindComponent(Panel1, "Panel1");
    BindComponent(ListBox1, "ListBox1");
    BindComponent(MainMenu2, "MainMenu2");
    BindComponent(Datei1, "Datei1");
    BindComponent(Beenden1, "Beenden1");
    BindComponent(Ansicht1, "Ansicht1");
    BindComponent(Alphabetansehen1, "Alphabetansehen1");
    BindComponent(VorgegebenenTextansehen1, "VorgegebenenTextansehen1");
    BindComponent(N2, "N2");
    BindComponent(FontInfo1, "FontInfo1");
    BindComponent(N1, "N1");
    BindComponent(English1, "English1");
    BindComponent(Hilfe1, "Hilfe1");
    BindComponent(Inhalt1, "Inhalt1");
    BindComponent(Info1, "Info1");
    BindComponent(Translator1, "Translator1");
    // The previews show each family as it is, missing glyphs as its own boxes.
    Memo1->Font()->SetOwnGlyphsOnly(true);
    Memo2->Font()->SetOwnGlyphsOnly(true);
}

std::span<const TMethodBinding> TForm1::PublishedMethods() const {
    static const TMethodBinding methods[] = {
        PUBLISHED_METHOD(TForm1, FormCreate),
        PUBLISHED_METHOD(TForm1, FormClose),
        PUBLISHED_METHOD(TForm1, FormResize),
        PUBLISHED_METHOD(TForm1, ListBox1Click),
        PUBLISHED_METHOD(TForm1, ListBox1DblClick),
        PUBLISHED_METHOD(TForm1, TrackBar1Change),
        PUBLISHED_METHOD(TForm1, CheckBox1Click),
        PUBLISHED_METHOD(TForm1, CheckBox2Click),
        PUBLISHED_METHOD(TForm1, Button1Click),
        PUBLISHED_METHOD(TForm1, PageControl1Change),
        PUBLISHED_METHOD(TForm1, Edit99DblClick),
        PUBLISHED_METHOD(TForm1, Beenden1Click),
        PUBLISHED_METHOD(TForm1, Alphabetansehen1Click),
        PUBLISHED_METHOD(TForm1, VorgegebenenTextansehen1Click),
        PUBLISHED_METHOD(TForm1, FontInfo1Click),
        PUBLISHED_METHOD(TForm1, English1Click),
        PUBLISHED_METHOD(TForm1, Inhalt1Click),
        PUBLISHED_METHOD(TForm1, Info1Click),
        PUBLISHED_METHOD(TForm1, FormKeyDown),
        PUBLISHED_METHOD(TForm1, Translator1AfterTranslate),
    };
    return methods;
}

// ---------------------------------------------------------------------------
// Start-up and closing

void TForm1::FormCreate(TObject*) {
    ListBox1->Items()->Clear();
    ListBox1->SetSorted(true);
    ListBox1->Items()->AddSortedBatch(Screen->Fonts()->ToStringList());
    // With no fonts installed there is nothing to select; everything below copes.
    const bool any = ListBox1->Items()->Count() > 0;
    ListBox1->SetItemIndex(any ? 0 : -1);
    if (any) {
        const QString first = ListBox1->Items()->Strings(0);
        Memo1->Font()->SetName(first);
        Memo2->Font()->SetName(first);
    }
    StatusBar1->Panels()->Items(1)->SetText(any ? ListBox1->Items()->Strings(0) : QString());
    FClosing = false;
    TrackBar1->SetPosition(Memo1->Font()->Size());
    CreateEditfields();
    Label2->SetCaption(QString::number(TrackBar1->Position()));
    StatusBar1->Panels()->Items(0)->SetText(QString::number(Screen->Fonts()->Count()) +
                                            QStringLiteral(" Fonts"));
    Translator1->SetCurrentLanguage(German);
    Application->SetHelpFile(QStringLiteral("glyvex.hlp"));
    Label2->SetCaption(QString::number(TrackBar1->Position()));
    WarmNeighbours();
    // Font files dropped on the window open for the run.
    HandleNeeded();
    Widget()->window()->setAcceptDrops(true);
    FDropFilter = std::make_unique<TFontDropFilter>(this);
    QCoreApplication::instance()->installEventFilter(FDropFilter.get());
    StatusChanged();
}

void TForm1::StatusChanged() const {
    if (!lcFonts().isDebugEnabled()) return;
    // With the family Qt resolved the preview's font to, so a fallback shows.
    const QWidget* memo = Memo1->Widget();
    qCDebug(lcFonts).noquote() << "status:" << StatusBar1->Panels()->Items(0)->Text() << "|"
                               << StatusBar1->Panels()->Items(1)->Text()
                               << "| preview:" << (memo ? QFontInfo(memo->font()).family() : QString());
}

void TForm1::FormClose(TObject*, TCloseAction&) {
    FClosing = true;
    delete Form2;
    Form2 = nullptr;
}

void TForm1::FormResize(TObject*) {
    RefreshEditfields();
}

// ---------------------------------------------------------------------------
// Font list and preview

void TForm1::ListBox1Click(TObject*) {
    const int i = ListBox1->ItemIndex();
    if (i < 0) return;
    const QString face = ListBox1->Items()->Strings(i);
    Memo1->Font()->SetName(face);
    Memo2->Font()->SetName(face);
    StatusBar1->Panels()->Items(1)->SetText(face);
    StatusChanged();
    SelectionChanged();
}

QString TForm1::SelectedFamily() const {
    const int i = ListBox1->ItemIndex();
    return i < 0 ? QString() : ListBox1->Items()->Strings(i);
}

void TForm1::SelectFamily(const QString& family) {
    const TStrings* items = ListBox1->Items();
    for (int i = 0; i < items->Count(); ++i) {
        if (items->Strings(i).compare(family, Qt::CaseInsensitive) != 0) continue;
        ListBox1->SetItemIndex(i);
        ListBox1Click(this);
        return;
    }
}

void TForm1::OpenFontFiles(const QStringList& paths) {
    if (FClosing) return;
    const TFontFileBatch batch = ::OpenFontFiles(paths);
    const QStringList added = Screen->AddFonts(batch.families);
    if (!added.isEmpty()) {
        const int before = ListBox1->Items()->Count();
        ListBox1->Items()->AddSortedBatch(added);
        AddEditfields(before);
        StatusBar1->Panels()->Items(0)->SetText(QString::number(Screen->Fonts()->Count()) +
                                                QStringLiteral(" Fonts"));
        // The fields follow the list's order again.
        RefreshEditfields();
    }
    if (!batch.first.isEmpty()) SelectFamily(batch.first);
    StatusChanged();
    ReportFontFiles(batch.failed);
}

QString TForm1::FontFilesMessage(const QList<TOpenedFontFile>& failed) const {
    QStringList lines;
    for (const TOpenedFontFile& file : failed) {
        const char* key = "FileMissing";
        switch (file.error) {
        case TFontFileError::None:
            continue;
        case TFontFileError::Missing:
            break;
        case TFontFileError::Unreadable:
            key = "FileUnreadable";
            break;
        case TFontFileError::NotRegular:
            key = "FileNotRegular";
            break;
        case TFontFileError::TooLarge:
            key = "FileTooLarge";
            break;
        case TFontFileError::NotAFont:
            key = "FileNotAFont";
            break;
        }
        lines << MessageText(QString::fromLatin1(key)).arg(file.path);
    }
    return lines.join(u'\n');
}

QString TForm1::MessageText(const QString& key) const {
    // Entries are key, German, English; a handful, so looked up in turn.
    const int language = Translator1->CurrentLanguage() == English ? 2 : 1;
    for (int i = 0; i + 2 < FMessages->Count(); i += 3)
        if (FMessages->Strings(i) == key) return FMessages->Strings(i + language);
    return key + QStringLiteral(" %1");
}

void TForm1::ReportFontFiles(const QList<TOpenedFontFile>& failed) {
    if (failed.isEmpty()) return;
    // Once the window shows: the message is then in the language it shows (at start-up the
    // stored one, restored by the first showing), and no message box runs inside a drop or
    // the window's creation. A window that stays hidden has it after ten seconds.
    using namespace std::chrono_literals;
    WhenShown(
        this, [this] { return Visible(); }, 10s,
        [this, failed] {
            if (FClosing) return;
            const QString message = FontFilesMessage(failed);
            if (!message.isEmpty()) Application->HandleException(std::make_exception_ptr(Exception(message)));
        });
}

void TForm1::SelectionChanged() {
    if (Form4 && Form4->Visible()) Form4->ShowFamily(SelectedFamily());
    WarmNeighbours();
}

void TForm1::WarmNeighbours(int delayMs) {
    // Qt makes a font engine the first time a face is drawn, which with thousands of
    // families installed costs longer than a frame (a font-configuration match over all
    // of them). Once the window has painted and is idle, make the engines of the entries
    // next to the selection at the preview's size and style, so an arrow key finds its
    // font ready. Keys held down come faster than that; each step then pays for its font.
    if (FWarmScheduled) return;
    FWarmScheduled = true;
    QTimer::singleShot(delayMs, this, [this] {
        Guard([&] {
            FWarmScheduled = false;
            const int i = ListBox1->ItemIndex();
            if (i < 0 || FClosing) return;
            // Not before the window is on screen: at start the timer may run out while
            // the window is still being made or shown, and the user waits for it first.
            QWidget* memo = Memo1->Widget();
            if (!memo || !Exposed()) {
                constexpr int kRetryMs = 250; // slowly: a minimised window may stay hidden long
                WarmNeighbours(kRetryMs);
                return;
            }
            QList<QFont> warm;
            for (int j : {i + 1, i - 1}) {
                if (j < 0 || j >= ListBox1->Items()->Count()) continue;
                QFont font = memo->font();
                const QString name = ListBox1->Items()->Strings(j);
                // A face whose file cannot be read safely (a FIFO, say) never goes to Qt.
                const TFaceMetrics* metrics = Screen->FaceMetrics();
                if (metrics && metrics->unreadable(name, font.bold(), font.italic())) continue;
                font.setFamilies({Screen->QtFamily(name, font.bold(), font.italic())});
                (void)QFontMetrics(font).height(); // makes the engine
                warm << font;
            }
            FWarmFonts = warm; // held, so Qt keeps those engines
        });
    });
}

void TForm1::WarmTextPage() {
    // Bold, Italic or a step of the size gives every field in view a face Qt has not
    // used yet, and its first use costs a font-configuration match over all installed
    // fonts: with thousands installed, tens of milliseconds per field. Once the Text page
    // has been idle a moment, make those faces one per turn of the event loop, so input
    // waits for one face at most and the next toggle finds them ready. The line heights
    // of every family in the toggled styles come first, one style per turn.
    const quint64 generation = ++FTextWarmGeneration;
    FTextWarmQueue.clear();
    FTextWarmStyles.clear();
    constexpr int kIdleMs = 300;
    QTimer::singleShot(kIdleMs, this, [this, generation] {
        Guard([&] {
            if (generation != FTextWarmGeneration || FClosing) return;
            if (PageControl1->ActivePage() != TabSheet2) return;
            const TFontStyles shown = (CheckBox1->Checked() ? TFontStyles(fsBold) : TFontStyles()) |
                                      (CheckBox2->Checked() ? TFontStyles(fsItalic) : TFontStyles());
            FTextWarmStyles = {shown ^ TFontStyles(fsBold), shown ^ TFontStyles(fsItalic)};
            FTextWarmQueue = TextPageWarmList();
            FTextWarmFonts.clear();
            WarmTextPageStep(generation);
        });
    });
}

void TForm1::WarmTextPageStep(quint64 generation) {
    if (generation != FTextWarmGeneration || FClosing || PageControl1->ActivePage() != TabSheet2) return;
    if (!FTextWarmStyles.isEmpty()) {
        Screen->PrepareFontLineHeights(ListBox1->Items()->ToStringList(), FTextWarmStyles.takeFirst());
    } else if (!FTextWarmQueue.isEmpty()) {
        const QFont font = FTextWarmQueue.takeFirst();
        (void)QFontMetrics(font).height(); // makes the engine
        FTextWarmFonts << font;            // held, so Qt keeps it
    } else {
        return;
    }
    QTimer::singleShot(0, this, [this, generation] { Guard([&] { WarmTextPageStep(generation); }); });
}

QList<QFont> TForm1::TextPageWarmList() const {
    if (PageControl1->ActivePage() != TabSheet2) return {};
    // Fields with a widget take their new font at once: those in view, and those within
    // half a page of it, which the box readies for scrolling. Tops grow down the list and
    // count from the visible origin.
    const std::vector<TEdit*> fields = Editfields();
    const int h = ScrollBox1->ClientHeight();
    auto first = std::partition_point(fields.begin(), fields.end(),
                                      [h](const TEdit* e) { return e->Top() + e->Height() <= -h / 2; });
    std::vector<const TEdit*> inView, nearView;
    for (auto it = first; it != fields.end() && (*it)->Top() < h + h / 2; ++it) {
        const TEdit* e = *it;
        if (e->Top() < h && e->Top() + e->Height() > 0)
            inView.push_back(e);
        else if (e->HandleAllocated())
            nearView.push_back(e);
    }
    inView.insert(inView.end(), nearView.begin(), nearView.end());

    const TFaceMetrics* metrics = Screen->FaceMetrics();
    QList<QFont> bold, italic, sizes;
    for (const TEdit* e : inView) {
        const TFont* current = e->Font();
        auto variant = [&](QList<QFont>& into, TFontStyles style, int size) {
            // A face whose file cannot be read safely (a FIFO, say) never goes to Qt.
            if (metrics &&
                metrics->unreadable(current->Name(), style.testFlag(fsBold), style.testFlag(fsItalic)))
                return;
            TFont probe;
            probe.SetName(current->Name());
            probe.SetHeight(current->Height());
            probe.SetOwnGlyphsOnly(current->OwnGlyphsOnly()); // else Qt would make another face
            probe.SetStyle(style);
            probe.SetSize(size);
            into << probe.ToQFont();
        };
        const TFontStyles style = current->Style();
        const int size = current->Size();
        variant(bold, style ^ TFontStyles(fsBold), size);
        variant(italic, style ^ TFontStyles(fsItalic), size);
        if (size < TrackBar1->Max()) variant(sizes, style, size + 1);
        if (size > TrackBar1->Min()) variant(sizes, style, size - 1);
    }
    return bold + italic + sizes;
}

void TForm1::ListBox1DblClick(TObject*) {
    PageControl1->SetActivePage(TabSheet1);
}

void TForm1::TrackBar1Change(TObject*) {
    Memo1->Font()->SetSize(TrackBar1->Position());
    Memo2->Font()->SetSize(TrackBar1->Position());
    Label2->SetCaption(QString::number(TrackBar1->Position()));
    WarmNeighbours();
}

static void SetStyleFlag(TFont* font, TFontStyle flag, bool on) {
    TFontStyles s = font->Style();
    s.setFlag(flag, on);
    font->SetStyle(s);
}

void TForm1::CheckBox1Click(TObject*) {
    SetStyleFlag(Memo1->Font(), fsBold, CheckBox1->Checked());
    SetStyleFlag(Memo2->Font(), fsBold, CheckBox1->Checked());
    WarmNeighbours();
    if (PageControl1->ActivePage() == TabSheet2) RefreshEditfields();
}

void TForm1::CheckBox2Click(TObject*) {
    SetStyleFlag(Memo1->Font(), fsItalic, CheckBox2->Checked());
    SetStyleFlag(Memo2->Font(), fsItalic, CheckBox2->Checked());
    WarmNeighbours();
    if (PageControl1->ActivePage() == TabSheet2) RefreshEditfields();
}

// ---------------------------------------------------------------------------
// Text page

QString TForm1::FieldText(const QString& face) const {
    const QString sample = Edit1->Text();
    QString text; // one allocation: thousands of fields are given theirs at once
    text.reserve(sample.size() + face.size() + 3);
    text += sample;
    text += u" (";
    text += face;
    text += u')';
    return text;
}

bool TForm1::IsFieldText(const QString& text, const QString& sample, const QString& face) {
    const QStringView t(text);
    return t.size() == sample.size() + face.size() + 3 && t.startsWith(sample) &&
           t.sliced(sample.size(), 2) == u" (" && t.sliced(sample.size() + 2, face.size()) == face &&
           t.back() == u')';
}

void TForm1::ShowProgress(int done, int total) {
    // The bar's range stays 0 to 100: it shows the share of fields done. It is told
    // only when that share moves, so thousands of fields do not each ask for a repaint.
    if (!Form2 || total <= 0) return;
    const int percent = int(qint64(done) * 100 / total);
    if (percent != Form2->ProgressBar1->Position() || done <= 1) Form2->ProgressBar1->SetPosition(percent);
}

void TForm1::CreateEditfields() {
    FEditTop = 0;
    AddEditfields(0);
}

void TForm1::AddEditfields(int first) {
    const int n = ListBox1->Items()->Count();
    if (first >= n) return;
    Screen->PrepareFontLineHeights(ListBox1->Items()->ToStringList().mid(first), TFontStyles());
    // A field's font is the box's with the family and the chosen size; given in one
    // step, so each field works out its height once, not once per change.
    TFont font;
    font.Assign(ScrollBox1->Font());
    font.SetSize(TrackBar1->Position());
    font.SetOwnGlyphsOnly(true);
    for (int i = first + 1; i <= n; ++i) {
        auto* edit = new TEdit(this);
        font.SetName(ListBox1->Items()->Strings(i - 1));
        edit->Font()->Assign(&font);
        edit->SetParent(ScrollBox1);
        edit->SetWidth(ScrollBox1->Width());
        edit->SetName(QStringLiteral("MyEdit") + QString::number(i));
        edit->SetText(FieldText(edit->Font()->Name()));
        edit->SetTop(FEditTop);
        edit->SetTabStop(false);
        edit->SetOnDblClick(TNotifyEvent(this, &TForm1::Edit99DblClick));
        FEditTop += edit->Height();
        edit->SetTag(PerFontTag);
        ShowProgress(i, n);
    }
}

std::vector<TEdit*> TForm1::Editfields() const {
    std::vector<TEdit*> r;
    r.reserve(size_t(ComponentCount()));
    for (int i = 0; i < ComponentCount(); ++i) {
        TComponent* c = Components(i);
        if (c->Tag() != PerFontTag) continue; // the cheap test first
        if (auto* e = dynamic_cast<TEdit*>(c)) r.push_back(e);
    }
    return r;
}

void TForm1::RefreshEditfields() {
    // A refresh never runs inside another (showing the splash may let the window system in).
    if (FClosing || FRefreshing) return;
    FRefreshing = true;
    const auto done = qScopeGuard([this] {
        FRefreshing = false;
        Screen->SetCursor(crDefault);
    });

    Screen->SetCursor(crHourGlass);
    ScrollBox1->Hide();
    const int scrollPos = ScrollBox1->VertScrollBar()->Position();
    ScrollBox1->VertScrollBar()->SetPosition(0);
    int k = 0;
    FEditTop = 0;
    if (Form2) {
        Form2->Show();
        Form2->Update();
    }
    // Nothing below lets the user in, so what the fields take is read once.
    const QStringList names = ListBox1->Items()->ToStringList();
    const int n = int(names.size());
    const int size = TrackBar1->Position();
    const int width = ScrollBox1->Width();
    const QString sample = Edit1->Text();
    const TFontStyles wanted = (CheckBox1->Checked() ? TFontStyles(fsBold) : TFontStyles()) |
                               (CheckBox2->Checked() ? TFontStyles(fsItalic) : TFontStyles());
    Screen->PrepareFontLineHeights(names, wanted);
    const std::vector<TEdit*> fields = Editfields();
    const quint64 namesGeneration = ListBox1->Items()->Generation();
    const bool sameSource =
        !FFieldTextNotes.empty() && namesGeneration == FFieldTextNames && sample == FFieldTextSample;
    if (!sameSource) FFieldTextNotes.clear();
    FFieldTextNotes.resize(fields.size());
    FFieldTextSample = sample;
    FFieldTextNames = namesGeneration;
    for (TEdit* edit : fields) {
        if (k >= n) break; // fields and list entries come from the same list
        edit->Font()->SetName(names[k]);
        edit->Font()->SetSize(size);
        TFontStyles style = edit->Font()->Style();
        style.setFlag(fsBold, wanted.testFlag(fsBold));
        style.setFlag(fsItalic, wanted.testFlag(fsItalic));
        edit->Font()->SetStyle(style);
        // Built only when it differs: most refreshes leave every text as it was.
        TFieldTextNote& note = FFieldTextNotes[size_t(k)];
        if (note.field != edit || note.version != edit->TextVersion()) {
            if (!IsFieldText(edit->Text(), sample, edit->Font()->Name()))
                edit->SetText(FieldText(edit->Font()->Name()));
            note = {edit, edit->TextVersion()};
        }
        // Width and top in one step (the text does not depend on either).
        edit->SetBounds(edit->Left(), FEditTop, width, edit->Height());
        FEditTop += edit->Height();
        ++k;
        ShowProgress(k, n);
    }
    if (Form2) Form2->Hide();
    ScrollBox1->VertScrollBar()->SetPosition(scrollPos);
    ScrollBox1->Show();
    WarmTextPage();
}

void TForm1::Button1Click(TObject*) {
    RefreshEditfields();
}

void TForm1::PageControl1Change(TObject*) {
    if (PageControl1->ActivePage() == TabSheet2) RefreshEditfields();
}

void TForm1::Edit99DblClick(TObject* Sender) {
    auto* field = dynamic_cast<TComponent*>(Sender);
    if (!field) return;
    bool ok = false;
    const int n = field->Name().mid(6).toInt(&ok);
    if (!ok || n < 1 || n > ListBox1->Items()->Count()) return;
    ListBox1->SetItemIndex(n - 1);
    const QString face = ListBox1->Items()->Strings(n - 1);
    Memo1->Font()->SetName(face);
    Memo2->Font()->SetName(face);
    // The status bar always names the selected font.
    StatusBar1->Panels()->Items(1)->SetText(face);
    SelectionChanged();
    PageControl1->SetActivePage(TabSheet1);
}

// ---------------------------------------------------------------------------
// Menu, keys, help and language

void TForm1::Beenden1Click(TObject*) {
    Close();
}

void TForm1::Alphabetansehen1Click(TObject*) {
    PageControl1->SetActivePage(TabSheet1);
}

void TForm1::VorgegebenenTextansehen1Click(TObject*) {
    PageControl1->SetActivePage(TabSheet2);
    RefreshEditfields();
}

void TForm1::FontInfo1Click(TObject* Sender) {
    // The window and the check mark flip independently: closing the window
    // with its own button leaves the mark as it is.
    if (Form4) Form4->SetVisible(!Form4->Visible());
    if (auto* item = dynamic_cast<TMenuItem*>(Sender)) item->SetChecked(!item->Checked());
}

void TForm1::English1Click(TObject*) {
    const bool toGerman = Translator1->CurrentLanguage() == English;
    const TLanguage language = toGerman ? German : English;
    Translator1->SetCurrentLanguage(language);
    if (Form2) Form2->Translator1->SetCurrentLanguage(language);
    Application->SetHelpFile(toGerman ? QStringLiteral("glyvex.hlp") : QStringLiteral("glyvexe.hlp"));
}

void TForm1::Inhalt1Click(TObject*) {
    Application->HelpContents();
}

void TForm1::Info1Click(TObject*) {
    if (Form3) Form3->ShowModal();
}

void TForm1::FormKeyDown(TObject*, Word& Key, TShiftState) {
    if (Key == VK_F1) Application->HelpContents();
}

void TForm1::Translator1AfterTranslate(TObject*) {
    // Translation has just set the size label to its table text.
    Label2->SetCaption(QString::number(TrackBar1->Position()));
    if (Translator1->CurrentLanguage() == German) {
        Memo2->Hide();
        Memo1->Show();
        Application->SetHelpFile(QStringLiteral("glyvex.hlp"));
    } else {
        Memo1->Hide();
        Memo2->Show();
        Application->SetHelpFile(QStringLiteral("glyvexe.hlp"));
    }
}
