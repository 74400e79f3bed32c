// The status line's text: its phrases from given facts, and the facts the
// platform gathers while the real program records on the virtual clock.
#include "display/status_line.h"

#include <vfw.h>

#include <string>

#include "alloc_counter.h"
#include "app_test.h"
#include "port/parallel_port.h"
#include "status_run.h"
#include "user/window_system.h"

namespace noctil::test {
namespace {

using plat::status::Facts;
using plat::status::OutputFacts;
using plat::status::PortFacts;

constexpr plat::Micros kSecond = 1'000'000;
constexpr std::uint64_t kImage = 921'632;  // a 640 x 480 image with its chunk header and index entries

OutputFacts output(std::uint32_t frames, std::optional<std::uint32_t> limit, std::optional<std::uint64_t> free,
                   bool open = true, std::uint32_t withoutImage = 0, const char *why = "") {
    OutputFacts o;
    o.name = "C:\\night.avi";
    o.frames = frames;
    o.open = open;
    o.limit = limit;
    o.freeBytes = free;
    o.frameBytes = kImage;
    o.withoutImage = withoutImage;
    o.noImageReason = why;
    return o;
}

OutputFacts withLog(OutputFacts o, std::uint32_t waiting, std::optional<plat::UtcMicros> caughtUp,
                    std::uint32_t kept = 0) {
    o.logLinesWaiting = waiting;
    o.logCaughtUp = caughtUp;
    o.logLinesKept = kept;
    return o;
}

OutputFacts suspendedIn(OutputFacts o, std::uint32_t images) {
    o.suspendedImages = images;
    return o;
}

struct ComposeCase {
    const char *name;
    Facts facts;
    const char *text;
    bool warning;
};

const ComposeCase kComposeCases[] = {
    {"NothingWrittenYet", {}, "at rest", false},
    {"AmplifierOff",
     {20 * kSecond, PortFacts{0x0F, 7'600'000, ""}, 23 * kSecond, std::nullopt},
     "integrating, amplifier off - 12.4 s  |  amplifier on in 3.0 s",
     false},
    {"AmplifierOn",
     {20 * kSecond, PortFacts{0x0B, 19 * kSecond, ""}, 20 * kSecond, std::nullopt},
     "integrating, amplifier on - 1.0 s  |  readout due now",
     false},
    // The level asked for is not what the camera does while the port is lost.
    {"PortLostWhileIntegrating",
     {20 * kSecond, PortFacts{0x0B, 19 * kSecond, "the camera port is gone: /dev/ttyUSB0: no such device"},
      20 * kSecond, std::nullopt},
     "camera not controlled (the camera port is gone: /dev/ttyUSB0: no such device)  |  readout due now",
     true},
    {"ReadingOut480",
     {20 * kSecond, PortFacts{0x09, 20 * kSecond, ""}, std::nullopt, std::nullopt},
     "reading out",
     false},
    {"ReadingOut", {20 * kSecond, PortFacts{0x08, 19 * kSecond, ""}, std::nullopt, std::nullopt}, "reading out", false},
    {"DelayAfterFirstImage",
     {20 * kSecond, PortFacts{0x00, 18 * kSecond, ""}, 25 * kSecond, output(1, 10, 50 * kImage)},
     "at rest  |  next exposure in 5.0 s  |  1 of 10 images written to C:\\night.avi  |  "
     "43.9 MB free, room for 50 images",
     false},
    {"NoLimitYet",
     {20 * kSecond, PortFacts{0x0B, 0, ""}, std::nullopt, output(0, std::nullopt, 3 * kImage)},
     "integrating, amplifier on - 20.0 s  |  recording to C:\\night.avi, no image yet  |  2.6 MB free, room for 3 "
     "images",
     false},
    {"RoomForExactlyTheRest",
     {0, std::nullopt, std::nullopt, output(3, 10, 7 * kImage)},
     "at rest  |  3 of 10 images written to C:\\night.avi  |  6.2 MB free, room for 7 images",
     false},
    {"OneImageShort",
     {0, std::nullopt, std::nullopt, output(3, 10, 7 * kImage - 1)},
     "at rest  |  3 of 10 images written to C:\\night.avi  |  "
     "WARNING: 6.2 MB free, room for 6 of the 7 images still to come",
     true},
    {"DriveFull",
     {0, std::nullopt, std::nullopt, output(1, std::nullopt, 100)},
     "at rest  |  1 image written to C:\\night.avi  |  1 KB free, room for 0 images",
     false},
    {"RunEnded",
     {0, PortFacts{0x00, 0, ""}, std::nullopt, output(12, std::nullopt, 0, false)},
     "at rest  |  12 images written to C:\\night.avi",
     false},
    {"ReadoutsWithoutAnImage",
     {0, PortFacts{0x00, 0, ""}, std::nullopt, output(2, 10, 50 * kImage, true, 3, "no frame from the device in 2 s")},
     "at rest  |  2 of 10 images written to C:\\night.avi, 3 readouts without an image: no frame from the device in "
     "2 s  |  43.9 MB free, room for 50 images",
     true},
    {"OneReadoutWithoutAnImageAfterTheRun",
     {0, PortFacts{0x00, 0, ""}, std::nullopt, output(0, std::nullopt, 0, false, 1, "the device is gone")},
     "at rest  |  0 images written to C:\\night.avi, 1 readout without an image: the device is gone",
     true},
    {"AReasonThatNoLongerHoldsIsCleared",
     {0, PortFacts{0x00, 0, ""}, std::nullopt, output(2, 3, std::nullopt, true, 1, "")},
     "at rest  |  2 of 3 images written to C:\\night.avi, 1 readout without an image",
     true},
    {"PausedDuringAnExposure",
     {20 * kSecond, PortFacts{0x0B, 19 * kSecond, ""}, 21 * kSecond, output(0, std::nullopt, std::nullopt), true},
     "integrating, amplifier on - 1.0 s  |  readout in 1.0 s  |  paused: images are shown, not written  |  "
     "recording to C:\\night.avi, no image yet",
     false},
    {"ImageLogBehind",
     {0, std::nullopt, std::nullopt, withLog(output(4, std::nullopt, std::nullopt), 2, std::nullopt)},
     "at rest  |  4 images written to C:\\night.avi  |  image log behind: 2 lines waiting for room on the disk",
     true},
    {"ImageLogCaughtUp",
     {0, std::nullopt, std::nullopt,
      withLog(output(5, std::nullopt, std::nullopt), 0,
              plat::kVirtualClockUtcOrigin + (3 * 3600 + 25 * 60 + 7) * kSecond)},
     "at rest  |  5 images written to C:\\night.avi  |  image log caught up at 03:25:07 UTC",
     false},
    {"ImageLogLinesKeptBesideIt",
     {0, std::nullopt, std::nullopt, withLog(output(5, std::nullopt, std::nullopt, false), 0, std::nullopt, 2)},
     "at rest  |  5 images written to C:\\night.avi  |  image log: 2 lines kept in the .waiting file beside it",
     true},
    {"ImageLogLineStillWaitingAfterTheRun",
     {0, std::nullopt, std::nullopt, withLog(output(5, std::nullopt, std::nullopt, false), 1, std::nullopt, 0)},
     "at rest  |  5 images written to C:\\night.avi  |  image log behind: 1 line waiting for room on the disk",
     true},
    {"ImagesExposedThroughASuspend",
     {0, std::nullopt, std::nullopt, suspendedIn(output(5, std::nullopt, std::nullopt), 2)},
     "at rest  |  5 images written to C:\\night.avi, 2 images exposed through a system suspend",
     true},
    {"UnknownLevel",
     {90 * kSecond, PortFacts{0x42, 0, ""}, std::nullopt, std::nullopt},
     "port lines at 0x42 - 1 min 30 s",
     false},
};

TEST(StatusLineText, PhrasesFollowTheFacts) {
    for (const ComposeCase &c : kComposeCases) {
        const plat::status::Line line = plat::status::compose(c.facts);
        EXPECT_EQ(line.text, c.text) << c.name;
        EXPECT_EQ(line.warning, c.warning) << c.name;
    }
}

// One line kept and composed again, as the display refreshes it several
// times a second: each text is whole and fresh, and once the line has held
// the longest of them, composing takes no heap block.
TEST(StatusLineText, AKeptLineIsComposedAfreshWithoutAllocation) {
    plat::status::Line line;
    for (const ComposeCase &c : kComposeCases) plat::status::compose(c.facts, line);
    std::size_t allocations = 0;
    for (const ComposeCase &c : kComposeCases) {
        alloc_counter::start();
        plat::status::compose(c.facts, line);
        allocations += alloc_counter::stop();
        EXPECT_EQ(line.text, c.text) << c.name;
        EXPECT_EQ(line.warning, c.warning) << c.name;
    }
    EXPECT_EQ(allocations, 0u);
}

TEST(StatusLineText, DurationsAndSizesReadAsPeopleSayThem) {
    const struct {
        plat::Micros span;
        const char *text;
    } durations[] = {{-5, "0.0 s"},
                     {99'999, "0.0 s"},
                     {12'499'999, "12.4 s"},
                     {59'999'999, "59.9 s"},
                     {60 * kSecond, "1 min 00 s"},
                     {3599 * kSecond, "59 min 59 s"},
                     {3600 * kSecond, "1 h 00 min"},
                     {(7 * 3600 + 125) * kSecond, "7 h 02 min"}};
    for (const auto &d : durations) EXPECT_EQ(plat::status::duration(d.span), d.text) << d.span;
    const struct {
        std::uint64_t count;
        const char *text;
    } sizes[] = {{0, "0 KB"},
                 {1, "1 KB"},
                 {1024 * 1024 - 1, "1024 KB"},
                 {1024 * 1024, "1.0 MB"},
                 {1536 * 1024, "1.5 MB"},
                 {5ull << 30, "5.0 GB"}};
    for (const auto &s : sizes) EXPECT_EQ(plat::status::bytes(s.count), s.text) << s.count;
}

// The facts the platform gathers during a run, at each step of the cycle.
class StatusLineRunTest : public AppTest {
protected:
    std::string now() { return plat::status::compose(watcher_.gather(mainWindow())).text; }
    std::string nowWithoutSpace() { return withoutFreeSpace(now()); }
    plat::status::Watcher watcher_;
};

TEST_F(StatusLineRunTest, FollowsAnExposureWithTheAmplifierOffAReadoutADelayAndAStop) {
    installCamera(Camera::Test240);
    writeSettingsFile(kStatusRunSettings);
    std::vector<std::string> seen;
    std::string atReadout, withSpace;
    plat::Subscription listener;
    int observer = 0;

    user().at(500, [&] { seen.push_back(nowWithoutSpace()); });
    user().at(1000, [&] {
        choose(IDM_RECORD);
        listener = session().component<plat::ParallelPort>().subscribe([&](const plat::PortWrite &w) {
            if ((w.value == 0x08 || w.value == 0x09) && atReadout.empty()) atReadout = nowWithoutSpace();
        });
        // The snapshot title counts the first image; the delay starts then.
        observer = plat::user::subscribe([&](HWND window, plat::user::Change change) {
            if (window != snapshotWindow() || change != plat::user::Change::Text || observer == 0) return;
            plat::user::unsubscribe(observer);
            observer = 0;
            const std::uint32_t delayStartMs = nowMs();
            user().at(delayStartMs + 1000, [&] { seen.push_back(nowWithoutSpace()); });
            user().at(delayStartMs + 1500, [&] { choose(IDM_STOP); });
            user().at(delayStartMs + 1600, [&] {
                seen.push_back(nowWithoutSpace());
                exitProgram();
            });
        });
    });
    user().at(1500, [&] {
        withSpace = now();
        seen.push_back(nowWithoutSpace());
    });
    user().at(4500, [&] { seen.push_back(nowWithoutSpace()); });

    EXPECT_EQ(runProgram(), 0);
    listener.reset();
    if (observer) plat::user::unsubscribe(observer);

    EXPECT_EQ(seen, kStatusRunLines);
    EXPECT_EQ(atReadout, kStatusAtReadout);
    // The drive the file lies on has room, and the line says how much.
    EXPECT_NE(withSpace.find(" free, room for "), std::string::npos) << withSpace;
}

// Pause left on from before: from the moment Record is chosen the line
// says that nothing is written, until Pause is released.
TEST_F(StatusLineRunTest, SaysWhileImagesAreNotWritten) {
    installCamera(Camera::Test240);
    writeSettingsFile("[Filenames]\r\nImageFile=C:\\night.avi\r\n[Capture]\r\nExposure=4000\r\nDelay=3000\r\n");
    std::vector<std::string> seen;
    user().at(200, [&] { choose(IDM_PAUSE); });
    user().at(1000, [&] { choose(IDM_RECORD); });
    user().at(1500, [&] { seen.push_back(nowWithoutSpace()); });
    user().at(12000, [&] { seen.push_back(nowWithoutSpace()); });
    user().at(12100, [&] { choose(IDM_PAUSE); });
    user().at(12200, [&] { seen.push_back(nowWithoutSpace()); });
    user().at(12300, [&] { exitProgram(); });
    EXPECT_EQ(runProgram(), 0);
    const std::string paused = "paused: images are shown, not written";
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], "integrating, amplifier on - 0.5 s  |  readout in 3.5 s  |  " + paused +
                           "  |  recording to C:\\night.avi, no image yet");
    EXPECT_NE(seen[1].find(paused + "  |  recording to C:\\night.avi, no image yet"), std::string::npos)
        << "images were taken and none written: " << seen[1];
    EXPECT_EQ(seen[2].find("paused"), std::string::npos) << seen[2];
}

// The line at the end of a run that stopped at its count says the images
// the file holds, also when the line last looked during the last readout
// (the last image and the Stop that closes the file come in one turn of the
// loop, before the display looks again).
struct EndCase {
    const char *name;
    const char *capture;  // the [Flags] and [Capture] lines
    std::uint32_t images;
    const char *atLastReadout;  // what the line said then
    const char *line;           // at the end, without the free space
};
void PrintTo(const EndCase &c, std::ostream *os) { *os << c.name; }

const EndCase kEndCases[] = {
    {"OneImage", "[Capture]\r\nExposure=1000\r\nDelay=0\r\nCount=1\r\n", 1, "no image yet",
     "at rest  |  1 of 1 image written to C:\\night.avi"},
    {"ThreeImages", "[Capture]\r\nExposure=1000\r\nDelay=0\r\nCount=3\r\n", 3, "2 of 3 images",
     "at rest  |  3 of 3 images written to C:\\night.avi"},
    {"EightWithTheAmplifierOff", "[Flags]\r\nAmpOff=1\r\n[Capture]\r\nExposure=2500\r\nDelay=500\r\nCount=8\r\n", 8,
     "7 of 8 images", "at rest  |  8 of 8 images written to C:\\night.avi"},
};

class StatusLineEndTest : public StatusLineRunTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(StatusLineEndTest, CountsTheImagesTheFileHolds) {
    const EndCase &c = GetParam();
    installCamera(Camera::Test240);
    writeSettingsFile(std::string("[Filenames]\r\nImageFile=C:\\night.avi\r\n") + c.capture);
    std::string atLastReadout, atEnd;
    plat::Subscription listener;
    user().at(1000, [&] {
        choose(IDM_RECORD);
        // The display looks at every readout, the last one included.
        listener = session().component<plat::ParallelPort>().subscribe([&](const plat::PortWrite &w) {
            if (w.value == 0x08) atLastReadout = nowWithoutSpace();
        });
    });
    user().at(59000, [&] {
        atEnd = nowWithoutSpace();
        exitProgram();
    });
    setTimeLimitMs(60000);
    EXPECT_EQ(runProgram(), 0);
    listener.reset();

    EXPECT_NE(atLastReadout.find(c.atLastReadout), std::string::npos)
        << "the line looked during the last readout: " << atLastReadout;
    EXPECT_EQ(atEnd, c.line);
    AVIFileInit();
    PAVISTREAM stream = nullptr;
    ASSERT_EQ(AVIStreamOpenFromFileA(&stream, "C:\\night.avi", streamtypeVIDEO, 0, OF_READ, nullptr), AVIERR_OK);
    EXPECT_EQ(AVIStreamLength(stream), LONG(c.images)) << "the file holds what the line says";
    AVIStreamRelease(stream);
    AVIFileExit();
}

INSTANTIATE_TEST_SUITE_P(Runs, StatusLineEndTest, ::testing::ValuesIn(kEndCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace noctil::test
