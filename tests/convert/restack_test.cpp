// noctil-convert --stack: a recorded night through the live stack's library
// gives the stack the library gives for the same images, bit for bit, with
// each image's fate said; darks from a library folder; bad input told.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>

#include "convert_test_support.h"
#include "stack/fits.h"
#include "stack/masters.h"
#include "platform_fixture.h"
#include "sky_generator.h"
#include "stack/stacker.h"

namespace {

using noctil::convert::Picture;

// A shot as the AVI holds it (R,G,B triplets, bottom row first).
Picture pictureOf(const skytest::Shot &s) {
    Picture p;
    p.width = s.format.width, p.height = s.format.height;
    const std::size_t stride = noctil::stack::dibRowBytes(p.width);
    for (std::uint32_t y = 0; y < p.height; ++y)
        for (std::uint32_t x = 0; x < p.width; ++x) {
            const std::uint8_t *b = s.rows.data() + y * stride + 3 * x;
            p.rgb.insert(p.rgb.end(), {b[2], b[1], b[0]});
        }
    return p;
}

class Restack : public ::testing::Test {
protected:
    Restack() : dir_(noctil::test::makeTempDirectory("noctil-restack")) {
        sky_.width = 384, sky_.height = 288, sky_.rngInit = 17, sky_.fieldMode = noctil::stack::FieldMode::WholeFrame;
    }
    ~Restack() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::filesystem::path file(const std::string &name) const { return dir_ / name; }

    int convert(std::vector<std::string> args) { return convtest::runConverter(args, out, err); }

    // The night: images exposed 2.5 s with 1.5 s amplifier off, as the log
    // of the converter's tests says; image 4 is black.
    std::vector<skytest::Shot> night() const {
        const skytest::SkyGenerator gen(sky_);
        std::vector<skytest::Shot> shots;
        const skytest::Pose poses[] = {{0, 0, 0}, {2.5, -1.25, 0.1}, {5, -2.5, 0.2},
                                       {},        {7.5, -3.75, 0.3}, {10, -5, 0.4}};
        for (std::size_t i = 0; i < std::size(poses); ++i) {
            skytest::Shot s = i == 3 ? gen.flat(0) : gen.shoot(poses[i], 2.5, 1.5, 300 + i);
            s.exposureS = 2.5, s.ampOffS = 1.5, s.number = std::uint32_t(i + 1);
            shots.push_back(std::move(s));
        }
        return shots;
    }
    void record(const std::vector<skytest::Shot> &shots) const {
        std::vector<Picture> pictures;
        for (const auto &s : shots) pictures.push_back(pictureOf(s));
        convtest::writeAvi(file("M42_003.AVI"), pictures);
        convtest::writeLog(file("M42_003.LOG"), convtest::logLines(shots.size(), sky_.width, sky_.height));
    }
    std::optional<noctil::fits::FloatImage> readStack() const {
        const std::vector<std::uint8_t> bytes = convtest::readBytes(file("M42_003.stack.fits"));
        std::string error;
        auto image = noctil::fits::readFloatImage(bytes, error);
        EXPECT_TRUE(image) << error;
        return image;
    }

