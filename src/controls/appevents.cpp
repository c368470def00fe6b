#include "controls/appevents.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPalette>
#include <QProxyStyle>
#include <QStatusTipEvent>
#include <QStyleFactory>
#include <QToolTip>
#include <QWidget>
#include <algorithm>

#include "framework/application.h"

namespace ronvix::controls {
namespace {

// The application's settings that Qt has no place for live as dynamic
// properties of the application object under these names, so that every
// part of the program reads the same values.
constexpr char kHintPause[] = "HintPause";
constexpr char kHintShortPause[] = "HintShortPause";
constexpr char kHintHidePause[] = "HintHidePause";
constexpr char kShowHint[] = "ShowHint";
constexpr char kHintShortCuts[] = "HintShortCuts";
constexpr char kShowMainForm[] = "ShowMainForm";
constexpr char kUpdateFormatSettings[] = "UpdateFormatSettings";
constexpr char kUpdateMetricSettings[] = "UpdateMetricSettings";
constexpr char kBiDiMode[] = "BiDiMode";
constexpr char kBiDiKeyboard[] = "BiDiKeyboard";
constexpr char kNonBiDiKeyboard[] = "NonBiDiKeyboard";
constexpr char kMouseDragImmediate[] = "MouseDragImmediate";

template <class T>
T AppValue(const char* name, T fallback) {
    const QVariant v = qApp ? qApp->property(name) : QVariant();
    return v.isValid() ? v.value<T>() : fallback;
}

void SetAppValue(const char* name, const QVariant& value) {
    if (qApp)
        qApp->setProperty(name, value);
}

// The application style with the hint pause taken from the application's
// setting, so that Qt's tooltips wake up after HintPause.
class HintStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == SH_ToolTip_WakeUpDelay && qApp) {
            const QVariant v = qApp->property(kHintPause);
            if (v.isValid())
                return v.toInt();
        }
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

void EnsureHintStyle() {
    if (dynamic_cast<HintStyle*>(QApplication::style()))
        return;
    QApplication::setStyle(new HintStyle(QStyleFactory::create(QApplication::style()->name())));
}

bool IsInputMessage(QEvent::Type t) {
    switch (t) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
            return true;
        default:
            return false;
    }
}

TAppEventList* g_list = nullptr;  // UI thread only

}  // namespace

// ---- TAppEvents ---------------------------------------------------------------

struct TAppEvents::Pending {
    QColor hint_color;
    int hint_pause = 500;
    int hint_short_pause = 50;
    int hint_hide_pause = 2500;
    bool show_hint = true;
    bool hint_shortcuts = true;
    bool show_main_form = true;
    bool update_format_settings = true;
    bool update_metric_settings = true;
    TBiDiMode bidi_mode = bdLeftToRight;
    QString bidi_keyboard;
    QString non_bidi_keyboard;
    bool mouse_drag_immediate = true;
    int mouse_drag_threshold = 5;
};

TAppEvents::TAppEvents(QObject* owner, const QString& name)
    : fw::TComponent(owner, name), m_pending(std::make_unique<Pending>()) {
    m_pending->hint_color = QGuiApplication::palette().color(QPalette::ToolTipBase);
    TAppEventList::Add(this);
}

TAppEvents::~TAppEvents() {
    TAppEventList::Remove(this);
}

void TAppEvents::Loaded() {
    fw::TComponent::Loaded();
    const Pending p = *m_pending;
    SetHintColor(p.hint_color);
    SetHintPause(p.hint_pause);
    SetHintShortPause(p.hint_short_pause);
    SetHintHidePause(p.hint_hide_pause);
    SetShowHint(p.show_hint);
    SetHintShortCuts(p.hint_shortcuts);
    SetShowMainForm(p.show_main_form);
    SetUpdateFormatSettings(p.update_format_settings);
    SetUpdateMetricSettings(p.update_metric_settings);
    SetBiDiMode(p.bidi_mode);
    SetBiDiKeyboard(p.bidi_keyboard);
    SetNonBiDiKeyboard(p.non_bidi_keyboard);
    SetMouseDragImmediate(p.mouse_drag_immediate);
    SetMouseDragThreshold(p.mouse_drag_threshold);
}

