#include "fake_v4l2.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/session.h"

namespace noctil::test {

using plat::avicap::v4l2::requestName;

namespace {

bool planar(std::uint32_t pixelFormat) {
    switch (pixelFormat) {
    case V4L2_PIX_FMT_YUV420:
    case V4L2_PIX_FMT_YVU420:
    case V4L2_PIX_FMT_NV12:
    case V4L2_PIX_FMT_NV21:
    case V4L2_PIX_FMT_YUV422P: return true;
    default: return false;
    }
}

std::uint32_t bytesPerPixel(std::uint32_t pixelFormat) {
    switch (pixelFormat) {
    case V4L2_PIX_FMT_GREY: return 1;
    case V4L2_PIX_FMT_BGR24:
    case V4L2_PIX_FMT_RGB24: return 3;
    case V4L2_PIX_FMT_XBGR32:
    case V4L2_PIX_FMT_ABGR32:
    case V4L2_PIX_FMT_BGR32: return 4;
    default: return 2;
    }
}

// Luma rows of planar formats, no row of a compressed one.
std::uint32_t bytesPerLineOf(std::uint32_t pixelFormat, std::uint32_t width) {
    if (pixelFormat == V4L2_PIX_FMT_MJPEG) return 0;
    return planar(pixelFormat) ? width : width * bytesPerPixel(pixelFormat);
}

std::size_t sizeImageOf(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t rows) {
    const std::size_t luma = std::size_t(width) * rows;
    if (pixelFormat == V4L2_PIX_FMT_MJPEG) return luma * 3;  // room for any frame
    if (pixelFormat == V4L2_PIX_FMT_YUV422P) return 2 * luma;
    if (planar(pixelFormat)) return luma + 2 * (std::size_t(width + 1) / 2) * ((rows + 1) / 2);
    return std::size_t(bytesPerLineOf(pixelFormat, width)) * rows;
}

template <std::size_t N>
void copyName(__u8 (&to)[N], const std::string &from) {
    std::memset(to, 0, N);
    std::memcpy(to, from.data(), std::min(from.size(), N - 1));
}

// The bytes of a row below the picture the device receives.
constexpr std::uint8_t kFlatRow = 0x10;

void markRow(std::uint8_t *row, std::uint32_t bytes, std::uint32_t y) {
    for (std::uint32_t i = 0; i + 1 < bytes; i += 2) row[i] = std::uint8_t(y & 0xFF), row[i + 1] = std::uint8_t(y >> 8);
}

}  // namespace

std::uint16_t fakeRowMark(const std::uint8_t *row) { return std::uint16_t(row[0] | row[1] << 8); }

struct FakeV4l2::State {
    FakeV4l2Device plan;
    std::uint32_t input = 0;
    v4l2_std_id standard = 0;
    std::uint32_t pixelFormat = 0, width = 0, height = 0;  // height of a whole frame
    std::vector<std::vector<std::uint8_t>> buffers;
    std::vector<std::uint32_t> queued;  // vectors, not deques: no allocation per frame once reserved
    struct Done {
        std::uint32_t index, sequence, flags, field, used;
    };
    std::vector<Done> done;
    bool streaming = false, gone = false, broken = false;
    plat::Micros streamStart = 0;
    std::uint32_t finished = 0;

    std::uint32_t bufferRows() const { return plan.field == V4L2_FIELD_ALTERNATE ? height / 2 : height; }
    std::uint32_t bytesPerLine() const { return bytesPerLineOf(pixelFormat, width); }
    std::size_t bufferBytes() const { return sizeImageOf(pixelFormat, width, bufferRows()); }
    plat::Micros nextFinish() const { return streamStart + plat::Micros(finished + 1) * plan.frameInterval; }

    // On a TV input the listed sizes are of 480-line video and follow the
    // standard's number of lines, as a capture card's do.
    std::uint32_t lines(std::uint32_t listedHeight) const {
        for (const FakeStandard &s : plan.standards)
            if (s.id == standard && !standardsOfInput().empty()) return listedHeight * s.lines / 480;
        return listedHeight;
    }

