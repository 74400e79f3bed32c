// The Setup Capture dialog: what it shows, what it commits and when, Start
// Capture, and the Save As dialog for the output file (also from the File menu).
#include "app_test.h"
#include "menu_states.h"
#include "dialog_user.h"
#include "files/paths.h"
#include "port_timeline.h"

namespace noctil::test {
namespace {

constexpr int kSaveNameBox = 1152;  // the Save As dialog's file name box

HWND setupDialog() { return findDialog("Setup Capture"); }

// Chooses a file in the Save As dialog that "..." or the File menu opened.
void chooseFileInSaveDialog(AppTest &t, const std::string &name) {
    t.user().after(50, [name] {
        HWND save = findDialog("Save images in...");
        ASSERT_NE(save, nullptr);
        EXPECT_TRUE(typeInto(save, kSaveNameBox, name));
        EXPECT_TRUE(clickItem(save, IDOK));
    });
}

// Each of `expected` has its value among the settings file's entries.
void expectSaved(const std::vector<IniEntry> &expected, const std::vector<IniEntry> &saved) {
    for (const IniEntry &e : expected) {
        std::string value = "(missing)";
        for (const IniEntry &s : saved)
            if (s.section == e.section && s.key == e.key) value = s.value;
        EXPECT_EQ(value, e.value) << e.section << "/" << e.key;
    }
}

struct SetupCase {
    const char *name;
    const char *settings;
    void (*edit)(AppTest &, HWND dialog);  // inspects and edits the open dialog
    void (*end)(HWND dialog);
    std::vector<IniEntry> saved;  // values in the settings file after the exit
};

void pressOk(HWND dialog) { EXPECT_TRUE(clickItem(dialog, IDOK)); }
void pressCancel(HWND dialog) { EXPECT_TRUE(clickItem(dialog, IDCANCEL)); }
void pressEsc(HWND) { pressEscape(); }
void closeIt(HWND dialog) { EXPECT_TRUE(closeDialog(dialog)); }

// Changes every value, the file through "..." included.
void changeEverything(AppTest &t, HWND dialog) {
    EXPECT_TRUE(typeInto(dialog, IDC_EXPOSURE, "1234"));
    EXPECT_TRUE(typeInto(dialog, IDC_DELAY, "55"));
    EXPECT_TRUE(typeInto(dialog, IDC_COUNT, "9"));
    EXPECT_TRUE(clickItem(dialog, IDC_AMPOFF));
    EXPECT_TRUE(clickItem(dialog, IDC_AUTOINCREMENT));
    EXPECT_TRUE(clickItem(dialog, IDC_BROWSE));
    chooseFileInSaveDialog(t, "C:\\Other.avi");
}

// The settings Setup edits, as a fresh start has them: the defaults' first six.
const std::vector<IniEntry> kUnchanged(defaultSettings().begin(), defaultSettings().begin() + 6);
const std::vector<IniEntry> kEverythingChanged = {
    {"Filenames", "ImageFile", "C:\\Other.avi"},
    {"Flags", "AutoIncrement", "1"},
    {"Flags", "AmpOff", "1"},
    {"Capture", "Exposure", "1234"},
    {"Capture", "Delay", "55"},
    {"Capture", "Count", "9"},
};

const SetupCase kSetupCases[] = {
    {"OkCommitsEverything", "", changeEverything, pressOk, kEverythingChanged},
    {"CancelDiscardsEverything", "", changeEverything, pressCancel, kUnchanged},
    {"EscapeDiscardsEverything", "", changeEverything, pressEsc, kUnchanged},
    {"CloseBoxDiscardsEverything", "", changeEverything, closeIt, kUnchanged},
    {"EmptyExposureKeepsItsValue",
     "[Capture]\nExposure=3000\n",
     [](AppTest &, HWND d) {
         EXPECT_EQ(itemText(d, IDC_EXPOSURE), "3000");
         EXPECT_TRUE(typeInto(d, IDC_EXPOSURE, ""));
         EXPECT_TRUE(typeInto(d, IDC_DELAY, "750"));
     },
     pressOk,
     {{"Capture", "Exposure", "3000"}, {"Capture", "Delay", "750"}}},
    {"CountsBeyond32BitsKeepTheirValue",
     "[Capture]\nExposure=3000\nCount=4\n",
     [](AppTest &, HWND d) { EXPECT_TRUE(typeInto(d, IDC_COUNT, "4294967296")); },
     pressOk,
     {{"Capture", "Exposure", "3000"}, {"Capture", "Count", "4"}}},
    {"CountsBeyond31BitsAreStoredAsTheir32BitPattern",
     "[Capture]\nCount=4\n",
     [](AppTest &, HWND d) { EXPECT_TRUE(typeInto(d, IDC_COUNT, "4294967295")); },
     pressOk,
     {{"Capture", "Count", "-1"}}},
    {"StoredTwoShowsCheckedAndCommitsOne",
     "[Flags]\nAmpOff=2\nAutoIncrement=2\n",
     [](AppTest &, HWND d) {
         EXPECT_EQ(IsDlgButtonChecked(d, IDC_AMPOFF), BST_CHECKED);
         EXPECT_EQ(IsDlgButtonChecked(d, IDC_AUTOINCREMENT), BST_CHECKED);
     },
     pressOk,
     {{"Flags", "AmpOff", "1"}, {"Flags", "AutoIncrement", "1"}}},
    {"NegativeCountShowsItsUnsignedForm",
     "[Capture]\nCount=-1\nDelay=-2\n",
     [](AppTest &, HWND d) {
         EXPECT_EQ(itemText(d, IDC_COUNT), "4294967295");
         EXPECT_EQ(itemText(d, IDC_DELAY), "4294967294");
     },
     pressOk,
     {{"Capture", "Count", "-1"}, {"Capture", "Delay", "-2"}}},
    {"ShowsTheSettings",
     "[Filenames]\nImageFile=C:\\Sky.avi\n[Capture]\nExposure=15000\nDelay=20\nCount=3\n",
     [](AppTest &, HWND d) {
         EXPECT_EQ(itemText(d, IDC_FILENAME), "C:\\Sky.avi");
         EXPECT_EQ(itemText(d, IDC_EXPOSURE), "15000");
         EXPECT_EQ(itemText(d, IDC_DELAY), "20");
         EXPECT_EQ(itemText(d, IDC_COUNT), "3");
         EXPECT_EQ(IsDlgButtonChecked(d, IDC_AMPOFF), BST_UNCHECKED);
         EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, IDC_STARTCAPTURE)));
     },
     pressOk,
     {{"Filenames", "ImageFile", "C:\\Sky.avi"}, {"Capture", "Exposure", "15000"}}},
    {"NameWithoutExtensionStaysSo",
     "",
     [](AppTest &t, HWND d) {
         EXPECT_TRUE(clickItem(d, IDC_BROWSE));
         chooseFileInSaveDialog(t, "C:\\Night");
     },
     pressOk,
     {{"Filenames", "ImageFile", "C:\\Night"}}},
};

