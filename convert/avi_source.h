// The images of an output AVI file, through the platform's reader, which
// treats the file as untrusted. Whatever is wrong with the file is said in
// words a person can act on.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace plat::avi {
class Reader;
}

namespace noctil::convert {

// One image: 8-bit R,G,B triplets, rows from the bottom of the image up (as
// FITS stores them; the AVI's 24-bit rows lie the same way).
struct Picture {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint8_t> rgb;

    // True when every pixel has three equal channels.
    bool grey() const;
};

// A 24-bit bottom-up DIB (header, then rows of B,G,R padded to 4 bytes) as
// a Picture; false when the DIB is too short for its header's size.
bool pictureFromDib24(std::span<const std::uint8_t> dib, Picture &out);

// The format's kind in words: "24-bit RGB", "MJPG" ...
std::string describeVideoFormat(std::span<const std::uint8_t> format);

class AviSource {
public:
    // Opens `file`; nullopt with `error` saying why it cannot be converted.
    // `warning` tells of a file that was cut off.
    static std::unique_ptr<AviSource> open(const std::filesystem::path &file, std::string &error, std::string &warning);
    ~AviSource();

    std::size_t imageCount() const;
    std::uint32_t width() const;
    std::uint32_t height() const;
    // Image `index` (from 0); false with `error` set when it cannot be read.
    bool read(std::size_t index, Picture &out, std::string &error) const;

private:
    explicit AviSource(std::unique_ptr<plat::avi::Reader> reader);
    std::unique_ptr<plat::avi::Reader> reader_;
    mutable std::vector<std::uint8_t> dib_;
};

// What an AVI file's first bytes and size say about it, before parsing:
// nullopt when it may be an AVI file, else why it is not one.
std::optional<std::string> notAnAviFile(std::span<const std::uint8_t> firstBytes, std::uint64_t size);

}  // namespace noctil::convert
