#pragma once
// The controls' built-in pictures, drawn in code so that no binary resource
// has to be kept in step with the layout that depends on their sizes.
//
// Every picture is an opaque image whose lower-left pixel holds its
// transparent colour (magenta in all of ours); Transparent() turns that
// colour into alpha for masked drawing. UI thread only (QPixmap).

#include <QCursor>
#include <QImage>
#include <QPixmap>

namespace ronvix::controls {

// Slider thumb, horizontal: 18 x 17, two 9-pixel-wide pictures side by side
// (normal; pressed or disabled, dithered), pointing down.
QImage SliderHThumbImage();
// Slider ruler, horizontal: 10 x 8, a sunken groove.
QImage SliderHRulerImage();
// Slider thumb, vertical: 38 x 9, two 19-pixel-wide pictures, pointing right.
QImage SliderVThumbImage();
// Slider ruler, vertical: 8 x 10.
QImage SliderVRulerImage();
// The file name edit's button glyph: 14 x 12, an opening folder.
QImage FolderGlyphImage();

// The colour of the image's lower-left pixel (black for an empty image).
QColor TransparentColorOf(const QImage& image);
// A copy of `image` with every pixel of its transparent colour (or of `key`)
// see-through.
QPixmap Transparent(const QImage& image);
QPixmap Transparent(const QImage& image, QColor key);

// The hand-shaped pointer shown over a slider's thumb.
QCursor HandCursor();

}  // namespace ronvix::controls
