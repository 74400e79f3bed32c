// Darks and flats: which dark an image gets, the library's files read back
// or refused, and a dark that takes the glow and hot pixels away.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>

#include "stack/fits.h"

#include "stack/masters.h"
#include "sky_generator.h"
#include "stack/stacker.h"

namespace {

using noctil::stack::FieldMode;
using noctil::stack::FrameFormat;
using noctil::stack::MasterFrame;
using noctil::stack::MasterKind;

const FrameFormat kPal{720, 576, 3, FieldMode::Fields};
const FrameFormat kNtscGrey{640, 480, 1, FieldMode::Fields};

MasterFrame dark(FrameFormat f, double exposure, double ampOff) {
    MasterFrame m;
    m.format = f, m.exposureS = exposure, m.ampOffS = ampOff;
    return m;
}

struct ChoiceCase {
    const char *name;
    double exposure, ampOff;
    FrameFormat format;
    int index;
    double scale;
    bool otherFormatOnly;
};

// The library: 10 s with 1 s on, 10 s with 3 s on, 20 s with 1 s on (PAL colour).
// clang-format off
const ChoiceCase kChoices[] = {
    {"exact",                        10.0,  9.0,  kPal,      0, 1.0,   false},
    {"within 2 %",                   10.1,  9.1,  kPal,      0, 1.0,   false},
    {"same on-time, longer",         12.0, 11.0,  kPal,      0, 1.2,   false},
    {"same on-time, nearer the 20 s", 18.0, 17.0, kPal,      2, 0.9,   false},
    {"other on-time",                10.0,  7.0,  kPal,      1, 1.0,   false},
    {"no dark of this on-time",      10.0,  8.0,  kPal,     -1, 1.0,   false},
    {"too far to scale",             14.5, 13.5,  kPal,     -1, 1.0,   false},
    {"another format",               10.0,  9.0,  kNtscGrey, -1, 1.0,  true},
    {"exposure unknown",              0.0,  0.0,  kPal,     -1, 1.0,   false},
};
// clang-format on

class DarkChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(DarkChoice, FollowsWhatTheCameraDid) {
    const ChoiceCase &c = GetParam();
    const std::vector<MasterFrame> darks = {dark(kPal, 10, 9), dark(kPal, 10, 7), dark(kPal, 20, 19)};
    const auto choice = noctil::stack::chooseDark(darks, c.format, c.exposure, c.ampOff);
    EXPECT_EQ(choice.index, c.index);
    if (choice.index >= 0) {
        EXPECT_NEAR(choice.thermalScale, c.scale, 1e-9);
    }
    EXPECT_EQ(choice.otherFormatOnly, c.otherFormatOnly);
}

INSTANTIATE_TEST_SUITE_P(Images, DarkChoice, ::testing::ValuesIn(kChoices),
                         [](const auto &info) { return std::to_string(info.index); });

class Library : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("noctil-darks-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        sky_.width = 128, sky_.height = 96, sky_.rngInit = 5;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    MasterFrame saved(double exposure, double ampOff) {
        const skytest::SkyGenerator gen(sky_);
        std::vector<skytest::Shot> shots;
        for (int i = 0; i < 5; ++i) shots.push_back(gen.dark(exposure, ampOff, 60 + std::uint64_t(i)));
        std::vector<noctil::stack::ImageIn> ins;
        for (const auto &s : shots) ins.push_back(s.in());
        MasterFrame m = noctil::stack::makeMaster(MasterKind::Dark, shots[0].format, ins);
        std::string error;
        EXPECT_TRUE(noctil::stack::saveMaster(dir_, m, 946684800000000, error)) << error;
        return m;
    }
    std::filesystem::path dir_;
    skytest::Sky sky_;
};

TEST_F(Library, AMasterReadsBackAsSaved) {
    const MasterFrame m = saved(10, 9);
    EXPECT_EQ(m.name, "dark_128x96_colour_fields_10.000s_on_1.000s.fits");
    const auto lib = noctil::stack::loadLibrary(dir_);
    ASSERT_EQ(lib.darks.size(), 1u);
    EXPECT_TRUE(lib.refused.empty());
    const MasterFrame &r = lib.darks[0];
    EXPECT_EQ(r.format, m.format);
    EXPECT_DOUBLE_EQ(r.exposureS, 10);
    EXPECT_DOUBLE_EQ(r.ampOffS, 9);
    EXPECT_EQ(r.combined, 5);
    EXPECT_EQ(r.planes, m.planes);
    const MasterFrame again = saved(10, 9);
    EXPECT_EQ(again.name, "dark_128x96_colour_fields_10.000s_on_1.000s_2.fits") << "an existing master is kept";
}

struct DamageCase {
    const char *name;
    std::function<void(std::vector<char> &)> damage;
    const char *refusal;
};

