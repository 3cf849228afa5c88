#include "Placemnt.h"

#include "RXProps.h"
#include "Registry.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScopedValueRollback>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <cstdlib>

// Show commands a stored placement may hold besides those the forms write.
static constexpr unsigned SW_SHOW = 5, SW_MINIMIZE = 6, SW_RESTORE = 9;

// ---------------------------------------------------------------------------
// Default names

static QString ProgramName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

QString DefaultIniName() {
    return ProgramName() + QStringLiteral(".INI");
}

QString DefaultRegKey() {
    return QStringLiteral("Software\\") + ProgramName();
}

static QString ClassName(const QObject* o) {
    return QString::fromLatin1(o->metaObject()->className());
}

QString DefaultSectionName(const TComponent* component) {
    if (!component) return {};
    if (auto* form = dynamic_cast<const TCustomForm*>(component)) return ClassName(form);
    if (auto* control = dynamic_cast<const TControl*>(component)) {
        if (TCustomForm* form = GetParentForm(control)) return ClassName(form) + control->Name();
        if (control->Parent()) return control->Parent()->Name() + control->Name();
        return control->Name();
    }
    if (auto* form = dynamic_cast<const TCustomForm*>(component->Owner()))
        return QStringLiteral("%1.%2").arg(ClassName(form), component->Name());
    return component->Name();
}

// ---------------------------------------------------------------------------
// Store helpers

QString StoreReadString(TObject* store, const QString& section, const QString& ident, const QString& def) {
    if (auto* s = dynamic_cast<TCustomIniFile*>(store)) return s->ReadString(section, ident, def);
    return def;
}

void StoreWriteString(TObject* store, const QString& section, const QString& ident, const QString& value) {
    if (auto* s = dynamic_cast<TCustomIniFile*>(store)) s->WriteString(section, ident, value);
}

int StoreReadInteger(TObject* store, const QString& section, const QString& ident, int def) {
    if (auto* s = dynamic_cast<TCustomIniFile*>(store)) return s->ReadInteger(section, ident, def);
    return def;
}

void StoreWriteInteger(TObject* store, const QString& section, const QString& ident, int value) {
    if (auto* s = dynamic_cast<TCustomIniFile*>(store)) s->WriteInteger(section, ident, value);
}

// ---------------------------------------------------------------------------
// Window placement

static bool IsMainForm(const TCustomForm* form) {
    return Application && Application->MainForm() == form;
}

static QString NormPosText(const TWindowPlacement& wp) {
    return QString::asprintf("%d,%d,%d,%d", wp.normalLeft, wp.normalTop, wp.normalRight, wp.normalBottom);
}

QString NormPosText(TCustomForm* form) {
    return NormPosText(form->GetWindowPlacement());
}

void WriteWindowPlacement(TCustomForm* form, TObject* store, const QString& section) {
    TWindowPlacement wp = form->GetWindowPlacement();
    if (IsMainForm(form) && form->Widget() && form->Widget()->isMinimized()) wp.showCmd = SW_SHOWMINIMIZED;
    if (form->FormStyle() == fsMDIChild && form->WindowState() == wsMinimized) wp.flags |= WPF_SETMINPOSITION;
    StoreWriteInteger(store, section, QStringLiteral("Flags"), int(wp.flags));
    StoreWriteInteger(store, section, QStringLiteral("ShowCmd"), int(wp.showCmd));
    StoreWriteString(store, section, QStringLiteral("MinMaxPos"),
                     QString::asprintf("%d,%d,%d,%d", wp.ptMinPosition.x(), wp.ptMinPosition.y(),
                                       wp.ptMaxPosition.x(), wp.ptMaxPosition.y()));
    StoreWriteString(store, section, QStringLiteral("NormPos"), NormPosText(wp));
}

// Words at blanks and commas; a missing or malformed word takes its default.
static std::vector<int> Words(const QString& text, const std::vector<int>& defaults) {
    static const QRegularExpression separators(QStringLiteral("[ ,]"));
    const QStringList words = text.split(separators, Qt::SkipEmptyParts);
    std::vector<int> r = defaults;
    for (size_t i = 0; i < r.size() && qsizetype(i) < words.size(); ++i) {
        int v = 0;
        if (StrToIntCheck(words[qsizetype(i)], v)) r[i] = v;
    }
    return r;
}

static int GapBetween(const QRect& r, const QRect& s) {
    const int dx = std::max({0, s.left() - r.right(), r.left() - s.right()});
    const int dy = std::max({0, s.top() - r.bottom(), r.top() - s.bottom()});
    return dx + dy;
}