QColor TAppEvents::HintColor() const {
    if (IsLoading())
        return m_pending->hint_color;
    return QToolTip::palette().color(QPalette::ToolTipBase);
}

void TAppEvents::SetHintColor(const QColor& c) {
    m_pending->hint_color = c;
    if (IsLoading())
        return;
    QPalette p = QToolTip::palette();
    p.setColor(QPalette::ToolTipBase, c);
    QToolTip::setPalette(p);
}

int TAppEvents::HintPause() const {
    if (IsLoading())
        return m_pending->hint_pause;
    return QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay);
}

void TAppEvents::SetHintPause(int ms) {
    m_pending->hint_pause = ms;
    if (IsLoading())
        return;
    SetAppValue(kHintPause, ms);
    EnsureHintStyle();
}

// The settings below have no Qt counterpart beyond the application's own
// value; the dispatcher and the rest of the program read them from there.
#define RONVIX_APP_SETTING(Type, Getter, Setter, field, key) \
    Type TAppEvents::Getter() const {                        \
        if (IsLoading())                                     \
            return m_pending->field;                         \
        return AppValue<Type>(key, Pending{}.field);         \
    }                                                        \
    void TAppEvents::Setter(Type v) {                        \
        m_pending->field = v;                                \
        if (!IsLoading())                                    \
            SetAppValue(key, QVariant::fromValue(v));        \
    }

RONVIX_APP_SETTING(int, HintShortPause, SetHintShortPause, hint_short_pause, kHintShortPause)
RONVIX_APP_SETTING(int, HintHidePause, SetHintHidePause, hint_hide_pause, kHintHidePause)
RONVIX_APP_SETTING(bool, ShowHint, SetShowHint, show_hint, kShowHint)
RONVIX_APP_SETTING(bool, HintShortCuts, SetHintShortCuts, hint_shortcuts, kHintShortCuts)
RONVIX_APP_SETTING(bool, ShowMainForm, SetShowMainForm, show_main_form, kShowMainForm)
RONVIX_APP_SETTING(bool, UpdateFormatSettings, SetUpdateFormatSettings, update_format_settings,
                   kUpdateFormatSettings)
RONVIX_APP_SETTING(bool, UpdateMetricSettings, SetUpdateMetricSettings, update_metric_settings,
                   kUpdateMetricSettings)
RONVIX_APP_SETTING(bool, MouseDragImmediate, SetMouseDragImmediate, mouse_drag_immediate,
                   kMouseDragImmediate)
#undef RONVIX_APP_SETTING

QString TAppEvents::BiDiKeyboard() const {
    return IsLoading() ? m_pending->bidi_keyboard : AppValue<QString>(kBiDiKeyboard, {});
}

void TAppEvents::SetBiDiKeyboard(const QString& layout) {
    m_pending->bidi_keyboard = layout;
    if (!IsLoading())
        SetAppValue(kBiDiKeyboard, layout);
}

QString TAppEvents::NonBiDiKeyboard() const {
    return IsLoading() ? m_pending->non_bidi_keyboard : AppValue<QString>(kNonBiDiKeyboard, {});
}

void TAppEvents::SetNonBiDiKeyboard(const QString& layout) {
    m_pending->non_bidi_keyboard = layout;
    if (!IsLoading())
        SetAppValue(kNonBiDiKeyboard, layout);
}

TAppEvents::TBiDiMode TAppEvents::BiDiMode() const {
    if (IsLoading())
        return m_pending->bidi_mode;
    // The stored mode refines Qt's layout direction as long as both agree.
    const bool rtl = QGuiApplication::layoutDirection() == Qt::RightToLeft;
    const auto stored = static_cast<TBiDiMode>(AppValue<int>(kBiDiMode, bdLeftToRight));
    if ((stored != bdLeftToRight) == rtl)
        return stored;
    return rtl ? bdRightToLeft : bdLeftToRight;
}

