// Noctil.ini: read once at start, written once after a normal exit.
#include <fstream>

#include "app_test.h"
#include "files/paths.h"
#include "port_timeline.h"
#include "resources/resources.h"

namespace noctil::test {
namespace {

using SettingsTest = AppTest;

const std::vector<IniEntry> kDefaults = {
    {"Filenames", "ImageFile", "C:\\Images.AVI"},
    {"Flags", "AutoIncrement", "0"},
    {"Flags", "AmpOff", "0"},
    {"Capture", "Exposure", "2000"},
    {"Capture", "Delay", "0"},
    {"Capture", "Count", "0"},
    {"Driver", "Name", "<none>"},
    {"Driver", "PreviewMode", "0"},
};

std::string valueOf(const std::vector<IniEntry> &entries, const std::string &section, const std::string &key) {
    for (const IniEntry &e : entries)
        if (e.section == section && e.key == key) return e.value;
    return "(missing)";
}

// Without a file the program runs on the defaults, and the first normal exit
// writes all eight keys in four sections, in order.
TEST_F(SettingsTest, FirstExitWritesTheDefaultsInOrder) {
    installCamera(Camera::None);  // no driver connects, so the driver name stays
    ASSERT_FALSE(settingsFileBytes().has_value());
    user().at(0, [&] {
        EXPECT_FALSE(settingsFileBytes().has_value()) << "nothing is written while the program runs";
        exitProgram();
    });
    EXPECT_EQ(runProgram(), 0);
    EXPECT_EQ(settingsEntries(), kDefaults);
    const std::string text = settingsFileBytes().value_or("");
    const std::size_t filenames = text.find("[Filenames]"), flags = text.find("[Flags]"),
                      capture = text.find("[Capture]"), driver = text.find("[Driver]");
    ASSERT_NE(driver, std::string::npos);
    EXPECT_LT(filenames, flags);
    EXPECT_LT(flags, capture);
    EXPECT_LT(capture, driver);
}

// Whatever numbers the file holds are taken and written back as they were,
// negative ones with their sign; a numbered output name survives a restart.
TEST_F(SettingsTest, HandEditedValuesAreTakenUnvalidated) {
    installCamera(Camera::None);
    const std::vector<IniEntry> edited = {
        {"Filenames", "ImageFile", "C:\\Images_002.AVI"},
        {"Flags", "AutoIncrement", "2"},
        {"Flags", "AmpOff", "2"},
        {"Capture", "Exposure", "-7"},
        {"Capture", "Delay", "123"},
        {"Capture", "Count", "-1"},
        {"Driver", "Name", "A driver that is not installed"},
        {"Driver", "PreviewMode", "7"},
    };
    std::string text, section;
    for (const IniEntry &e : edited) {
        if (e.section != section) text += "[" + (section = e.section) + "]\r\n";
        text += e.key + "=" + e.value + "\r\n";
    }
    writeSettingsFile(text);
    user().at(0, [&] { exitProgram(); });
    EXPECT_EQ(runProgram(), 0);
    EXPECT_EQ(settingsEntries(), edited);
}

// How a run of the program can end without the normal exit, and what then
// happens to a settings file that existed before.
struct AbnormalEnd {
    const char *name;
    void (*arrange)(AppTest &);
};

// A class of that name that refuses to be created stands in for a main
// window that cannot be made.
LRESULT CALLBACK RefusingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) return -1;
    return DefWindowProcA(window, message, wParam, lParam);
}

struct Aborted {};

const AbnormalEnd kAbnormalEnds[] = {
    {"MainWindowCannotBeCreated",
     [](AppTest &) {
         WNDCLASSEXA wc = {};
         wc.cbSize = sizeof wc;
         wc.lpfnWndProc = RefusingProc;
         wc.lpszClassName = "NoctilWndClass";
         ASSERT_NE(RegisterClassExA(&wc), 0);
     }},
    // The loop finds nothing left to wait for in the middle of a run.
    {"HangDuringARun",
     [](AppTest &t) {
         t.user().at(1000, [&t] { t.choose(IDM_RECORD); });
         t.display().setTimeLimit(plat::Micros{20000} * 1000);
     }},
    // Ended from outside while a setting had been changed.
    {"EndedFromOutside",
     [](AppTest &t) {
         t.user().at(1000, [&t] { t.choose(IDM_AUTOINCREMENT); });
         t.user().at(2000, [] { throw Aborted{}; });
     }},
};

void PrintTo(const AbnormalEnd &end, std::ostream *os) { *os << end.name; }

class AbnormalEndTest : public AppTest, public ::testing::WithParamInterface<AbnormalEnd> {};

