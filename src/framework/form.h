#pragma once
// TForm: a top-level window with the events its handlers were written for.
//
// - OnCreate runs once, when the subclass calls DoCreate() at the end of its
//   construction (after its components are loaded).
// - OnShow runs when code shows the form (Show, setVisible), never when the
//   window system restores it from minimised (a spontaneous show).
// - OnCloseQuery, then OnClose, run when the user or code closes it. A form
//   that is the application's main form ends the message loop when closed;
//   any other form is hidden.
// - OnDestroy runs when the subclass calls DoDestroy() first thing in its
//   destructor (or, at the latest, in ~TForm).
// Every handler runs inside SafeCall. UI thread only.

#include <QColor>
#include <QWidget>
#include <functional>

#include "framework/events.h"

namespace ronvix::fw {

enum class TCloseAction { caNone, caHide, caFree, caMinimize };

class TForm : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)
    Q_PROPERTY(int AlphaBlendValue READ AlphaBlendValue WRITE SetAlphaBlendValue)
public:
    explicit TForm(QWidget* parent = nullptr);
    ~TForm() override;

    int Tag() const { return m_tag; }
    void SetTag(int tag) { m_tag = tag; }

    void Show();
    void Hide();
    // Runs the close sequence (close-query, close, then hide or end).
    void Close();

    // Window opacity 0..255 when alpha blending is on.
    bool AlphaBlend() const { return m_alpha_blend; }
    void SetAlphaBlend(bool on);
    int AlphaBlendValue() const { return m_alpha; }
    void SetAlphaBlendValue(int alpha);

    // Pixels of this colour are see-through when the transparent colour is
    // on; the subclass supplies the shape through UpdateShape().
    bool TransparentColor() const { return m_transparent; }
    QColor TransparentColorValue() const { return m_transparent_color; }
    void SetTransparentColor(bool on, QColor colour);

    TNotifyEvent OnCreate;
    TNotifyEvent OnShow;
    TNotifyEvent OnHide;
    TNotifyEvent OnDestroy;
    std::function<void(QObject* sender, bool& can_close)> OnCloseQuery;
    std::function<void(QObject* sender, TCloseAction& action)> OnClose;

protected:
    void DoCreate();
    void DoDestroy();
    // Recomputes the window shape from the transparent colour.
    virtual void UpdateShape();

    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    int m_tag = 0;
    bool m_alpha_blend = false;
    int m_alpha = 255;
    bool m_transparent = false;
    QColor m_transparent_color;
    bool m_destroyed = false;
};

}  // namespace ronvix::fw
