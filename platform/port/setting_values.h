// The values of the [parallel] settings as text, read the same way by the
// platform's port configuration and by the Windows build's
// (windows/port/port_settings.cpp), which take the same keys. Standard C++
// only, so that both sides can include it.
#pragma once

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

namespace port_settings {

// ASCII lower case: backend names are compared without regard to case.
inline std::string lower(std::string text) {
    for (char &c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// A whole number in decimal, or in hexadecimal after 0x; nothing else.
inline std::optional<unsigned long> parseNumber(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    unsigned long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace port_settings
