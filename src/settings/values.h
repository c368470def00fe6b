#pragma once
// The texts of the settings file's values and the pure rules around them:
// the text encoding, integers, position lists and where a restored window
// rectangle goes. Qt Core only and free of state, so the fuzz target runs
// them on any input.

#include <QList>
#include <QRect>
#include <QSize>
#include <QString>
#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace ronvix::settings {

// The settings file's bytes as text. Valid UTF-8 decodes as usual. Every
// byte of a sequence that is not valid UTF-8 becomes the code unit
// U+DC00 + byte (U+DC80 to U+DCFF, which valid UTF-8 never yields), so a
// value from a file in another encoding (Windows-1251 carried over) reads
// without loss, and writing it back unchanged gives the same bytes.
QString DecodeStoredText(std::string_view bytes);
// Text as the settings file's bytes: UTF-8, with the code units U+DC80 to
// U+DCFF back as the bytes they stand for; any other unpaired surrogate is
// written as U+FFFD. EncodeStoredText(DecodeStoredText(b)) == b for every b.
std::string EncodeStoredText(const QString& text);

// The decimal integer a text stands for: an optional sign and digits, or
// "0x"/"0X" followed by hexadecimal digits when the text is longer than two
// characters. Nothing for anything else (blanks included) or overflow.
std::optional<qint64> ParseInteger(const QString& text);

// The platform's rectangle: right and bottom are exclusive.
struct TRectL {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const TRectL&) const = default;
};

// "(%dx%d)" of a screen size: the suffix of the screen-specific keys.
QString ScreenSizeSuffix(QSize screen);
// "%d,%d,%d,%d".
QString PositionsText(int a, int b, int c, int d);
// Words 1 to 4 of a text split at runs of commas and blanks; a missing or
// unparsable word (or one outside the int range) is nothing.
std::array<std::optional<int>, 4> PositionWords(const QString& text);

// The largest width or height a window can have (Qt's QWIDGETSIZE_MAX);
// positions beyond it either way are cut to it as well.
inline constexpr int kMaxWindowExtent = (1 << 24) - 1;

// The normal rectangle a restore applies, from the stored one, everything
// in workspace coordinates. With `keep_size` the window keeps that size and
// only the stored position counts (a form the user cannot resize). Nothing
// when the rectangle has no width: it is not applied. A rectangle that
// meets none of `screens` (a monitor that is gone) is moved onto
// `work_area`, the primary screen's, keeping its size: as near to where it
// was as fits. With no screens, `work_area` is the only one. A stored size
// larger than all screens together is cut to them (the platform's largest
// tracking size), so the result and any sum of its coordinates stay far
// inside the int range whatever the stored numbers were.
std::optional<TRectL> PlacedNormalRect(const TRectL& stored, std::optional<QSize> keep_size,
                                       const QList<QRect>& screens, const QRect& work_area);

}  // namespace ronvix::settings
