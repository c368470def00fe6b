#include "settings/formstorage.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMetaObject>
#include <QWidget>

#include "framework/application.h"
#include "framework/exceptions.h"
#include "framework/strings.h"
#include "platform/win/profile.h"
#include "platform/win/profile_document.h"
#include "settings/values.h"

namespace ronvix::settings {

namespace {

const QString kFormVersion = QStringLiteral("FormVersion");
const QString kFlags = QStringLiteral("Flags");
const QString kShowCmd = QStringLiteral("ShowCmd");
const QString kPixelsPerInch = QStringLiteral("PixelsPerInch");
const QString kMinMaxPos = QStringLiteral("MinMaxPos");
const QString kNormPos = QStringLiteral("NormPos");
const QString kVisible = QStringLiteral("Visible");
const QString kActiveControl = QStringLiteral("ActiveControl");

// True when `window` counts as the application's main window for the
// state rules: it is, or the application has none (yet).
bool IsApplicationMainWindow(const QWidget* window) {
    auto* app = fw::TApplication::Instance();
    const fw::TForm* main = app ? app->MainForm() : nullptr;
    return !main || main == window;
}

// Runs `f` at scope exit.
template <class F>
struct AtExit {
    F f;
    ~AtExit() { f(); }
};
template <class F>
AtExit(F) -> AtExit<F>;

}  // namespace

// Our handlers in the form's event slots. The type lets UnhookForm tell
// them apart from handlers the form assigned afterwards.
struct TFormPlacement::Hook {
    enum Which { kShow, kDestroy };
    TFormPlacement* self;
    Which which;
    void operator()(QObject* sender) const {
        if (which == kShow)
            self->FormShow(sender);
        else
            self->FormDestroy(sender);
    }
    void operator()(QObject* sender, bool& can_close) const {
        self->FormCloseQuery(sender, can_close);
    }
};

TFormPlacement::TFormPlacement(QObject* owner, const QString& name) : fw::TComponent(owner, name) {
    if (auto* w = qobject_cast<QWidget*>(owner); w && w->isWindow())
        m_options = fpState | fpPosition;
}

TFormPlacement::~TFormPlacement() {
    CloseProfile();
    UnhookForm();
}

QWidget* TFormPlacement::OwnerWindow() const {
    auto* w = qobject_cast<QWidget*>(parent());
    return w && w->isWindow() ? w : nullptr;
}

fw::TForm* TFormPlacement::OwnerForm() const {
    return qobject_cast<fw::TForm*>(parent());
}

QString TFormPlacement::IniFileName() const {
    if (!m_ini_file_name.isEmpty())
        return m_ini_file_name;
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() +
           QStringLiteral(".INI");
}

QString TFormPlacement::IniSection() const {
    if (!m_ini_section.isEmpty())
        return m_ini_section;
    if (!parent())
        return {};
    const QString cls = QString::fromLatin1(parent()->metaObject()->className());
    return cls.mid(cls.lastIndexOf(u':') + 1);
}

void TFormPlacement::OpenProfile(bool read_only) {
    m_profile = Profile{fw::Utf8(IniFileName()), read_only};
}

void TFormPlacement::CloseProfile() {
    m_profile.reset();
}

std::string TFormPlacement::FileArgument() const {
    return m_profile ? m_profile->file : fw::Utf8(IniFileName());
}

std::optional<std::optional<std::string>> TFormPlacement::Queued(std::string_view section,
                                                                 std::string_view key) const {
    if (!m_queue)
        return std::nullopt;
    for (auto it = m_queue->rbegin(); it != m_queue->rend(); ++it) {
        if (!win::ProfileDocument::SameName(it->section, section))
            continue;
        if (!it->key)
            return std::optional<std::string>();
        if (!win::ProfileDocument::SameName(*it->key, key))
            continue;
        if (!it->value)
            return std::optional<std::string>();
        return std::optional<std::string>(win::ProfileDocument::ReadBack(*it->value));
    }
    return std::nullopt;
}

QString TFormPlacement::ReadEntry(const QString& section, const QString& key, const QString& def) {
    const std::string s = EncodeStoredText(section);
    const std::string k = EncodeStoredText(key);
    // A read during a save sees what the save has queued.
    if (auto queued = Queued(s, k))
        return *queued ? DecodeStoredText(**queued) : def;
    // Read in full through the service: the platform's fixed-size read
    // buffer would cut long values (file names may reach 4095 bytes).
    auto value = win::CurrentProfileService().Read(FileArgument(), s, k);
    return value ? DecodeStoredText(*value) : def;
}

void TFormPlacement::Change(win::ProfileChange change, const QString& key) {
    using win::ProfileDocument;
    const bool name_valid = ProfileDocument::ValidSection(change.section) &&
                            (!change.key || ProfileDocument::ValidKey(*change.key));
    if (!name_valid || (change.value && !ProfileDocument::ValidValue(*change.value))) {
        const QString why = name_valid ? QStringLiteral(
                                             "its value holds a line break, which a settings "
                                             "file cannot keep")
                                       : QStringLiteral("a settings file cannot keep that name");
        const QString message =
            QStringLiteral("Unable to write %1 to %2: %3").arg(key, IniFileName(), why);
        // Left out, so that the rest of a save still reaches the file.
        if (!m_queue)
            throw fw::Exception(message);
        if (m_left_out.isEmpty())
            m_left_out = message;
        return;
    }
    if (m_queue) {
        m_queue->push_back(std::move(change));
        return;
    }
    if (!win::CurrentProfileService().Apply(FileArgument(), std::span(&change, 1)))
        ThrowWriteError();
}

void TFormPlacement::WriteRaw(const QString& section, const QString& key, const QString& value) {
    Change({EncodeStoredText(section), EncodeStoredText(key), EncodeStoredText(value)}, key);
}

bool TFormPlacement::WriteQueued() {
    std::vector<win::ProfileChange> changes = std::move(*m_queue);
    m_queue->clear();
    return changes.empty() || win::CurrentProfileService().Apply(FileArgument(), changes);
}

void TFormPlacement::ThrowWriteError() const {
    throw fw::Exception(QStringLiteral("Unable to write to %1").arg(IniFileName()));
}

void TFormPlacement::WriteEntry(const QString& section, const QString& key, const QString& value) {
    const bool quoted = value.size() >= 2 && ((value.front() == u'"' && value.back() == u'"') ||
                                              (value.front() == u'\'' && value.back() == u'\''));
    WriteRaw(section, key, quoted ? u'"' + value + u'"' : value);
}

void TFormPlacement::EraseSection(const QString& section) {
    Change({EncodeStoredText(section), std::nullopt, std::nullopt}, section);
}

int TFormPlacement::ReadIntValue(const QString& key, int def) {
    const auto v = ParseInteger(ReadEntry(IniSection(), key, QString()).trimmed());
    if (!v || *v < std::numeric_limits<int>::min() || *v > std::numeric_limits<int>::max())
        return def;
    return static_cast<int>(*v);
}

void TFormPlacement::WriteIntValue(const QString& key, int value) {
    WriteRaw(IniSection(), key, QString::number(value));
}

QString TFormPlacement::ReadStrValue(const QString& key, const QString& def) {
    return ReadEntry(IniSection(), key, def);
}

void TFormPlacement::WriteStrValue(const QString& key, const QString& value) {
    WriteEntry(IniSection(), key, value);
}

void TFormPlacement::Loaded() {
    const bool was_loading = IsLoading();
    fw::TComponent::Loaded();
    if (was_loading)
        HookForm();
}

void TFormPlacement::HookForm() {
    fw::TForm* form = OwnerForm();
    if (!form || m_hooked_form)
        return;
    m_hooked_form = form;
    m_saved_on_show = std::move(form->OnShow);
    m_saved_on_close_query = std::move(form->OnCloseQuery);
    m_saved_on_destroy = std::move(form->OnDestroy);
    form->OnShow = Hook{this, Hook::kShow};
    form->OnCloseQuery = Hook{this, Hook::kShow};
    form->OnDestroy = Hook{this, Hook::kDestroy};
}

void TFormPlacement::UnhookForm() {
    // Once the form's destruction has begun its handlers are no longer ours
    // to touch. While its QWidget base deletes its children the form no
    // longer casts to a TForm, which catches the case where our destroy
    // handler was replaced and never ran.
    if (m_form_going || !m_hooked_form)
        return;
    fw::TForm* form = qobject_cast<fw::TForm*>(static_cast<QObject*>(m_hooked_form.data()));
    if (!form)
        return;
    auto ours = [this](const auto& slot) {
        const Hook* h = slot.template target<Hook>();
        return h && h->self == this;
    };
    if (ours(form->OnShow))
        form->OnShow = std::move(m_saved_on_show);
    if (ours(form->OnCloseQuery))
        form->OnCloseQuery = std::move(m_saved_on_close_query);
    if (ours(form->OnDestroy))
        form->OnDestroy = std::move(m_saved_on_destroy);
    m_hooked_form = nullptr;
}

void TFormPlacement::FormShow(QObject* sender) {
    ApplySizeLimits();
    if (m_active)
        fw::SafeCall([&] { RestoreFormState(); });
    fw::Fire(m_saved_on_show, sender);
}

void TFormPlacement::FormCloseQuery(QObject* sender, bool& can_close) {
    fw::Fire(m_saved_on_close_query, sender, can_close);
    if (can_close && m_active && OwnerWindow())
        fw::SafeCall([&] { SaveFormState(); });
}

void TFormPlacement::FormDestroy(QObject* sender) {
    m_form_going = true;
    if (m_active && !m_saved && !m_save_failed) {
        m_destroying = true;
        fw::SafeCall([&] { SaveFormState(); });
        m_destroying = false;
    }
    fw::Fire(m_saved_on_destroy, sender);
}

void TFormPlacement::SaveFormState() {
    if (!m_restored && m_active)
        return;
    const bool opened = !m_profile;
    if (opened)
        OpenProfile(false);
    AtExit close{[&] {
        if (opened)
            CloseProfile();
    }};
    // The keys are queued and written in one edit at the end; a save that
    // runs inside another (from OnSavePlacement) joins it.
    const bool outermost = !m_queue;
    if (outermost) {
        m_queue.emplace();
        m_left_out.clear();
    }
    AtExit drop{[&] {
        if (outermost)
            m_queue.reset();
    }};
    try {
        WriteIntValue(kFormVersion, m_version);
        StoreSettings();
        fw::Fire(OnSavePlacement, this);
    } catch (...) {
        m_save_failed = true;
        // The keys gathered before the step that failed are still written,
        // as they were when each key went to the file as it came.
        if (outermost)
            WriteQueued();
        throw;
    }
    if (!outermost)
        return;
    if (!WriteQueued()) {
        m_save_failed = true;
        ThrowWriteError();
    }
    m_saved = true;
    if (!m_left_out.isEmpty()) {
        m_save_failed = true;
        throw fw::Exception(m_left_out);
    }
}

void TFormPlacement::RestoreFormState() {
    m_saved = false;
    m_save_failed = false;
    {
        const bool opened = !m_profile;
        if (opened)
            OpenProfile(true);
        AtExit done{[&] {
            m_restored = true;
            if (opened)
                CloseProfile();
        }};
        if (ReadIntValue(kFormVersion, 0) >= m_version) {
            LoadSettings();
            m_restored = true;
            fw::Fire(OnRestorePlacement, this);
            QWidget* window = OwnerWindow();
            if (window && (m_options & fpActiveControl)) {
                const QString name = ReadEntry(IniSection(), kActiveControl, QString()).trimmed();
                auto* control = qobject_cast<QWidget*>(FindComponentByName(window, name));
                if (control && control->isEnabled() && control->focusPolicy() != Qt::NoFocus)
                    control->setFocus(Qt::OtherFocusReason);
            }
        }
    }
    AdjustMaxPosition();
}

void TFormPlacement::StoreSettings() {
    if (OwnerWindow())
        WritePlacement();
}

void TFormPlacement::LoadSettings() {
    if (OwnerWindow() && (m_options & (fpPosition | fpState)))
        ReadPlacement();
}

void TFormPlacement::WritePlacement() {
    QWidget* window = OwnerWindow();
    const QString section = IniSection();
    if (m_options & (fpState | fpPosition)) {
        const TScreenMetrics screen = Screen();
        const QString suffix = ScreenSizeSuffix(screen.size);
        TWindowPlacement p = GetWindowPlacement(window, screen.work_area.topLeft());
        if (IsApplicationMainWindow(window) && window->isMinimized())
            p.show_cmd = SW_SHOWMINIMIZED;
        WriteRaw(section, kFlags, QString::number(p.flags));
        WriteRaw(section, kShowCmd, QString::number(p.show_cmd));
        WriteRaw(section, kPixelsPerInch, QString::number(screen.pixels_per_inch));
        const QString minmax = PositionsText(p.min_position.x(), p.min_position.y(),
                                             p.max_position.x(), p.max_position.y());
        WriteRaw(section, kMinMaxPos + suffix, minmax);
        WriteRaw(section, kMinMaxPos, minmax);
        const TRectL& r = p.normal_position;
        const QString norm = PositionsText(r.left, r.top, r.right, r.bottom);
        WriteRaw(section, kNormPos + suffix, norm);
        WriteRaw(section, kNormPos, norm);
        WriteRaw(section, kVisible, m_destroying ? QStringLiteral("1") : QStringLiteral("0"));
    }
    if (m_options & fpActiveControl) {
        if (QWidget* focus = window->focusWidget(); focus && !focus->objectName().isEmpty())
            WriteEntry(section, kActiveControl, focus->objectName());
    }
}

void TFormPlacement::ReadPlacement() {
    QWidget* window = OwnerWindow();
    const QString section = IniSection();
    const TScreenMetrics screen = Screen();
    const QPoint origin = screen.work_area.topLeft();
    const QString suffix = ScreenSizeSuffix(screen.size);
    TWindowPlacement p = GetWindowPlacement(window, origin);
    // Applying the record must not show a window that is not shown yet.
    if (!window->isVisible())
        p.show_cmd = SW_HIDE;

    if (m_options & fpPosition) {
        p.flags = ReadIntValue(kFlags, p.flags);
        auto read_positions = [&](const QString& key) {
            QString text = ReadEntry(section, key + suffix, QString()).trimmed();
            if (text.isEmpty())
                text = ReadEntry(section, key, QString()).trimmed();
            return text;
        };
        bool found = false;
        if (const QString text = read_positions(kMinMaxPos); !text.isEmpty()) {
            const auto w = PositionWords(text);
            p.min_position = {w[0].value_or(0), w[1].value_or(0)};
            p.max_position = {w[2].value_or(0), w[3].value_or(0)};
            found = true;
        }
        // The form's current frame rectangle, in workspace coordinates.
        const QPoint at = window->pos() - origin;
        const QSize size = window->frameGeometry().size();
        TRectL& r = p.normal_position;
        if (const QString text = read_positions(kNormPos); !text.isEmpty()) {
            const auto w = PositionWords(text);
            r.left = w[0].value_or(at.x());
            r.top = w[1].value_or(at.y());
            r.right = w[2].value_or(at.x() + size.width());
            r.bottom = w[3].value_or(at.y() + size.height());
            found = true;
        }
        const int ppi = ReadIntValue(kPixelsPerInch, screen.pixels_per_inch);
        if (found && ppi == screen.pixels_per_inch) {
            // A form whose user cannot resize it keeps its designed size; a
            // rectangle on a screen that is gone comes onto the primary one.
            const std::optional<QSize> keep_size =
                IsSizeable(BorderStyleOf(window)) ? std::nullopt : std::optional(size);
            QList<QRect> screens;
            for (const QRect& s : screen.screens)
                screens.push_back(s.translated(-origin));
            if (const auto placed =
                    PlacedNormalRect(r, keep_size, screens, screen.work_area.translated(-origin))) {
                r = *placed;
                const TPosition rule = FormPosition(window);
                if (rule == TPosition::poScreenCenter || rule == TPosition::poDesktopCenter)
                    SetFormPosition(window, TPosition::poDesigned);
                SetWindowPlacement(window, p, origin);
            }
        }
    }

    if (m_options & fpState) {
        const bool app_main = IsApplicationMainWindow(window);
        TWindowState state = app_main && FormPosition(window) == TPosition::poDefault
                                 ? TWindowState::wsMaximized
                                 : TWindowState::wsNormal;
        if (auto stored = StoredWindowState(ReadIntValue(kShowCmd, 0)))
            state = *stored;
        const Qt::WindowStates shape = Qt::WindowMinimized | Qt::WindowMaximized;
        const Qt::WindowStates others = window->windowState() & ~shape;
        if (state == TWindowState::wsMinimized && app_main) {
            // The application minimizes through its main window, once the
            // show that is running has finished.
            window->setWindowState(others);
            QMetaObject::invokeMethod(window, &QWidget::showMinimized, Qt::QueuedConnection);
            return;
        }
        switch (state) {
            case TWindowState::wsNormal:
                window->setWindowState(others);
                break;
            case TWindowState::wsMinimized:
                window->setWindowState(others | Qt::WindowMinimized);
                break;
            case TWindowState::wsMaximized:
                window->setWindowState(others | Qt::WindowMaximized);
                break;
        }
    }
    window->update();
}

void TFormPlacement::AdjustMaxPosition() {
    QWidget* window = OwnerWindow();
    if (m_prevent_resize || !m_min_max.IsDefault() || !window || IsLoading())
        return;
    const QPoint origin = Screen().work_area.topLeft();
    TWindowPlacement p = GetWindowPlacement(window, origin);
    if (!window->isVisible())
        p.show_cmd = SW_HIDE;
    const QPoint max = MaximizedPositionFor(BorderStyleOf(window), FrameMargins(window));
    if (p.max_position == max)
        return;
    p.max_position = max;
    SetWindowPlacement(window, p, origin);
}

void TFormPlacement::ApplySizeLimits() {
    QWidget* window = OwnerWindow();
    if (!window)
        return;
    if (m_prevent_resize) {
        window->setFixedSize(window->size());
        return;
    }
    const TWinMinMaxInfo& m = m_min_max;
    if (m.MinTrackWidth > 0 || m.MinTrackHeight > 0)
        window->setMinimumSize(std::max(m.MinTrackWidth, 0), std::max(m.MinTrackHeight, 0));
    if (m.MaxTrackWidth > 0 || m.MaxTrackHeight > 0)
        window->setMaximumSize(m.MaxTrackWidth > 0 ? m.MaxTrackWidth : QWIDGETSIZE_MAX,
                               m.MaxTrackHeight > 0 ? m.MaxTrackHeight : QWIDGETSIZE_MAX);
}

TStoredValue* TStoredValues::Add() {
    auto* v = new TStoredValue(this);
    m_items.push_back(v);
    NotifyChanged();
    return v;
}

void TStoredValues::Clear() {
    qDeleteAll(m_items);
    m_items.clear();
    NotifyChanged();
}

TStoredValue* TStoredValues::Find(const QString& name) const {
    for (TStoredValue* v : m_items)
        if (SameText(v->Name(), name))
            return v;
    return nullptr;
}

TFormStorage::TFormStorage(QObject* owner, const QString& name)
    : TFormPlacement(owner, name), m_values(new TStoredValues(this)) {}

TFormStorage::~TFormStorage() = default;

void TFormStorage::SetStoredProps(const QStringList& paths) {
    m_props.SetPaths(paths);
    if (!IsLoading())
        Resolve();
}

void TFormStorage::Loaded() {
    const bool was_loading = IsLoading();
    TFormPlacement::Loaded();
    if (was_loading)
        Resolve();
}

void TFormStorage::Resolve() {
    QObject* form = parent();
    if (!form)
        return;
    ResolveStoredProps(form, m_props, true);
    // An entry follows its component: when the component goes, so does the
    // entry.
    for (int i = 0; i < m_props.Count(); ++i)
        if (QObject* c = m_props.Component(i))
            connect(c, &QObject::destroyed, this, &TFormStorage::ComponentDestroyed,
                    Qt::UniqueConnection);
}

void TFormStorage::ComponentDestroyed(QObject* component) {
    m_props.RemoveComponent(component);
}

void TFormStorage::Prepare(TPropsStorage& storage) {
    storage.SetSection(IniSection());
    storage.OnReadString = [this](const QString& s, const QString& k, const QString& d) {
        return ReadEntry(s, k, d);
    };
    storage.OnWriteString = [this](const QString& s, const QString& k, const QString& v) {
        WriteEntry(s, k, v);
    };
    storage.OnEraseSection = [this](const QString& s) { EraseSection(s); };
}

void TFormStorage::StoreProps() {
    TPropsStorage storage;
    Prepare(storage);
    storage.StorePropertyList(parent(), m_props);
}

void TFormStorage::LoadProps() {
    try {
        TPropsStorage storage;
        Prepare(storage);
        storage.LoadPropertyList(parent(), m_props);
    } catch (...) {
        // Restoring never fails the show: what could not be read keeps the
        // form's designed values.
    }
}

void TFormStorage::StoreSettings() {
    TFormPlacement::StoreSettings();
    StoreProps();
    for (int i = 0; i < m_values->Count(); ++i) {
        TStoredValue* v = m_values->Value(i);
        fw::Fire(v->OnSave, *v);
        WriteStrValue(v->Name(), v->Value().toString());
    }
}

void TFormStorage::LoadSettings() {
    TFormPlacement::LoadSettings();
    SetRestored();
    LoadProps();
    for (int i = 0; i < m_values->Count(); ++i) {
        TStoredValue* v = m_values->Value(i);
        v->SetValue(ReadStrValue(v->Name(), v->Value().toString()));
        fw::Fire(v->OnRestore, *v);
    }
}

}  // namespace ronvix::settings
