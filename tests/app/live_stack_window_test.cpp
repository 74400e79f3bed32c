// The Live Stack window: opened and closed from the Stack menu, by Ctrl+L
// and by its close box without ending the program, and its open state and
// place kept in a section of Noctil.ini of its own.
#include <functional>
#include <string>
#include <vector>

#include "app_test.h"
#include "user/window_system.h"

namespace noctil::test {

void PrintTo(const IniEntry &e, std::ostream *os) { *os << "[" << e.section << "] " << e.key << "=" << e.value; }

namespace {

HWND liveStackWindow() { return FindWindowA("NoctilLiveStackClass", nullptr); }

// Ctrl+L to whichever window has the keyboard.
void pressCtrlL(AppTest &t, HWND focus) {
    EXPECT_TRUE(t.user().click(focus));
    t.user().pressKeyWith('L', '\x0c', plat::user::kControl);
}

struct OpenClose {
    const char *name;
    std::function<void(AppTest &)> open, close;
};

const OpenClose kOpenCloses[] = {
    {"MenuThenMenu", [](AppTest &t) { t.choose(IDM_LIVESTACK); }, [](AppTest &t) { t.choose(IDM_LIVESTACK); }},
    {"CtrlLOnMainThenOnItself", [](AppTest &t) { pressCtrlL(t, AppTest::mainWindow()); },
     [](AppTest &t) { pressCtrlL(t, liveStackWindow()); }},
    {"MenuThenCloseBox", [](AppTest &t) { t.choose(IDM_LIVESTACK); },
     [](AppTest &t) { EXPECT_TRUE(t.user().closeBox(liveStackWindow())); }},
    {"CtrlLThenCtrlLOnMain", [](AppTest &t) { pressCtrlL(t, AppTest::mainWindow()); },
     [](AppTest &t) { pressCtrlL(t, AppTest::mainWindow()); }},
};

void PrintTo(const OpenClose &c, std::ostream *os) { *os << c.name; }

class LiveStackOpenClose : public AppTest, public ::testing::WithParamInterface<OpenClose> {};

// Closed at start; open with its check mark; closed again while the program
// and its other windows go on, and opened once more.
TEST_P(LiveStackOpenClose, OpensAndClosesWithoutEndingTheProgram) {
    installCamera(Camera::None);
    user().at(100, [&] {
        EXPECT_EQ(liveStackWindow(), nullptr) << "closed on a fresh machine";
        EXPECT_FALSE(menuChecked(IDM_LIVESTACK));
        GetParam().open(*this);
    });
    user().at(200, [&] {
        ASSERT_NE(liveStackWindow(), nullptr);
        EXPECT_TRUE(IsWindowVisible(liveStackWindow()));
        EXPECT_EQ(windowText(liveStackWindow()), "Live Stack");
        EXPECT_TRUE(menuChecked(IDM_LIVESTACK));
        GetParam().close(*this);
    });
    user().at(300, [&] {
        EXPECT_EQ(liveStackWindow(), nullptr);
        EXPECT_FALSE(menuChecked(IDM_LIVESTACK));
        EXPECT_TRUE(IsWindow(mainWindow()));
        EXPECT_TRUE(IsWindow(snapshotWindow()));
        GetParam().open(*this);
    });
    user().at(400, [&] {
        EXPECT_NE(liveStackWindow(), nullptr) << "opens again";
        exitProgram();
    });
    EXPECT_EQ(runProgram(), 0);
}

INSTANTIATE_TEST_SUITE_P(Ways, LiveStackOpenClose, ::testing::ValuesIn(kOpenCloses),
                         [](const auto &info) { return std::string(info.param.name); });

constexpr int kAtStart = -1;  // the place is read from the window at start

struct IniCase {
    const char *name;
    const char *section;  // [LiveStack] in the file before the run, "" for none
    bool openAtStart;
    int startLeft, startTop;  // where the window stands at start when open
    std::function<void(AppTest &)> during;
    // The section after the exit: "" for none; Open, then Left and Top
    // (kAtStart: the place the window had while open).
    const char *open;
    int left, top;
};

const IniCase kIniCases[] = {
    {"NeverOpenedWritesNoSection", "", false, 0, 0, [](AppTest &) {}, "", 0, 0},
    {"LeftOpenIsOpenNextTime", "", false, 0, 0, [](AppTest &t) { t.choose(IDM_LIVESTACK); }, "1", kAtStart, kAtStart},
    {"OpenAtItsPlace", "[LiveStack]\r\nOpen=1\r\nLeft=123\r\nTop=45\r\n", true, 123, 45, [](AppTest &) {}, "1", 123,
     45},
    {"MovedThenClosedKeepsThePlace", "[LiveStack]\r\nOpen=1\r\nLeft=123\r\nTop=45\r\n", true, 123, 45,
     [](AppTest &) {
         MoveWindow(liveStackWindow(), 300, 200, 680, 780, TRUE);
         EXPECT_TRUE(plat::user::clickCloseBox(liveStackWindow()));
     },
     "0", 300, 200},
    {"ClosedOpensWhereItWas", "[LiveStack]\r\nOpen=0\r\nLeft=77\r\nTop=66\r\n", false, 77, 66,
     [](AppTest &t) {
         t.choose(IDM_LIVESTACK);
         t.user().after(50, [] {
             RECT r{};
             EXPECT_TRUE(GetWindowRect(liveStackWindow(), &r));
             EXPECT_EQ(r.left, 77);
             EXPECT_EQ(r.top, 66);
         });
     },
     "1", 77, 66},
};

void PrintTo(const IniCase &c, std::ostream *os) { *os << c.name; }

class LiveStackSettings : public AppTest, public ::testing::WithParamInterface<IniCase> {};

TEST_P(LiveStackSettings, OwnSectionAfterTheOthers) {
    const IniCase &c = GetParam();
    installCamera(Camera::None);
    writeSettingsFile(settingsText(defaultSettings()) + c.section);
    RECT place{};
    user().at(100, [&] {
        EXPECT_EQ(liveStackWindow() != nullptr, c.openAtStart);
        if (c.openAtStart) {
            GetWindowRect(liveStackWindow(), &place);
            EXPECT_EQ(place.left, c.startLeft);
            EXPECT_EQ(place.top, c.startTop);
        }
        c.during(*this);
    });
    user().at(200, [&] {
        if (liveStackWindow()) GetWindowRect(liveStackWindow(), &place);
        exitProgram();
    });
    EXPECT_EQ(runProgram(), 0);

    std::vector<IniEntry> expected = defaultSettings();
    if (*c.open) {
        const int left = c.left == kAtStart ? place.left : c.left, top = c.top == kAtStart ? place.top : c.top;
        expected.push_back({"LiveStack", "Open", c.open});
        expected.push_back({"LiveStack", "Left", std::to_string(left)});
        expected.push_back({"LiveStack", "Top", std::to_string(top)});
    }
    EXPECT_EQ(settingsEntries(), expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, LiveStackSettings, ::testing::ValuesIn(kIniCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace noctil::test