QRect OntoScreen(const QRect& r) {
    const auto screens = QGuiApplication::screens();
    if (screens.isEmpty()) return r;
    for (const QScreen* s : screens)
        if (s->geometry().intersects(r)) return r;
    const QScreen* nearest = screens.front();
    for (const QScreen* s : screens)
        if (GapBetween(r, s->geometry()) < GapBetween(r, nearest->geometry())) nearest = s;
    const QRect area = nearest->availableGeometry();
    const int left = std::max(area.left(), std::min(r.left(), area.left() + area.width() - r.width()));
    const int top = std::max(area.top(), std::min(r.top(), area.top() + area.height() - r.height()));
    return QRect(left, top, r.width(), r.height());
}

QRect WithinScreen(const QRect& r, bool resizable) {
    const auto screens = QGuiApplication::screens();
    if (screens.isEmpty()) return r;
    auto overlap = [&](const QScreen* s) {
        const QRect common = s->geometry().intersected(r);
        return common.isEmpty() ? 0 : qint64(common.width()) * common.height();
    };
    const QScreen* on = screens.front();
    for (const QScreen* s : screens)
        if (overlap(s) > overlap(on) ||
            (overlap(on) == 0 && GapBetween(r, s->geometry()) < GapBetween(r, on->geometry())))
            on = s;
    const QRect area = on->availableGeometry();
    QSize size = r.size();
    if (resizable) size = size.boundedTo(area.size()).expandedTo(MinimumRestoredSize.boundedTo(area.size()));
    // Wholly inside where it fits; a fixed size larger than the area keeps its top left in it.
    const int left = std::max(area.left(), std::min(r.left(), area.left() + area.width() - size.width()));
    const int top = std::max(area.top(), std::min(r.top(), area.top() + area.height() - size.height()));
    return QRect(QPoint(left, top), size);
}

void ReadWindowPlacement(TCustomForm* form, TObject* store, const QString& section, bool loadState,
                         bool loadPosition) {
    if (!loadState && !loadPosition) return;
    TWindowPlacement wp = form->GetWindowPlacement();
    wp.showCmd = SW_HIDE;
    if (loadPosition) {
        bool found = false;
        wp.flags = unsigned(StoreReadInteger(store, section, QStringLiteral("Flags"), int(wp.flags)));
        const QString minMax = StoreReadString(store, section, QStringLiteral("MinMaxPos"), QString());
        if (!minMax.isEmpty()) {
            found = true;
            const auto w = Words(minMax, {0, 0, 0, 0});
            wp.ptMinPosition = QPoint(w[0], w[1]);
            wp.ptMaxPosition = QPoint(w[2], w[3]);
        }
        const QString norm = StoreReadString(store, section, QStringLiteral("NormPos"), QString());
        if (!norm.isEmpty()) {
            found = true;
            const auto w = Words(norm, {form->Left(), form->Top(), form->Left() + form->Width(),
                                        form->Top() + form->Height()});
            wp.normalLeft = w[0];
            wp.normalTop = w[1];
            wp.normalRight = w[2];
            wp.normalBottom = w[3];
        }
        // Edges beyond any desktop are damage, not a placement (and would overflow below).
        const auto placeable = [](int edge) { return std::abs(qint64(edge)) <= QWIDGETSIZE_MAX; };
        if (found && !(placeable(wp.normalLeft) && placeable(wp.normalTop) && placeable(wp.normalRight) &&
                       placeable(wp.normalBottom)))
            found = false;
        if (found) {
            // A form whose border cannot be dragged keeps its own size.
            const bool resizable = form->BorderStyle() == bsSizeable || form->BorderStyle() == bsSizeToolWin;
            if (!resizable) {
                wp.normalRight = wp.normalLeft + form->Width();
                wp.normalBottom = wp.normalTop + form->Height();
            }
            // An empty or inverted rectangle is no placement.
            if (wp.normalRight > wp.normalLeft && wp.normalBottom > wp.normalTop) {
                // A stored size is only as good as the screen it comes back on.
                const QRect r =
                    WithinScreen(QRect(wp.normalLeft, wp.normalTop, wp.normalRight - wp.normalLeft,
                                       wp.normalBottom - wp.normalTop),
                                 resizable);
                wp.normalLeft = r.left();
                wp.normalTop = r.top();
                wp.normalRight = r.left() + r.width();
                wp.normalBottom = r.top() + r.height();
                form->SetWindowPlacement(wp);
            }
        }
    }
    if (loadState) {
        TWindowState state = wsNormal;
        if (IsMainForm(form) && form->FormStyle() == fsMDIForm) state = wsMaximized;
        wp.showCmd = unsigned(StoreReadInteger(store, section, QStringLiteral("ShowCmd"), 0));
        switch (wp.showCmd) {
        case SW_SHOWNORMAL:
        case SW_SHOW:
        case SW_RESTORE:
            state = wsNormal;
            break;
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
            state = wsMinimized;
            break;
        case SW_SHOWMAXIMIZED:
            state = wsMaximized;
            break;
        default:
            break;
        }
        if (state == wsMinimized && IsMainForm(form)) {
            // The main form minimizes the whole program once it is up.
            form->SetWindowState(wsNormal);
            QTimer::singleShot(0, form, [f = QPointer<TCustomForm>(form)] {
                if (f && f->Widget()) f->Widget()->showMinimized();
            });
            return;
        }
        form->SetWindowState(state);
    }
    form->Repaint();
}