void TAppEvents::SetBiDiMode(TBiDiMode mode) {
    m_pending->bidi_mode = mode;
    if (IsLoading())
        return;
    SetAppValue(kBiDiMode, static_cast<int>(mode));
    QGuiApplication::setLayoutDirection(mode == bdLeftToRight ? Qt::LeftToRight : Qt::RightToLeft);
}

int TAppEvents::MouseDragThreshold() const {
    if (IsLoading())
        return m_pending->mouse_drag_threshold;
    return QApplication::startDragDistance();
}

void TAppEvents::SetMouseDragThreshold(int pixels) {
    m_pending->mouse_drag_threshold = pixels;
    if (!IsLoading())
        QApplication::setStartDragDistance(pixels);
}

// ---- TAppEventList ----------------------------------------------------------

TAppEventList* TAppEventList::Instance() {
    return g_list;
}

TAppEventList::TAppEventList() = default;

TAppEventList::~TAppEventList() {
    if (m_installed)
        Uninstall();
    if (g_list == this)
        g_list = nullptr;
}

std::vector<TAppEvents*> TAppEventList::Instances() const {
    std::vector<TAppEvents*> out;
    for (const auto& p : m_instances)
        if (p)
            out.push_back(p.data());
    return out;
}

void TAppEventList::Add(TAppEvents* events) {
    if (!g_list)
        g_list = new TAppEventList;
    g_list->m_instances.emplace_back(events);
    if (!g_list->m_installed)
        g_list->Install();
}

void TAppEventList::Remove(TAppEvents* events) {
    TAppEventList* list = g_list;
    if (!list)
        return;
    auto& v = list->m_instances;
    v.erase(std::remove_if(v.begin(), v.end(),
                           [events](const QPointer<TAppEvents>& p) {
                               return p.isNull() || p.data() == events;
                           }),
            v.end());
    if (!v.empty())
        return;
    list->Uninstall();
    g_list = nullptr;
    // A handler may be destroying the last instance in the middle of a
    // dispatch; the dispatcher must outlive that dispatch.
    if (list->m_depth > 0)
        list->deleteLater();
    else
        delete list;
}

void TAppEventList::Install() {
    m_installed = true;
    if (fw::TApplication* app = fw::TApplication::Instance()) {
        m_prev_minimize = std::move(app->OnMinimize);
        m_prev_restore = std::move(app->OnRestore);
        m_prev_exception = std::move(app->OnException);
        app->OnMinimize = [this](QObject*) { Minimize(); };
        app->OnRestore = [this](QObject*) { Restore(); };
        app->OnException = [this](QObject* sender, const std::exception& e) {
            Exception(sender, e);
        };
    }
    auto* gui = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!gui)
        return;
    m_active = QGuiApplication::applicationState() == Qt::ApplicationActive;
    m_active_window = QApplication::activeWindow();
    m_connections.push_back(connect(gui, &QGuiApplication::applicationStateChanged, this,
                                    [this](Qt::ApplicationState state) {
                                        const bool active = state == Qt::ApplicationActive;
                                        if (active == m_active)
                                            return;
                                        m_active = active;
                                        fw::SafeCall([&] {
                                            if (active)
                                                Activate();
                                            else
                                                Deactivate();
                                        });
                                    }));
    m_connections.push_back(
        connect(gui, &QApplication::focusChanged, this, [this](QWidget*, QWidget*) {
            fw::SafeCall([this] {
                ActiveControlChange();
                QWidget* window = QApplication::activeWindow();
                if (window != m_active_window) {
                    m_active_window = window;
                    ActiveFormChange();
                }
            });
        }));
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread()))
        m_connections.push_back(
            connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
                // The event loop always waits for the next event here, so
                // what a handler says about being done has no further use.
                bool done = true;
                fw::SafeCall([&] { Idle(done); });
            }));
    gui->installEventFilter(this);
}

