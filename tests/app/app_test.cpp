#include "app_test.h"

#include <commctrl.h>

#include <fstream>
#include <memory>
#include <iterator>
#include <sstream>

#include "test_drivers.h"
#include "core/session.h"
#include "files/paths.h"
#include "port/parallel_port.h"
#include "user/dialog_system.h"
#include "user/window_system.h"

namespace noctil::test {

std::uint32_t readoutAllowanceMs(Camera camera) { return camera == Camera::None ? 0 : 2100; }

const char *cameraName(Camera camera) {
    switch (camera) {
    case Camera::None: return "NoCamera";
    case Camera::Simulated: return "SimulatedCamera";
    case Camera::Test240: return "TestCamera240";
    }
    return "?";
}

void AppTest::installCamera(Camera camera) {
    std::ofstream out(plat::windowsDirectory() / "system.ini", std::ios::binary);
    switch (camera) {
    case Camera::None: out << "[drivers32]\r\nmsvideo=\r\n"; break;  // listed, but no driver at any index
    case Camera::Simulated: out << "[drivers32]\r\nmsvideo=simcam\r\n"; break;
    case Camera::Test240:
        plat::avicap::registerTestDriver("testcam240", plat::avicap::TestDriverPlan{});
        out << "[drivers32]\r\nmsvideo=testcam240\r\n";
        break;
    }
}

void AppTest::writeSettingsFile(const std::string &bytes) {
    std::ofstream out(plat::windowsDirectory() / "Noctil.ini", std::ios::binary);
    out << bytes;
}

std::optional<std::string> AppTest::settingsFileBytes() const {
    std::ifstream in(plat::windowsDirectory() / "Noctil.ini", std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::vector<IniEntry> &defaultSettings() {
    static const std::vector<IniEntry> entries = {
        {"Filenames", "ImageFile", "C:\\Images.AVI"},
        {"Flags", "AutoIncrement", "0"},
        {"Flags", "AmpOff", "0"},
        {"Capture", "Exposure", "2000"},
        {"Capture", "Delay", "0"},
        {"Capture", "Count", "0"},
        {"Driver", "Name", "<none>"},
        {"Driver", "PreviewMode", "0"},
    };
    return entries;
}

std::string settingsText(const std::vector<IniEntry> &entries) {
    std::string text, section;
    for (const IniEntry &e : entries) {
        if (e.section != section) text += "[" + (section = e.section) + "]\r\n";
        text += e.key + "=" + e.value + "\r\n";
    }
    return text;
}

std::vector<IniEntry> AppTest::settingsEntries() const {
    std::vector<IniEntry> entries;
    std::istringstream in(settingsFileBytes().value_or(""));
    std::string line, section;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos) entries.push_back({section, line.substr(0, eq), line.substr(eq + 1)});
    }
    return entries;
}

HWND AppTest::mainWindow() { return FindWindowA("NoctilWndClass", nullptr); }
HWND AppTest::snapshotWindow() { return FindWindowA("NoctilSnapshotClass", nullptr); }
HWND AppTest::toolbar() { return plat::user::childById(mainWindow(), IDC_TOOLBAR); }

UINT AppTest::menuState(UINT command) { return GetMenuState(GetMenu(mainWindow()), command, MF_BYCOMMAND); }

BYTE AppTest::buttonState(int command) {
    for (const plat::user::ToolbarButtonView &b : plat::user::toolbarButtons(toolbar()))
        if (b.command == command) return b.state;
    return 0;
}

void AppTest::choose(UINT command) {
    EXPECT_TRUE(user().clickMenu(mainWindow(), command)) << "menu command " << command << " at " << nowMs() << " ms";
}

void AppTest::afterWrite(std::uint8_t value, int occurrence, std::uint32_t afterMs, std::function<void()> action) {
    plat::ParallelPort &port = plat::session().component<plat::ParallelPort>();
    auto seen = std::make_shared<int>(0);
    portListeners_.push_back(port.subscribe([=, this](const plat::PortWrite &w) {
        if (w.value != value || ++*seen != occurrence) return;
        user().after(afterMs, action);
    }));
}

void AppTest::stopAfterWrite(std::uint8_t value, int occurrence, std::uint32_t afterMs, std::uint32_t exitAfterMs) {
    afterWrite(value, occurrence, afterMs, [=, this] {
        stopChosen_ = true;
        choose(IDM_STOP);
        user().after(exitAfterMs, [this] { exitProgram(); });
    });
}

void AppTest::exitAfterWrite(std::uint8_t value, int occurrence, std::uint32_t afterMs) {
    afterWrite(value, occurrence, afterMs, [this] { exitProgram(); });
}

AppTest::~AppTest() = default;

std::vector<HWND> AppTest::openDialogs() { return plat::user::openDialogs(); }

std::string AppTest::windowText(HWND window) {
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

}  // namespace noctil::test
