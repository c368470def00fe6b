#include "settings/values.h"

#include <algorithm>
#include <limits>

namespace ronvix::settings {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// The code point of the well-formed UTF-8 sequence at the start of `bytes`
// and its length; nothing when the first byte does not start one (overlong
// forms, surrogates and values above U+10FFFF are not well formed).
std::optional<std::pair<char32_t, size_t>> Utf8Sequence(std::string_view bytes) {
    const auto lead = static_cast<unsigned char>(bytes[0]);
    size_t length = 0;
    char32_t cp = 0;
    char32_t lowest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1Fu;
        lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0Fu;
        lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07u;
        lowest = 0x10000;
    } else {
        return std::nullopt;
    }
    if (bytes.size() < length)
        return std::nullopt;
    for (size_t k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(bytes[k]);
        if ((b & 0xC0) != 0x80)
            return std::nullopt;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < lowest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return std::nullopt;
    return std::pair{cp, length};
}

}  // namespace

QString DecodeStoredText(std::string_view bytes) {
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    for (size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            out.append(QChar(static_cast<char16_t>(c)));
            ++i;
        } else if (const auto seq = Utf8Sequence(bytes.substr(i))) {
            const char32_t cp = seq->first;
            if (QChar::requiresSurrogates(cp)) {
                out.append(QChar(QChar::highSurrogate(cp)));
                out.append(QChar(QChar::lowSurrogate(cp)));
            } else {
                out.append(QChar(static_cast<char16_t>(cp)));
            }
            i += seq->second;
        } else {
            out.append(QChar(static_cast<char16_t>(kEscapeBase + c)));
            ++i;
        }
    }
    return out;
}

std::string EncodeStoredText(const QString& text) {
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text[i + 1].unicode())) {
            AppendUtf8(out, QChar::surrogateToUcs4(u, text[i + 1].unicode()));
            ++i;
        } else if (u >= kEscapeBase + 0x80 && u <= kEscapeBase + 0xFF) {
            out.push_back(static_cast<char>(u - kEscapeBase));
        } else if (QChar::isSurrogate(u)) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

std::optional<qint64> ParseInteger(const QString& text) {
    bool ok = false;
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        const QStringView digits = QStringView(text).mid(2);
        // toULongLong would accept a sign or blanks after the prefix.
        if (!digits.front().isLetterOrNumber())
            return std::nullopt;
        const quint64 u = digits.toULongLong(&ok, 16);
        if (!ok || u > static_cast<quint64>(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return static_cast<qint64>(u);
    }
    if (text.isEmpty() || text.front().isSpace() || text.back().isSpace())
        return std::nullopt;
    const qint64 value = text.toLongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

QString ScreenSizeSuffix(QSize screen) {
    return QStringLiteral("(%1x%2)").arg(screen.width()).arg(screen.height());
}

QString PositionsText(int a, int b, int c, int d) {
    return QStringLiteral("%1,%2,%3,%4").arg(a).arg(b).arg(c).arg(d);
}

std::array<std::optional<int>, 4> PositionWords(const QString& text) {
    // Only the first four words are looked at, however long the text.
    std::array<std::optional<int>, 4> out;
    auto separator = [](QChar c) { return c == u',' || c == u' '; };
    qsizetype pos = 0;
    for (auto& word : out) {
        while (pos < text.size() && separator(text[pos]))
            ++pos;
        if (pos == text.size())
            break;
        qsizetype end = pos;
        while (end < text.size() && !separator(text[end]))
            ++end;
        const auto v = ParseInteger(text.mid(pos, end - pos));
        if (v && *v >= std::numeric_limits<int>::min() && *v <= std::numeric_limits<int>::max())
            word = static_cast<int>(*v);
        pos = end;
    }
    return out;
}

std::optional<TRectL> PlacedNormalRect(const TRectL& stored, std::optional<QSize> keep_size,
                                       const QList<QRect>& screens, const QRect& work_area) {
    // All sums in 64 bits: the stored numbers may be anything an int holds.
    constexpr qint64 kMax = kMaxWindowExtent;
    const qint64 width = keep_size ? keep_size->width() : qint64{stored.right} - stored.left;
    const qint64 height = keep_size ? keep_size->height() : qint64{stored.bottom} - stored.top;
    if (width <= 0)
        return std::nullopt;
    // A stored size is cut to all screens together, as the platform cuts a
    // window to its largest tracking size.
    QRect desktop = work_area;
    for (const QRect& s : screens)
        desktop = desktop.united(s);
    const qint64 w =
        std::min(width, keep_size ? kMax : std::clamp<qint64>(desktop.width(), 1, kMax));
    // A rectangle without height moves the window without sizing it, as
    // before; it is placed as if one pixel high.
    const qint64 h =
        std::clamp(height, -kMax, keep_size ? kMax : std::clamp<qint64>(desktop.height(), 1, kMax));
    const qint64 reach = std::max<qint64>(h, 1);
    qint64 left = stored.left;
    qint64 top = stored.top;

    auto meets = [&](const QRect& s) {
        return left < qint64{s.x()} + s.width() && s.x() < left + w &&
               top < qint64{s.y()} + s.height() && s.y() < top + reach;
    };
    bool on_screen = screens.isEmpty() ? meets(work_area) : false;
    for (const QRect& s : screens)
        on_screen = on_screen || meets(s);
    if (!on_screen) {
        const qint64 area_right = qint64{work_area.x()} + work_area.width();
        const qint64 area_bottom = qint64{work_area.y()} + work_area.height();
        left = std::max<qint64>(work_area.x(), std::min(left, area_right - w));
        top = std::max<qint64>(work_area.y(), std::min(top, area_bottom - reach));
    }
    left = std::clamp(left, -kMax, kMax);
    top = std::clamp(top, -kMax, kMax);
    return TRectL{static_cast<int>(left), static_cast<int>(top), static_cast<int>(left + w),
                  static_cast<int>(top + h)};
}

}  // namespace ronvix::settings
