#include "controls/images.h"

#include <QPainter>
#include <QPainterPath>

namespace ronvix::controls {
namespace {

const QRgb kMagenta = qRgb(255, 0, 255);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kFace = qRgb(192, 192, 192);
const QRgb kShadow = qRgb(128, 128, 128);
const QRgb kBlack = qRgb(0, 0, 0);

QImage Blank(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(kMagenta);
    return image;
}

// The face of a thumb: plain in the normal picture, a white and grey
// checker in the pressed or disabled one.
QRgb Face(bool dithered, int x, int y) {
    return dithered && (x + y) % 2 == 0 ? kWhite : kFace;
}

// One horizontal thumb picture, 9 x 17, pointing down, at column `x0`.
// Rows 0..11 are the body, rows 12..15 the point, row 16 stays transparent.
void DrawHThumb(QImage& image, int x0, bool dithered) {
    for (int y = 0; y < 16; ++y) {
        const int k = y - 12;
        const int first = y < 12 ? 0 : k + 1;
        const int last = y < 12 ? 8 : 7 - k;
        for (int x = first; x <= last; ++x) {
            QRgb c = Face(dithered, x, y);
            if (x == last)
                c = kBlack;
            else if (x == last - 1 && y > 0)
                c = kShadow;
            else if (x == first || y == 0)
                c = kWhite;
            image.setPixel(x0 + x, y, c);
        }
    }
}

// One vertical thumb picture, 19 x 9, pointing right, at column `x0`.
// Columns 0..13 are the body, 14..17 the point, column 18 stays
// transparent; the two left corners are cut so that the lower-left pixel
// keeps the transparent colour.
void DrawVThumb(QImage& image, int x0, bool dithered) {
    for (int x = 0; x < 18; ++x) {
        const int k = x - 14;
        const int first = x < 14 ? 0 : k + 1;
        const int last = x < 14 ? 8 : 7 - k;
        for (int y = first; y <= last; ++y) {
            if (x == 0 && (y == 0 || y == 8))
                continue;
            QRgb c = Face(dithered, x, y);
            if (y == last)
                c = kBlack;
            else if (y == last - 1 && x > 0)
                c = kShadow;
            else if (y == first || x == 0)
                c = kWhite;
            image.setPixel(x0 + x, y, c);
        }
    }
}

// The groove: a grey line above a black one, light grey inside, white
// below and at the far end, so that it reads as cut into the surface.
QRgb GrooveColor(int along, int across, int length) {
    switch (across) {
        case 0:
            return along == length - 1 ? kWhite : kShadow;
        case 1:
            if (along == 0)
                return kShadow;
            return along == length - 1 ? kWhite : (along == length - 2 ? kFace : kBlack);
        case 2:
            if (along == 0)
                return kShadow;
            return along == length - 1 ? kWhite : kFace;
        default:
            return kWhite;
    }
}

}  // namespace

QImage SliderHThumbImage() {
    QImage image = Blank(18, 17);
    DrawHThumb(image, 0, false);
    DrawHThumb(image, 9, true);
    return image;
}

QImage SliderHRulerImage() {
    QImage image = Blank(10, 8);
    for (int across = 0; across < 4; ++across)
        for (int x = 0; x < 10; ++x)
            image.setPixel(x, 2 + across, GrooveColor(x, across, 10));
    return image;
}

QImage SliderVThumbImage() {
    QImage image = Blank(38, 9);
    DrawVThumb(image, 0, false);
    DrawVThumb(image, 19, true);
    return image;
}

QImage SliderVRulerImage() {
    QImage image = Blank(8, 10);
    for (int across = 0; across < 4; ++across)
        for (int y = 0; y < 10; ++y)
            image.setPixel(2 + across, y, GrooveColor(y, across, 10));
    return image;
}

QImage FolderGlyphImage() {
    QImage image = Blank(14, 12);
    const QRgb yellow = qRgb(255, 255, 0);
    const QRgb ochre = qRgb(128, 128, 0);
    // The back of the folder with its tab.
    for (int x = 1; x <= 4; ++x)
        image.setPixel(x, 1, kBlack);
    for (int y = 2; y <= 10; ++y)
        for (int x = 0; x <= 11; ++x) {
            const bool edge = x == 0 || x == 11 || y == 2 || y == 10;
            image.setPixel(x, y, edge ? kBlack : ochre);
        }
    // The front flap, opened forward and slanting to the right.
    for (int y = 5; y <= 10; ++y) {
        const int shift = 10 - y;
        for (int x = 1 + shift; x <= 12 + shift - 3 && x < 14; ++x) {
            const bool edge = y == 5 || y == 10 || x == 1 + shift || x == 12 + shift - 3;
            image.setPixel(x, y, edge ? kBlack : yellow);
        }
    }
    return image;
}

QColor TransparentColorOf(const QImage& image) {
    if (image.isNull())
        return QColor(Qt::black);
    return QColor(image.pixel(0, image.height() - 1));
}

QPixmap Transparent(const QImage& image) {
    return Transparent(image, TransparentColorOf(image));
}

QPixmap Transparent(const QImage& image, QColor key_colour) {
    if (image.isNull())
        return {};
    const QRgb key = key_colour.rgb() & 0xFFFFFF;
    QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(argb.scanLine(y));
        for (int x = 0; x < argb.width(); ++x)
            if ((line[x] & 0xFFFFFF) == key)
                line[x] = 0;
    }
    return QPixmap::fromImage(argb);
}

QCursor HandCursor() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    {
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing, false);
        QPainterPath hand;
        hand.addRoundedRect(QRectF(5.5, 0.5, 4, 13), 2, 2);    // pointing finger
        hand.addRoundedRect(QRectF(9.5, 6.5, 4, 8), 2, 2);     // middle finger
        hand.addRoundedRect(QRectF(13.5, 7.5, 4, 8), 2, 2);    // ring finger
        hand.addRoundedRect(QRectF(17.5, 8.5, 3.5, 7), 2, 2);  // little finger
        hand.addRoundedRect(QRectF(1.5, 9.5, 5, 4), 2, 2);     // thumb
        hand.addRoundedRect(QRectF(3.5, 11.5, 17.5, 10), 3, 3);
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(Qt::white);
        p.drawPath(hand.simplified());
    }
    return QCursor(pixmap, 7, 0);
}

}  // namespace ronvix::controls
