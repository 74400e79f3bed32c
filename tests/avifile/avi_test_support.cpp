#include "avi_test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "avifile/riff.h"
#include "file_text.h"
#include "test_session.h"

namespace avitest {

namespace {

std::string readText(const std::filesystem::path &path) { return noctil::test::readAll(path); }

// Runs a shell command with stdout and stderr captured in files beside `file`.
int run(const std::string &command, const std::filesystem::path &file, std::string &out, std::string &err) {
    const std::string outName = file.string() + ".out", errName = file.string() + ".err";
    const int status = std::system((command + " >'" + outName + "' 2>'" + errName + "'").c_str());
    out = readText(outName);
    err = readText(errName);
    std::filesystem::remove(outName);
    std::filesystem::remove(errName);
    return status;
}

}  // namespace

TempDir::TempDir() : dir_(noctil::test::makeTempDirectory("noctil-avi")) {}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);  // a leftover temporary directory is harmless
}

std::vector<std::uint8_t> bitmapFormat(std::int32_t width, std::int32_t height, std::uint16_t bits,
                                       std::uint32_t compression, const std::vector<std::uint8_t> &palette) {
    std::vector<std::uint8_t> f(40 + palette.size(), 0);
    using plat::avi::put16, plat::avi::put32;
    put32(&f[0], 40);
    put32(&f[4], std::uint32_t(width));
    put32(&f[8], std::uint32_t(height));
    put16(&f[12], 1);
    put16(&f[14], bits);
    put32(&f[16], compression);
    put32(&f[32], std::uint32_t(palette.size() / 4));
    std::copy(palette.begin(), palette.end(), f.begin() + 40);
    return f;
}

std::vector<std::uint8_t> patternFrame(std::size_t size, std::uint32_t start) {
    std::vector<std::uint8_t> v(size);
    std::uint32_t x = start * 2654435761u + 12345;
    for (auto &b : v) {
        x = x * 1103515245u + 12345;
        b = std::uint8_t(x >> 16);
    }
    return v;
}

std::vector<std::uint8_t> readFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::filesystem::path &path, const std::vector<std::uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

std::size_t findId(const std::vector<std::uint8_t> &bytes, const char *id, std::size_t from) {
    for (std::size_t i = from; i + 4 <= bytes.size(); ++i)
        if (std::equal(id, id + 4, bytes.begin() + std::ptrdiff_t(i))) return i;
    return std::string::npos;
}

std::uint32_t le32(const std::vector<std::uint8_t> &bytes, std::size_t pos) {
    return pos + 4 <= bytes.size() ? plat::avi::get32(&bytes[pos]) : 0xDEADBEEF;
}

static const char *const kProbe =
    "ffprobe -v warning -count_frames -select_streams v:0 -show_entries "
    "stream=nb_read_frames,width,height,r_frame_rate -of default=noprint_wrappers=1 ";

static Probe parseProbe(const std::string &out, std::string messages) {
    Probe p;
    p.messages = std::move(messages);
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "nb_read_frames")
            p.frames = std::atol(value.c_str());
        else if (key == "width")
            p.width = std::atoi(value.c_str());
        else if (key == "height")
            p.height = std::atoi(value.c_str());
        else if (key == "r_frame_rate")
            p.rate = value;
    }
    return p;
}

Probe ffprobe(const std::filesystem::path &file) {
    std::string out, err;
    run(std::string(kProbe) + "'" + file.string() + "'", file, out, err);
    return parseProbe(out, err);
}

std::vector<Probe> ffprobeMany(const std::vector<std::filesystem::path> &files) {
    std::vector<Probe> probes;
    constexpr std::size_t kAtOnce = 8;
    for (std::size_t first = 0; first < files.size(); first += kAtOnce) {
        std::string script;
        const std::size_t last = std::min(files.size(), first + kAtOnce);
        for (std::size_t i = first; i < last; ++i) {
            const std::string f = files[i].string();
            script += std::string(kProbe) + "'" + f + "' >'" + f + ".out' 2>'" + f + ".err' & ";
        }
        script += "wait";
        if (std::system(script.c_str()) == -1) ADD_FAILURE() << "cannot run ffprobe";
        for (std::size_t i = first; i < last; ++i) {
            const std::string f = files[i].string();
            probes.push_back(parseProbe(readText(f + ".out"), readText(f + ".err")));
            std::filesystem::remove(f + ".out");
            std::filesystem::remove(f + ".err");
        }
    }
    return probes;
}

std::vector<std::uint8_t> ffmpegBgr24(const std::filesystem::path &file, std::string &messages) {
    const std::filesystem::path raw = file.string() + ".bgr";
    std::string out;
    run("ffmpeg -nostdin -v warning -y -i '" + file.string() + "' -f rawvideo -pix_fmt bgr24 '" + raw.string() + "'",
        file, out, messages);
    auto bytes = readFile(raw);
    std::filesystem::remove(raw);
    return bytes;
}

}  // namespace avitest
