// Fuzzes the settings reader and what the program does with the values it
// reads. Any bytes must read without a crash or undefined behaviour, and:
// - the document reads and edits exactly like a plain line-by-line model of
//   the file rules (the reference below), so the section index it keeps
//   never changes what a stored file means;
// - an edit changes only what it names;
// - every value decodes losslessly (encoding the decoded text gives the
//   bytes back), parses as an integer consistently, and as a window
//   position lands on a screen without overflow.

#include <QList>
#include <QRect>
#include <QString>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win/profile_document.h"
#include "settings/values.h"

using ronvix::win::ProfileDocument;
namespace settings = ronvix::settings;

namespace {

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// The file rules applied line by line, with no index: the meaning the
// document must keep.
class Reference {
public:
    explicit Reference(std::string_view content) {
        size_t start = 0;
        while (start < content.size()) {
            const size_t nl = content.find('\n', start);
            if (nl == std::string_view::npos) {
                m_lines.push_back({std::string(content.substr(start)), ""});
                break;
            }
            const bool crlf = nl > start && content[nl - 1] == '\r';
            m_lines.push_back({std::string(content.substr(start, (crlf ? nl - 1 : nl) - start)),
                               crlf ? "\r\n" : "\n"});
            start = nl + 1;
        }
    }

    std::optional<std::string> Get(std::string_view section, std::string_view key) const {
        const size_t h = Find(section, 0);
        if (h == npos)
            return std::nullopt;
        for (size_t i = h + 1; i < End(h); ++i)
            if (const Parsed p = Parse(i); p.kind == kKey && ProfileDocument::SameName(p.name, key))
                return std::string(p.value);
        return std::nullopt;
    }

    std::vector<std::string> Sections() const {
        std::vector<std::string> out;
        for (size_t i = 0; i < m_lines.size(); ++i)
            if (const Parsed p = Parse(i); p.kind == kSection)
                AddOnce(out, p.name);
        return out;
    }

    std::vector<std::string> Keys(std::string_view section) const {
        std::vector<std::string> out;
        const size_t h = Find(section, 0);
        if (h != npos)
            for (size_t i = h + 1; i < End(h); ++i)
                if (const Parsed p = Parse(i); p.kind == kKey)
                    AddOnce(out, p.name);
        return out;
    }

    bool Set(std::string_view section, std::string_view key, std::string_view value) {
        const std::string eol = Eol();
        const std::string line = std::string(Trim(key)) + "=" + std::string(value);
        const size_t h = Find(section, 0);
        if (h == npos) {
            if (!m_lines.empty() && m_lines.back().eol.empty())
                EndLine(m_lines.size() - 1, eol);
            m_lines.push_back({"[" + std::string(Trim(section)) + "]", eol});
            m_lines.push_back({line, eol});
            return true;
        }
        size_t last = h;
        for (size_t i = h + 1; i < End(h); ++i) {
            const Parsed p = Parse(i);
            if (p.kind != kKey)
                continue;
            last = i;
            if (!ProfileDocument::SameName(p.name, key))
                continue;
            if (p.value == ProfileDocument::ReadBack(value))
                return false;
            m_lines[i].text = m_lines[i].text.substr(0, p.equals + 1) + std::string(value);
            return true;
        }
        if (m_lines[last].eol.empty())
            EndLine(last, eol);
        m_lines.insert(m_lines.begin() + static_cast<ptrdiff_t>(last + 1), {line, eol});
        return true;
    }

    bool DeleteKey(std::string_view section, std::string_view key) {
        const size_t h = Find(section, 0);
        if (h == npos)
            return false;
        bool changed = false;
        for (size_t i = h + 1, end = End(h); i < end;) {
            const Parsed p = Parse(i);
            if (p.kind == kKey && ProfileDocument::SameName(p.name, key)) {
                m_lines.erase(m_lines.begin() + static_cast<ptrdiff_t>(i));
                --end;
                changed = true;
            } else {
                ++i;
            }
        }
        return changed;
    }