    const FakePixelFormat *findFormat(std::uint32_t pf) const {
        for (const FakePixelFormat &f : plan.formats)
            if (f.pixelFormat == pf) return &f;
        return nullptr;
    }

    // What the device makes of a requested format: its pixel format if it
    // has it (else its first), the nearest listed size.
    void adjust(v4l2_pix_format &pix) const {
        const FakePixelFormat *f = findFormat(pix.pixelformat);
        if (!f) f = &plan.formats.front();
        pix.pixelformat = f->pixelFormat;
        // A device whose buffers hold single fields takes the height asked
        // for as a field's: the frame it picks is the one nearest twice that.
        if (plan.field == V4L2_FIELD_ALTERNATE) pix.height *= 2;
        if (!f->sizes.empty()) {
            auto best = std::pair(f->sizes.front().first, lines(f->sizes.front().second));
            for (auto s : f->sizes) {
                s.second = lines(s.second);
                if (std::abs(int(s.first) - int(pix.width)) + std::abs(int(s.second) - int(pix.height)) <
                    std::abs(int(best.first) - int(pix.width)) + std::abs(int(best.second) - int(pix.height)))
                    best = s;
            }
            pix.width = best.first;
            pix.height = best.second;
        } else {
            pix.width = std::clamp<std::uint32_t>(pix.width, 16, 1920) & ~1u;
            pix.height = std::clamp<std::uint32_t>(pix.height, 16, 1080) & ~1u;
        }
        pix.field = plan.field;
        if (plan.field == V4L2_FIELD_ALTERNATE) pix.height /= 2;
        pix.bytesperline = bytesPerLineOf(pix.pixelformat, pix.width);
        pix.sizeimage = static_cast<std::uint32_t>(sizeImageOf(pix.pixelformat, pix.width, pix.height));
    }

    // Lines of picture the device receives: its standard's on a TV input (a
    // frame asked taller than that is flat below them), else the frame's.
    std::uint32_t pictureLines() const {
        const v4l2_std_id mask = plan.inputs.empty() ? 0 : plan.inputs[input].standards;
        for (const FakeStandard &s : plan.standards)
            if ((s.id & mask) && s.id == standard) return s.lines;
        return height;
    }

    // Picture row that row `r` of a finished buffer carries, by the layout.
    std::uint32_t pictureRow(std::uint32_t r, std::uint32_t field) const {
        const std::uint32_t half = height / 2;
        switch (plan.field) {
        case V4L2_FIELD_SEQ_TB: return r < half ? 2 * r : 2 * (r - half) + 1;
        case V4L2_FIELD_SEQ_BT: return r < half ? 2 * r + 1 : 2 * (r - half);
        case V4L2_FIELD_ALTERNATE: return 2 * r + (field == V4L2_FIELD_BOTTOM ? 1 : 0);
        default: return r;
        }
    }

