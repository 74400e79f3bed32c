#include "avi_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "avifile/avi_reader.h"

namespace noctil::convert {

namespace {

std::uint32_t le32(const std::uint8_t *p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

}  // namespace

bool Picture::grey() const {
    for (std::size_t i = 0; i + 2 < rgb.size(); i += 3)
        if (rgb[i] != rgb[i + 1] || rgb[i] != rgb[i + 2]) return false;
    return true;
}

bool pictureFromDib24(std::span<const std::uint8_t> dib, Picture &out) {
    if (dib.size() < 40) return false;
    const std::int32_t width = std::int32_t(le32(dib.data() + 4)), height = std::int32_t(le32(dib.data() + 8));
    if (width <= 0 || height <= 0 || le32(dib.data()) != 40) return false;
    const std::size_t stride = (std::size_t(width) * 3 + 3) & ~std::size_t{3};
    if ((dib.size() - 40) / stride < std::size_t(height)) return false;
    out.width = std::uint32_t(width);
    out.height = std::uint32_t(height);
    out.rgb.resize(std::size_t(width) * std::size_t(height) * 3);
    std::uint8_t *to = out.rgb.data();
    for (std::size_t y = 0; y < std::size_t(height); ++y) {
        const std::uint8_t *from = dib.data() + 40 + y * stride;
        for (std::size_t x = 0; x < std::size_t(width); ++x, from += 3, to += 3) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
    }
    return true;
}

std::string describeVideoFormat(std::span<const std::uint8_t> format) {
    if (format.size() < 40) return "a format without a bitmap header";
    const std::uint32_t compression = le32(format.data() + 16);
    const unsigned bits = unsigned(format[14]) | unsigned(format[15]) << 8;
    if (compression == 0) return std::to_string(bits) + "-bit RGB";
    if (compression == 1 || compression == 2) return std::to_string(bits) + "-bit run-length encoded RGB";
    if (compression == 3) return std::to_string(bits) + "-bit RGB with colour masks";
    std::string fourcc;
    for (int i = 0; i < 4; ++i) {
        const char c = char((compression >> (8 * i)) & 0xFF);
        fourcc += c >= 0x20 && c < 0x7F ? c : '?';
    }
    return "'" + fourcc + "'";
}

std::optional<std::string> notAnAviFile(std::span<const std::uint8_t> first, std::uint64_t size) {
    if (size < 12 || first.size() < 12) return "is too short to be an AVI file (" + std::to_string(size) + " bytes)";
    if (std::memcmp(first.data(), "RIFF", 4) != 0 || std::memcmp(first.data() + 8, "AVI ", 4) != 0)
        return "is not an AVI file (it does not begin with a RIFF 'AVI ' header)";
    return std::nullopt;
}

AviSource::AviSource(std::unique_ptr<plat::avi::Reader> reader) : reader_(std::move(reader)) {}
AviSource::~AviSource() = default;

std::unique_ptr<AviSource> AviSource::open(const std::filesystem::path &file, std::string &error,
                                           std::string &warning) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + file.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    std::uint8_t first[12] = {};
    const ssize_t got = ::pread(fd, first, sizeof first, 0);
    const off_t size = ::lseek(fd, 0, SEEK_END);
    ::close(fd);
    if (got < 0 || size < 0) {
        error = "cannot read " + file.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    if (auto why = notAnAviFile({first, std::size_t(got)}, std::uint64_t(size))) {
        error = file.string() + " " + *why;
        return nullptr;
    }
    auto reader = plat::avi::Reader::open(file);
    if (!reader) {
        error = file.string() + " is damaged: its headers are cut off or malformed, or it holds no video stream";
        return nullptr;
    }
    if (!reader->decodable()) {
        error = file.string() + " holds video in a format the converter cannot read (" +
                describeVideoFormat(reader->format()) + "); it reads uncompressed RGB, YUY2, UYVY and grey";
        return nullptr;
    }
    if (reader->frameCount() == 0) {
        error = file.string() + " holds no complete image";
        return nullptr;
    }
    const std::uint32_t claimed = reader->header().length;
    if (claimed > reader->frameCount())
        warning = file.string() + " is cut off: its header counts " + std::to_string(claimed) + " images, " +
                  std::to_string(reader->frameCount()) + " are complete; those are converted";
    return std::unique_ptr<AviSource>(new AviSource(std::move(reader)));
}

std::size_t AviSource::imageCount() const { return reader_->frameCount(); }
std::uint32_t AviSource::width() const { return reader_->width(); }
std::uint32_t AviSource::height() const { return reader_->height(); }

bool AviSource::read(std::size_t index, Picture &out, std::string &error) const {
    if (!reader_->decodeToDib24(index, dib_) || !pictureFromDib24(dib_, out)) {
        error = "image " + std::to_string(index + 1) + " cannot be read: its data is damaged";
        return false;
    }
    return true;
}

}  // namespace noctil::convert
