// The camera port layer of the Windows build, run under Wine: what each
// [parallel] section gives, which lines follow which value, and what the
// person is told when the DLL or the COM port cannot be had.
#include <windows.h>

#include <cstdio>
#include <string>

#include "camera_lines.h"
#include "camera_port.h"
#include "port_boxes.h"

using winport::PortSettings;

namespace {

int failures = 0;

void expect(bool ok, const std::string &context, const std::string &expected, const std::string &actual) {
    if (ok) return;
    ++failures;
    std::printf("FAIL %s\n  expected: %s\n  actual:   %s\n", context.c_str(), expected.c_str(), actual.c_str());
}

// "what N" (built with snprintf: GCC 12 warns falsely of overlapping copies
// when a literal is added to a temporary string at -O3).
std::string numbered(const char *what, int n) {
    char text[64];
    std::snprintf(text, sizeof text, "%s %d", what, n);
    return text;
}

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

std::string describe(const winport::SettingsOrFailure &r) {
    if (r.failure) return "failure: " + r.failure->what + ": " + r.failure->reason;
    const PortSettings &s = r.settings;
    char text[160];
    switch (s.kind) {
    case PortSettings::Kind::None: return "none";
    case PortSettings::Kind::Inpout: std::snprintf(text, sizeof text, "inpout 0x%04X", s.address); return text;
    case PortSettings::Kind::Serial:
        std::snprintf(text, sizeof text, "serial %s dtr=%d%s rts=%d%s", s.device.c_str(), s.lines.dtrBit,
                      s.lines.dtrInverted ? "~" : "", s.lines.rtsBit, s.lines.rtsInverted ? "~" : "");
        return text;
    }
    return "?";
}

// Each section is written to a file of its own and read back; "" is no file.
void checkSettings(const std::string &folder) {
    struct Case {
        const char *section;
        const char *expected;  // describe()'s text, or the start of it for a failure
    };
    const Case cases[] = {
        {"", "inpout 0x0378"},
        {"[other]\nbackend=serial\n", "inpout 0x0378"},
        {"[parallel]\nbackend=none\n", "none"},
        {"[parallel]\nbackend=inpout\naddress=0x278\n", "inpout 0x0278"},
        {"[parallel]\nbackend=InpOut\naddress=59392\n", "inpout 0xE800"},
        {"[parallel]\naddress=0xFFFD\n", "inpout 0xFFFD"},
        {"[parallel]\naddress=0xFFFE\n", "failure: @ [parallel]: address=0xFFFE is no I/O address"},
        {"[parallel]\naddress=0\n", "failure: @ [parallel]: address=0 is no I/O address"},
        {"[parallel]\naddress=0x37G\n", "failure: @ [parallel]: address=0x37G is no I/O address"},
        {"[parallel]\naddress=-1\n", "failure: @ [parallel]: address=-1 is no I/O address"},
        {"[parallel]\nbackend=serial\n", "serial COM1 dtr=1 rts=2"},
        {"[parallel]\nbackend=Serial\ndevice=COM12\ndtr=0\nrts=7\ndtr_inverted=1\n", "serial COM12 dtr=0~ rts=7"},
        {"[parallel]\nbackend=serial\nrts_inverted=1\n", "serial COM1 dtr=1 rts=2~"},
        {"[parallel]\nbackend=serial\ndtr=8\n",
         "failure: @ [parallel]: bad line setting dtr=8 (a data bit from 0 to 7)"},
        {"[parallel]\nbackend=serial\nrts=x\n",
         "failure: @ [parallel]: bad line setting rts=x (a data bit from 0 to 7)"},
        {"[parallel]\nbackend=serial\ndtr_inverted=2\n",
         "failure: @ [parallel]: bad line setting dtr_inverted=2 (0 or 1)"},
        {"[parallel]\nbackend=direct\n", "failure: @ [parallel]: unknown backend \"direct\" (inpout, serial or none)"},
    };
    int n = 0;
    for (const Case &c : cases) {
        const std::string file = folder + "\\port" + std::to_string(++n) + ".ini";
        DeleteFileA(file.c_str());
        if (*c.section != '\0') {
            FILE *f = std::fopen(file.c_str(), "wb");
            std::fputs(c.section, f);
            std::fclose(f);
        }
        std::string expected = c.expected;
        if (const auto at = expected.find('@'); at != std::string::npos) expected.replace(at, 1, file);
        const std::string actual = describe(winport::readPortSettings(file));
        const bool failure = expected.rfind("failure:", 0) == 0;
        expect(failure ? actual.rfind(expected, 0) == 0 : actual == expected, numbered("settings case", n), expected,
               actual);
        // Nothing unusable is ever carried out: a failure drives no port.
        winport::SettingsOrFailure r = winport::readPortSettings(file);
        if (r.failure)
            expect(r.settings.kind == PortSettings::Kind::None, numbered("settings case", n) + " kind", "none",
                   describe({r.settings, std::nullopt}));
    }
}

// The program's levels on DTR and RTS: default wiring, and inverted lines.
void checkLevels() {
    struct Case {
        winport::SerialLines lines;
        unsigned value;
        bool dtr, rts;
    };
    const winport::SerialLines plain{};
    const winport::SerialLines inverted{1, 2, true, true};
    const winport::SerialLines swapped{2, 1, false, false};
    const Case cases[] = {
        {plain, 0x00, false, false},
        {plain, 0x0B, true, false},
        {plain, 0x0F, true, true},
        {plain, 0x08, false, false},
        {plain, 0x09, false, false},
        {inverted, 0x00, true, true},
        {inverted, 0x0B, false, true},
        {inverted, 0x0F, false, false},
        {swapped, 0x0B, false, true},
        {swapped, 0x0F, true, true},
        {{7, 0, false, false}, 0x80, true, false},
    };
    int n = 0;
    for (const Case &c : cases) {
        const winport::LineLevels got = winport::levelsFor(c.lines, static_cast<std::uint8_t>(c.value));
        char expected[32], actual[32];
        std::snprintf(expected, sizeof expected, "dtr=%d rts=%d", c.dtr, c.rts);
        std::snprintf(actual, sizeof actual, "dtr=%d rts=%d", got.dtr, got.rts);
        expect(got == winport::LineLevels{c.dtr, c.rts}, numbered("levels case", ++n), expected, actual);
    }
}

// What the person reads for each way the DLL or the port cannot be had.
void checkFailureTexts() {
    struct Case {
        winport::PortFailure failure;
        const char *what, *reason, *remedy;
    };
    const char *dll = sizeof(void *) == 8 ? "inpoutx64.dll" : "inpout32.dll";
    const Case cases[] = {
        {winport::inpoutLoadFailure(ERROR_MOD_NOT_FOUND), dll, "not found", "https://www.highrez.co.uk/"},
        {winport::inpoutLoadFailure(ERROR_BAD_EXE_FORMAT), dll,
         sizeof(void *) == 8 ? "is not a 64-bit DLL" : "is not a 32-bit DLL", "InstallDriver.exe"},
        {winport::inpoutLoadFailure(ERROR_DLL_INIT_FAILED), dll, "cannot be loaded: ", "backend=none"},
        {winport::serialOpenFailure("COM3", ERROR_FILE_NOT_FOUND), "COM3", "no such port", "Device Manager"},
        {winport::serialOpenFailure("COM3", ERROR_ACCESS_DENIED), "COM3", "in use by another program",
         "Close the program"},
        {winport::serialOpenFailure("COM3", ERROR_SHARING_VIOLATION), "COM3", "in use by another program",
         "Close the program"},
        {winport::serialOpenFailure("COM3", ERROR_GEN_FAILURE), "COM3", "cannot be opened: ", "COM"},
    };
    int n = 0;
    for (const Case &c : cases) {
        const std::string context = numbered("failure text", ++n);
        expect(c.failure.what == c.what, context + " what", c.what, c.failure.what);
        expect(contains(c.failure.reason, c.reason), context + " reason", c.reason, c.failure.reason);
        expect(contains(c.failure.remedy, c.remedy), context + " remedy", c.remedy, c.failure.remedy);
    }
}

// Ports that are not there, or are no serial port, are found out at open.
void checkSerialOpen(const std::string &missing, const std::string &notSerial) {
    const auto none = winport::openSerialLines(missing, {});
    expect(none.lines == nullptr && none.failure && none.failure->reason == "no such port", "open " + missing,
           "no such port", none.failure ? none.failure->reason : "opened");
    const auto null = winport::openSerialLines(notSerial, {});
    expect(null.lines == nullptr && null.failure && contains(null.failure->reason, "not a serial port"),
           "open " + notSerial, "not a serial port", null.failure ? null.failure->reason : "opened");
}

// A port that the steps plug in and pull out, with what reached it, what
// was opened and what was told in one line: "open" and "open-fail" for
// each try to open, the value for each write the lines took, "x" and the
// value for one they refused, "told" and the count for each box.
struct PluggedPort {
    bool plugged = true;
    bool comesBack = true;  // what a failed open says of later tries
    std::string log;
    std::string lastTold;

