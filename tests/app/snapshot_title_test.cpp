// The snapshot window's title after each written image, and the frame-count
// limit that ends a run.
#include <cstring>
#include <string>

#include "app_state.h"
#include "app_test.h"
#include "exposure_cycle.h"
#include "files/paths.h"
#include "port_timeline.h"
#include "user/window_system.h"

namespace noctil::test {
namespace {

struct TitleCase {
    const char *name;
    std::string imageFile;
    int framesWritten, frameCount;
    std::string expected;
};

const std::string kLongName = "C:\\" + std::string(240, 'n') + "\\Orion.AVI";  // 253 characters

const TitleCase kTitleCases[] = {
    {"WithLimit", "C:\\Images.AVI", 3, 10, "C:\\Images.AVI - 3/10"},
    {"NoLimit", "C:\\Images.AVI", 3, 0, "C:\\Images.AVI - 3"},
    {"NegativeLimitShowsNone", "C:\\Images.AVI", 1, -1, "C:\\Images.AVI - 1"},
    {"FitsExactly", std::string(252, 'x'), 1, 0, std::string(252, 'x') + " - 1"},  // 256 + 3 = 259
    // Too long: the start of the name gives way, the count and the file's own name stay.
    {"LongNameKeepsTheCount", kLongName, 12, 100,
     "..." + kLongName.substr(kLongName.size() - (259 - 3 - 9)) + " - 12/100"},
    {"LongestNameAndNumbers", std::string(259, 'y'), -2147483647 - 1, 2147483647,
     "..." + std::string(259 - 3 - 25, 'y') + " - -2147483648/2147483647"},
};

void PrintTo(const TitleCase &c, std::ostream *os) { *os << c.name; }

class SnapshotTitleTest : public ::testing::TestWithParam<TitleCase> {};

TEST_P(SnapshotTitleTest, FitsItsBuffer) {
    const TitleCase &c = GetParam();
    InitAppState();
    ASSERT_LT(c.imageFile.size(), sizeof app.settings.imageFile);
    std::strcpy(app.settings.imageFile, c.imageFile.c_str());
    app.framesWritten = c.framesWritten;
    app.settings.frameCount = c.frameCount;
    char title[MAX_PATH + 8];
    std::memset(title, '#', sizeof title);
    ComposeSnapshotTitle(title, MAX_PATH);
    EXPECT_EQ(std::string(title), c.expected);
    EXPECT_LE(std::strlen(title), MAX_PATH - 1u);
    for (std::size_t i = MAX_PATH; i < sizeof title; i++) EXPECT_EQ(title[i], '#') << "written past the buffer at " << i;
}

INSTANTIATE_TEST_SUITE_P(Titles, SnapshotTitleTest, ::testing::ValuesIn(kTitleCases),
                         [](const auto &info) { return std::string(info.param.name); });

// Watches the snapshot window's title as the program changes it.
class TitleRunTest : public AppTest {
protected:
    std::vector<std::string> titles;
    int token = 0;
    void watchTitles() {
        token = plat::user::subscribe([this](HWND window, plat::user::Change change) {
            if (change == plat::user::Change::Text && window == snapshotWindow()) titles.push_back(windowText(window));
        });
    }
    ~TitleRunTest() override {
        if (token) plat::user::unsubscribe(token);
    }
};

// A run with a limit writes that many images, counts them in the title and
// stops itself: Stop comes right after the last readout, and no delay follows.
TEST_F(TitleRunTest, RunStopsAtItsCount) {
    installCamera(Camera::Simulated);
    writeSettingsFile("[Capture]\nExposure=2000\nDelay=500\nCount=3\n");
    std::size_t from = 0;
    user().at(1000, [&] {
        watchTitles();
        from = cameraPortWrites().size();
        exitAfterWrite(0x00, 4, 100);  // three readouts, then the posted Stop
        choose(IDM_RECORD);
    });
    EXPECT_EQ(runProgram(), 0);
    EXPECT_EQ(titles, (std::vector<std::string>{"C:\\Images.AVI - 1/3", "C:\\Images.AVI - 2/3",
                                                "C:\\Images.AVI - 3/3"}));
    constexpr unsigned L = kPortReadoutLevel, R = kPortAfterReadout;
    const ExpectedPortWrite expected[] = {
        {0x0B, 0},    {0x09, 2000, L}, {0x08, 2000, L}, {0x00, 2000, R},
        {0x0B, 500, R}, {0x09, 2000, L}, {0x08, 2000, L}, {0x00, 2000, R},
        {0x0B, 500, R}, {0x09, 2000, L}, {0x08, 2000, L}, {0x00, 2000, R},
        {0x00, 0, R},  // the posted Stop, before any delay could run
        {0x00, 100},   // the exit
    };
    EXPECT_TRUE(portTimelineMatches(expected, from, 1000, readoutAllowanceMs(Camera::Simulated)));
}

// Without a limit the title counts on.
TEST_F(TitleRunTest, UnlimitedRunCountsOn) {
    installCamera(Camera::Simulated);
    writeSettingsFile("[Capture]\nExposure=2000\nDelay=0\n");
    user().at(1000, [&] {
        watchTitles();
        stopAfterWrite(0x0B, 3, 100, 100);
        choose(IDM_RECORD);
    });
    EXPECT_EQ(runProgram(), 0);
    EXPECT_EQ(titles, (std::vector<std::string>{"C:\\Images.AVI - 1", "C:\\Images.AVI - 2"}));
}

// While paused, images are taken but not written: the title stays, and a
// limited run goes on past its count until Pause is released.
TEST_F(TitleRunTest, PausedRunNeitherCountsNorStops) {
    installCamera(Camera::Simulated);
    writeSettingsFile("[Capture]\nExposure=2000\nDelay=0\nCount=1\n");
    user().at(500, [&] { choose(IDM_PAUSE); });
    user().at(1000, [&] {
        watchTitles();
        choose(IDM_RECORD);
    });
    user().at(20000, [&] {
        EXPECT_TRUE(titles.empty());
        EXPECT_TRUE(menuEnabled(IDM_STOP));  // still running
        choose(IDM_PAUSE);
    });
    user().at(40000, [&] {
        EXPECT_EQ(titles, std::vector<std::string>{"C:\\Images.AVI - 1/1"});
        EXPECT_TRUE(menuEnabled(IDM_RECORD));  // stopped at its count
        exitProgram();
    });
    EXPECT_EQ(runProgram(), 0);
}

}  // namespace
}  // namespace noctil::test
