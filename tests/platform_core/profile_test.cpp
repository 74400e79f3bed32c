#include <sys/stat.h>
#include <windows.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "files/paths.h"
#include "platform_fixture.h"
#include "profile/ini_file.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

using noctil::test::PlatformTest;
using noctil::test::readAll;
using noctil::test::writeAll;

class ProfileTest : public PlatformTest {
protected:
    fs::path ini() const { return root() / "windows" / "Noctil.ini"; }
    void putIni(std::string_view text) const { writeAll(ini(), text); }
    std::string iniText() const { return readAll(ini()); }
};

struct ReadCase {
    const char *what;
    std::optional<std::string> file;  // nothing: no file at all
    const char *section, *key, *defaultText;
    DWORD size;
    std::string expected;
    DWORD expectedCount;
};

TEST_F(ProfileTest, ReadsStringsLikeWindows) {
    const std::string longValue(10000, 'v');
    const ReadCase cases[] = {
        {"missing file", std::nullopt, "Filenames", "ImageFile", "C:\\Images.AVI", 260, "C:\\Images.AVI", 13},
        {"missing section", "[Flags]\nAmpOff=1\n", "Driver", "Name", "<none>", 100, "<none>", 6},
        {"missing key", "[Driver]\nPreviewMode=1\n", "Driver", "Name", "<none>", 100, "<none>", 6},
        {"names without case", "[filenames]\nIMAGEFILE=C:\\x.avi\n", "Filenames", "ImageFile", "d", 260, "C:\\x.avi",
         8},
        {"blanks trimmed", "[A]\n  Key \t=   spaced value \t \n", "A", "Key", "d", 64, "spaced value", 12},
        {"header blanks", "  [ Capture ]  \nExposure=5\n", "Capture", "Exposure", "d", 64, "5", 1},
        {"cut to buffer", "[A]\nK=abcdefghij\n", "A", "K", "d", 5, "abcd", 4},
        {"exact fit", "[A]\nK=abcd\n", "A", "K", "d", 5, "abcd", 4},
        {"default cut", std::nullopt, "A", "K", "<none>", 4, "<no", 3},
        {"one byte buffer", "[A]\nK=abc\n", "A", "K", "d", 1, "", 0},
        {"null default", std::nullopt, "A", "K", nullptr, 16, "", 0},
        {"default loses trailing blanks", std::nullopt, "A", "K", "abc  ", 16, "abc", 3},
        {"CRLF", "[Driver]\r\nName=Sim Cam\r\n", "Driver", "Name", "d", 64, "Sim Cam", 7},
        {"CR-only lines", "[Flags]\rAmpOff=1\r[Driver]\rName=Sim Cam\r", "Driver", "Name", "d", 64, "Sim Cam", 7},
        {"CR-only, a key of another section", "[A]\rK=a\r[B]\rK=b\r", "A", "K", "d", 64, "a", 1},
        {"quotes removed", "[A]\nK=\" quoted \"\n", "A", "K", "d", 64, " quoted ", 8},
        {"unmatched quote kept", "[A]\nK=\"half\n", "A", "K", "d", 64, "\"half", 5},
        {"empty value", "[A]\nK=\n", "A", "K", "d", 64, "", 0},
        {"first of two keys", "[A]\nK=one\nK=two\n", "A", "K", "d", 64, "one", 3},
        {"second copy of a section", "[A]\nX=1\n[B]\nK=b\n[a]\nK=a2\n", "A", "K", "d", 64, "a2", 2},
        {"key before any section", "K=top\n[A]\nX=1\n", "A", "K", "d", 64, "d", 1},
        {"comment line", "[A]\n;K=commented\nK=real\n", "A", "K", "d", 64, "real", 4},
        {"other section's key", "[A]\nX=1\n[B]\nK=b\n", "A", "K", "d", 64, "d", 1},
        {"no final line end", "[A]\nK=v", "A", "K", "d", 64, "v", 1},
        {"byte order mark", "\xEF\xBB\xBF[A]\nK=v\n", "A", "K", "d", 64, "v", 1},
        {"unclosed header", "[A\nK=v\n", "A", "K", "d", 64, "v", 1},
        {"NUL ends the value", "[A]\nK=ab\0cd\n"s, "A", "K", "d", 64, "ab", 2},
        {"overlong value", "[A]\nK=" + longValue + "\n", "A", "K", "d", 260, std::string(259, 'v'), 259},
        {"overlong garbage line", std::string(50000, '#') + "\n[A]\nK=v\n", "A", "K", "d", 64, "v", 1},
        {"binary blob", "\0\x01\xff[\n=\0=\n]]]\n[A]\0\nK=v\n"s, "A", "K", "d", 64, "v", 1},
        {"only line ends", std::string(1000, '\n') + std::string(1000, '\r'), "A", "K", "d", 64, "d", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::error_code ec;
        fs::remove(ini(), ec);
        if (c.file) putIni(*c.file);
        char buffer[300];
        std::memset(buffer, '#', sizeof buffer);
        const DWORD count = GetPrivateProfileStringA(c.section, c.key, c.defaultText, buffer, c.size, "Noctil.ini");
        EXPECT_EQ(count, c.expectedCount);
        EXPECT_EQ(std::string(buffer, count), c.expected);
        EXPECT_EQ(buffer[count], '\0');
        EXPECT_EQ(buffer[c.size], '#') << "wrote beyond the buffer";
    }
}

struct IntCase {
    std::optional<std::string> value;  // nothing: the key is missing
    INT defaultValue;
    UINT expected;
};

TEST_F(ProfileTest, ReadsNumbersLikeWindows) {
    const IntCase cases[] = {
        {std::nullopt, 2000, 2000},
        {std::nullopt, -1, 0xFFFFFFFFu},
        {" 12", 0, 12},
        {"-1", 0, 0xFFFFFFFFu},
        {"+7", 0, 7},
        {"0x10", 0, 16},
        {"0X1f", 0, 31},
        {"-0x10", 0, 4294967280u},
        {"0x", 5, 0},
        {"abc", 5, 0},
        {"12abc", 0, 12},
        {"- 5", 9, 0},
        {"2147483648", 0, 2147483648u},
        {"99999999999", 0, 1215752191u},  // 99999999999 modulo 2^32
        {"", 42, 42},                     // an empty value counts as missing
        {"2", 0, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value ? "value \"" + *c.value + "\"" : "missing key");
        putIni(c.value ? "[Capture]\nExposure=" + *c.value + "\n" : "[Capture]\nDelay=3\n");
        EXPECT_EQ(GetPrivateProfileIntA("Capture", "Exposure", c.defaultValue, "Noctil.ini"), c.expected);
    }
}

TEST_F(ProfileTest, FirstSaveCreatesTheFileWithSectionsInOrder) {
    ASSERT_FALSE(fs::exists(ini()));
    const char *writes[][3] = {
        {"Filenames", "ImageFile", "C:\\Images.AVI"},
        {"Flags", "AutoIncrement", "0"},
        {"Flags", "AmpOff", "0"},
        {"Capture", "Exposure", "2000"},
        {"Capture", "Delay", "0"},
        {"Capture", "Count", "0"},
        {"Driver", "Name", "<none>"},
        {"Driver", "PreviewMode", "-1"},
    };
    for (const auto &w : writes) EXPECT_TRUE(WritePrivateProfileStringA(w[0], w[1], w[2], "Noctil.ini")) << w[1];
    EXPECT_EQ(iniText(),
              "[Filenames]\r\nImageFile=C:\\Images.AVI\r\n"
              "[Flags]\r\nAutoIncrement=0\r\nAmpOff=0\r\n"
              "[Capture]\r\nExposure=2000\r\nDelay=0\r\nCount=0\r\n"
              "[Driver]\r\nName=<none>\r\nPreviewMode=-1\r\n");
    EXPECT_EQ(static_cast<INT>(GetPrivateProfileIntA("Driver", "PreviewMode", 0, "Noctil.ini")), -1);
    // Only the file itself: no temporary file is left beside it.
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(root() / "windows")) names.push_back(entry.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"Noctil.ini"});
}