    void note(const std::string &entry) { log += (log.empty() ? "" : " ") + entry; }
    static std::string hex(std::uint8_t value) {
        char text[4];
        std::snprintf(text, sizeof text, "%02X", value);
        return text;
    }
};

class PluggedLines final : public winport::CameraLines {
public:
    explicit PluggedLines(PluggedPort &port) : port_(port) {}
    std::optional<winport::PortFailure> write(std::uint8_t value) override {
        if (!port_.plugged) {
            port_.note("x" + PluggedPort::hex(value));
            return winport::PortFailure{"COM3", "its DTR and RTS lines cannot be set", "Check the adapter."};
        }
        port_.note(PluggedPort::hex(value));
        return std::nullopt;
    }

private:
    PluggedPort &port_;
};

// A lost port is told from outside the write, opened again at a later
// write with the rest level first; the same loss again is told only after
// an exposure went through whole, and a port that cannot come back is left.
void checkLoss() {
    struct Case {
        const char *name;
        bool comesBack;
        const char *steps;  // wNN: the program writes NN; cNN: to the control register; u: pulled out; p: plugged in
        const char *log;
        const char *lastTold;  // part of the last box's text ("" for no box)
    };
    // clang-format off
    const Case cases[] = {
        {"kept", true, "w00 w0B c0F w00", "open 00 0B 00", ""},
        {"lost in an exposure, back", true, "w00 w0B u w00 p w0B",
         "open 00 0B x00 told1 open 00 0B", "A device that comes back is used again, from the rest level on."},
        {"away at start, plugged later", true, "u w00 w0B p w0B",
         "open-fail told1 open-fail open 00 0B", "The camera port cannot be used.\n\nCOM3: no such port."},
        {"lost again, the exposure under way not carried", true, "w00 u w0B p w0B w00 u w0B",
         "open 00 x0B told1 open 00 0B 00 x0B", "The camera port cannot be used."},
        {"the same loss again, nothing carried", true, "w00 u w0B p w00 u w0B",
         "open 00 x0B told1 open 00 00 x0B", "The camera port cannot be used."},
        {"lost again after an exposure", true, "w00 u w0B p w00 w0B w00 u w0B",
         "open 00 x0B told1 open 00 00 0B 00 x0B told2", "Failures of the port since the program started: 2."},
        {"a port that cannot come back", false, "u w00 p w0B w00",
         "open-fail told1", "until the port works and Noctil is started again."},
    };
    // clang-format on
    for (const Case &c : cases) {
        PluggedPort world;
        world.comesBack = c.comesBack;
        auto open = [&world]() -> winport::OpenedLines {
            if (!world.plugged) {
                world.note("open-fail");
                return {nullptr, winport::PortFailure{"COM3", "no such port", "Plug it in."}, world.comesBack};
            }
            world.note("open");
            return {std::make_unique<PluggedLines>(world), std::nullopt};
        };
        winport::CameraPort port(open, [&world](const std::string &text) {
            world.lastTold = text;
            world.note("told" + std::to_string(text.find("failed again") == std::string::npos ? 1 : 2));
        });
        for (std::string steps = c.steps; !steps.empty();) {
            const std::string step = steps.substr(0, steps.find(' '));
            steps.erase(0, step.size() + 1);
            if (step == "u" || step == "p") {
                world.plugged = step == "p";
                continue;
            }
            const auto value = static_cast<std::uint8_t>(std::stoul(step.substr(1), nullptr, 16));
            port.write(step[0] == 'c' ? 0x37A : 0x378, value);
        }
        expect(world.log == c.log, std::string("loss: ") + c.name, c.log, world.log);
        const std::string told = c.lastTold;
        expect(*c.lastTold == '\0' ? world.lastTold.empty() : contains(world.lastTold, told),
               std::string("loss: ") + c.name + " told", c.lastTold, world.lastTold);
    }
}

// A box of the start is shown at once; one from the program's writes only
// once the thread's message loop hands out its messages, each once, in order.
void checkBoxes() {
    struct Case {
        const char *name;
        bool programRuns;
        const char *texts;        // told one after another, separated by '|'
        const char *shownAtOnce;  // shown before the loop ran, joined by '|'
        const char *shownByLoop;  // shown once the loop ran
    };
    // clang-format off
    const Case cases[] = {
        {"at start", false, "a", "a", "a"},
        {"from a write", true, "a", "", "a"},
        {"two from writes", true, "a|b", "", "a|b"},
    };
    // clang-format on
    for (const Case &c : cases) {
        std::string shown;
        winport::PortBoxes boxes([&shown](const std::string &text) { shown += (shown.empty() ? "" : "|") + text; });
        if (c.programRuns) boxes.programRuns();
        for (std::string texts = c.texts; !texts.empty();) {
            const std::string text = texts.substr(0, texts.find('|'));
            texts.erase(0, text.size() + 1);
            boxes.tell(text);
        }
        expect(shown == c.shownAtOnce, std::string("boxes: ") + c.name + ", at once", c.shownAtOnce, shown);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        expect(shown == c.shownByLoop, std::string("boxes: ") + c.name + ", by the loop", c.shownByLoop, shown);
    }
}

}  // namespace

// port_test FOLDER MISSING_COM NOT_SERIAL_COM
int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: port_test FOLDER MISSING_COM NOT_SERIAL_COM\n");
        return 2;
    }
    checkSettings(argv[1]);
    checkLevels();
    checkFailureTexts();
    checkSerialOpen(argv[2], argv[3]);
    checkLoss();
    checkBoxes();
    std::printf("%s: %d failures\n", argv[0], failures);
    return failures == 0 ? 0 : 1;
}
