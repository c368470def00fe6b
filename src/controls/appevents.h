#pragma once
// TAppEvents: a non-visual component that lets a form handle the
// application's global events through its own event properties, and sets
// the application's hint and input settings from its properties.
// TAppEventList: the one dispatcher that owns the application's event slots
// and passes each event to the live instances in turn.
//
// Contract:
// - Events go to the instances from the newest to the oldest. An instance
//   whose Chained is false is the last one visited. When every instance was
//   visited, the handler the application had before the first instance
//   appeared is called too.
// - Events with a "handled" flag stop as soon as a handler sets it (the
//   previous handler is then not called either).
// - An exception that no handler at all receives is shown by the standard
//   report. Help returns what the last handler called returned.
// - The settings are applied when the component's loading ends and at once
//   on every later assignment; reading one (after loading) returns the
//   application's current value.
// - When the last instance goes, the application's previous handlers are
//   put back.
// Everything runs on the UI thread; every handler Qt's delivery reaches runs
// inside SafeCall.

#include <QColor>
#include <QEvent>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

#include "framework/component.h"
#include "framework/events.h"

class QAction;
class QKeyEvent;
class QWidget;

namespace ronvix::controls {

class TAppEventList;

// What a hint about to be shown may still change.
struct THintInfo {
    QWidget* control = nullptr;  // the control the hint belongs to
    QPoint cursor_pos;           // global pointer position
    int hide_timeout_ms = 0;     // how long the hint stays
    QColor color;                // background colour of the hint
};

using TIdleEvent = std::function<void(QObject* sender, bool& done)>;
using TExceptionEvent = std::function<void(QObject* sender, const std::exception& error)>;
using THelpEvent = std::function<bool(uint16_t command, intptr_t data, bool& call_help)>;
using TMessageEvent = std::function<void(QObject* receiver, QEvent* message, bool& handled)>;
using TShowHintEvent = std::function<void(QString& hint, bool& can_show, THintInfo& info)>;
using TActionEvent = std::function<void(QAction* action, bool& handled)>;
using TShortCutEvent = std::function<void(QKeyEvent* key, bool& handled)>;
using TSettingsChangedEvent = std::function<void(QObject* sender, const QString& section)>;

class TAppEvents : public fw::TComponent {
    Q_OBJECT
    Q_PROPERTY(bool Chained READ Chained WRITE SetChained)
    Q_PROPERTY(QColor HintColor READ HintColor WRITE SetHintColor)
    Q_PROPERTY(int HintPause READ HintPause WRITE SetHintPause)
    Q_PROPERTY(int HintShortPause READ HintShortPause WRITE SetHintShortPause)
    Q_PROPERTY(int HintHidePause READ HintHidePause WRITE SetHintHidePause)
    Q_PROPERTY(bool ShowHint READ ShowHint WRITE SetShowHint)
    Q_PROPERTY(bool HintShortCuts READ HintShortCuts WRITE SetHintShortCuts)
    Q_PROPERTY(bool ShowMainForm READ ShowMainForm WRITE SetShowMainForm)
    Q_PROPERTY(bool UpdateFormatSettings READ UpdateFormatSettings WRITE SetUpdateFormatSettings)
    Q_PROPERTY(bool UpdateMetricSettings READ UpdateMetricSettings WRITE SetUpdateMetricSettings)
    Q_PROPERTY(TBiDiMode BiDiMode READ BiDiMode WRITE SetBiDiMode)
    Q_PROPERTY(QString BiDiKeyboard READ BiDiKeyboard WRITE SetBiDiKeyboard)
    Q_PROPERTY(QString NonBiDiKeyboard READ NonBiDiKeyboard WRITE SetNonBiDiKeyboard)
    Q_PROPERTY(bool MouseDragImmediate READ MouseDragImmediate WRITE SetMouseDragImmediate)
    Q_PROPERTY(int MouseDragThreshold READ MouseDragThreshold WRITE SetMouseDragThreshold)
public:
    enum TBiDiMode { bdLeftToRight, bdRightToLeft, bdRightToLeftNoAlign, bdRightToLeftReadingOnly };
    Q_ENUM(TBiDiMode)

    explicit TAppEvents(QObject* owner = nullptr, const QString& name = {});
    ~TAppEvents() override;

    // End of loading: applies every setting to the application.
    void Loaded() override;

    bool Chained() const { return m_chained; }
    void SetChained(bool on) { m_chained = on; }