// ---------------------------------------------------------------------------

bool TWinMinMaxInfo::IsDefault() const {
    for (int i = 0; i < 8; ++i)
        if (Value(i) != 0) return false;
    return true;
}

int& TWinMinMaxInfo::Field(int index) {
    switch (index) {
    case 0:
        return FInfo.ptMaxPosition.rx();
    case 1:
        return FInfo.ptMaxPosition.ry();
    case 2:
        return FInfo.ptMaxSize.ry();
    case 3:
        return FInfo.ptMaxSize.rx();
    case 4:
        return FInfo.ptMaxTrackSize.ry();
    case 5:
        return FInfo.ptMaxTrackSize.rx();
    case 6:
        return FInfo.ptMinTrackSize.ry();
    case 7:
        return FInfo.ptMinTrackSize.rx();
    default:
        throw EInvalidOperation(QStringLiteral("Ungültiger Index %1").arg(index));
    }
}

int TWinMinMaxInfo::Value(int index) const {
    return const_cast<TWinMinMaxInfo*>(this)->Field(index);
}

void TWinMinMaxInfo::SetValue(int index, int value) {
    int& f = Field(index);
    if (f == value) return;
    f = value;
    if (FOwner) FOwner->LimitsChanged();
}

void TWinMinMaxInfo::Assign(TPersistent* Source) {
    if (auto* other = qobject_cast<TWinMinMaxInfo*>(Source)) {
        FInfo = other->FInfo;
        if (FOwner) FOwner->LimitsChanged();
        return;
    }
    TPersistent::Assign(Source);
}

// ---------------------------------------------------------------------------

TFormPlacement::TFormPlacement(TComponent* AOwner)
    : TComponent(AOwner), FMinMaxInfo(std::make_unique<TWinMinMaxInfo>(this)) {
    FOptions =
        dynamic_cast<TCustomForm*>(AOwner) ? TPlacementOptions(fpState | fpPosition) : TPlacementOptions();
    FWinHook = new TRxWindowHook(this);
    FWinHook->SetAfterMessage(THookMessageEvent(this, &TFormPlacement::HookedMessage));
}

TFormPlacement::~TFormPlacement() {
    Destroying();
    if (!IsDesigning()) {
        FWinHook->SetWinControl(nullptr);
        if (TCustomForm* form = Form(); form && FHooked) {
            form->SetOnShow(FSaveFormShow);
            form->SetOnCloseQuery(FSaveFormCloseQuery);
            form->SetOnDestroy(FSaveFormDestroy);
        }
    }
}

TCustomForm* TFormPlacement::Form() const {
    return dynamic_cast<TCustomForm*>(Owner());
}

QString TFormPlacement::IniFileName() const {
    if (!FIniFileName.isEmpty() || IsDesigning()) return FIniFileName;
    return FUseRegistry ? DefaultRegKey() : DefaultIniName();
}

QString TFormPlacement::IniSection() const {
    if (!FIniSection.isEmpty() || IsDesigning()) return FIniSection;
    return DefaultSectionName(Owner());
}

void TFormPlacement::Loaded() {
    const bool loading = IsLoading();
    TComponent::Loaded();
    if (IsDesigning() || !loading) return;
    HookFormEvents();
    UpdateHook();
}

