// Remembering a form between runs.
//
// TFormPlacement, placed on a form, restores the form's window placement from a
// store each time the form is shown and saves it when the form may close or is
// destroyed; TFormStorage also keeps the component properties its StoredProps
// list names. The store is the per-user registry (UseRegistry) or an INI file.
// Both also carry the form's size limits and can keep it from being resized,
// through a window hook that is attached only while either is in use.
#pragma once

#include "Forms.h"
#include "IniFiles.h"
#include "RxHook.h"

#include <memory>

namespace Placemnt {
Q_NAMESPACE
enum TPlacementOption { fpState = 1, fpPosition = 2, fpActiveControl = 4 };
Q_DECLARE_FLAGS(TPlacementOptions, TPlacementOption)
Q_FLAG_NS(TPlacementOptions)
} // namespace Placemnt
Q_DECLARE_OPERATORS_FOR_FLAGS(Placemnt::TPlacementOptions)

using Placemnt::fpActiveControl;
using Placemnt::fpPosition;
using Placemnt::fpState;
using Placemnt::TPlacementOption;
using Placemnt::TPlacementOptions;

class TFormPlacement;

// Size limits of a form: the fields of the size-limit query's record; 0 sets no limit.
class TWinMinMaxInfo : public TPersistent {
    Q_OBJECT
    Q_PROPERTY(int MaxPosLeft READ MaxPosLeft WRITE SetMaxPosLeft)
    Q_PROPERTY(int MaxPosTop READ MaxPosTop WRITE SetMaxPosTop)
    Q_PROPERTY(int MaxSizeHeight READ MaxSizeHeight WRITE SetMaxSizeHeight)
    Q_PROPERTY(int MaxSizeWidth READ MaxSizeWidth WRITE SetMaxSizeWidth)
    Q_PROPERTY(int MaxTrackHeight READ MaxTrackHeight WRITE SetMaxTrackHeight)
    Q_PROPERTY(int MaxTrackWidth READ MaxTrackWidth WRITE SetMaxTrackWidth)
    Q_PROPERTY(int MinTrackHeight READ MinTrackHeight WRITE SetMinTrackHeight)
    Q_PROPERTY(int MinTrackWidth READ MinTrackWidth WRITE SetMinTrackWidth)
public:
    explicit TWinMinMaxInfo(TFormPlacement* owner = nullptr) : FOwner(owner) {}

    // Index 0 to 7 in the order of the properties above.
    int Value(int index) const;
    void SetValue(int index, int value);
    int MaxPosLeft() const { return Value(0); }
    void SetMaxPosLeft(int v) { SetValue(0, v); }
    int MaxPosTop() const { return Value(1); }
    void SetMaxPosTop(int v) { SetValue(1, v); }
    int MaxSizeHeight() const { return Value(2); }
    void SetMaxSizeHeight(int v) { SetValue(2, v); }
    int MaxSizeWidth() const { return Value(3); }
    void SetMaxSizeWidth(int v) { SetValue(3, v); }
    int MaxTrackHeight() const { return Value(4); }
    void SetMaxTrackHeight(int v) { SetValue(4, v); }
    int MaxTrackWidth() const { return Value(5); }
    void SetMaxTrackWidth(int v) { SetValue(5, v); }
    int MinTrackHeight() const { return Value(6); }
    void SetMinTrackHeight(int v) { SetValue(6, v); }
    int MinTrackWidth() const { return Value(7); }
    void SetMinTrackWidth(int v) { SetValue(7, v); }

    const TMinMaxInfo& Info() const { return FInfo; }
    bool IsDefault() const;
    void Assign(TPersistent* Source) override;

private:
    int& Field(int index);
    TFormPlacement* FOwner;
    TMinMaxInfo FInfo;
};

class TFormPlacement : public TComponent {
    Q_OBJECT
    Q_PROPERTY(bool Active READ Active WRITE SetActive)
    Q_PROPERTY(QString IniFileName READ IniFileName WRITE SetIniFileName)
    Q_PROPERTY(QString IniSection READ IniSection WRITE SetIniSection)
    Q_PROPERTY(TWinMinMaxInfo* MinMaxInfo READ MinMaxInfo WRITE SetMinMaxInfo)
    Q_PROPERTY(Placemnt::TPlacementOptions Options READ Options WRITE SetOptions)
    Q_PROPERTY(bool PreventResize READ PreventResize WRITE SetPreventResize)
    Q_PROPERTY(bool UseRegistry READ UseRegistry WRITE SetUseRegistry)
    Q_PROPERTY(TNotifyEvent OnSavePlacement READ OnSavePlacement WRITE SetOnSavePlacement)
    Q_PROPERTY(TNotifyEvent OnRestorePlacement READ OnRestorePlacement WRITE SetOnRestorePlacement)
public:
    explicit TFormPlacement(TComponent* AOwner);
    ~TFormPlacement() override;

    bool Active() const { return FActive; }
    void SetActive(bool v) { FActive = v; }
    // Empty means the default: DefaultRegKey with the registry, else DefaultIniName.
    QString IniFileName() const;
    void SetIniFileName(const QString& v) { FIniFileName = v; }
    // Empty means DefaultSectionName of the owner.
    QString IniSection() const;
    void SetIniSection(const QString& v) { FIniSection = v; }
    TWinMinMaxInfo* MinMaxInfo() const { return FMinMaxInfo.get(); }
    void SetMinMaxInfo(TWinMinMaxInfo* v) { FMinMaxInfo->Assign(v); }
    TPlacementOptions Options() const { return FOptions; }
    void SetOptions(TPlacementOptions v) { FOptions = v; }
    bool PreventResize() const { return FPreventResize; }
    void SetPreventResize(bool v);
    bool UseRegistry() const { return FUseRegistry; }
    void SetUseRegistry(bool v) { FUseRegistry = v; }
    TNotifyEvent OnSavePlacement() const { return FOnSavePlacement; }
    void SetOnSavePlacement(const TNotifyEvent& e) { FOnSavePlacement = e; }
    TNotifyEvent OnRestorePlacement() const { return FOnRestorePlacement; }
    void SetOnRestorePlacement(const TNotifyEvent& e) { FOnRestorePlacement = e; }