struct WriteCase {
    const char *what;
    std::string before;
    const char *section, *key, *text;
    std::string after;
};

TEST_F(ProfileTest, WritesChangeOnlyWhatTheyMust) {
    const std::string settings =
        "; Noctil settings\n[Capture]\n; in milliseconds\nExposure=100\nDelay = 5\n\n[Driver]\nName=x\n";
    const WriteCase cases[] = {
        {"replace in place", settings, "Capture", "Exposure", "2000",
         "; Noctil settings\n[Capture]\n; in milliseconds\nExposure=2000\nDelay = 5\n\n[Driver]\nName=x\n"},
        {"replace keeps the file's spelling and indent", "[capture]\n  exposure = 1 \n", "Capture", "EXPOSURE", "2",
         "[capture]\n  exposure=2\n"},
        {"new key at the end of its section", settings, "Capture", "Count", "3",
         "; Noctil settings\n[Capture]\n; in milliseconds\nExposure=100\nDelay = 5\nCount=3\r\n\n[Driver]\nName=x\n"},
        {"new section at the end", settings, "Flags", "AmpOff", "1", settings + "[Flags]\r\nAmpOff=1\r\n"},
        {"CRLF file stays CRLF", "[A]\r\nK=1\r\n", "A", "J", "2", "[A]\r\nK=1\r\nJ=2\r\n"},
        {"CRLF replace", "[A]\r\nK=1\r\nL=0\r\n", "A", "K", "22", "[A]\r\nK=22\r\nL=0\r\n"},
        {"no final line end", "[A]\nK=v", "A", "J", "w", "[A]\nK=v\r\nJ=w\r\n"},
        {"no final line end, new section", "[A]\nK=v", "B", "J", "w", "[A]\nK=v\r\n[B]\r\nJ=w\r\n"},
        {"CR-only lines are lines", "[A]\rK=1\rL=2\r", "A", "L", "3", "[A]\rK=1\rL=3\r"},
        {"CR-only file gets a key in its section", "[A]\rK=1\r[B]\r", "A", "J", "2", "[A]\rK=1\rJ=2\r\n[B]\r"},
        {"first copy of a section gets the key", "[A]\nX=1\n[B]\n[A]\nY=2\n", "A", "Z", "3",
         "[A]\nX=1\nZ=3\r\n[B]\n[A]\nY=2\n"},
        {"key in a later copy replaced there", "[A]\nX=1\n[B]\n[A]\nY=2\n", "A", "Y", "9", "[A]\nX=1\n[B]\n[A]\nY=9\n"},
        {"delete a key", settings, "Capture", "Delay", nullptr,
         "; Noctil settings\n[Capture]\n; in milliseconds\nExposure=100\n\n[Driver]\nName=x\n"},
        {"delete a section", settings, "Capture", nullptr, nullptr, "; Noctil settings\n[Driver]\nName=x\n"},
        {"garbage kept", "\x01\x02garbage\n[[[\n====\n", "A", "K", "v", "\x01\x02garbage\n[[[\n====\n[A]\r\nK=v\r\n"},
        {"binary kept", "\0\xff\0\n\0"s, "A", "K", "v", "\0\xff\0\n\0\r\n[A]\r\nK=v\r\n"s},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        putIni(c.before);
        EXPECT_TRUE(WritePrivateProfileStringA(c.section, c.key, c.text, "Noctil.ini"));
        EXPECT_EQ(iniText(), c.after);
    }
}

