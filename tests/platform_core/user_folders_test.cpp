// The user's own folders: where each is on drive C, made only when the caller
// asks (CSIDL_FLAG_CREATE; the temporary folder always), and the lengths
// Windows returns for a buffer too small.
#include <windows.h>
#include <shlobj.h>
#include <unistd.h>
#include <pwd.h>

#include <string>

#include "files/paths.h"
#include "platform_fixture.h"

namespace fs = std::filesystem;

namespace {

using noctil::test::PlatformTest;

class UserFoldersTest : public PlatformTest {};

std::string login() { return ::getpwuid(::geteuid())->pw_name; }

TEST_F(UserFoldersTest, ShellFoldersAreMadeOnlyWhenAsked) {
    struct Case {
        int folder;
        const char *below;  // under C:\Users\<login>; null: no such folder
    };
    const Case cases[] = {
        {CSIDL_PERSONAL, "Documents"},
        {CSIDL_APPDATA, "AppData\\Roaming"},
        {0x001c, nullptr},  // the local application data: not a folder of the platform
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.folder);
        char path[MAX_PATH] = "poison";
        EXPECT_EQ(SHGetFolderPathA(nullptr, c.folder, nullptr, SHGFP_TYPE_CURRENT, path), E_FAIL) << "not made yet";
        EXPECT_STREQ(path, "");
        const HRESULT made = SHGetFolderPathA(nullptr, c.folder | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path);
        if (!c.below) {
            EXPECT_EQ(made, E_FAIL);
            continue;
        }
        const std::string expected = "C:\\Users\\" + login() + "\\" + c.below;
        EXPECT_EQ(made, S_OK);
        EXPECT_EQ(path, expected);
        std::string below = c.below;
        for (char &ch : below)
            if (ch == '\\') ch = '/';
        EXPECT_TRUE(fs::is_directory(plat::driveDirectory('c') / "Users" / login() / below)) << "on drive C";
        EXPECT_EQ(SHGetFolderPathA(nullptr, c.folder, nullptr, SHGFP_TYPE_CURRENT, path), S_OK) << "there now";
    }
}

TEST_F(UserFoldersTest, TheTemporaryFolderEndsInABackslashAndIsMade) {
    const std::string expected = "C:\\Users\\" + login() + "\\AppData\\Local\\Temp\\";
    struct Case {
        DWORD size;
        DWORD returned;  // the length copied, or the size needed with the terminator
        const char *text;
    };
    const Case cases[] = {
        {MAX_PATH, DWORD(expected.size()), expected.c_str()},
        {DWORD(expected.size() + 1), DWORD(expected.size()), expected.c_str()},
        {DWORD(expected.size()), DWORD(expected.size() + 1), "poison"},
        {0, DWORD(expected.size() + 1), "poison"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.size);
        char buffer[MAX_PATH] = "poison";
        EXPECT_EQ(GetTempPathA(c.size, buffer), c.returned);
        EXPECT_STREQ(buffer, c.text);
    }
    EXPECT_TRUE(fs::is_directory(plat::nativePath(expected)));
}

}  // namespace
