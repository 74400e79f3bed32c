// The readout selection, driven frame by frame with synthetic frames the
// way the capture driver delivers them, checked through what the platform
// saw: camera port writes, beeps, stop requests and the frames the driver
// gets back. What the selection holds (its state, its best score, the kept
// image) shows in what it does with the frames that follow.
#include <gtest/gtest.h>
#include <camport.h>

#include <cstring>

#include "alloc_counter.h"
#include "avicap/driver.h"
#include "avicap/stream_record.h"
#include "readout_test_support.h"

namespace {

using noctil_test::ProgramSession;
using noctil_test::StopRecorder;

constexpr BYTE kPortReadout = PORT_READOUT;
constexpr BYTE kPortReadout480 = PORT_READOUT_480;

// A row's first byte tags the frame and the row's parity, so a row of the
// kept image tells where it came from.
BYTE RowTag(int frame, int parity) { return (BYTE)(frame * 2 + parity + 1); }

// One frame in the driver's layout. The measurement window (rows 10-19,
// bytes 30-229) holds `even` in its even rows and `odd` in its odd rows,
// so the even and odd sums are 1000 x even and 1000 x odd.
struct TestFrame {
    TestFrame(DWORD rowLength, UINT rows, int id, BYTE even, BYTE odd) : rowLength(rowLength)
    {
        bytes.assign((size_t)rowLength * rows, 0);
        for (UINT r = 0; r < rows; r++) {
            bytes[(size_t)r * rowLength] = RowTag(id, r % 2);
            bytes[(size_t)r * rowLength + rowLength - 1] = (BYTE)id;
        }
        for (UINT r = 10; r < 20; r++) memset(&bytes[(size_t)r * rowLength + 30], r % 2 ? odd : even, 200);
        original = bytes;
        header.lpData = bytes.data();
        header.dwBufferLength = (DWORD)bytes.size();
    }
    TestFrame(const TestFrame &) = delete;

    std::vector<BYTE> Row(UINT r) const
    {
        return std::vector<BYTE>(original.begin() + (long)r * rowLength, original.begin() + (long)(r + 1) * rowLength);
    }

    DWORD rowLength;
    std::vector<BYTE> bytes;
    std::vector<BYTE> original;
    VIDEOHDR header{};
};

LRESULT Deliver(TestFrame &frame) { return ReadoutFrameCallback(nullptr, &frame.header); }

// In the render state a frame comes back as the kept image (as much of it
// as the frame holds) and asks for a stop, with no beep and no port write;
// no other state does that. `kept` gives the probe frame's length, in rows
// of the capture height.
::testing::AssertionResult Renders(const ProgramSession &program, const StopRecorder &capture,
                                   const std::vector<BYTE> &kept, bool stops = true)
{
    const UINT height = app.captureStatus.uiImageHeight;
    const size_t beeps = program.beeps(), port = program.portValues().size();
    const int stopsBefore = capture.stops;
    TestFrame probe((DWORD)(kept.size() / height), height, 99, 0, 0);
    if (Deliver(probe) != 1) return ::testing::AssertionFailure() << "the probe frame was not taken";
    if (probe.bytes != kept) return ::testing::AssertionFailure() << "the probe frame is not the kept image";
    if (capture.stops != stopsBefore + (stops ? 1 : 0))
        return ::testing::AssertionFailure() << (capture.stops - stopsBefore) << " stop requests for the probe frame";
    if (program.beeps() != beeps) return ::testing::AssertionFailure() << "the probe frame beeped";
    if (program.portValues().size() != port) return ::testing::AssertionFailure() << "the probe frame wrote the port";
    return ::testing::AssertionSuccess();
}

// Frames of one window value (by default all zero: they never win a
// contest) delivered until the selection ends, at most six: how many it
// took, the port writes they brought, and either the frame it finished on
// with its beep or the field it ended without.
struct Continuation {
    int frames = 0;
    std::vector<std::uint8_t> port;
    std::vector<BYTE> finished;
    const char *missing = nullptr;
};

Continuation ContinueToTheEnd(const ProgramSession &program, DWORD rowLength, BYTE even = 0, BYTE odd = 0)
{
    const UINT height = app.captureStatus.uiImageHeight;
    const size_t beeps = program.beeps(), port = program.portValues().size();
    Continuation c;
    while (c.frames < 6 && program.beeps() == beeps && c.missing == nullptr) {
        TestFrame frame(rowLength, height, 90 + c.frames, even, odd);
        Deliver(frame);
        c.frames++;
        c.finished = frame.bytes;
        c.missing = noctil::camera::missingField(app.SelectionState);
    }
    const std::vector<std::uint8_t> values = program.portValues();
    c.port.assign(values.begin() + (long)port, values.end());
    if (program.beeps() == beeps) c.finished.clear();
    return c;
}

class ReadoutSelection : public ::testing::Test {
protected:
    void UseHeight(UINT height) { app.captureStatus.uiImageHeight = height; }
    void UseCaptureWindow() { app.captureWindow = capture.window; }

