#pragma once
// The text of one private-profile (INI) file, read and edited with the
// platform's rules:
// - a line whose first non-blank character is "[" starts a section named by
//   the text up to "]" (blanks around the name ignored);
// - a line whose first non-blank character is ";" is a comment;
// - any other line with "=" is a key: the name before the first "=" and the
//   value after it, blanks around both ignored;
// - section and key names compare without regard to case; when a name
//   occurs twice, the first occurrence counts;
// - a value read loses its blanks at both ends and then one enclosing pair of
//   single or double quotes.
// Edits change only the lines they concern: every other line, its bytes and
// its line ending stay as they were. A value that already reads as the one
// being set is left as it is. The text need not be valid UTF-8; bytes pass
// through unchanged.
//
// Cost: reading a text finds its section headers and nothing else, so a
// large file is scanned once; a lookup or an edit then works on the lines
// of one section. A document is a value; copies share the text they were
// read from, so a copy costs its section table, not its text. Its const
// members may be used from several threads at once. Texts up to 4 GiB.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ronvix::win {

class ProfileDocument {
public:
    explicit ProfileDocument(std::string content = {});

    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    // Section names in file order, each name once.
    std::vector<std::string> SectionNames() const;
    // Key names of the section in file order, each once; empty when missing.
    std::vector<std::string> KeyNames(std::string_view section) const;

    // Whether two section or key names are the same name.
    static bool SameName(std::string_view a, std::string_view b);
    // What a value written as `text` reads back as: blanks at both ends and
    // then one enclosing pair of quotes removed.
    static std::string_view ReadBack(std::string_view text);

    // Whether a name can be written so that it reads back: no line breaks in
    // anything, no "]" in a section name, and a key that is not empty and has
    // no "=" and does not start like a section or a comment.
    static bool ValidSection(std::string_view section);
    static bool ValidKey(std::string_view key);
    static bool ValidValue(std::string_view value);

    // Edits. Each returns whether the text changed. Set writes the value
    // verbatim (the caller validates) unless the key already reads as it
    // would; a new key goes after the section's last key, a new section at
    // the end.
    bool Set(std::string_view section, std::string_view key, std::string_view value);
    // Removes every line of the key in the section.
    bool DeleteKey(std::string_view section, std::string_view key);
    // Removes every section of that name with all its lines.
    bool EraseSection(std::string_view section);

    std::string Content() const;
    size_t Size() const;
    // The content as consecutive pieces (what Content joins), so that a
    // large text can be written out without one more copy. Valid until the
    // next edit.
    std::vector<std::string_view> Pieces() const;

private:
    static constexpr uint32_t kNotOwned = UINT32_MAX;

    // A run of whole lines: the lines before the first section header, or
    // one section from its header line up to the next header. Unedited
    // segments are ranges of the text the document was read from; an edited
    // one has its own text in m_owned.
    struct Segment {
        size_t start = 0;  // in the original text, while not owned
        size_t length = 0;
        uint32_t owned = kNotOwned;  // index in m_owned
        uint32_t name_pos = 0;       // the section's name within the text
        uint32_t name_length = 0;
        bool header = false;  // starts with a section header line
        bool ascii = true;    // the name is ASCII (compared without Unicode)
    };

    std::string_view Text(const Segment& s) const;
    std::string_view Name(const Segment& s) const;
    std::string& Own(Segment& s);
    Segment Section(size_t start, size_t end) const;
    // Whether the segment starts with a header, and its name; `first` for
    // the document's first segment (which may start with a byte order mark).
    static void ReadHeader(Segment& s, std::string_view text, bool first);
    // Gives the segment's last line (the document's last) its ending.
    void EndLastLine(size_t index, const std::string& eol);
    // Whether a segment is a section of that name (trimmed, and whether it
    // is ASCII).
    bool Names(const Segment& s, std::string_view name, bool ascii) const;
    // The first segment of `section`, or npos.
    size_t Find(std::string_view section) const;
    std::string NewLineEnding() const;

    // Shared between copies: edits never change it.
    std::shared_ptr<const std::string> m_original;
    std::vector<Segment> m_segments;
    std::vector<std::string> m_owned;
};

}  // namespace ronvix::win
