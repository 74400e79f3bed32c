// The readout selection of the camera's protocol, frame by frame over a
// state and a kept-image buffer of the test's own: the levels it asks for,
// when it chooses and stops, and which rows of which frames the image holds.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "camera/readout_selection.h"

namespace {

using noctil::camera::FrameStep;
using noctil::camera::NO_LEVEL;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kRowLength = 240;

// A row's first byte tags the frame and the row's parity, so a row of the
// kept image tells where it came from. The measurement window (rows 10-19,
// bytes 30-229) holds `even` in its even rows and `odd` in its odd rows, so
// the window's sums are 1000 x even and 1000 x odd.
Bytes MakeFrame(std::uint32_t rows, int id, std::uint8_t even, std::uint8_t odd)
{
    Bytes bytes(kRowLength * rows, 0);
    for (std::size_t r = 0; r < rows; r++) {
        bytes[r * kRowLength] = static_cast<std::uint8_t>(id * 2 + r % 2 + 1);
        bytes[r * kRowLength + kRowLength - 1] = static_cast<std::uint8_t>(id);
    }
    for (std::size_t r = 10; r < 20; r++) std::memset(&bytes[r * kRowLength + 30], r % 2 ? odd : even, 200);
    return bytes;
}

Bytes Row(const Bytes &frame, std::size_t r)
{
    return Bytes(frame.begin() + static_cast<long>(r * kRowLength), frame.begin() + static_cast<long>((r + 1) * kRowLength));
}

// One selection: its step, best score and kept image, as a caller holds them.
class Selection : public ::testing::Test {
protected:
    FrameStep Take(Bytes &frame, std::uint32_t height)
    {
        return noctil::camera::takeFrame({step, bestScore, kept}, frame, height);
    }