    ProgramSession program;
    StopRecorder capture;
};

// ---- Whole-frame mode --------------------------------------------------------------

struct WholeFrameCase {
    const char *name;
    UINT height;
    BYTE arming, second, third;  // window value of frames 1, 2 and 3
    int kept;                    // 2 or 3, or 0 for an all-zero image
};

const WholeFrameCase kWholeFrameCases[] = {
    {"equal scores keep frame 2", 288, 0, 5, 5, 2},
    {"zero scores keep nothing", 240, 0, 0, 0, 0},
    {"brighter frame 3 replaces frame 2", 240, 0, 3, 7, 3},
    {"darker frame 3 leaves frame 2", 600, 0, 9, 2, 2},
    {"bright arming frame is never kept", 288, 255, 0, 0, 0},
    {"bright arming frame does not raise the bar", 574, 255, 1, 2, 3},
    {"height above 576 uses whole frames", 960, 0, 4, 1, 2},
    {"heights between 480 and 576 use whole frames", 540, 0, 4, 1, 2},
};

TEST(ReadoutSelectionCases, WholeFrameModeKeepsTheBrighterOfFramesTwoAndThree)
{
    for (const WholeFrameCase &c : kWholeFrameCases) {
        SCOPED_TRACE(c.name);
        ProgramSession program;
        StopRecorder capture;
        app.captureWindow = capture.window;
        app.captureStatus.uiImageHeight = c.height;
        // At most 1,769,472 bytes: 640 bytes a row for the tall heights.
        DWORD rowLength = c.height > 576 ? 640 : 1280;
        TestFrame frames[] = {{rowLength, c.height, 1, c.arming, c.arming},
                              {rowLength, c.height, 2, c.second, c.second},
                              {rowLength, c.height, 3, c.third, c.third}};
        size_t length = frames[0].bytes.size();

        for (TestFrame &frame : frames) EXPECT_EQ(Deliver(frame), 1);

        std::vector<BYTE> expected = c.kept ? frames[c.kept - 1].original : std::vector<BYTE>(length, 0);
        EXPECT_EQ(program.portValues(), std::vector<std::uint8_t>{kPortReadout});
        EXPECT_EQ(program.beeps(), 1u);
        EXPECT_EQ(capture.stops, 1);
        EXPECT_EQ(frames[0].bytes, frames[0].original) << "the arming frame is not changed";
        EXPECT_EQ(frames[1].bytes, frames[1].original) << "a measured frame is not changed";
        EXPECT_TRUE(frames[2].bytes == expected) << "Finish stamps the kept image on frame 3";
        EXPECT_TRUE(Renders(program, capture, expected));
    }
}

TEST_F(ReadoutSelection, ArmingClearsWhatAnEarlierSelectionKept)
{
    UseHeight(240);
    UseCaptureWindow();
    memset(app.BestFrameBuffer, 0xAB, sizeof app.BestFrameBuffer);
    TestFrame arming(1920, 240, 1, 9, 9);
    Deliver(arming);
    // Armed on this frame: two more frames finish the selection, and with
    // nothing brighter than zero the image is the cleared one.
    const Continuation c = ContinueToTheEnd(program, 1920);
    EXPECT_EQ(c.frames, 2);
    EXPECT_EQ(c.port, std::vector<std::uint8_t>{});
    const size_t length = arming.bytes.size();
    EXPECT_TRUE(c.finished == std::vector<BYTE>(length, 0));
    // Only the frame's length is cleared: a longer frame shows the rest.
    std::vector<BYTE> longer(2 * length, 0xAB);
    std::fill(longer.begin(), longer.begin() + (long)length, 0);
    EXPECT_TRUE(Renders(program, capture, longer));
}

TEST_F(ReadoutSelection, ArmingStartsAFreshContestAfterAnEarlierOne)
{
    UseHeight(240);
    app.SelectionState = SELECTION_ARMED;
    app.bestScore = 400000;  // left from an earlier readout
    TestFrame arming(1920, 240, 1, 0, 0), dim(1920, 240, 2, 1, 1);
    Deliver(arming);
    Deliver(dim);
    // The dim frame's score is the one to beat: an equal one does not.
    TestFrame equal(1920, 240, 3, 1, 1);
    Deliver(equal);
    EXPECT_EQ(program.beeps(), 1u);
    EXPECT_EQ(equal.bytes, dim.original);
    EXPECT_TRUE(Renders(program, capture, dim.original, false));
}

// ---- Field mode ---------------------------------------------------------------------

struct Source {
    int frame;   // 2 to 5, or 0 for rows left at zero
    int parity;  // row parity the field came from
};

struct FieldCase {
    const char *name;
    BYTE even[4], odd[4];  // window values of frames 2, 3, 4 and 5
    Source oddRows, evenRows;
};

const FieldCase kFieldCases[] = {
    {"odd fields win both passes", {0, 0, 0, 0}, {5, 0, 5, 0}, {2, 1}, {4, 1}},
    {"an even field moves to the odd rows, an odd one to the even rows", {6, 1, 1, 1}, {1, 1, 6, 1}, {2, 0}, {4, 1}},
    {"an equal margin keeps the earlier field", {4, 1, 2, 5}, {1, 4, 4, 3}, {2, 0}, {4, 1}},
    {"a larger margin later wins", {2, 1, 0, 7}, {1, 9, 0, 0}, {3, 1}, {5, 0}},
    {"the second pass has a contest of its own", {0, 0, 1, 0}, {9, 0, 2, 0}, {2, 1}, {4, 1}},
    {"fields arrive in reverse order, each pass won late", {0, 7, 2, 0}, {0, 0, 2, 3}, {3, 0}, {5, 1}},
};

// One field-mode readout on a fresh program session with a stand-in capture
// window: the arming frame (bright, yet it never competes) and frames 2 to 5
// with the given windows, by their number in the stream.
struct FieldReadout {
    FieldReadout(DWORD rowLength, UINT height, const BYTE (&even)[4], const BYTE (&odd)[4])
        : frames{{rowLength, height, 1, 200, 10},
                 {rowLength, height, 2, even[0], odd[0]},
                 {rowLength, height, 3, even[1], odd[1]},
                 {rowLength, height, 4, even[2], odd[2]},
                 {rowLength, height, 5, even[3], odd[3]}}
    {
        app.captureWindow = capture.window;
        app.captureStatus.uiImageHeight = height;
    }
    TestFrame &frame(int number) { return frames[number - 1]; }

