// The fixture of the program's shell tests: a program run on a fresh
// platform, with the settings file and the machine's driver list prepared
// from outside, and the menu, toolbar and settings file read back the way a
// person or another program would see them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/observer_list.h"
#include "program_fixture.h"
#include "resource.h"

namespace noctil::test {

// Which capture hardware the machine has.
enum class Camera {
    None,       // no capture driver installed: every capture step is a no-op
    Simulated,  // the platform's simulated camera (480-line video) at driver index 0
    Test240,    // a test driver of 320 x 240 video at driver index 0
};

// How long one readout stream may run on a camera: the driver's 2-second
// limit plus a frame or two. Without a camera the readout takes no time.
std::uint32_t readoutAllowanceMs(Camera camera);
const char *cameraName(Camera camera);
inline void PrintTo(Camera camera, std::ostream *os) { *os << cameraName(camera); }

struct IniEntry {
    std::string section, key, value;
    bool operator==(const IniEntry &) const = default;
};

// The eight keys a first exit writes, in file order (a function, so that
// other files' tables may copy it while they are set up).
const std::vector<IniEntry> &defaultSettings();
// The bytes of a settings file of `entries`: a section line before each new section.
std::string settingsText(const std::vector<IniEntry> &entries);

class AppTest : public ProgramTest {
public:
    using ProgramTest::display;
    using ProgramTest::runProgram;
    using ProgramTest::user;

    // The machine: which drivers are installed (written to system.ini).
    void installCamera(Camera camera);
    // Noctil.ini in the Windows directory, written byte for byte.
    void writeSettingsFile(const std::string &bytes);
    std::optional<std::string> settingsFileBytes() const;
    // The settings file's section/key/value lines in file order.
    std::vector<IniEntry> settingsEntries() const;

    // The program's windows, found by class as any program could.
    static HWND mainWindow();
    static HWND snapshotWindow();
    static HWND toolbar();

    // Menu item state by command (MF_GRAYED, MF_CHECKED ...); ~0u when absent.
    static UINT menuState(UINT command);
    static bool menuEnabled(UINT command) { return (menuState(command) & (MF_GRAYED | MF_DISABLED)) == 0; }
    static bool menuChecked(UINT command) { return (menuState(command) & MF_CHECKED) != 0; }
    // Toolbar button state (TBSTATE_*) by command; 0 when absent.
    static BYTE buttonState(int command);

    // A menu command as a click on it; fails the test when it was not posted.
    void choose(UINT command);
    // The program's exit through File > Exit.
    void exitProgram() { choose(IDM_EXIT); }
    // Chooses Stop `afterMs` after the `occurrence`-th port write of `value`
    // from now on, so that Stop lands in the same state of the cycle whatever
    // a readout takes; the program is ended `exitAfterMs` after that.
    void stopAfterWrite(std::uint8_t value, int occurrence, std::uint32_t afterMs, std::uint32_t exitAfterMs);
    bool stopChosen() const { return stopChosen_; }
    // Ends the program `afterMs` after the `occurrence`-th port write of
    // `value` from now on (for runs that stop by themselves).
    void exitAfterWrite(std::uint8_t value, int occurrence, std::uint32_t afterMs);

    // The dialogs open now, newest last.
    static std::vector<HWND> openDialogs();
    static std::string windowText(HWND window);

    ~AppTest() override;

private:
    // Runs `action` `afterMs` after the `occurrence`-th write of `value`.
    void afterWrite(std::uint8_t value, int occurrence, std::uint32_t afterMs, std::function<void()> action);
    std::vector<plat::Subscription> portListeners_;
    bool stopChosen_ = false;
};

}  // namespace noctil::test
