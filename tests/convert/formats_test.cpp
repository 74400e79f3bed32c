// The converter's pure parts: images from DIBs, what an input file is, the
// SER file's bytes, the time scales, the names and the FITS keywords.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "avi_source.h"
#include "conversion.h"
#include "fits_file.h"
#include "ser_file.h"
#include "times.h"

namespace {

using noctil::convert::Picture;

std::uint32_t le32(const std::vector<std::uint8_t> &b, std::size_t at) {
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}
std::int64_t le64(const std::vector<std::uint8_t> &b, std::size_t at) {
    return std::int64_t(le32(b, at)) | std::int64_t(le32(b, at + 4)) << 32;
}

// A 24-bit DIB 2 x 2: rows of 6 bytes padded to 8, bottom row first.
std::vector<std::uint8_t> dib2x2() {
    std::vector<std::uint8_t> d(40 + 16, 0xEE);
    const std::uint32_t header[] = {40, 2, 2};
    std::memcpy(d.data(), header, sizeof header);
    const std::uint8_t rows[16] = {/* bottom: */ 1, 2, 3, 4,  5,  6,  0xEE, 0xEE,
                                   /* top: */ 7,    8, 9, 10, 11, 12, 0xEE, 0xEE};
    std::memcpy(d.data() + 40, rows, sizeof rows);
    return d;
}

TEST(PictureFromDib, RgbTripletsBottomRowFirstWithoutPadding) {
    Picture p;
    ASSERT_TRUE(noctil::convert::pictureFromDib24(dib2x2(), p));
    EXPECT_EQ(p.width, 2u);
    EXPECT_EQ(p.height, 2u);
    EXPECT_EQ(p.rgb, (std::vector<std::uint8_t>{3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}));
    EXPECT_FALSE(p.grey());
    std::vector<std::uint8_t> shortDib = dib2x2();
    shortDib.resize(shortDib.size() - 1);
    EXPECT_FALSE(noctil::convert::pictureFromDib24(shortDib, p)) << "the top row's padding is missing";
}

TEST(PictureFromDib, GreyOnlyWhenEveryPixelHasEqualChannels) {
    Picture p;
    p.width = 2;
    p.height = 1;
    p.rgb = {5, 5, 5, 200, 200, 200};
    EXPECT_TRUE(p.grey());
    p.rgb[5] = 201;
    EXPECT_FALSE(p.grey());
}

// The planes of a 2 x 2 picture (bottom row first: pixels a b, top row c d)
// as FITS and INDI take them.
struct PlanesCase {
    const char *what;
    bool grey;
    noctil::convert::RowOrder order;
    std::vector<std::uint8_t> planes;
};

TEST(ImagePlanes, GreyOrThreePlanesInEitherRowOrder) {
    Picture p;
    p.width = 2;
    p.height = 2;
    p.rgb = {/* a */ 1, 2, 3, /* b */ 4, 5, 6, /* c */ 7, 8, 9, /* d */ 10, 11, 12};
    using noctil::convert::RowOrder;
    // clang-format off
    const PlanesCase cases[] = {
        {"grey as the picture lies", true,  RowOrder::AsPicture, {1, 4, 7, 10}},
        {"grey top row first",       true,  RowOrder::TopDown,   {7, 10, 1, 4}},
        {"colour as the picture",    false, RowOrder::AsPicture, {1, 4, 7, 10, 2, 5, 8, 11, 3, 6, 9, 12}},
        {"colour top row first",     false, RowOrder::TopDown,   {7, 10, 1, 4, 8, 11, 2, 5, 9, 12, 3, 6}},
    };
    // clang-format on
    for (const PlanesCase &c : cases) EXPECT_EQ(noctil::convert::imagePlanes(p, c.grey, c.order), c.planes) << c.what;
}

TEST(InputFile, WhatItsFirstBytesSay) {
    const auto bytes = [](std::string_view text) { return std::vector<std::uint8_t>(text.begin(), text.end()); };
    using namespace std::string_view_literals;
    EXPECT_FALSE(noctil::convert::notAnAviFile(bytes("RIFF\x10\0\0\0AVI LIST"sv), 5000));
    EXPECT_EQ(*noctil::convert::notAnAviFile(bytes("RIFF"), 4), "is too short to be an AVI file (4 bytes)");
    EXPECT_EQ(*noctil::convert::notAnAviFile(bytes("RIFF\x10\0\0\0AVI LIST"sv), 11),
              "is too short to be an AVI file (11 bytes)");
    EXPECT_EQ(*noctil::convert::notAnAviFile(bytes("RIFF\x10\0\0\0WAVEfmt "sv), 5000),
              "is not an AVI file (it does not begin with a RIFF 'AVI ' header)");
    EXPECT_EQ(*noctil::convert::notAnAviFile(bytes("SIMPLE  =    "), 2880),
              "is not an AVI file (it does not begin with a RIFF 'AVI ' header)");
}

TEST(InputFile, FormatsInWords) {
    const auto format = [](std::uint16_t bits, std::uint32_t compression) {
        std::vector<std::uint8_t> f(40, 0);
        std::memcpy(f.data() + 14, &bits, 2);
        std::memcpy(f.data() + 16, &compression, 4);
        return f;
    };
    EXPECT_EQ(noctil::convert::describeVideoFormat(format(24, 0)), "24-bit RGB");
    EXPECT_EQ(noctil::convert::describeVideoFormat(format(8, 1)), "8-bit run-length encoded RGB");
    EXPECT_EQ(noctil::convert::describeVideoFormat(format(24, 0x47504A4D)), "'MJPG'");
    EXPECT_EQ(noctil::convert::describeVideoFormat({}), "a format without a bitmap header");
}

TEST(SerFile, HeaderFieldByField) {
    noctil::convert::SerHeader h;
    h.colour = true;
    h.width = 640;
    h.height = 480;
    h.frames = 3;
    h.instrument = "Simulated CCTV camera";
    h.startUtc = 946'684'800'500'000;  // 2000-01-01T00:00:00.5
    const std::vector<std::uint8_t> b = noctil::convert::serHeaderBytes(h);
    ASSERT_EQ(b.size(), noctil::convert::kSerHeaderBytes);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 14), "LUCAM-RECORDER");
    EXPECT_EQ(le32(b, 14), 0u);    // LuID
    EXPECT_EQ(le32(b, 18), 100u);  // RGB
    EXPECT_EQ(le32(b, 26), 640u);
    EXPECT_EQ(le32(b, 30), 480u);
    EXPECT_EQ(le32(b, 34), 8u);
    EXPECT_EQ(le32(b, 38), 3u);
    EXPECT_EQ(b[42], 0) << "no observer";
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&b[82])), "Simulated CCTV camera");
    EXPECT_EQ(b[122], 0) << "no telescope";
    EXPECT_EQ(le64(b, 162), 630'822'816'005'000'000);
    EXPECT_EQ(le64(b, 170), 630'822'816'005'000'000);

    h.colour = false;
    h.instrument = std::string(50, 'x');
    h.startUtc.reset();
    const std::vector<std::uint8_t> grey = noctil::convert::serHeaderBytes(h);
    EXPECT_EQ(le32(grey, 18), 0u);
    EXPECT_EQ(std::string(grey.begin() + 82, grey.begin() + 122), std::string(40, 'x')) << "cut to its field";
    EXPECT_EQ(grey[122], 0);
    EXPECT_EQ(le64(grey, 170), 0);
}

TEST(SerFile, FramesTopRowFirstAndTheTrailerInTicks) {
    Picture p;
    ASSERT_TRUE(noctil::convert::pictureFromDib24(dib2x2(), p));
    EXPECT_EQ(noctil::convert::serFrameBytes(p, true),
              (std::vector<std::uint8_t>{9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4}));
    EXPECT_EQ(noctil::convert::serFrameBytes(p, false), (std::vector<std::uint8_t>{9, 12, 3, 6}));
    const std::int64_t times[] = {0, 946'684'800'000'001};
    const std::vector<std::uint8_t> trailer = noctil::convert::serTrailerBytes(times);
    ASSERT_EQ(trailer.size(), 16u);
    EXPECT_EQ(le64(trailer, 0), 621'355'968'000'000'000);
    EXPECT_EQ(le64(trailer, 8), 630'822'816'000'000'010);
}

TEST(TimeScales, ModifiedJulianDates) {
    const struct {
        std::int64_t utc;
        double mjd;
    } cases[] = {{0, 40587.0},
                 {946'684'800'000'000 + 43'200'000'000, 51544.5},
                 {-3'506'716'800'000'000, 0.0},
                 {946'684'800'000'000 + 1'000'000, 51544.0 + 1.0 / 86400}};
    for (const auto &c : cases) EXPECT_NEAR(noctil::convert::modifiedJulianDate(c.utc), c.mjd, 1e-11) << c.utc;
    // A microsecond still shows at today's dates.
    EXPECT_GT(noctil::convert::modifiedJulianDate(1'798'761'599'000'001),
              noctil::convert::modifiedJulianDate(1'798'761'599'000'000));
}

TEST(OutputNames, OneFitsFilePerImageOrOneSerFile) {
    using noctil::convert::OutputKind;
    const auto fits = noctil::convert::outputFiles("/in/M42_003.AVI", "/out", OutputKind::Fits, 3);
    EXPECT_EQ(fits, (std::vector<std::filesystem::path>{"/out/M42_003_0001.fits", "/out/M42_003_0002.fits",
                                                        "/out/M42_003_0003.fits"}));
    EXPECT_EQ(noctil::convert::outputFiles("a.avi", ".", OutputKind::Fits, 10000).back(), "./a_10000.fits");
    EXPECT_EQ(noctil::convert::outputFiles("/in/night.avi", "/out", OutputKind::Ser, 7),
              std::vector<std::filesystem::path>{"/out/night.ser"});
}

const noctil::convert::FitsKeyword *find(const std::vector<noctil::convert::FitsKeyword> &ks, const char *name) {
    for (const auto &k : ks)
        if (k.name == name) return &k;
    return nullptr;
}

TEST(FitsKeywords, TimesFromTheLogLine) {
    plat::imagelog::LogLine line;
    line.image = 2;
    line.exposeStart = 946'684'800'500'000;
    line.exposeEnd = 946'684'803'500'000;
    line.ampOffMicros = 2'000'000;
    line.readoutFirst = 946'684'803'500'000;
    line.readoutLast = 946'684'803'632'000;
    line.driver = "Simulated CCTV camera";
    line.format = "640x480 RGB24";
    const auto ks = noctil::convert::fitsKeywords(2, line);
    const struct {
        const char *name, *text;
    } texts[] = {{"DATE-OBS", "2000-01-01T00:00:00.500000"},
                 {"DATE-END", "2000-01-01T00:00:03.500000"},
                 {"TIMESYS", "UTC"},
                 {"INSTRUME", "Simulated CCTV camera"},
                 {"VIDEOFMT", "640x480 RGB24"},
                 {"ROWORDER", "BOTTOM-UP"},
                 {"DATE-RDB", "2000-01-01T00:00:03.500000"},
                 {"DATE-RDE", "2000-01-01T00:00:03.632000"}};
    for (const auto &t : texts) {
        const auto *k = find(ks, t.name);
        ASSERT_NE(k, nullptr) << t.name;
        EXPECT_EQ(k->text, t.text) << t.name;
    }
    EXPECT_DOUBLE_EQ(find(ks, "EXPTIME")->number, 3.0);
    EXPECT_DOUBLE_EQ(find(ks, "AMPOFF")->number, 2.0);
    EXPECT_NEAR(find(ks, "MJD-OBS")->number, 51544.0 + 0.5 / 86400, 1e-11);
    EXPECT_EQ(find(ks, "IMAGENUM")->integer, 2);
}

TEST(FitsKeywords, NoTimesWithoutALine) {
    const auto ks = noctil::convert::fitsKeywords(5, std::nullopt);
    for (const char *name : {"DATE-OBS", "DATE-END", "EXPTIME", "MJD-OBS", "TIMESYS", "INSTRUME"})
        EXPECT_EQ(find(ks, name), nullptr) << name;
    ASSERT_NE(find(ks, "COMMENT"), nullptr);
    EXPECT_EQ(find(ks, "IMAGENUM")->integer, 5);
}

}  // namespace
