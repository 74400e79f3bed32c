#include "convert_test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "avifile/avi_writer.h"
#include "conversion.h"
#include "options.h"

namespace convtest {

namespace {

std::vector<std::uint8_t> bitmapHeader(std::uint32_t width, std::uint32_t height, std::uint32_t compression,
                                       std::uint32_t imageBytes) {
    std::vector<std::uint8_t> h(40, 0);
    const auto put = [&h](std::size_t at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) h[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
    };
    put(0, 40, 4);
    put(4, width, 4);
    put(8, height, 4);
    put(12, 1, 2);
    put(14, 24, 2);
    put(16, compression, 4);
    put(20, imageBytes, 4);
    return h;
}

std::string readText(const std::filesystem::path &file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::vector<noctil::convert::Picture> makePictures(std::uint32_t width, std::uint32_t height, std::size_t count,
                                                   bool grey) {
    std::vector<noctil::convert::Picture> pictures(count);
    for (std::size_t k = 0; k < count; ++k) {
        noctil::convert::Picture &p = pictures[k];
        p.width = width;
        p.height = height;
        for (std::uint32_t y = 0; y < height; ++y)
            for (std::uint32_t x = 0; x < width; ++x) {
                const auto v = std::uint8_t(17 * k + 31 * y + 7 * x + 3);
                p.rgb.push_back(v);
                p.rgb.push_back(grey ? v : std::uint8_t(v ^ 0x5A));
                p.rgb.push_back(grey ? v : std::uint8_t(255 - v));
            }
    }
    return pictures;
}

void writeAvi(const std::filesystem::path &file, const std::vector<noctil::convert::Picture> &pictures) {
    const std::uint32_t w = pictures.at(0).width, h = pictures.at(0).height;
    const std::size_t stride = (std::size_t(w) * 3 + 3) & ~std::size_t{3};
    plat::avi::StreamFormat format;
    format.format = bitmapHeader(w, h, 0, std::uint32_t(stride * h));
    auto writer = plat::avi::Writer::create(file, format);
    if (!writer) throw std::runtime_error("cannot write " + file.string());
    for (const noctil::convert::Picture &p : pictures) {
        std::vector<std::uint8_t> rows(stride * h, 0);
        for (std::size_t y = 0; y < h; ++y)
            for (std::size_t x = 0; x < w; ++x)
                for (std::size_t c = 0; c < 3; ++c) rows[y * stride + 3 * x + c] = p.rgb[(y * w + x) * 3 + 2 - c];
        if (!writer->append(rows)) throw std::runtime_error("cannot append to " + file.string());
    }
    writer->finish();
}

void writeAviOfFormat(const std::filesystem::path &file, std::uint32_t compression, std::size_t frames,
                      std::size_t frameBytes) {
    plat::avi::StreamFormat format;
    format.format = bitmapHeader(16, 16, compression, std::uint32_t(frameBytes));
    auto writer = plat::avi::Writer::create(file, format);
    if (!writer) throw std::runtime_error("cannot write " + file.string());
    for (std::size_t k = 0; k < frames; ++k) writer->append(std::vector<std::uint8_t>(frameBytes, std::uint8_t(k)));
    writer->finish();
}

std::vector<plat::imagelog::LogLine> logLines(std::size_t lines, std::uint32_t width, std::uint32_t height) {
    std::vector<plat::imagelog::LogLine> out(lines);
    for (std::size_t k = 0; k < lines; ++k) {
        plat::imagelog::LogLine &l = out[k];
        l.image = std::uint32_t(k + 1);
        l.exposeStart = 946'684'800'000'000 + std::int64_t(k) * 10'000'000;
        l.exposeEnd = *l.exposeStart + 2'500'000;
        l.ampOffMicros = 1'500'000;
        l.readoutFirst = l.exposeEnd;
        l.readoutLast = *l.exposeEnd + 66'000;
        l.readoutFrames = 3;
        l.driver = "Test camera";
        l.format = std::to_string(width) + "x" + std::to_string(height) + " RGB24";
    }
    return out;
}

void writeLog(const std::filesystem::path &file, const std::vector<plat::imagelog::LogLine> &lines) {
    std::ofstream out(file, std::ios::binary);
    out << plat::imagelog::headerLine() << "\n";
    for (const auto &l : lines) out << plat::imagelog::formatLine(l);
}

int runConverter(const std::vector<std::string> &args, std::string &out, std::string &err) {
    std::string error;
    const auto options = noctil::convert::parseOptions(args, error);
    if (!options) {
        err = error;
        return 2;
    }
    std::ostringstream o, e;
    const int code = noctil::convert::convert(*options, o, e);
    out = o.str();
    err = e.str();
    return code;
}

int runCommand(const std::string &command, std::string &out, std::string &err) {
    char outName[] = "/tmp/convtest-out-XXXXXX", errName[] = "/tmp/convtest-err-XXXXXX";
    const int outFd = ::mkstemp(outName), errFd = ::mkstemp(errName);
    if (outFd < 0 || errFd < 0) throw std::runtime_error("cannot make temporary files");
    ::close(outFd);
    ::close(errFd);
    const int status = std::system((command + " >" + outName + " 2>" + errName).c_str());
    out = readText(outName);
    err = readText(errName);
    ::unlink(outName);
    ::unlink(errName);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::map<std::string, std::map<std::string, std::string>> astropyRead(const std::vector<std::string> &files,
                                                                      std::string &messages) {
    // Debian's python3, where python3-astropy installs itself.
    std::string command = "/usr/bin/python3 " + shellQuoted(std::string(NOCTIL_CONVERT_TEST_DIR) + "/read_fits.py");
    for (const auto &f : files) {
        command += ' ';
        command += shellQuoted(f);
    }
    std::string text;
    const int code = runCommand(command, text, messages);
    if (code != 0) messages += "\nexit code " + std::to_string(code);
    std::map<std::string, std::map<std::string, std::string>> result;
    std::string current;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t space = line.find(' ');
        std::string key = line.substr(0, space), value = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "file") {
            current = value;
            continue;
        }
        if (key == "key") {
            const std::size_t next = value.find(' ');
            key += ' ';
            key += value.substr(0, next);
            value = next == std::string::npos ? "" : value.substr(next + 1);
        }
        result[current][key] = value;
    }
    return result;
}

std::vector<std::uint8_t> readBytes(const std::filesystem::path &file) {
    const std::string text = readText(file);
    return {text.begin(), text.end()};
}

std::string shellQuoted(const std::filesystem::path &path) {
    std::string quoted(1, '\'');
    quoted += path.string();
    quoted += '\'';
    return quoted;
}

}  // namespace convtest