void TFormPlacement::HookFormEvents() {
    TCustomForm* form = Form();
    if (!form) return;
    FSaveFormShow = form->OnShow();
    FSaveFormCloseQuery = form->OnCloseQuery();
    FSaveFormDestroy = form->OnDestroy();
    form->SetOnShow(TNotifyEvent(this, &TFormPlacement::FormShow));
    form->SetOnCloseQuery(TCloseQueryEvent(this, &TFormPlacement::FormCloseQuery));
    form->SetOnDestroy(TNotifyEvent(this, &TFormPlacement::FormDestroy));
    FHooked = true;
    FMaximizeAllowed = form->BorderIcons().testFlag(biMaximize);
    if (FPreventResize) ApplyPreventResize();
}

namespace {

// Runs a step once, when the watched widget is next shown (the form placed by then).
class TShowWatch : public QObject {
public:
    explicit TShowWatch(std::function<void()> step) : FStep(std::move(step)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            watched->removeEventFilter(this);
            Guard(FStep);
        }
        return false;
    }

private:
    std::function<void()> FStep;
};

} // namespace

void TFormPlacement::FormShow(TObject* Sender) {
    FPlacedNormPos.clear();
    if (FActive) {
        try {
            RestoreFromStore();
        } catch (...) {
            ReportException(std::current_exception());
        }
    }
    FSaveFormShow(Sender);
    // Where the form then stands is its design's doing (centred, say), not a change.
    if (TCustomForm* form = Form(); form && form->Widget() && FRestoredAsStored) {
        if (!FShowWatch) FShowWatch = std::make_unique<TShowWatch>([this] { NotePlacement(); });
        form->Widget()->installEventFilter(FShowWatch.get());
    }
}

void TFormPlacement::NotePlacement() {
    if (TCustomForm* form = Form(); form && FRestoredAsStored) FPlacedNormPos = NormPosText(form);
}

void TFormPlacement::FormCloseQuery(TObject* Sender, bool& CanClose) {
    FSaveFormCloseQuery(Sender, CanClose);
    TCustomForm* form = Form();
    if (CanClose && FActive && form && form->HandleAllocated()) {
        try {
            SaveToStore();
        } catch (...) {
            ReportException(std::current_exception());
        }
    }
}

void TFormPlacement::FormDestroy(TObject* Sender) {
    SaveOnDestroy();
    FSaveFormDestroy(Sender);
}

void TFormPlacement::BeforeDestruction() {
    TComponent::BeforeDestruction();
    // Deleting the keeper alone saves nothing; only the form's end does.
    if (TCustomForm* form = Form(); FHooked && form && form->IsDestroying()) SaveOnDestroy();
}

void TFormPlacement::SaveOnDestroy() {
    if (FDestroySaveDone) return;
    FDestroySaveDone = true;
    if (FActive && !FSaved) {
        FSavingOnDestroy = true;
        try {
            SaveToStore();
        } catch (...) {
            ReportException(std::current_exception());
        }
        FSavingOnDestroy = false;
    }
}

std::unique_ptr<TCustomIniFile> TFormPlacement::OpenStore() const {
    if (FUseRegistry) return std::make_unique<TRegIniFile>(IniFileName());
    return std::make_unique<TIniFile>(IniFileName());
}

template <class F> void TFormPlacement::WithStore(TStoreFile::TLockWait wait, F step) {
    std::unique_ptr<TCustomIniFile> store = OpenStore();
    store->SetBaseline(&FBaseline);
    FStore = store.get();
    try {
        step();
    } catch (...) {
        FStore = nullptr;
        // What was written before the failure is kept, as the registry would.
        try {
            store->UpdateFile(wait);
        } catch (...) {
        }
        throw;
    }
    FStore = nullptr;
    store->UpdateFile(wait);
}

void TFormPlacement::SaveToStore() {
    // A form never shown keeps what is stored.
    if (!FRestored && FActive) return;
    WithStore(TStoreFile::TLockWait::Limited, [&] { SaveValues(); });
    // Told only once the values are in the file.
    DoSaved();
    FSaved = true;
}

