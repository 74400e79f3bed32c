#include "readout_selection.h"

#include <cstring>

#include "exposure_levels.h"

namespace noctil::camera {

std::size_t measurementWindowEnd(std::size_t rowLength)
{
    return (WINDOW_FIRST_ROW + WINDOW_ROWS - 1) * rowLength + WINDOW_FIRST_BYTE + WINDOW_BYTES;
}

WindowSums sumWindow(std::span<const std::uint8_t> frame, std::size_t rowLength)
{
    WindowSums sums = {0, 0};
    for (std::size_t row = WINDOW_FIRST_ROW; row < WINDOW_FIRST_ROW + WINDOW_ROWS; row++) {
        std::span<const std::uint8_t> bytes = frame.subspan(row * rowLength + WINDOW_FIRST_BYTE, WINDOW_BYTES);
        std::int32_t sum = 0;
        for (std::uint8_t byte : bytes) sum += byte;
        if (row % 2 == 0)
            sums.even += sum;
        else
            sums.odd += sum;
    }
    return sums;
}

bool isUsableFrame(std::size_t frameBytes, std::size_t rowLength, std::size_t keptBytes)
{
    if (frameBytes == 0 || rowLength == 0) return false;
    if (frameBytes > keptBytes) return false;
    return frameBytes >= measurementWindowEnd(rowLength);
}

void copyField(std::span<std::uint8_t> kept, std::span<const std::uint8_t> frame, std::size_t rowLength,
               std::size_t fieldRows, int sourceParity, int targetParity)
{
    for (std::size_t k = 0; k < fieldRows; k++)
        std::memcpy(kept.data() + (2 * k + targetParity) * rowLength, frame.data() + (2 * k + sourceParity) * rowLength,
                    rowLength);
}

namespace {

// The first frame after the exposure ends the integration; it never becomes
// part of the image.
FrameStep arm(Selection s, std::span<std::uint8_t> frame, std::uint32_t height)
{
    s.step = SELECTION_ARMED_ON_FRAME;
    s.bestScore = 0;
    std::memset(s.kept.data(), 0, frame.size());
    return {readoutLevel(height), false, false};
}

// The frame on which the selection ends carries the kept image.
FrameStep finish(Selection s, std::span<std::uint8_t> frame)
{
    std::memcpy(frame.data(), s.kept.data(), frame.size());
    s.step = SELECTION_RENDER;
    return {NO_LEVEL, true, true};
}

// Whole frames: the brighter window wins; a tie keeps the earlier frame.
FrameStep measureFrame(Selection s, std::span<std::uint8_t> frame, std::size_t rowLength)
{
    WindowSums sums = sumWindow(frame, rowLength);
    std::int32_t score = sums.even + sums.odd;
    if (score > s.bestScore) {
        s.bestScore = score;
        std::memcpy(s.kept.data(), frame.data(), frame.size());
    }
    if (++s.step >= SELECTION_WHOLE_FRAME_DONE) return finish(s, frame);
    return {};
}

// A pass without a winner: none of the readout's frames holds that field,
// so the readout gives no image.
FrameStep drop(Selection s, int missingStep)
{
    s.step = missingStep;
    return {NO_LEVEL, false, true, true};
}

// Fields: a field scores by its margin over the other field of its frame;
// the largest margin of the pass wins, and equal sums never win, so a pass
// whose best score is still 0 at its end had no winner.
FrameStep measureFields(Selection s, std::span<std::uint8_t> frame, std::size_t rowLength, std::uint32_t height)
{
    std::size_t fieldRows = height / 2;
    WindowSums sums = sumWindow(frame, rowLength);
    int targetParity = s.step < SELECTION_FIELD_SECOND_PASS ? 1 : 0;
    if (sums.odd > s.bestScore + sums.even) {
        s.bestScore = sums.odd - sums.even;
        copyField(s.kept, frame, rowLength, fieldRows, 1, targetParity);
    } else if (sums.even > s.bestScore + sums.odd) {
        s.bestScore = sums.even - sums.odd;
        copyField(s.kept, frame, rowLength, fieldRows, 0, targetParity);
    }
    s.step++;
    if (s.step == SELECTION_FIELD_SECOND_PASS) {
        if (s.bestScore == 0) return drop(s, SELECTION_NO_ODD_FIELD);
        // The second pass reads the other half of the charge at its own
        // level and starts its own contest.
        s.bestScore = 0;
        return {PORT_READOUT, false, false};
    }
    if (s.step >= SELECTION_FIELD_DONE) {
        if (s.bestScore == 0) return drop(s, SELECTION_NO_EVEN_FIELD);
        return finish(s, frame);
    }
    return {};
}

// Stamps the kept image onto a frame after the choice.
FrameStep render(Selection s, std::span<std::uint8_t> frame)
{
    std::memcpy(frame.data(), s.kept.data(), frame.size());
    return {NO_LEVEL, false, true};
}

}  // namespace

const char *missingField(int step)
{
    if (step == SELECTION_NO_ODD_FIELD) return "odd";
    if (step == SELECTION_NO_EVEN_FIELD) return "even";
    return nullptr;
}

FrameStep takeFrame(Selection selection, std::span<std::uint8_t> frame, std::uint32_t height)
{
    std::size_t rowLength = height ? frame.size() / height : 0;
    if (!isUsableFrame(frame.size(), rowLength, selection.kept.size())) return {};
    if (selection.step == SELECTION_RENDER) return render(selection, frame);
    // A readout without an image takes no more frames.
    if (missingField(selection.step)) return {};
    if (selection.step == SELECTION_ARMED) return arm(selection, frame, height);
    if (isFieldModeHeight(height)) return measureFields(selection, frame, rowLength, height);
    return measureFrame(selection, frame, rowLength);
}

}  // namespace noctil::camera
