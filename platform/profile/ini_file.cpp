#include "profile/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <unordered_set>
#include <utility>

#include "files/paths.h"

namespace plat {
namespace ini {

namespace {

constexpr std::size_t npos = std::string_view::npos;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
    a = trim(a);
    b = trim(b);
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

std::string lowered(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), lowerAscii);
    return out;
}

enum class Kind { Other, Section, Key };

// One line of the text: [begin, end) is its content without the line end,
// `next` the start of the following line.
struct Line {
    std::size_t begin = 0, end = 0, next = 0;
    Kind kind = Kind::Other;
    std::string_view name, value;
};

Line parseLine(std::string_view text, std::size_t begin, std::size_t end, std::size_t next) {
    Line line{begin, end, next, Kind::Other, {}, {}};
    std::string_view body = text.substr(begin, end - begin);
    if (begin == 0 && body.starts_with("\xEF\xBB\xBF")) body.remove_prefix(3);  // UTF-8 byte order mark
    while (!body.empty() && isBlank(body.front())) body.remove_prefix(1);
    if (body.empty() || body.front() == ';') return line;
    if (body.front() == '[') {
        body.remove_prefix(1);
        line.kind = Kind::Section;
        line.name = trim(body.substr(0, body.find(']')));  // no ']': the rest of the line
        return line;
    }
    const std::size_t eq = body.find('=');
    if (eq == npos) return line;
    std::string_view key = trim(body.substr(0, eq));
    if (key.empty()) return line;
    std::string_view value = trim(body.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    line.kind = Kind::Key;
    line.name = key;
    line.value = value;
    return line;
}

// Calls visit(line) for each line in order until it returns true.
template <class Visit>
void scan(std::string_view text, Visit visit) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        // A line ends at CR LF, LF or a CR alone (files of older tools).
        const std::size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
        std::size_t next = end;
        if (next < text.size())
            next += (text[next] == '\r' && next + 1 < text.size() && text[next + 1] == '\n') ? 2 : 1;
        if (visit(parseLine(text, pos, end, next))) return;
        pos = next;
    }
}

// Visits the key lines of every copy of `section`, in order, until
// visit(line) returns true.
template <class Visit>
void scanSection(std::string_view text, std::string_view section, Visit visit) {
    bool inSection = false;
    scan(text, [&](const Line &line) {
        if (line.kind == Kind::Section) inSection = sameName(line.name, section);
        return inSection && line.kind == Kind::Key && visit(line);
    });
}

std::optional<Line> findKey(std::string_view text, std::string_view section, std::string_view key) {
    std::optional<Line> found;
    scanSection(text, section, [&](const Line &line) {
        if (!sameName(line.name, key)) return false;
        found = line;
        return true;
    });
    return found;
}

}  // namespace

Document::Document(std::string text) : text_(std::move(text)) {}

std::optional<std::string_view> Document::value(std::string_view section, std::string_view key) const {
    if (auto line = findKey(text_, section, key)) return line->value;
    return std::nullopt;
}

bool Document::hasSection(std::string_view section) const {
    bool found = false;
    scan(text_, [&](const Line &line) { return found = line.kind == Kind::Section && sameName(line.name, section); });
    return found;
}

std::vector<std::string_view> Document::sections() const {
    std::vector<std::string_view> names;
    std::unordered_set<std::string> seen;
    scan(text_, [&](const Line &line) {
        if (line.kind == Kind::Section && seen.insert(lowered(line.name)).second) names.push_back(line.name);
        return false;
    });
    return names;
}

std::vector<std::string_view> Document::keys(std::string_view section) const {
    std::vector<std::string_view> names;
    std::unordered_set<std::string> seen;
    scanSection(text_, section, [&](const Line &line) {
        if (seen.insert(lowered(line.name)).second) names.push_back(line.name);
        return false;
    });
    return names;
}

