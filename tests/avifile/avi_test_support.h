// Helpers of the AVI file tests: temporary directories, formats and frames,
// and ffprobe/ffmpeg as an outside reader of what the writer made.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace avitest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path &path() const { return dir_; }
    std::filesystem::path file(const std::string &name) const { return dir_ / name; }

private:
    std::filesystem::path dir_;
};

// A BITMAPINFOHEADER followed by `palette` (4 bytes per colour).
std::vector<std::uint8_t> bitmapFormat(std::int32_t width, std::int32_t height, std::uint16_t bits,
                                       std::uint32_t compression, const std::vector<std::uint8_t> &palette = {});
// Bytes that differ from frame to frame and from byte to byte.
std::vector<std::uint8_t> patternFrame(std::size_t size, std::uint32_t start);

std::vector<std::uint8_t> readFile(const std::filesystem::path &path);
void writeFile(const std::filesystem::path &path, const std::vector<std::uint8_t> &bytes);
// Position of the first `id` (four characters) at or after `from`, or npos.
std::size_t findId(const std::vector<std::uint8_t> &bytes, const char *id, std::size_t from = 0);
std::uint32_t le32(const std::vector<std::uint8_t> &bytes, std::size_t pos);

struct Probe {
    long frames = -1;
    int width = 0, height = 0;
    std::string rate;      // r_frame_rate, such as "25/1"
    std::string messages;  // ffprobe's stderr at -v warning: empty when it had no complaint
};
// ffprobe -count_frames on the first video stream.
Probe ffprobe(const std::filesystem::path &file);
// ffprobe on many files at once (it spends most of its time starting up).
std::vector<Probe> ffprobeMany(const std::vector<std::filesystem::path> &files);
// Every frame as ffmpeg decodes it to top-down B,G,R rows without padding;
// `messages` receives its stderr.
std::vector<std::uint8_t> ffmpegBgr24(const std::filesystem::path &file, std::string &messages);

}  // namespace avitest