void TAppEventList::Uninstall() {
    if (!m_installed)
        return;
    m_installed = false;
    // The application gets back the handlers it had before, so that
    // whatever it did on these events before the first instance still
    // happens after the last one is gone.
    if (fw::TApplication* app = fw::TApplication::Instance()) {
        app->OnMinimize = std::move(m_prev_minimize);
        app->OnRestore = std::move(m_prev_restore);
        app->OnException = std::move(m_prev_exception);
    }
    for (const auto& c : m_connections)
        disconnect(c);
    m_connections.clear();
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

template <class Call>
bool TAppEventList::Visit(Call call, const bool* handled, bool* any_called) {
    ++m_depth;
    struct Leave {
        int& depth;
        ~Leave() { --depth; }
    } leave{m_depth};
    // Handlers may create or destroy instances: visit the list as it was.
    const std::vector<QPointer<TAppEvents>> snapshot = m_instances;
    for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
        TAppEvents* e = it->data();
        if (!e)
            continue;
        if (call(e) && any_called)
            *any_called = true;
        if (handled && *handled)
            return false;
        if (!it->isNull() && !e->Chained())
            return false;
    }
    return true;
}

#define RONVIX_NOTIFY(Method, Event, previous)          \
    void TAppEventList::Method() {                      \
        QObject* sender = QCoreApplication::instance(); \
        const bool all = Visit(                         \
            [sender](TAppEvents* e) {                   \
                if (!e->Event)                          \
                    return false;                       \
                const auto handler = e->Event;          \
                handler(sender);                        \
                return true;                            \
            },                                          \
            nullptr);                                   \
        if (all)                                        \
            fw::Fire(previous, sender);                 \
    }

namespace {
const std::function<void(QObject*)> kNone;
}

RONVIX_NOTIFY(Activate, OnActivate, kNone)
RONVIX_NOTIFY(Deactivate, OnDeactivate, kNone)
RONVIX_NOTIFY(Hint, OnHint, kNone)
RONVIX_NOTIFY(Minimize, OnMinimize, m_prev_minimize)
RONVIX_NOTIFY(Restore, OnRestore, m_prev_restore)
RONVIX_NOTIFY(ActiveControlChange, OnActiveControlChange, kNone)
RONVIX_NOTIFY(ActiveFormChange, OnActiveFormChange, kNone)
#undef RONVIX_NOTIFY

void TAppEventList::Idle(bool& done) {
    QObject* sender = QCoreApplication::instance();
    Visit(
        [&](TAppEvents* e) {
            if (!e->OnIdle)
                return false;
            const auto handler = e->OnIdle;
            handler(sender, done);
            return true;
        },
        nullptr);
}

void TAppEventList::ShowHint(QString& hint, bool& can_show, THintInfo& info) {
    Visit(
        [&](TAppEvents* e) {
            if (!e->OnShowHint)
                return false;
            const auto handler = e->OnShowHint;
            handler(hint, can_show, info);
            return true;
        },
        nullptr);
}

bool TAppEventList::Message(QObject* receiver, QEvent* message) {
    bool handled = false;
    Visit(
        [&](TAppEvents* e) {
            if (!e->OnMessage)
                return false;
            const auto handler = e->OnMessage;
            handler(receiver, message, handled);
            return true;
        },
        &handled);
    return handled;
}

bool TAppEventList::ActionExecute(QAction* action) {
    bool handled = false;
    Visit(
        [&](TAppEvents* e) {
            if (!e->OnActionExecute)
                return false;
            const auto handler = e->OnActionExecute;
            handler(action, handled);
            return true;
        },
        &handled);
    return handled;
}

