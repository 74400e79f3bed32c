#include "avicap/v4l2/v4l2_format.h"

#include "avifile/dib_decode.h"

namespace plat::avicap::v4l2 {

namespace {

DWORD fourcc(char a, char b, char c, char d) {
    return DWORD(std::uint8_t(a)) | DWORD(std::uint8_t(b)) << 8 | DWORD(std::uint8_t(c)) << 16 |
           DWORD(std::uint8_t(d)) << 24;
}

}  // namespace

std::optional<frameconv::PlanarLayout> planarLayout(std::uint32_t pixelFormat) {
    switch (pixelFormat) {
    case V4L2_PIX_FMT_YUV420: return frameconv::PlanarLayout::Yu12;
    case V4L2_PIX_FMT_YVU420: return frameconv::PlanarLayout::Yv12;
    case V4L2_PIX_FMT_NV12: return frameconv::PlanarLayout::Nv12;
    case V4L2_PIX_FMT_NV21: return frameconv::PlanarLayout::Nv21;
    case V4L2_PIX_FMT_YUV422P: return frameconv::PlanarLayout::Yuv422p;
    default: return std::nullopt;
    }
}

bool motionJpeg(std::uint32_t pixelFormat) {
    return pixelFormat == V4L2_PIX_FMT_MJPEG || pixelFormat == V4L2_PIX_FMT_JPEG;
}

bool decodable(std::uint32_t pixelFormat) {
    switch (pixelFormat) {
    case V4L2_PIX_FMT_YUYV:
    case V4L2_PIX_FMT_UYVY:
    case V4L2_PIX_FMT_GREY:
    case V4L2_PIX_FMT_BGR24:
    case V4L2_PIX_FMT_XBGR32:
    case V4L2_PIX_FMT_ABGR32:
    case V4L2_PIX_FMT_BGR32: return true;
    default: return planarLayout(pixelFormat).has_value() || motionJpeg(pixelFormat);
    }
}

std::uint32_t linesOf(v4l2_std_id id) {
    const bool lines525 = id & V4L2_STD_525_60, lines625 = id & V4L2_STD_625_50;
    if (lines525 == lines625) return 0;
    return lines525 ? 480 : 576;
}

std::string describeDeviceFormat(const FrameFormat &f) {
    std::string text = fourccText(f.pixelFormat) + " " + std::to_string(f.width) + "x" + std::to_string(f.height);
    if (planarLayout(f.pixelFormat)) text += ", as YUY2";
    if (motionJpeg(f.pixelFormat)) text += ", as 24-bit RGB";
    return text;
}

std::string fourccText(std::uint32_t pixelFormat) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((pixelFormat >> (8 * i)) & 0xFF);
        s += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return s;
}

// YUV and grey keep their own codes; the BGR formats are the platform's
// BI_RGB rows, top-down as the device delivers them (a negative height).
BITMAPINFOHEADER bitmapHeader(const FrameFormat &f) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = static_cast<LONG>(f.width);
    h.biHeight = static_cast<LONG>(f.height);
    h.biPlanes = 1;
    switch (f.pixelFormat) {
    case V4L2_PIX_FMT_YUYV:
        h.biBitCount = 16;
        h.biCompression = fourcc('Y', 'U', 'Y', '2');
        break;
    case V4L2_PIX_FMT_UYVY:
        h.biBitCount = 16;
        h.biCompression = fourcc('U', 'Y', 'V', 'Y');
        break;
    case V4L2_PIX_FMT_GREY:
        h.biBitCount = 8;
        h.biCompression = fourcc('Y', '8', '0', '0');
        break;
    case V4L2_PIX_FMT_BGR24:
        h.biBitCount = 24;
        h.biCompression = BI_RGB;
        h.biHeight = -h.biHeight;
        break;
    default:
        if (planarLayout(f.pixelFormat)) {
            h.biBitCount = 16;
            h.biCompression = fourcc('Y', 'U', 'Y', '2');
        } else if (motionJpeg(f.pixelFormat)) {
            h.biBitCount = 24;
            h.biCompression = BI_RGB;
            h.biHeight = -h.biHeight;
        } else {
            h.biBitCount = 32;
            h.biCompression = BI_RGB;
            h.biHeight = -h.biHeight;
        }
        break;
    }
    avi::SourceLayout layout;
    if (avi::sourceLayout({reinterpret_cast<const std::uint8_t *>(&h), sizeof h}, layout))
        h.biSizeImage = static_cast<DWORD>(layout.frameBytes);
    return h;
}

}  // namespace plat::avicap::v4l2