    int step = SELECTION_ARMED;
    std::int32_t bestScore = 0;
    Bytes kept = Bytes(kRowLength * 600, 0xAB);
};

::testing::AssertionResult Is(const FrameStep &step, int level, bool chosen, bool stop, bool dropped = false)
{
    if (step.level == level && step.chosen == chosen && step.stop == stop && step.dropped == dropped)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "level " << step.level << " chosen " << step.chosen << " stop " << step.stop
                                         << " dropped " << step.dropped << ", expected level " << level << " chosen "
                                         << chosen << " stop " << stop << " dropped " << dropped;
}

// ---- Whole frames ------------------------------------------------------------------

struct WholeFrameCase {
    const char *name;
    std::uint32_t height;
    std::uint8_t arming, second, third;  // window value of frames 1, 2 and 3
    int kept;                            // 2 or 3, or 0 for an all-zero image
};

// clang-format off
const WholeFrameCase kWholeFrames[] = {
    {"the second frame is brighter",       240, 0, 5, 3, 2},
    {"the third frame is brighter",        240, 0, 3, 5, 3},
    {"a tie keeps the earlier frame",      120, 0, 4, 4, 2},
    {"the arming frame never competes",    288, 9, 1, 2, 3},
    {"dark frames leave an all-zero image", 24, 0, 0, 0, 0},
};
// clang-format on

TEST_F(Selection, WholeFramesKeepTheBrightestOfTwo)
{
    for (const WholeFrameCase &c : kWholeFrames) {
        SCOPED_TRACE(c.name);
        step = SELECTION_ARMED;
        bestScore = 12345;  // left from an earlier readout
        Bytes frames[] = {MakeFrame(c.height, 1, c.arming, c.arming), MakeFrame(c.height, 2, c.second, c.second),
                          MakeFrame(c.height, 3, c.third, c.third)};
        const Bytes keptFrame = c.kept == 2 ? frames[1] : c.kept == 3 ? frames[2] : Bytes(kRowLength * c.height, 0);

        EXPECT_TRUE(Is(Take(frames[0], c.height), PORT_READOUT, false, false));
        EXPECT_TRUE(Is(Take(frames[1], c.height), NO_LEVEL, false, false));
        EXPECT_FALSE(noctil::camera::selectionDone(step));
        EXPECT_TRUE(Is(Take(frames[2], c.height), NO_LEVEL, true, true));
        EXPECT_TRUE(noctil::camera::selectionDone(step));
        EXPECT_EQ(frames[2], keptFrame) << "the last frame carries the kept image";

        // Once chosen, every further frame is stamped with the image and stops.
        Bytes later = MakeFrame(c.height, 7, 9, 9);
        EXPECT_TRUE(Is(Take(later, c.height), NO_LEVEL, false, true));
        EXPECT_EQ(later, keptFrame);
    }
}

// ---- Fields ------------------------------------------------------------------------

struct Window {
    std::uint8_t even, odd;
};
struct Source {
    int frame;   // 2..5, or 0: the rows stay zero
    int parity;  // the frame's rows they come from
};
struct FieldCase {
    const char *name;
    std::uint32_t height;
    Window frames[4];  // frames 2 and 3 (first pass), 4 and 5 (second pass)
    Source oddRows, evenRows;
};

// clang-format off
const FieldCase kFields[] = {
    {"the largest margin of each pass", 480, {{1, 5}, {1, 3}, {2, 1}, {6, 1}}, {2, 1}, {5, 0}},
    {"a later, larger margin wins",     576, {{0, 2}, {0, 5}, {3, 0}, {1, 0}}, {3, 1}, {4, 0}},
    {"the second pass starts afresh",   480, {{0, 9}, {0, 0}, {0, 1}, {0, 0}}, {2, 1}, {4, 1}},
    {"each pass won by its last frame", 576, {{0, 0}, {7, 0}, {2, 2}, {0, 3}}, {3, 0}, {5, 1}},
    {"the even field first, then odd",  480, {{5, 0}, {1, 1}, {1, 1}, {0, 5}}, {2, 0}, {5, 1}},
};
// clang-format on

TEST_F(Selection, FieldsAssembleOddThenEvenRows)
{
    for (const FieldCase &c : kFields) {
        SCOPED_TRACE(c.name);
        step = SELECTION_ARMED;
        bestScore = 0;
        Bytes arming = MakeFrame(c.height, 1, 9, 9);
        EXPECT_TRUE(Is(Take(arming, c.height), PORT_READOUT_480, false, false));

        std::vector<Bytes> frames;
        for (int i = 0; i < 4; i++) frames.push_back(MakeFrame(c.height, i + 2, c.frames[i].even, c.frames[i].odd));
        const std::vector<Bytes> originals = frames;
        EXPECT_TRUE(Is(Take(frames[0], c.height), NO_LEVEL, false, false));
        EXPECT_TRUE(Is(Take(frames[1], c.height), PORT_READOUT, false, false)) << "the second pass's level";
        EXPECT_TRUE(Is(Take(frames[2], c.height), NO_LEVEL, false, false));
        EXPECT_TRUE(Is(Take(frames[3], c.height), NO_LEVEL, true, true));

        const Bytes &image = frames[3];
        const Bytes zero(kRowLength, 0);
        for (std::size_t r = 0; r < c.height; r++) {
            const Source &source = r % 2 ? c.oddRows : c.evenRows;
            const Bytes expected =
                source.frame ? Row(originals[source.frame - 2], (r / 2) * 2 + source.parity) : zero;
            ASSERT_EQ(Row(image, r), expected) << "row " << r;
        }
    }
}

// A pass in which no field won: the readout ends at that pass's last frame
// without an image, and no frame carries one.
struct MissingFieldCase {
    const char *name;
    std::uint32_t height;
    Window frames[4];     // frames 2 and 3 (first pass), 4 and 5 (second pass)
    int lastFrame;        // the frame the readout ends on: 3 or 5
    const char *missing;  // the field it ends without
};

// clang-format off
const MissingFieldCase kMissingFields[] = {
    {"equal sums never win",              480, {{3, 3}, {3, 3}, {3, 3}, {3, 3}}, 3, "odd"},
    {"dark frames hold no field",         576, {{0, 0}, {0, 0}, {0, 0}, {0, 0}}, 3, "odd"},
    {"only the second pass has a winner", 576, {{1, 1}, {2, 2}, {0, 5}, {5, 0}}, 3, "odd"},
    {"a margin must beat the best",       576, {{4, 0}, {0, 4}, {0, 0}, {0, 0}}, 5, "even"},
    {"the second pass's fields are equal", 480, {{0, 9}, {0, 0}, {2, 2}, {7, 7}}, 5, "even"},
};
// clang-format on

TEST_F(Selection, APassWithoutAWinnerEndsTheReadoutWithoutAnImage)
{
    for (const MissingFieldCase &c : kMissingFields) {
        SCOPED_TRACE(c.name);
        step = SELECTION_ARMED;
        bestScore = 12345;  // left from an earlier readout
        std::fill(kept.begin(), kept.end(), 0xAB);
        Bytes arming = MakeFrame(c.height, 1, 9, 9);
        EXPECT_TRUE(Is(Take(arming, c.height), PORT_READOUT_480, false, false));
        EXPECT_EQ(noctil::camera::missingField(step), nullptr);

        std::vector<Bytes> frames;
        for (int i = 0; i < 4; i++) frames.push_back(MakeFrame(c.height, i + 2, c.frames[i].even, c.frames[i].odd));
        const std::vector<Bytes> originals = frames;
        for (int id = 2; id < c.lastFrame; id++) {
            const int level = id == 3 ? PORT_READOUT : NO_LEVEL;
            EXPECT_TRUE(Is(Take(frames[id - 2], c.height), level, false, false)) << "frame " << id;
        }
        EXPECT_TRUE(Is(Take(frames[c.lastFrame - 2], c.height), NO_LEVEL, false, true, true));
        EXPECT_FALSE(noctil::camera::selectionDone(step));
        ASSERT_NE(noctil::camera::missingField(step), nullptr);
        EXPECT_STREQ(noctil::camera::missingField(step), c.missing);
        EXPECT_EQ(frames, originals) << "no frame carries an image";

        // Frames the stream still delivers are left alone, and so is the
        // outcome, until the selection is armed again.
        Bytes later = MakeFrame(c.height, 7, 0, 9);
        EXPECT_TRUE(Is(Take(later, c.height), NO_LEVEL, false, false));
        EXPECT_EQ(later, MakeFrame(c.height, 7, 0, 9));
        EXPECT_STREQ(noctil::camera::missingField(step), c.missing);
        step = SELECTION_ARMED;
        EXPECT_TRUE(Is(Take(later, c.height), PORT_READOUT_480, false, false));
        EXPECT_EQ(noctil::camera::missingField(step), nullptr);
    }
}

// ---- Refused frames ----------------------------------------------------------------

struct RefusedCase {
    const char *name;
    std::size_t frameBytes;
    std::uint32_t height;
};

// clang-format off
const RefusedCase kRefused[] = {
    {"no data",                           0,                      240},
    {"no height",                         kRowLength * 240,       0},
    {"longer than the kept image",        kRowLength * 600 + 240, 601},
    {"one row short of the window",       kRowLength * 19,        19},
    {"fewer rows than the window",        kRowLength * 9,         9},
};
// clang-format on

TEST_F(Selection, UnusableFramesAreRefusedInEveryStep)
{
    for (const RefusedCase &c : kRefused) {
        for (int start : {int{SELECTION_ARMED}, int{SELECTION_ARMED_ON_FRAME}, int{SELECTION_RENDER}}) {
            SCOPED_TRACE(::testing::Message() << c.name << ", step " << start);
            step = start;
            bestScore = 77;
            std::fill(kept.begin(), kept.end(), 0x33);
            Bytes frame(c.frameBytes, 0x5A);
            EXPECT_TRUE(Is(Take(frame, c.height), NO_LEVEL, false, false));
            EXPECT_EQ(step, start);
            EXPECT_EQ(bestScore, 77);
            EXPECT_EQ(frame, Bytes(c.frameBytes, 0x5A)) << "the frame was touched";
            EXPECT_EQ(kept.front(), 0x33);
            EXPECT_EQ(kept.back(), 0x33);
        }
    }
}

TEST_F(Selection, ArmingClearsTheKeptImageAsFarAsTheFrame)
{
    Bytes frame = MakeFrame(24, 1, 0, 0);
    bestScore = 400000;  // left from an earlier readout
    Take(frame, 24);
    EXPECT_EQ(step, SELECTION_ARMED_ON_FRAME);
    EXPECT_EQ(Bytes(kept.begin(), kept.begin() + static_cast<long>(frame.size())), Bytes(frame.size(), 0));
    EXPECT_EQ(kept[frame.size()], 0xAB) << "beyond the frame the buffer is left alone";
    // A dim frame wins against the reset score.
    Bytes dim = MakeFrame(24, 2, 1, 1);
    Take(dim, 24);
    EXPECT_EQ(bestScore, 2000);
}

// ---- The measurement window --------------------------------------------------------

struct WindowCase {
    const char *name;
    std::uint8_t even, odd;
    std::int32_t evenSum, oddSum;
};

// clang-format off
const WindowCase kWindows[] = {
    {"dark",            0,   0,   0,      0},
    {"even rows only",  2,   0,   2000,   0},
    {"odd rows only",   0,   3,   0,      3000},
    {"saturated",       255, 255, 255000, 255000},
};
// clang-format on

TEST(MeasurementWindow, SumsByRowParityAndIgnoresTheRest)
{
    for (const WindowCase &c : kWindows) {
        SCOPED_TRACE(c.name);
        // Everything outside the window is bright, so a byte counted outside it shows.
        Bytes frame(kRowLength * 24, 200);
        for (std::size_t r = 10; r < 20; r++) std::memset(&frame[r * kRowLength + 30], r % 2 ? c.odd : c.even, 200);
        const noctil::camera::WindowSums sums = noctil::camera::sumWindow(frame, kRowLength);
        EXPECT_EQ(sums.even, c.evenSum);
        EXPECT_EQ(sums.odd, c.oddSum);
    }
}

struct UsableCase {
    std::size_t frameBytes, rowLength, keptBytes;
    bool usable;
};

// clang-format off
const UsableCase kUsable[] = {
    {4790,  240, 10000, true},   // ends exactly with the window: 19 x 240 + 230
    {4789,  240, 10000, false},
    {10000, 240, 10000, true},   // as long as the kept buffer
    {10001, 240, 10000, false},
    {4600,  230, 10000, true},   // rows of 230 bytes: 19 x 230 + 230
    {4599,  230, 10000, false},
    {0,     240, 10000, false},
    {4790,  0,   10000, false},
};
// clang-format on

TEST(MeasurementWindow, UsableFrames)
{
    EXPECT_EQ(noctil::camera::measurementWindowEnd(240), 4790u);
    for (const UsableCase &c : kUsable) {
        SCOPED_TRACE(::testing::Message() << c.frameBytes << " bytes, rows of " << c.rowLength);
        EXPECT_EQ(noctil::camera::isUsableFrame(c.frameBytes, c.rowLength, c.keptBytes), c.usable);
    }
}

}  // namespace
