// The stack's FITS file as astropy reads and verifies it, and the cards.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "stack/fits.h"
#include "sky_generator.h"
#include "stack/stack_file.h"
#include "stack/stacker.h"

namespace {

struct CardCase {
    const char *name;
    noctil::fits::Card card;
    const char *expected;  // its 80 characters, trailing blanks left off
};

// clang-format off
const CardCase kCards[] = {
    {"text",          noctil::fits::text("DARK", "none", "master dark"),     "DARK    = 'none    '           / master dark"},
    {"quote in text", noctil::fits::text("OBJECT", "M42's", ""),             "OBJECT  = 'M42''s  '"},
    {"integer",       noctil::fits::integer("NCOMBINE", 12, "images"),       "NCOMBINE=                   12 / images"},
    {"fixed",         noctil::fits::fixed("EXPTIME", 30.5, 6, "[s]"),        "EXPTIME =            30.500000 / [s]"},
    {"logical",       noctil::fits::logical("SIMPLE", true),                 "SIMPLE  =                    T"},
    {"history",       noctil::fits::history("image 3 left out: 3 stars found, 6 needed"),
                      "HISTORY image 3 left out: 3 stars found, 6 needed"},
    {"not ASCII",     noctil::fits::text("INSTRUME", "cam\xc3\xa9ra"),        "INSTRUME= 'cam??ra '"},
};
// clang-format on

class CardFormat : public ::testing::TestWithParam<CardCase> {};

TEST_P(CardFormat, IsTheStandardsLayout) {
    std::string card = noctil::fits::formatCard(GetParam().card);
    ASSERT_EQ(card.size(), 80u);
    card.erase(card.find_last_not_of(' ') + 1);
    EXPECT_EQ(card, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cards, CardFormat, ::testing::ValuesIn(kCards),
                         [](const auto &info) { return std::to_string(info.index); });

TEST(UtcText, CalendarAndMicroseconds) {
    EXPECT_EQ(noctil::fits::utcText(946684800000000), "2000-01-01T00:00:00.000000");
    EXPECT_EQ(noctil::fits::utcText(951782400123456), "2000-02-29T00:00:00.123456");
    EXPECT_EQ(noctil::fits::utcText(1798761599999999), "2026-12-31T23:59:59.999999");
}

std::string runPython(const std::string &script, const std::filesystem::path &file) {
    const std::string command = "/usr/bin/python3 -c \"" + script + "\" '" + file.string() + "' 2>&1";
    std::string out;
    FILE *p = ::popen(command.c_str(), "r");
    char buf[4096];
    while (p && std::fgets(buf, sizeof buf, p)) out += buf;
    if (p) ::pclose(p);
    return out;
}

TEST(StackFile, AstropyReadsAndVerifiesIt) {
    skytest::Sky sky;
    sky.width = 200, sky.height = 160, sky.rngInit = 9, sky.stars = 30;
    const skytest::SkyGenerator gen(sky);
    noctil::stack::Stacker stacker;
    for (std::uint32_t i = 1; i <= 4; ++i) {
        skytest::Shot s = i == 3 ? gen.flat(0) : gen.shoot({i * 0.5, 0, 0}, 2.5, 1.5, i);
        s.number = i;
        stacker.add(s.in());
    }
    ASSERT_EQ(stacker.imagesIn(), 3);
    const auto dir = std::filesystem::temp_directory_path() / ("noctil-stackfile-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto path = noctil::stack::stackPathFor(dir / "M42_003.AVI");
    EXPECT_EQ(path.filename(), "M42_003.stack.fits");
    std::string error;
    ASSERT_TRUE(noctil::fits::writeNewFile(path, noctil::stack::stackFileBytes(stacker, 946684800000000), error))
        << error;
    const std::string script =
        "import sys, warnings; from astropy.io import fits; warnings.simplefilter('error');"
        "h = fits.open(sys.argv[1], checksum=True); h.verify('exception'); d = h[0].data; k = h[0].header;"
        "print(d.shape, d.dtype.name);"
        "[print(n, k[n]) for n in ('NCOMBINE','EXPTIME','DATE-OBS','DATE-END','DARK','FLAT','NLEFTOUT','DATE')];"
        "print('HISTORY', k['HISTORY'][0]); h.close()";
    const auto view = stacker.stack();
    const std::string out = runPython(script, path);
    EXPECT_EQ(out,
              "(3, 160, 200) float32\n"
              "NCOMBINE 3\n"
              "EXPTIME 7.5\n"
              "DATE-OBS 1970-01-01T00:00:20.000000\n"
              "DATE-END 1970-01-01T00:01:22.500000\n"
              "DARK none\n"
              "FLAT none\n"
              "NLEFTOUT 1\n"
              "DATE 2000-01-01T00:00:00\n"
              "HISTORY image 3 left out: 0 stars found, 6 needed\n");
    // The values, big-endian as FITS keeps them, are the stack's.
    const std::string sum = runPython(
        "import sys; from astropy.io import fits; d = fits.getdata(sys.argv[1]); print(repr(float(d[1, 80, 100])))",
        path);
    EXPECT_EQ(std::stod(sum), double(view.planes[std::size_t(200 * 160 + 80 * 200 + 100)]));
    std::filesystem::remove_all(dir);
}

}  // namespace