    ProgramSession program;
    StopRecorder capture;
    TestFrame frames[5];
};

TEST(ReadoutSelectionCases, FieldModeAssemblesTheWinningFieldsOfTwoPasses)
{
    const DWORD rowLength = 1280;  // 640 pixels of packed YUV
    // 480-line and 576-line interlaced video alike: 240 or 288 rows a field.
    for (UINT height : {480u, 576u})
        for (const FieldCase &c : kFieldCases) {
            SCOPED_TRACE(::testing::Message() << height << " lines, " << c.name);
            FieldReadout r(rowLength, height, c.even, c.odd);
            ProgramSession &program = r.program;
            StopRecorder &capture = r.capture;
            TestFrame &f5 = r.frame(5);

            Deliver(r.frame(1));
            EXPECT_EQ(program.portValues(), std::vector<std::uint8_t>{kPortReadout480});
            Deliver(r.frame(2));
            Deliver(r.frame(3));
            EXPECT_EQ(program.portValues(), (std::vector<std::uint8_t>{kPortReadout480, kPortReadout}))
                << "the second pass's level comes with frame 3";
            EXPECT_EQ(program.beeps(), 0u);
            Deliver(r.frame(4));
            Deliver(f5);

            EXPECT_EQ(program.beeps(), 1u);
            EXPECT_EQ(capture.stops, 1);
            EXPECT_EQ(program.portValues().size(), 2u);
            // Finish stamps the kept image on frame 5; the second pass's
            // own contest shows in "the second pass has a contest of its own".
            for (UINT row = 0; row < height; row++) {
                const Source &source = row % 2 ? c.oddRows : c.evenRows;
                std::vector<BYTE> expected = source.frame ? r.frame(source.frame).Row(row / 2 * 2 + source.parity)
                                                          : std::vector<BYTE>(rowLength, 0);
                std::vector<BYTE> kept(f5.bytes.begin() + (long)(row * rowLength),
                                       f5.bytes.begin() + (long)((row + 1) * rowLength));
                ASSERT_TRUE(kept == expected) << "row " << row;
            }
            EXPECT_TRUE(Renders(program, capture, f5.bytes));
            EXPECT_EQ(r.frame(4).bytes, r.frame(4).original);
        }
}

// A pass that no field won: the readout ends on the pass's last frame
// without an image. It is aborted, not stopped, with no beep; no frame
// carries an image, and the frames that still come are left alone.
struct MissingFieldCase {
    const char *name;
    BYTE even[4], odd[4];  // window values of frames 2, 3, 4 and 5
    int lastFrame;         // the frame the readout ends on
    const char *missing;
};

const MissingFieldCase kMissingFieldCases[] = {
    {"equal field sums copy nothing", {3, 3, 3, 3}, {3, 3, 3, 3}, 3, "odd"},
    {"the first pass without a winner ends the readout", {0, 0, 8, 0}, {0, 0, 1, 0}, 3, "odd"},
    {"the second pass without a winner", {5, 0, 3, 3}, {0, 0, 3, 3}, 5, "even"},
    {"a field of the first pass never wins the second", {0, 0, 0, 0}, {9, 0, 0, 0}, 5, "even"},
};

TEST(ReadoutSelectionCases, FieldModeWithoutAFieldEndsTheReadoutWithoutAnImage)
{
    const DWORD rowLength = 1280;
    for (UINT height : {480u, 576u})
        for (const MissingFieldCase &c : kMissingFieldCases) {
            SCOPED_TRACE(::testing::Message() << height << " lines, " << c.name);
            FieldReadout r(rowLength, height, c.even, c.odd);
            ProgramSession &program = r.program;
            StopRecorder &capture = r.capture;
            for (TestFrame &frame : r.frames) EXPECT_EQ(Deliver(frame), 1);

            const std::vector<std::uint8_t> port =
                c.lastFrame == 3 ? std::vector<std::uint8_t>{kPortReadout480}
                                 : std::vector<std::uint8_t>{kPortReadout480, kPortReadout};
            EXPECT_EQ(program.portValues(), port) << "the second pass is read only after a first with its field";
            EXPECT_EQ(program.beeps(), 0u);
            EXPECT_EQ(capture.stops, 0);
            EXPECT_EQ(capture.aborts, 1) << "aborted once, on frame " << c.lastFrame;
            EXPECT_STREQ(noctil::camera::missingField(app.SelectionState), c.missing);
            for (const TestFrame &frame : r.frames) EXPECT_EQ(frame.bytes, frame.original) << "no frame carries an image";
            // A later frame changes nothing, asks for nothing.
            TestFrame later(rowLength, height, 6, 0, 9);
            Deliver(later);
            EXPECT_EQ(later.bytes, later.original);
            EXPECT_EQ(capture.aborts + capture.stops, 1);
            EXPECT_EQ(program.portValues(), port);
        }
}

TEST(ReadoutSelectionCases, FieldMarginIsTheScoreOfThePass)
{
    // Frame 2's odd field leads by 5000; frame 3's even field takes the odd
    // rows only with a larger margin. Frame 4's even field leads by 1000 and
    // wins the second pass, whose contest starts from zero.
    struct Case {
        BYTE even3;
        BYTE oddRowsTag;
    } cases[] = {{9, RowTag(3, 0)}, {7, RowTag(3, 0)}, {6, RowTag(2, 1)}};
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << "frame 3's even window " << int(c.even3));
        ProgramSession program;
        app.captureStatus.uiImageHeight = 480;
        TestFrame arming(1280, 480, 1, 0, 0), f2(1280, 480, 2, 2, 7), f3(1280, 480, 3, c.even3, 1),
            f4(1280, 480, 4, 1, 0), f5(1280, 480, 5, 0, 0);
        for (TestFrame *frame : {&arming, &f2, &f3, &f4, &f5}) Deliver(*frame);
        EXPECT_EQ(program.beeps(), 1u);
        EXPECT_EQ(f5.bytes[1 * 1280], c.oddRowsTag);
        EXPECT_EQ(f5.bytes[0], RowTag(4, 0)) << "the second pass's contest starts from zero";
    }
}

