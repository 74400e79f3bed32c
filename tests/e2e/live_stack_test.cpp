// The Live Stack window over a real run on the simulated camera: every image
// the cycle makes goes in, paused ones too; Reset Stack makes the next image
// the reference; an image left out is told with the stacker's reason and
// the run goes on.
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "avi_test_support.h"
#include "dialog_user.h"
#include "e2e_fixture.h"
#include "files/paths.h"
#include "imagelog/log_format.h"
#include "user/window_system.h"

namespace noctil::e2e {
namespace {

constexpr std::uint8_t kExpose = 0x0B;

HWND liveStackWindow() { return FindWindowA("NoctilLiveStackClass", nullptr); }

// The text of one of the window's lines, "" without the window.
std::string stackLine(int id) {
    HWND window = liveStackWindow();
    return window ? noctil::test::AppTest::windowText(GetDlgItem(window, id)) : "";
}

struct StackRun {
    const char *name;
    bool flatFrames;      // a test camera of even grey frames, without a star, for the simulated sky
    const char *capture;  // the [Capture] keys
    // Menu commands chosen as the n-th image's title is set (1 from the first).
    std::vector<std::pair<std::size_t, UINT>> onImage;
    int stopAtExposure;  // Stop 100 ms into this exposure (0: the run stops by its count)
    std::size_t imagesInFile;
    // The window's lines at the end.
    const char *counts, *fate;
};

// clang-format off
const StackRun kRuns[] = {
    {"RecordedRunPutsEveryImageIn", false, "Exposure=2000\r\nCount=3\r\n", {}, 0, 3,
     "Images in: 3   Left out: 0", "Image 3: stacked"},
    {"PausedImagesGoInUnwritten", false, "Exposure=2000\r\n", {{1, IDM_PAUSE}}, 4, 1,
     "Images in: 3   Left out: 0", "Image 3: stacked (paused: not in the file)"},
    {"ResetStackMakesTheNextImageTheReference", false, "Exposure=2000\r\nCount=4\r\n", {{2, IDM_RESETSTACK}}, 0, 4,
     "Images in: 2   Left out: 0", "Image 4: stacked"},
    {"StarlessImagesAreLeftOutAndTheRunGoesOn", true, "Exposure=1000\r\nCount=2\r\n", {}, 0, 2,
     "Images in: 0   Left out: 2", "Image 2: left out: 0 stars found, 6 needed"},
};
// clang-format on

void PrintTo(const StackRun &r, std::ostream *os) { *os << r.name; }

class LiveStackRun : public EndToEndTest, public ::testing::WithParamInterface<StackRun> {};

TEST_P(LiveStackRun, EveryImageHasItsFate) {
    const StackRun &run = GetParam();
    if (run.flatFrames)
        installCamera(noctil::test::Camera::Test240);
    else
        installWatchedCamera();
    writeSettingsFile(std::string("[Filenames]\r\nImageFile=C:\\night.avi\r\n[Capture]\r\n") + run.capture +
                      "[LiveStack]\r\nOpen=1\r\n");
    user().at(500, [&] { choose(IDM_RECORD); });
    std::size_t images = 0;
    // Each image's fate is shown before the next image is made.
    std::vector<std::string> fateAtNextImage;
    onTitle = [&](const std::string &) {
        ++images;
        if (images > 1) fateAtNextImage.push_back(stackLine(IDC_STACK_FATE));
        for (const auto &[image, command] : run.onImage)
            if (image == images) choose(command);
        // A run that stops by its count ends the program a while after.
        if (run.stopAtExposure == 0 && images == run.imagesInFile) user().after(3000, [&] { exitProgram(); });
    };
    // Paused images set no title: such a run is stopped by the port.
    if (run.stopAtExposure > 0) stopAfterWrite(kExpose, run.stopAtExposure, 100, 500);
    // The window's lines as they stand, every 100 ms while it is open.
    std::string counts, fate;
    int paintedWidth = 0, paintedHeight = 0;
    std::function<void()> watch = [&] {
        if (!liveStackWindow()) return;
        counts = stackLine(IDC_STACK_COUNTS);
        fate = stackLine(IDC_STACK_FATE);
        if (const plat::user::PaintSurface *painted = plat::user::paintSurface(liveStackWindow())) {
            paintedWidth = painted->width;
            paintedHeight = painted->height;
        }
        user().after(100, watch);
    };
    user().at(100, watch);
    setTimeLimitMs(120000);
    ASSERT_EQ(runProgram(), 0);

    EXPECT_EQ(readImages(plat::nativePath("C:\\night.avi")).size(), run.imagesInFile);
    EXPECT_EQ(counts, run.counts);
    EXPECT_EQ(fate, run.fate);
    if (run.onImage.empty()) {
        ASSERT_EQ(fateAtNextImage.size(), run.imagesInFile - 1);
        for (std::size_t k = 0; k < fateAtNextImage.size(); ++k)
            EXPECT_EQ(fateAtNextImage[k].rfind("Image " + std::to_string(k + 1) + ": ", 0), 0u)
                << "as image " << k + 2 << " was made: " << fateAtNextImage[k];
    }
    // The stretched stack, its histogram 64 rows below it; nothing without an image in.
    const bool stacked = run.counts != std::string("Images in: 0   Left out: 2");
    EXPECT_EQ(paintedWidth, stacked ? 640 : 0);
    EXPECT_EQ(paintedHeight, stacked ? 480 + 64 : 0);
}

INSTANTIATE_TEST_SUITE_P(Runs, LiveStackRun, ::testing::ValuesIn(kRuns),
                         [](const auto &info) { return std::string(info.param.name); });

// The view's levels as the level line gives them: black, white, midtone.
struct Levels {
    bool automatic = false;
    double black = 0, white = 0, midtone = 0;
};

Levels levelsShown() {
    const std::string line = stackLine(IDC_STACK_LEVELS);
    Levels l;
    char word[16] = {};
    if (std::sscanf(line.c_str(), "%15s %lf / %lf / %lf", word, &l.black, &l.white, &l.midtone) != 4) return {};
    l.automatic = std::string(word) == "Auto";
    return l;
}

// One click on a level button, and which way each level then moved from
// the last (-1 down, 0 not, 1 up).
struct LevelStep {
    int button;
    bool automatic;
    int black, white, midtone;
};

// clang-format off
const LevelStep kLevelSteps[] = {
    {IDC_STACK_BLACK_UP,   false,  1,  0,  0},
    {IDC_STACK_BLACK_DOWN, false, -1,  0,  0},
    {IDC_STACK_WHITE_DOWN, false,  0, -1,  0},
    {IDC_STACK_WHITE_UP,   false,  0,  1,  0},
    {IDC_STACK_MID_UP,     false,  0,  0,  1},
    {IDC_STACK_MID_DOWN,   false,  0,  0, -1},
    {IDC_STACK_MID_DOWN,   false,  0,  0, -1},
    {IDC_STACK_AUTO,       true,   0,  0,  1},
};
// clang-format on

int direction(double from, double to) { return to > from + 1e-9 ? 1 : to < from - 1e-9 ? -1 : 0; }

using LiveStackLevels = EndToEndTest;

// After a run, each level button moves its level alone and paints the view
// anew; Auto goes back to the automatic levels.
TEST_F(LiveStackLevels, EachButtonMovesItsLevelAndPaintsTheView) {
    installWatchedCamera();
    writeSettingsFile(
        "[Filenames]\r\nImageFile=C:\\night.avi\r\n[Capture]\r\nExposure=1500\r\nCount=2\r\n"
        "[LiveStack]\r\nOpen=1\r\n");
    user().at(500, [&] { choose(IDM_RECORD); });
    // Each click is a posted message: its effect is read 100 ms later.
    Levels last;
    std::uint64_t painted = 0;
    std::function<void(std::size_t)> step = [&](std::size_t i) {
        const plat::user::PaintSurface *surface = plat::user::paintSurface(liveStackWindow());
        ASSERT_NE(surface, nullptr);
        const Levels now = levelsShown();
        if (i == 0) {
            EXPECT_TRUE(now.automatic) << stackLine(IDC_STACK_LEVELS);
            EXPECT_LT(now.black, now.white);
        } else {
            const LevelStep &s = kLevelSteps[i - 1];
            SCOPED_TRACE("step " + std::to_string(i));
            EXPECT_EQ(now.automatic, s.automatic);
            EXPECT_EQ(direction(last.black, now.black), s.black) << last.black << " to " << now.black;
            EXPECT_EQ(direction(last.white, now.white), s.white) << last.white << " to " << now.white;
            EXPECT_EQ(direction(last.midtone, now.midtone), s.midtone) << last.midtone << " to " << now.midtone;
            EXPECT_GT(surface->serial, painted) << "the view is painted anew";
        }
        last = now;
        painted = surface->serial;
        if (i == std::size(kLevelSteps)) {
            exitProgram();
            return;
        }
        EXPECT_TRUE(noctil::test::clickItem(liveStackWindow(), kLevelSteps[i].button));
        user().after(100, [&, i] { step(i + 1); });
    };
    onTitle = [&](const std::string &) {
        if (titles.size() == 2) user().after(4000, [&] { step(0); });
    };
    setTimeLimitMs(60000);
    ASSERT_EQ(runProgram(), 0);
}

// The value of a header card of a FITS file (its text after "= ", up to a
// comment), "" when the header has no such card.
std::string cardValue(const std::filesystem::path &file, const std::string &key) {
    std::ifstream in(file, std::ios::binary);
    char card[81] = {};
    while (in.read(card, 80)) {
        const std::string text(card, 80);
        if (text.rfind("END ", 0) == 0) break;
        if (text.compare(0, 8, (key + "        ").substr(0, 8)) != 0 || text.compare(8, 2, "= ") != 0) continue;
        std::string value = text.substr(10, text.find(" /", 10) - 10);
        value.erase(0, value.find_first_not_of(' '));
        value.erase(value.find_last_not_of(' ') + 1);
        return value;
    }
    return "";
}

// The sum of the exposures of the image log beside `avi`, in seconds, and its lines.
double loggedExposureSum(const std::filesystem::path &avi, std::size_t &lines) {
    std::ifstream in(plat::imagelog::logPathFor(avi));
    std::string line;
    std::getline(in, line);  // the column names
    double sum = 0;
    lines = 0;
    while (std::getline(in, line)) {
        const auto parsed = plat::imagelog::parseLine(line);
        if (!parsed || !parsed->exposureMicros()) continue;
        sum += double(*parsed->exposureMicros()) / 1e6;
        ++lines;
    }
    return sum;
}

struct StopCase {
    const char *name;
    bool windowOpen;  // the Live Stack window open from the start
    bool diskFull;    // the stack's name leads to a device that is always full
};

const StopCase kStopCases[] = {
    {"WrittenBesideTheOutputFile", true, false},
    {"FullDiskIsToldTheFileKeepsItsImages", true, true},
    {"NoStackWithoutTheWindow", false, false},
};

void PrintTo(const StopCase &c, std::ostream *os) { *os << c.name; }

class LiveStackAtStop : public EndToEndTest, public ::testing::WithParamInterface<StopCase> {};

// A run of three images that stops by its count: the stack and its view
// beside the output file, with the images in and their measured exposures;
// or, on a full disk, a box that says so and the output file as it was.
TEST_P(LiveStackAtStop, StackAndViewBesideTheOutputFile) {
    const StopCase &c = GetParam();
    installWatchedCamera();
    writeSettingsFile(
        std::string("[Filenames]\r\nImageFile=C:\\night.avi\r\n[Capture]\r\nExposure=1500\r\nCount=3\r\n") +
        (c.windowOpen ? "[LiveStack]\r\nOpen=1\r\n" : ""));
    const std::filesystem::path avi = plat::nativePath("C:\\night.avi");
    const std::filesystem::path fits = plat::nativePath("C:\\night.stack.fits");
    const std::filesystem::path png = plat::nativePath("C:\\night.stack.png");
    if (c.diskFull) std::filesystem::create_symlink("/dev/full", fits);
    user().at(500, [&] { choose(IDM_RECORD); });
    std::string fileLine;
    std::vector<std::uint8_t> painted;
    onTitle = [&](const std::string &) {
        if (titles.size() != 3) return;
        user().after(4000, [&] {
            fileLine = stackLine(IDC_STACK_FILE);
            if (const plat::user::PaintSurface *surface =
                    liveStackWindow() ? plat::user::paintSurface(liveStackWindow()) : nullptr)
                painted = surface->bits;
            if (c.diskFull) {
                ASSERT_EQ(noctil::test::messageBoxLog().size(), 1u);
                noctil::test::pressEnter();
            }
            exitProgram();
        });
    };
    setTimeLimitMs(60000);
    ASSERT_EQ(runProgram(), 0);

    EXPECT_EQ(readImages(avi).size(), 3u) << "the output file keeps its images";
    if (c.diskFull) {
        EXPECT_EQ(noctil::test::messageBoxTexts(),
                  std::vector<std::string>{"Can't write the stack to C:\\night.stack.fits\nNo space left on device.\n"
                                           "C:\\night.avi keeps its 3 images."});
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(fits)));
        EXPECT_FALSE(std::filesystem::exists(png));
        EXPECT_EQ(fileLine, "");
        return;
    }
    EXPECT_TRUE(noctil::test::messageBoxTexts().empty());
    if (!c.windowOpen) {
        EXPECT_FALSE(std::filesystem::exists(fits));
        EXPECT_FALSE(std::filesystem::exists(png));
        return;
    }
    std::size_t logged = 0;
    const double exposureSum = loggedExposureSum(avi, logged);
    ASSERT_EQ(logged, 3u);
    EXPECT_EQ(cardValue(fits, "NCOMBINE"), "3");
    EXPECT_NEAR(std::stod(cardValue(fits, "EXPTIME")), exposureSum, 1e-6) << "the image log's exposures";
    char expectedLine[160];
    std::snprintf(expectedLine, sizeof expectedLine, "Written: C:\\night.stack.fits (3 images, %.3f s)", exposureSum);
    EXPECT_EQ(fileLine, expectedLine);
    // The view as an outside reader decodes it: the painted stack's rows,
    // the histogram's below them left out.
    std::string messages;
    const std::vector<std::uint8_t> decoded = avitest::ffmpegBgr24(png, messages);
    EXPECT_EQ(messages, "");
    constexpr std::size_t kRow = 640 * 3, kHistogramRows = 64;
    ASSERT_EQ(decoded.size(), kRow * 480);
    ASSERT_EQ(painted.size(), kRow * (480 + kHistogramRows));
    for (std::size_t y = 0; y < 480; ++y) {
        const std::uint8_t *top = decoded.data() + y * kRow;
        const std::uint8_t *dib = painted.data() + (kHistogramRows + 479 - y) * kRow;
        ASSERT_TRUE(std::equal(top, top + kRow, dib)) << "row " << y << " from the top";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, LiveStackAtStop, ::testing::ValuesIn(kStopCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace noctil::e2e