// clang-format off
const DamageCase kDamage[] = {
    {"a data byte flipped",   [](std::vector<char> &b) { b[b.size() - 2000] ^= 0x10; },
                              "is damaged or was edited by hand: its checksum does not hold; not used"},
    {"the exposure edited",   [](std::vector<char> &b) {
                                  std::string s(b.begin(), b.end());
                                  const auto at = s.find("10.000000");
                                  b[at] = '2'; },
                              "is damaged or was edited by hand: its checksum does not hold; not used"},
    {"cut short",             [](std::vector<char> &b) { b.resize(b.size() / 2); },
                              "is cut short: its data end early; not used"},
    {"cut in its header",     [](std::vector<char> &b) { b.resize(1000); },
                              "is not a FITS file; not used"},
    {"not FITS at all",       [](std::vector<char> &b) { std::fill(b.begin(), b.begin() + 80, 'x'); },
                              "is not a FITS file; not used"},
    {"a card garbled",        [](std::vector<char> &b) { std::copy_n("'unclosed", 9, b.begin() + 170); },
                              "has a header card that cannot be read (NAXIS); not used"},
    {"a huge axis",           [](std::vector<char> &b) { std::copy_n("99999999", 8, b.begin() + 3 * 80 + 22); },
                              "has axes out of range (99999999 x 96 x 3); not used"},
};
// clang-format on