// ---- Render, nesting and early ends ----------------------------------------------

TEST_F(ReadoutSelection, RenderStampsTheKeptImageOnEveryFrame)
{
    UseHeight(240);
    UseCaptureWindow();
    app.SelectionState = SELECTION_RENDER;
    for (size_t i = 0; i < sizeof app.BestFrameBuffer; i++) app.BestFrameBuffer[i] = (BYTE)(i * 7);
    std::vector<BYTE> kept(960 * 240);
    for (size_t i = 0; i < kept.size(); i++) kept[i] = (BYTE)(i * 7);
    TestFrame frames[] = {{960, 240, 1, 9, 9}, {960, 240, 2, 0, 0}, {960, 240, 3, 4, 4}};
    int n = 0;
    for (TestFrame &frame : frames) {
        EXPECT_EQ(Deliver(frame), 1);
        EXPECT_TRUE(frame.bytes == kept);
        EXPECT_EQ(capture.stops, ++n) << "every rendered frame asks for a stop";
    }
    EXPECT_TRUE(Renders(program, capture, kept));
    EXPECT_EQ(program.beeps(), 0u);
    EXPECT_TRUE(program.portValues().empty());
}

TEST_F(ReadoutSelection, WithoutACaptureWindowNoStopIsRequested)
{
    UseHeight(288);
    app.captureWindow = nullptr;
    TestFrame frames[] = {{768, 288, 1, 0, 0}, {768, 288, 2, 3, 3}, {768, 288, 3, 1, 1}};
    for (TestFrame &frame : frames) Deliver(frame);
    EXPECT_EQ(program.beeps(), 1u);
    EXPECT_EQ(capture.stops, 0);
    EXPECT_TRUE(Renders(program, capture, frames[1].original, false));
}

