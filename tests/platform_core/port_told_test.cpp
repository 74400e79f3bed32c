// Every loss of the camera port is told, however often: a failure of
// another device or reason than the one told last opens a box, and so does
// the same failure once an exposure was carried since it was told; the same
// failure again before that (a device that comes and goes, the same error at
// every try) is counted only. Each box is posted, never shown inside the write.
#include <windows.h>

#include <string>
#include <vector>

#include "core/notices.h"
#include "platform_fixture.h"
#include "port/parallel_port.h"

namespace {

struct Case {
    const char *name;
    // Steps: "fail DEVICE REASON" reports a failure and writes the rest
    // level after it (the write whose return lets the box out); "exposure"
    // writes an exposure and its readout, which the simulated backend carries.
    std::vector<std::string> steps;
    std::vector<std::string> boxes;  // the boxes posted, by their first lines
    std::uint64_t failures;
};

const std::string kFirst = "The camera port cannot be used.";
const std::string kAgain = "The camera port failed again.";

const Case kCases[] = {
    {"TheFirstFailureIsTold", {"fail ttyUSB0 gone"}, {kFirst}, 1},
    {"TheSameFailureAgainIsCounted", {"fail ttyUSB0 gone", "fail ttyUSB0 gone", "fail ttyUSB0 gone"}, {kFirst}, 3},
    {"AnotherReasonIsTold", {"fail ttyUSB0 gone", "fail ttyUSB0 busy"}, {kFirst, kAgain}, 2},
    {"AnotherDeviceIsTold", {"fail ttyUSB0 gone", "fail ttyUSB1 gone"}, {kFirst, kAgain}, 2},
    {"TheSameFailureAfterACarriedExposureIsToldAgain",
     {"fail ttyUSB0 gone", "exposure", "fail ttyUSB0 gone", "fail ttyUSB0 gone", "exposure", "fail ttyUSB0 gone"},
     {kFirst, kAgain, kAgain},
     4},
    {"BackToAnEarlierReasonIsTold",
     {"fail ttyUSB0 gone", "fail ttyUSB0 busy", "fail ttyUSB0 gone"},
     {kFirst, kAgain, kAgain},
     3},
};

class PortToldTest : public noctil::test::PlatformTest, public ::testing::WithParamInterface<Case> {};

TEST_P(PortToldTest, EachNewLossIsPostedTheSameOneCounted) {
    const Case &c = GetParam();
    plat::ParallelPort &port = plat::session().component<plat::ParallelPort>();
    plat::Notices &notices = plat::session().component<plat::Notices>();
    std::vector<std::string> boxes;
    const auto takeBoxes = [&] {
        while (auto notice = notices.take()) {
            EXPECT_EQ(notice->caption, "Error");
            boxes.push_back(notice->text.substr(0, notice->text.find('\n')));
        }
    };
    ::testing::internal::CaptureStderr();
    for (const std::string &step : c.steps) {
        if (step == "exposure") {
            for (std::uint8_t level : {0x0B, 0x09, 0x00}) port.write(plat::ParallelPort::kDataRegister, level);
        } else {
            const std::size_t at = step.find(' ', 5);
            port.failed({"/dev/" + step.substr(5, at - 5), step.substr(at + 1), "test"});
            EXPECT_FALSE(notices.take().has_value()) << "posted once the write has returned, not at the failure";
            port.write(plat::ParallelPort::kDataRegister, 0x00);
        }
        takeBoxes();
    }
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(boxes, c.boxes);
    EXPECT_EQ(port.failures(), c.failures);
    if (c.failures > 1 && c.boxes.size() > 1) {
        EXPECT_NE(port.failureMessage().find("Failures of the port since the program started: "), std::string::npos)
            << port.failureMessage();
    }
}

INSTANTIATE_TEST_SUITE_P(Failures, PortToldTest, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
