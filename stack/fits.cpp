#include "fits.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <system_error>

namespace noctil::fits {

namespace {

constexpr std::size_t kBlock = 2880;
constexpr std::size_t kCard = 80;
constexpr std::uint32_t kLargestSide = 16384;

std::string printable(std::string_view s) {
    std::string out(s);
    for (char &c : out)
        if (c < 32 || c > 126) c = '?';
    return out;
}

// Pieces put together; a literal before a std::string trips GCC 12's
// restrict warning in std::string's insert.
std::string joined(std::initializer_list<std::string_view> parts) {
    std::string out;
    for (std::string_view p : parts) out.append(p);
    return out;
}

std::string padded(std::string s) {
    s.resize(kCard, ' ');
    return s;
}

// A value card: name, "= ", the value, then " / comment" as far as it fits.
std::string valueCard(const std::string &name, const std::string &value, const std::string &comment) {
    std::string card = printable(name).substr(0, 8);
    card.resize(8, ' ');
    card += "= ";
    card += value;
    if (value.size() < 20) card.append(20 - value.size(), ' ');  // the value field, as readers write it
    if (!comment.empty() && card.size() + 3 < kCard) {
        card += " / ";
        card += printable(comment);
    }
    return padded(card.substr(0, kCard));
}

std::string rightJustified(const std::string &value) {
    return value.size() >= 20 ? value : std::string(20 - value.size(), ' ') + value;
}

// Ones'-complement sum of big-endian 32-bit words, as the checksum convention adds.
std::uint32_t addWords(std::uint32_t sum, std::span<const std::uint8_t> bytes) {
    std::uint64_t s = sum;
    for (std::size_t i = 0; i + 3 < bytes.size(); i += 4) {
        s += std::uint32_t(bytes[i]) << 24 | std::uint32_t(bytes[i + 1]) << 16 | std::uint32_t(bytes[i + 2]) << 8 |
             bytes[i + 3];
        if (s >> 32) s = (s & 0xFFFFFFFFu) + (s >> 32);
    }
    return std::uint32_t(s);
}

// The sixteen characters of the CHECKSUM card for `value` (the complement
// of the sum without it), from the checksum convention's encoding.
std::string encodeChecksum(std::uint32_t value) {
    static constexpr int exclude[] = {0x3a, 0x3b, 0x3c, 0x3d, 0x3e, 0x3f, 0x40, 0x5b, 0x5c, 0x5d, 0x5e, 0x5f, 0x60};
    char ascii[16];
    for (int i = 0; i < 4; ++i) {
        const int byte = int(value >> (24 - 8 * i)) & 0xFF;
        const int quotient = byte / 4 + 0x30, remainder = byte % 4;
        int ch[4] = {quotient + remainder, quotient, quotient, quotient};
        // Readers compare the encoded text, so the adjustments go in the
        // convention's order: each excluded character, then each pair.
        for (bool check = true; check;) {
            check = false;
            for (int x : exclude)
                for (int k = 0; k < 4; k += 2)
                    if (ch[k] == x || ch[k + 1] == x) {
                        ++ch[k], --ch[k + 1];
                        check = true;
                    }
        }
        for (int j = 0; j < 4; ++j) ascii[4 * j + i] = char(ch[j]);
    }
    std::string out(16, ' ');
    for (int i = 0; i < 16; ++i) out[std::size_t(i)] = ascii[(i + 15) % 16];
    return out;
}

template <typename Value>
std::vector<std::uint8_t> assemble(int bitpix, const Axes &axes, std::span<const Value> values,
                                   const std::vector<Card> &cards) {
    std::string header;
    header += valueCard("SIMPLE", rightJustified("T"), "conforms to FITS standard");
    header += valueCard("BITPIX", rightJustified(std::to_string(bitpix)),
                        bitpix < 0 ? "32-bit floating point" : "8-bit unsigned");
    header += valueCard("NAXIS", rightJustified(axes.planes > 1 ? "3" : "2"), "number of axes");
    header += valueCard("NAXIS1", rightJustified(std::to_string(axes.width)), "width");
    header += valueCard("NAXIS2", rightJustified(std::to_string(axes.height)), "height");
    if (axes.planes > 1) header += valueCard("NAXIS3", rightJustified(std::to_string(axes.planes)), "planes: R, G, B");
    for (const Card &c : cards) header += formatCard(c);
    header += valueCard("DATASUM", "'0         '", "data unit checksum");
    const std::size_t datasumAt = header.size() - kCard;
    header += valueCard("CHECKSUM", "'0000000000000000'", "HDU checksum");
    const std::size_t checksumAt = header.size() - kCard;
    header += padded("END");
    header.resize((header.size() + kBlock - 1) / kBlock * kBlock, ' ');

    std::vector<std::uint8_t> bytes(header.begin(), header.end());
    const std::size_t dataAt = bytes.size();
    const std::size_t dataBytes = values.size() * sizeof(Value);
    bytes.resize(dataAt + (dataBytes + kBlock - 1) / kBlock * kBlock, 0);
    for (std::size_t i = 0; i < values.size(); ++i) {
        if constexpr (sizeof(Value) == 4) {
            const std::uint32_t bits = std::bit_cast<std::uint32_t>(values[i]);
            for (int b = 0; b < 4; ++b) bytes[dataAt + 4 * i + std::size_t(b)] = std::uint8_t(bits >> (24 - 8 * b));
        } else {
            bytes[dataAt + i] = values[i];
        }
    }
    const std::uint32_t datasum = addWords(0, std::span(bytes).subspan(dataAt));
    const std::string datasumValue = joined({"'", std::to_string(datasum), "'"});
    const std::string datasumCard = valueCard("DATASUM", datasumValue, "data unit checksum");
    std::copy(datasumCard.begin(), datasumCard.end(), bytes.begin() + std::ptrdiff_t(datasumAt));
    const std::uint32_t headerSum = addWords(0, std::span(bytes).first(dataAt));
    std::uint64_t total = std::uint64_t(headerSum) + datasum;
    if (total >> 32) total = (total & 0xFFFFFFFFu) + (total >> 32);
    const std::string checksumCard =
        valueCard("CHECKSUM", joined({"'", encodeChecksum(~std::uint32_t(total)), "'"}), "HDU checksum");
    std::copy(checksumCard.begin(), checksumCard.end(), bytes.begin() + std::ptrdiff_t(checksumAt));
    return bytes;
}

std::string trimmed(std::string_view s) {
    const auto b = s.find_first_not_of(' ');
    if (b == std::string_view::npos) return {};
    return std::string(s.substr(b, s.find_last_not_of(' ') - b + 1));
}

// The value of a card as Card: quoted text, T/F, an integer or a number;
// nullopt when the value is none of them.
std::optional<Card> parseValue(const std::string &name, std::string_view field) {
    Card c{Card::Kind::Text, name, {}, 0, 0, 0, {}};
    const std::string v = trimmed(field);
    if (!v.empty() && v[0] == '\'') {
        std::string text;
        std::size_t i = 1;
        for (; i < v.size(); ++i) {
            if (v[i] != '\'') {
                text += v[i];
            } else if (i + 1 < v.size() && v[i + 1] == '\'') {
                text += '\'';
                ++i;
            } else {
                break;
            }
        }
        if (i >= v.size()) return std::nullopt;  // no closing quote
        while (!text.empty() && text.back() == ' ') text.pop_back();
        c.text = text;
        return c;
    }
    const std::string token = trimmed(v.substr(0, v.find('/')));
    if (token == "T" || token == "F") {
        c.kind = Card::Kind::Logical;
        c.integer = token == "T";
        return c;
    }
    if (token.empty() || token.size() > 40) return std::nullopt;
    char *end = nullptr;
    const bool integral = token.find_first_of(".EeDd") == std::string::npos;
    std::string number = token;
    std::replace(number.begin(), number.end(), 'D', 'E');
    if (integral) {
        c.kind = Card::Kind::Integer;
        c.integer = std::strtoll(number.c_str(), &end, 10);
        c.number = double(c.integer);
    } else {
        c.kind = Card::Kind::Fixed;
        c.number = std::strtod(number.c_str(), &end);
    }
    if (end != number.c_str() + number.size() || !std::isfinite(c.number)) return std::nullopt;
    return c;
}

}  // namespace

Card text(std::string name, std::string value, std::string comment) {
    return {Card::Kind::Text, std::move(name), std::move(value), 0, 0, 0, std::move(comment)};
}
Card integer(std::string name, long long value, std::string comment) {
    return {Card::Kind::Integer, std::move(name), {}, value, 0, 0, std::move(comment)};
}
Card fixed(std::string name, double value, int decimals, std::string comment) {
    return {Card::Kind::Fixed, std::move(name), {}, 0, value, decimals, std::move(comment)};
}
Card logical(std::string name, bool value, std::string comment) {
    return {Card::Kind::Logical, std::move(name), {}, value ? 1 : 0, 0, 0, std::move(comment)};
}
Card comment(std::string text) { return {Card::Kind::Comment, "COMMENT", std::move(text), 0, 0, 0, {}}; }
Card history(std::string text) { return {Card::Kind::History, "HISTORY", std::move(text), 0, 0, 0, {}}; }

std::string formatCard(const Card &c) {
    switch (c.kind) {
    case Card::Kind::Text: {
        std::string quoted;
        for (char ch : printable(c.text).substr(0, 67)) quoted += ch == '\'' ? std::string("''") : std::string(1, ch);
        quoted = quoted.substr(0, 68);
        if (quoted.size() < 8) quoted.resize(8, ' ');
        return valueCard(c.name, joined({"'", quoted, "'"}), c.comment);
    }
    case Card::Kind::Integer: return valueCard(c.name, rightJustified(std::to_string(c.integer)), c.comment);
    case Card::Kind::Logical: return valueCard(c.name, rightJustified(c.integer ? "T" : "F"), c.comment);
    case Card::Kind::Fixed: {
        char number[64];
        std::snprintf(number, sizeof number, "%.*f", std::clamp(c.decimals, 0, 15),
                      std::isfinite(c.number) ? c.number : 0.0);
        return valueCard(c.name, rightJustified(number), c.comment);
    }
    case Card::Kind::Comment:
    case Card::Kind::History: {
        // Long text continues on further cards of the same keyword.
        const std::string t = printable(c.text);
        std::string cards;
        for (std::size_t at = 0; at < t.size() || at == 0; at += 72)
            cards += padded(
                joined({c.kind == Card::Kind::Comment ? "COMMENT " : "HISTORY ", std::string_view(t).substr(at, 72)}));
        return cards;
    }
    }
    return padded("COMMENT");
}

std::vector<std::uint8_t> fileBytes(const Axes &axes, std::span<const float> values, const std::vector<Card> &cards) {
    return assemble<float>(-32, axes, values, cards);
}

std::vector<std::uint8_t> fileBytes(const Axes &axes, std::span<const std::uint8_t> values,
                                    const std::vector<Card> &cards) {
    return assemble<std::uint8_t>(8, axes, values, cards);
}

bool writeNewFile(const std::filesystem::path &path, std::span<const std::uint8_t> bytes, std::string &error) {
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
        error = "cannot create " + path.string() + ": it exists";
        return false;
    }
    {
        std::ofstream out(path, std::ios::binary);
        if (!out) {
            error = "cannot create " + path.string();
            return false;
        }
        out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
        out.flush();
        if (out) return true;
    }
    error = "writing " + path.string() + " failed (is the disk full?)";
    std::filesystem::remove(path, ec);  // a file cut short is not left behind
    return false;
}