TEST(ReadoutSelectionCases, AFrameDeliveredDuringTheStopRequestIsIgnored)
{
    for (int startState : {SELECTION_ARMED_ON_FRAME, SELECTION_RENDER}) {  // Finish of a selection, and Render
        SCOPED_TRACE(startState ? "Finish" : "Render");
        ProgramSession program;
        StopRecorder capture;
        app.captureWindow = capture.window;
        app.captureStatus.uiImageHeight = 288;
        app.SelectionState = startState;
        memset(app.BestFrameBuffer, 0x5A, sizeof app.BestFrameBuffer);
        TestFrame nested(768, 288, 9, 200, 200);
        LRESULT nestedResult = 0;
        capture.onStop = [&] { nestedResult = Deliver(nested); };
        TestFrame outer(768, 288, 2, 1, 1), last(768, 288, 3, 0, 0);
        Deliver(outer);
        if (startState) Deliver(last);

        EXPECT_GE(capture.stops, 1);
        EXPECT_EQ(nestedResult, 1);
        // Inside the request the frame counts as nested: it is neither
        // scored, copied nor overwritten, though the state stamps frames.
        EXPECT_EQ(nested.bytes, nested.original) << "neither scored, copied nor overwritten";
        EXPECT_EQ(program.beeps(), startState ? 1u : 0u);
        // Once out of it, frames are stamped again.
        capture.onStop = nullptr;
        EXPECT_TRUE(Renders(program, capture, startState ? outer.original : std::vector<BYTE>(768 * 288, 0x5A)));
    }
}

