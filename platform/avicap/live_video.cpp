#include "avicap/live_video.h"

#include <algorithm>

#include "avifile/dib_decode.h"
#include "user/window_system.h"

namespace plat::avicap {

void LiveVideo::setPreview(bool on) {
    preview_ = on;
    if (on) overlay_ = false;
    updateTimer();
}

void LiveVideo::setOverlay(bool on) {
    overlay_ = on;
    if (on) preview_ = false;
    updateTimer();
}

// A rate of 0 would fire on every pass of the loop; 1 ms is the floor.
void LiveVideo::setRate(UINT ms) {
    rateMs_ = std::max<UINT>(1, ms);
    updateTimer();
}

void LiveVideo::stop() {
    preview_ = overlay_ = false;
    updateTimer();
}

// Frames arrive through the message loop, as timer messages of the window.
void LiveVideo::updateTimer() {
    if (preview_ || overlay_)
        SetTimer(window_, kTimerId, rateMs_, nullptr);
    else
        KillTimer(window_, kTimerId);
}

void LiveVideo::showFrame(Driver &driver, std::span<std::uint8_t> buffer) {
    const std::size_t used = driver.grabFrame(buffer);
    if (used == 0) return;  // no new frame yet: the last one stays up
    const BITMAPINFOHEADER &f = driver.format();
    const auto *format = reinterpret_cast<const std::uint8_t *>(&f);
    if (!avi::decodeToDib24({format, sizeof f}, buffer.first(used), picture_)) return;
    shown_ = true;
    repaint();
}

void LiveVideo::repaint() {
    if (!shown_ || picture_.size() < sizeof(BITMAPINFOHEADER)) return;
    BITMAPINFO info{};
    std::copy_n(picture_.data(), sizeof(BITMAPINFOHEADER), reinterpret_cast<std::uint8_t *>(&info.bmiHeader));
    const auto width = static_cast<DWORD>(info.bmiHeader.biWidth);
    const auto height = static_cast<DWORD>(info.bmiHeader.biHeight);
    user::drawDib(window_, 0, 0, width, height, 0, 0, 0, static_cast<UINT>(height),
                  picture_.data() + sizeof(BITMAPINFOHEADER), &info);
}

}  // namespace plat::avicap
