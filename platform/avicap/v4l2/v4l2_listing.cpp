#include "avicap/v4l2/v4l2_listing.h"

#include <algorithm>

#include "avicap/driver.h"

namespace plat::avicap::v4l2 {

namespace {

// Sizes tried on a device that offers a range of sizes rather than a list.
constexpr std::pair<std::uint32_t, std::uint32_t> kCommonSizes[] = {{160, 120}, {320, 240}, {352, 240}, {352, 288},
                                                                    {640, 480}, {720, 480}, {720, 576}, {768, 576}};

// The sizes of one pixel format, as the device lists them or, for a range,
// the common sizes it takes.
std::vector<FrameFormat> sizesOf(Device &device, std::uint32_t pixelFormat) {
    std::vector<FrameFormat> sizes;
    const auto add = [&](FrameFormat f) {
        if (f.width == 0 || f.height == 0 || std::find(sizes.begin(), sizes.end(), f) != sizes.end()) return;
        if (bitmapHeader(f).biSizeImage > kLargestFrameBytes) return;  // never offered: it could not be kept
        sizes.push_back(f);
    };
    // What the device makes of a size it is asked for.
    const auto tryIt = [&](std::uint32_t w, std::uint32_t h) {
        v4l2_format fmt{};
        fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        fmt.fmt.pix = {};
        fmt.fmt.pix.width = w;
        fmt.fmt.pix.height = h;
        fmt.fmt.pix.pixelformat = pixelFormat;
        fmt.fmt.pix.field = V4L2_FIELD_ANY;
        int code;
        if (!device.xioctlQuiet(VIDIOC_TRY_FMT, &fmt, code) || fmt.fmt.pix.pixelformat != pixelFormat) return;
        if (fmt.fmt.pix.field == V4L2_FIELD_ALTERNATE) {
            // Single fields: the size asked for is a frame, its field half as high.
            fmt.fmt.pix.width = w;
            fmt.fmt.pix.height = h / 2;
            if (!device.xioctlQuiet(VIDIOC_TRY_FMT, &fmt, code) || fmt.fmt.pix.pixelformat != pixelFormat) return;
        }
        const std::uint32_t rows =
            fmt.fmt.pix.field == V4L2_FIELD_ALTERNATE ? 2 * fmt.fmt.pix.height : fmt.fmt.pix.height;
        add({pixelFormat, fmt.fmt.pix.width, rows});
    };
    v4l2_frmsizeenum size{};
    size.index = 0;
    size.pixel_format = pixelFormat;
    int code;
    if (device.xioctlQuiet(VIDIOC_ENUM_FRAMESIZES, &size, code) && size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
        do add({pixelFormat, size.discrete.width, size.discrete.height});
        while (++size.index < 256 && device.xioctlQuiet(VIDIOC_ENUM_FRAMESIZES, &size, code));
    } else {
        // A range of sizes, or a device that does not say: the common sizes it takes.
        for (const auto &[w, h] : kCommonSizes) tryIt(w, h);
    }
    return sizes;
}

}  // namespace

std::vector<Input> listInputs(Device &device) {
    std::vector<Input> list;
    for (std::uint32_t i = 0; i < 64; ++i) {
        v4l2_input in{};
        in.index = i;
        int code;
        if (!device.xioctlQuiet(VIDIOC_ENUMINPUT, &in, code)) break;  // EINVAL past the last one
        list.push_back({in.index, nameText(in.name, sizeof in.name), in.std});
    }
    return list;
}

std::optional<std::uint32_t> currentInput(Device &device) {
    int index = 0;
    int code;
    if (!device.xioctlQuiet(VIDIOC_G_INPUT, &index, code)) return std::nullopt;
    return static_cast<std::uint32_t>(index);
}

bool selectInput(Device &device, std::uint32_t index) {
    int value = static_cast<int>(index);
    return device.xioctl(VIDIOC_S_INPUT, &value);
}

std::vector<Standard> listStandards(Device &device) {
    std::vector<Standard> list;
    for (std::uint32_t i = 0; i < 64; ++i) {
        v4l2_standard s{};
        s.index = i;
        int code;
        if (!device.xioctlQuiet(VIDIOC_ENUMSTD, &s, code)) break;  // EINVAL past the last, ENODATA: an input without
        list.push_back({s.id, nameText(s.name, sizeof s.name)});
    }
    return list;
}

std::optional<v4l2_std_id> currentStandard(Device &device) {
    v4l2_std_id id = 0;
    int code;
    if (!device.xioctlQuiet(VIDIOC_G_STD, &id, code)) return std::nullopt;
    return id;
}

bool selectStandard(Device &device, v4l2_std_id id) { return device.xioctl(VIDIOC_S_STD, &id); }

std::optional<v4l2_std_id> receivedStandard(Device &device) {
    v4l2_std_id id = 0;
    int code;
    if (!device.xioctlQuiet(VIDIOC_QUERYSTD, &id, code))
        return std::nullopt;  // ENODATA: no standards here; ENOTTY: cannot tell
    return id;
}

std::vector<FrameFormat> listFrameFormats(Device &device) {
    std::vector<FrameFormat> all;
    for (std::uint32_t i = 0; i < 256; ++i) {
        v4l2_fmtdesc d{};
        d.index = i;
        d.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        int code;
        if (!device.xioctlQuiet(VIDIOC_ENUM_FMT, &d, code)) break;  // EINVAL past the last one
        if (!decodable(d.pixelformat)) continue;
        for (const FrameFormat &f : sizesOf(device, d.pixelformat)) all.push_back(f);
    }
    return all;
}

std::optional<FrameFormat> currentFormat(Device &device) {
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (!device.xioctl(VIDIOC_G_FMT, &fmt)) return std::nullopt;
    const v4l2_pix_format &pix = fmt.fmt.pix;
    return FrameFormat{pix.pixelformat, pix.width, pix.field == V4L2_FIELD_ALTERNATE ? 2 * pix.height : pix.height};
}

std::vector<Control> listControls(Device &device) {
    std::vector<Control> list;
    v4l2_queryctrl q{};
    q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    int code;
    while (list.size() < 256 && device.xioctlQuiet(VIDIOC_QUERYCTRL, &q, code)) {
        const std::uint32_t id = q.id;
        // The standard picture and camera controls; a driver's private ones
        // (a test driver has dozens) stay out of the dialog.
        const bool standard = id < V4L2_CID_LASTP1 || V4L2_CTRL_ID2CLASS(id) == V4L2_CTRL_CLASS_CAMERA;
        const bool usable =
            standard && !(q.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY)) &&
            (q.type == V4L2_CTRL_TYPE_INTEGER || q.type == V4L2_CTRL_TYPE_BOOLEAN || q.type == V4L2_CTRL_TYPE_MENU);
        if (usable) {
            Control c{id,
                      nameText(q.name, sizeof q.name),
                      q.type,
                      q.minimum,
                      q.maximum,
                      std::max(q.step, 1),
                      q.default_value,
                      0,
                      {}};
            v4l2_control value{id, 0};
            c.value = device.xioctlQuiet(VIDIOC_G_CTRL, &value, code) ? value.value : q.default_value;
            if (q.type == V4L2_CTRL_TYPE_MENU)
                for (std::int32_t i = q.minimum; i <= q.maximum && i - q.minimum < 64; ++i) {
                    v4l2_querymenu m{};
                    m.id = id;
                    m.index = static_cast<std::uint32_t>(i);
                    if (device.xioctlQuiet(VIDIOC_QUERYMENU, &m, code))
                        c.menu.emplace_back(i, nameText(m.name, sizeof m.name));
                }
            list.push_back(std::move(c));
        }
        q = {};
        q.id = id | V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    return list;
}

bool setControl(Device &device, std::uint32_t id, std::int32_t value) {
    v4l2_control c{id, value};
    return device.xioctl(VIDIOC_S_CTRL, &c);
}

std::optional<Micros> nominalFrameInterval(Device &device) {
    v4l2_streamparm p{};
    p.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    int code;
    if (!device.xioctlQuiet(VIDIOC_G_PARM, &p, code)) return std::nullopt;
    const v4l2_fract &t = p.parm.capture.timeperframe;
    if (t.numerator == 0 || t.denominator == 0) return std::nullopt;
    return Micros{t.numerator} * 1000000 / t.denominator;
}

}  // namespace plat::avicap::v4l2
