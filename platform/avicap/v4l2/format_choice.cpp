#include "avicap/v4l2/format_choice.h"

#include <algorithm>
#include <tuple>

namespace plat::avicap::v4l2 {

namespace {

int familyRank(std::uint32_t pixelFormat) {
    switch (pixelFormat) {
    case V4L2_PIX_FMT_YUYV:
    case V4L2_PIX_FMT_UYVY: return 0;
    case V4L2_PIX_FMT_GREY: return 1;
    case V4L2_PIX_FMT_BGR24:
    case V4L2_PIX_FMT_XBGR32:
    case V4L2_PIX_FMT_ABGR32:
    case V4L2_PIX_FMT_BGR32: return 2;
    case V4L2_PIX_FMT_MJPEG:
    case V4L2_PIX_FMT_JPEG: return 4;
    default: return 3;  // planar YUV
    }
}

// Where a width stands among the full-frame widths of the standard; none
// when the format is not a full frame of it.
std::optional<int> fullFrameRank(const FrameFormat &f, std::uint32_t lines) {
    if (lines == 0 || f.height != lines) return std::nullopt;
    const std::uint32_t first = 720, second = lines == 576 ? 768 : 640;
    if (f.width == first) return 0;
    if (f.width == second) return 1;
    return std::nullopt;
}

}  // namespace

std::vector<std::size_t> formatPreference(const std::vector<FrameFormat> &formats,
                                          const std::optional<FrameFormat> &current, std::uint32_t lines) {
    // (group, rank within the group, family, list position): the smaller first.
    using Key = std::tuple<int, std::int64_t, int, std::size_t>;
    std::vector<std::pair<Key, std::size_t>> keyed;
    for (std::size_t i = 0; i < formats.size(); ++i) {
        const FrameFormat &f = formats[i];
        const int family = familyRank(f.pixelFormat);
        if (current && f == *current)
            keyed.push_back({{0, 0, 0, i}, i});
        else if (const auto rank = fullFrameRank(f, lines))
            keyed.push_back({{1, *rank, family, i}, i});
        else
            keyed.push_back({{2, -std::int64_t(f.width) * f.height, family, i}, i});
    }
    std::sort(keyed.begin(), keyed.end());
    std::vector<std::size_t> order;
    for (const auto &k : keyed) order.push_back(k.second);
    return order;
}

}  // namespace plat::avicap::v4l2