TEST_F(ProfileTest, OverlongLinesSurviveAWrite) {
    const std::string before = "[A]\nK=" + std::string(100000, 'x') + "\n" + std::string(70000, ';') + "\n";
    putIni(before);
    EXPECT_TRUE(WritePrivateProfileStringA("B", "K", "v", "Noctil.ini"));
    EXPECT_EQ(iniText(), before + "[B]\r\nK=v\r\n");
    char buffer[16];
    EXPECT_EQ(GetPrivateProfileStringA("A", "K", "", buffer, sizeof buffer, "Noctil.ini"), 15u);
}

TEST_F(ProfileTest, FindsTheFileWhateverItsCase) {
    writeAll(root() / "windows" / "NOCTIL.INI", "[Driver]\nName=cam\n");
    char buffer[32];
    EXPECT_EQ(GetPrivateProfileStringA("Driver", "Name", "", buffer, sizeof buffer, "Noctil.ini"), 3u);
    EXPECT_STREQ(buffer, "cam");
    EXPECT_TRUE(WritePrivateProfileStringA("Driver", "Name", "other", "noctil.ini"));
    EXPECT_EQ(readAll(root() / "windows" / "NOCTIL.INI"), "[Driver]\nName=other\n");
    EXPECT_FALSE(fs::exists(ini()));
}

TEST_F(ProfileTest, NamesWithADirectoryGoThroughTheDriveMapping) {
    EXPECT_TRUE(WritePrivateProfileStringA("A", "K", "v", "C:\\settings.ini"));
    EXPECT_EQ(readAll(root() / "drives/c/settings.ini"), "[A]\r\nK=v\r\n");
    EXPECT_EQ(GetPrivateProfileIntA("A", "K", 7, "C:\\no such dir\\x.ini"), 7u);
}