void PrintTo(const SetupCase &c, std::ostream *os) { *os << c.name; }

class SetupCommitTest : public AppTest, public ::testing::WithParamInterface<SetupCase> {};

TEST_P(SetupCommitTest, CommitsOnlyWhatItShould) {
    installCamera(Camera::None);
    const SetupCase &c = GetParam();
    if (*c.settings) writeSettingsFile(c.settings);
    user().at(100, [&] { choose(IDM_SETUP); });
    user().at(200, [&] {
        HWND dialog = setupDialog();
        ASSERT_NE(dialog, nullptr);
        c.edit(*this, dialog);
    });
    user().at(400, [&] {
        HWND dialog = setupDialog();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(findDialog("Save images in..."), nullptr);
        c.end(dialog);
    });
    user().at(500, [&] {
        EXPECT_EQ(setupDialog(), nullptr);
        exitProgram();
    });
    EXPECT_EQ(runProgram(), 0);
    expectSaved(c.saved, settingsEntries());
}

INSTANTIATE_TEST_SUITE_P(Cases, SetupCommitTest, ::testing::ValuesIn(kSetupCases),
                         [](const auto &info) { return std::string(info.param.name); });

// Exposure and delay times longer than the settings hold (2147483647 ms)
// are refused in words, the dialog staying open on that box; a time fixed
// there is then committed, and Start Capture starts its run only then.
struct TimeCase {
    const char *name;
    const char *settings;
    int box;
    const char *typed;
    int button;           // IDOK or IDC_STARTCAPTURE
    const char *refusal;  // null: accepted
    std::vector<IniEntry> saved;
};
void PrintTo(const TimeCase &c, std::ostream *os) { *os << c.name; }