bool TAppEventList::ActionUpdate(QAction* action) {
    bool handled = false;
    Visit(
        [&](TAppEvents* e) {
            if (!e->OnActionUpdate)
                return false;
            const auto handler = e->OnActionUpdate;
            handler(action, handled);
            return true;
        },
        &handled);
    return handled;
}

bool TAppEventList::ShortCut(QKeyEvent* key) {
    bool handled = false;
    Visit(
        [&](TAppEvents* e) {
            if (!e->OnShortCut)
                return false;
            const auto handler = e->OnShortCut;
            handler(key, handled);
            return true;
        },
        &handled);
    return handled;
}

void TAppEventList::Exception(QObject* sender, const std::exception& error) {
    bool any_called = false;
    const bool all = Visit(
        [&](TAppEvents* e) {
            if (!e->OnException)
                return false;
            const auto handler = e->OnException;
            handler(sender, error);
            return true;
        },
        nullptr, &any_called);
    if (all && m_prev_exception) {
        const auto previous = m_prev_exception;
        previous(sender, error);
        any_called = true;
    }
    if (!any_called)
        fw::ShowException(error);
}

bool TAppEventList::Help(uint16_t command, intptr_t data, bool& call_help) {
    bool result = false;
    Visit(
        [&](TAppEvents* e) {
            if (!e->OnHelp)
                return false;
            const auto handler = e->OnHelp;
            result = handler(command, data, call_help);
            return true;
        },
        nullptr);
    return result;
}

void TAppEventList::SettingsChanged(const QString& section) {
    // Every instance hears about it on its own: one failing handler is
    // reported and does not keep the others from running.
    for (const QPointer<TAppEvents>& p : std::vector<QPointer<TAppEvents>>(m_instances)) {
        if (!p || !p->OnSettingsChanged)
            continue;
        const auto handler = p->OnSettingsChanged;
        TAppEvents* sender = p.data();
        fw::SafeCall([&] { handler(sender, section); });
    }
}

bool TAppEventList::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == QCoreApplication::instance()) {
        if (type == QEvent::ApplicationPaletteChange)
            SettingsChanged(QStringLiteral("Palette"));
        else if (type == QEvent::ApplicationFontChange)
            SettingsChanged(QStringLiteral("Font"));
        else if (type == QEvent::LocaleChange)
            SettingsChanged(QStringLiteral("Locale"));
        return false;
    }
    if (!watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (type == QEvent::ToolTip) {
        if (!AppValue<bool>(kShowHint, true)) {
            QToolTip::hideText();
            return true;
        }
        QString text = widget->toolTip();
        if (text.isEmpty())
            return false;  // Qt passes it on to the parent
        const auto* help = static_cast<QHelpEvent*>(event);
        bool can_show = true;
        THintInfo info{widget, help->globalPos(), AppValue<int>(kHintHidePause, 2500),
                       QToolTip::palette().color(QPalette::ToolTipBase)};
        if (!fw::SafeCall([&] { ShowHint(text, can_show, info); }) || !can_show || text.isEmpty()) {
            QToolTip::hideText();
            return true;
        }
        QToolTip::showText(info.cursor_pos, text, widget, QRect(), info.hide_timeout_ms);
        return true;
    }
    if (type == QEvent::StatusTip) {
        // A status tip travels up the parents until one takes it: the hint
        // changed only when its text did.
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        if (tip != m_last_hint) {
            m_last_hint = tip;
            fw::SafeCall([this] { Hint(); });
        }
        return false;
    }
    if (event->spontaneous() && IsInputMessage(type)) {
        // Qt offers an ignored input event to the parents as a
        // non-spontaneous event, so each message is seen here once.
        bool handled = false;
        fw::SafeCall([&] {
            handled = Message(watched, event);
            if (!handled && type == QEvent::KeyPress)
                handled = ShortCut(static_cast<QKeyEvent*>(event));
        });
        return handled;
    }
    return false;
}

}  // namespace ronvix::controls
