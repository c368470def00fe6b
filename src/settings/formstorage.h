#pragma once
// TFormPlacement and TFormStorage: a form's window placement and a chosen
// list of its control properties, kept in one section of a settings file.
//
// Place the storage on a form (the form is its owner), set IniFileName and
// StoredProps, then let the form's loading end (fw::LoadComponents calls
// Loaded): the storage then keeps the form's OnShow, OnCloseQuery and
// OnDestroy handlers, puts its own in their place, and resolves StoredProps
// against the form's components. Handlers the form assigns after that
// replace the storage's, so a form sets its own handlers before loading ends.
//
// - Show: restores (if Active), then calls the form's own OnShow.
// - Close query: calls the form's own handler; if closing is allowed, saves.
// - Destroy: saves with "Visible" = 1 unless a save already ran (or failed)
//   since the last restore, then calls the form's own OnDestroy.
// A failure while restoring or saving from these handlers is shown through
// the application's error report and the form's own handler still runs.
//
// A form that was never shown (no restore ran) is never saved, so design
// values never overwrite the file. A save gathers all its keys and writes
// them in one edit of the file (one read, one replace, under the profile
// service's cross-process lock), so a large file costs one read and one
// write, and another instance's keys in between are kept. When the file
// cannot be written the save fails with "Unable to write to <IniFileName>"
// and the file stays as it was. A value the file cannot hold (a line break)
// is left out and its key keeps what the file had; the other keys are
// written and the save then fails naming that key. Once a save has failed
// since the last restore, the destroy handler does not try again, so the
// user is told once.
//
// Text: values are read with DecodeStoredText and written with
// EncodeStoredText (values.h), so bytes that are not UTF-8 read without loss
// and, written back unchanged, stay as they were; a key whose stored value
// already reads as the new one is not rewritten.
//
// Files: IniFileName goes unchanged to the private-profile service
// (platform/win/profile.h), which keeps bare names in $XDG_CONFIG_HOME/ronvix.
// The profile "file object" is only a name: nothing is held open or locked
// between calls.
//
// UI thread only. The storage must not outlive its form's handlers: it gives
// them back when destroyed before the form, and leaves them alone once the
// form's destruction has started.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/component.h"
#include "framework/events.h"
#include "framework/form.h"
#include "platform/win/profile.h"
#include "settings/placement.h"
#include "settings/propinfo.h"
#include "settings/propsstorage.h"

namespace ronvix::settings {

class TFormPlacement : public fw::TComponent {
    Q_OBJECT
public:
    enum TPlacementOption { fpState = 1, fpPosition = 2, fpActiveControl = 4 };
    Q_DECLARE_FLAGS(TPlacementOptions, TPlacementOption)
    Q_FLAG(TPlacementOptions)
    enum TPlacementRegRoot {
        prCurrentUser,
        prLocalMachine,
        prCurrentConfig,
        prClassesRoot,
        prUsers,
        prDynData
    };
    Q_ENUM(TPlacementRegRoot)

private:
    Q_PROPERTY(bool Active READ Active WRITE SetActive)
    Q_PROPERTY(QString IniFileName READ IniFileNameSetting WRITE SetIniFileName)
    Q_PROPERTY(QString IniSection READ IniSectionSetting WRITE SetIniSection)
    Q_PROPERTY(TPlacementOptions Options READ Options WRITE SetOptions)
    Q_PROPERTY(int Version READ Version WRITE SetVersion)
    Q_PROPERTY(bool UseRegistry READ UseRegistry WRITE SetUseRegistry)
    Q_PROPERTY(TPlacementRegRoot RegistryRoot READ RegistryRoot WRITE SetRegistryRoot)
    Q_PROPERTY(bool PreventResize READ PreventResize WRITE SetPreventResize)

public:
    // Size limits of the window; all zero means none.
    struct TWinMinMaxInfo {
        int MaxPosLeft = 0;
        int MaxPosTop = 0;
        int MaxSizeHeight = 0;
        int MaxSizeWidth = 0;
        int MaxTrackHeight = 0;
        int MaxTrackWidth = 0;
        int MinTrackHeight = 0;
        int MinTrackWidth = 0;
        bool IsDefault() const { return *this == TWinMinMaxInfo{}; }
        bool operator==(const TWinMinMaxInfo&) const = default;
    };

