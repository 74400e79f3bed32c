// Signals that end the program: SIGTERM, SIGINT and SIGHUP end it as
// File > Exit does, whether they come during an exposure or in the middle of
// a readout; the crash signals rest the port and die by the same signal.
#include <unistd.h>

#include <csignal>
#include <string>

#include "avi_test_support.h"
#include "core/signals.h"
#include "e2e_fixture.h"
#include "files/paths.h"
#include "port/parallel_port.h"
#include "port/signal_rest.h"

namespace noctil::e2e {
namespace {

enum class Phase { Exposure, Readout };

struct EndCase {
    int signal;
    Phase phase;
    const char *name;
};

class SignalExitTest : public EndToEndTest, public ::testing::WithParamInterface<EndCase> {};

// The second image is cut short by the signal: during its exposure (1 s
// after it began) or at its first readout level, inside the readout stream.
TEST_P(SignalExitTest, EndsAsExitDoes) {
    const EndCase c = GetParam();
    installWatchedCamera();
    writeSettingsFile("[Filenames]\r\nImageFile=C:\\night.avi\r\n[Capture]\r\nExposure=2000\r\nCount=5\r\n");
    plat::SignalHandlers handlers;
    user().at(500, [&] { choose(IDM_RECORD); });
    std::uint8_t levelAtSignal = 0xFF;
    auto &port = plat::session().component<plat::ParallelPort>();
    int exposures = 0, readouts = 0;
    const int listener = port.subscribe([&](const plat::PortWrite &w) {
        if (w.value == 0x0B && ++exposures == 2 && c.phase == Phase::Exposure)
            user().after(1000, [&] {
                levelAtSignal = portLevel();
                std::raise(c.signal);
            });
        if (w.value == 0x09 && ++readouts == 2 && c.phase == Phase::Readout) {
            levelAtSignal = w.value;
            std::raise(c.signal);  // handled at once, inside the readout
        }
    });
    setTimeLimitMs(60000);
    const int exitCode = runProgram();
    port.unsubscribe(listener);

    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(plat::terminationSignal(), c.signal);
    EXPECT_EQ(levelAtSignal, c.phase == Phase::Exposure ? 0x0B : 0x09);
    EXPECT_EQ(portLevel(), 0x00);
    EXPECT_EQ(port.writes().back().value, 0x00);
    // The readout in progress still ends with its image; an exposure cut
    // short gives none.
    const int images = c.phase == Phase::Exposure ? 1 : 2;
    EXPECT_EQ(titles.size(), static_cast<std::size_t>(images));
    const avitest::Probe probe = avitest::ffprobe(plat::nativePath("C:\\night.avi"));
    EXPECT_EQ(probe.frames, images);
    EXPECT_EQ(probe.messages, "");
    // The settings were saved at the end: every key is written back.
    const auto entries = settingsEntries();
    EXPECT_NE(std::find(entries.begin(), entries.end(), noctil::test::IniEntry{"Driver", "PreviewMode", "0"}),
              entries.end());
}

INSTANTIATE_TEST_SUITE_P(
    EveryEndSignal, SignalExitTest,
    ::testing::Values(EndCase{SIGTERM, Phase::Exposure, "SIGTERM_during_exposure"},
                      EndCase{SIGTERM, Phase::Readout, "SIGTERM_during_readout"},
                      EndCase{SIGINT, Phase::Exposure, "SIGINT_during_exposure"},
                      EndCase{SIGINT, Phase::Readout, "SIGINT_during_readout"},
                      EndCase{SIGHUP, Phase::Exposure, "SIGHUP_during_exposure"},
                      EndCase{SIGHUP, Phase::Readout, "SIGHUP_during_readout"}),
    [](const ::testing::TestParamInfo<EndCase> &info) { return std::string(info.param.name); });

// A signal before the main window exists still ends the run as soon as the
// loop turns: there is no window, so the loop simply ends.
TEST_F(EndToEndTest, ASignalWithNoWindowEndsTheLoop) {
    plat::SignalHandlers handlers;
    std::raise(SIGTERM);
    MSG msg;
    EXPECT_FALSE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
}

// The handlers leave the process as they found it.
TEST(SignalHandlers, PutTheEarlierHandlersBack) {
    struct sigaction before {};
    sigaction(SIGTERM, nullptr, &before);
    {
        plat::SignalHandlers handlers;
        struct sigaction during {};
        sigaction(SIGTERM, nullptr, &during);
        EXPECT_NE(during.sa_handler, before.sa_handler);
    }
    struct sigaction after {};
    sigaction(SIGTERM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
    EXPECT_EQ(plat::terminationSignal(), 0);
}

// A crash signal rests the port with the call its backend prepared (with no
// port open it says so; the virtual machine's cases see a real port rested)
// and dies by that signal.
TEST(SignalHandlersDeathTest, CrashSignalsDieByTheirSignal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (int signal : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGQUIT}) {
        SCOPED_TRACE(signal);
        EXPECT_EXIT(
            {
                plat::SignalHandlers handlers;
                std::raise(signal);
            },
            ::testing::KilledBySignal(signal), "noctil: .*: no camera port was open");
    }
}

// A second end signal while the first is still being answered ends the
// process at once, by that signal.
TEST(SignalHandlersDeathTest, ASecondEndSignalEndsAtOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            plat::SignalHandlers handlers;
            std::raise(SIGINT);
            std::raise(SIGINT);
        },
        ::testing::KilledBySignal(SIGINT), "asked again to end");
}

}  // namespace
}  // namespace noctil::e2e