    QColor HintColor() const;
    void SetHintColor(const QColor& c);
    int HintPause() const;
    void SetHintPause(int ms);
    int HintShortPause() const;
    void SetHintShortPause(int ms);
    int HintHidePause() const;
    void SetHintHidePause(int ms);
    bool ShowHint() const;
    void SetShowHint(bool on);
    bool HintShortCuts() const;
    void SetHintShortCuts(bool on);
    bool ShowMainForm() const;
    void SetShowMainForm(bool on);
    bool UpdateFormatSettings() const;
    void SetUpdateFormatSettings(bool on);
    bool UpdateMetricSettings() const;
    void SetUpdateMetricSettings(bool on);
    TBiDiMode BiDiMode() const;
    void SetBiDiMode(TBiDiMode mode);
    QString BiDiKeyboard() const;
    void SetBiDiKeyboard(const QString& layout);
    QString NonBiDiKeyboard() const;
    void SetNonBiDiKeyboard(const QString& layout);
    bool MouseDragImmediate() const;
    void SetMouseDragImmediate(bool on);
    int MouseDragThreshold() const;
    void SetMouseDragThreshold(int pixels);

    fw::TNotifyEvent OnActivate;
    fw::TNotifyEvent OnDeactivate;
    TExceptionEvent OnException;
    TIdleEvent OnIdle;
    THelpEvent OnHelp;
    fw::TNotifyEvent OnHint;
    TMessageEvent OnMessage;
    fw::TNotifyEvent OnMinimize;
    fw::TNotifyEvent OnRestore;
    TShowHintEvent OnShowHint;
    TActionEvent OnActionExecute;
    TActionEvent OnActionUpdate;
    TShortCutEvent OnShortCut;
    fw::TNotifyEvent OnActiveControlChange;
    fw::TNotifyEvent OnActiveFormChange;
    // Painting the application's icon while minimised: the window system
    // draws minimised windows itself here, so this never fires; it is kept
    // so that forms written for it still load.
    fw::TNotifyEvent OnPaintIcon;
    // A system setting changed (palette, font or locale); `section` names
    // which. A failure in it goes to the application's exception handling.
    TSettingsChangedEvent OnSettingsChanged;

private:
    // Settings given while loading, applied by Loaded().
    struct Pending;
    std::unique_ptr<Pending> m_pending;
    bool m_chained = true;
};

// The shared dispatcher. It exists while at least one TAppEvents lives.
class TAppEventList : public QObject {
    Q_OBJECT
public:
    // The dispatcher, or null while no instance lives.
    static TAppEventList* Instance();

    // The live instances, oldest first.
    std::vector<TAppEvents*> Instances() const;

    // Dispatch entries. Qt's own sources call them (window state, focus,
    // application state, idle, tooltips, status tips, input events); the
    // action and help events have no Qt source in this program and are
    // called by code that runs actions or help.
    void Activate();
    void Deactivate();
    void Idle(bool& done);
    void Hint();
    void Minimize();
    void Restore();
    void ActiveControlChange();
    void ActiveFormChange();
    void ShowHint(QString& hint, bool& can_show, THintInfo& info);
    bool Message(QObject* receiver, QEvent* message);
    bool ActionExecute(QAction* action);
    bool ActionUpdate(QAction* action);
    bool ShortCut(QKeyEvent* key);
    void Exception(QObject* sender, const std::exception& error);
    bool Help(uint16_t command, intptr_t data, bool& call_help);
    void SettingsChanged(const QString& section);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TAppEvents;
    TAppEventList();
    ~TAppEventList() override;
    static void Add(TAppEvents* events);
    static void Remove(TAppEvents* events);
    void Install();
    void Uninstall();
    // Visits the instances newest first; `call` returns true when it called
    // a handler. Stops after an instance that is not chained, or as soon as
    // `handled` (when given) is set. Returns true when every instance was
    // visited (so the previous handler is due) and reports through
    // `any_called` whether a handler ran.
    template <class Call>
    bool Visit(Call call, const bool* handled, bool* any_called = nullptr);

    std::vector<QPointer<TAppEvents>> m_instances;
    bool m_installed = false;
    // The application's handlers before the dispatcher took the slots.
    std::function<void(QObject*)> m_prev_minimize;
    std::function<void(QObject*)> m_prev_restore;
    std::function<void(QObject*, const std::exception&)> m_prev_exception;
    std::vector<QMetaObject::Connection> m_connections;
    int m_depth = 0;  // dispatches in progress
    bool m_active = false;
    QPointer<QWidget> m_active_window;
    QString m_last_hint;
};

}  // namespace ronvix::controls
