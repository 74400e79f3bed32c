// Writes AVI files of one uncompressed video stream, one frame per chunk.
//
// Every frame is in the kernel when append() returns (no user-space
// buffering), and the file is readable after a kill at any moment: headers
// are patched only once a frame's bytes are all written. Past 1 GiB the file
// goes on in further 'AVIX' RIFFs with standard and super indexes; finish()
// writes the full index. docs/avi-files.md describes the layout.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

namespace plat::avi {

struct StreamFormat {
    std::vector<std::uint8_t> format;  // BITMAPINFOHEADER + colour table
    std::uint32_t scale = 1, rate = 25;
    std::uint32_t fccHandler = 0;  // 0: the format's FourCC for YUV and grey formats
    // Largest frame a player should expect; 0: the image size of the format.
    // Grows to the largest frame written.
    std::uint32_t suggestedBufferSize = 0;
    // The frame rectangle left, top, right, bottom; all 0: 0, 0, width, height.
    std::int16_t frame[4] = {0, 0, 0, 0};
};

struct WriterOptions {
    // Largest size of one RIFF before the next 'AVIX' begins.
    std::uint64_t riffLimit = std::uint64_t(1) << 30;
    // Super index entries reserved in the header: RIFFs the file can hold.
    std::uint32_t superIndexEntries = 1024;
};

class Writer {
public:
    // A writer with no file: append and finish fail until start() gives it one.
    Writer() = default;
    // A new file (replacing any file of the name); null on failure.
    static std::unique_ptr<Writer> create(const std::filesystem::path &path, const StreamFormat &format,
                                          const WriterOptions &options = {});
    // The same on a descriptor open for writing, which the writer owns from
    // now on (closed on failure too).
    static std::unique_ptr<Writer> createOnDescriptor(int fd, const StreamFormat &format,
                                                      const WriterOptions &options = {});
    ~Writer();
    Writer(const Writer &) = delete;
    // Finishes the file written so far and begins a new one on `fd`, owned
    // from now on (closed on failure too). The writer's buffers stay, so a
    // writer that makes one file after another allocates nothing once they
    // have grown to the largest file's needs.
    bool start(int fd, const StreamFormat &format, const WriterOptions &options = {});
    Writer &operator=(const Writer &) = delete;

    // Appends one frame. False on failure: the file then still holds every
    // frame appended before, complete and readable, and a later append may
    // succeed (say once disk space is freed) unless the file itself failed.
    bool append(std::span<const std::uint8_t> frame, bool keyFrame = true);
    // Writes the index and closes the file; false when that failed (the frames
    // stay readable). The destructor finishes too.
    bool finish();

    std::uint32_t frameCount() const { return totalFrames_; }
    std::span<const std::uint8_t> format() const { return format_; }
    // Bytes written so far, patches included.
    std::uint64_t bytesWritten() const { return bytesWritten_; }

private:
    struct Entry {
        std::uint64_t chunk;  // file position of the chunk header
        std::uint32_t size;
        bool key;
    };
    struct SuperEntry {
        std::uint64_t offset;
        std::uint32_t size, frames;
    };

    bool writeHeader(const StreamFormat &format);
    bool writeAt(std::uint64_t pos, std::span<const std::span<const std::uint8_t>> parts);
    bool patch32(std::uint64_t pos, std::uint32_t value);
    bool patchAfterFrame(std::uint32_t frameBytes);
    std::uint64_t closingBytes(std::uint32_t frames) const;
    bool startNextRiff();
    bool writeSuperIndexEntry(std::uint64_t offset, std::uint32_t size, std::uint32_t frames);
    void appendIx00(std::vector<std::uint8_t> &out) const;
    void appendIdx1(std::vector<std::uint8_t> &out) const;
    void cutBackTo(std::uint64_t end);

    int fd_ = -1;
    WriterOptions options_;
    std::vector<std::uint8_t> format_;
    // Positions of the fields patched as frames arrive.
    std::uint64_t avihTotalPos_ = 0, avihBufferPos_ = 0, strhLengthPos_ = 0, strhBufferPos_ = 0;
    std::uint64_t indxPos_ = 0, odmlPos_ = 0, dmlhTotalPos_ = 0;
    // The RIFF being written: its start, its 'movi' list, the end of what is complete.
    std::uint64_t riffStart_ = 0, moviStart_ = 0, end_ = 0;
    bool firstRiff_ = true, openDml_ = false, failed_ = false, finished_ = true;
    std::uint32_t totalFrames_ = 0, largestChunk_ = 0;
    std::uint64_t bytesWritten_ = 0;
    std::vector<Entry> riffIndex_;       // frames of the RIFF being written
    std::vector<std::uint8_t> scratch_;  // headers and indexes on their way to the file
    std::uint32_t superEntries_ = 0;
};

}  // namespace plat::avi