    skytest::Sky sky_;
    std::string out, err;

private:
    std::filesystem::path dir_;
};

TEST_F(Restack, GivesTheLiveStackBitForBitAndTellsEachImage) {
    const auto shots = night();
    record(shots);
    ASSERT_EQ(convert({"--stack", file("M42_003.AVI").string()}), 0) << err;

    // The live side: the same rows, exposures and times straight into the library.
    noctil::stack::Stacker live;
    const auto lines = convtest::logLines(shots.size(), sky_.width, sky_.height);
    for (std::size_t i = 0; i < shots.size(); ++i) {
        noctil::stack::ImageIn in = shots[i].in();
        in.format.channels = 0;
        in.startUtc = lines[i].exposeStart, in.endUtc = lines[i].exposeEnd;
        live.add(in);
    }
    const noctil::stack::StackView view = live.stack();
    const auto stack = readStack();
    ASSERT_TRUE(stack);
    ASSERT_EQ(stack->values.size(), view.planes.size());
    EXPECT_EQ(std::memcmp(stack->values.data(), view.planes.data(), view.planes.size_bytes()), 0);
    EXPECT_EQ(stack->axes.planes, 3u);
    EXPECT_EQ(stack->find("NCOMBINE")->integer, 5);
    EXPECT_DOUBLE_EQ(stack->find("EXPTIME")->number, 12.5);
    EXPECT_EQ(stack->find("DATE-OBS")->text, "2000-01-01T00:00:00.000000");
    EXPECT_EQ(stack->find("DATE-END")->text, "2000-01-01T00:00:52.500000");
    EXPECT_EQ(stack->find("DARK")->text, "none");

    // clang-format off
    const char *expected[] = {
        "image 1: the reference, ",
        "image 2: stacked, ",
        "image 3: stacked, ",
        "image 4: left out: 0 stars found, 6 needed",
        "image 5: stacked, ",
        "image 6: stacked, ",
        "wrote ",
    };
    // clang-format on
    std::istringstream said(out);
    std::string line;
    for (const char *e : expected) {
        ASSERT_TRUE(std::getline(said, line)) << out;
        EXPECT_EQ(line.rfind(e, 0), 0u) << line;
    }
    double dx = 0, dy = 0, turn = 0;
    ASSERT_EQ(std::sscanf(out.c_str() + out.find("image 6: stacked"),
                          "image 6: stacked, %*d stars matched, drift %lf %lf px, turn %lf", &dx, &dy, &turn),
              3)
        << out;
    EXPECT_NEAR(dx, 10, 0.1);
    EXPECT_NEAR(dy, -5, 0.1);
    EXPECT_NEAR(turn, 0.4, 0.02);
    EXPECT_NE(out.find("M42_003.stack.fits: 5 images in, 1 left out, 12.500 s in all"), std::string::npos) << out;
    EXPECT_EQ(err, "");
}

TEST_F(Restack, TakesDarksFromTheLibraryAndSaysWhichAndWhatItRefused) {
    const auto shots = night();
    record(shots);
    const skytest::SkyGenerator gen(sky_);
    std::vector<skytest::Shot> darks;
    for (std::uint64_t i = 0; i < 3; ++i) darks.push_back(gen.dark(2.5, 1.5, 900 + i));
    std::vector<noctil::stack::ImageIn> ins;
    for (const auto &d : darks) ins.push_back(d.in());
    noctil::stack::MasterFrame master =
        noctil::stack::makeMaster(noctil::stack::MasterKind::Dark, darks[0].format, ins);
    std::string error;
    ASSERT_TRUE(noctil::stack::saveMaster(file("darks"), master, 0, error)) << error;
    convtest::writeLog(file("darks/notes.fits"), {});  // not a master at all

    ASSERT_EQ(convert({"--stack", "--darks", file("darks").string(), file("M42_003.AVI").string()}), 0) << err;
    EXPECT_NE(out.find("image 1: dark " + master.name + "; no flat\n"), std::string::npos) << out;
    EXPECT_EQ(err,
              "noctil-convert: warning: " + file("darks/notes.fits").string() + ": is not a FITS file; not used\n");
    const auto stack = readStack();
    ASSERT_TRUE(stack);
    EXPECT_EQ(stack->find("DARK")->text, master.name);
}

struct BadRestack {
    const char *what;
    std::vector<std::string> args;  // names without a dash are files in the test's folder
    int blackImages;                // a night of only black frames when > 0
    const char *message;
};

// clang-format off
const BadRestack kBad[] = {
    {"a darks folder that is not there", {"--stack", "--darks", "nowhere", "M42_003.AVI"}, 0, "the library folder "},
    {"nothing to stack",                 {"--stack", "M42_003.AVI"}, 3, "no image of 3 could be stacked; nothing was written"},
};
// clang-format on

TEST_F(Restack, BadInputIsToldAndNothingIsWritten) {
    for (const BadRestack &c : kBad) {
        SCOPED_TRACE(c.what);
        if (c.blackImages > 0) {
            const skytest::SkyGenerator gen(sky_);
            record(std::vector<skytest::Shot>(std::size_t(c.blackImages), gen.flat(0)));
        } else {
            record(night());
        }
        std::vector<std::string> args;
        for (const std::string &a : c.args) args.push_back(a[0] == '-' ? a : file(a).string());
        EXPECT_EQ(convert(args), 1);
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
        EXPECT_FALSE(std::filesystem::exists(file("M42_003.stack.fits")));
    }
}

TEST_F(Restack, AnExistingStackIsReplacedOnlyWithForce) {
    record(night());
    ASSERT_EQ(convert({"--stack", file("M42_003.AVI").string()}), 0) << err;
    EXPECT_EQ(convert({"--stack", file("M42_003.AVI").string()}), 1);
    EXPECT_NE(err.find("M42_003.stack.fits exists; nothing was written. Use --force"), std::string::npos) << err;
    EXPECT_EQ(convert({"--stack", "--force", file("M42_003.AVI").string()}), 0) << err;
}

}  // namespace