    // Finishes every frame due by now into the oldest queued buffer; a frame
    // with no buffer queued is dropped.
    void advance(plat::Micros now) {
        while (streaming && !gone && nextFinish() <= now) {
            const std::uint32_t sequence = finished++;
            if (plan.disappearAfterFrames >= 0 && sequence >= std::uint32_t(plan.disappearAfterFrames)) {
                gone = true;
                return;
            }
            if (plan.fatalErrorAfterFrames >= 0 && sequence >= std::uint32_t(plan.fatalErrorAfterFrames)) {
                plan.fatalErrorAfterFrames = -1;  // once: a new stream works again
                broken = true;
                return;
            }
            if (queued.empty() || plan.dropsEveryFrame) continue;
            const std::uint32_t index = queued.front();
            queued.erase(queued.begin());
            const std::uint32_t field = plan.field == V4L2_FIELD_ALTERNATE
                                            ? std::uint32_t(sequence % 2 ? V4L2_FIELD_BOTTOM : V4L2_FIELD_TOP)
                                            : plan.field;
            std::uint32_t used = static_cast<std::uint32_t>(buffers[index].size());
            if (pixelFormat == V4L2_PIX_FMT_MJPEG && !plan.jpegFrames.empty()) {
                const std::vector<std::uint8_t> &jpeg = plan.jpegFrames[sequence % plan.jpegFrames.size()];
                used = static_cast<std::uint32_t>(std::min(jpeg.size(), buffers[index].size()));
                std::memcpy(buffers[index].data(), jpeg.data(), used);
            } else if (pixelFormat != V4L2_PIX_FMT_MJPEG) {
                const std::uint32_t lines = pictureLines();
                for (std::uint32_t r = 0; r < bufferRows(); ++r) {
                    std::uint8_t *row = buffers[index].data() + std::size_t(r) * bytesPerLine();
                    const std::uint32_t y = pictureRow(r, field);
                    if (y < lines)
                        markRow(row, bytesPerLine(), y);
                    else
                        std::memset(row, kFlatRow, bytesPerLine());
                }
            }
            done.push_back({index, sequence, plan.badFrames.count(sequence) ? V4L2_BUF_FLAG_ERROR : 0u, field, used});
        }
    }

    std::vector<const FakeStandard *> standardsOfInput() const {
        std::vector<const FakeStandard *> list;
        const v4l2_std_id mask = plan.inputs.empty() ? 0 : plan.inputs[input].standards;
        for (const FakeStandard &s : plan.standards)
            if (s.id & mask) list.push_back(&s);
        return list;
    }

    // The device as it comes up: its first format at 640 x 480, its first standard.
    void setUp() {
        if (!plan.formats.empty()) {
            v4l2_pix_format pix{};
            pix.pixelformat = plan.formats.front().pixelFormat;
            pix.width = plan.startSize.first;
            pix.height = plan.startSize.second;
            adjust(pix);
            pixelFormat = pix.pixelformat;
            width = pix.width;
            height = plan.field == V4L2_FIELD_ALTERNATE ? 2 * pix.height : pix.height;
        }
        if (!plan.standards.empty()) standard = plan.standards.front().id;
    }

