#include "avicap/v4l2/v4l2_io.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

namespace plat::avicap::v4l2 {

namespace {

class SystemIo final : public Io {
public:
    std::vector<std::string> deviceNodes() override {
        std::vector<std::pair<int, std::string>> found;
        std::error_code error;  // no /dev/ at all simply lists nothing
        for (const auto &entry : std::filesystem::directory_iterator("/dev", error)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("video", 0) != 0 || name.size() == 5) continue;
            const std::string digits = name.substr(5);
            if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
            if (digits.size() > 6) continue;
            found.emplace_back(std::stoi(digits), entry.path().string());
        }
        std::sort(found.begin(), found.end());
        std::vector<std::string> nodes;
        for (auto &[number, path] : found) nodes.push_back(std::move(path));
        return nodes;
    }

    // Non-blocking: a frame is waited for with poll, so that the wait can
    // end at the stream's deadline.
    int open(const std::string &path, int &fd) override {
        fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        return fd < 0 ? errno : 0;
    }

    void close(int fd) override { ::close(fd); }

    int ioctl(int fd, unsigned long request, void *argument) override {
        return ::ioctl(fd, request, argument) < 0 ? errno : 0;
    }

    int poll(int fd, std::optional<Micros> deadline, Clock &clock) override {
        int timeoutMs = -1;
        if (deadline) {
            const Micros left = *deadline - clock.now();
            timeoutMs = left <= 0 ? 0 : static_cast<int>(std::min<Micros>((left + 999) / 1000, 1 << 30));
        }
        pollfd p{fd, POLLIN, 0};
        const int n = ::poll(&p, 1, timeoutMs);
        if (n < 0) return errno;
        if (n == 0) return ETIMEDOUT;
        if (p.revents & POLLNVAL) return EBADF;
        // An error condition (a stream that broke, a device unplugged) is
        // answered as readable: dequeuing then gives the device's own errno,
        // EIO or ENODEV, which the user is told.
        return 0;
    }

    int mmap(int fd, std::size_t length, std::int64_t offset, void *&address) override {
        address = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, static_cast<off_t>(offset));
        if (address == MAP_FAILED) {
            address = nullptr;
            return errno;
        }
        return 0;
    }

    void munmap(void *address, std::size_t length) override { ::munmap(address, length); }
};

}  // namespace

std::shared_ptr<Io> systemIo() { return std::make_shared<SystemIo>(); }

const char *requestName(unsigned long request) {
    switch (request) {
    case VIDIOC_QUERYCAP: return "VIDIOC_QUERYCAP";
    case VIDIOC_ENUM_FMT: return "VIDIOC_ENUM_FMT";
    case VIDIOC_ENUM_FRAMESIZES: return "VIDIOC_ENUM_FRAMESIZES";
    case VIDIOC_G_FMT: return "VIDIOC_G_FMT";
    case VIDIOC_S_FMT: return "VIDIOC_S_FMT";
    case VIDIOC_TRY_FMT: return "VIDIOC_TRY_FMT";
    case VIDIOC_REQBUFS: return "VIDIOC_REQBUFS";
    case VIDIOC_QUERYBUF: return "VIDIOC_QUERYBUF";
    case VIDIOC_QBUF: return "VIDIOC_QBUF";
    case VIDIOC_DQBUF: return "VIDIOC_DQBUF";
    case VIDIOC_STREAMON: return "VIDIOC_STREAMON";
    case VIDIOC_STREAMOFF: return "VIDIOC_STREAMOFF";
    case VIDIOC_ENUMINPUT: return "VIDIOC_ENUMINPUT";
    case VIDIOC_G_INPUT: return "VIDIOC_G_INPUT";
    case VIDIOC_S_INPUT: return "VIDIOC_S_INPUT";
    case VIDIOC_ENUMSTD: return "VIDIOC_ENUMSTD";
    case VIDIOC_G_STD: return "VIDIOC_G_STD";
    case VIDIOC_S_STD: return "VIDIOC_S_STD";
    case VIDIOC_QUERYSTD: return "VIDIOC_QUERYSTD";
    case VIDIOC_QUERYCTRL: return "VIDIOC_QUERYCTRL";
    case VIDIOC_QUERYMENU: return "VIDIOC_QUERYMENU";
    case VIDIOC_G_CTRL: return "VIDIOC_G_CTRL";
    case VIDIOC_S_CTRL: return "VIDIOC_S_CTRL";
    case VIDIOC_G_PARM: return "VIDIOC_G_PARM";
    default: return "ioctl";
    }
}

}  // namespace plat::avicap::v4l2
