// Reads the video stream of an AVI file, treating the file as untrusted:
// a truncated, malformed or hostile file gives a failed open or no frame,
// never an overread or an allocation its size does not justify.
//
// The frames are found by walking the chunks of every 'movi' list in the
// file, including those of 'AVIX' RIFFs and 'rec ' lists, without trusting
// any size beyond the file's end. A file cut off by a crash (stale RIFF and
// list sizes, no index, a partial last chunk) thus yields every complete
// frame. Indexes are written for other readers but not needed here.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

namespace plat::avi {

// Random access to the file's bytes.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // False unless all `out.size()` bytes at `offset` were read.
    virtual bool read(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;
};

// What the stream header says.
struct StreamHeader {
    std::uint32_t fccHandler = 0, flags = 0, initialFrames = 0, scale = 0, rate = 0, start = 0, length = 0,
                  suggestedBufferSize = 0, quality = 0, sampleSize = 0;
    std::int16_t frame[4] = {0, 0, 0, 0};
};

class Reader {
public:
    // The `videoStream`-th video stream (from 0) of the file; null when the
    // file cannot be read or has no such stream with a usable format.
    static std::unique_ptr<Reader> open(const std::filesystem::path &path, unsigned videoStream = 0);
    static std::unique_ptr<Reader> open(const char *path, unsigned videoStream = 0);
    static std::unique_ptr<Reader> open(std::unique_ptr<ByteSource> source, unsigned videoStream = 0);
    // Over bytes in memory, which must outlive the reader.
    static std::unique_ptr<Reader> openMemory(std::span<const std::uint8_t> bytes, unsigned videoStream = 0);

    // Reads the file at `path` from now on, as open() would, keeping this
    // reader's buffers; false, with no file open, when open() would fail.
    bool reopen(const char *path, unsigned videoStream = 0);
    // Closes the file; the reader has no frames until it is reopened.
    void close();

    std::size_t frameCount() const { return frames_.size(); }
    // BITMAPINFOHEADER and the colour table as the file gives them.
    std::span<const std::uint8_t> format() const { return format_; }
    const StreamHeader &header() const { return header_; }
    // Width and height (rows, positive) of the stream's images.
    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }

    // The bytes of frame `index` as stored; false when there is no such frame
    // or it cannot be read.
    bool readFrame(std::size_t index, std::vector<std::uint8_t> &out) const;
    // Frame `index` as a packed 24-bit bottom-up DIB at the stream's size
    // (see dib_decode.h); false when it cannot be read or decoded.
    bool decodeToDib24(std::size_t index, std::vector<std::uint8_t> &dib) const;
    // Whether the stream's format is one decodeToDib24 knows.
    bool decodable() const;

private:
    struct Frame {
        std::uint64_t offset;
        std::uint32_t size;
    };
    explicit Reader(std::unique_ptr<ByteSource> source) : source_(std::move(source)) {}
    bool parse(unsigned videoStream);
    bool parseHeaderList(std::uint64_t begin, std::uint64_t end, unsigned videoStream);
    bool parseStreamList(std::uint64_t begin, std::uint64_t end, bool &isVideo);
    void scanFrames(std::uint64_t from);

    std::unique_ptr<ByteSource> source_;
    std::vector<std::uint8_t> format_;
    StreamHeader header_;
    std::uint32_t width_ = 0, height_ = 0;
    std::uint32_t chunkDb_ = 0, chunkDc_ = 0;  // the stream's chunk ids, "##db" and "##dc"
    std::vector<Frame> frames_;
    mutable std::vector<std::uint8_t> scratch_;
};

}  // namespace plat::avi