TEST_F(ProfileTest, WritesThatCannotBeDoneFailAndLoseNothing) {
    putIni("[A]\nK=v\n");
    struct {
        const char *what, *section, *key, *text, *file;
    } cases[] = {
        {"missing directory", "A", "K", "v", "C:\\no such dir\\x.ini"},
        {"file is a directory", "A", "K", "v", "C:\\"},
        {"directory that cannot take files", "A", "K", "v", "/proc/noctil.ini"},
        {"key with '='", "A", "K=J", "v", "Noctil.ini"},
        {"key that reads as a comment", "A", ";K", "v", "Noctil.ini"},
        {"blank key", "A", "  ", "v", "Noctil.ini"},
        {"line break in value", "A", "K", "v\n[B]", "Noctil.ini"},
        {"line break in section", "A\nB", "K", "v", "Noctil.ini"},
        {"']' in section", "A]", "K", "v", "Noctil.ini"},
        {"no section", nullptr, "K", "v", "Noctil.ini"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(WritePrivateProfileStringA(c.section, c.key, c.text, c.file));
        EXPECT_EQ(iniText(), "[A]\nK=v\n");
    }
}

TEST_F(ProfileTest, UnwritableWindowsDirectory) {
    fs::remove_all(root() / "windows");
    writeAll(root() / "windows", "a file where the directory should be");
    EXPECT_FALSE(WritePrivateProfileStringA("Capture", "Exposure", "2000", "Noctil.ini"));
    char buffer[16];
    EXPECT_EQ(GetPrivateProfileStringA("Driver", "Name", "<none>", buffer, sizeof buffer, "Noctil.ini"), 6u);
    EXPECT_STREQ(buffer, "<none>");
    EXPECT_EQ(GetPrivateProfileIntA("Capture", "Exposure", 2000, "Noctil.ini"), 2000u);
    EXPECT_EQ(readAll(root() / "windows"), "a file where the directory should be");
}

TEST_F(ProfileTest, AFifoInPlaceOfTheFileNeitherHangsNorIsReplaced) {
    ASSERT_EQ(mkfifo(ini().c_str(), 0600), 0);
    EXPECT_EQ(GetPrivateProfileIntA("Capture", "Exposure", 2000, "Noctil.ini"), 2000u);
    EXPECT_FALSE(WritePrivateProfileStringA("Capture", "Exposure", "1", "Noctil.ini"));
    EXPECT_TRUE(fs::is_fifo(ini()));
}

TEST_F(ProfileTest, ListsSectionsAndKeys) {
    putIni("[A]\nX=1\nY=2\n[b]\n[a]\nx=3\nZ=4\n");
    char buffer[64];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, "Noctil.ini"), 4u);
    EXPECT_EQ(std::string(buffer, 5), "A\0b\0\0"s);
    EXPECT_EQ(GetPrivateProfileStringA("A", nullptr, "", buffer, sizeof buffer, "Noctil.ini"), 6u);
    EXPECT_EQ(std::string(buffer, 7), "X\0Y\0Z\0\0"s);
    // Cut: still ends in two terminators, and the count is size - 2.
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(GetPrivateProfileStringA("A", nullptr, "", buffer, 5, "Noctil.ini"), 3u);
    EXPECT_EQ(std::string(buffer, 6), "X\0Y\0\0#"s);
    EXPECT_EQ(GetPrivateProfileStringA("Missing", nullptr, "", buffer, sizeof buffer, "Noctil.ini"), 0u);
    EXPECT_EQ(std::string(buffer, 2), "\0\0"s);
}

TEST_F(ProfileTest, ReadIniValueForThePlatformConfiguration) {
    writeAll(root() / "windows" / "system.ini",
             "[drivers32]\r\nMSVideo = simcam \r\nmsvideo1=\r\n[parallel]\nbackend=ppdev\n");
    const fs::path file = root() / "windows" / "system.ini";
    EXPECT_EQ(plat::readIniValue(file, "Drivers32", "msvideo"), "simcam");
    EXPECT_EQ(plat::readIniValue(file, "drivers32", "msvideo1"), "");
    EXPECT_EQ(plat::readIniValue(file, "drivers32", "msvideo2"), std::nullopt);
    EXPECT_EQ(plat::readIniValue(file, "parallel", "backend"), "ppdev");
    EXPECT_EQ(plat::readIniValue(root() / "none.ini", "parallel", "backend"), std::nullopt);
    EXPECT_EQ(plat::readIniValue(root() / "windows", "parallel", "backend"), std::nullopt);  // a directory
}

}  // namespace
