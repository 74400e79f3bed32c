// Frame formats of capture drivers: their size in bytes and their words.
#include <algorithm>
#include <string>

#include "avicap/driver.h"

namespace plat::avicap {

BITMAPINFOHEADER makeFormat(int width, int height, int bitCount, DWORD compression) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bitCount);
    h.biCompression = compression;
    h.biSizeImage = 0;
    h.biSizeImage = static_cast<DWORD>(frameBytes(h));
    return h;
}

std::size_t frameBytes(const BITMAPINFOHEADER &format) {
    if (format.biSizeImage) return format.biSizeImage;
    const std::size_t width = static_cast<std::size_t>(std::max<LONG>(format.biWidth, 0));
    const std::size_t height = static_cast<std::size_t>(format.biHeight < 0 ? -format.biHeight : format.biHeight);
    const std::size_t stride = (width * format.biBitCount / 8 + 3) & ~std::size_t{3};
    return stride * height;
}

std::string describeFormat(const BITMAPINFOHEADER &format) {
    std::string kind;
    if (format.biCompression == BI_RGB)
        kind = std::to_string(format.biBitCount) + "-bit RGB";
    else if (format.biCompression == kFourccYUY2)
        kind = "YUY2";
    else
        for (int i = 0; i < 4; ++i) kind += static_cast<char>((format.biCompression >> (8 * i)) & 0xFF);
    const LONG height = format.biHeight < 0 ? -format.biHeight : format.biHeight;
    return std::to_string(format.biWidth) + " x " + std::to_string(height) + ", " + kind;
}

}  // namespace plat::avicap
