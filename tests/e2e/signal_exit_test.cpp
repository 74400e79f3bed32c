// Signals that end the program: SIGTERM, SIGINT and SIGHUP end it as
// File > Exit does, whether they come during an exposure or in the middle of
// a readout; the crash signals rest the port and die by the same signal.
#include <unistd.h>

#include <sys/types.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "avi_test_support.h"
#include "core/signals.h"
#include "e2e_fixture.h"
#include "files/paths.h"
#include "imagelog/log_format.h"
#include "port/parallel_port.h"
#include "port/signal_rest.h"
#include "port_timeline.h"

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
    plat::Subscription listener = port.subscribe([&](const plat::PortWrite &w) {
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
    listener.reset();

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

INSTANTIATE_TEST_SUITE_P(EveryEndSignal, SignalExitTest,
                         ::testing::Values(EndCase{SIGTERM, Phase::Exposure, "SIGTERM_during_exposure"},
                                           EndCase{SIGTERM, Phase::Readout, "SIGTERM_during_readout"},
                                           EndCase{SIGINT, Phase::Exposure, "SIGINT_during_exposure"},
                                           EndCase{SIGINT, Phase::Readout, "SIGINT_during_readout"},
                                           EndCase{SIGHUP, Phase::Exposure, "SIGHUP_during_exposure"},
                                           EndCase{SIGHUP, Phase::Readout, "SIGHUP_during_readout"},
                                           EndCase{SIGUSR1, Phase::Exposure, "SIGUSR1_during_exposure"},
                                           EndCase{SIGALRM, Phase::Readout, "SIGALRM_during_readout"}),
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

// Every other signal whose default is to end the process, and that only a
// person or another program sends, asks the program to end as Exit does.
TEST(SignalHandlers, EverySignalThatWouldEndTheProcessAsksToEnd) {
    for (int signal : {SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGIO, SIGPWR, SIGSTKFLT, SIGXCPU, SIGRTMIN,
                       SIGRTMIN + 1, SIGRTMAX}) {
        SCOPED_TRACE(signal);
        plat::SignalHandlers handlers;
        std::raise(signal);
        EXPECT_EQ(plat::terminationSignal(), signal);
    }
}

// A closed pipe or the file size limit makes the write fail instead, which
// the program reports; the process goes on.
TEST(SignalHandlersDeathTest, BrokenPipesAndTheFileSizeLimitAreIgnored) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            plat::SignalHandlers handlers;
            std::raise(SIGPIPE);
            std::raise(SIGXFSZ);
            std::fprintf(stderr, "still running, asked to end by %d\n", plat::terminationSignal());
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "still running, asked to end by 0");
}

// Ctrl+Z rests the port before the process stops (here no port is open, and
// it says so), and the process goes on after SIGCONT. It runs in a process
// group of its own under its parent, in the same session, as a job of a
// terminal's shell does: the system discards stop signals sent to a group
// that no parent in the session watches. The parent sees it stopped by
// SIGTSTP, continues it and sees it end of its own accord.
TEST(SignalHandlersDeathTest, AStopSignalStopsAfterRestingThePortAndGoesOnAfterSigcont) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const pid_t job = ::fork();
            if (job == 0) {
                ::setpgid(0, 0);
                plat::SignalHandlers handlers;
                std::raise(SIGTSTP);
                std::fprintf(stderr, "continued\n");
                std::_Exit(7);
            }
            ::setpgid(job, job);
            int status = 0;
            if (::waitpid(job, &status, WUNTRACED) != job || !WIFSTOPPED(status) || WSTOPSIG(status) != SIGTSTP) {
                std::fprintf(stderr, "the job did not stop\n");
                std::exit(1);
            }
            std::fprintf(stderr, "stopped by SIGTSTP\n");
            ::kill(job, SIGCONT);
            if (::waitpid(job, &status, 0) != job || !WIFEXITED(status) || WEXITSTATUS(status) != 7) std::exit(2);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0),
        "noctil: stopped: no camera port was open\n(.|\n)*stopped by SIGTSTP\n(.|\n)*continued");
}

// After a stop whose handler rested the port, the port's log shows the rest
// from when it was written and the program's level again from when the
// process went on; the image log counts the image's exposure from then.
TEST_F(EndToEndTest, AfterAStopTheLogsShowWhatThePortHeld) {
    installWatchedCamera();
    writeSettingsFile("[Filenames]\r\nImageFile=C:\\night.avi\r\n[Capture]\r\nExposure=2000\r\nCount=1\r\n");
    const std::size_t from = noctil::test::cameraPortWrites().size();
    user().at(500, [&] { choose(IDM_RECORD); });
    // What the stop handler leaves behind when the process goes on at once.
    user().at(1500, [&] { plat::notePortRestedByStop(0); });
    user().at(8000, [&] { exitProgram(); });
    ASSERT_EQ(runProgram(), 0);
    std::vector<std::pair<std::uint32_t, int>> writes;
    const auto all = noctil::test::cameraPortWrites();
    // From Record on: the start's rest levels come before it.
    for (std::size_t i = from; i < all.size() && writes.size() < 4; ++i)
        if (plat::toMillis(all[i].time) >= 500) writes.push_back({plat::toMillis(all[i].time), all[i].value});
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[0], (std::pair<std::uint32_t, int>{500, 0x0B}));
    EXPECT_EQ(writes[1], (std::pair<std::uint32_t, int>{1500, 0x00})) << "the rest, when it was written";
    EXPECT_EQ(writes[2], (std::pair<std::uint32_t, int>{1500, 0x0B})) << "the program's level again";
    EXPECT_EQ(writes[3].second, 0x09) << "the readout, when the exposure time was up";
    std::ifstream log(plat::nativePath("C:\\night.log"));
    std::string header, line;
    ASSERT_TRUE(std::getline(log, header) && std::getline(log, line));
    const auto parsed = plat::imagelog::parseLine(line);
    ASSERT_TRUE(parsed && parsed->exposeStart && parsed->exposeEnd) << line;
    EXPECT_EQ(*parsed->exposeEnd - *parsed->exposeStart, plat::Micros{1'000'000}) << "integrating since the stop ended";
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
    for (int signal : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGQUIT, SIGTRAP, SIGSYS}) {
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