    bool EraseSection(std::string_view section) {
        bool changed = false;
        for (size_t h = Find(section, 0); h != npos; h = Find(section, h)) {
            const bool bom = h == 0 && m_lines[0].text.starts_with(kBom);
            m_lines.erase(m_lines.begin() + static_cast<ptrdiff_t>(h),
                          m_lines.begin() + static_cast<ptrdiff_t>(End(h)));
            if (bom)
                m_lines.insert(m_lines.begin(), {std::string(kBom), Eol()});
            changed = true;
        }
        return changed;
    }

    std::string Content() const {
        std::string out;
        for (const auto& l : m_lines)
            out += l.text + l.eol;
        return out;
    }

private:
    static constexpr size_t npos = std::string::npos;
    static constexpr std::string_view kBom = "\xEF\xBB\xBF";
    enum Kind { kOther, kSection, kKey };
    struct Line {
        std::string text;
        std::string eol;
    };
    struct Parsed {
        Kind kind = kOther;
        std::string_view name;
        std::string_view value;
        size_t equals = 0;
    };

    Parsed Parse(size_t i) const {
        std::string_view text = m_lines[i].text;
        if (i == 0 && text.starts_with(kBom))
            text.remove_prefix(3);
        const std::string_view t = Trim(text);
        Parsed p;
        if (t.empty() || t.front() == ';')
            return p;
        if (t.front() == '[') {
            const size_t close = t.find(']');
            p.kind = kSection;
            p.name = Trim(t.substr(1, close == npos ? npos : close - 1));
        } else if (const size_t eq = text.find('='); eq != npos) {
            p.kind = kKey;
            p.name = Trim(text.substr(0, eq));
            p.value = ProfileDocument::ReadBack(text.substr(eq + 1));
            p.equals = eq + (m_lines[i].text.size() - text.size());
        }
        return p;
    }
    size_t Find(std::string_view section, size_t from) const {
        for (size_t i = from; i < m_lines.size(); ++i)
            if (const Parsed p = Parse(i);
                p.kind == kSection && ProfileDocument::SameName(p.name, section))
                return i;
        return npos;
    }
    size_t End(size_t header) const {
        size_t i = header + 1;
        while (i < m_lines.size() && Parse(i).kind != kSection)
            ++i;
        return i;
    }
    std::string Eol() const {
        for (const auto& l : m_lines)
            if (!l.eol.empty())
                return l.eol;
        return "\n";
    }
    // Gives the last line its ending. A line that ends in a lone "\r" then
    // ends in "\r\n", and is read as such, as a later read of the file
    // would read it.
    void EndLine(size_t i, const std::string& eol) {
        Line& l = m_lines[i];
        if (eol == "\n" && !l.text.empty() && l.text.back() == '\r') {
            l.text.pop_back();
            l.eol = "\r\n";
        } else {
            l.eol = eol;
        }
    }
    static void AddOnce(std::vector<std::string>& names, std::string_view name) {
        for (const auto& n : names)
            if (ProfileDocument::SameName(n, name))
                return;
        names.emplace_back(name);
    }

