// Where the program's own files go when the shared places take none: the
// settings file in the user's application data where the Windows directory
// cannot be written, and the default image name and the capture's temporary
// files in the user's folders where the root of C: cannot be. Root may
// write anywhere on Linux, so a folder of the file's name stands in the way.
#include <shlobj.h>
#include <vfw.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app_test.h"
#include "dialog_user.h"
#include "files/paths.h"

namespace noctil::test {
namespace {

namespace fs = std::filesystem;

// A folder with a file in it where a file of that name would go.
void blockWithFolder(const fs::path &path) {
    fs::create_directories(path);
    std::ofstream(path / "keep") << "x";
}

std::string userFolder(int folder) {
    char path[MAX_PATH] = {};
    EXPECT_EQ(SHGetFolderPathA(nullptr, folder | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
    return path;
}

std::string tempFolder() {
    char path[MAX_PATH] = {};
    EXPECT_GT(GetTempPathA(sizeof path, path), 0u);
    return path;
}

// The Exposure value of a settings file; "none" without a file, "folder"
// for a folder of its name.
std::string exposureIn(const fs::path &file) {
    if (fs::is_directory(file)) return "folder";
    std::ifstream in(file, std::ios::binary);
    if (!in) return "none";
    for (std::string line; std::getline(in, line);)
        if (line.rfind("Exposure=", 0) == 0) return line.substr(9, line.find_first_of("\r") - 9);
    return "no key";
}

enum class Copy { None, File, Folder };

struct SettingsCase {
    const char *name;
    const char *userCopy;  // Exposure of the user's own copy; null: none
    Copy windowsCopy;      // the Windows directory's Noctil.ini (Exposure=999 when a file)
    const char *userAfter, *windowsAfter;  // Exposure in each after a start and a normal exit
};

// clang-format off
const SettingsCase kSettingsCases[] = {
    {"TheUserCopyIsReadAndWrittenFirst",           "1234", Copy::File,   "1234", "999"},
    {"TheUserCopyAloneIsUsed",                     "1234", Copy::None,   "1234", "none"},
    {"WithoutAUserCopyTheWindowsCopyIsUsed",       nullptr, Copy::File,  "none", "999"},
    {"AFreshMachineWritesTheWindowsDirectory",     nullptr, Copy::None,  "none", "2000"},
    {"AWindowsCopyThatCannotBeWrittenGoesToTheUser", nullptr, Copy::Folder, "2000", "folder"},
};
// clang-format on
void PrintTo(const SettingsCase &c, std::ostream *os) { *os << c.name; }

class SettingsPlacesTest : public AppTest, public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(SettingsPlacesTest, ReadsAndWritesTheCopyItCan) {
    const SettingsCase &c = GetParam();
    installCamera(Camera::None);
    const fs::path userCopy = plat::nativePath(userFolder(CSIDL_APPDATA) + "\\Noctil.ini");
    const fs::path windowsCopy = plat::windowsDirectory() / "Noctil.ini";
    if (c.userCopy) std::ofstream(userCopy, std::ios::binary) << "[Capture]\r\nExposure=" << c.userCopy << "\r\n";
    if (c.windowsCopy == Copy::File) writeSettingsFile("[Capture]\r\nExposure=999\r\n");
    if (c.windowsCopy == Copy::Folder) blockWithFolder(windowsCopy);
    user().at(0, [&] { exitProgram(); });
    ASSERT_EQ(runProgram(), 0);
    EXPECT_EQ(exposureIn(userCopy), c.userAfter) << "the user's copy";
    EXPECT_EQ(exposureIn(windowsCopy), c.windowsAfter) << "the Windows directory's copy";
    EXPECT_EQ(messageBoxTexts(), std::vector<std::string>{}) << "settings move without a box";
}

INSTANTIATE_TEST_SUITE_P(Copies, SettingsPlacesTest, ::testing::ValuesIn(kSettingsCases),
                         [](const auto &info) { return std::string(info.param.name); });

struct NameCase {
    const char *name;
    bool rootRefuses;       // C:\_NOCTIL1.AVI cannot be made
    const char *imageFile;  // the setting; null: none (the default)
    const char *firstFile;  // the first run's file ("%D\" for the user's documents)
    const char *box;        // the one box of both runs ("%D\", "%T\" the temporary folder); null: none
};

// clang-format off
const NameCase kNameCases[] = {
    {"ARootThatTakesFilesKeepsTheDefaultName", false, nullptr, "C:\\Images_000.AVI", nullptr},
    {"TheDefaultNameGoesToTheDocuments", true, nullptr, "%D\\Images_000.AVI",
     "C:\\ does not take files for this user, so the images go to\n%D\\Images.AVI\nand the capture's temporary "
     "files to %T\\.\n\nSave Images In chooses another file; a name chosen there is used as it is."},
    {"TheDefaultNameInTheSettingsToo", true, "c:\\images.avi", "%D\\Images_000.AVI",
     "C:\\ does not take files for this user, so the images go to\n%D\\Images.AVI\nand the capture's temporary "
     "files to %T\\.\n\nSave Images In chooses another file; a name chosen there is used as it is."},
    {"AChosenNameIsUsedAsItIs", true, "C:\\night.avi", "C:\\night_000.avi",
     "C:\\ does not take files for this user, so the capture's temporary files go to %T\\."},
};
// clang-format on
void PrintTo(const NameCase &c, std::ostream *os) { *os << c.name; }

std::string withFolders(std::string text) {
    std::string documents = userFolder(CSIDL_PERSONAL), temp = tempFolder();
    temp.pop_back();  // its backslash is the text's
    for (auto [mark, folder] : {std::pair<std::string, std::string>{"%D", documents}, {"%T", temp}})
        for (std::size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, 2, folder);
    return text;
}

LONG imagesIn(const std::string &windowsName) {
    AVIFileInit();
    PAVISTREAM stream = nullptr;
    LONG images = -1;
    if (AVIStreamOpenFromFileA(&stream, windowsName.c_str(), streamtypeVIDEO, 0, OF_READ, nullptr) == AVIERR_OK) {
        images = AVIStreamLength(stream);
        AVIStreamRelease(stream);
    }
    AVIFileExit();
    return images;
}

class DefaultNamesTest : public AppTest, public ::testing::WithParamInterface<NameCase> {};

// Two runs of the program's default name (numbered, so the second does not
// ask about the first's file): both record, and the user hears of the
// user's folders once.
TEST_P(DefaultNamesTest, RecordsWhereTheRootLetsIt) {
    const NameCase &c = GetParam();
    installCamera(Camera::Test240);
    std::string settings = "[Flags]\r\nAutoIncrement=1\r\n[Capture]\r\nExposure=100\r\nDelay=100\r\n";
    if (c.imageFile) settings = std::string("[Filenames]\r\nImageFile=") + c.imageFile + "\r\n" + settings;
    writeSettingsFile(settings);
    if (c.rootRefuses) blockWithFolder(plat::nativePath("C:\\_NOCTIL1.AVI"));
    for (std::uint32_t start : {500u, 4000u}) {
        user().at(start, [&] { choose(IDM_RECORD); });
        user().at(start + 100, [&, start] {
            if (c.box && start == 500) pressEnter();
        });
        user().at(start + 3000, [&] { choose(IDM_STOP); });
    }
    user().at(7500, [&] { exitProgram(); });
    ASSERT_EQ(runProgram(), 0);

    if (c.box)
        EXPECT_EQ(messageBoxTexts(), std::vector<std::string>{withFolders(c.box)});
    else
        EXPECT_EQ(messageBoxTexts(), std::vector<std::string>{});
    const std::string first = withFolders(c.firstFile);
    std::string second = first;
    second.replace(second.find("_000"), 4, "_001");
    EXPECT_GT(imagesIn(first), 0) << first;
    EXPECT_GT(imagesIn(second), 0) << second;
    const std::string captureFile = c.rootRefuses ? tempFolder() + "_NOCTIL1.AVI" : "C:\\_NOCTIL1.AVI";
    EXPECT_TRUE(fs::is_regular_file(plat::nativePath(captureFile))) << captureFile;
}

INSTANTIATE_TEST_SUITE_P(Names, DefaultNamesTest, ::testing::ValuesIn(kNameCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace noctil::test
