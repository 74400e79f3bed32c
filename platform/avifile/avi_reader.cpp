#include "avifile/avi_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "avifile/dib_decode.h"
#include "avifile/riff.h"

namespace plat::avi {

namespace {

// A format is a BITMAPINFOHEADER with at most 256 colours (or 3 masks)
// behind it; anything longer in a hostile file is not kept.
constexpr std::uint32_t kMaxFormat = 40 + 4 * 256 + 1024;
constexpr std::uint32_t kMaxSide = 1u << 15;

class FileSource final : public ByteSource {
public:
    ~FileSource() override { close(); }
    // False, with nothing open, unless `path` is a regular file that opens.
    bool open(const char *path) {
        close();
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return false;
        }
        fd_ = fd;
        size_ = std::uint64_t(st.st_size);
        return true;
    }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        size_ = 0;
    }
    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, std::span<std::uint8_t> out) const override {
        if (offset > size_ || out.size() > size_ - offset) return false;
        std::size_t done = 0;
        while (done < out.size()) {
            const ssize_t n = ::pread(fd_, out.data() + done, out.size() - done, off_t(offset + done));
            if (n < 0 && errno == EINTR) continue;  // interrupted before reading: try again
            if (n <= 0) return false;
            done += std::size_t(n);
        }
        return true;
    }

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    bool read(std::uint64_t offset, std::span<std::uint8_t> out) const override {
        if (offset > bytes_.size() || out.size() > bytes_.size() - offset) return false;
        std::copy_n(bytes_.data() + offset, out.size(), out.data());
        return true;
    }

private:
    std::span<const std::uint8_t> bytes_;
};

// A chunk id is four printable ASCII characters; anything else is not a
// chunk boundary, and the walk ends there.
bool plausibleId(std::uint32_t id) {
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t c = std::uint8_t(id >> (8 * i));
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

struct ChunkHeader {
    std::uint32_t id = 0, size = 0, listType = 0;
};

// The chunk header at `pos` (and its list type for RIFF and LIST), if all of
// it lies before `end`.
bool readChunk(const ByteSource &src, std::uint64_t pos, std::uint64_t end, ChunkHeader &chunk) {
    std::uint8_t b[12];
    if (pos > end || end - pos < 8 || !src.read(pos, {b, 8})) return false;
    chunk.id = get32(b);
    chunk.size = get32(b + 4);
    chunk.listType = 0;
    if (chunk.id == kRiff || chunk.id == kList) {
        if (end - pos < 12 || !src.read(pos + 8, {b + 8, 4})) return false;
        chunk.listType = get32(b + 8);
    }
    return true;
}

std::uint64_t nextChunk(std::uint64_t pos, const ChunkHeader &chunk) { return pos + 8 + padded(chunk.size); }

}  // namespace

std::unique_ptr<Reader> Reader::open(const std::filesystem::path &path, unsigned videoStream) {
    return open(path.c_str(), videoStream);
}

std::unique_ptr<Reader> Reader::open(const char *path, unsigned videoStream) {
    auto source = std::make_unique<FileSource>();
    if (!source->open(path)) return nullptr;
    return open(std::move(source), videoStream);
}

bool Reader::reopen(const char *path, unsigned videoStream) {
    auto *file = dynamic_cast<FileSource *>(source_.get());
    if (!file) {
        source_ = std::make_unique<FileSource>();
        file = static_cast<FileSource *>(source_.get());
    }
    close();
    if (file->open(path) && parse(videoStream)) return true;
    close();
    return false;
}

void Reader::close() {
    if (auto *file = dynamic_cast<FileSource *>(source_.get())) file->close();
    format_.clear();
    header_ = StreamHeader{};
    width_ = height_ = 0;
    chunkDb_ = chunkDc_ = 0;
    frames_.clear();
}

std::unique_ptr<Reader> Reader::openMemory(std::span<const std::uint8_t> bytes, unsigned videoStream) {
    return open(std::make_unique<MemorySource>(bytes), videoStream);
}

std::unique_ptr<Reader> Reader::open(std::unique_ptr<ByteSource> source, unsigned videoStream) {
    if (!source) return nullptr;
    std::unique_ptr<Reader> reader(new Reader(std::move(source)));
    if (!reader->parse(videoStream)) return nullptr;
    return reader;
}

bool Reader::parse(unsigned videoStream) {
    const ByteSource &src = *source_;
    const std::uint64_t size = src.size();
    ChunkHeader riff;
    if (!readChunk(src, 0, size, riff) || riff.id != kRiff || riff.listType != kAvi) return false;
    // The header list comes before the first movi; RIFF sizes may be stale
    // after a crash, so the file's end bounds the search, not the RIFF's.
    std::uint64_t pos = 12;
    ChunkHeader chunk;
    while (readChunk(src, pos, size, chunk) && plausibleId(chunk.id)) {
        if (chunk.id == kList && chunk.listType == kHdrl) {
            const std::uint64_t end = std::min<std::uint64_t>(nextChunk(pos, chunk), size);
            if (!parseHeaderList(pos + 12, end, videoStream)) return false;
        } else if (chunk.id == kList && chunk.listType == kMovi) {
            if (format_.empty()) return false;
            scanFrames(pos);
            return true;
        }
        pos = nextChunk(pos, chunk);
    }
    return false;
}

