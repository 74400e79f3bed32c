#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "alloc_counter.h"
#include "files/paths.h"
#include "platform_fixture.h"

namespace fs = std::filesystem;

namespace {

using noctil::test::PlatformTest;
using noctil::test::readAll;
using noctil::test::writeAll;

class PathsTest : public PlatformTest {};

struct MappingCase {
    const char *name;
    const char *expected;  // relative to <root> when rooted is true, else the whole result
    bool rooted;
};

TEST_F(PathsTest, MapsWindowsNamesOntoTheRoot) {
    const MappingCase cases[] = {
        {"C:\\Images.AVI", "drives/c/Images.AVI", true},
        {"c:\\Images.AVI", "drives/c/Images.AVI", true},
        {"D:\\x\\y.AVI", "drives/d/x/y.AVI", true},
        {"d:/x/y.avi", "drives/d/x/y.avi", true},
        {"C:\\a\\\\b\\.\\c.txt", "drives/c/a/b/c.txt", true},
        {"C:\\a\\..\\b.txt", "drives/c/b.txt", true},
        {"C:\\..\\..\\etc\\passwd", "drives/c/etc/passwd", true},  // ".." stops at the drive's top
        {"C:\\", "drives/c", true},
        {"C:", "drives/c", true},
        {"C:notes.txt", "drives/c/notes.txt", true},
        {"\\_NOCTIL1.AVI", "drives/c/_NOCTIL1.AVI", true},  // rooted without a drive: drive C
        {"/tmp/native.avi", "/tmp/native.avi", false},
        {"/tmp/odd\\name", "/tmp/odd\\name", false},
        {"relative.ini", "relative.ini", false},
        {"sub\\file.txt", "sub/file.txt", false},
        {"\\\\server\\share\\x", "\\\\server\\share\\x", false},  // no network here: unchanged
        {"\\\\?\\C:\\x", "\\\\?\\C:\\x", false},
        {"1:\\x", "1:/x", false},  // not a drive letter: a relative name
        {"", "", false},
    };
    for (const auto &c : cases) {
        const fs::path expected = c.rooted ? root() / c.expected : fs::path(c.expected);
        EXPECT_EQ(plat::nativePath(c.name), expected) << "name: " << c.name;
    }
}

TEST_F(PathsTest, FindsExistingEntriesWhateverTheirCase) {
    writeAll(root() / "drives/c/Astro/Images.AVI", "x");
    EXPECT_EQ(plat::nativePath("C:\\ASTRO\\images.avi"), root() / "drives/c/Astro/Images.AVI");
    // A new file keeps the case it is given; only existing entries are matched.
    EXPECT_EQ(plat::nativePath("c:\\astro\\New.AVI"), root() / "drives/c/Astro/New.AVI");
    // The exact name wins over a case variant.
    writeAll(root() / "drives/c/Astro/images.avi", "y");
    EXPECT_EQ(plat::nativePath("C:\\astro\\images.avi"), root() / "drives/c/Astro/images.avi");
}

// A directory whose entries take many reads, with the wanted name among
// several case variants: the first in byte order is the one used.
TEST_F(PathsTest, FindsACaseVariantInACrowdedDirectory) {
    const fs::path dir = root() / "drives/c/Night";
    fs::create_directories(dir);
    for (int i = 0; i < 600; ++i) writeAll(dir / ("frame_with_a_long_name_" + std::to_string(i) + ".avi"), "");
    for (const char *variant : {"m42_003.avi", "M42_003.avi", "M42_003.AVI"}) writeAll(dir / variant, "");
    EXPECT_EQ(plat::nativePath("C:\\night\\m42_003.Avi"), dir / "M42_003.AVI");
    EXPECT_EQ(plat::nativePath("C:\\NIGHT\\FRAME_WITH_A_LONG_NAME_599.AVI"), dir / "frame_with_a_long_name_599.avi");
    EXPECT_EQ(plat::nativePath("C:\\night\\absent.avi"), dir / "absent.avi");
    // A name that continues past a file keeps the rest as it is given.
    EXPECT_EQ(plat::nativePath("C:\\NIGHT\\M42_003.avi\\..\\X\\Y"), dir / "X/Y");
    EXPECT_EQ(plat::nativePath("C:\\NIGHT\\m42_003.Avi\\X\\Y"), dir / "M42_003.AVI/X/Y");
}

// The cycle deletes, checks and opens its temporary files for every image:
// once the thread's name buffer has grown, those calls allocate nothing,
// whether the name exists, exists under another case, or is missing.
TEST_F(PathsTest, FileCallsOnWindowsNamesAllocateNothing) {
    writeAll(root() / "drives/c/_Noctil1.avi", "x");
    const char *names[] = {"C:\\_NOCTIL1.AVI", "C:\\_NOCTIL2.AVI", "C:\\no\\such\\x.avi", "C:\\WINDOWS\\capture.ini"};
    for (const char *name : names) GetFileAttributesA(name);  // grows the buffer to these names
    alloc_counter::Scope count;
    for (const char *name : names) {
        GetFileAttributesA(name);
        remove(name);
        GetFileAttributesA(name);
    }
    EXPECT_EQ(count.count(), 0u);
    EXPECT_FALSE(fs::exists(root() / "drives/c/_Noctil1.avi"));
}

TEST_F(PathsTest, SessionStartCreatesDriveCAndTheWindowsDirectory) {
    EXPECT_TRUE(fs::is_directory(root() / "drives/c"));
    EXPECT_TRUE(fs::is_directory(root() / "windows"));
    EXPECT_EQ(plat::windowsDirectory(), root() / "windows");
    fs::remove(root() / "windows");
    EXPECT_TRUE(fs::is_directory(plat::windowsDirectory()));  // made again on demand
}

TEST_F(PathsTest, FopenAndRemoveUseTheMappedName) {
    FILE *f = fopen("C:\\Images_000.AVI", "wb");
    ASSERT_NE(f, nullptr);
    fputs("frame", f);
    fclose(f);
    EXPECT_EQ(readAll(root() / "drives/c/Images_000.AVI"), "frame");

    f = fopen("c:\\IMAGES_000.avi", "rb");  // another spelling of the same file
    ASSERT_NE(f, nullptr);
    char text[16] = {};
    EXPECT_EQ(fread(text, 1, sizeof text - 1, f), 5u);
    fclose(f);
    EXPECT_STREQ(text, "frame");

    EXPECT_EQ(remove("C:\\Images_000.AVI"), 0);
    EXPECT_FALSE(fs::exists(root() / "drives/c/Images_000.AVI"));
    EXPECT_NE(remove("C:\\Images_000.AVI"), 0);  // gone: removing again fails
    EXPECT_EQ(fopen("C:\\Images_000.AVI", "rb"), nullptr);
}

// As on Windows, a missing directory makes an open fail, a drive letter
// with no drive behind it too, and nothing is made for either.
TEST_F(PathsTest, NamesOnMissingDrivesOrDirectoriesFindNoPath) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(fopen("E:\\x.txt", "w"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(fs::exists(root() / "drives/e"));
    EXPECT_EQ(GetFileAttributesA("E:\\"), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(fs::exists(root() / "drives/e"));
    EXPECT_EQ(fopen("C:\\no such dir\\x.avi", "wb"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(fs::exists(root() / "drives/c/no such dir"));
    // A drive whose directory is there is a drive.
    fs::create_directories(root() / "drives/e");
    FILE *f = fopen("e:\\x.txt", "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    EXPECT_TRUE(fs::exists(root() / "drives/e/x.txt"));
}

// Characters Windows refuses in names: every file call fails with
// ERROR_INVALID_NAME and nothing is created.
TEST_F(PathsTest, NamesWithCharactersWindowsRefusesAreInvalid) {
    const char *names[] = {"C:\\a<b.avi",
                           "C:\\a>b.avi",
                           "C:\\a:b.avi",
                           "C:\\a\"b.avi",
                           "C:\\a|b.avi",
                           "C:\\a?b.avi",
                           "C:\\a*b.avi",
                           "C:\\a\tb.avi",
                           "C:\\a\x01"
                           "b.avi",
                           "C:\\d<ir\\x.avi"};
    for (const char *name : names) {
        SCOPED_TRACE(name);
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(fopen(name, "wb"), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_NAME));
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(GetFileAttributesA(name), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_NAME));
        EXPECT_FALSE(MoveFileA("C:\\", name));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_NAME));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(root() / "drives/c"), fs::directory_iterator()), 0)
        << "nothing was created on the drive";
    EXPECT_EQ(plat::windowsNameError("C:\\night.avi"), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(plat::windowsNameError("c:night.avi"), DWORD(ERROR_SUCCESS));
}

TEST_F(PathsTest, NativeNamesPassThroughTheWrappers) {
    const fs::path native = root() / "native.txt";
    FILE *f = fopen(native.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    EXPECT_TRUE(fs::exists(native));
    EXPECT_EQ(remove(native.c_str()), 0);
    EXPECT_FALSE(fs::exists(native));
}

TEST_F(PathsTest, WithoutASessionNamesAreUnchanged) {
    const fs::path native = root() / "outside.txt";
    endSession();
    EXPECT_EQ(plat::nativePath("C:\\x.avi"), fs::path("C:\\x.avi"));
    FILE *f = fopen(native.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    EXPECT_EQ(remove(native.c_str()), 0);
    char buffer[8] = "poison";
    EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 0u);
}

// What the program learns of an entry, and what remove does to it; each
// failure leaves the system's reason, whose text FormatMessageA gives.
TEST_F(PathsTest, EntriesAndReasonsAsTheSystemReportsThem) {
    fs::create_directories(root() / "drives" / "c" / "folder");
    std::ofstream(root() / "drives" / "c" / "file.avi") << "x";
    fs::create_symlink(root() / "drives" / "c" / "gone", root() / "drives" / "c" / "broken.avi");
    struct Case {
        const char *name;
        DWORD attributes;
        int removed;       // remove's result
        DWORD lastError;   // after remove
        const char *text;  // FormatMessageA of that error, without its CR LF
    } cases[] = {
        {"C:\\file.avi", FILE_ATTRIBUTE_NORMAL, 0, ERROR_SUCCESS, "The operation completed successfully."},
        {"C:\\folder", FILE_ATTRIBUTE_DIRECTORY, -1, ERROR_ACCESS_DENIED, "Access is denied."},
        {"C:\\broken.avi", FILE_ATTRIBUTE_DEVICE, 0, ERROR_SUCCESS, "The operation completed successfully."},
        {"C:\\missing.avi", INVALID_FILE_ATTRIBUTES, -1, ERROR_FILE_NOT_FOUND,
         "The system cannot find the file specified."},
        {"C:\\no\\such\\x.avi", INVALID_FILE_ATTRIBUTES, -1, ERROR_PATH_NOT_FOUND,
         "The system cannot find the path specified."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(GetFileAttributesA(c.name), c.attributes);
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(remove(c.name), c.removed);
        EXPECT_EQ(GetLastError(), c.lastError);
        char text[256];
        const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                            GetLastError(), 0, text, sizeof text, nullptr);
        EXPECT_EQ(std::string(text, length), std::string(c.text) + "\r\n");
    }
    EXPECT_TRUE(fs::is_directory(root() / "drives" / "c" / "folder")) << "remove leaves folders alone";
    char tooSmall[8];
    EXPECT_EQ(
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_DISK_FULL, 0, tooSmall, sizeof tooSmall, nullptr),
        0u);
}

TEST_F(PathsTest, GetWindowsDirectoryNamesADirectoryTheFileCallsReach) {
    const std::string expected = "C:\\WINDOWS";
    char buffer[MAX_PATH];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), expected.size());
    EXPECT_EQ(std::string(buffer), expected);

    // A program joins it with a backslash and a name, in any letter case.
    for (const char *name : {"\\joined.ini", "\\..\\windows\\Joined.ini"}) {
        SCOPED_TRACE(name);
        FILE *f = fopen((std::string(buffer) + name).c_str(), "w");
        ASSERT_NE(f, nullptr);
        fclose(f);
        EXPECT_TRUE(fs::exists(root() / "windows" / "joined.ini"));
    }
    EXPECT_EQ(WritePrivateProfileStringA("S", "k", "v", (std::string(buffer) + "\\joined.ini").c_str()), TRUE);
    char value[8] = "";
    GetPrivateProfileStringA("S", "k", "", value, sizeof value, "joined.ini");
    EXPECT_STREQ(value, "v") << "a name without a folder is in the same directory";

    // Too small: nothing copied, the size needed (with terminator) returned.
    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(GetWindowsDirectoryA(small, sizeof small), expected.size() + 1);
    EXPECT_EQ(small[0], 'x');
    EXPECT_EQ(GetWindowsDirectoryA(buffer, static_cast<UINT>(expected.size())), expected.size() + 1);
    EXPECT_EQ(GetWindowsDirectoryA(buffer, static_cast<UINT>(expected.size() + 1)), expected.size());
}

}  // namespace
