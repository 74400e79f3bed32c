#include "masters.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string_view>
#include <system_error>

#include "fits.h"

namespace noctil::stack {

namespace {

constexpr std::uintmax_t kLargestMasterFile = std::uintmax_t{64} << 20;

float medianOf(std::vector<float> &v) {
    if (v.empty()) return 0;
    auto mid = v.begin() + std::ptrdiff_t((v.size() - 1) / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

void findPedestals(MasterFrame &m) {
    const std::size_t pixels = std::size_t(m.format.width) * m.format.height;
    std::vector<float> sample;
    for (int c = 0; c < m.format.channels; ++c) {
        sample.assign(m.planes.begin() + std::ptrdiff_t(c * pixels),
                      m.planes.begin() + std::ptrdiff_t((c + 1) * pixels));
        m.pedestal[std::size_t(c)] = medianOf(sample);
    }
}

bool near(double a, double b) { return std::fabs(a - b) <= std::max(0.05, 0.02 * std::max(a, b)); }

const char *kindWord(MasterKind k) { return k == MasterKind::Dark ? "dark" : "flat"; }

}  // namespace

MasterFrame makeMaster(MasterKind kind, const FrameFormat &format, std::span<const ImageIn> images,
                       const MasterFrame *dark) {
    MasterFrame m;
    m.kind = kind;
    m.format = format;
    m.combined = int(images.size());
    const std::size_t values = std::size_t(format.width) * format.height * std::size_t(format.channels);
    std::vector<float> all(values * images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        toPlanes(images[i], std::span(all).subspan(i * values, values));
        m.exposureS += images[i].exposureS / double(images.size());
        m.ampOffS += images[i].ampOffS / double(images.size());
    }
    m.planes.resize(values);
    std::vector<float> column(images.size());
    for (std::size_t v = 0; v < values; ++v) {
        for (std::size_t i = 0; i < images.size(); ++i) column[i] = all[i * values + v];
        m.planes[v] = medianOf(column);
    }
    if (kind == MasterKind::Flat) {
        if (dark && dark->format == format)
            for (std::size_t v = 0; v < values; ++v) m.planes[v] -= dark->planes[v];
        findPedestals(m);
        const std::size_t pixels = values / std::size_t(format.channels);
        for (std::size_t v = 0; v < values; ++v) {
            const float level = m.pedestal[v / pixels];
            m.planes[v] = level > 0 ? m.planes[v] / level : 1.0f;
        }
    }
    findPedestals(m);
    return m;
}

std::string masterFileName(const MasterFrame &m) {
    char name[160];
    std::snprintf(name, sizeof name, "%s_%ux%u_%s_%s_%.3fs_on_%.3fs.fits", kindWord(m.kind), m.format.width,
                  m.format.height, m.format.channels == 1 ? "grey" : "colour",
                  m.format.fieldMode == FieldMode::Fields ? "fields" : "frames", m.exposureS, m.onTimeS());
    return name;
}

bool saveMaster(const std::filesystem::path &dir, MasterFrame &m, std::int64_t writtenUtc, std::string &error) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        error = "cannot make the library folder " + dir.string() + ": " + ec.message();
        return false;
    }
    const std::string base = masterFileName(m);
    const std::string stem = base.substr(0, base.size() - std::string_view(".fits").size());
    std::string name = base;
    for (int n = 2; std::filesystem::exists(dir / name, ec); ++n) name = stem + "_" + std::to_string(n) + ".fits";
    std::vector<fits::Card> cards = {
        fits::text("IMAGETYP", m.kind == MasterKind::Dark ? "Master Dark" : "Master Flat", "what this file is"),
        fits::text("ROWORDER", "BOTTOM-UP", "first row is the bottom of the image"),
        fits::text("FIELDMOD", m.format.fieldMode == FieldMode::Fields ? "FIELDS" : "FRAMES",
                   "readout: field mode or whole frames"),
        fits::fixed("EXPTIME", m.exposureS, 6, "[s] mean measured exposure of the images"),
        fits::fixed("AMPOFF", m.ampOffS, 6, "[s] mean part of it with the amplifier off"),
        fits::integer("NCOMBINE", m.combined, "images in the median"),
        fits::text("DATE", fits::utcText(writtenUtc).substr(0, 19), "file written (UTC)"),
        fits::text("SWCREATE", "Noctil", "software that made the file")};
    const fits::Axes axes{m.format.width, m.format.height, std::uint32_t(m.format.channels)};
    const std::vector<std::uint8_t> bytes = fits::fileBytes(axes, m.planes, cards);
    if (!fits::writeNewFile(dir / name, bytes, error)) return false;
    m.name = name;
    return true;
}

bool readMaster(std::span<const std::uint8_t> bytes, MasterFrame &m, std::string &error) {
    std::optional<fits::FloatImage> image = fits::readFloatImage(bytes, error);
    if (!image) return false;
    const fits::Card *type = image->find("IMAGETYP");
    const fits::Card *field = image->find("FIELDMOD");
    const fits::Card *exposure = image->find("EXPTIME");
    const fits::Card *ampOff = image->find("AMPOFF");
    const fits::Card *combined = image->find("NCOMBINE");
    const auto textIs = [](const fits::Card *c, const char *v) {
        return c && c->kind == fits::Card::Kind::Text && c->text == v;
    };
    const auto isNumber = [](const fits::Card *c) {
        return c && (c->kind == fits::Card::Kind::Fixed || c->kind == fits::Card::Kind::Integer);
    };
    if (!textIs(type, "Master Dark") && !textIs(type, "Master Flat")) {
        error = "is not a master dark or flat (IMAGETYP)";
        return false;
    }
    if (!(textIs(field, "FIELDS") || textIs(field, "FRAMES")) || !isNumber(exposure) || !isNumber(ampOff)) {
        error = "lacks the field mode, exposure or amplifier-off time of a master";
        return false;
    }
    if (exposure->number <= 0 || ampOff->number < 0 || ampOff->number > exposure->number) {
        error = "has an exposure or amplifier-off time that cannot be";
        return false;
    }
    m.kind = textIs(type, "Master Dark") ? MasterKind::Dark : MasterKind::Flat;
    m.format = {image->axes.width, image->axes.height, int(image->axes.planes),
                textIs(field, "FIELDS") ? FieldMode::Fields : FieldMode::WholeFrame};
    m.exposureS = exposure->number;
    m.ampOffS = ampOff->number;
    m.combined = isNumber(combined) ? int(combined->number) : 0;
    m.planes = std::move(image->values);
    findPedestals(m);
    return true;
}

Library loadLibrary(const std::filesystem::path &dir) {
    Library lib;
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) return lib;
    std::vector<std::filesystem::path> files;
    for (const auto &entry : std::filesystem::directory_iterator(dir, ec))
        if (entry.path().extension() == ".fits") files.push_back(entry.path());
    std::sort(files.begin(), files.end());  // the same choice on every system
    for (const auto &file : files) {
        const std::string name = file.filename().string();
        const std::uintmax_t size = std::filesystem::file_size(file, ec);
        if (ec || size > kLargestMasterFile) {
            lib.refused.push_back(name + ": cannot be read or is too large to be a master");
            continue;
        }
        std::ifstream in(file, std::ios::binary);
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        MasterFrame m;
        std::string error;
        if (!readMaster(bytes, m, error)) {
            lib.refused.push_back(name + ": " + error + "; not used");
            continue;
        }
        m.name = name;
        (m.kind == MasterKind::Dark ? lib.darks : lib.flats).push_back(std::move(m));
    }
    return lib;
}