    // Saves now; a form that was never restored (and is Active) keeps what is stored.
    void SaveToStore();
    void RestoreFromStore();
    // Puts the maximized position back to the window system's default for the
    // form's border, unless limits or a fixed size are in use.
    void ResetMaxPosition();

    bool Saved() const { return FSaved; }
    bool Restored() const { return FRestored; }
    bool SavingOnDestroy() const { return FSavingOnDestroy; }
    bool MaximizeAllowed() const { return FMaximizeAllowed; }
    TRxWindowHook* WinHook() const { return FWinHook; }
    // The store of the save or restore under way, else nullptr.
    TCustomIniFile* Store() const { return FStore; }

    void Loaded() override;

protected:
    virtual void SaveValues();
    virtual void RestoreValues();
    virtual void DoSaved();
    virtual void DoRestored();
    TCustomForm* Form() const;
    // A form ended without delete runs no OnDestroy; its keeper saves here all the same.
    void BeforeDestruction() override;

    bool FRestored = false;

private:
    friend class TWinMinMaxInfo;
    void HookFormEvents();
    void FormShow(TObject* Sender);
    void FormCloseQuery(TObject* Sender, bool& CanClose);
    void FormDestroy(TObject* Sender);
    // The save at the form's end, once whichever way the end comes.
    void SaveOnDestroy();
    void HookedMessage(TObject* Sender, TMessage& Msg, bool& Handled);
    void UpdateHook();
    void ApplyPreventResize();
    void LimitsChanged();
    std::unique_ptr<TCustomIniFile> OpenStore() const;
    // Runs step with the store open, closing it afterwards also on failure.
    template <class F> void WithStore(TStoreFile::TLockWait wait, F step);

    bool FActive = true;
    QString FIniFileName, FIniSection;
    std::unique_ptr<TWinMinMaxInfo> FMinMaxInfo;
    TPlacementOptions FOptions;
    bool FPreventResize = false;
    bool FUseRegistry = false;
    bool FSaved = false;
    bool FSavingOnDestroy = false;
    bool FDestroySaveDone = false;
    bool FMaximizeAllowed = true;
    bool FHooked = false;
    TCustomIniFile* FStore = nullptr;
    // What the last restore read: a save writes over another running copy's values
    // only where this form changed them.
    TCustomIniFile::TBaseline FBaseline;
    // The form's placement as its last restore and its design left it (centred, say):
    // while it stands, a save writes it as no change of this copy's, so another
    // copy's newer one stays. Only noted when the restore applied what was stored as
    // it was, or found nothing (a rectangle it had to bound is written back at once).
    void NotePlacement();
    bool FRestoredAsStored = false;
    QString FPlacedNormPos;
    std::unique_ptr<QObject> FShowWatch;
    TRxWindowHook* FWinHook = nullptr; // owned as a component
    TNotifyEvent FOnSavePlacement, FOnRestorePlacement;
    TNotifyEvent FSaveFormShow, FSaveFormDestroy;
    TCloseQueryEvent FSaveFormCloseQuery;
};

class TFormStorage : public TFormPlacement {
    Q_OBJECT
    Q_PROPERTY(TStrings* StoredProps READ StoredProps WRITE SetStoredProps)
public:
    explicit TFormStorage(TComponent* AOwner);
    ~TFormStorage() override;

    // "Component.Property" lines; once bound, each line carries its component.
    TStrings* StoredProps() const { return FStoredProps.get(); }
    void SetStoredProps(TStrings* value);
    // Before the form's definition is written: lines follow their components' current names.
    void PrepareForWriting();

    void Loaded() override;

protected:
    void SaveValues() override;
    void RestoreValues() override;
    void Notification(TComponent* AComponent, TOperation operation) override;

private:
    void WatchStoredComponents();
    std::unique_ptr<TStringList> FStoredProps;
};

// The placement helpers. A store argument that is not a store counts as none:
// reads give the default and writes do nothing.
QString StoreReadString(TObject* store, const QString& section, const QString& ident, const QString& def);
void StoreWriteString(TObject* store, const QString& section, const QString& ident, const QString& value);
int StoreReadInteger(TObject* store, const QString& section, const QString& ident, int def);
void StoreWriteInteger(TObject* store, const QString& section, const QString& ident, int value);
void WriteWindowPlacement(TCustomForm* form, TObject* store, const QString& section);
void ReadWindowPlacement(TCustomForm* form, TObject* store, const QString& section, bool loadState,
                         bool loadPosition);
QString DefaultSectionName(const TComponent* component);
QString DefaultIniName();
QString DefaultRegKey();
// A rectangle that lies wholly off every screen, moved onto the nearest one
// (keeping its size); any other rectangle as it is.
QRect OntoScreen(const QRect& r);
// A restored window's rectangle brought wholly within the available area of the
// screen it lands on (the one holding most of it, else the nearest), so its title
// bar can be reached: a resizable one also no larger than that area and no smaller
// than a usable minimum (MinimumRestoredSize, or the area where that is smaller).
QRect WithinScreen(const QRect& r, bool resizable);
inline constexpr QSize MinimumRestoredSize(320, 240);
// The "NormPos" text of the form's placement as it stands.
QString NormPosText(TCustomForm* form);