TEST(ReadoutSelectionCases, ACaptureThatEndsEarlyLeavesNoImage)
{
    // Where the selection stands shows in how many more frames it takes to
    // finish, and in the levels they bring.
    struct Case {
        UINT height;
        int frames;
        std::vector<std::uint8_t> port;
        int framesToFinish;
        std::vector<std::uint8_t> portToFinish;
        const char *missing;  // the field the dark frames leave it without
    } cases[] = {
        {288, 2, {kPortReadout}, 1, {}, nullptr},
        {240, 1, {kPortReadout}, 2, {}, nullptr},
        {576, 4, {kPortReadout480, kPortReadout}, 1, {}, nullptr},
        {480, 4, {kPortReadout480, kPortReadout}, 1, {}, nullptr},
        {480, 2, {kPortReadout480}, 3, {kPortReadout}, "even"},
        {480, 0, {}, 3, {kPortReadout480}, "odd"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.height << " lines, " << c.frames << " frames");
        ProgramSession program;
        StopRecorder capture;
        app.captureWindow = capture.window;
        app.captureStatus.uiImageHeight = c.height;
        for (int i = 0; i < c.frames; i++) {
            TestFrame frame(640, c.height, i + 1, 9, 1);
            Deliver(frame);
        }
        EXPECT_EQ(program.beeps(), 0u);
        EXPECT_EQ(capture.stops, 0);
        EXPECT_EQ(program.portValues(), c.port);
        const Continuation more = ContinueToTheEnd(program, 640);
        EXPECT_EQ(more.frames, c.framesToFinish);
        EXPECT_EQ(more.port, c.portToFinish);
        EXPECT_EQ(more.missing == nullptr ? "" : more.missing, std::string(c.missing ? c.missing : ""));
        EXPECT_EQ(program.beeps(), c.missing ? 0u : 1u);
    }
}

// ---- Frames the selection cannot use -------------------------------------------------