TEST_P(AbnormalEndTest, LeavesTheSettingsFileAsItWas) {
    installCamera(Camera::Simulated);
    const std::string before = "; kept by hand\r\n[Capture]\r\nExposure=4321\r\n";
    writeSettingsFile(before);
    GetParam().arrange(*this);
    static char commandLine[] = "";
    int result = -1;
    bool ended = false;
    try {
        result = WinMain(plat::res::moduleInstance(), nullptr, commandLine, SW_SHOWNORMAL);
        ended = true;
    } catch (const plat::Hang &) {
    } catch (const Aborted &) {}
    if (std::string(GetParam().name) == "MainWindowCannotBeCreated") {
        EXPECT_TRUE(ended);
        EXPECT_EQ(result, 0);
    } else {
        EXPECT_FALSE(ended);
    }
    EXPECT_EQ(settingsFileBytes().value_or("(no file)"), before);
}

INSTANTIATE_TEST_SUITE_P(Ends, AbnormalEndTest, ::testing::ValuesIn(kAbnormalEnds),
                         [](const auto &info) { return std::string(info.param.name); });

// Damaged files load what can be read and defaults for the rest, and the
// program runs and saves normally.
struct DamagedFile {
    const char *name;
    std::string bytes;
    std::vector<IniEntry> expected;  // entries that must be saved with these values
};

std::string binaryBlob() {
    std::string blob;
    for (int i = 0; i < 4096; i++) blob += static_cast<char>((i * 151 + 7) & 0xFF);
    return blob;
}

const DamagedFile kDamagedFiles[] = {
    {"BinaryBlob", binaryBlob(), kDefaults},
    {"NotAnIniFile", "this is not\nan ini file\n=\n[[[\n]]]\n=2000\n", kDefaults},
    {"Empty", "", kDefaults},
    {"OnlyOneSection",
     "[Capture]\nExposure=5000\n",
     {{"Filenames", "ImageFile", "C:\\Images.AVI"}, {"Capture", "Exposure", "5000"}, {"Capture", "Count", "0"}}},
    {"OverlongImageFile",
     "[Filenames]\nImageFile=C:\\" + std::string(5000, 'a') + "\n[Capture]\nDelay=9\n",
     {{"Filenames", "ImageFile", "C:\\" + std::string(256, 'a')}, {"Capture", "Delay", "9"}}},
    {"OverlongDriverName",
     "[Driver]\nName=" + std::string(500, 'b') + "\nPreviewMode=1\n",
     {{"Driver", "Name", std::string(99, 'b')}, {"Driver", "PreviewMode", "1"}}},
    {"OverlongLineBeforeTheKeys",
     std::string(100000, 'x') + "\n[Flags]\nAmpOff=1\n",
     {{"Flags", "AmpOff", "1"}, {"Capture", "Exposure", "2000"}}},
};

void PrintTo(const DamagedFile &file, std::ostream *os) { *os << file.name; }

class DamagedFileTest : public AppTest, public ::testing::WithParamInterface<DamagedFile> {};

TEST_P(DamagedFileTest, LoadsWhatItCanAndSavesNormally) {
    installCamera(Camera::None);
    writeSettingsFile(GetParam().bytes);
    user().at(0, [&] { exitProgram(); });
    EXPECT_EQ(runProgram(), 0);
    const std::vector<IniEntry> saved = settingsEntries();
    for (const IniEntry &e : GetParam().expected)
        EXPECT_EQ(valueOf(saved, e.section, e.key), e.value) << e.section << "/" << e.key;
}

INSTANTIATE_TEST_SUITE_P(Files, DamagedFileTest, ::testing::ValuesIn(kDamagedFiles),
                         [](const auto &info) { return std::string(info.param.name); });

// A Windows directory that cannot take the settings file: the run goes on
// as on any other (where the settings go then, file_places_test.cpp).
struct UnwritablePlace {
    const char *name;
    void (*arrange)();
};

const UnwritablePlace kUnwritablePlaces[] = {
    {"SettingsFileIsADirectory", [] { std::filesystem::create_directories(plat::windowsDirectory() / "Noctil.ini"); }},
    {"WindowsDirectoryIsAFile",
     [] {
         const std::filesystem::path dir = plat::windowsDirectory();
         std::filesystem::remove_all(dir);
         std::ofstream(dir) << "not a directory";
     }},
};

void PrintTo(const UnwritablePlace &place, std::ostream *os) { *os << place.name; }

class UnwritableSettingsTest : public AppTest, public ::testing::WithParamInterface<UnwritablePlace> {};

TEST_P(UnwritableSettingsTest, RunsOnDefaultsAndExitsNormally) {
    GetParam().arrange();
    std::size_t from = 0;
    user().at(1000, [&] {
        from = cameraPortWrites().size();
        stopAfterWrite(0x0B, 1, 500, 100);
        choose(IDM_RECORD);  // on the simulated camera, the default when nothing is configured
    });
    EXPECT_EQ(runProgram(), 0);
    // Exposure 2000 with the amplifier on: the defaults are in force.
    const ExpectedPortWrite expected[] = {{0x0B, 0}, {0x00, 500}, {0x00, 100}};
    EXPECT_TRUE(portTimelineMatches(expected, from, 1000, 0));
}

INSTANTIATE_TEST_SUITE_P(Places, UnwritableSettingsTest, ::testing::ValuesIn(kUnwritablePlaces),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace noctil::test