    int handle(unsigned long request, void *arg);
};

int FakeV4l2::State::handle(unsigned long request, void *arg) {
    const plat::Micros now = plat::session().clock().now();
    switch (request) {
    case VIDIOC_QUERYCAP: {
        if (!plan.answersQueryCap) return ENOTTY;
        auto &cap = *static_cast<v4l2_capability *>(arg);
        cap = {};
        copyName(cap.driver, "fake");
        copyName(cap.card, plan.card);
        copyName(cap.bus_info, plan.bus);
        cap.device_caps = plan.deviceCaps;
        cap.capabilities = plan.deviceCaps | V4L2_CAP_DEVICE_CAPS;
        return 0;
    }
    case VIDIOC_ENUM_FMT: {
        auto &d = *static_cast<v4l2_fmtdesc *>(arg);
        if (d.index >= plan.formats.size()) return EINVAL;
        d.pixelformat = plan.formats[d.index].pixelFormat;
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        auto &s = *static_cast<v4l2_frmsizeenum *>(arg);
        const FakePixelFormat *f = findFormat(s.pixel_format);
        if (!f) return EINVAL;
        if (f->sizes.empty()) {
            if (s.index) return EINVAL;
            s.type = V4L2_FRMSIZE_TYPE_STEPWISE;
            s.stepwise = {16, 1920, 2, 16, 1080, 2};
            return 0;
        }
        if (s.index >= f->sizes.size()) return EINVAL;
        s.type = V4L2_FRMSIZE_TYPE_DISCRETE;
        s.discrete = {f->sizes[s.index].first, lines(f->sizes[s.index].second)};
        return 0;
    }
    case VIDIOC_TRY_FMT:
    case VIDIOC_S_FMT: {
        auto &fmt = *static_cast<v4l2_format *>(arg);
        if (fmt.type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return EINVAL;
        if (request == VIDIOC_S_FMT) {
            plan.log->sizesAsked.emplace_back(fmt.fmt.pix.width, fmt.fmt.pix.height);
            if (plan.setFormatError) return plan.setFormatError;
            if (plan.refusedFormats.count(fmt.fmt.pix.pixelformat)) return EINVAL;
            if (!buffers.empty()) return EBUSY;
        }
        adjust(fmt.fmt.pix);
        if (request == VIDIOC_S_FMT) {
            pixelFormat = fmt.fmt.pix.pixelformat;
            width = fmt.fmt.pix.width;
            height = plan.field == V4L2_FIELD_ALTERNATE ? 2 * fmt.fmt.pix.height : fmt.fmt.pix.height;
            plan.log->formatsSet.push_back(pixelFormat);
        }
        return 0;
    }
    case VIDIOC_G_FMT: {
        auto &fmt = *static_cast<v4l2_format *>(arg);
        fmt.fmt.pix = {};
        fmt.fmt.pix.pixelformat = pixelFormat;
        fmt.fmt.pix.width = width;
        fmt.fmt.pix.height = plan.field == V4L2_FIELD_ALTERNATE ? height / 2 : height;
        fmt.fmt.pix.field = plan.field;
        fmt.fmt.pix.bytesperline = bytesPerLine();
        fmt.fmt.pix.sizeimage = static_cast<std::uint32_t>(bufferBytes());
        return 0;
    }
    case VIDIOC_REQBUFS: {
        auto &r = *static_cast<v4l2_requestbuffers *>(arg);
        if (r.memory != V4L2_MEMORY_MMAP) return EINVAL;
        if (streaming) return EBUSY;
        buffers.clear();
        queued.clear();
        done.clear();
        r.count = std::min<std::uint32_t>(r.count, 4);
        queued.reserve(r.count);
        done.reserve(r.count);
        for (std::uint32_t i = 0; i < r.count; ++i) buffers.emplace_back(bufferBytes(), 0);
        return 0;
    }
    case VIDIOC_QUERYBUF: {
        auto &b = *static_cast<v4l2_buffer *>(arg);
        if (b.index >= buffers.size()) return EINVAL;
        b.length = static_cast<std::uint32_t>(buffers[b.index].size());
        b.m.offset = b.index * 0x100000u;
        return 0;
    }
    case VIDIOC_QBUF: {
        auto &b = *static_cast<v4l2_buffer *>(arg);
        if (b.index >= buffers.size()) return EINVAL;
        queued.push_back(b.index);
        return 0;
    }
    case VIDIOC_DQBUF: {
        auto &b = *static_cast<v4l2_buffer *>(arg);
        advance(now);
        if (gone) return ENODEV;
        if (broken) return EIO;
        if (done.empty()) return EAGAIN;
        const Done d = done.front();
        done.erase(done.begin());
        b.index = d.index;
        b.sequence = d.sequence;
        b.flags = d.flags;
        b.field = d.field;
        b.bytesused = d.used;
        return 0;
    }
    case VIDIOC_STREAMON:
        if (buffers.empty()) return EINVAL;
        streaming = true;
        streamStart = now;
        finished = 0;
        ++plan.log->streamOns;
        return 0;
    case VIDIOC_STREAMOFF:
        streaming = false;
        broken = false;
        queued.clear();
        done.clear();
        ++plan.log->streamOffs;
        return 0;
    case VIDIOC_ENUMINPUT: {
        auto &in = *static_cast<v4l2_input *>(arg);
        if (in.index >= plan.inputs.size()) return EINVAL;
        copyName(in.name, plan.inputs[in.index].name);
        in.type = V4L2_INPUT_TYPE_CAMERA;
        in.std = plan.inputs[in.index].standards;
        return 0;
    }
    case VIDIOC_G_INPUT: *static_cast<int *>(arg) = static_cast<int>(input); return 0;
    case VIDIOC_S_INPUT: {
        const auto index = static_cast<std::uint32_t>(*static_cast<int *>(arg));
        if (index >= plan.inputs.size()) return EINVAL;
        if (!buffers.empty()) return EBUSY;
        input = index;
        return 0;
    }
    case VIDIOC_ENUMSTD: {
        auto &s = *static_cast<v4l2_standard *>(arg);
        const auto list = standardsOfInput();
        if (list.empty()) return ENODATA;
        if (s.index >= list.size()) return EINVAL;
        s.id = list[s.index]->id;
        copyName(s.name, list[s.index]->name);
        return 0;
    }
    case VIDIOC_G_STD:
        if (standardsOfInput().empty()) return ENODATA;
        *static_cast<v4l2_std_id *>(arg) = standard;
        return 0;
    case VIDIOC_QUERYSTD:
        if (!plan.received) return ENOTTY;
        if (standardsOfInput().empty()) return ENODATA;
        *static_cast<v4l2_std_id *>(arg) = *plan.received;
        return 0;
    case VIDIOC_S_STD: {
        const v4l2_std_id id = *static_cast<v4l2_std_id *>(arg);
        if (id & plan.refusedStandards) return EINVAL;
        for (const FakeStandard *s : standardsOfInput())
            if (s->id & id) {
                if (!buffers.empty()) return EBUSY;
                standard = s->id;
                height = s->lines;  // a TV standard brings its own number of lines
                return 0;
            }
        return EINVAL;
    }
    case VIDIOC_QUERYCTRL: {
        auto &q = *static_cast<v4l2_queryctrl *>(arg);
        const bool next = q.id & V4L2_CTRL_FLAG_NEXT_CTRL;
        const std::uint32_t id = q.id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
        const FakeControl *found = nullptr;
        for (const FakeControl &c : plan.controls)
            if (next ? (c.id > id && (!found || c.id < found->id)) : c.id == id) found = &c;
        if (!found) return EINVAL;
        q = {};
        q.id = found->id;
        q.type = found->type;
        copyName(q.name, found->name);
        q.minimum = found->minimum;
        q.maximum = found->maximum;
        q.step = found->step;
        q.default_value = found->defaultValue;
        return 0;
    }
    case VIDIOC_QUERYMENU: {
        auto &m = *static_cast<v4l2_querymenu *>(arg);
        for (const FakeControl &c : plan.controls)
            if (c.id == m.id) {
                const std::int64_t i = std::int64_t(m.index) - c.minimum;
                if (i < 0 || i >= std::int64_t(c.menu.size())) return EINVAL;
                __u8 name[sizeof m.name];
                copyName(name, c.menu[std::size_t(i)]);
                std::memcpy(m.name, name, sizeof name);
                return 0;
            }
        return EINVAL;
    }
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL: {
        auto &v = *static_cast<v4l2_control *>(arg);
        for (FakeControl &c : plan.controls)
            if (c.id == v.id) {
                if (request == VIDIOC_G_CTRL) {
                    v.value = c.value;
                    return 0;
                }
                if (c.refusesSet) return EINVAL;
                if (v.value < c.minimum || v.value > c.maximum) return ERANGE;
                c.value = v.value;
                plan.log->controlsSet.push_back(v.value);
                return 0;
            }
        return EINVAL;
    }
    case VIDIOC_G_PARM: {
        auto &p = *static_cast<v4l2_streamparm *>(arg);
        p.parm.capture.timeperframe = {static_cast<std::uint32_t>(plan.frameInterval), 1000000};
        return 0;
    }
    default: return ENOTTY;
    }
}

FakeV4l2::FakeV4l2(std::vector<FakeV4l2Device> devices) {
    for (FakeV4l2Device &d : devices) {
        auto state = std::make_unique<State>();
        state->plan = std::move(d);
        state->setUp();
        const std::string node = state->plan.node;
        states_[node] = std::move(state);
    }
}

FakeV4l2::~FakeV4l2() = default;

std::vector<std::string> FakeV4l2::deviceNodes() {
    std::vector<std::string> nodes;
    for (const auto &[node, state] : states_) nodes.push_back(node);
    return nodes;
}

FakeV4l2Device &FakeV4l2::device(const std::string &node) { return states_.at(node)->plan; }

void FakeV4l2::unplug(const std::string &node) { states_.at(node)->gone = true; }

void FakeV4l2::breakStream(const std::string &node) { states_.at(node)->broken = true; }

void FakeV4l2::plugBackIn(const std::string &node, const std::string &newNode, FakeV4l2Device plan) {
    const std::string at = newNode.empty() ? node : newNode;
    // The old device's state lives on for its open handles; a node it
    // leaves is no longer listed.
    if (auto it = states_.find(node); it != states_.end()) {
        retired_.push_back(std::move(it->second));
        states_.erase(it);
    }
    plan.node = at;
    auto state = std::make_unique<State>();
    state->plan = std::move(plan);
    state->setUp();
    states_[at] = std::move(state);
}

FakeV4l2::State &FakeV4l2::stateOf(int fd) { return *open_.at(fd); }

int FakeV4l2::open(const std::string &path, int &fd) {
    const auto it = states_.find(path);
    if (it == states_.end()) return ENOENT;
    if (it->second->gone) return ENODEV;
    fd = nextFd_++;
    open_[fd] = it->second.get();
    ++it->second->plan.log->opens;
    return 0;
}

void FakeV4l2::close(int fd) {
    State &s = stateOf(fd);
    ++s.plan.log->closes;
    // Closing the last handle stops streaming and frees the buffers, as
    // the kernel does for the handle that owned them.
    s.streaming = false;
    s.broken = false;
    s.buffers.clear();
    s.queued.clear();
    s.done.clear();
    open_.erase(fd);
}

int FakeV4l2::ioctl(int fd, unsigned long request, void *argument) {
    State &s = stateOf(fd);
    s.plan.log->calls.push_back(requestName(request));
    if (s.plan.interruptOnce.erase(request)) return EINTR;
    if (s.gone) return ENODEV;
    return s.handle(request, argument);
}

int FakeV4l2::poll(int fd, std::optional<plat::Micros> deadline, plat::Clock &clock) {
    State &s = stateOf(fd);
    if (s.plan.interruptPollOnce) {
        s.plan.interruptPollOnce = false;
        return EINTR;
    }
    for (;;) {
        s.advance(clock.now());
        // A device gone or broken wakes the wait at once, as the kernel's
        // error condition does; dequeuing tells which it is.
        if (s.gone || s.broken || !s.done.empty()) return 0;
        if (!s.streaming) {
            if (!deadline) return EIO;  // a wait without end: the caller has a bug
            clock.sleepUntil(*deadline);
            return ETIMEDOUT;
        }
        const plat::Micros next = s.nextFinish();
        if (deadline && next > *deadline) {
            clock.sleepUntil(*deadline);
            return ETIMEDOUT;
        }
        clock.sleepUntil(next);
    }
}

int FakeV4l2::mmap(int fd, std::size_t length, std::int64_t offset, void *&address) {
    State &s = stateOf(fd);
    const std::size_t index = static_cast<std::size_t>(offset / 0x100000);
    if (index >= s.buffers.size() || s.buffers[index].size() != length) return EINVAL;
    address = s.buffers[index].data();
    ++s.plan.log->maps;
    return 0;
}

void FakeV4l2::munmap(void *address, std::size_t) {
    const auto unmapIn = [&](State &state) {
        for (const auto &buffer : state.buffers)
            if (buffer.data() == address) {
                ++state.plan.log->unmaps;
                return true;
            }
        return false;
    };
    for (auto &[node, state] : states_)
        if (unmapIn(*state)) return;
    for (auto &state : retired_)
        if (unmapIn(*state)) return;
}

std::shared_ptr<plat::avicap::v4l2::Io> noVideoDevices() {
    return std::make_shared<FakeV4l2>(std::vector<FakeV4l2Device>{});
}

}  // namespace noctil::test