DarkChoice chooseDark(std::span<const MasterFrame> darks, const FrameFormat &format, double exposureS, double ampOffS) {
    DarkChoice choice;
    const double onTime = exposureS - ampOffS;
    double bestGap = 0;
    bool anyOfFormat = false;
    for (std::size_t i = 0; i < darks.size(); ++i) {
        const MasterFrame &d = darks[i];
        if (!(d.format == format)) continue;
        anyOfFormat = true;
        if (!near(d.onTimeS(), onTime)) continue;
        const double gap = std::fabs(d.exposureS - exposureS);
        if (choice.index < 0 || gap < bestGap) choice.index = int(i), bestGap = gap;
    }
    choice.otherFormatOnly = !darks.empty() && !anyOfFormat;
    // Without a measured exposure nothing says which dark fits.
    if (exposureS <= 0) choice.index = -1;
    if (choice.index < 0) return choice;
    const MasterFrame &d = darks[std::size_t(choice.index)];
    if (near(d.exposureS, exposureS)) return choice;
    if (exposureS > 1.25 * d.exposureS || exposureS < 0.8 * d.exposureS) {
        choice.index = -1;
        return choice;
    }
    choice.thermalScale = exposureS / d.exposureS;
    return choice;
}

int chooseFlat(std::span<const MasterFrame> flats, const FrameFormat &format) {
    for (std::size_t i = 0; i < flats.size(); ++i)
        if (flats[i].format == format) return int(i);
    return -1;
}

}  // namespace noctil::stack