    // `owner` is the form whose state is kept; options default to
    // [fpState, fpPosition] when it is a top-level widget, else none.
    explicit TFormPlacement(QObject* owner = nullptr, const QString& name = {});
    ~TFormPlacement() override;

    bool Active() const { return m_active; }
    void SetActive(bool active) { m_active = active; }
    // The settings as set (empty means the default).
    QString IniFileNameSetting() const { return m_ini_file_name; }
    QString IniSectionSetting() const { return m_ini_section; }
    void SetIniFileName(const QString& name) { m_ini_file_name = name; }
    void SetIniSection(const QString& section) { m_ini_section = section; }
    // The file name in use: the setting, or the program file's name with its
    // extension replaced by ".INI", without folder.
    QString IniFileName() const;
    // The section in use: the setting, or the owner's class name without
    // namespace ("TMainForm").
    QString IniSection() const;
    TPlacementOptions Options() const { return m_options; }
    void SetOptions(TPlacementOptions options) { m_options = options; }
    int Version() const { return m_version; }
    void SetVersion(int version) { m_version = version; }
    // There is no registry on this platform: the settings file is used
    // whatever these say. They are kept so that form data can set them.
    bool UseRegistry() const { return m_use_registry; }
    void SetUseRegistry(bool on) { m_use_registry = on; }
    TPlacementRegRoot RegistryRoot() const { return m_registry_root; }
    void SetRegistryRoot(TPlacementRegRoot root) { m_registry_root = root; }
    // Window size limits, applied as Qt minimum and maximum sizes when the
    // form is shown; PreventResize fixes the size the form has then.
    TWinMinMaxInfo MinMaxInfo() const { return m_min_max; }
    void SetMinMaxInfo(const TWinMinMaxInfo& info) { m_min_max = info; }
    bool PreventResize() const { return m_prevent_resize; }
    void SetPreventResize(bool on) { m_prevent_resize = on; }

    fw::TNotifyEvent OnSavePlacement;
    fw::TNotifyEvent OnRestorePlacement;

    // Run-time state.
    bool Restored() const { return m_restored; }
    bool Saved() const { return m_saved; }
    bool Destroying() const { return m_destroying; }
    bool ProfileOpen() const { return m_profile.has_value(); }

    // Writes everything now, in one edit of the file. Throws when the file
    // cannot be written (after closing the profile) or a value was left out.
    void SaveFormState();
    // Reads and applies everything now.
    void RestoreFormState();

    // Entries of the storage's section. Reads of absent keys or unparsable
    // numbers give the default; writes throw "Unable to write to %s".
    int ReadIntValue(const QString& key, int def);
    void WriteIntValue(const QString& key, int value);
    QString ReadStrValue(const QString& key, const QString& def);
    void WriteStrValue(const QString& key, const QString& value);

    // Any section of the file. ReadEntry gives `def` for an absent key.
    // WriteEntry encloses a text that begins and ends with the same quote
    // character (" or ') in one more pair of double quotes, because the
    // profile service removes one pair when reading.
    QString ReadEntry(const QString& section, const QString& key, const QString& def);
    void WriteEntry(const QString& section, const QString& key, const QString& value);
    void EraseSection(const QString& section);

    // The profile file object: a handle on the name, opened for the length
    // of one operation. Operations that find it open use it and leave it.
    void OpenProfile(bool read_only);
    void CloseProfile();

    void Loaded() override;

protected:
    // The form whose state is kept, or null when the owner is not a
    // top-level widget.
    QWidget* OwnerWindow() const;
    fw::TForm* OwnerForm() const;

    virtual void StoreSettings();
    virtual void LoadSettings();
    void SetRestored() { m_restored = true; }

    // The screen as the rules see it; tests replace it.
    virtual TScreenMetrics Screen() const { return PrimaryScreenMetrics(); }

private:
    struct Hook;
    void HookForm();
    void UnhookForm();
    void FormShow(QObject* sender);
    void FormCloseQuery(QObject* sender, bool& can_close);
    void FormDestroy(QObject* sender);

