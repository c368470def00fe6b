#include "platform/win/profile_document.h"

#include <QString>
#include <unordered_set>

namespace ronvix::win {

namespace {

constexpr size_t npos = std::string::npos;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    size_t a = 0;
    while (a < s.size() && IsBlank(s[a]))
        ++a;
    size_t b = s.size();
    while (b > a && IsBlank(s[b - 1]))
        --b;
    return s.substr(a, b - a);
}

bool IsAscii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// Names compare without regard to case: ASCII directly, other text through
// Unicode case folding of its UTF-8 reading.
bool NamesMatch(std::string_view a, std::string_view b) {
    a = Trim(a);
    b = Trim(b);
    if (IsAscii(a) && IsAscii(b)) {
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (AsciiLower(a[i]) != AsciiLower(b[i]))
                return false;
        return true;
    }
    if (a == b)
        return true;
    QString qa = QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size()));
    QString qb = QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size()));
    // Distinct byte strings that are not valid UTF-8 may decode alike; they
    // are only the same name when their bytes round-trip.
    if (qa.toUtf8() != QByteArray(a.data(), static_cast<qsizetype>(a.size())) ||
        qb.toUtf8() != QByteArray(b.data(), static_cast<qsizetype>(b.size())))
        return false;
    return qa.compare(qb, Qt::CaseInsensitive) == 0;
}

std::string_view Unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

// One line of a text: [begin, end) without its line ending; `next` is where
// the following line starts (end when the line has no ending).
struct LineRef {
    size_t begin = 0;
    size_t end = 0;
    size_t next = 0;
};

LineRef LineAt(std::string_view text, size_t pos) {
    const size_t nl = text.find('\n', pos);
    if (nl == npos)
        return {pos, text.size(), text.size()};
    const size_t end = (nl > pos && text[nl - 1] == '\r') ? nl - 1 : nl;
    return {pos, end, nl + 1};
}

// The name a section header line gives, or nothing for another line. The
// document's first line may start with a byte order mark, which belongs to
// the file, not to the line's meaning.
std::optional<std::string_view> HeaderName(std::string_view line, bool first_line) {
    if (first_line && line.substr(0, 3) == kByteOrderMark)
        line.remove_prefix(3);
    const std::string_view t = Trim(line);
    if (t.empty() || t.front() != '[')
        return std::nullopt;
    const size_t close = t.find(']');
    return Trim(t.substr(1, close == npos ? npos : close - 1));
}

// A key line inside a section: its trimmed name and where its "=" is.
struct KeyRef {
    std::string_view name;
    size_t equals = 0;
};

std::optional<KeyRef> KeyOf(std::string_view line) {
    const std::string_view t = Trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '[')
        return std::nullopt;
    const size_t eq = line.find('=');
    if (eq == npos)
        return std::nullopt;
    return KeyRef{Trim(line.substr(0, eq)), eq};
}

// Each name once, in first-seen order, under the name rule. ASCII names are
// found through a set of their lower-case spellings; the few others are
// compared one by one.
class NameList {
public:
    void Add(std::string_view name) {
        if (IsAscii(name)) {
            std::string lower(name);
            for (char& c : lower)
                c = AsciiLower(c);
            if (m_ascii.contains(lower) || MatchesOther(name))
                return;
            m_ascii.insert(std::move(lower));
        } else {
            for (const auto& n : m_names)
                if (NamesMatch(n, name))
                    return;
            m_others.emplace_back(name);
        }
        m_names.emplace_back(name);
    }
    std::vector<std::string> Take() { return std::move(m_names); }

private:
    bool MatchesOther(std::string_view name) const {
        for (const auto& n : m_others)
            if (NamesMatch(n, name))
                return true;
        return false;
    }
    std::vector<std::string> m_names;
    std::unordered_set<std::string> m_ascii;
    std::vector<std::string> m_others;
};

}  // namespace