// Lines the profile functions add end in CR LF, as the system writes them
// and its tools expect, whatever the file's other lines end in.
std::string_view Document::newline() const { return "\r\n"; }

void Document::insertLine(std::size_t at, std::string_view line) {
    std::string piece;
    // Only the last line of a file can lack its line end.
    if (at > 0 && text_[at - 1] != '\n' && text_[at - 1] != '\r') piece += newline();
    piece += line;
    piece += newline();
    text_.insert(at, piece);
}

void Document::set(std::string_view section, std::string_view key, std::string_view value) {
    if (auto line = findKey(text_, section, key)) {
        // Keep the line's indentation and the key as the file spells it.
        const std::size_t nameEnd = static_cast<std::size_t>(line->name.data() - text_.data()) + line->name.size();
        std::string replacement = "=";
        replacement += value;
        text_.replace(nameEnd, line->end - nameEnd, replacement);
        return;
    }
    std::string keyLine(key);
    keyLine += '=';
    keyLine += value;
    // After the last non-blank line of the first copy of the section.
    std::size_t insertAt = npos;
    int copy = 0;  // 1 while inside the first copy of the section
    scan(text_, [&](const Line &line) {
        if (line.kind == Kind::Section) {
            if (copy == 1) return true;
            if (sameName(line.name, section)) copy = 1;
        }
        if (copy == 1 && !trim(std::string_view(text_).substr(line.begin, line.end - line.begin)).empty())
            insertAt = line.next;
        return false;
    });
    if (insertAt != npos) {
        insertLine(insertAt, keyLine);
        return;
    }
    std::string header = "[";
    header += section;
    header += ']';
    insertLine(text_.size(), header);
    insertLine(text_.size(), keyLine);
}

void Document::removeKey(std::string_view section, std::string_view key) {
    if (auto line = findKey(text_, section, key)) text_.erase(line->begin, line->next - line->begin);
}

void Document::removeSection(std::string_view section) {
    std::vector<std::pair<std::size_t, std::size_t>> ranges;  // [begin, end) of each copy
    bool inSection = false;
    scan(text_, [&](const Line &line) {
        if (line.kind == Kind::Section) {
            if (inSection) ranges.back().second = line.begin;
            inSection = sameName(line.name, section);
            if (inSection) ranges.emplace_back(line.begin, text_.size());
        }
        return false;
    });
    for (auto it = ranges.rbegin(); it != ranges.rend(); ++it) text_.erase(it->first, it->second - it->first);
}

std::optional<std::string> readFile(const std::filesystem::path &file) {
    // Non-blocking, so that a FIFO put in a file's place cannot hang the open.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string data(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;  // the file shrank while being read
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    data.resize(got);
    return data;
}

bool replaceFile(const std::filesystem::path &file, std::string_view text) {
    std::string temp = file.string() + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = true;
    struct stat old {};
    // A file being replaced keeps its permissions; a new one is readable by all.
    ok = ::fchmod(fd, ::stat(file.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644) == 0;
    std::size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && std::rename(temp.c_str(), file.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

}  // namespace ini

std::optional<std::string> readIniValue(const std::filesystem::path &file, std::string_view section,
                                        std::string_view key) {
    auto text = ini::readFile(file);
    if (!text) return std::nullopt;
    ini::Document doc(std::move(*text));
    if (auto value = doc.value(section, key)) return std::string(*value);
    return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> readIniSection(const std::filesystem::path &file,
                                                                std::string_view section) {
    std::vector<std::pair<std::string, std::string>> values;
    auto text = ini::readFile(file);
    if (!text) return values;
    const ini::Document doc(std::move(*text));
    for (std::string_view key : doc.keys(section))
        if (auto value = doc.value(section, key)) values.emplace_back(std::string(key), std::string(*value));
    return values;
}

std::filesystem::path systemIni(const std::filesystem::path &root) { return entryIgnoringCase(root / "windows", "system.ini"); }

}  // namespace plat
