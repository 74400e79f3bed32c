#include "restack.h"

#include <cstdio>
#include <system_error>
#include <utility>

#include "stack/fits.h"
#include "stack/masters.h"
#include "stack/stack_file.h"
#include "stack/stacker.h"

namespace noctil::convert {

namespace {

// The masters of one kind from a library folder; refused files are warned of.
bool loadMasters(const std::filesystem::path &dir, stack::MasterKind kind, std::vector<stack::MasterFrame> &into,
                 std::ostream &err, std::string &error) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) {
        error = "the library folder " + dir.string() + " does not exist";
        return false;
    }
    stack::Library lib = stack::loadLibrary(dir);
    for (const std::string &r : lib.refused) err << "noctil-convert: warning: " << (dir / r).string() << "\n";
    into = std::move(kind == stack::MasterKind::Dark ? lib.darks : lib.flats);
    if (into.empty())
        err << "noctil-convert: warning: " << dir.string() << " holds no master "
            << (kind == stack::MasterKind::Dark ? "dark" : "flat") << "\n";
    return true;
}

void tellFate(const stack::ImageResult &r, std::ostream &out) {
    char line[256];
    if (r.reference)
        std::snprintf(line, sizeof line, "image %u: the reference, %d stars, FWHM %.2f px", r.number, r.stars,
                      double(r.medianFwhm));
    else if (r.stacked)
        std::snprintf(line, sizeof line, "image %u: stacked, %d stars matched, drift %.2f %.2f px, turn %.3f degrees",
                      r.number, r.pairs, r.shiftX, r.shiftY, r.rotationDeg);
    else
        std::snprintf(line, sizeof line, "image %u: left out: %s", r.number, r.reason);
    out << line << "\n";
    if (*r.notice) out << "image " << r.number << ": " << r.notice << "\n";
}

}  // namespace

void dibRowsOf(const Picture &p, std::vector<std::uint8_t> &rows) {
    const std::size_t stride = stack::dibRowBytes(p.width);
    rows.assign(stride * p.height, 0);
    for (std::size_t y = 0; y < p.height; ++y) {
        const std::uint8_t *from = p.rgb.data() + y * p.width * 3;
        std::uint8_t *to = rows.data() + y * stride;
        for (std::size_t x = 0; x < p.width; ++x, from += 3, to += 3) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
    }
}

bool restack(const AviSource &source, const LogMatch &log, const RestackInput &input,
             const std::filesystem::path &target, std::ostream &out, std::ostream &err, std::string &error) {
    stack::Library calibration;
    if (input.darks && !loadMasters(*input.darks, stack::MasterKind::Dark, calibration.darks, err, error)) return false;
    if (input.flats && !loadMasters(*input.flats, stack::MasterKind::Flat, calibration.flats, err, error)) return false;
    stack::Stacker stacker({}, std::move(calibration));

    Picture picture;
    std::vector<std::uint8_t> rows;
    std::string lastCalibration;
    for (std::size_t i = 0; i < source.imageCount(); ++i) {
        if (!source.read(i, picture, error)) return false;
        dibRowsOf(picture, rows);
        stack::ImageIn in;
        // Channels 0: the stacker tells grey from colour as it does for the program.
        in.format = {picture.width, picture.height, 0, stack::fieldModeForHeight(picture.height)};
        in.rows = rows;
        in.number = std::uint32_t(i + 1);
        if (i < log.lines.size() && log.lines[i]) {
            const plat::imagelog::LogLine &line = *log.lines[i];
            if (const auto micros = line.exposureMicros()) in.exposureS = double(*micros) / 1e6;
            in.ampOffS = double(line.ampOffMicros) / 1e6;
            in.startUtc = line.exposeStart;
            in.endUtc = line.exposeEnd;
        }
        const stack::ImageResult &r = stacker.add(in);
        tellFate(r, out);
        if ((input.darks || input.flats) && r.stacked && lastCalibration != r.calibration) {
            lastCalibration = r.calibration;
            out << "image " << r.number << ": " << r.calibration << "\n";
        }
    }
    if (stacker.imagesIn() == 0) {
        error = "no image of " + std::to_string(source.imageCount()) + " could be stacked; nothing was written";
        return false;
    }
    const std::vector<std::uint8_t> bytes = stack::stackFileBytes(stacker, input.writtenUtc);
    if (!fits::writeNewFile(target, bytes, error)) return false;
    const stack::StackView view = stacker.stack();
    char summary[160];
    std::snprintf(summary, sizeof summary, ": %d image%s in, %d left out, %.3f s in all", view.combined,
                  view.combined == 1 ? "" : "s", stacker.imagesLeftOut(), view.exposureSumS);
    out << "wrote " << target.string() << summary << "\n";
    return true;
}

}  // namespace noctil::convert
