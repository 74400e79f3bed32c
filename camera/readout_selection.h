// Choosing the image of a readout stream. After an exposure the first
// streamed frame switches the camera to readout and never becomes part of
// the image; the next frames are scored by the brightness of a small
// measurement window and the best is kept. On interlaced video of 480 or 576
// lines the brighter field of each frame is kept over two passes, one for
// the odd rows and one for the even rows, since the camera reads its charge
// out one field per pass. Once kept, the image is stamped onto every frame
// the stream still delivers.
//
// The selection holds no state of its own: its step, its best score and the
// kept image are the caller's, passed in with each frame. Frames arrive at
// video rate, so nothing here allocates.
#pragma once

#include <camport.h>

#include <cstddef>
#include <cstdint>
#include <span>

// The steps of a selection, as its caller keeps them. From the first frame
// on the step counts the frames taken.
enum ReadoutSelectionStep : int {
    SELECTION_NO_EVEN_FIELD = -3,     // fields: no field won the second pass; the readout has no image
    SELECTION_NO_ODD_FIELD = -2,      // fields: no field won the first pass; the readout has no image
    SELECTION_ARMED = -1,             // waiting for the first frame, which ends the exposure
    SELECTION_RENDER = 0,             // a frame is kept: the final image stamps it onto every frame
    SELECTION_ARMED_ON_FRAME = 1,     // the first frame came: the camera reads out
    SELECTION_WHOLE_FRAME_DONE = 3,   // whole frames: the count at which the best is kept
    SELECTION_FIELD_SECOND_PASS = 3,  // fields: the count at which the second pass begins
    SELECTION_FIELD_DONE = 5,         // fields: the count at which both fields are kept
};

namespace noctil::camera {

// The measurement window: rows 10 to 19, bytes 30 to 229 of each row.
inline constexpr std::size_t WINDOW_FIRST_ROW = 10;
inline constexpr std::size_t WINDOW_ROWS = 10;
inline constexpr std::size_t WINDOW_FIRST_BYTE = 30;
inline constexpr std::size_t WINDOW_BYTES = 200;

// The window's sums by row parity.
struct WindowSums {
    std::int32_t even;  // rows 10, 12, ..., 18
    std::int32_t odd;   // rows 11, 13, ..., 19
};

// The bytes a frame of rows of `rowLength` needs to hold the window.
std::size_t measurementWindowEnd(std::size_t rowLength);

// Sums the window of a frame at least measurementWindowEnd(rowLength) long.
WindowSums sumWindow(std::span<const std::uint8_t> frame, std::size_t rowLength);

// A frame the selection can work with: rows of a known height, no longer
// than the kept image's buffer, and long enough to hold the window. Any
// other frame is refused whole, in every step: it is not armed on, scored,
// kept or overwritten.
bool isUsableFrame(std::size_t frameBytes, std::size_t rowLength, std::size_t keptBytes);

// Copies the rows of one parity of `frame` (`fieldRows` of them) into the
// rows of `targetParity` of `kept`: how a pass's field takes its place among
// the odd or even rows of the image.
void copyField(std::span<std::uint8_t> kept, std::span<const std::uint8_t> frame, std::size_t rowLength,
               std::size_t fieldRows, int sourceParity, int targetParity);

// The caller's state of one selection: its step (ReadoutSelectionStep), the
// best score of the current contest, and the buffer of the kept image, at
// least as long as any frame the selection should take.
struct Selection {
    int &step;
    std::int32_t &bestScore;
    std::span<std::uint8_t> kept;
};

// What the caller does after a frame, in this order: write `level` to the
// camera's lines (none when NO_LEVEL), beep when `chosen` (the frame now
// carries the chosen image), and ask the stream to stop when `stop`. When
// `dropped` the readout ends without an image (missingField says why): its
// frames are nobody's image, so the stream is abandoned, not finished.
inline constexpr int NO_LEVEL = -1;
struct FrameStep {
    int level = NO_LEVEL;
    bool chosen = false;
    bool stop = false;
    bool dropped = false;
};

// Takes one streamed frame of a stream of `height` rows. The frame is
// overwritten with the kept image when the image is chosen on it or has
// been chosen before. After a readout without an image every frame is left
// alone until the caller arms the selection again.
FrameStep takeFrame(Selection selection, std::span<std::uint8_t> frame, std::uint32_t height);

// The stream has given its image.
inline bool selectionDone(int step) { return step == SELECTION_RENDER; }

// The field a selection ended without ("odd" or "even": the image's rows it
// was to fill); null while the selection runs or once it has its image.
const char *missingField(int step);

}  // namespace noctil::camera
