#include "platform/win/profile_document.h"

#include <QString>

namespace ronvix::win {

namespace {

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

// Names compare without regard to case: ASCII directly, other text through
// Unicode case folding of its UTF-8 reading.
bool NamesMatch(std::string_view a, std::string_view b) {
    a = Trim(a);
    b = Trim(b);
    if (IsAscii(a) && IsAscii(b)) {
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); ++i) {
            auto lower = [](char c) {
                return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
            };
            if (lower(a[i]) != lower(b[i]))
                return false;
        }
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

constexpr size_t npos = std::string::npos;

}  // namespace

ProfileDocument::ProfileDocument(std::string_view content) {
    size_t start = 0;
    while (start < content.size()) {
        const size_t nl = content.find('\n', start);
        if (nl == npos) {
            m_lines.push_back(Line{std::string(content.substr(start)), std::string()});
            break;
        }
        const bool crlf = nl > start && content[nl - 1] == '\r';
        const size_t end = crlf ? nl - 1 : nl;
        m_lines.push_back(Line{std::string(content.substr(start, end - start)),
                               std::string(crlf ? "\r\n" : "\n")});
        start = nl + 1;
    }
}

ProfileDocument::Parsed ProfileDocument::Parse(size_t index) const {
    std::string_view text = m_lines[index].text;
    // A byte order mark belongs to the file, not to the first line's meaning.
    if (index == 0 && text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    Parsed p;
    std::string_view t = Trim(text);
    if (t.empty()) {
        p.kind = Kind::Blank;
    } else if (t.front() == ';') {
        p.kind = Kind::Comment;
    } else if (t.front() == '[') {
        p.kind = Kind::Section;
        size_t close = t.find(']');
        p.name = Trim(t.substr(1, close == npos ? npos : close - 1));
    } else if (size_t eq = text.find('='); eq != npos) {
        p.kind = Kind::Key;
        p.name = Trim(text.substr(0, eq));
        p.value = Unquote(Trim(text.substr(eq + 1)));
        p.key_end = eq + (m_lines[index].text.size() - text.size());
    }
    return p;
}

size_t ProfileDocument::FindSection(std::string_view section, size_t from) const {
    for (size_t i = from; i < m_lines.size(); ++i) {
        Parsed p = Parse(i);
        if (p.kind == Kind::Section && NamesMatch(p.name, section))
            return i;
    }
    return npos;
}

size_t ProfileDocument::SectionEnd(size_t header) const {
    size_t i = header + 1;
    while (i < m_lines.size() && Parse(i).kind != Kind::Section)
        ++i;
    return i;
}

std::optional<std::string> ProfileDocument::Get(std::string_view section,
                                                std::string_view key) const {
    size_t header = FindSection(section);
    if (header == npos)
        return std::nullopt;
    size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i) {
        Parsed p = Parse(i);
        if (p.kind == Kind::Key && NamesMatch(p.name, key))
            return std::string(p.value);
    }
    return std::nullopt;
}

std::vector<std::string> ProfileDocument::SectionNames() const {
    std::vector<std::string> out;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        Parsed p = Parse(i);
        if (p.kind != Kind::Section)
            continue;
        bool seen = false;
        for (const auto& s : out)
            seen = seen || NamesMatch(s, p.name);
        if (!seen)
            out.emplace_back(p.name);
    }
    return out;
}

std::vector<std::string> ProfileDocument::KeyNames(std::string_view section) const {
    std::vector<std::string> out;
    size_t header = FindSection(section);
    if (header == npos)
        return out;
    size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i) {
        Parsed p = Parse(i);
        if (p.kind != Kind::Key)
            continue;
        bool seen = false;
        for (const auto& k : out)
            seen = seen || NamesMatch(k, p.name);
        if (!seen)
            out.emplace_back(p.name);
    }
    return out;
}

bool ProfileDocument::SameName(std::string_view a, std::string_view b) {
    return NamesMatch(a, b);
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
    for (const auto& l : m_lines)
        if (!l.eol.empty())
            return l.eol;
    return "\n";
}

bool ProfileDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    std::string eol = NewLineEnding();
    size_t header = FindSection(section);
    if (header == npos) {
        if (!m_lines.empty() && m_lines.back().eol.empty())
            m_lines.back().eol = eol;
        std::string header_text(1, '[');
        header_text.append(Trim(section)).push_back(']');
        m_lines.push_back(Line{std::move(header_text), eol});
        m_lines.push_back(Line{std::string(Trim(key)) + "=" + std::string(value), eol});
        return true;
    }
    size_t end = SectionEnd(header);
    size_t last_key = header;
    for (size_t i = header + 1; i < end; ++i) {
        Parsed p = Parse(i);
        if (p.kind != Kind::Key)
            continue;
        last_key = i;
        if (!NamesMatch(p.name, key))
            continue;
        std::string text = m_lines[i].text.substr(0, p.key_end) + "=" + std::string(value);
        if (text == m_lines[i].text)
            return false;
        m_lines[i].text = std::move(text);
        return true;
    }
    if (m_lines[last_key].eol.empty())
        m_lines[last_key].eol = eol;
    m_lines.insert(m_lines.begin() + static_cast<ptrdiff_t>(last_key + 1),
                   Line{std::string(Trim(key)) + "=" + std::string(value), eol});
    return true;
}

bool ProfileDocument::DeleteKey(std::string_view section, std::string_view key) {
    size_t header = FindSection(section);
    if (header == npos)
        return false;
    size_t end = SectionEnd(header);
    bool changed = false;
    for (size_t i = header + 1; i < end;) {
        Parsed p = Parse(i);
        if (p.kind == Kind::Key && NamesMatch(p.name, key)) {
            m_lines.erase(m_lines.begin() + static_cast<ptrdiff_t>(i));
            --end;
            changed = true;
        } else {
            ++i;
        }
    }
    return changed;
}

bool ProfileDocument::EraseSection(std::string_view section) {
    bool changed = false;
    for (size_t header = FindSection(section); header != npos;
         header = FindSection(section, header)) {
        size_t end = SectionEnd(header);
        // A byte order mark on an erased first line stays with the file.
        bool bom = header == 0 && m_lines[0].text.substr(0, 3) == "\xEF\xBB\xBF";
        m_lines.erase(m_lines.begin() + static_cast<ptrdiff_t>(header),
                      m_lines.begin() + static_cast<ptrdiff_t>(end));
        if (bom)
            m_lines.insert(m_lines.begin(), Line{"\xEF\xBB\xBF", NewLineEnding()});
        changed = true;
    }
    return changed;
}

std::string ProfileDocument::Content() const {
    std::string out;
    for (const auto& l : m_lines) {
        out += l.text;
        out += l.eol;
    }
    return out;
}

}  // namespace ronvix::win
