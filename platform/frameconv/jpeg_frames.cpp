#include "frameconv/jpeg_frames.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace plat::frameconv {

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not
// return: it jumps back to the decode. A warning (damaged data that
// libjpeg would paper over, a truncated frame filled with grey) is kept
// too, so that such a frame is refused.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    int warnings;
    char *message;  // the decoder's error_, 200 bytes
};

void keepMessage(j_common_ptr cinfo) {
    auto *e = reinterpret_cast<ErrorManager *>(cinfo->err);
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    std::snprintf(e->message, 200, "%s", text);
}

[[noreturn]] void exitOnError(j_common_ptr cinfo) {
    keepMessage(cinfo);
    std::longjmp(reinterpret_cast<ErrorManager *>(cinfo->err)->jump, 1);
}

void noteMessage(j_common_ptr cinfo, int level) {
    auto *e = reinterpret_cast<ErrorManager *>(cinfo->err);
    if (level < 0 && e->warnings++ == 0) keepMessage(cinfo);
}

// Only plain data lives across the jump: no destructor is skipped.
bool decodeRows(jpeg_decompress_struct &d, ErrorManager &e, const std::uint8_t *data, std::size_t size,
                std::uint32_t width, std::uint32_t height, std::uint8_t *frame) {
    if (setjmp(e.jump)) {
        jpeg_abort_decompress(&d);
        return false;
    }
    e.warnings = 0;
    jpeg_mem_src(&d, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d, TRUE);
    if (d.image_width != width || d.image_height != height) {
        std::snprintf(e.message, 200, "a JPEG image of %ux%u in a %ux%u stream", d.image_width, d.image_height, width,
                      height);
        jpeg_abort_decompress(&d);
        return false;
    }
    d.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&d);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = frame + std::size_t(d.output_scanline) * width * 3;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    return e.warnings == 0;
}

}  // namespace

struct JpegDecoder::Codec {
    jpeg_decompress_struct decompress{};
    ErrorManager errors{};
};

JpegDecoder::JpegDecoder() : codec_(std::make_unique<Codec>()) {
    Codec &c = *codec_;
    c.decompress.err = jpeg_std_error(&c.errors.base);
    c.errors.base.error_exit = exitOnError;
    c.errors.base.emit_message = noteMessage;
    c.errors.message = error_;
    jpeg_create_decompress(&c.decompress);
}

JpegDecoder::~JpegDecoder() { jpeg_destroy_decompress(&codec_->decompress); }

void JpegDecoder::prepare(std::uint32_t width, std::uint32_t height) {
    width_ = width;
    height_ = height;
    frame_.assign(std::size_t(width) * height * 3, 0);
}

bool JpegDecoder::decodeToBgr24(std::span<const std::uint8_t> jpeg, std::span<std::uint8_t> out,
                                std::uint64_t outStride) {
    const std::uint64_t rowBytes = std::uint64_t(width_) * 3;
    if (width_ == 0 || height_ == 0 || outStride < rowBytes || out.size() < outStride * height_) {
        std::snprintf(error_, sizeof error_, "no room for a %ux%u frame", width_, height_);
        return false;
    }
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) {
        std::snprintf(error_, sizeof error_, "not a JPEG image (%zu bytes)", jpeg.size());
        return false;
    }
    if (!decodeRows(codec_->decompress, codec_->errors, jpeg.data(), jpeg.size(), width_, height_, frame_.data()))
        return false;
    for (std::uint32_t y = 0; y < height_; ++y) {
        std::uint8_t *to = out.data() + y * outStride;
        std::memcpy(to, frame_.data() + y * rowBytes, rowBytes);
        std::memset(to + rowBytes, 0, outStride - rowBytes);
    }
    return true;
}

}  // namespace plat::frameconv
