// Live video in the capture window, preview or overlay alike: a timer of the
// window at the preview rate takes the driver's newest frame, decodes it to
// a 24-bit picture with the AVI library's decoder and paints it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <vector>

#include "avicap/driver.h"

namespace plat::avicap {

class LiveVideo {
public:
    explicit LiveVideo(HWND window) : window_(window) {}

    bool preview() const { return preview_; }
    bool overlay() const { return overlay_; }

    // One kind of live video at a time: turning one on turns the other off.
    void setPreview(bool on);
    void setOverlay(bool on);
    void setRate(UINT ms);
    void stop();

    // The timer of live video is this window's timer with this id.
    static constexpr UINT_PTR kTimerId = 1;

    // Takes the driver's newest frame into `buffer` and paints it.
    void showFrame(Driver &driver, std::span<std::uint8_t> buffer);
    // Paints the last frame shown again (for WM_PAINT).
    void repaint();
    // Forgets the last frame (a new driver or format).
    void forget() { shown_ = false; }

private:
    void updateTimer();

    HWND window_;
    UINT rateMs_ = 66;
    bool preview_ = false, overlay_ = false;
    bool shown_ = false;
    std::vector<std::uint8_t> picture_;  // the last frame as a packed 24-bit DIB, reused
};

}  // namespace plat::avicap