class Damage : public Library, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(Damage, IsRefusedWithItsReasonAndTheRestLoads) {
    saved(10, 9);
    const MasterFrame good = saved(20, 19);
    const auto file = dir_ / "dark_128x96_colour_fields_10.000s_on_1.000s.fits";
    std::vector<char> bytes;
    {
        std::ifstream in(file, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    GetParam().damage(bytes);
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
    const auto lib = noctil::stack::loadLibrary(dir_);
    ASSERT_EQ(lib.refused.size(), 1u);
    EXPECT_EQ(lib.refused[0], file.filename().string() + ": " + GetParam().refusal);
    ASSERT_EQ(lib.darks.size(), 1u);
    EXPECT_EQ(lib.darks[0].name, good.name);
}

INSTANTIATE_TEST_SUITE_P(Files, Damage, ::testing::ValuesIn(kDamage),
                         [](const auto &info) { return std::to_string(info.index); });

TEST_F(Library, TheDarkTakesTheGlowAwayAndIsNamed) {
    sky_.width = 384, sky_.height = 288, sky_.glow = 40;
    const skytest::SkyGenerator gen(sky_);
    saved(4, 2);
    auto lib = noctil::stack::loadLibrary(dir_);
    const std::string name = lib.darks.at(0).name;
    noctil::stack::Stacker calibrated({}, std::move(lib)), raw;
    for (int i = 0; i < 4; ++i) {
        const auto s = gen.shoot({i * 1.0, 0, 0}, 4, 2, 70 + std::uint64_t(i));
        const auto &r = calibrated.add(s.in());
        EXPECT_EQ(std::string(r.calibration), "dark " + name + "; no flat");
        raw.add(s.in());
    }
    // The glow sits in the bottom-left corner; the stack's corner against its middle.
    const auto corner = [](noctil::stack::Stacker &st) {
        const auto v = st.stack();
        const std::uint32_t w = v.format.width;
        double c = 0, m = 0;
        for (std::uint32_t y = 10; y < 20; ++y)
            for (std::uint32_t x = 10; x < 20; ++x) c += v.planes[y * w + x], m += v.planes[(y + 130) * w + x + 180];
        return (c - m) / 100;
    };
    EXPECT_GT(corner(raw), 40.0) << "glow in the raw stack";
    EXPECT_LT(std::fabs(corner(calibrated)), 3.0) << "glow left after the dark";
    EXPECT_EQ(calibrated.darksUsed(), std::vector<std::string>{name});
}

TEST_F(Library, ADarkOfAnotherFormatIsNotUsedAndSaid) {
    saved(4, 2);
    noctil::stack::Stacker stacker({}, noctil::stack::loadLibrary(dir_));
    skytest::Sky other = sky_;
    other.width = 384, other.height = 288, other.channels = 1, other.fieldMode = FieldMode::WholeFrame;
    const auto &r = stacker.add(skytest::SkyGenerator(other).shoot({}, 4, 2, 3).in());
    EXPECT_STREQ(r.notice, "no dark of this format (384x288 grey, whole-frame mode) in the library: none used");
    EXPECT_STREQ(r.calibration, "no dark; no flat");
    EXPECT_TRUE(stacker.darksUsed().empty());
}

TEST(Flat, DividesAfterTheDarkAndIsNormalised) {
    const FrameFormat f{64, 48, 1, FieldMode::WholeFrame};
    std::vector<std::vector<std::uint8_t>> rows;
    std::vector<noctil::stack::ImageIn> ins;
    for (int i = 0; i < 3; ++i) {
        rows.emplace_back(noctil::stack::dibRowBytes(64) * 48, 0);
        for (std::uint32_t y = 0; y < 48; ++y)
            for (std::uint32_t x = 0; x < 64; ++x)
                std::fill_n(rows.back().begin() + long(y * noctil::stack::dibRowBytes(64) + 3 * x), 3,
                            std::uint8_t(x < 32 ? 100 + i : 200 + i));
    }
    for (const auto &r : rows) {
        noctil::stack::ImageIn in;
        in.format = f, in.rows = r, in.exposureS = 1;
        ins.push_back(in);
    }
    const MasterFrame flat = noctil::stack::makeMaster(MasterKind::Flat, f, ins);
    EXPECT_FLOAT_EQ(flat.planes[0], 101.0f / 101.0f);  // the median (101) is the left half's level
    EXPECT_FLOAT_EQ(flat.planes[63], 201.0f / 101.0f);
}

}  // namespace

namespace {

// Every cut and thousands of random changes of a master's file are read
// without a crash, and none of the changed files is taken.
TEST(DamagedFiles, NeverCrashTheReader) {
    const FrameFormat f{40, 30, 1, FieldMode::WholeFrame};
    MasterFrame m;
    m.format = f, m.exposureS = 5, m.ampOffS = 4, m.combined = 3;
    m.planes.assign(40 * 30, 17.5f);
    const std::vector<noctil::fits::Card> cards = {
        noctil::fits::text("IMAGETYP", "Master Dark"), noctil::fits::text("FIELDMOD", "FRAMES"),
        noctil::fits::fixed("EXPTIME", 5, 6), noctil::fits::fixed("AMPOFF", 4, 6)};
    const std::vector<std::uint8_t> good = noctil::fits::fileBytes({40, 30, 1}, m.planes, cards);
    MasterFrame out;
    std::string error;
    ASSERT_TRUE(noctil::stack::readMaster(good, out, error)) << error;
    for (std::size_t cut = 0; cut < good.size(); cut += 80) {
        EXPECT_FALSE(noctil::stack::readMaster(std::span(good).first(cut), out, error)) << cut;
        EXPECT_FALSE(error.empty());
    }
    std::mt19937 rng(12);
    int taken = 0;
    for (int i = 0; i < 3000; ++i) {
        std::vector<std::uint8_t> bad = good;
        const int changes = 1 + int(rng() % 4);
        for (int k = 0; k < changes; ++k) bad[rng() % bad.size()] ^= std::uint8_t(1 + rng() % 255);
        taken += noctil::stack::readMaster(bad, out, error);
    }
    EXPECT_EQ(taken, 0) << "a changed file passed its checksum";
}

TEST(FlatInTheStack, TakesTheVignettingAway) {
    // The sky darkens towards the edges by up to 30 %; the flat shows the same.
    skytest::Sky sky;
    sky.width = 256, sky.height = 192, sky.channels = 1, sky.hotPixels = 0, sky.glow = 0, sky.pedestal = 0,
    sky.fieldMode = FieldMode::WholeFrame, sky.background = 40, sky.rngInit = 8;
    const skytest::SkyGenerator gen(sky);
    const auto vignette = [&](skytest::Shot s) {
        const std::size_t stride = noctil::stack::dibRowBytes(sky.width);
        for (std::uint32_t y = 0; y < sky.height; ++y)
            for (std::uint32_t x = 0; x < sky.width; ++x) {
                const double r = std::hypot(x - 127.5, y - 95.5) / 160.0;
                for (int c = 0; c < 3; ++c) {
                    std::uint8_t &v = s.rows[y * stride + 3 * x + std::size_t(c)];
                    v = std::uint8_t(std::lround(v * (1 - 0.3 * r * r)));
                }
            }
        return s;
    };
    std::vector<skytest::Shot> flats;
    std::vector<noctil::stack::ImageIn> ins;
    for (int i = 0; i < 3; ++i) {
        skytest::Shot s = vignette(gen.flat(200));
        flats.push_back(s);
    }
    for (const auto &s : flats) ins.push_back(s.in());
    noctil::stack::Library lib;
    lib.flats.push_back(noctil::stack::makeMaster(MasterKind::Flat, flats[0].format, ins));
    lib.flats.back().name = "flat_test.fits";
    noctil::stack::Stacker flat({}, std::move(lib)), plain;
    for (int i = 0; i < 3; ++i) {
        const skytest::Shot s = vignette(gen.shoot({}, 2, 1, 40 + std::uint64_t(i)));
        EXPECT_STREQ(flat.add(s.in()).calibration, "no dark; flat flat_test.fits");
        plain.add(s.in());
    }
    // The corner's sky against the middle's, in the two stacks.
    const auto ratio = [&](noctil::stack::Stacker &st) {
        const auto v = st.stack();
        double corner = 0, middle = 0;
        for (std::uint32_t y = 8; y < 24; ++y)
            for (std::uint32_t x = 8; x < 24; ++x)
                corner += v.planes[y * 256 + x], middle += v.planes[(y + 80) * 256 + x + 120];
        return corner / middle;
    };
    EXPECT_LT(ratio(plain), 0.8) << "the vignetting is there";
    EXPECT_NEAR(ratio(flat), 1.0, 0.04) << "and the flat takes it away";
}

}  // namespace
