// What Record does with the names it finds on the drive, through the real
// program: which entries count as taken, which are replaced, which are left
// alone, and what the user is told, with the system's reason, when the
// output file cannot be made.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app_test.h"
#include "dialog_user.h"
#include "menu_states.h"
#include "port_timeline.h"
#include "write_doubles.h"
#include "files/paths.h"

namespace noctil::test {
namespace {

namespace fs = std::filesystem;

enum class Entry { None, File, EmptyFolder, BrokenLink };

struct NameCase {
    const char *name;
    bool autoIncrement;
    const char *imageFile;  // the setting
    const char *existing;   // what is on the drive before Record
    Entry kind;
    const char *written;  // where the images go; null when nothing opens
    const char *message;  // the box Record shows; null for none
};

const NameCase kNameCases[] = {
    // Any entry of the name makes it taken, readable or not.
    {"NumberingSkipsALinkThatLeadsNowhere", true, "C:\\Images.AVI", "C:\\Images_000.AVI", Entry::BrokenLink,
     "C:\\Images_001.AVI", nullptr},
    {"NumberingSkipsAFolder", true, "C:\\Images.AVI", "C:\\Images_000.AVI", Entry::EmptyFolder, "C:\\Images_001.AVI",
     nullptr},
    // Without numbering Record replaces a file of the name, and only a file.
    {"RecordReplacesAFile", false, "C:\\night.avi", "C:\\night.avi", Entry::File, "C:\\night.avi", nullptr},
    {"RecordLeavesAFolder", false, "C:\\night.avi", "C:\\night.avi", Entry::EmptyFolder, nullptr,
     "Can't open AVI file C:\\night.avi\nAccess is denied."},
    {"RecordLeavesALinkThatLeadsNowhere", false, "C:\\night.avi", "C:\\night.avi", Entry::BrokenLink, nullptr,
     "Can't open AVI file C:\\night.avi\nAccess is denied."},
    // Names are checked as Windows checks them, and nothing is made for them.
    {"ACharacterWindowsRefuses", false, "C:\\night?.avi", nullptr, Entry::None, nullptr,
     "Can't open AVI file C:\\night?.avi\nThe filename, directory name, or volume label syntax is incorrect."},
    {"ACharacterWindowsRefusesWithNumbering", true, "C:\\night|1.avi", nullptr, Entry::None, nullptr,
     "Can't open AVI file C:\\night|1_000.avi\nThe filename, directory name, or volume label syntax is incorrect."},
    {"ADriveThatIsNotThere", false, "Q:\\night.avi", nullptr, Entry::None, nullptr,
     "Can't open AVI file Q:\\night.avi\nThe system cannot find the path specified."},
    // The system's reason follows the message on its own line.
    {"NoSuchFolder", false, "C:\\no\\such\\night.avi", nullptr, Entry::None, nullptr,
     "Can't open AVI file C:\\no\\such\\night.avi\nThe system cannot find the path specified."},
};
void PrintTo(const NameCase &c, std::ostream *os) { *os << c.name; }

void makeEntry(const char *windowsName, Entry kind) {
    const fs::path path = plat::nativePath(windowsName);
    switch (kind) {
    case Entry::None: break;
    case Entry::File: std::ofstream(path) << "an earlier run"; break;
    case Entry::EmptyFolder: fs::create_directories(path); break;
    case Entry::BrokenLink: fs::create_symlink(path.parent_path() / "gone", path); break;
    }
}

bool entryIs(const char *windowsName, Entry kind) {
    const fs::path path = plat::nativePath(windowsName);
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    switch (kind) {
    case Entry::None: return !fs::exists(status);
    case Entry::File: return fs::is_regular_file(status);
    case Entry::EmptyFolder: return fs::is_directory(status);
    case Entry::BrokenLink: return fs::is_symlink(status);
    }
    return false;
}

class OutputNamesTest : public AppTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(OutputNamesTest, RecordKeepsWhatItMustNotReplace) {
    const NameCase &c = GetParam();
    installCamera(Camera::Test240);
    // Short exposures: the run has written images when it is stopped.
    writeSettingsFile(std::string("[Filenames]\r\nImageFile=") + c.imageFile + "\r\n[Flags]\r\nAutoIncrement=" +
                      (c.autoIncrement ? "1" : "0") + "\r\n[Capture]\r\nExposure=100\r\nDelay=100\r\n");
    if (c.existing) makeEntry(c.existing, c.kind);
    user().at(500, [&] { choose(IDM_RECORD); });
    user().at(600, [&] {
        if (c.message) pressEnter();
    });
    user().at(3000, [&] { choose(IDM_STOP); });
    user().at(3100, [&] { exitProgram(); });
    ASSERT_EQ(runProgram(), 0);

