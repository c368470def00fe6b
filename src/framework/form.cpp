#include "framework/form.h"

#include <QBitmap>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QImage>
#include <QShowEvent>

#include "framework/application.h"

namespace ronvix::fw {

TForm::TForm(QWidget* parent) : QWidget(parent, Qt::Window) {
    if (auto* app = TApplication::Instance())
        app->RegisterForm(this);
}

TForm::~TForm() {
    DoDestroy();
}

void TForm::DoCreate() {
    SafeCall([&] { Fire(OnCreate, this); });
}

void TForm::DoDestroy() {
    if (m_destroyed)
        return;
    m_destroyed = true;
    SafeCall([&] { Fire(OnDestroy, this); });
}

void TForm::Show() {
    show();
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        raise();
}

void TForm::Hide() {
    hide();
}

void TForm::Close() {
    close();
}

void TForm::SetAlphaBlend(bool on) {
    m_alpha_blend = on;
    setWindowOpacity(on ? m_alpha / 255.0 : 1.0);
}

void TForm::SetAlphaBlendValue(int alpha) {
    m_alpha = std::clamp(alpha, 0, 255);
    if (m_alpha_blend)
        setWindowOpacity(m_alpha / 255.0);
}

void TForm::SetTransparentColor(bool on, QColor colour) {
    m_transparent = on;
    m_transparent_color = colour;
    UpdateShape();
}

void TForm::UpdateShape() {
    if (!m_transparent) {
        clearMask();
        return;
    }
    // Render the form and keep every pixel that is not the transparent
    // colour: a shape mask works on every X11 window manager, composited
    // or not.
    QImage image = grab().toImage().convertToFormat(QImage::Format_RGB32);
    QBitmap mask =
        QBitmap::fromImage(image.createMaskFromColor(m_transparent_color.rgb(), Qt::MaskOutColor));
    setMask(mask);
}

void TForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // A restore from minimised is spontaneous; the handlers expect only
    // shows made by code.
    if (!event->spontaneous())
        SafeCall([&] { Fire(OnShow, this); });
}

void TForm::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        SafeCall([&] { Fire(OnHide, this); });
}

void TForm::closeEvent(QCloseEvent* event) {
    bool can_close = true;
    SafeCall([&] { Fire(OnCloseQuery, this, can_close); });
    if (!can_close) {
        event->ignore();
        return;
    }
    auto* app = TApplication::Instance();
    const bool is_main = app && app->MainForm() == this;
    TCloseAction action = is_main ? TCloseAction::caFree : TCloseAction::caHide;
    SafeCall([&] { Fire(OnClose, this, action); });
    switch (action) {
        case TCloseAction::caNone:
            event->ignore();
            return;
        case TCloseAction::caMinimize:
            event->ignore();
            showMinimized();
            return;
        case TCloseAction::caHide:
        case TCloseAction::caFree:
            event->accept();
            if (is_main)
                app->Terminate();
            return;
    }
}

}  // namespace ronvix::fw
