// The About box: opened by Alt+? and Alt+/ only while the main window has
// the keyboard focus, ended by Enter, Escape, its OK button or close box.
#include "app_test.h"
#include "dialog_user.h"
#include "port_timeline.h"
#include "user/window_system.h"

namespace noctil::test {
namespace {

constexpr UINT kSlashKey = 0xBF;  // the "/ ?" key of a US keyboard

struct AboutKey {
    const char *name;
    char character;
    unsigned modifiers;
    bool focusOnMain;
    bool opens;
};

const AboutKey kAboutKeys[] = {
    {"AltQuestionOnMain", '?', plat::user::kAlt | plat::user::kShift, true, true},
    {"AltSlashOnMain", '/', plat::user::kAlt, true, true},
    {"AltQuestionOnSnapshot", '?', plat::user::kAlt | plat::user::kShift, false, false},
    {"AltSlashOnSnapshot", '/', plat::user::kAlt, false, false},
    {"SlashWithoutAltOnMain", '/', 0, true, false},
};

void PrintTo(const AboutKey &key, std::ostream *os) { *os << key.name; }

class AboutKeyTest : public AppTest, public ::testing::WithParamInterface<AboutKey> {};

TEST_P(AboutKeyTest, OpensOnlyFromTheMainWindow) {
    installCamera(Camera::None);
    const AboutKey &key = GetParam();
    user().at(100, [&] { EXPECT_TRUE(user().click(key.focusOnMain ? mainWindow() : snapshotWindow())); });
    user().at(200, [&] { user().pressKeyWith(kSlashKey, key.character, key.modifiers); });
    user().at(300, [&] {
        HWND about = findDialog("About");
        EXPECT_EQ(about != nullptr, key.opens);
        if (about) pressEnter();
    });
    user().at(400, [&] {
        EXPECT_EQ(findDialog("About"), nullptr);
        exitProgram();
    });
    EXPECT_EQ(runProgram(), 0);
}

INSTANTIATE_TEST_SUITE_P(Keys, AboutKeyTest, ::testing::ValuesIn(kAboutKeys),
                         [](const auto &info) { return std::string(info.param.name); });

struct AboutEnd {
    const char *name;
    void (*end)(HWND about);
};

const AboutEnd kAboutEnds[] = {
    {"Enter", [](HWND) { pressEnter(); }},
    {"Escape", [](HWND) { pressEscape(); }},
    {"OkButton", [](HWND about) { EXPECT_TRUE(clickItem(about, IDOK)); }},
    {"CloseBox", [](HWND about) { EXPECT_TRUE(closeDialog(about)); }},
};

void PrintTo(const AboutEnd &end, std::ostream *os) { *os << end.name; }

class AboutEndTest : public AppTest, public ::testing::WithParamInterface<AboutEnd> {};

// Each ending closes the box, gives the main window back, and changes nothing else.
TEST_P(AboutEndTest, EndsTheBoxAndNothingElse) {
    installCamera(Camera::None);
    std::size_t writes = 0;
    UINT autoIncrement = 0;
    user().at(100, [&] {
        writes = cameraPortWrites().size();
        autoIncrement = menuState(IDM_AUTOINCREMENT);
        choose(IDM_ABOUT);
    });
    user().at(200, [&] {
        HWND about = findDialog("About");
        ASSERT_NE(about, nullptr);
        EXPECT_FALSE(IsWindowEnabled(mainWindow()));
        GetParam().end(about);
    });
    user().at(300, [&] {
        EXPECT_EQ(findDialog("About"), nullptr);
        EXPECT_TRUE(IsWindowEnabled(mainWindow()));
        EXPECT_EQ(cameraPortWrites().size(), writes);
        EXPECT_EQ(menuState(IDM_AUTOINCREMENT), autoIncrement);
        EXPECT_TRUE(menuEnabled(IDM_RECORD));
        exitProgram();
    });
    EXPECT_EQ(runProgram(), 0);
}

INSTANTIATE_TEST_SUITE_P(Ends, AboutEndTest, ::testing::ValuesIn(kAboutEnds),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace noctil::test