    if (c.message)
        EXPECT_EQ(messageBoxTexts(), std::vector<std::string>{c.message});
    else
        EXPECT_EQ(messageBoxTexts(), std::vector<std::string>{});
    if (c.existing && (!c.written || std::string(c.written) != c.existing)) {
        EXPECT_TRUE(entryIs(c.existing, c.kind)) << c.existing << " is left as it was";
    }
    EXPECT_FALSE(fs::exists(plat::driveDirectory('q'))) << "no drive is made for a name";
    if (!c.written) {
        std::vector<std::string> made;
        for (const fs::directory_entry &e : fs::directory_iterator(plat::driveDirectory('c'))) {
            const std::string name = e.path().filename().string();
            if (name.rfind("_NOCTIL", 0) != 0 && (!c.existing || plat::nativePath(c.existing) != e.path()))
                made.push_back(name);
        }
        EXPECT_EQ(made, std::vector<std::string>{}) << "nothing was created for a run that could not start";
    }
    if (c.written) {
        std::ifstream file(plat::nativePath(c.written), std::ios::binary);
        char riff[4] = {};
        file.read(riff, 4);
        EXPECT_EQ(std::string(riff, 4), "RIFF") << c.written << " is a new AVI file";
    }
}

INSTANTIATE_TEST_SUITE_P(Names, OutputNamesTest, ::testing::ValuesIn(kNameCases),
                         [](const auto &info) { return std::string(info.param.name); });

// Numbering at its end: every number from the name's own up to 999 is
// taken. Record says so in words, starts no run (the menu and the toolbar
// stay idle, Record offered), writes nothing, and every later Record does
// the same.
struct NoFreeNumberCase {
    const char *name;
    const char *imageFile;
    const char *folder;  // of the numbered files
    const char *stem;    // before the number
    const char *extension;
    int first;
    const char *message;
};
void PrintTo(const NoFreeNumberCase &c, std::ostream *os) { *os << c.name; }

const NoFreeNumberCase kNoFreeNumberCases[] = {
    {"TheDefaultName", "C:\\Images.AVI", "C:\\", "Images", ".AVI", 0,
     "Can't record: no free number for Images_nnn.AVI: 000 to 999 are taken.\n"
     "Move files out of C:\\ or choose another name, then Record again."},
    {"ANumberedNameInAFolder", "C:\\sky\\m42_500.avi", "C:\\sky\\", "m42", ".avi", 500,
     "Can't record: no free number for m42_nnn.avi: 500 to 999 are taken.\n"
     "Move files out of C:\\sky\\ or choose another name, then Record again."},
};

const ExpectedMenuItem kIdleRecordOffered[] = {
    {IDM_RECORD, kItemButton}, {IDM_STOP, kItemGrayed | kItemButton}, {IDM_PAUSE, kItemButton}};

class NoFreeNumberTest : public AppTest, public ::testing::WithParamInterface<NoFreeNumberCase> {};

TEST_P(NoFreeNumberTest, RecordSaysSoAndStaysIdle) {
    const NoFreeNumberCase &c = GetParam();
    installCamera(Camera::Test240);
    writeSettingsFile(std::string("[Filenames]\r\nImageFile=") + c.imageFile +
                      "\r\n[Flags]\r\nAutoIncrement=1\r\n[Capture]\r\nExposure=100\r\nDelay=100\r\n");
    fs::create_directories(plat::nativePath(c.folder));
    char number[16];
    for (int n = c.first; n <= 999; n++) {
        std::snprintf(number, sizeof number, "_%03d", n);
        std::ofstream(plat::nativePath(std::string(c.folder) + c.stem + number + c.extension)) << "an earlier run";
    }
    const std::size_t entriesBefore = std::distance(fs::directory_iterator(plat::nativePath(c.folder)), {});
    std::size_t portWrites = 0;
    user().at(400, [&] { portWrites = cameraPortWrites().size(); });
    user().at(500, [&] { choose(IDM_RECORD); });
    user().at(600, [&] {
        EXPECT_TRUE(commandStatesMatch("after the first Record", kIdleRecordOffered, mainWindow(), toolbar()));
        pressEnter();
    });
    user().at(700, [&] {
        EXPECT_TRUE(commandStatesMatch("the box closed", kIdleRecordOffered, mainWindow(), toolbar()));
        EXPECT_TRUE(plat::user::clickToolbarButton(toolbar(), IDM_RECORD));
    });
    user().at(800, [&] { pressEnter(); });
    user().at(3000, [&] {
        EXPECT_TRUE(commandStatesMatch("later", kIdleRecordOffered, mainWindow(), toolbar()));
        EXPECT_EQ(cameraPortWrites().size(), portWrites) << "the camera never integrated";
        exitProgram();
    });
    ASSERT_EQ(runProgram(), 0);

    EXPECT_EQ(messageBoxTexts(), (std::vector<std::string>{c.message, c.message})) << "each Record says it";
    for (const plat::user::MessageBoxRecord &box : messageBoxLog()) EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(std::size_t(std::distance(fs::directory_iterator(plat::nativePath(c.folder)), {})), entriesBefore)
        << "nothing was written";
    bool nameKept = false;
    for (const IniEntry &e : settingsEntries()) nameKept |= e.key == "ImageFile" && e.value == c.imageFile;
    EXPECT_TRUE(nameKept) << "the setting keeps its name";
}

INSTANTIATE_TEST_SUITE_P(Names, NoFreeNumberTest, ::testing::ValuesIn(kNoFreeNumberCases),
                         [](const auto &info) { return std::string(info.param.name); });

// A full drive: the open succeeds, the stream's format cannot be written.
TEST_F(AppTest, AFullDriveIsNamedAsTheReason) {
    installCamera(Camera::Test240);
    writeSettingsFile("[Filenames]\r\nImageFile=D:\\night.avi\r\n");
    user().at(400, [&] { plat::setDriveSize('d', 0); });
    user().at(500, [&] { choose(IDM_RECORD); });
    user().at(600, [&] { pressEnter(); });
    user().at(700, [&] { choose(IDM_STOP); });
    user().at(800, [&] { exitProgram(); });
    ASSERT_EQ(runProgram(), 0);
    EXPECT_EQ(messageBoxTexts(),
              std::vector<std::string>{"Can't set AVI stream format\nThere is not enough space on the disk."});
}

}  // namespace
}  // namespace noctil::test
