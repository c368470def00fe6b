#pragma once
// TGroupFrame: a group box drawn as the window's layout expects it: an
// etched line whose top runs through the middle of the title's line of
// text, with the title standing in a gap of the line. A child placed just
// below the title (the layout's coordinates start at 14 pixels) lies
// inside the frame. Linux styles draw their group frame below a taller
// title band instead, through such children, so this frame is drawn here
// rather than by the style; the title keeps the widget's font and palette.
// UI thread only.

#include <QGroupBox>

namespace ronvix::controls {

class TGroupFrame : public QGroupBox {
    Q_OBJECT
public:
    explicit TGroupFrame(const QString& title, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The rectangle whose edges the line follows, and the title's band.
    QRect FrameRect() const;
    QRect TitleRect() const;
};

}  // namespace ronvix::controls
