// The tests' capture-call tables (tests/support/capture_sequence.h): each
// kind of difference between a table and what the callback saw fails the
// comparison, and the failure shows the numbered rows.
#include <windows.h>
#include <vfw.h>

#include <string>
#include <vector>

#include "capture_sequence.h"

namespace noctil::test {
namespace {

// Frame 1, inside its stop request a nested frame 2 whose own stop returns
// first, then the outer stop.
const RecordedCapture kSeen[] = {
    {kCapFrame, 0, 0, 1},
    {kCapFrame, 0, 1, 2},
    {kCapSent, WM_CAP_STOP, 1, TRUE},
    {kCapSent, WM_CAP_STOP, 0, TRUE},
};

TEST(CaptureSequence, EveryDifferenceFailsTheComparison) {
    struct Case {
        const char *name;
        std::vector<ExpectedCapture> entries;
        bool matches;
    } cases[] = {
        {"as seen",
         {{kCapFrame, 0, kCapValue, 1},
          {kCapFrame, 0, kCapNested | kCapValue, 2},
          {kCapSent, WM_CAP_STOP, kCapNested | kCapValue, TRUE},
          {kCapSent, WM_CAP_STOP, kCapValue, TRUE}},
         true},
        {"values left out",
         {{kCapFrame}, {kCapFrame, 0, kCapNested}, {kCapSent, WM_CAP_STOP, kCapNested}, {kCapSent, WM_CAP_STOP}},
         true},
        {"an optional entry that is absent",
         {{kCapFrame},
          {kCapSent, WM_CAP_ABORT, kCapOptional},
          {kCapFrame, 0, kCapNested},
          {kCapSent, WM_CAP_STOP, kCapNested},
          {kCapSent, WM_CAP_STOP}},
         true},
        {"nested where at the stream's level",
         {{kCapFrame, 0, kCapNested},
          {kCapFrame, 0, kCapNested},
          {kCapSent, WM_CAP_STOP, kCapNested},
          {kCapSent, WM_CAP_STOP}},
         false},
        {"at the stream's level where nested",
         {{kCapFrame}, {kCapFrame}, {kCapSent, WM_CAP_STOP, kCapNested}, {kCapSent, WM_CAP_STOP}},
         false},
        {"another first byte",
         {{kCapFrame, 0, kCapValue, 2},
          {kCapFrame, 0, kCapNested},
          {kCapSent, WM_CAP_STOP, kCapNested},
          {kCapSent, WM_CAP_STOP}},
         false},
        {"another answer",
         {{kCapFrame},
          {kCapFrame, 0, kCapNested},
          {kCapSent, WM_CAP_STOP, kCapNested},
          {kCapSent, WM_CAP_STOP, kCapValue, FALSE}},
         false},
        {"another message",
         {{kCapFrame}, {kCapFrame, 0, kCapNested}, {kCapSent, WM_CAP_ABORT, kCapNested}, {kCapSent, WM_CAP_STOP}},
         false},
        {"a message where a frame came",
         {{kCapFrame}, {kCapSent, 0, kCapNested}, {kCapSent, WM_CAP_STOP, kCapNested}, {kCapSent, WM_CAP_STOP}},
         false},
        {"an entry fewer than seen",
         {{kCapFrame}, {kCapFrame, 0, kCapNested}, {kCapSent, WM_CAP_STOP, kCapNested}},
         false},
        {"an entry more than seen",
         {{kCapFrame},
          {kCapFrame, 0, kCapNested},
          {kCapSent, WM_CAP_STOP, kCapNested},
          {kCapSent, WM_CAP_STOP},
          {kCapFrame}},
         false},
        {"nothing where calls were seen", {}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(bool(captureSequenceMatches(c.name, c.entries, kSeen)), c.matches);
    }
}

TEST(CaptureSequence, AFailureShowsExpectedBesideActualNumbered) {
    const ExpectedCapture expected[] = {
        {kCapFrame, 0, kCapValue, 1}, {kCapFrame}, {kCapSent, WM_CAP_STOP, kCapNested}, {kCapSent, WM_CAP_STOP}};
    const ::testing::AssertionResult result = captureSequenceMatches("stop from every frame", expected, kSeen);
    ASSERT_FALSE(result);
    const std::string text = result.message();
    EXPECT_NE(text.find("stop from every frame: capture calls"), std::string::npos) << text;
    EXPECT_NE(text.find("    1  expected frame byte=1"), std::string::npos) << text;
    EXPECT_NE(text.find("!!  2  expected frame "), std::string::npos) << text;
    EXPECT_NE(text.find("actual frame byte=2 nested"), std::string::npos) << text;
}

}  // namespace
}  // namespace noctil::test