void TFormPlacement::RestoreFromStore() {
    FSaved = false;
    FBaseline.clear();
    FRestoredAsStored = false;
    // A restore writes only what opening the store makes (its base key), which the next
    // save makes as well: a lock another program holds is no reason to keep a form
    // from showing.
    WithStore(TStoreFile::TLockWait::None, [&] {
        RestoreValues();
        FRestored = true;
        DoRestored();
        TCustomForm* form = Form();
        if (form && FOptions.testFlag(fpActiveControl)) {
            const QString name =
                StoreReadString(FStore, IniSection(), QStringLiteral("ActiveControl"), QString());
            auto* control = dynamic_cast<TWinControl*>(form->FindComponent(name));
            bool canFocus = control != nullptr;
            for (const TControl* c = control; c && canFocus; c = c->Parent())
                canFocus = c->Visible() && c->Enabled();
            if (canFocus) form->SetActiveControl(control);
        }
    });
    ResetMaxPosition();
}

void TFormPlacement::SaveValues() {
    TCustomForm* form = Form();
    if (!form) return;
    const QString section = IniSection();
    if (auto* store = dynamic_cast<TCustomIniFile*>(FStore);
        store && !FPlacedNormPos.isEmpty() && NormPosText(form) == FPlacedNormPos)
        store->NoteUnchanged(section, QStringLiteral("NormPos"), FPlacedNormPos);
    WriteWindowPlacement(form, FStore, section);
    if (FOptions.testFlag(fpActiveControl))
        if (TWinControl* active = form->ActiveControl())
            StoreWriteString(FStore, section, QStringLiteral("ActiveControl"), active->Name());
    StoreWriteString(FStore, section, QStringLiteral("Visible"),
                     FSavingOnDestroy ? QStringLiteral("1") : QStringLiteral("0"));
}

void TFormPlacement::RestoreValues() {
    TCustomForm* form = Form();
    if (!form) return;
    ReadWindowPlacement(form, FStore, IniSection(), FOptions.testFlag(fpState),
                        FOptions.testFlag(fpPosition));
    // Nothing stored, or the stored rectangle taken as it was (not bounded, not repaired).
    const QString stored = StoreReadString(FStore, IniSection(), QStringLiteral("NormPos"), QString());
    FRestoredAsStored = stored.isEmpty() || stored == NormPosText(form);
}

void TFormPlacement::DoSaved() {
    FOnSavePlacement(this);
}

void TFormPlacement::DoRestored() {
    FOnRestorePlacement(this);
}

void TFormPlacement::ResetMaxPosition() {
    TCustomForm* form = Form();
    if (!form || !form->HandleAllocated() || IsLoading() || FPreventResize || !FMinMaxInfo->IsDefault())
        return;
    TWindowPlacement wp = form->GetWindowPlacement();
    if (!form->Widget()->isVisible()) wp.showCmd = SW_HIDE;
    QPoint m;
    switch (form->BorderStyle()) {
    case bsSingle:
    case bsToolWindow:
        m = QPoint(GetSystemMetrics(SM_CXBORDER), GetSystemMetrics(SM_CYBORDER));
        break;
    case bsSizeable:
    case bsSizeToolWin:
        m = QPoint(GetSystemMetrics(SM_CXFRAME), GetSystemMetrics(SM_CYFRAME));
        break;
    case bsDialog:
        m = QPoint(GetSystemMetrics(SM_CXDLGFRAME), GetSystemMetrics(SM_CYDLGFRAME));
        break;
    case bsNone:
        break;
    }
    wp.ptMaxPosition = -m;
    form->SetWindowPlacement(wp);
}

// ---------------------------------------------------------------------------
// Size limits and resize prevention

void TFormPlacement::SetPreventResize(bool v) {
    if (!Form() || v == FPreventResize) return;
    FPreventResize = v;
    ResetMaxPosition();
    ApplyPreventResize();
}

void TFormPlacement::ApplyPreventResize() {
    TCustomForm* form = Form();
    if (!form || IsDesigning()) return;
    if (FPreventResize) FMaximizeAllowed = form->BorderIcons().testFlag(biMaximize);
    {
        // Changing the icons must not save or restore anything meanwhile.
        const QScopedValueRollback inactive(FActive, false);
        TBorderIcons icons = form->BorderIcons();
        icons.setFlag(biMaximize, !FPreventResize && FMaximizeAllowed && form->BorderStyle() != bsDialog);
        form->SetBorderIcons(icons);
    }
    if (!IsLoading()) UpdateHook();
}

void TFormPlacement::LimitsChanged() {
    ResetMaxPosition();
    if (!IsLoading()) UpdateHook();
}

void TFormPlacement::UpdateHook() {
    TCustomForm* form = Form();
    const bool wanted = form && !IsDesigning() && (FPreventResize || !FMinMaxInfo->IsDefault());
    FWinHook->SetWinControl(wanted ? form : nullptr);
    // The window system takes the limits as they now are.
    if (form && form->HandleAllocated() && !form->IsDestroying()) form->ApplySizeLimits();
}

