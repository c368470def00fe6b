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
bool SameAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

bool NamesMatch(std::string_view a, std::string_view b) {
    a = Trim(a);
    b = Trim(b);
    if (IsAscii(a) && IsAscii(b))
        return SameAscii(a, b);
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

ProfileDocument::ProfileDocument(std::string content)
    : m_original(std::make_shared<const std::string>(std::move(content))) {
    const std::string_view text = *m_original;
    // Section headers start the segments. A "[" starts a header only as the
    // first non-blank character of its line (after the byte order mark on
    // the first line), which the blanks before it tell.
    size_t start = 0;
    for (size_t pos = text.find('['); pos != npos; pos = text.find('[', pos + 1)) {
        size_t b = pos;
        while (b > 0 && IsBlank(text[b - 1]))
            --b;
        size_t line = npos;
        if (b == 0 || text[b - 1] == '\n')
            line = b;
        else if (b == kByteOrderMark.size() && text.substr(0, b) == kByteOrderMark)
            line = 0;
        if (line == npos || line == 0)
            continue;
        m_segments.push_back(Section(start, line));
        start = line;
    }
    if (!text.empty())
        m_segments.push_back(Section(start, text.size()));
}

ProfileDocument::Segment ProfileDocument::Section(size_t start, size_t end) const {
    Segment s;
    s.start = start;
    s.length = end - start;
    ReadHeader(s, std::string_view(*m_original).substr(start, end - start), start == 0);
    return s;
}

void ProfileDocument::ReadHeader(Segment& s, std::string_view text, bool first) {
    const LineRef line = LineAt(text, 0);
    const auto name = HeaderName(text.substr(line.begin, line.end - line.begin), first);
    s.header = name.has_value();
    if (name) {
        s.name_pos = static_cast<uint32_t>(name->data() - text.data());
        s.name_length = static_cast<uint32_t>(name->size());
        s.ascii = IsAscii(*name);
    }
}

void ProfileDocument::EndLastLine(size_t index, const std::string& eol) {
    Segment& s = m_segments[index];
    Own(s) += eol;
    // A header line that ended in a lone "\r" now ends in "\r\n", which
    // takes the "\r" out of the name.
    ReadHeader(s, Text(s), index == 0);
}

std::string_view ProfileDocument::Text(const Segment& s) const {
    return s.owned != kNotOwned ? std::string_view(m_owned[s.owned])
                                : std::string_view(*m_original).substr(s.start, s.length);
}

std::string_view ProfileDocument::Name(const Segment& s) const {
    return Text(s).substr(s.name_pos, s.name_length);
}

std::string& ProfileDocument::Own(Segment& s) {
    if (s.owned == kNotOwned) {
        m_owned.emplace_back(Text(s));
        s.owned = static_cast<uint32_t>(m_owned.size() - 1);
    }
    return m_owned[s.owned];
}

bool ProfileDocument::Names(const Segment& s, std::string_view name, bool ascii) const {
    if (!s.header)
        return false;
    // Most names are ASCII: most headers differ from the name in length.
    if (s.ascii && ascii)
        return s.name_length == name.size() && SameAscii(Name(s), name);
    return NamesMatch(Name(s), name);
}

size_t ProfileDocument::Find(std::string_view section) const {
    section = Trim(section);
    const bool ascii = IsAscii(section);
    for (size_t i = 0; i < m_segments.size(); ++i)
        if (Names(m_segments[i], section, ascii))
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
        if (!m_segments.empty() && Text(m_segments.back()).back() != '\n')
            EndLastLine(m_segments.size() - 1, eol);
        Segment s;
        s.header = true;
        s.name_pos = 1;
        s.name_length = static_cast<uint32_t>(Trim(section).size());
        s.ascii = IsAscii(Trim(section));
        Own(s).append("[").append(Trim(section)).append("]").append(eol).append(line);
        m_segments.push_back(s);
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
    size_t at = last.next;
    if (last.next == last.end) {
        EndLastLine(i, eol);
        at = Text(seg).size();
    }
    Own(seg).insert(at, line);
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
    if (changed)
        Own(m_segments[i]) = std::move(kept);
    return changed;
}

bool ProfileDocument::EraseSection(std::string_view section) {
    section = Trim(section);
    const bool ascii = IsAscii(section);
    bool changed = false;
    for (size_t i = 0; i < m_segments.size();) {
        if (!Names(m_segments[i], section, ascii)) {
            ++i;
            continue;
        }
        // A byte order mark on an erased first line stays with the file.
        const bool bom = i == 0 && Text(m_segments[0]).substr(0, 3) == kByteOrderMark;
        m_segments.erase(m_segments.begin() + static_cast<ptrdiff_t>(i));
        changed = true;
        if (bom) {
            Segment mark;
            Own(mark) = std::string(kByteOrderMark);
            m_segments.insert(m_segments.begin(), mark);
            m_owned[m_segments[0].owned] += NewLineEnding();
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

std::vector<std::string_view> ProfileDocument::Pieces() const {
    // Unedited neighbours are one range of the original text.
    std::vector<std::string_view> pieces;
    const Segment* previous = nullptr;
    for (const Segment& s : m_segments) {
        const std::string_view text = Text(s);
        if (previous && previous->owned == kNotOwned && s.owned == kNotOwned &&
            previous->start + previous->length == s.start)
            pieces.back() = std::string_view(pieces.back().data(), pieces.back().size() + s.length);
        else
            pieces.push_back(text);
        previous = &s;
    }
    return pieces;
}

std::string ProfileDocument::Content() const {
    std::string out;
    out.reserve(Size());
    for (const std::string_view piece : Pieces())
        out += piece;
    return out;
}

}  // namespace ronvix::win
