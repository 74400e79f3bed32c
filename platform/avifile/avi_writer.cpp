#include "avifile/avi_writer.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "avifile/dib_decode.h"
#include "avifile/riff.h"
#include "files/last_error.h"
#include "files/replace_file.h"
#include "files/write_seam.h"

namespace plat::avi {

namespace {

constexpr std::uint32_t kIndexHeader = 24;  // the fields of indx and ix00 before their entries
constexpr std::uint32_t kDmlhSize = 248;
constexpr std::uint32_t kOdmlSize = 4 + 8 + kDmlhSize;  // 'odml' and its dmlh chunk
// Index entries reserved at most at once: a RIFF of large frames is indexed
// without growing its index; one of tiny frames grows it past this.
constexpr std::uint64_t kIndexReserve = 4096;

// Appends little-endian fields to a byte buffer.
struct Bytes {
    std::vector<std::uint8_t> &v;
    void u8(std::uint8_t x) { v.push_back(x); }
    void u16(std::uint16_t x) { v.insert(v.end(), {std::uint8_t(x), std::uint8_t(x >> 8)}); }
    void u32(std::uint32_t x) {
        std::uint8_t b[4];
        put32(b, x);
        v.insert(v.end(), b, b + 4);
    }
    void u64(std::uint64_t x) {
        u32(std::uint32_t(x));
        u32(std::uint32_t(x >> 32));
    }
    void zeros(std::size_t n) { v.insert(v.end(), n, 0); }
    std::uint64_t pos() const { return v.size(); }
};

}  // namespace

std::unique_ptr<Writer> Writer::create(const std::filesystem::path &path, const StreamFormat &format,
                                       const WriterOptions &options) {
    const int fd = createReplacingFile(path.c_str());
    if (fd < 0) {
        setLastErrorFromErrno(errno, &path);
        return nullptr;
    }
    return createOnDescriptor(fd, format, options);
}

std::unique_ptr<Writer> Writer::createOnDescriptor(int fd, const StreamFormat &format, const WriterOptions &options) {
    std::unique_ptr<Writer> writer(new Writer);
    if (!writer->start(fd, format, options)) return nullptr;
    return writer;
}

bool Writer::start(int fd, const StreamFormat &format, const WriterOptions &options) {
    finish();
    options_ = options;
    fd_ = fd;
    avihTotalPos_ = avihBufferPos_ = strhLengthPos_ = strhBufferPos_ = 0;
    indxPos_ = odmlPos_ = dmlhTotalPos_ = 0;
    riffStart_ = moviStart_ = end_ = 0;
    firstRiff_ = true;
    openDml_ = failed_ = finished_ = false;
    totalFrames_ = largestChunk_ = superEntries_ = 0;
    bytesWritten_ = 0;
    riffIndex_.clear();
    if (fd_ >= 0 && writeHeader(format)) return true;
    if (fd_ >= 0) ::close(fd_);  // nothing to finish: the descriptor is just closed
    fd_ = -1;
    finished_ = true;
    return false;
}

Writer::~Writer() { finish(); }

bool Writer::writeHeader(const StreamFormat &format) {
    const auto &f = format.format;
    if (f.size() < 40 || f.size() > 0xFFFF || format.scale == 0 || format.rate == 0) return false;
    const std::uint32_t biSize = get32(f.data());
    const std::int32_t width = std::int32_t(get32(f.data() + 4));
    const std::int32_t height = std::int32_t(get32(f.data() + 8));
    const std::uint32_t compression = get32(f.data() + 16);
    if (biSize < 40 || biSize > f.size() || width <= 0 || height == 0 || height == INT32_MIN) return false;
    if (options_.superIndexEntries < 2) return false;
    format_ = f;

    std::uint32_t imageSize = get32(f.data() + 20);
    SourceLayout layout;
    if (imageSize == 0 && sourceLayout(f, layout) && layout.frameBytes <= UINT32_MAX)
        imageSize = std::uint32_t(layout.frameBytes);
    largestChunk_ = format.suggestedBufferSize ? format.suggestedBufferSize : imageSize;
    // YUV and grey formats carry their FourCC as the handler too; BI_RGB,
    // the RLEs and BI_BITFIELDS (0 to 3) have none.
    const std::uint32_t handler = format.fccHandler ? format.fccHandler : (compression > 3 ? compression : 0);
    const std::uint32_t w = std::uint32_t(width), h = std::uint32_t(std::abs(height));
    std::int16_t rect[4] = {format.frame[0], format.frame[1], format.frame[2], format.frame[3]};
    if (!rect[0] && !rect[1] && !rect[2] && !rect[3]) {
        rect[2] = std::int16_t(std::min<std::uint32_t>(w, 32767));
        rect[3] = std::int16_t(std::min<std::uint32_t>(h, 32767));
    }

    std::vector<std::uint8_t> &v = scratch_;
    v.clear();
    Bytes b{v};
    b.u32(kRiff), b.u32(0), b.u32(kAvi);
    const std::uint64_t hdrl = b.pos();
    b.u32(kList), b.u32(0), b.u32(kHdrl);
    b.u32(kAvih), b.u32(56);
    const std::uint64_t avih = b.pos();
    b.u32(std::uint32_t((1000000ull * format.scale + format.rate / 2) / format.rate));
    b.u32(0);  // dwMaxBytesPerSec
    b.u32(0);  // dwPaddingGranularity
    b.u32(kAvihFlags);
    b.u32(0);  // dwTotalFrames: frames of the first RIFF
    b.u32(0);  // dwInitialFrames
    b.u32(1);  // dwStreams
    b.u32(largestChunk_ ? largestChunk_ + 8 : 0);
    b.u32(w), b.u32(h);
    b.zeros(16);
    const std::uint64_t strl = b.pos();
    b.u32(kList), b.u32(0), b.u32(kStrl);
    b.u32(kStrh), b.u32(56);
    const std::uint64_t strh = b.pos();
    b.u32(kVids), b.u32(handler);
    b.u32(0);            // dwFlags
    b.u16(0), b.u16(0);  // wPriority, wLanguage
    b.u32(0);            // dwInitialFrames
    b.u32(format.scale), b.u32(format.rate);
    b.u32(0);  // dwStart
    b.u32(0);  // dwLength: all frames
    b.u32(largestChunk_);
    b.u32(0), b.u32(0);  // dwQuality, dwSampleSize
    for (std::int16_t r : rect) b.u16(std::uint16_t(r));
    b.u32(kStrf), b.u32(std::uint32_t(f.size()));
    v.insert(v.end(), f.begin(), f.end());
    if (f.size() & 1) b.u8(0);
    // Room for the super index, a JUNK chunk until it has its first entry:
    // an empty indx would make readers ignore idx1.
    indxPos_ = b.pos();
    b.u32(kJunk), b.u32(kIndexHeader + 16 * options_.superIndexEntries);
    b.zeros(kIndexHeader + 16 * std::size_t(options_.superIndexEntries));
    put32(v.data() + strl + 4, std::uint32_t(b.pos() - strl - 8));
    // Room for LIST 'odml', laid out in full, whose JUNK becomes LIST at the
    // first 'AVIX'.
    odmlPos_ = b.pos();
    b.u32(kJunk), b.u32(kOdmlSize), b.u32(kOdml), b.u32(kDmlh), b.u32(kDmlhSize);
    dmlhTotalPos_ = b.pos();
    b.zeros(kDmlhSize);
    put32(v.data() + hdrl + 4, std::uint32_t(b.pos() - hdrl - 8));
    moviStart_ = b.pos();
    b.u32(kList), b.u32(4), b.u32(kMovi);
    put32(v.data() + 4, std::uint32_t(b.pos() - 8));

    avihTotalPos_ = avih + 16;
    avihBufferPos_ = avih + 28;
    strhLengthPos_ = strh + 32;
    strhBufferPos_ = strh + 36;
    riffStart_ = 0;
    const std::span<const std::uint8_t> part(v);
    if (!writeAt(0, {&part, 1})) return false;
    end_ = v.size();
    return true;
}

bool Writer::writeAt(std::uint64_t pos, std::span<const std::span<const std::uint8_t>> parts) {
    iovec iov[4];
    int count = 0;
    std::uint64_t total = 0;
    for (auto part : parts) {
        if (part.empty()) continue;
        if (count == 4) return false;
        iov[count++] = {const_cast<std::uint8_t *>(part.data()), part.size()};
        total += part.size();
    }
    bool killNow = false;
    WriteSeam *seam = writeSeam();
    if (seam) {
        // A kill due within these bytes: write exactly up to it, then die as
        // a killed process would.
        std::uint64_t budget = seam->bytesBeforeKill(WrittenFile::Avi);
        if (budget != UINT64_MAX && total >= budget) {
            int kept = 0;
            for (; kept < count && budget > 0; ++kept) {
                iov[kept].iov_len = std::min<std::uint64_t>(iov[kept].iov_len, budget);
                budget -= iov[kept].iov_len;
            }
            count = kept;
            killNow = true;
        }
        // A drive these bytes would overfill fails the write as a full disk does.
        if (!seam->hasRoom(fd_, pos + total)) {
            setLastErrorFromErrno(ENOSPC);
            return false;
        }
    }
    iovec *cur = iov;
    while (count > 0) {
        const ssize_t n = ::pwritev(fd_, cur, count, off_t(pos));
        if (n < 0 && errno == EINTR) continue;  // interrupted before writing: try again
        if (n <= 0) {
            setLastErrorFromErrno(n < 0 ? errno : EIO);
            return false;
        }
        pos += std::uint64_t(n);
        bytesWritten_ += std::uint64_t(n);
        if (seam) seam->wrote(WrittenFile::Avi, std::uint64_t(n));
        std::size_t left = std::size_t(n);
        while (count > 0 && left >= cur->iov_len) {
            left -= cur->iov_len;
            ++cur, --count;
        }
        if (count > 0) {
            cur->iov_base = static_cast<std::uint8_t *>(cur->iov_base) + left;
            cur->iov_len -= left;
        }
    }
    if (killNow) std::raise(SIGKILL);
    return true;
}

bool Writer::patch32(std::uint64_t pos, std::uint32_t value) {
    std::uint8_t b[4];
    put32(b, value);
    const std::span<const std::uint8_t> part(b, 4);
    return writeAt(pos, {&part, 1});
}

void Writer::cutBackTo(std::uint64_t end) {
    // Drops what a failed write left past the last complete chunk, so that
    // readers never meet a torn chunk there. If this fails too (the file is
    // gone), the sizes in the headers still end at `end`.
    if (::ftruncate(fd_, off_t(end)) != 0) return;
}

std::uint64_t Writer::closingBytes(std::uint32_t frames) const {
    std::uint64_t bytes = 8 + kIndexHeader + 8ull * frames;  // ix00
    if (firstRiff_) bytes += 8 + 16ull * frames;             // idx1
    return bytes;
}

bool Writer::append(std::span<const std::uint8_t> frame, bool keyFrame) {
    if (failed_ || finished_ || frame.empty() || frame.size() >= kIxNotKeyFrame) return false;
    const std::uint32_t size = std::uint32_t(frame.size());
    const std::uint64_t chunk = 8 + padded(size);
    const auto fits = [&] {
        return end_ + chunk + closingBytes(std::uint32_t(riffIndex_.size()) + 1) - riffStart_ <= options_.riffLimit;
    };
    if (!fits()) {
        if (riffIndex_.empty() || !startNextRiff() || !fits()) return false;
    }
    std::uint8_t header[8];
    put32(header, kFrame00);
    put32(header + 4, size);
    static constexpr std::uint8_t pad[1] = {0};
    const std::span<const std::uint8_t> parts[3] = {{header, 8}, frame, {pad, std::size_t(size & 1)}};
    const std::uint64_t pos = end_;
    if (!writeAt(pos, parts)) {
        cutBackTo(end_);
        return false;
    }
    // Room for as many more frames of this size as the RIFF can take, so an
    // append allocates nothing until the index outgrows that; past it the
    // index doubles.
    if (riffIndex_.size() == riffIndex_.capacity()) {
        const std::uint64_t fitting = (options_.riffLimit - (end_ - riffStart_)) / chunk + 1;
        const std::size_t more = std::size_t(std::min(kIndexReserve, fitting));
        riffIndex_.reserve(riffIndex_.size() + std::max(riffIndex_.size(), more));
    }
    riffIndex_.push_back({pos, size, keyFrame});
    end_ = pos + chunk;
    ++totalFrames_;
    if (!patchAfterFrame(size)) {
        failed_ = true;
        return false;
    }
    return true;
}

bool Writer::patchAfterFrame(std::uint32_t frameBytes) {
    bool ok = patch32(moviStart_ + 4, std::uint32_t(end_ - moviStart_ - 8)) &&
              patch32(riffStart_ + 4, std::uint32_t(end_ - riffStart_ - 8)) && patch32(strhLengthPos_, totalFrames_);
    if (ok && firstRiff_) ok = patch32(avihTotalPos_, std::uint32_t(riffIndex_.size()));
    if (ok && openDml_) ok = patch32(dmlhTotalPos_, totalFrames_);
    if (ok && frameBytes > largestChunk_) {
        largestChunk_ = frameBytes;
        ok = patch32(strhBufferPos_, frameBytes) && patch32(avihBufferPos_, frameBytes + 8);
    }
    return ok;
}

void Writer::appendIx00(std::vector<std::uint8_t> &out) const {
    // Entries point at frame data, counted from the 'movi' fourcc of this RIFF.
    const std::uint64_t base = moviStart_ + 8;
    Bytes b{out};
    b.u32(kIx00), b.u32(kIndexHeader + 8 * std::uint32_t(riffIndex_.size()));
    b.u16(2), b.u8(0), b.u8(1);  // two longs per entry, an index of chunks
    b.u32(std::uint32_t(riffIndex_.size()));
    b.u32(kFrame00);
    b.u64(base);
    b.u32(0);
    for (const Entry &e : riffIndex_) {
        b.u32(std::uint32_t(e.chunk - base + 8));
        b.u32(e.size | (e.key ? 0 : kIxNotKeyFrame));
    }
}

void Writer::appendIdx1(std::vector<std::uint8_t> &out) const {
    // Offsets of the chunk headers, counted from the 'movi' fourcc.
    const std::uint64_t base = moviStart_ + 8;
    Bytes b{out};
    b.u32(kIdx1), b.u32(16 * std::uint32_t(riffIndex_.size()));
    for (const Entry &e : riffIndex_) {
        b.u32(kFrame00), b.u32(e.key ? kIdx1KeyFrame : 0);
        b.u32(std::uint32_t(e.chunk - base)), b.u32(e.size);
    }
}

bool Writer::writeSuperIndexEntry(std::uint64_t offset, std::uint32_t size, std::uint32_t frames) {
    std::uint8_t entry[16];
    put64(entry, offset);
    put32(entry + 8, size);
    put32(entry + 12, frames);
    const std::span<const std::uint8_t> part(entry, 16);
    if (!writeAt(indxPos_ + 8 + kIndexHeader + 16ull * superEntries_, {&part, 1})) return false;
    ++superEntries_;
    if (superEntries_ > 1) return patch32(indxPos_ + 12, superEntries_);
    // The first entry: fill in the header, then turn the JUNK into the index.
    std::uint8_t header[kIndexHeader] = {};
    put16(header, 4);  // four longs per entry; sub-type 0, type 0: an index of indexes
    put32(header + 4, superEntries_);
    put32(header + 8, kFrame00);
    const std::span<const std::uint8_t> headerPart(header, sizeof header);
    return writeAt(indxPos_ + 8, {&headerPart, 1}) && patch32(indxPos_, kIndx);
}

bool Writer::startNextRiff() {
    // The closing RIFF needs its super index entry, and the next one its own.
    if (superEntries_ + 2 > options_.superIndexEntries) return false;
    // Everything new goes past the end first: the closing RIFF's ix00 (the end
    // of its movi) and idx1 (first RIFF only), then the next RIFF's headers.
    // Only when all of it is written are the sizes and indexes patched in.
    std::vector<std::uint8_t> &tail = scratch_;
    tail.clear();
    appendIx00(tail);
    const std::uint64_t ix00Size = tail.size();
    if (firstRiff_) appendIdx1(tail);
    const std::uint64_t riffEnd = end_ + tail.size();
    Bytes b{tail};
    b.u32(kRiff), b.u32(16), b.u32(kAvix), b.u32(kList), b.u32(4), b.u32(kMovi);
    const std::span<const std::uint8_t> part(tail);
    if (!writeAt(end_, {&part, 1})) {
        cutBackTo(end_);
        return false;
    }
    const std::uint64_t ix00Pos = end_;
    bool ok = patch32(moviStart_ + 4, std::uint32_t(ix00Pos + ix00Size - moviStart_ - 8)) &&
              patch32(riffStart_ + 4, std::uint32_t(riffEnd - riffStart_ - 8)) &&
              writeSuperIndexEntry(ix00Pos, std::uint32_t(ix00Size), std::uint32_t(riffIndex_.size()));
    if (ok && !openDml_) {
        ok = patch32(dmlhTotalPos_, totalFrames_) && patch32(odmlPos_, kList);
        openDml_ = ok;
    }
    if (!ok) {
        failed_ = true;
        return false;
    }
    riffStart_ = riffEnd;
    moviStart_ = riffEnd + 12;
    end_ = riffEnd + 24;
    riffIndex_.clear();
    firstRiff_ = false;
    return true;
}

bool Writer::finish() {
    if (finished_) return !failed_;
    finished_ = true;
    bool ok = !failed_;
    if (ok && !openDml_) {
        std::vector<std::uint8_t> &tail = scratch_;
        tail.clear();
        appendIdx1(tail);
        const std::span<const std::uint8_t> part(tail);
        ok = writeAt(end_, {&part, 1});
        if (ok)
            ok = patch32(riffStart_ + 4, std::uint32_t(end_ + tail.size() - riffStart_ - 8));
        else
            cutBackTo(end_);
    } else if (ok && !riffIndex_.empty()) {
        std::vector<std::uint8_t> &tail = scratch_;
        tail.clear();
        appendIx00(tail);
        const std::span<const std::uint8_t> part(tail);
        ok = writeAt(end_, {&part, 1});
        if (ok) {
            const std::uint64_t end = end_ + tail.size();
            ok = patch32(moviStart_ + 4, std::uint32_t(end - moviStart_ - 8)) &&
                 patch32(riffStart_ + 4, std::uint32_t(end - riffStart_ - 8)) &&
                 writeSuperIndexEntry(end_, std::uint32_t(tail.size()), std::uint32_t(riffIndex_.size()));
        } else {
            cutBackTo(end_);
        }
    } else if (ok) {
        // An 'AVIX' that never got a frame (its first append failed): drop it.
        cutBackTo(riffStart_);
    }
    failed_ = failed_ || !ok;
    ::close(fd_);
    fd_ = -1;
    return ok;
}

}  // namespace plat::avi
