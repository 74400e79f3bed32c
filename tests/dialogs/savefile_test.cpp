// The Save As dialog as the program opens it: the name box and type list,
// a directory that must exist, the name written back, Cancel.
#include <gtest/gtest.h>
#include <commdlg.h>

#include <cstring>
#include <filesystem>

#include "dialog_harness.h"
#include "user/window_system.h"

namespace noctil::test {
namespace {

constexpr int kNameBox = 1152, kTypeList = 1136;
constexpr char kFilter[] = "Microsoft AVI\0*.avi\0All Files\0*.*\0";

class SaveFileTest : public DialogTest {
protected:
    SaveFileTest() {
        std::strcpy(name, "C:\\Images.AVI");
        ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
        ofn.hwndOwner = owner();
        ofn.lpstrFilter = kFilter;
        ofn.lpstrFile = name;
        ofn.nMaxFile = sizeof name;
        ofn.lpstrTitle = "Save images in...";
        ofn.Flags = OFN_PATHMUSTEXIST;
    }
    BOOL run() {
        BOOL result = -2;
        guard([&] { result = GetSaveFileNameA(&ofn); });
        return result;
    }
    // Types a name and presses Save.
    void saveAs(std::uint32_t ms, std::string typed) {
        user().at(ms, [typed] {
            HWND d = findDialog("Save images in...");
            ASSERT_TRUE(d);
            typeInto(d, kNameBox, typed);
            clickItem(d, IDOK);
        });
    }

    char name[260];
    OPENFILENAMEA ofn{};
};

TEST_F(SaveFileTest, ShowsTheCurrentNameAndTheFilter) {
    user().at(5, [&] {
        HWND d = findDialog("Save images in...");
        ASSERT_TRUE(d);
        EXPECT_EQ(itemText(d, kNameBox), "C:\\Images.AVI");
        HWND types = GetDlgItem(d, kTypeList);
        EXPECT_EQ(plat::user::comboItems(types), (std::vector<std::string>{"Microsoft AVI", "All Files"}));
        EXPECT_EQ(plat::user::comboSelection(types), 0);
        EXPECT_FALSE(IsWindowEnabled(owner()));
        EXPECT_EQ(GetFocus(), GetDlgItem(d, kNameBox));
        pressEscape();
    });
    EXPECT_FALSE(run());
    EXPECT_TRUE(IsWindowEnabled(owner()));
}

TEST_F(SaveFileTest, ConfirmedNamesAreWrittenBack) {
    std::filesystem::create_directories(root() / "drives" / "c" / "sky");
    struct Case {
        const char *typed;
        const char *stored;
        WORD fileOffset, extensionOffset;
    };
    // Each case starts from the name the one before stored.
    const Case cases[] = {
        {"C:\\sky\\m31.avi", "C:\\sky\\m31.avi", 7, 11},
        {"orion.avi", "C:\\sky\\orion.avi", 7, 13},  // a bare name goes to the folder of the current one
        {"C:\\night", "C:\\night", 3, 8},            // no extension is added; its offset is the end
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.typed);
        saveAs(nowMs() + 5, c.typed);
        EXPECT_TRUE(run());
        EXPECT_STREQ(name, c.stored);
        EXPECT_EQ(ofn.nFileOffset, c.fileOffset);
        EXPECT_EQ(ofn.nFileExtension, c.extensionOffset);
        EXPECT_EQ(ofn.nFilterIndex, 1u);
    }
    EXPECT_TRUE(messageBoxLog().empty());
}

TEST_F(SaveFileTest, AMissingDirectoryIsRefusedWithAMessage) {
    HWND dialog = nullptr;
    user().at(5, [&] {
        dialog = findDialog("Save images in...");
        typeInto(dialog, kNameBox, "C:\\nowhere\\m31.avi");
        clickItem(dialog, IDOK);
    });
    user().at(10, [&] {
        HWND box = topDialog();
        EXPECT_TRUE(IsWindowVisible(dialog)) << "the dialog stays open";
        EXPECT_NE(box, dialog);
        EXPECT_FALSE(IsWindowEnabled(dialog)) << "behind its message box";
        pressEnter();  // answers the message box
    });
    saveAs(20, "C:\\m31.avi");
    EXPECT_TRUE(run());
    EXPECT_STREQ(name, "C:\\m31.avi");
    ASSERT_EQ(messageBoxLog().size(), 1u);
    EXPECT_EQ(messageBoxLog()[0].owner, dialog);
    EXPECT_NE(messageBoxLog()[0].text.find("C:\\nowhere\\m31.avi"), std::string::npos);
}

TEST_F(SaveFileTest, WithoutThePathFlagAnyDirectoryIsTaken) {
    ofn.Flags = 0;
    saveAs(5, "C:\\nowhere\\m31.avi");
    EXPECT_TRUE(run());
    EXPECT_STREQ(name, "C:\\nowhere\\m31.avi");
    EXPECT_TRUE(messageBoxLog().empty());
}

TEST_F(SaveFileTest, CancelLeavesTheBufferAlone) {
    struct Case {
        const char *what;
        std::function<void(HWND)> act;
    };
    const Case cases[] = {
        {"Cancel", [](HWND d) { clickItem(d, IDCANCEL); }},
        {"Escape", [](HWND) { pressEscape(); }},
        {"close box", [](HWND d) { closeDialog(d); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::memset(name, 'q', sizeof name);
        std::strcpy(name, "C:\\Images.AVI");
        user().after(5, [&] {
            HWND d = findDialog("Save images in...");
            typeInto(d, kNameBox, "C:\\other.avi");
            c.act(d);
        });
        EXPECT_FALSE(run());
        EXPECT_STREQ(name, "C:\\Images.AVI");
        EXPECT_EQ(name[20], 'q');
    }
}

TEST_F(SaveFileTest, ANameLongerThanTheBufferIsNotConfirmed) {
    char small[12] = "C:\\a.avi";
    ofn.lpstrFile = small;
    ofn.nMaxFile = sizeof small;
    saveAs(5, "C:\\abcdefgh.avi");  // 15 characters
    EXPECT_FALSE(run());
    EXPECT_STREQ(small, "C:\\a.avi");
    saveAs(nowMs() + 5, "C:\\abcdef.av");  // 12 characters and the terminator: still too long
    EXPECT_FALSE(run());
    saveAs(nowMs() + 5, "C:\\abcdef.a");  // 11 and the terminator fit exactly
    EXPECT_TRUE(run());
    EXPECT_STREQ(small, "C:\\abcdef.a");
}

TEST_F(SaveFileTest, RecordsItCannotUseAreRefused) {
    OPENFILENAMEA bad = ofn;
    bad.lStructSize = 12;
    EXPECT_FALSE(GetSaveFileNameA(&bad));
    bad = ofn;
    bad.lpstrFile = nullptr;
    EXPECT_FALSE(GetSaveFileNameA(&bad));
    bad = ofn;
    bad.nMaxFile = 0;
    EXPECT_FALSE(GetSaveFileNameA(&bad));
    EXPECT_FALSE(GetSaveFileNameA(nullptr));
    EXPECT_TRUE(plat::user::openDialogs().empty());
}

}  // namespace
}  // namespace noctil::test
