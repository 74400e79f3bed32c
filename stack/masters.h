// Master darks and flats: made from the images the camera took with the
// telescope covered (darks) or facing an even light (flats), kept as FITS
// files in a library folder, and chosen for each image by what the camera
// did: the same format and field mode, the same amplifier on-time (the
// glow of these cameras follows it), and the exposure nearest.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "image.h"

namespace noctil::stack {

enum class MasterKind { Dark, Flat };

struct MasterFrame {
    MasterKind kind = MasterKind::Dark;
    FrameFormat format;
    double exposureS = 0, ampOffS = 0;
    int combined = 0;                 // images in the median
    std::string name;                 // its file name in the library
    std::vector<float> planes;        // channels x width x height, rows from the bottom
    std::array<float, 3> pedestal{};  // each channel's median

    double onTimeS() const { return exposureS - ampOffS; }
};

// The median of `images` per pixel (an even count takes the lower middle);
// a flat has `dark` taken away first, where given, and is normalised so that
// each channel's median is 1. Every image must be of `format` and whole.
MasterFrame makeMaster(MasterKind kind, const FrameFormat &format, std::span<const ImageIn> images,
                       const MasterFrame *dark = nullptr);

// The file name a master gets: dark_720x576_colour_fields_10.000s_on_2.000s.fits.
std::string masterFileName(const MasterFrame &master);
// Writes `master` into the library folder `dir` (made if missing) under its
// file name, with a number added when that exists; false with `error` set.
bool saveMaster(const std::filesystem::path &dir, MasterFrame &master, std::int64_t writtenUtc, std::string &error);

struct Library {
    std::vector<MasterFrame> darks, flats;
    std::vector<std::string> refused;  // "dark_x.fits: is damaged or was edited by hand: ..."
};
// Reads every .fits file of `dir`; a file that is not a master of ours, or
// is damaged or edited, is refused with the reason and the rest still load.
// A missing folder is an empty library.
Library loadLibrary(const std::filesystem::path &dir);
// Reads one master from its file's bytes; false with `error` set.
bool readMaster(std::span<const std::uint8_t> bytes, MasterFrame &out, std::string &error);

struct DarkChoice {
    int index = -1;                // into the darks; -1: none
    double thermalScale = 1;       // applied to the part above the pedestal
    bool otherFormatOnly = false;  // darks exist, but none of the image's format
};
// Tolerances: equal when within 2 % (at least 50 ms); a near match has the
// same on-time and an exposure within 25 %. No dark for an image whose
// exposure is unknown (0).
DarkChoice chooseDark(std::span<const MasterFrame> darks, const FrameFormat &format, double exposureS, double ampOffS);
// The first flat of the image's format; -1: none.
int chooseFlat(std::span<const MasterFrame> flats, const FrameFormat &format);

}  // namespace noctil::stack
