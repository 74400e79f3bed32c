// The KERNEL profile functions over INI files (ini_file.h). Each call reads
// the file afresh and each write replaces the file whole, so two calls never
// see a half-written file and nothing is cached between them.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "files/paths.h"
#include "profile/ini_file.h"

namespace {

namespace fs = std::filesystem;

// A file named without a directory lives in the Windows directory (with
// Windows' disregard for letter case); any other name goes through the
// drive-letter mapping. Without a name the calls use win.ini, as Windows does.
fs::path profilePath(LPCSTR fileName) {
    std::string_view name = fileName ? fileName : "win.ini";
    if (name.find_first_of("\\/:") == std::string_view::npos)
        return plat::entryIgnoringCase(plat::windowsDirectory(), name);
    return plat::nativePath(name);
}

plat::ini::Document load(const fs::path &file) {
    auto text = plat::ini::readFile(file);
    return plat::ini::Document(text ? std::move(*text) : std::string());
}

// Copies `text` cut to `size` - 1 characters and a terminator; returns the
// number of characters copied.
DWORD copyText(std::string_view text, LPSTR buffer, DWORD size) {
    const std::size_t n = std::min<std::size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<DWORD>(n);
}

// Copies names as a list: each name with its terminator, then one more
// terminator. A list that does not fit is cut so that it still ends in two
// terminators, and the result is then size - 2, as Windows reports it.
DWORD copyList(const std::vector<std::string_view> &names, LPSTR buffer, DWORD size) {
    std::string list;
    for (std::string_view name : names) {
        list += name;
        list += '\0';
    }
    if (list.empty()) list += '\0';  // an empty list is two terminators too
    if (list.size() + 1 <= size) {
        std::memcpy(buffer, list.data(), list.size());
        buffer[list.size()] = '\0';
        return static_cast<DWORD>(names.empty() ? 0 : list.size());
    }
    if (size < 2) {
        buffer[0] = '\0';
        return 0;
    }
    std::memcpy(buffer, list.data(), size - 2);
    buffer[size - 2] = '\0';
    buffer[size - 1] = '\0';
    return size - 2;
}

// Numbers as the platform reads them: optional sign, then decimal digits or
// "0x" and hexadecimal digits, up to the first other character. Digits
// accumulate in 32 bits and wrap, so an overlong number is taken modulo 2^32;
// text without digits is 0.
UINT parseNumber(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    unsigned base = 10;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    std::uint32_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            break;
        value = value * base + digit;
    }
    return negative ? 0u - value : value;
}

bool hasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// Names and values that the file could not give back as written: they would
// split a line, end a section name early, or read as a comment or a section.
bool writable(LPCSTR section, LPCSTR key, LPCSTR text) {
    const std::string_view s = section;
    if (hasLineBreak(s) || s.find(']') != std::string_view::npos) return false;
    if (key) {
        std::string_view k = key;
        const std::size_t first = k.find_first_not_of(" \t");
        if (first == std::string_view::npos || k[first] == ';' || k[first] == '[') return false;
        if (hasLineBreak(k) || k.find('=') != std::string_view::npos) return false;
    }
    return !text || !hasLineBreak(text);
}

}  // namespace

extern "C" DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultText, LPSTR buffer,
                                                 DWORD size, LPCSTR fileName) {
    if (!buffer || size == 0) return 0;
    try {
        plat::ini::Document doc = load(profilePath(fileName));
        if (!section) return copyList(doc.sections(), buffer, size);
        if (!key) return copyList(doc.keys(section), buffer, size);
        // A value ends at a NUL byte, as a C string would.
        if (auto value = doc.value(section, key)) return copyText(value->substr(0, value->find('\0')), buffer, size);
        // The default loses its trailing blanks, as Windows does it.
        std::string_view fallback = defaultText ? defaultText : "";
        while (!fallback.empty() && (fallback.back() == ' ' || fallback.back() == '\t')) fallback.remove_suffix(1);
        return copyText(fallback, buffer, size);
    } catch (...) {
        // No memory or no session: nothing to read from.
        buffer[0] = '\0';
        return 0;
    }
}

extern "C" UINT WINAPI GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName) {
    if (!section || !key) return static_cast<UINT>(defaultValue);
    try {
        const plat::ini::Document doc = load(profilePath(fileName));
        auto value = doc.value(section, key);
        // An empty value counts as missing.
        if (!value || value->empty()) return static_cast<UINT>(defaultValue);
        return parseNumber(*value);
    } catch (...) {
        return static_cast<UINT>(defaultValue);
    }
}

extern "C" BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR text, LPCSTR fileName) {
    // All null asks Windows to flush its cache; there is none here.
    if (!section) return !key && !text ? TRUE : FALSE;
    if (!writable(section, key, text)) return FALSE;
    try {
        const fs::path file = profilePath(fileName);
        auto old = plat::ini::readFile(file);
        std::error_code ec;
        // Never replace what could not be read (a directory, an unreadable file).
        if (!old && fs::exists(fs::symlink_status(file, ec))) return FALSE;
        plat::ini::Document doc(old ? std::move(*old) : std::string());
        if (!key)
            doc.removeSection(section);
        else if (!text)
            doc.removeKey(section, key);
        else
            doc.set(section, key, text);
        if (old && doc.text() == *old) return TRUE;
        if (!old && doc.text().empty()) return TRUE;  // removing from a file that does not exist
        return plat::ini::replaceFile(file, doc.text()) ? TRUE : FALSE;
    } catch (...) {
        return FALSE;
    }
}
