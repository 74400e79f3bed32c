#include "conversion.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <span>
#include <sstream>

#include "avi_source.h"
#include "fits_file.h"
#include "imagelog/log_format.h"
#include "log_match.h"
#include "restack.h"
#include "ser_file.h"

namespace noctil::convert {

namespace {

constexpr std::uintmax_t kLargestLog = std::uintmax_t{64} << 20;

struct Failure {
    std::string text;
};

std::string readWhole(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) throw Failure{"cannot read the log " + path.string()};
    return text.str();
}

// The whole log with the lines kept beside it, or nullopt when there is none to read.
std::optional<std::string> readLog(const Options &o) {
    if (!o.useLog) return std::nullopt;
    const std::filesystem::path path = o.log ? *o.log : plat::imagelog::logPathFor(o.input);
    std::error_code ec;
    if (!o.log && !std::filesystem::exists(path, ec)) return std::nullopt;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) throw Failure{"cannot read the log " + path.string() + ": " + ec.message()};
    if (size > kLargestLog) throw Failure{path.string() + " is too large to be an image log"};
    std::string text = readWhole(path);
    // Lines the log's end found no room for are in the side file beside it.
    const std::filesystem::path kept = plat::imagelog::waitingPathFor(path);
    if (!std::filesystem::exists(kept, ec)) return text;
    if (std::filesystem::file_size(kept, ec) > kLargestLog) throw Failure{kept.string() + " is too large to be read"};
    return withKeptLines(std::move(text), readWhole(kept));
}

// The calendar clock, for the DATE a stack file is written at.
std::int64_t nowUtcMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::filesystem::path outputDirectory(const Options &o) {
    std::filesystem::path dir = o.outputDirectory ? *o.outputDirectory : o.input.parent_path();
    if (dir.empty()) dir = ".";
    std::error_code ec;
    const auto status = std::filesystem::status(dir, ec);
    if (!std::filesystem::exists(status)) throw Failure{"the output directory " + dir.string() + " does not exist"};
    if (!std::filesystem::is_directory(status)) throw Failure{dir.string() + " is not a directory"};
    if (::access(dir.c_str(), W_OK) != 0)
        throw Failure{"cannot write in " + dir.string() + ": " + std::strerror(errno)};
    return dir;
}

// Nothing is replaced unless the user said so; then the old files go first.
// The input is never among them, whatever the user said.
void clearTargets(const std::vector<std::filesystem::path> &targets, const std::filesystem::path &input, bool force) {
    std::vector<std::filesystem::path> existing;
    std::error_code ec;
    for (const auto &t : targets) {
        if (!std::filesystem::exists(std::filesystem::symlink_status(t, ec))) continue;
        if (std::filesystem::equivalent(t, input, ec))
            throw Failure{t.string() + " is the input file itself; choose another output directory with -o"};
        // Only files are replaced, --force or not: a directory of the name
        // may hold anything.
        if (std::filesystem::is_directory(std::filesystem::symlink_status(t, ec)))
            throw Failure{t.string() + " is a directory; nothing was written. Choose another output directory with -o"};
        existing.push_back(t);
    }
    if (existing.empty()) return;
    if (!force) {
        std::string text = existing.front().string() + " exists";
        if (existing.size() > 1)
            text += " (and " + std::to_string(existing.size() - 1) + " more of the files to write)";
        throw Failure{text + "; nothing was written. Use --force to replace them"};
    }
    for (const auto &t : existing)
        if (!std::filesystem::remove(t, ec) && ec) throw Failure{"cannot replace " + t.string() + ": " + ec.message()};
}

void writeAll(int fd, std::span<const std::uint8_t> bytes, const std::filesystem::path &path) {
    while (!bytes.empty()) {
        const ssize_t done = ::write(fd, bytes.data(), bytes.size());
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) throw Failure{"writing " + path.string() + " failed: " + std::strerror(errno)};
        bytes = bytes.subspan(std::size_t(done));
    }
}

Picture readImage(const AviSource &source, std::size_t index) {
    Picture p;
    std::string error;
    if (!source.read(index, p, error)) throw Failure{error};
    return p;
}

void writeFitsFiles(const AviSource &source, const LogMatch &log, const std::vector<std::filesystem::path> &targets,
                    std::ostream &out) {
    std::size_t grey = 0;
    for (std::size_t i = 0; i < source.imageCount(); ++i) {
        const Picture p = readImage(source, i);
        const bool isGrey = p.grey();
        std::string error;
        if (!writeFits(targets[i], p, isGrey, fitsKeywords(std::uint32_t(i + 1), log.lines[i]), error))
            throw Failure{error + (i > 0 ? " (" + std::to_string(i) + " files were written before it)" : "")};
        grey += isGrey;
    }
    out << "wrote " << targets.size() << " FITS file" << (targets.size() == 1 ? "" : "s") << ", "
        << targets.front().filename().string()
        << (targets.size() > 1 ? " to " + targets.back().filename().string() : "") << ", in "
        << targets.front().parent_path().string() << " (" << grey << " grey, " << targets.size() - grey << " colour)\n";
}