ProfileDocument::ProfileDocument(std::string content) : m_original(std::move(content)) {
    const std::string_view text = m_original;
    // Section headers start the segments. A "[" starts a header only as the
    // first non-blank character of its line, so the search skips to the
    // next line after every "[" it meets.
    std::vector<size_t> headers;
    for (size_t pos = text.find('['); pos != npos;) {
        size_t b = pos;
        while (b > 0 && IsBlank(text[b - 1]))
            --b;
        if (b == 0 || text[b - 1] == '\n')
            headers.push_back(b);
        else if (b == kByteOrderMark.size() && text.substr(0, b) == kByteOrderMark)
            headers.push_back(0);
        const size_t nl = text.find('\n', pos);
        pos = nl == npos ? npos : text.find('[', nl + 1);
    }
    if (text.empty())
        return;
    if (headers.empty() || headers.front() != 0)
        m_segments.push_back(Segment{0, headers.empty() ? text.size() : headers.front()});
    for (size_t i = 0; i < headers.size(); ++i) {
        const size_t end = i + 1 < headers.size() ? headers[i + 1] : text.size();
        Segment s{headers[i], end - headers[i]};
        const LineRef line = LineAt(text, headers[i]);
        const std::string_view name =
            *HeaderName(text.substr(line.begin, line.end - line.begin), headers[i] == 0);
        s.header = true;
        s.name_pos = static_cast<size_t>(name.data() - text.data()) - headers[i];
        s.name_length = name.size();
        m_segments.push_back(std::move(s));
    }
}

std::string_view ProfileDocument::Text(const Segment& s) const {
    return s.owned ? std::string_view(s.text)
                   : std::string_view(m_original).substr(s.start, s.length);
}

std::string_view ProfileDocument::Name(const Segment& s) const {
    return Text(s).substr(s.name_pos, s.name_length);
}

std::string& ProfileDocument::Own(Segment& s) {
    if (!s.owned) {
        s.text = std::string(Text(s));
        s.owned = true;
    }
    return s.text;
}

size_t ProfileDocument::Find(std::string_view section) const {
    for (size_t i = 0; i < m_segments.size(); ++i)
        if (m_segments[i].header && NamesMatch(Name(m_segments[i]), section))
            return i;
    return npos;
}

std::optional<std::string> ProfileDocument::Get(std::string_view section,
                                                std::string_view key) const {
    const size_t i = Find(section);
    if (i == npos)
        return std::nullopt;
    const std::string_view text = Text(m_segments[i]);
    for (size_t pos = LineAt(text, 0).next; pos < text.size();) {
        const LineRef l = LineAt(text, pos);
        const std::string_view line = text.substr(l.begin, l.end - l.begin);
        if (auto k = KeyOf(line); k && NamesMatch(k->name, key))
            return std::string(ReadBack(line.substr(k->equals + 1)));
        pos = l.next;
    }
    return std::nullopt;
}

std::vector<std::string> ProfileDocument::SectionNames() const {
    NameList names;
    for (const Segment& s : m_segments)
        if (s.header)
            names.Add(Name(s));
    return names.Take();
}

std::vector<std::string> ProfileDocument::KeyNames(std::string_view section) const {
    NameList names;
    const size_t i = Find(section);
    if (i == npos)
        return {};
    const std::string_view text = Text(m_segments[i]);
    for (size_t pos = LineAt(text, 0).next; pos < text.size();) {
        const LineRef l = LineAt(text, pos);
        if (auto k = KeyOf(text.substr(l.begin, l.end - l.begin)))
            names.Add(k->name);
        pos = l.next;
    }
    return names.Take();
}

bool ProfileDocument::SameName(std::string_view a, std::string_view b) {
    return NamesMatch(a, b);
}

std::string_view ProfileDocument::ReadBack(std::string_view text) {
    return Unquote(Trim(text));
}

bool ProfileDocument::ValidSection(std::string_view section) {
    return section.find_first_of("]\r\n") == npos;
}

bool ProfileDocument::ValidKey(std::string_view key) {
    std::string_view t = Trim(key);
    return !t.empty() && t.front() != '[' && t.front() != ';' && key.find_first_of("=\r\n") == npos;
}