bool Reader::parseHeaderList(std::uint64_t begin, std::uint64_t end, unsigned videoStream) {
    const ByteSource &src = *source_;
    unsigned streamIndex = 0, videoSeen = 0;
    ChunkHeader chunk;
    for (std::uint64_t pos = begin; readChunk(src, pos, end, chunk); pos = nextChunk(pos, chunk)) {
        if (chunk.id != kList || chunk.listType != kStrl) continue;
        bool isVideo = false;
        const std::uint64_t listEnd = std::min(nextChunk(pos, chunk), end);
        const bool usable = parseStreamList(pos + 12, listEnd, isVideo);
        if (isVideo && videoSeen++ == videoStream) {
            // Chunk ids carry the stream number in two decimal digits.
            if (!usable || streamIndex > 99) return false;
            const char tens = char('0' + streamIndex / 10), ones = char('0' + streamIndex % 10);
            chunkDb_ = fourcc(tens, ones, 'd', 'b');
            chunkDc_ = fourcc(tens, ones, 'd', 'c');
            return true;
        }
        ++streamIndex;
        format_.clear();
    }
    return false;
}

bool Reader::parseStreamList(std::uint64_t begin, std::uint64_t end, bool &isVideo) {
    const ByteSource &src = *source_;
    bool haveHeader = false;
    ChunkHeader chunk;
    for (std::uint64_t pos = begin; readChunk(src, pos, end, chunk); pos = nextChunk(pos, chunk)) {
        const std::uint64_t avail = end - pos - 8;
        if (chunk.id == kStrh && !haveHeader) {
            // 56 bytes as written today; older writers wrote 48 (a 4-long
            // rcFrame missing) and some 64. Missing fields read as 0.
            std::uint8_t h[56] = {};
            const std::size_t n = std::size_t(std::min<std::uint64_t>({chunk.size, avail, sizeof h}));
            if (n < 4 || !src.read(pos + 8, {h, n})) return false;
            isVideo = get32(h) == kVids;
            header_ = StreamHeader{get32(h + 4),  get32(h + 8),  get32(h + 16), get32(h + 20), get32(h + 24),
                                   get32(h + 28), get32(h + 32), get32(h + 36), get32(h + 40), get32(h + 44)};
            for (int i = 0; i < 4; ++i) header_.frame[i] = std::int16_t(get16(h + 48 + 2 * i));
            haveHeader = true;
        } else if (chunk.id == kStrf && haveHeader && format_.empty()) {
            if (!isVideo) return false;
            const std::size_t n = std::size_t(std::min<std::uint64_t>({chunk.size, avail, kMaxFormat}));
            if (n < 40) return false;
            format_.resize(n);
            if (!src.read(pos + 8, format_)) return false;
        }
    }
    if (!isVideo || format_.empty()) return false;
    const std::int32_t w = std::int32_t(get32(format_.data() + 4)), h = std::int32_t(get32(format_.data() + 8));
    const std::uint32_t biSize = get32(format_.data());
    if (biSize < 40 || biSize > format_.size() || w <= 0 || std::uint32_t(w) > kMaxSide || h == 0 ||
        h < -std::int32_t(kMaxSide) || h > std::int32_t(kMaxSide))
        return false;
    width_ = std::uint32_t(w);
    height_ = std::uint32_t(std::abs(h));
    return true;
}

void Reader::scanFrames(std::uint64_t from) {
    // Every RIFF after the first continues the stream ('AVIX'); lists other
    // than movi and 'rec ' (and chunks other than the stream's frames: JUNK,
    // indexes, other streams, zero-size frames) are stepped over. The walk
    // ends at the first thing that is not a plausible chunk, and a chunk that
    // runs past the end of the file is not a frame.
    const ByteSource &src = *source_;
    const std::uint64_t size = src.size();
    std::uint64_t pos = from;
    ChunkHeader chunk;
    while (readChunk(src, pos, size, chunk) && plausibleId(chunk.id)) {
        if ((chunk.id == kRiff && chunk.listType == kAvix) ||
            (chunk.id == kList && (chunk.listType == kMovi || chunk.listType == kRec))) {
            pos += 12;
            continue;
        }
        if (chunk.id == kRiff) break;
        if ((chunk.id == chunkDb_ || chunk.id == chunkDc_) && chunk.size > 0) {
            if (size - pos - 8 < chunk.size) break;
            frames_.push_back({pos + 8, chunk.size});
        }
        pos = nextChunk(pos, chunk);
    }
}

bool Reader::readFrame(std::size_t index, std::vector<std::uint8_t> &out) const {
    if (index >= frames_.size()) return false;
    out.resize(frames_[index].size);
    return source_->read(frames_[index].offset, out);
}

bool Reader::decodable() const {
    SourceLayout layout;
    return sourceLayout(format_, layout);
}

bool Reader::decodeToDib24(std::size_t index, std::vector<std::uint8_t> &dib) const {
    // The frame must hold a whole image before anything of the image's size
    // is allocated; its size is bounded by the file's.
    SourceLayout layout;
    if (index >= frames_.size() || !sourceLayout(format_, layout) || frames_[index].size < layout.frameBytes)
        return false;
    if (layout.kind == SourceLayout::Kind::Bgr24 && layout.bottomUp) {
        // The stored rows are already the image's rows: read them into place.
        dib.resize(kDib24HeaderBytes + layout.frameBytes);
        putDib24Header(dib.data(), layout.width, layout.height);
        std::uint8_t *rows = dib.data() + kDib24HeaderBytes;
        if (!source_->read(frames_[index].offset, {rows, layout.frameBytes})) return false;
        // The padding of each row is the image's, never what the file had there.
        const std::size_t used = std::size_t(layout.width) * 3;
        if (used != layout.stride)
            for (std::uint32_t row = 0; row < layout.height; ++row)
                std::fill(rows + row * layout.stride + used, rows + (row + 1) * layout.stride, 0);
        return true;
    }
    return readFrame(index, scratch_) && plat::avi::decodeToDib24(format_, scratch_, dib);
}

}  // namespace plat::avi
