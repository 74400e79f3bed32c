// MultiByteToWideChar and WideCharToMultiByte between UTF-8, the platform's
// code page, and UTF-16. Text that is not valid in its encoding fails with
// ERROR_NO_UNICODE_TRANSLATION rather than passing on changed.
#include <windows.h>

#include <cstring>
#include <string>

namespace {

constexpr DWORD kNoUnicodeTranslation = 1113;  // ERROR_NO_UNICODE_TRANSLATION
constexpr DWORD kInsufficientBuffer = 122;     // ERROR_INSUFFICIENT_BUFFER

// The code points of UTF-8 `text`; false at a byte that starts no character.
bool decodeUtf8(const unsigned char *text, std::size_t length, std::u32string &points) {
    for (std::size_t i = 0; i < length;) {
        const unsigned char lead = text[i];
        const int extra = lead < 0x80           ? 0
                          : (lead >> 5) == 0x6  ? 1
                          : (lead >> 4) == 0xE  ? 2
                          : (lead >> 3) == 0x1E ? 3
                                                : -1;
        if (extra < 0 || i + std::size_t(extra) >= length) return false;
        char32_t point = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            if ((text[i + k] & 0xC0) != 0x80) return false;
            point = (point << 6) | (text[i + k] & 0x3F);
        }
        const char32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (point < least[extra] || point > 0x10FFFF || (point >= 0xD800 && point < 0xE000)) return false;
        points.push_back(point);
        i += std::size_t(extra) + 1;
    }
    return true;
}

// The code points of UTF-16 `wide`; false at a surrogate without its pair.
bool decodeUtf16(const WCHAR *wide, std::size_t length, std::u32string &points) {
    for (std::size_t i = 0; i < length; ++i) {
        const char32_t unit = wide[i];
        if (unit < 0xD800 || unit >= 0xE000) {
            points.push_back(unit);
            continue;
        }
        if (unit >= 0xDC00 || i + 1 >= length || wide[i + 1] < 0xDC00 || wide[i + 1] >= 0xE000) return false;
        points.push_back(0x10000 + ((unit - 0xD800) << 10) + (char32_t(wide[i + 1]) - 0xDC00));
        ++i;
    }
    return true;
}

// Copies `units` to `out` of room `size`, or says how many it needs when `size` is 0.
template <class Unit>
int deliver(const std::basic_string<Unit> &units, Unit *out, int size) {
    const int needed = static_cast<int>(units.size());
    if (size == 0) return needed;
    if (!out || size < needed) {
        SetLastError(kInsufficientBuffer);
        return 0;
    }
    std::memcpy(out, units.data(), units.size() * sizeof(Unit));
    return needed;
}

bool knownCodePage(UINT codePage) { return codePage == CP_ACP || codePage == CP_UTF8; }

}  // namespace

extern "C" int WINAPI MultiByteToWideChar(UINT codePage, DWORD, LPCSTR text, int count, LPWSTR wide, int size) {
    if (!text || count == 0 || count < -1 || size < 0 || !knownCodePage(codePage)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::size_t length = count == -1 ? std::strlen(text) + 1 : std::size_t(count);
    std::u32string points;
    if (!decodeUtf8(reinterpret_cast<const unsigned char *>(text), length, points)) {
        SetLastError(kNoUnicodeTranslation);
        return 0;
    }
    std::u16string units;
    for (const char32_t p : points) {
        if (p < 0x10000) {
            units.push_back(char16_t(p));
        } else {
            units.push_back(char16_t(0xD800 + ((p - 0x10000) >> 10)));
            units.push_back(char16_t(0xDC00 + ((p - 0x10000) & 0x3FF)));
        }
    }
    return deliver(units, wide, size);
}

extern "C" int WINAPI WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int count, LPSTR text, int size, LPCSTR,
                                          LPBOOL usedDefaultChar) {
    if (!wide || count == 0 || count < -1 || size < 0 || !knownCodePage(codePage)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (usedDefaultChar) *usedDefaultChar = FALSE;  // UTF-8 holds every character
    std::size_t length = 0;
    if (count == -1) {
        while (wide[length] != 0) ++length;
        ++length;
    } else {
        length = std::size_t(count);
    }
    std::u32string points;
    if (!decodeUtf16(wide, length, points)) {
        SetLastError(kNoUnicodeTranslation);
        return 0;
    }
    std::string bytes;
    for (const char32_t p : points) {
        if (p < 0x80) {
            bytes.push_back(char(p));
        } else if (p < 0x800) {
            bytes.push_back(char(0xC0 | (p >> 6)));
            bytes.push_back(char(0x80 | (p & 0x3F)));
        } else if (p < 0x10000) {
            bytes.push_back(char(0xE0 | (p >> 12)));
            bytes.push_back(char(0x80 | ((p >> 6) & 0x3F)));
            bytes.push_back(char(0x80 | (p & 0x3F)));
        } else {
            bytes.push_back(char(0xF0 | (p >> 18)));
            bytes.push_back(char(0x80 | ((p >> 12) & 0x3F)));
            bytes.push_back(char(0x80 | ((p >> 6) & 0x3F)));
            bytes.push_back(char(0x80 | (p & 0x3F)));
        }
    }
    return deliver(bytes, text, size);
}