bool ProfileDocument::ValidValue(std::string_view value) {
    return value.find_first_of("\r\n") == npos;
}

std::string ProfileDocument::NewLineEnding() const {
    for (const Segment& s : m_segments) {
        const std::string_view text = Text(s);
        if (const size_t nl = text.find('\n'); nl != npos)
            return nl > 0 && text[nl - 1] == '\r' ? "\r\n" : "\n";
    }
    return "\n";
}

bool ProfileDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    const std::string eol = NewLineEnding();
    std::string line(Trim(key));
    line.append("=").append(value).append(eol);
    const size_t i = Find(section);
    if (i == npos) {
        if (!m_segments.empty()) {
            Segment& last = m_segments.back();
            if (Text(last).back() != '\n')
                Own(last) += eol;
        }
        Segment s;
        s.owned = true;
        s.header = true;
        s.name_pos = 1;
        s.name_length = Trim(section).size();
        s.text.append("[").append(Trim(section)).append("]").append(eol).append(line);
        m_segments.push_back(std::move(s));
        return true;
    }
    Segment& seg = m_segments[i];
    const std::string_view text = Text(seg);
    LineRef last = LineAt(text, 0);
    for (size_t pos = last.next; pos < text.size();) {
        const LineRef l = LineAt(text, pos);
        pos = l.next;
        const std::string_view current = text.substr(l.begin, l.end - l.begin);
        const auto k = KeyOf(current);
        if (!k)
            continue;
        last = l;
        if (!NamesMatch(k->name, key))
            continue;
        if (ReadBack(current.substr(k->equals + 1)) == ReadBack(value))
            return false;
        std::string replaced(current.substr(0, k->equals + 1));
        replaced.append(value);
        Own(seg).replace(l.begin, l.end - l.begin, replaced);
        return true;
    }
    std::string& owned = Own(seg);
    size_t at = last.next;
    if (last.next == last.end) {
        owned.insert(last.end, eol);
        at = last.end + eol.size();
    }
    owned.insert(at, line);
    return true;
}

bool ProfileDocument::DeleteKey(std::string_view section, std::string_view key) {
    const size_t i = Find(section);
    if (i == npos)
        return false;
    const std::string_view text = Text(m_segments[i]);
    std::string kept;
    bool changed = false;
    for (size_t pos = 0; pos < text.size();) {
        const LineRef l = LineAt(text, pos);
        const auto k = pos == 0 ? std::nullopt : KeyOf(text.substr(l.begin, l.end - l.begin));
        if (k && NamesMatch(k->name, key))
            changed = true;
        else
            kept.append(text.substr(l.begin, l.next - l.begin));
        pos = l.next;
    }
    if (changed) {
        Segment& seg = m_segments[i];
        seg.text = std::move(kept);
        seg.owned = true;
    }
    return changed;
}

bool ProfileDocument::EraseSection(std::string_view section) {
    bool changed = false;
    for (size_t i = 0; i < m_segments.size();) {
        if (!m_segments[i].header || !NamesMatch(Name(m_segments[i]), section)) {
            ++i;
            continue;
        }
        // A byte order mark on an erased first line stays with the file.
        const bool bom = i == 0 && Text(m_segments[0]).substr(0, 3) == kByteOrderMark;
        m_segments.erase(m_segments.begin() + static_cast<ptrdiff_t>(i));
        changed = true;
        if (bom) {
            Segment mark;
            mark.owned = true;
            mark.text = std::string(kByteOrderMark) + NewLineEnding();
            m_segments.insert(m_segments.begin(), std::move(mark));
            i = 1;
        }
    }
    return changed;
}

size_t ProfileDocument::Size() const {
    size_t n = 0;
    for (const Segment& s : m_segments)
        n += Text(s).size();
    return n;
}

std::string ProfileDocument::Content() const {
    std::string out;
    out.reserve(Size());
    for (const Segment& s : m_segments)
        out += Text(s);
    return out;
}

}  // namespace ronvix::win