void writeSerFile(const AviSource &source, const LogMatch &log, const std::filesystem::path &target, std::ostream &out,
                  std::ostream &err) {
    // The file is grey only when every image is.
    bool colour = false;
    for (std::size_t i = 0; i < source.imageCount() && !colour; ++i) colour = !readImage(source, i).grey();

    std::vector<std::int64_t> times;
    for (const auto &line : log.lines)
        if (line && line->exposeStart) times.push_back(*line->exposeStart);
    const bool timed = times.size() == source.imageCount();
    if (!timed && !log.lines.empty())
        err << "noctil-convert: warning: not every image has its start time, so the SER file gets no time trailer\n";

    SerHeader header;
    header.colour = colour;
    header.width = source.width();
    header.height = source.height();
    header.frames = std::uint32_t(source.imageCount());
    for (const auto &line : log.lines)
        if (line && !line->driver.empty()) header.instrument = line->driver;
    if (!times.empty() && log.lines.front() && log.lines.front()->exposeStart) header.startUtc = times.front();

    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) throw Failure{"cannot create " + target.string() + ": " + std::strerror(errno)};
    try {
        writeAll(fd, serHeaderBytes(header), target);
        for (std::size_t i = 0; i < source.imageCount(); ++i)
            writeAll(fd, serFrameBytes(readImage(source, i), colour), target);
        if (timed) writeAll(fd, serTrailerBytes(times), target);
        if (::close(fd) != 0) throw Failure{"finishing " + target.string() + " failed: " + std::strerror(errno)};
    } catch (const Failure &) {
        ::close(fd);  // a second close of a closed descriptor fails harmlessly
        ::unlink(target.c_str());
        throw;
    }
    out << "wrote " << target.string() << ": " << source.imageCount() << " image"
        << (source.imageCount() == 1 ? "" : "s") << ", " << (colour ? "colour" : "grey")
        << (timed ? ", a start time for each" : ", no times") << "\n";
}

}  // namespace

std::vector<std::filesystem::path> outputFiles(const std::filesystem::path &input, const std::filesystem::path &dir,
                                               OutputKind kind, std::size_t images) {
    const std::string stem = input.stem().string();
    if (kind == OutputKind::Ser) return {dir / (stem + ".ser")};
    if (kind == OutputKind::Stack) return {dir / (stem + ".stack.fits")};
    std::vector<std::filesystem::path> files;
    for (std::size_t i = 1; i <= images; ++i) {
        char number[24];
        std::snprintf(number, sizeof number, "_%04zu.fits", i);
        files.push_back(dir / (stem + number));
    }
    return files;
}

int convert(const Options &o, std::ostream &out, std::ostream &err) {
    try {
        std::string error, warning;
        const std::unique_ptr<AviSource> source = AviSource::open(o.input, error, warning);
        if (!source) throw Failure{error};
        if (!warning.empty()) err << "noctil-convert: warning: " << warning << "\n";

        LogMatch log;
        if (const std::optional<std::string> text = readLog(o)) {
            log = matchLog(*text, source->imageCount(), source->width(), source->height());
            const std::filesystem::path logPath = o.log ? *o.log : plat::imagelog::logPathFor(o.input);
            if (log.error)
                throw Failure{"the log " + logPath.string() + " does not match " + o.input.string() + ": " +
                              *log.error + ". Use --no-log to convert without times"};
            for (const std::string &w : log.warnings)
                err << "noctil-convert: warning: " << logPath.string() << ": " << w << "\n";
        } else {
            if (o.useLog)
                err << "noctil-convert: warning: no image log beside " << o.input.string()
                    << ": no times are written\n";
            log.lines.resize(source->imageCount());
        }

        const std::filesystem::path dir = outputDirectory(o);
        const std::vector<std::filesystem::path> targets = outputFiles(o.input, dir, o.kind, source->imageCount());
        clearTargets(targets, o.input, o.force);
        if (o.kind == OutputKind::Fits) {
            writeFitsFiles(*source, log, targets, out);
        } else if (o.kind == OutputKind::Ser) {
            writeSerFile(*source, log, targets.front(), out, err);
        } else {
            const RestackInput input{o.darks, o.flats, nowUtcMicros()};
            std::string error;
            if (!restack(*source, log, input, targets.front(), out, err, error)) throw Failure{error};
        }
        return 0;
    } catch (const Failure &f) {
        err << "noctil-convert: " << f.text << "\n";
        return 1;
    }
}

}  // namespace noctil::convert