std::string utcText(std::int64_t utcMicros) {
    std::int64_t secs = utcMicros / 1000000, micros = utcMicros % 1000000;
    if (micros < 0) micros += 1000000, --secs;
    std::int64_t days = secs / 86400, rest = secs % 86400;
    if (rest < 0) rest += 86400, --days;
    // Civil date from days since 1970-01-01 (proleptic Gregorian).
    const std::int64_t z = days + 719468, era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097, yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1, m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = yoe + era * 400 + (m <= 2);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%06lld", (long long)y, (long long)m,
                  (long long)d, (long long)(rest / 3600), (long long)(rest / 60 % 60), (long long)(rest % 60),
                  (long long)micros);
    return text;
}

const Card *FloatImage::find(std::string_view name) const {
    for (const Card &c : cards)
        if (c.name == name) return &c;
    return nullptr;
}

std::optional<FloatImage> readFloatImage(std::span<const std::uint8_t> bytes, std::string &error) {
    const auto fail = [&error](std::string why) -> std::optional<FloatImage> {
        error = std::move(why);
        return std::nullopt;
    };
    if (bytes.size() < kBlock || std::memcmp(bytes.data(), "SIMPLE  =", 9) != 0) return fail("is not a FITS file");
    FloatImage image;
    std::size_t at = 0;
    bool ended = false;
    for (; at + kCard <= bytes.size(); at += kCard) {
        const std::string_view card(reinterpret_cast<const char *>(bytes.data() + at), kCard);
        const std::string name = trimmed(card.substr(0, 8));
        if (name == "END") {
            ended = true;
            at += kCard;
            break;
        }
        if (card.substr(8, 2) != "= " || name == "COMMENT" || name == "HISTORY") continue;
        const std::optional<Card> value = parseValue(name, card.substr(10));
        if (!value) return fail("has a header card that cannot be read (" + name + ")");
        image.cards.push_back(*value);
    }
    if (!ended) return fail("is cut short: its header has no end");
    const std::size_t dataAt = (at + kBlock - 1) / kBlock * kBlock;

    const auto number = [&](std::string_view key) -> std::optional<long long> {
        const Card *c = image.find(key);
        if (!c || c->kind != Card::Kind::Integer) return std::nullopt;
        return c->integer;
    };
    const Card *simple = image.find("SIMPLE");
    if (!simple || simple->kind != Card::Kind::Logical || !simple->integer) return fail("is not a standard FITS file");
    if (number("BITPIX") != -32) return fail("does not hold 32-bit float values");
    const auto naxis = number("NAXIS"), w = number("NAXIS1"), h = number("NAXIS2");
    const auto planes = naxis == 3 ? number("NAXIS3") : std::optional<long long>(1);
    if (!naxis || (*naxis != 2 && *naxis != 3) || !w || !h || !planes) return fail("does not have 2 or 3 axes");
    if (*w < 1 || *h < 1 || *w > kLargestSide || *h > kLargestSide || (*planes != 1 && *planes != 3))
        return fail("has axes out of range (" + std::to_string(*w) + " x " + std::to_string(*h) + " x " +
                    std::to_string(*planes) + ")");
    image.axes = {std::uint32_t(*w), std::uint32_t(*h), std::uint32_t(*planes)};
    const std::size_t dataBytes = image.axes.values() * 4;
    const std::size_t paddedData = (dataBytes + kBlock - 1) / kBlock * kBlock;
    if (bytes.size() < dataAt + paddedData) return fail("is cut short: its data end early");
    if (!image.find("CHECKSUM")) return fail("has no checksum, so it cannot be trusted");
    if (addWords(0, bytes.first(dataAt + paddedData)) != 0xFFFFFFFFu)
        return fail("is damaged or was edited by hand: its checksum does not hold");
    image.values.resize(image.axes.values());
    for (std::size_t i = 0; i < image.values.size(); ++i) {
        const std::uint8_t *b = bytes.data() + dataAt + 4 * i;
        const std::uint32_t bits =
            std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3];
        image.values[i] = std::bit_cast<float>(bits);
        if (!std::isfinite(image.values[i])) return fail("holds values that are not numbers");
    }
    return image;
}

}  // namespace noctil::fits
