// The snapshot window's title after each written image, and the frame-count
// limit that ends a run.
#include <cstring>
#include <string>

#include "app_state.h"
#include "app_test.h"
#include "avifile/avi_reader.h"
#include "dialog_user.h"
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
    ASSERT_LT(c.imageFile.size(), sizeof app.outputName);
    std::strcpy(app.outputName, c.imageFile.c_str());
    app.framesWritten = c.framesWritten;
    app.settings.frameCount = c.frameCount;
    char title[MAX_PATH + 8];
    std::memset(title, '#', sizeof title);
    ComposeSnapshotTitle(title, MAX_PATH);
    EXPECT_EQ(std::string(title), c.expected);
    EXPECT_LE(std::strlen(title), MAX_PATH - 1u);
    for (std::size_t i = MAX_PATH; i < sizeof title; i++)
        EXPECT_EQ(title[i], '#') << "written past the buffer at " << i;
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
    EXPECT_EQ(titles,
              (std::vector<std::string>{"C:\\Images.AVI - 1/3", "C:\\Images.AVI - 2/3", "C:\\Images.AVI - 3/3"}));
    constexpr unsigned L = kPortReadoutLevel, R = kPortAfterReadout;
    const ExpectedPortWrite expected[] = {
        {0x0B, 0},       {0x09, 2000, L}, {0x08, 2000, L}, {0x00, 2000, R}, {0x0B, 500, R},
        {0x09, 2000, L}, {0x08, 2000, L}, {0x00, 2000, R}, {0x0B, 500, R},  {0x09, 2000, L},
        {0x08, 2000, L}, {0x00, 2000, R}, {0x00, 0, R},  // the posted Stop, before any delay could run
        {0x00, 100},                                     // the exit
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

// A name chosen during a run (Setup's "..." and OK) is for the next run:
// this run's titles keep naming the file its images go to, and the next
// run writes the new file.
TEST_F(TitleRunTest, ANameChosenDuringARunIsForTheNextRun) {
    installCamera(Camera::Simulated);
    writeSettingsFile("[Filenames]\r\nImageFile=C:\\first.avi\r\n[Capture]\r\nExposure=2000\r\nDelay=1000\r\n");
    user().at(500, [&] {
        watchTitles();
        choose(IDM_RECORD);
    });
    user().at(1000, [&] {
        choose(IDM_SETUP);
        user().after(100, [] {
            HWND setup = findDialog("Setup Capture");
            ASSERT_NE(setup, nullptr);
            EXPECT_TRUE(clickItem(setup, IDC_BROWSE));
        });
        user().after(200, [] {
            HWND save = findDialog("Save images in...");
            ASSERT_NE(save, nullptr);
            EXPECT_TRUE(typeInto(save, 1152, "C:\\second.avi"));  // the file name box
            EXPECT_TRUE(clickItem(save, IDOK));
        });
        user().after(300, [] { EXPECT_TRUE(clickItem(findDialog("Setup Capture"), IDOK)); });
    });
    user().at(8000, [&] { choose(IDM_STOP); });
    user().at(8500, [&] { choose(IDM_RECORD); });
    user().at(12000, [&] { choose(IDM_STOP); });
    user().at(12500, [&] { exitProgram(); });
    EXPECT_EQ(runProgram(), 0);
    ASSERT_GE(titles.size(), 3u);
    std::vector<std::string> firstRun, secondRun;
    for (const std::string &t : titles) (t.rfind("C:\\second.avi", 0) == 0 ? secondRun : firstRun).push_back(t);
    EXPECT_EQ(firstRun, (std::vector<std::string>{"C:\\first.avi - 1", "C:\\first.avi - 2"}));
    EXPECT_EQ(secondRun, std::vector<std::string>{"C:\\second.avi - 1"});
    auto first = plat::avi::Reader::open(plat::nativePath("C:\\first.avi"));
    auto second = plat::avi::Reader::open(plat::nativePath("C:\\second.avi"));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->frameCount(), 2u);
    EXPECT_EQ(second->frameCount(), 1u);
}

}  // namespace
}  // namespace noctil::test