constexpr const char *kExposureRefused = "The exposure time can be at most 2147483647 ms (about 24.8 days).";
constexpr const char *kDelayRefused = "The delay time can be at most 2147483647 ms (about 24.8 days).";
const TimeCase kTimeCases[] = {
    {"ExposureOf2Pow31",
     "",
     IDC_EXPOSURE,
     "2147483648",
     IDOK,
     kExposureRefused,
     {{"Capture", "Exposure", "1500"}, {"Capture", "Delay", "0"}}},
    {"ExposureOf2Pow32Minus1",
     "",
     IDC_EXPOSURE,
     "4294967295",
     IDOK,
     kExposureRefused,
     {{"Capture", "Exposure", "1500"}}},
    {"ExposureBeyond32Bits",
     "",
     IDC_EXPOSURE,
     "99999999999",
     IDOK,
     kExposureRefused,
     {{"Capture", "Exposure", "1500"}}},
    {"DelayOf3000000000",
     "",
     IDC_DELAY,
     "3000000000",
     IDOK,
     kDelayRefused,
     {{"Capture", "Exposure", "2000"}, {"Capture", "Delay", "1500"}}},
    {"DelayRefusedByStartCapture",
     "",
     IDC_DELAY,
     "2147483648",
     IDC_STARTCAPTURE,
     kDelayRefused,
     {{"Capture", "Delay", "1500"}}},
    {"TheLongestExposure", "", IDC_EXPOSURE, "2147483647", IDOK, nullptr, {{"Capture", "Exposure", "2147483647"}}},
    {"AHandEditedNegativeDelayComesBackUnchanged",
     "[Capture]\nDelay=-2\n",
     IDC_DELAY,
     "4294967294",
     IDOK,
     nullptr,
     {{"Capture", "Delay", "-2"}}},
};

class SetupTimeTest : public AppTest, public ::testing::WithParamInterface<TimeCase> {};

TEST_P(SetupTimeTest, TimesBeyondWhatTheSettingsHoldAreRefused) {
    const TimeCase &c = GetParam();
    installCamera(Camera::Simulated);
    if (*c.settings) writeSettingsFile(c.settings);
    std::size_t writesBefore = 0;
    HWND dialog = nullptr;
    user().at(100, [&] { choose(IDM_SETUP); });
    user().at(200, [&] {
        dialog = setupDialog();
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(typeInto(dialog, c.box, c.typed));
        writesBefore = cameraPortWrites().size();
        EXPECT_TRUE(clickItem(dialog, c.button));
    });
    user().at(300, [&] {
        if (!c.refusal) {
            EXPECT_EQ(setupDialog(), nullptr) << "accepted";
            return;
        }
        ASSERT_FALSE(messageBoxLog().empty());
        const plat::user::MessageBoxRecord &box = messageBoxLog().back();
        EXPECT_EQ(box.text, c.refusal);
        EXPECT_EQ(box.caption, "Setup Capture");
        EXPECT_EQ(box.owner, dialog);
        EXPECT_EQ(box.result, 0) << "open";
        pressEnter();
    });
    user().at(400, [&] {
        if (!c.refusal) return;
        ASSERT_EQ(setupDialog(), dialog) << "the dialog stays open";
        EXPECT_EQ(GetFocus(), GetDlgItem(dialog, c.box)) << "on the refused box";
        EXPECT_EQ(cameraPortWrites().size(), writesBefore) << "no run started";
        user().pressKey('1', '1');  // the refused text was selected: typing replaces it
        for (char digit : std::string("500")) user().pressKey(UINT(digit), digit);
        EXPECT_TRUE(clickItem(dialog, c.button));
    });
    bool ran = false;
    user().at(600, [&] {
        EXPECT_EQ(setupDialog(), nullptr);
        ran = cameraPortWrites().size() > writesBefore;
        if (menuEnabled(IDM_STOP)) choose(IDM_STOP);
    });
    user().at(700, [&] { exitProgram(); });
    EXPECT_EQ(runProgram(), 0);
    EXPECT_EQ(messageBoxLog().size(), c.refusal ? 1u : 0u);
    EXPECT_EQ(ran, c.button == IDC_STARTCAPTURE) << "Start Capture starts the run once the times fit";
    expectSaved(c.saved, settingsEntries());
}

INSTANTIATE_TEST_SUITE_P(Times, SetupTimeTest, ::testing::ValuesIn(kTimeCases),
                         [](const auto &info) { return std::string(info.param.name); });

using SetupRunTest = AppTest;