void TFormPlacement::HookedMessage(TObject*, TMessage& Msg, bool&) {
    TCustomForm* form = Form();
    if (!form) return;
    if (FPreventResize) {
        switch (Msg.Msg) {
        case WM_GETMINMAXINFO: {
            auto* info = reinterpret_cast<TMinMaxInfo*>(Msg.LParam);
            info->ptMinTrackSize = QPoint(form->Width(), form->Height());
            info->ptMaxTrackSize = info->ptMinTrackSize;
            Msg.Result = 1;
            break;
        }
        case WM_NCHITTEST:
            if (Msg.Result >= HTLEFT && Msg.Result <= HTBOTTOMRIGHT) Msg.Result = HTNOWHERE;
            break;
        default:
            break;
        }
        return;
    }
    if (Msg.Msg != WM_GETMINMAXINFO) return;
    auto* info = reinterpret_cast<TMinMaxInfo*>(Msg.LParam);
    if (!FMinMaxInfo->IsDefault()) {
        const TWinMinMaxInfo& l = *FMinMaxInfo;
        auto put = [](int& field, int limit) {
            if (limit != 0) field = limit;
        };
        put(info->ptMinTrackSize.rx(), l.MinTrackWidth());
        put(info->ptMinTrackSize.ry(), l.MinTrackHeight());
        put(info->ptMaxTrackSize.rx(), l.MaxTrackWidth());
        put(info->ptMaxTrackSize.ry(), l.MaxTrackHeight());
        put(info->ptMaxSize.rx(), l.MaxSizeWidth());
        put(info->ptMaxSize.ry(), l.MaxSizeHeight());
        put(info->ptMaxPosition.rx(), l.MaxPosLeft());
        put(info->ptMaxPosition.ry(), l.MaxPosTop());
    } else {
        info->ptMaxPosition = QPoint(0, 0);
    }
    Msg.Result = 1;
}

// ---------------------------------------------------------------------------

TFormStorage::TFormStorage(TComponent* AOwner)
    : TFormPlacement(AOwner), FStoredProps(std::make_unique<TStringList>()) {}

TFormStorage::~TFormStorage() {
    Destroying();
}

void TFormStorage::SetStoredProps(TStrings* value) {
    FStoredProps->Assign(value);
    WatchStoredComponents();
}

void TFormStorage::WatchStoredComponents() {
    for (int i = 0; i < FStoredProps->Count(); ++i)
        if (auto* c = qobject_cast<TComponent*>(FStoredProps->Objects(i))) c->FreeNotification(this);
}

void TFormStorage::PrepareForWriting() {
    BindStoredList(Owner(), FStoredProps.get(), false);
}

void TFormStorage::Loaded() {
    const bool loading = IsLoading();
    TFormPlacement::Loaded();
    if (IsDesigning() || !loading) return;
    BindStoredList(Owner(), FStoredProps.get(), true);
    WatchStoredComponents();
}

void TFormStorage::Notification(TComponent* AComponent, TOperation operation) {
    TFormPlacement::Notification(AComponent, operation);
    if (operation != TOperation::opRemove || IsDestroying() || !AComponent || !FStoredProps) return;
    for (int i = FStoredProps->Count() - 1; i >= 0; --i)
        if (FStoredProps->Objects(i) == AComponent) FStoredProps->Delete(i);
}

void TFormStorage::SaveValues() {
    TFormPlacement::SaveValues();
    TCustomIniFile* store = Store();
    TPropsStorage props;
    props.Section = IniSection();
    props.OnWriteString = [store](const QString& s, const QString& i, const QString& v) {
        StoreWriteString(store, s, i, v);
    };
    props.OnEraseSection = [store](const QString& s) {
        if (store) store->EraseSection(s);
    };
    props.SaveStoredProps(Owner(), FStoredProps.get());
}

void TFormStorage::RestoreValues() {
    TFormPlacement::RestoreValues();
    FRestored = true;
    try {
        TCustomIniFile* store = Store();
        TPropsStorage props;
        props.Section = IniSection();
        props.OnReadString = [store](const QString& s, const QString& i, const QString& d) {
            return StoreReadString(store, s, i, d);
        };
        props.LoadStoredProps(Owner(), FStoredProps.get());
    } catch (...) {
        // Stored properties that cannot be loaded keep their values.
    }
}
