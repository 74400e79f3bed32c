#include "test_jpeg.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include <jpeglib.h>

namespace noctil::test {

// The test picture: gradients and a pattern that differ per channel.
static std::vector<std::uint8_t> picture(std::uint32_t width, std::uint32_t height, int components) {
    std::vector<std::uint8_t> p(std::size_t(width) * height * components);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c)
                p[(std::size_t(y) * width + x) * components + c] =
                    std::uint8_t(x * (3 + c) + y * (5 - c) + ((x ^ y) & 8) * 4);
    return p;
}

std::vector<std::uint8_t> encodeTestJpeg(std::uint32_t width, std::uint32_t height, int components) {
    const std::vector<std::uint8_t> pixels = picture(width, height, components);
    jpeg_compress_struct c{};
    jpeg_error_mgr errors{};
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    unsigned char *data = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &data, &size);
    c.image_width = width;
    c.image_height = height;
    c.input_components = components;
    c.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 85, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<std::uint8_t *>(&pixels[std::size_t(c.next_scanline) * width * components]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<std::uint8_t> out(data, data + size);
    jpeg_destroy_compress(&c);
    std::free(data);
    return out;
}

std::vector<std::uint8_t> referenceBgr(const std::vector<std::uint8_t> &jpeg) {
    jpeg_decompress_struct d{};
    jpeg_error_mgr errors{};
    d.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, jpeg.data(), jpeg.size());
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    std::vector<std::uint8_t> rgb(std::size_t(d.output_width) * d.output_height * 3);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = &rgb[std::size_t(d.output_scanline) * d.output_width * 3];
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    for (std::size_t i = 0; i < rgb.size(); i += 3) std::swap(rgb[i], rgb[i + 2]);
    return rgb;
}

}  // namespace noctil::test
