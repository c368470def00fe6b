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
// its line ending stay as they were. The text need not be valid UTF-8; bytes
// pass through unchanged.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ronvix::win {

class ProfileDocument {
public:
    explicit ProfileDocument(std::string_view content = {});

    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    // Section names in file order, each name once.
    std::vector<std::string> SectionNames() const;
    // Key names of the section in file order, each once; empty when missing.
    std::vector<std::string> KeyNames(std::string_view section) const;

    // Whether a name can be written so that it reads back: no line breaks in
    // anything, no "]" in a section name, and a key that is not empty and has
    // no "=" and does not start like a section or a comment.
    // Whether two section or key names are the same name.
    static bool SameName(std::string_view a, std::string_view b);

    static bool ValidSection(std::string_view section);
    static bool ValidKey(std::string_view key);
    static bool ValidValue(std::string_view value);

    // Edits. Each returns whether the text changed. Set writes the value
    // verbatim (the caller validates); a new key goes after the section's
    // last key, a new section at the end.
    bool Set(std::string_view section, std::string_view key, std::string_view value);
    // Removes every line of the key in the section.
    bool DeleteKey(std::string_view section, std::string_view key);
    // Removes every section of that name with all its lines.
    bool EraseSection(std::string_view section);

    std::string Content() const;

private:
    struct Line {
        std::string text;  // without its line ending
        std::string eol;   // "\n", "\r\n" or "" (last line without one)
    };
    enum class Kind { Blank, Comment, Section, Key, Other };
    struct Parsed {
        Kind kind = Kind::Other;
        std::string_view name;   // section or key name, trimmed
        std::string_view value;  // key value, trimmed and unquoted
        size_t key_end = 0;      // position of "=" in a key line
    };
    Parsed Parse(size_t index) const;
    // Index of the first header of `section`, or npos.
    size_t FindSection(std::string_view section, size_t from = 0) const;
    // End (exclusive) of the section whose header is at `header`.
    size_t SectionEnd(size_t header) const;
    std::string NewLineEnding() const;

    std::vector<Line> m_lines;
};

}  // namespace ronvix::win
