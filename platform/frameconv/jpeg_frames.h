// Motion-JPEG frames of a capture device decoded to 24-bit BGR rows, the
// layout the AVI library decodes as top-down BI_RGB. A frame is decoded
// whole into the decoder's own frame buffer first and handed over only when
// every row decoded cleanly: a damaged frame is refused whole, never drawn
// in part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace plat::frameconv {

class JpegDecoder {
public:
    JpegDecoder();
    ~JpegDecoder();
    JpegDecoder(const JpegDecoder &) = delete;
    JpegDecoder &operator=(const JpegDecoder &) = delete;

    // Makes room for frames of `width` x `height`: the one allocation, made
    // when the format is chosen, never per frame.
    void prepare(std::uint32_t width, std::uint32_t height);

    // Decodes `jpeg` into B,G,R rows (row 0 the top of the picture) of `out`,
    // `outStride` bytes apart, the rows' padding set to zero. False, with
    // `out` untouched and error() saying why, when the frame is not a JPEG
    // image of exactly the prepared size, or any part of it is damaged.
    bool decodeToBgr24(std::span<const std::uint8_t> jpeg, std::span<std::uint8_t> out, std::uint64_t outStride);

    // The last failure in plain words ("Corrupt JPEG data: premature end of
    // data segment").
    const char *error() const { return error_; }

private:
    struct Codec;
    std::unique_ptr<Codec> codec_;
    std::uint32_t width_ = 0, height_ = 0;
    std::vector<std::uint8_t> frame_;  // width_ x height_ x 3, rows unpadded
    char error_[200] = "";
};

}  // namespace plat::frameconv