    std::vector<Line> m_lines;
};

// What the program does with a value: decode, read as an integer, read as
// a window position and place it on a few screen layouts.
void CheckValue(std::string_view bytes) {
    const QString text = settings::DecodeStoredText(bytes);
    Check(settings::EncodeStoredText(text) == bytes);
    const QString trimmed = text.trimmed();
    if (const auto n = settings::ParseInteger(trimmed))
        Check(settings::ParseInteger(QString::number(*n)) == n);

    const auto words = settings::PositionWords(trimmed);
    const settings::TRectL stored{words[0].value_or(0), words[1].value_or(0), words[2].value_or(0),
                                  words[3].value_or(0)};
    struct Layout {
        QList<QRect> screens;
        QRect work_area;
    };
    const Layout layouts[] = {
        {{}, QRect(0, 0, 800, 600)},
        {{QRect(0, 0, 1280, 1024), QRect(-1920, -200, 1920, 1080)}, QRect(0, 0, 1280, 994)},
        {{QRect(0, -30, 1024, 768)}, QRect(0, 0, 1024, 738)},
    };
    for (const Layout& layout : layouts) {
        for (const auto keep : {std::optional<QSize>(), std::optional(QSize(700, 545))}) {
            const auto placed =
                settings::PlacedNormalRect(stored, keep, layout.screens, layout.work_area);
            if (!placed)
                continue;
            const QRect frame(
                QPoint(placed->left, placed->top),
                QSize(placed->right - placed->left, std::max(placed->bottom - placed->top, 1)));
            bool on_screen = layout.screens.isEmpty() && frame.intersects(layout.work_area);
            for (const QRect& s : layout.screens)
                on_screen = on_screen || frame.intersects(s);
            Check(on_screen);
            if (keep)
                Check(frame.width() == keep->width());
        }
    }
}

// The first value of every (section, key) the reader sees.
std::map<std::pair<std::string, std::string>, std::string> Snapshot(const ProfileDocument& doc,
                                                                    const Reference& ref) {
    std::map<std::pair<std::string, std::string>, std::string> out;
    const auto sections = doc.SectionNames();
    Check(sections == ref.Sections());
    int n = 0;
    for (const auto& s : sections) {
        if (++n > 16)
            break;
        const auto keys = doc.KeyNames(s);
        Check(keys == ref.Keys(s));
        int k = 0;
        for (const auto& key : keys) {
            if (++k > 16)
                break;
            auto v = doc.Get(s, key);
            Check(v.has_value() && v == ref.Get(s, key));
            out[{s, key}] = *v;
        }
    }
    return out;
}

bool Edited(const std::pair<std::string, std::string>& name, const std::string& section,
            const std::string& key) {
    return ProfileDocument::SameName(name.first, section) &&
           ProfileDocument::SameName(name.second, key);
}

// Whether an entry the edit did not name still reads the same. The one
// exception: a value on a last line that ends in a lone "\r" (which, not
// being a blank, kept the blanks before it) reads as the text before the
// "\r" once the edit gives the line its "\n": its bytes stay, and end in
// "\r\n" as every later read of the file sees them.
bool Kept(const std::string& before, const std::optional<std::string>& after) {
    if (!after)
        return false;
    if (before == *after)
        return true;
    return !before.empty() && before.back() == '\r' &&
           ProfileDocument::ReadBack(std::string_view(before).substr(0, before.size() - 1)) ==
               *after;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckValue(text.substr(0, 256));
    ProfileDocument doc(text);
    Reference ref(text);
    Check(doc.Content() == text);  // reading changes nothing
    const auto before = Snapshot(doc, ref);
    for (const auto& [name, value] : before)
        CheckValue(value);

    // Edits named after what the file holds, so they meet its own lines.
    std::string section = "TMainForm";
    std::string key = "Flags";
    std::string value = "1";
    if (!before.empty()) {
        const auto& [name, v] = *before.begin();
        if (ProfileDocument::ValidSection(name.first))
            section = name.first;
        if (ProfileDocument::ValidKey(name.second))
            key = name.second;
        value = v + "2";
    }
    Check(doc.Set(section, key, value) == ref.Set(section, key, value));
    Check(doc.Content() == ref.Content());
    Check(doc.Get(section, key) == std::string(ProfileDocument::ReadBack(value)));
    for (const auto& [name, v] : Snapshot(doc, ref)) {
        if (Edited(name, section, key))
            continue;
        auto it = before.find(name);
        if (it != before.end())
            Check(Kept(it->second, v));
    }
    // The other entries seen before are all still there.
    for (const auto& [name, v] : before) {
        if (Edited(name, section, key))
            continue;
        Check(Kept(v, doc.Get(name.first, name.second)));
    }
    Check(doc.Set("New", "k", "v") == ref.Set("New", "k", "v"));

    Check(doc.DeleteKey(section, key) == ref.DeleteKey(section, key));
    Check(!doc.Get(section, key).has_value());
    Check(doc.Content() == ref.Content());
    Check(doc.EraseSection(section) == ref.EraseSection(section));
    Check(doc.Content() == ref.Content());
    for (const auto& s : doc.SectionNames())
        Check(!ProfileDocument::SameName(s, section));
    return 0;
}