    void WritePlacement();
    void ReadPlacement();
    void AdjustMaxPosition();
    void ApplySizeLimits();
    void WriteRaw(const QString& section, const QString& key, const QString& value);
    // Queues the change while a save runs, else writes it now.
    void Change(win::ProfileChange change, const QString& key);
    // What the running save queued for a key: nothing when it queued
    // nothing; an empty value when it deleted the key or erased its section.
    std::optional<std::optional<std::string>> Queued(std::string_view section,
                                                     std::string_view key) const;
    bool WriteQueued();
    std::string FileArgument() const;
    [[noreturn]] void ThrowWriteError() const;

    bool m_active = true;
    QString m_ini_file_name;
    QString m_ini_section;
    TPlacementOptions m_options;
    int m_version = 0;
    bool m_use_registry = false;
    TPlacementRegRoot m_registry_root = prCurrentUser;
    TWinMinMaxInfo m_min_max;
    bool m_prevent_resize = false;

    struct Profile {
        std::string file;  // UTF-8, as handed to the profile service
        bool read_only = false;
    };
    std::optional<Profile> m_profile;
    bool m_restored = false;
    bool m_saved = false;
    bool m_destroying = false;
    // A save failed since the last restore (and was reported).
    bool m_save_failed = false;
    // The changes of the running save, and the report of the first key it
    // left out.
    std::optional<std::vector<win::ProfileChange>> m_queue;
    QString m_left_out;

    // The form's own handlers while ours are in their place.
    QPointer<fw::TForm> m_hooked_form;
    bool m_form_going = false;
    fw::TNotifyEvent m_saved_on_show;
    std::function<void(QObject*, bool&)> m_saved_on_close_query;
    fw::TNotifyEvent m_saved_on_destroy;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TFormPlacement::TPlacementOptions)

// A named value kept under its name in the storage's section.
class TStoredValue : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Name READ Name WRITE SetName)
    Q_PROPERTY(QVariant Value READ Value WRITE SetValue)
    Q_PROPERTY(QString KeyString READ KeyString WRITE SetKeyString)
public:
    using QObject::QObject;
    QString Name() const { return m_name; }
    void SetName(const QString& name) { m_name = name; }
    QVariant Value() const { return m_value; }
    void SetValue(const QVariant& value) { m_value = value; }
    QString KeyString() const { return m_key_string; }
    void SetKeyString(const QString& key) { m_key_string = key; }

    // Called before the value is written and after it is read; they may
    // change Value.
    std::function<void(TStoredValue& value)> OnSave;
    std::function<void(TStoredValue& value)> OnRestore;

private:
    QString m_name;
    QVariant m_value;
    QString m_key_string;
};

class TStoredValues : public TCollection {
    Q_OBJECT
public:
    using TCollection::TCollection;
    int Count() const override { return static_cast<int>(m_items.size()); }
    TStoredValue* Value(int index) const { return m_items[index]; }
    QObject* Item(int index) const override { return m_items[index]; }
    TStoredValue* Add() override;
    void Clear() override;
    // The value of that name without regard to case, or null.
    TStoredValue* Find(const QString& name) const;

private:
    QList<TStoredValue*> m_items;  // owned as QObject children
};

class TFormStorage : public TFormPlacement {
    Q_OBJECT
public:
    explicit TFormStorage(QObject* owner = nullptr, const QString& name = {});
    ~TFormStorage() override;

    // "Component.Property" paths, in the order they are written. Setting
    // them after loading has ended resolves them at once.
    QStringList StoredProps() const { return m_props.Paths(); }
    void SetStoredProps(const QStringList& paths);
    TStoredPropList& StoredPropList() { return m_props; }
    TStoredValues* StoredValues() const { return m_values; }

    void Loaded() override;

    // Write or read every stored property now (a read swallows failures).
    void StoreProps();
    void LoadProps();

protected:
    void StoreSettings() override;
    void LoadSettings() override;

private:
    void Resolve();
    void ComponentDestroyed(QObject* component);
    // Sets up a worker with this storage's file operations.
    void Prepare(TPropsStorage& storage);

    TStoredPropList m_props;
    TStoredValues* m_values = nullptr;
};

}  // namespace ronvix::settings