TEST(ReadoutSelectionCases, FramesThatCannotBeScoredAreRefusedWhole)
{
    struct Case {
        const char *name;
        UINT height;
        size_t length;
    } cases[] = {
        {"longer than the best-frame buffer", 480, BEST_FRAME_BYTES + 480},
        {"longer by one byte", 576, BEST_FRAME_BYTES + 1},
        {"capture height 0", 0, 614400},
        {"rows too short for the window", 20, 2000},
        {"fewer bytes than rows", 480, 300},
        {"no bytes", 240, 0},
    };
    for (const Case &c : cases) {
        for (int state : {SELECTION_ARMED, SELECTION_ARMED_ON_FRAME, SELECTION_RENDER}) {
            SCOPED_TRACE(::testing::Message() << c.name << ", state " << state);
            ProgramSession program;
            StopRecorder capture;
            app.captureWindow = capture.window;
            app.captureStatus.uiImageHeight = c.height;
            app.SelectionState = state;
            memset(app.BestFrameBuffer, 0x33, sizeof app.BestFrameBuffer);
            std::vector<BYTE> bytes(c.length, 0xC8), original = bytes;
            VIDEOHDR header{};
            header.lpData = bytes.data();
            header.dwBufferLength = (DWORD)bytes.size();

            EXPECT_EQ(ReadoutFrameCallback(nullptr, &header), 1);
            EXPECT_EQ(bytes, original);
            EXPECT_TRUE(program.portValues().empty());
            EXPECT_EQ(capture.stops, 0);
            if (state != SELECTION_RENDER) {
                // Arming clears the kept image before any frame shows it, and
                // dark field-mode frames end the readout without one, so no
                // later frame can show what a refused frame might have left
                // in it here: read it directly.
                EXPECT_EQ(app.BestFrameBuffer[0], 0x33);
                EXPECT_EQ(app.BestFrameBuffer[BEST_FRAME_BYTES - 1], 0x33);
            }
            // Frames of the largest size the selection takes go on from the
            // state the refused frame found, and show the kept image whole.
            app.captureStatus.uiImageHeight = 576;
            const std::vector<BYTE> untouched(BEST_FRAME_BYTES, 0x33);
            if (state == SELECTION_RENDER) {
                EXPECT_TRUE(Renders(program, capture, untouched));
                continue;
            }
            // Dark frames: the first pass ends without its field.
            const Continuation more = ContinueToTheEnd(program, BEST_FRAME_BYTES / 576);
            EXPECT_STREQ(more.missing, "odd");
            if (state == SELECTION_ARMED_ON_FRAME) {
                EXPECT_EQ(more.frames, 2);
                EXPECT_EQ(more.port, std::vector<std::uint8_t>{});
            } else {
                EXPECT_EQ(more.frames, 3);
                EXPECT_EQ(more.port, std::vector<std::uint8_t>{kPortReadout480});
            }
        }
    }
}

