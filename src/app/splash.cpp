#include "app/splash.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QThread>

#include "app/main_window.h"
#include "framework/strings.h"
#include "platform/win/files.h"

namespace ronvix::app {

QImage SplashWindow::DrawBanner() {
    QImage img(400, 100, QImage::Format_RGB888);
    img.fill(Qt::black);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QFont title(QStringLiteral("Liberation Sans"));
    title.setPixelSize(58);
    title.setBold(true);
    title.setItalic(true);
    QPainterPath name;
    name.addText(14, 66, title, QStringLiteral("Ronvix"));
    QLinearGradient fire(0, 14, 0, 70);
    fire.setColorAt(0.0, QColor(255, 236, 64));
    fire.setColorAt(0.5, QColor(255, 128, 0));
    fire.setColorAt(1.0, QColor(224, 32, 48));
    p.setPen(QPen(QColor(255, 250, 220), 1.5));
    p.setBrush(fire);
    p.drawPath(name);

    QFont credit(QStringLiteral("Liberation Sans"));
    credit.setPixelSize(17);
    credit.setBold(true);
    QPainterPath line;
    line.addText(18, 90, credit, QStringLiteral("video capture & print to tape"));
    QLinearGradient sea(18, 0, 300, 0);
    sea.setColorAt(0.0, QColor(64, 200, 255));
    sea.setColorAt(1.0, QColor(120, 255, 160));
    p.setPen(Qt::NoPen);
    p.setBrush(sea);
    p.drawPath(line);
    p.end();
    // The corner stays the background: the transparent colour is read there.
    return img;
}

SplashWindow::SplashWindow(QStringList params, QWidget* parent)
    : fw::TForm(parent), m_params(std::move(params)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_ShowWithoutActivating, false);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(11);
    setFont(font);
    resize(401, 102);  // as stored; onCreate sets the picture's size

    m_picture = DrawBanner();
    banner = new QLabel(this);
    banner->setObjectName(QStringLiteral("Image1"));
    banner->setGeometry(0, 0, 401, 101);
    banner->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    banner->setPixmap(QPixmap::fromImage(m_picture));

    versionLabel = new QLabel(QStringLiteral("ver.0.805beta"), this);
    versionLabel->setObjectName(QStringLiteral("Label1"));
    versionLabel->setGeometry(296, 3, 77, 16);
    QFont arial(QStringLiteral("Liberation Sans"));
    arial.setPixelSize(13);
    versionLabel->setFont(arial);
    QPalette pal = versionLabel->palette();
    pal.setColor(QPalette::WindowText, QColor(0, 0, 128));  // navy
    versionLabel->setPalette(pal);
    versionLabel->setAttribute(Qt::WA_TranslucentBackground);
    versionLabel->setAutoFillBackground(false);

    fadeTimer = new fw::TTimer(this, QStringLiteral("Timer1"));
    fadeTimer->SetInterval(10);
    fadeTimer->SetEnabled(true);

    OnCreate = [this](QObject* s) { onCreate(s); };
    OnShow = [this](QObject* s) { onShow(s); };
    fadeTimer->OnTimer = [this](QObject* s) { onFadeTick(s); };

    SleepFor = [this](int ms) {
        // The pause blocks this thread: paint and flush the splash first so
        // it is seen fully shown for the whole pause.
        repaint();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QGuiApplication::sync();
        QThread::msleep(static_cast<unsigned long>(ms));
    };

    fw::LoadComponents(this);
    DoCreate();
}

SplashWindow::~SplashWindow() {
    DoDestroy();
}

void SplashWindow::onCreate(QObject*) {
    SetAlphaBlend(true);
    SetAlphaBlendValue(0);
    SetTransparentColor(true, QColor(m_picture.pixel(2, 2)));
    setFixedSize(banner->width() - 1, banner->height() - 1);
    for (int i = 1; i <= ParamCount(); ++i)
        if (ParamStr(i).toLower() == QLatin1String("-nosplash"))
            m_skip_splash = true;
    UpdateShape();
    // Centred on the screen.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
}

void SplashWindow::onShow(QObject*) {
    if (m_main_form)
        m_main_form->hide();
}

void SplashWindow::onFadeTick(QObject*) {
    // The fade and the hand-over wait until the message loop has shown the
    // splash and there is a main window to hand over to. A message box shown
    // while the main window is being built (a device list that fails) runs
    // this timer early, in the box's own loop: handing over then, to no
    // window, would stop the ticks and leave the program without one.
    if (!isVisible() || !m_main_form)
        return;
    fadeTimer->SetEnabled(false);
    SetAlphaBlendValue(AlphaBlendValue() + 5);
    if (ParamCount() >= 1 && win::FileExists(fw::Utf8(ParamStr(ParamCount()))))
        m_start_page = 1;
    if (AlphaBlendValue() >= 250 || m_skip_splash) {
        if (!m_skip_splash && SleepFor)
            SleepFor(2000);
        Hide();
        if (m_main_form) {
            m_main_form->Show();
            m_main_form->tabs->setCurrentIndex(m_start_page);
        }
        return;
    }
    fadeTimer->SetEnabled(true);
}

void SplashWindow::UpdateShape() {
    if (!TransparentColor()) {
        clearMask();
        return;
    }
    // Only the lettering shows: the banner without its background colour,
    // and the version label's text drawn over it.
    QImage composed = m_picture
                          .copy(0, 0, std::min(width(), m_picture.width()),
                                std::min(height(), m_picture.height()))
                          .convertToFormat(QImage::Format_RGB32);
    {
        QPainter p(&composed);
        p.setFont(versionLabel->font());
        p.setPen(versionLabel->palette().color(QPalette::WindowText));
        p.drawText(versionLabel->geometry(), static_cast<int>(versionLabel->alignment()),
                   versionLabel->text());
    }
    const QRgb key = TransparentColorValue().rgb();
    QRegion shape;
    for (int y = 0; y < composed.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(composed.constScanLine(y));
        int x = 0;
        while (x < composed.width()) {
            while (x < composed.width() && (row[x] & 0xFFFFFF) == (key & 0xFFFFFF))
                ++x;
            int start = x;
            while (x < composed.width() && (row[x] & 0xFFFFFF) != (key & 0xFFFFFF))
                ++x;
            if (x > start)
                shape += QRect(start, y, x - start, 1);
        }
    }
    setMask(shape);
}

}  // namespace ronvix::app