// Start Capture commits, ends the dialog and starts a run that already uses
// the values just entered.
TEST_F(SetupRunTest, StartCaptureRunsWithTheNewValues) {
    installCamera(Camera::Simulated);
    std::size_t from = 0;
    user().at(1000, [&] { choose(IDM_SETUP); });
    user().at(1100, [&] {
        HWND dialog = setupDialog();
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(typeInto(dialog, IDC_EXPOSURE, "3000"));
        EXPECT_TRUE(typeInto(dialog, IDC_DELAY, "10000"));
        from = cameraPortWrites().size();
        stopAfterWrite(0x00, 1, 1000, 100);
        EXPECT_TRUE(clickItem(dialog, IDC_STARTCAPTURE));
    });
    EXPECT_EQ(runProgram(), 0);
    EXPECT_TRUE(stopChosen());
    const ExpectedPortWrite expected[] = {
        {0x0B, 0},    {0x09, 3000, kPortReadoutLevel}, {0x08, 3000, kPortReadoutLevel}, {0x00, 3000, kPortAfterReadout},
        {0x00, 1000},  // Stop in the 10 s delay
        {0x00, 100},
    };
    EXPECT_TRUE(portTimelineMatches(expected, from, 1100, readoutAllowanceMs(Camera::Simulated)));
}

// Opened during a run, Start Capture is disabled; when the run reaches its
// count while the dialog is open, it becomes enabled there and then.
TEST_F(SetupRunTest, StartCaptureFollowsTheRunWhileOpen) {
    installCamera(Camera::Simulated);
    writeSettingsFile("[Capture]\nExposure=2000\nCount=1\n");
    user().at(1000, [&] { choose(IDM_RECORD); });
    user().at(1500, [&] { choose(IDM_SETUP); });
    user().at(1600, [&] {
        HWND dialog = setupDialog();
        ASSERT_NE(dialog, nullptr);
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_STARTCAPTURE)));
    });
    user().at(8000, [&] {  // the one image is long written
        HWND dialog = setupDialog();
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_STARTCAPTURE)));
        EXPECT_EQ(plat::session().component<plat::ParallelPort>().data(), 0x00);
        pressCancel(dialog);
    });
    user().at(8100, [&] {
        const ExpectedMenuItem idle[] = {{IDM_RECORD}, {IDM_STOP, kItemGrayed}};
        EXPECT_TRUE(commandStatesMatch("after the run", idle, mainWindow()));
        exitProgram();
    });
    EXPECT_EQ(runProgram(), 0);
}

// File > Save images in...: a confirmed name replaces the output file at
// once; a cancelled dialog leaves it.
TEST_F(SetupRunTest, FileMenuChoosesTheOutputFile) {
    installCamera(Camera::None);
    user().at(100, [&] {
        choose(IDM_SAVEIMAGESIN);
        chooseFileInSaveDialog(*this, "C:\\Night.avi");
    });
    user().at(300, [&] { choose(IDM_SAVEIMAGESIN); });
    user().at(400, [&] {
        HWND save = findDialog("Save images in...");
        ASSERT_NE(save, nullptr);
        EXPECT_EQ(itemText(save, kSaveNameBox), "C:\\Night.avi");
        EXPECT_TRUE(typeInto(save, kSaveNameBox, "C:\\Abandoned.avi"));
        EXPECT_TRUE(clickItem(save, IDCANCEL));
    });
    user().at(500, [&] { choose(IDM_SETUP); });
    user().at(600, [&] {
        EXPECT_EQ(itemText(setupDialog(), IDC_FILENAME), "C:\\Night.avi");
        pressEscape();
        user().after(100, [&] { exitProgram(); });
    });
    EXPECT_EQ(runProgram(), 0);
}

// Once a run has selected its first image, the File-menu command does nothing.
TEST_F(SetupRunTest, FileMenuCommandWaitsWhileARunHoldsAnImage) {
    installCamera(Camera::Simulated);
    writeSettingsFile("[Capture]\nExposure=2000\nDelay=20000\n");
    user().at(1000, [&] { choose(IDM_RECORD); });
    user().at(10000, [&] {
        choose(IDM_SAVEIMAGESIN);
        user().after(100, [&] {
            EXPECT_EQ(findDialog("Save images in..."), nullptr);
            choose(IDM_STOP);
        });
    });
    user().at(10500, [&] {
        choose(IDM_SAVEIMAGESIN);  // after Stop it works again
        user().after(100, [&] {
            EXPECT_NE(findDialog("Save images in..."), nullptr);
            pressEscape();
            user().after(100, [&] { exitProgram(); });
        });
    });
    EXPECT_EQ(runProgram(), 0);
}

}  // namespace
}  // namespace noctil::test
