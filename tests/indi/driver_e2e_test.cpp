// The driver under indiserver, as an astronomy program uses it: on the
// simulated port and camera, in the test's own network namespace
// (CMakeLists.txt runs it under unshare), with a client that connects the
// camera and takes exposures. What it checks comes from two sides: the
// images and their FITS keys as the client received them, and the levels
// the driver wrote to the port with their times (its port trace).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "imagelog/log_format.h"
#include "indi_client.h"
#include "indi_server.h"
#include "lock_holder.h"

namespace noctil::test {
namespace {

using namespace std::chrono_literals;

// Every wait is bounded; none is near what the step takes.
constexpr auto kLimit = 15s;

// Exposures in a row: fewer and shorter than a night's, to keep the run
// short; what is checked of each is the same.
constexpr int kExposures = 20;
constexpr double kExposureSeconds = 0.2;

std::int64_t micros(const std::string &seconds) { return plat::imagelog::parseSeconds(seconds).value_or(-1); }

// The port's last exposure in `trace` was followed by rest, and only rest.
void expectOnlyRestAfterTheLastExposure(const std::vector<TraceWrite> &trace) {
    std::size_t lastExposure = trace.size();
    for (std::size_t i = 0; i < trace.size(); ++i)
        if (trace[i].level == 0x0B) lastExposure = i;
    ASSERT_LT(lastExposure + 1, trace.size()) << "no write after the last exposure";
    for (std::size_t i = lastExposure + 1; i < trace.size(); ++i) EXPECT_EQ(trace[i].level, 0x00u) << "write " << i;
}

class DriverE2e : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = std::filesystem::temp_directory_path() / ("noctil-indi-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        server_ = std::make_unique<IndiServer>(std::vector<std::string>{NOCTIL_INDI_DRIVER}, dir_);
    }
    static void TearDownTestSuite() {
        server_.reset();
        std::error_code ignored;  // a directory left behind is no failure of the driver
        if (!::testing::UnitTest::GetInstance()->Failed()) std::filesystem::remove_all(dir_, ignored);
    }

    void SetUp() override {
        ASSERT_TRUE(server_->listening()) << server_->log();
        client_ = std::make_unique<IndiClient>("first", IndiServer::kPort);
        ASSERT_TRUE(client_->start());
        ASSERT_TRUE(connectCamera(*client_)) << server_->log();
    }

    // Connects the camera and waits until its connected properties are there.
    static bool connectCamera(IndiClient &client) {
        if (!client.waitUntil([&] { return client.defined("CONNECTION"); }, kLimit)) return false;
        client.setSwitch("CONNECTION", "CONNECT");
        return client.waitUntil([&] { return client.defined("NOCTIL_LINES") && client.defined("CCD_EXPOSURE"); },
                                kLimit);
    }

    // Asks for one exposure and waits for its image and its end; false when
    // none came. (libindi's client sends a number from its copy of the
    // property, which the end's update would overwrite if it came meanwhile.)
    bool expose(IndiClient &client, double seconds) {
        const std::size_t before = imageCount(client);
        client.setNumber("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", seconds);
        return client.waitUntil([&] { return client.images().size() > before && client.exposureState() == IPS_OK; },
                                kLimit);
    }

    static std::size_t imageCount(IndiClient &client) {
        std::size_t n = 0;
        client.waitUntil([&] { return (n = client.images().size(), true); }, 0ms);
        return n;
    }

    std::vector<TraceExposure> exposures() const { return traceExposures(readTrace(server_->tracePath())); }

