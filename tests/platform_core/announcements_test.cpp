// Every announcement of the platform keeps each of its listeners: a second
// listener never takes the place of the first (the status line and a test,
// or two displays, follow the same port, files and tallies).
#include <windows.h>
#include <vfw.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "avicap/simcam.h"
#include "avicap/stream_record.h"
#include "avifile/avi_events.h"
#include "core/observer_list.h"
#include "platform_fixture.h"
#include "port/parallel_port.h"
#include "port/port_events.h"

namespace noctil::test {
namespace {

using Heard = std::function<void()>;

struct Announcement {
    const char *what;
    // Adds a listener that calls `heard` at each announcement.
    std::function<plat::Subscription(Heard heard)> listen;
    // Makes one announcement.
    std::function<void()> announce;
};

void writePort(std::uint8_t value) {
    plat::session().component<plat::ParallelPort>().write(plat::ParallelPort::kDataRegister, value);
}

// A readout without a frame in the run of file 7: one more readout without an image.
void countReadoutWithoutImage() {
    auto &records = plat::session().component<plat::avicap::StreamRecords>();
    const std::shared_ptr<plat::avicap::Driver> camera = plat::avicap::makeSimulatedCamera(
        plat::session().clock(), plat::session().component<plat::ParallelPort>());
    records.begin(camera, false, 0);
    records.end(plat::avicap::StreamEnd{}, 7);
}

// A file created for writing and let go: opened, then closed.
void createAviFile() {
    AVIFileInit();
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, "C:\\heard.avi", OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
    AVIFileRelease(file);
    AVIFileExit();
}

// clang-format off
const Announcement kAnnouncements[] = {
    {"the port's writes, to its listeners",
     [](Heard h) { return plat::session().component<plat::ParallelPort>().subscribe([h](const plat::PortWrite &) { h(); }); },
     [] { writePort(0x0B); }},
    {"the port's writes, to the session's observers",
     [](Heard h) { return plat::subscribeToPortWrites([h](const plat::PortWrite &) { h(); }); },
     [] { writePort(0x08); }},
    {"the AVI library's files",
     [](Heard h) { return plat::avi::subscribe([h](const plat::avi::FileEvent &) { h(); }); },
     [] { createAviFile(); }},
    {"the capture's readouts without an image",
     [](Heard h) {
         return plat::session().component<plat::avicap::StreamRecords>().onTallyChange(
             [h](const plat::avicap::ReadoutTally &) { h(); });
     },
     [] { countReadoutWithoutImage(); }},
};
// clang-format on

using Announcements = PlatformTest;

TEST_F(Announcements, ASecondListenerDoesNotReplaceTheFirst) {
    for (const Announcement &a : kAnnouncements) {
        SCOPED_TRACE(a.what);
        int first = 0, second = 0;
        const plat::Subscription one = a.listen([&] { ++first; });
        plat::Subscription two = a.listen([&] { ++second; });
        a.announce();
        EXPECT_GT(first, 0);
        EXPECT_EQ(second, first);
        // Letting the second go leaves the first listening.
        two.reset();
        const int before = first, secondBefore = second;
        a.announce();
        EXPECT_GT(first, before);
        EXPECT_EQ(second, secondBefore);
    }
}

}  // namespace
}  // namespace noctil::test
