// INI text files as the profile functions read and write them: "[Section]"
// lines, "key=value" lines under them, ';' comment lines. Names compare
// without regard to ASCII case; names and values are trimmed of blanks and a
// value in matching quotes loses them. Everything else in a file (comments,
// blank lines, garbage, lines before the first section) is kept verbatim when
// a file is rewritten, so a write changes only the line it must.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plat {

// A value of the platform's own configuration (such as <root>/windows/
// system.ini); nothing when the file, section or key is missing.
std::optional<std::string> readIniValue(const std::filesystem::path &file, std::string_view section,
                                        std::string_view key);

// Every key of a section of such a file with its value, in file order;
// nothing when the file or the section is missing.
std::vector<std::pair<std::string, std::string>> readIniSection(const std::filesystem::path &file,
                                                                std::string_view section);

// The platform's own configuration under the platform root `root`:
// <root>/windows/system.ini, its name matched without regard to case.
std::filesystem::path systemIni(const std::filesystem::path &root);

namespace ini {

// The whole of a regular file, or nothing when it is missing or not a regular
// file. Reads no more than the size the file had when opened.
std::optional<std::string> readFile(const std::filesystem::path &file);

// Replaces `file` by `text` all at once: the text goes to a temporary file
// beside it, which is then renamed over it, so a crash never leaves half a
// file. False (and the old file untouched) when that cannot be done.
bool replaceFile(const std::filesystem::path &file, std::string_view text);

// The text of one INI file with the lookups and edits of the profile
// functions. Edits splice the text: a lookup or an edit scans the file once
// and allocates nothing beyond the text itself and its result, however
// hostile the file (overlong lines, NUL bytes, no line ends at all).
class Document {
public:
    Document() = default;
    explicit Document(std::string text);

    std::optional<std::string_view> value(std::string_view section, std::string_view key) const;
    bool hasSection(std::string_view section) const;
    // Section names in file order, each once.
    std::vector<std::string_view> sections() const;
    // Key names of a section in file order, each once.
    std::vector<std::string_view> keys(std::string_view section) const;

    // Replaces the key's line in place, or adds the key after the last
    // non-blank line of its section, or adds the section with the key at the
    // end of the file. New lines end in CR LF.
    void set(std::string_view section, std::string_view key, std::string_view value);
    // Removes the key's line (the first, if the key is there twice).
    void removeKey(std::string_view section, std::string_view key);
    // Removes every copy of the section with all its lines.
    void removeSection(std::string_view section);

    const std::string &text() const { return text_; }

private:
    std::string_view newline() const;
    void insertLine(std::size_t at, std::string_view line);

    std::string text_;
};

}  // namespace ini
}  // namespace plat
