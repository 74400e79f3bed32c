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