TEST(ReadoutSelectionCases, TheLargestFramesThatFitAreUsed)
{
    struct Case {
        const char *name;
        UINT height;
        DWORD rowLength;
        BYTE port;
        int framesToFinish;  // after the arming frame and the bright one
    } cases[] = {
        {"640 x 480 at four bytes a pixel", 480, 2560, kPortReadout480, 3},
        {"768 x 576 at four bytes a pixel, the most a frame may have", 576, 3072, kPortReadout480, 3},
        {"twenty rows of 230 bytes hold the window exactly", 20, 230, kPortReadout, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ProgramSession program;
        app.captureStatus.uiImageHeight = c.height;
        TestFrame arming(c.rowLength, c.height, 1, 0, 0), bright(c.rowLength, c.height, 2, 6, 200);
        Deliver(arming);
        Deliver(bright);
        EXPECT_EQ(program.portValues(), std::vector<std::uint8_t>{c.port});
        // The bright frame won: the image finished on its odd rows. The
        // frames after it carry a dim even field, which wins only a contest
        // of its own: the second pass of field mode.
        const Continuation more = ContinueToTheEnd(program, c.rowLength, 1, 0);
        EXPECT_EQ(more.frames, c.framesToFinish);
        ASSERT_EQ(more.finished.size(), bright.bytes.size());
        EXPECT_TRUE(std::vector<BYTE>(more.finished.begin() + c.rowLength, more.finished.begin() + 2 * c.rowLength) ==
                    bright.Row(1));
    }
}

TEST_F(ReadoutSelection, FramesArriveWithoutAnyAllocation)
{
    UseHeight(480);
    TestFrame frames[] = {{1280, 480, 1, 0, 0}, {1280, 480, 2, 0, 9}, {1280, 480, 3, 9, 0}, {1280, 480, 4, 1, 5}};
    TestFrame render(1280, 480, 6, 0, 0);
    Deliver(frames[0]);  // the port's first write may set up its log
    alloc_counter::start();
    for (size_t i = 1; i < 4; i++) Deliver(frames[i]);
    app.SelectionState = SELECTION_RENDER;
    Deliver(render);
    EXPECT_EQ(alloc_counter::stop(), 0u);
    EXPECT_EQ(program.portValues().size(), 2u);
}

// The program's readout through a real capture window and the simulated
// camera: from the first streamed frame to the last, nothing is allocated,
// the port writes, the beep and the stop request included. The first
// readout brings up what every readout shares.
const plat::avicap::StreamRecord *lastReadout()
{
    return &plat::session().component<plat::avicap::StreamRecords>().last(false);
}

struct HeapAtFrames {
    int frames = 0;
    size_t atFirst = 0, atLast = 0;
};
HeapAtFrames heapAtFrames;

LRESULT CALLBACK CountingReadout(HWND window, LPVIDEOHDR header)
{
    if (heapAtFrames.frames++ == 0) heapAtFrames.atFirst = alloc_counter::counted();
    LRESULT result = ReadoutFrameCallback(window, header);
    heapAtFrames.atLast = alloc_counter::counted();
    return result;
}

TEST(ReadoutSelectionCases, AReadoutThroughTheCaptureWindowAllocatesNothingPerFrame)
{
    struct Case {
        const char *name;
        LONG width, height;
        int frames;  // the selection's frames: arming, scored, finishing
        std::vector<std::uint8_t> port;
    } cases[] = {
        {"field mode", 640, 480, 5, {0x09, 0x08}},
        {"field mode on 576 lines", 720, 576, 5, {0x09, 0x08}},
        {"whole frames", 320, 240, 3, {0x08}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ProgramSession program;
        app.captureWindow = capCreateCaptureWindowA("capture", WS_VISIBLE, 0, 0, 160, 120, nullptr, 0);
        ASSERT_TRUE(SendMessageA(app.captureWindow, WM_CAP_DRIVER_CONNECT, 0, 0));
        BITMAPINFOHEADER format = plat::avicap::makeFormat(c.width, c.height, 24, BI_RGB);
        ASSERT_TRUE(SendMessageA(app.captureWindow, WM_CAP_SET_VIDEOFORMAT, sizeof format, (LPARAM)&format));
        SendMessageA(app.captureWindow, WM_CAP_GET_STATUS, sizeof app.captureStatus, (LPARAM)&app.captureStatus);
        CAPTUREPARMS parms{};
        SendMessageA(app.captureWindow, WM_CAP_GET_SEQUENCE_SETUP, sizeof parms, (LPARAM)&parms);
        parms.fLimitEnabled = TRUE;
        parms.wTimeLimit = 2;
        SendMessageA(app.captureWindow, WM_CAP_SET_SEQUENCE_SETUP, sizeof parms, (LPARAM)&parms);
        SendMessageA(app.captureWindow, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, (LPARAM)CountingReadout);

        for (int readout = 0; readout < 2; readout++) {
            SCOPED_TRACE(readout ? "second readout" : "first readout");
            app.SelectionState = SELECTION_ARMED;
            heapAtFrames = HeapAtFrames{};
            const size_t portWrites = program.portValues().size();
            {
                alloc_counter::Scope scope;
                SendMessageA(app.captureWindow, WM_CAP_SEQUENCE_NOFILE, 0, 0);
            }
            EXPECT_EQ(heapAtFrames.frames, c.frames);
            EXPECT_EQ(program.beeps(), size_t(readout + 1));
            const std::vector<std::uint8_t> port = program.portValues();
            EXPECT_EQ(std::vector<std::uint8_t>(port.begin() + (long)portWrites, port.end()), c.port);
            // The selection renders now: a frame comes back as the kept
            // image, the same every time, without a beep or a port write.
            TestFrame first((DWORD)c.width * 3, (UINT)c.height, 7, 0, 0),
                second((DWORD)c.width * 3, (UINT)c.height, 8, 0, 0);
            Deliver(first);
            Deliver(second);
            EXPECT_NE(first.bytes, first.original);
            EXPECT_EQ(first.bytes, second.bytes);
            EXPECT_EQ(program.beeps(), size_t(readout + 1));
            EXPECT_EQ(program.portValues().size(), port.size());
            EXPECT_EQ(lastReadout()->frames, std::uint32_t(c.frames));
            if (readout) {
                EXPECT_EQ(heapAtFrames.atLast - heapAtFrames.atFirst, 0u);
            }
        }
        DestroyWindow(app.captureWindow);
    }
}

}  // namespace
