#include "imagelog/image_log.h"

#include <camport.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "core/session.h"
#include "core/utc.h"
#include "files/replace_file.h"
#include "files/write_seam.h"

namespace plat::imagelog {

namespace {

bool integrating(std::uint8_t level) { return (level & PORT_INTEGRATE_BITS) == PORT_INTEGRATE_BITS; }

}  // namespace

std::optional<PortExposure> lastExposure(std::span<const PortWrite> writes) {
    // Only the data register carries the camera's lines.
    const auto isData = [&](std::size_t i) { return writes[i].address == ParallelPort::kDataRegister; };
    // The last write of another level that follows an integration level
    // ends the exposure; one still running is passed over.
    std::size_t end = writes.size();
    std::optional<std::size_t> start;
    for (std::size_t i = writes.size(); i-- > 0 && !start;) {
        if (!isData(i)) continue;
        if (!integrating(writes[i].value))
            end = i;
        else if (end != writes.size())
            start = i;
    }
    // Back to the first integration write of its run.
    for (std::size_t i = start.value_or(0); start && i-- > 0;) {
        if (!isData(i)) continue;
        if (!integrating(writes[i].value)) break;
        start = i;
    }
    if (end == writes.size() || !start) return std::nullopt;
    PortExposure e{writes[*start].time, writes[end].time, 0};
    Micros since = e.start;
    bool ampOff = false;
    for (std::size_t i = *start; i <= end; ++i) {
        if (!isData(i)) continue;
        if (ampOff) e.ampOff += writes[i].time - since;
        since = writes[i].time;
        ampOff = (writes[i].value & PORT_AMPOFF_BIT) != 0;
    }
    return e;
}

namespace {

// The frame format's text into `text`: "640x480 RGB24", "720x576 YUY2".
void describeFrameFormatTo(const BITMAPINFOHEADER &f, char (&text)[64]) {
    const long height = f.biHeight < 0 ? -long{f.biHeight} : long{f.biHeight};
    if (f.biCompression == BI_RGB) {
        std::snprintf(text, sizeof text, "%ldx%ld RGB%u", long{f.biWidth}, height, unsigned{f.biBitCount});
    } else {
        char fourcc[5] = {};
        for (int i = 0; i < 4; ++i) {
            const char c = static_cast<char>((f.biCompression >> (8 * i)) & 0xFF);
            fourcc[i] = c >= 0x20 && c < 0x7F ? c : '?';
        }
        std::snprintf(text, sizeof text, "%ldx%ld %s", long{f.biWidth}, height, fourcc);
    }
}

}  // namespace

std::string describeFrameFormat(const BITMAPINFOHEADER &f) {
    char text[64];
    describeFrameFormatTo(f, text);
    return text;
}

LogLine composeLine(std::uint32_t image, std::span<const PortWrite> writes, const avicap::StreamRecord &readout,
                    UtcMicros utcOffset) {
    LogLine line;
    composeLineInto(image, writes, readout, utcOffset, line);
    return line;
}

void composeLineInto(std::uint32_t image, std::span<const PortWrite> writes, const avicap::StreamRecord &readout,
                     UtcMicros utcOffset, LogLine &line) {
    line.image = image;
    line.exposeStart.reset();
    line.exposeEnd.reset();
    line.ampOffMicros = 0;
    line.readoutFirst.reset();
    line.readoutLast.reset();
    line.readoutFrames = 0;
    line.driver.clear();
    line.format.clear();
    const std::optional<PortExposure> exposure = lastExposure(writes);
    if (exposure) {
        line.exposeStart = exposure->start + utcOffset;
        line.exposeEnd = exposure->end + utcOffset;
        line.ampOffMicros = exposure->ampOff;
    }
    // The readout of this exposure began while the port still held it.
    if (readout.seen && readout.frames > 0 && (!exposure || readout.start >= exposure->start)) {
        line.readoutFirst = readout.first + utcOffset;
        line.readoutLast = readout.last + utcOffset;
        line.readoutFrames = readout.frames;
        line.driver.assign(readout.driver, strnlen(readout.driver, sizeof readout.driver));
        char format[64];
        describeFrameFormatTo(readout.format, format);
        line.format.assign(format);
    }
}

std::unique_ptr<ImageLog> ImageLog::startBeside(const std::filesystem::path &avi) {
    const std::filesystem::path path = logPathFor(avi);
    const int fd = createReplacingFile(path.c_str(), O_APPEND);
    if (fd < 0) {
        std::fprintf(stderr, "image log: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
        return nullptr;
    }
    std::unique_ptr<ImageLog> log(new ImageLog(fd, path));
    std::string header(headerLine());
    header += '\n';
    log->writeText(header);
    return log;
}

ImageLog::~ImageLog() { ::close(fd_); }

void ImageLog::imageAppended(std::uint32_t image) {
    Session &s = session();
    const std::span<const PortWrite> writes = s.component<ParallelPort>().writes();
    const avicap::StreamRecord &readout = s.component<avicap::StreamRecords>().last(false);
    composeLineInto(image, writes, readout, utcOffset(s.clock()), line_);
    formatLineInto(line_, text_);
    writeText(text_);
}

// One write per line where the kernel allows it; interrupted and partial
// writes are continued.
bool ImageLog::writeText(std::string_view text) {
    WriteSeam *seam = writeSeam();
    while (!text.empty() && !failed_) {
        std::size_t n = text.size();
        if (seam) {
            // A kill due within this text: write up to it, then die there.
            const std::uint64_t budget = seam->bytesBeforeKill(WrittenFile::ImageLog);
            if (budget == 0) ::raise(SIGKILL);
            n = std::size_t(std::min<std::uint64_t>(n, budget));
        }
        const ssize_t done = ::write(fd_, text.data(), n);
        if (done < 0 && errno == EINTR) continue;
        if (done < 0) {
            std::fprintf(stderr, "image log: writing %s failed: %s\n", path_.c_str(), std::strerror(errno));
            failed_ = true;  // said once; the images go on without lines
            break;
        }
        if (seam) seam->wrote(WrittenFile::ImageLog, std::uint64_t(done));
        text.remove_prefix(std::size_t(done));
    }
    return !failed_;
}

}  // namespace plat::imagelog