    static std::filesystem::path dir_;
    static std::unique_ptr<IndiServer> server_;
    std::unique_ptr<IndiClient> client_;
};

std::filesystem::path DriverE2e::dir_;
std::unique_ptr<IndiServer> DriverE2e::server_;

// Each exposure asked for gives one image, and its header says what the
// port held: EXPTIME to the microsecond, DATE-OBS at the exposure's start.
TEST_F(DriverE2e, EachExposureGivesOneImageWithThePortsTimes) {
    const std::size_t tracedBefore = exposures().size();
    for (int i = 0; i < kExposures; ++i)
        ASSERT_TRUE(expose(*client_, kExposureSeconds)) << "exposure " << i + 1 << "\n" << server_->log();

    const std::vector<TraceExposure> traced = exposures();
    ASSERT_EQ(traced.size(), tracedBefore + kExposures);
    const std::vector<ReceivedImage> &images = client_->images();
    ASSERT_EQ(images.size(), std::size_t(kExposures));
    for (int i = 0; i < kExposures; ++i) {
        const ReceivedImage &image = images[i];
        const TraceExposure &port = traced[tracedBefore + i];
        SCOPED_TRACE("image " + std::to_string(i + 1));
        EXPECT_EQ(micros(image.keys.at("EXPTIME")), port.end - port.start);
        EXPECT_EQ(micros(image.keys.at("EXPREQ")), 200000);
        // The header's UTC and the trace's are each mapped from the driver's
        // clock with the calendar clock read at its own moment.
        const auto dateObs = plat::imagelog::parseUtc(image.keys.at("DATE-OBS"));
        const auto portStart = plat::imagelog::parseUtc(port.startUtc);
        ASSERT_TRUE(dateObs && portStart);
        EXPECT_LE(std::llabs(*dateObs - *portStart), 1000);
        EXPECT_EQ(image.keys.at("FRAME"), "Light");
        EXPECT_EQ(image.keys.at("PORTBACK"), "simulated");
        EXPECT_EQ(image.axes, 2);
        // After each exposure the port went through the readout to rest:
        // 640 x 480, the simulated camera's first format, is read by fields.
        EXPECT_EQ(port.levelsAfter, (std::vector<unsigned>{0x09, 0x08, 0x00}));
    }
}

// A second client that connects while the first takes exposures sees the
// camera and the images taken after it came; the first misses none.
TEST_F(DriverE2e, ASecondClientSeesTheImagesTakenAfterItCame) {
    ASSERT_TRUE(expose(*client_, kExposureSeconds));
    IndiClient second("second", IndiServer::kPort);
    ASSERT_TRUE(second.start());
    ASSERT_TRUE(second.waitUntil([&] { return second.defined("CCD_EXPOSURE"); }, kLimit));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(expose(*client_, kExposureSeconds));
    ASSERT_TRUE(second.waitUntil([&] { return second.images().size() == 3; }, kLimit));
    EXPECT_EQ(imageCount(*client_), 4u);
    // Both got the same three images.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(second.images()[i].keys.at("DATE-OBS"), client_->images()[i + 1].keys.at("DATE-OBS"));
}

// Live video runs between exposures and leaves the lines at rest; no
// exposure starts while it runs, and one after it is whole.
TEST_F(DriverE2e, LiveVideoBetweenExposures) {
    const std::size_t traced = readTrace(server_->tracePath()).size();
    client_->setSwitch("CCD_VIDEO_STREAM", "STREAM_ON");
    ASSERT_TRUE(client_->waitUntil([&] { return client_->videoFrames() >= 5; }, kLimit));
    client_->setNumber("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", kExposureSeconds);
    EXPECT_TRUE(client_->waitUntil([&] { return client_->exposureState() == IPS_ALERT; }, kLimit));
    EXPECT_EQ(readTrace(server_->tracePath()).size(), traced) << "the video wrote to the port";
    client_->setSwitch("CCD_VIDEO_STREAM", "STREAM_OFF");
    ASSERT_TRUE(expose(*client_, kExposureSeconds));
    EXPECT_EQ(imageCount(*client_), 1u);
}

// The camera has no shutter: a dark, flat or bias is taken as a light, and
// its header says which was asked for; a dark's time is the port's too.
struct FrameTypeCase {
    const char *element;
    const char *frame;  // FRAME in the header
    bool darkTime;
};

TEST_F(DriverE2e, EachFrameTypeIsTakenAndWritten) {
    // clang-format off
    const FrameTypeCase cases[] = {
        {"FRAME_DARK",  "Dark",  true},
        {"FRAME_FLAT",  "Flat",  false},
        {"FRAME_BIAS",  "Bias",  false},
        {"FRAME_LIGHT", "Light", false},
    };
    // clang-format on
    for (const FrameTypeCase &c : cases) {
        SCOPED_TRACE(c.element);
        client_->setSwitch("CCD_FRAME_TYPE", c.element);
        ASSERT_TRUE(expose(*client_, kExposureSeconds));
        const ReceivedImage image = client_->images().back();
        EXPECT_EQ(image.keys.at("FRAME"), c.frame);
        EXPECT_EQ(image.keys.count("DARKTIME"), c.darkTime ? 1u : 0u);
        if (c.darkTime) {
            EXPECT_EQ(image.keys.at("DARKTIME"), image.keys.at("EXPTIME"));
        }
        // INDI asks a bias for the shortest exposure the camera takes.
        EXPECT_EQ(micros(image.keys.at("EXPREQ")), std::string(c.frame) == "Bias" ? 1000 : 200000);
    }
}

// Disconnecting during an exposure ends it with the lines at rest.
TEST_F(DriverE2e, DisconnectingRestsTheLines) {
    client_->setNumber("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 5.0);
    ASSERT_TRUE(client_->waitUntil([&] { return client_->lines() == "integrating"; }, kLimit));
    client_->setSwitch("CONNECTION", "DISCONNECT");
    ASSERT_TRUE(client_->waitUntil([&] { return !client_->connected(); }, kLimit));
    expectOnlyRestAfterTheLastExposure(readTrace(server_->tracePath()));
    EXPECT_EQ(imageCount(*client_), 0u);
}

// An abort rests the port and sends no image, while the camera integrates
// and while it is read out; the next exposure is whole.
struct AbortCase {
    const char *name;
    double seconds;
    const char *abortAt;           // the lines' state at which the client aborts
    std::vector<unsigned> levels;  // the port's levels from the exposure on
};

class DriverAbort : public DriverE2e, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(DriverAbort, RestsThePortAndSendsNoImage) {
    const AbortCase &c = GetParam();
    const std::size_t tracedBefore = exposures().size();
    const int seenBefore = [&] {
        int n = 0;
        client_->waitUntil([&] { return (n = client_->lineChanges(c.abortAt), true); }, 0ms);
        return n;
    }();
    client_->setNumber("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", c.seconds);
    ASSERT_TRUE(client_->waitUntil([&] { return client_->lineChanges(c.abortAt) > seenBefore; }, kLimit));
    client_->setSwitch("CCD_ABORT_EXPOSURE", "ABORT");
    ASSERT_TRUE(client_->waitUntil([&] { return client_->lines() == "at rest"; }, kLimit));

    // The next exposure's image is the first to arrive: the aborted one never came.
    ASSERT_TRUE(expose(*client_, kExposureSeconds));
    ASSERT_EQ(imageCount(*client_), 1u);
    EXPECT_EQ(micros(client_->images()[0].keys.at("EXPREQ")), 200000);

    const std::vector<TraceExposure> traced = exposures();
    ASSERT_EQ(traced.size(), tracedBefore + 2);
    const TraceExposure &aborted = traced[tracedBefore];
    std::vector<unsigned> levels{0x0B};
    levels.insert(levels.end(), aborted.levelsAfter.begin(), aborted.levelsAfter.end());
    EXPECT_EQ(levels, c.levels);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Phases, DriverAbort, ::testing::Values(
    AbortCase{"DuringIntegration", 5.0, "integrating", {0x0B, 0x00}},
    AbortCase{"DuringReadout",     0.1, "reading out", {0x0B, 0x09, 0x08, 0x00}}),
    [](const auto &info) { return std::string(info.param.name); });
// clang-format on

// A driver ended during an exposure leaves the camera's lines at rest:
// killed, by its next start, which indiserver makes and which rests them
// before it defines its properties; asked to end, by itself. Either way
// indiserver starts it again and it takes exposures.
struct EndCase {
    const char *name;
    int signal;
    const char *said;  // what the driver says as it ends; null: it cannot
};

class DriverEnd : public DriverE2e, public ::testing::WithParamInterface<EndCase> {};

TEST_P(DriverEnd, TheLinesRestAndTheDriverComesBack) {
    const EndCase &c = GetParam();
    client_->setNumber("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 5.0);
    ASSERT_TRUE(client_->waitUntil([&] { return client_->lines() == "integrating"; }, kLimit));
    const pid_t driver = server_->driverPid();
    ASSERT_GT(driver, 0);
    const int definedBefore = [&] {
        int n = 0;
        client_->waitUntil([&] { return (n = client_->definitions("CONNECTION"), true); }, 0ms);
        return n;
    }();
    ASSERT_EQ(kill(driver, c.signal), 0);

    // The new driver defines its properties again, after its rest.
    ASSERT_TRUE(client_->waitUntil([&] { return client_->definitions("CONNECTION") > definedBefore; }, kLimit))
        << server_->log();
    // The ended driver's last level was its exposure's; only rest followed.
    expectOnlyRestAfterTheLastExposure(readTrace(server_->tracePath()));
    if (c.said) {
        EXPECT_TRUE(client_->waitUntil(
            [&] {
                for (const std::string &m : client_->messages())
                    if (m.find(c.said) != std::string::npos) return true;
                return false;
            },
            0ms));
    }
    EXPECT_NE(server_->driverPid(), driver);

    const int linesBefore = [&] {
        int n = 0;
        client_->waitUntil([&] { return (n = client_->definitions("NOCTIL_LINES"), true); }, 0ms);
        return n;
    }();
    client_->setSwitch("CONNECTION", "CONNECT");
    ASSERT_TRUE(client_->waitUntil([&] { return client_->definitions("NOCTIL_LINES") > linesBefore; }, kLimit));
    EXPECT_TRUE(expose(*client_, kExposureSeconds));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Signals, DriverEnd, ::testing::Values(
    EndCase{"Killed",          SIGKILL, nullptr},
    EndCase{"AskedToEnd",      SIGTERM, "Ended by signal 15, the camera's lines at rest."},
    EndCase{"InterruptedByCtrlC", SIGINT, "Ended by signal 2, the camera's lines at rest."}),
    [](const auto &info) { return std::string(info.param.name); });
// clang-format on

// Every standard CCD property that libindi's own simulated CCD defines is
// there too, unless it is of something this camera does not have; what each
// such property is of says why it is left out.
struct NotThisCamera {
    const char *property;
    const char *why;
};

// clang-format off
const NotThisCamera kNotThisCamera[] = {
    {"CCD_TEMPERATURE",          "no cooler and no temperature sensor"},
    {"CCD_TEMP_RAMP",            "no cooler"},
    {"CCD_GAIN",                 "the video's gain is the capture device's own control"},
    {"CCD_OFFSET",               "the video's black level is the capture device's own control"},
    {"GUIDER_EXPOSURE",          "no guide head"},
    {"GUIDER_ABORT_EXPOSURE",    "no guide head"},
    {"GUIDER_BINNING",           "no guide head"},
    {"GUIDER_COMPRESSION",       "no guide head"},
    {"GUIDER_FRAME",             "no guide head"},
    {"GUIDER_FRAME_TYPE",        "no guide head"},
    {"GUIDER_INFO",              "no guide head"},
    {"CCD2",                     "no guide head"},
    {"CCD_COOLER",               "no cooler"},
    {"TELESCOPE_TIMED_GUIDE_NS", "no ST4 guide port"},
    {"TELESCOPE_TIMED_GUIDE_WE", "no ST4 guide port"},
    {"FILTER_SLOT",              "the simulator's built-in filter wheel"},
    {"FILTER_NAME",              "the simulator's built-in filter wheel"},
    {"DSP_ACTIVATE_CONVOLUTION", "no image processing in the driver"},
    {"DSP_ACTIVATE_DFT",         "no image processing in the driver"},
    {"DSP_ACTIVATE_HISTOGRAM",   "no image processing in the driver"},
    {"DSP_ACTIVATE_IDFT",        "no image processing in the driver"},
    {"DSP_ACTIVATE_SPECTRUM",    "no image processing in the driver"},
    {"DSP_ACTIVATE_WAVELETS",    "no image processing in the driver"},
    {"SIMULATOR_SETTINGS",       "the simulator's own"},
    {"SIMULATE_BAYER",           "the simulator's own"},
    {"SIM_FOCUSING",             "the simulator's own"},
    {"EQUATORIAL_PE",            "the simulator's own"},
    {"CCD_DIRECTORY_LOCATION",   "the simulator's own"},
    {"CCD_DIRECTORY_TOGGLE",     "the simulator's own"},
    {"CCD_SIMULATE_CRASH",       "the simulator's own"},
};
// clang-format on

TEST(DriverProperties, TheSimulatedCcdsThatApplyAreAllThere) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("noctil-indi-properties-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const int port = IndiServer::kPort + 1;
    IndiServer server({"indi_simulator_ccd", NOCTIL_INDI_DRIVER}, dir, port);
    ASSERT_TRUE(server.listening()) << server.log();
    IndiClient simulator("simulator", port, "CCD Simulator"), noctil("noctil", port);
    ASSERT_TRUE(simulator.start() && noctil.start());
    // Both connected, so that every property is defined.
    for (IndiClient *client : {&simulator, &noctil}) {
        ASSERT_TRUE(client->waitUntil([&] { return client->defined("CONNECTION"); }, kLimit)) << client->name();
        client->setSwitch("CONNECTION", "CONNECT");
    }
    // The simulator defines its own properties after the standard ones.
    ASSERT_TRUE(simulator.waitUntil(
        [&] {
            for (const NotThisCamera &n : kNotThisCamera)
                if (!simulator.defined(n.property)) return false;
            return true;
        },
        kLimit));
    ASSERT_TRUE(noctil.waitUntil([&] { return noctil.defined("NOCTIL_LINES"); }, kLimit));

    std::set<std::string> expected;
    simulator.waitUntil([&] { return (expected = simulator.properties(), true); }, 0ms);
    std::set<std::string> ours;
    noctil.waitUntil([&] { return (ours = noctil.properties(), true); }, 0ms);
    for (const NotThisCamera &n : kNotThisCamera) {
        expected.erase(n.property);
        EXPECT_EQ(ours.count(n.property), 0u) << n.property << " is there after all: " << n.why;
    }
    for (const std::string &property : expected) EXPECT_EQ(ours.count(property), 1u) << property << " is missing";

    std::error_code ignored;  // a directory left behind is no failure of the driver
    std::filesystem::remove_all(dir, ignored);
}

// One port, one owner: a port that another process drives (the program,
// here a process holding its device's lock) is refused at Connect, and the
// client is told which process holds it.
TEST(DriverPortOwner, APortAnotherProcessDrivesIsRefusedNamingIt) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("noctil-indi-owner-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::filesystem::path device = dir / "parport0";
    LockHolder program(device);
    ASSERT_TRUE(program.held());
    const int port = IndiServer::kPort + 2;
    {
        IndiServer server({NOCTIL_INDI_DRIVER}, dir, port);
        ASSERT_TRUE(server.listening()) << server.log();
        IndiClient client("client", port);
        ASSERT_TRUE(client.start());
        ASSERT_TRUE(client.waitUntil([&] { return client.defined("NOCTIL_PORT_DEVICE"); }, kLimit));
        client.setSwitch("NOCTIL_PORT_BACKEND", "ppdev");
        client.setText("NOCTIL_PORT_DEVICE", "DEVICE", device.c_str());
        client.setSwitch("CONNECTION", "CONNECT");
        const std::string said = "in use by " + program.named();
        EXPECT_TRUE(client.waitUntil(
            [&] {
                for (const std::string &m : client.messages())
                    if (m.find(said) != std::string::npos) return true;
                return false;
            },
            kLimit));
        EXPECT_FALSE(client.connected());
    }
    std::error_code ignored;  // a directory left behind is no failure of the driver
    std::filesystem::remove_all(dir, ignored);
}

}  // namespace
}  // namespace noctil::test
