#include "framework/format.h"

namespace ronvix::fw {

QString FormatArgs(const QString& pattern, const std::vector<FormatArg>& args) {
    QString out;
    out.reserve(pattern.size() + 16);
    size_t next = 0;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c != QLatin1Char('%') || i + 1 >= pattern.size()) {
            out += c;
            continue;
        }
        const QChar d = pattern[i + 1];
        if (d == QLatin1Char('%')) {
            out += c;
            ++i;
            continue;
        }
        const char kind = d.toLatin1();
        if (!QByteArrayView("duxXsp").contains(kind) || next >= args.size()) {
            out += c;
            continue;
        }
        const FormatArg& a = args[next];
        QString text;
        bool ok = true;
        switch (kind) {
            case 'd':
                if (auto* v = std::get_if<int64_t>(&a))
                    text = QString::number(*v);
                else if (auto* u = std::get_if<uint64_t>(&a))
                    text = QString::number(*u);
                else
                    ok = false;
                break;
            case 'u':
                if (auto* u = std::get_if<uint64_t>(&a))
                    text = QString::number(*u);
                else if (auto* v = std::get_if<int64_t>(&a))
                    text = QString::number(static_cast<uint64_t>(*v));
                else
                    ok = false;
                break;
            case 'x':
            case 'X':
                if (auto* u = std::get_if<uint64_t>(&a))
                    text = QString::number(*u, 16);
                else if (auto* v = std::get_if<int64_t>(&a))
                    text = QString::number(static_cast<uint32_t>(*v), 16);
                else
                    ok = false;
                if (kind == 'X')
                    text = text.toUpper();
                break;
            case 's':
                if (auto* s = std::get_if<QString>(&a))
                    text = *s;
                else
                    ok = false;
                break;
            case 'p':
                // Pointers show every hexadecimal digit of the platform's width.
                if (auto* p = std::get_if<const void*>(&a))
                    text = QStringLiteral("%1")
                               .arg(reinterpret_cast<quintptr>(*p), int(sizeof(void*) * 2), 16,
                                    QLatin1Char('0'))
                               .toUpper();
                else
                    ok = false;
                break;
        }
        if (!ok) {
            out += c;
            continue;
        }
        out += text;
        ++next;
        ++i;
    }
    return out;
}

}  // namespace ronvix::fw
