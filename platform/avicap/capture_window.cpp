// The capture window: a window class of the platform through which a
// program connects a capture driver, watches its live video and streams its
// frames, to a video-stream callback and into an AVI file.
//
// Streaming runs on the calling thread, nested in the message that started
// it, paced by the platform clock; it returns once the stream has ended.
// Messages of the capture range that the window does not implement are
// reported on standard error and passed on to DefWindowProcA.
#include <windows.h>
#include <vfw.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "avicap/driver.h"
#include "avifile/avi_writer.h"
#include "core/session.h"
#include "files/paths.h"
#include "user/window_system.h"

namespace plat::avicap {

namespace {

constexpr const char *kClassName = "NoctilCaptureWindow";
constexpr UINT_PTR kVideoTimer = 1;
constexpr const char *kDefaultCaptureFile = "C:\\CAPTURE.AVI";

const char *captureMessageName(UINT message) {
    switch (message) {
    case WM_CAP_SET_CALLBACK_ERRORA: return "WM_CAP_SET_CALLBACK_ERRORA";
    case WM_CAP_SET_CALLBACK_STATUSA: return "WM_CAP_SET_CALLBACK_STATUSA";
    case WM_CAP_SET_CALLBACK_YIELD: return "WM_CAP_SET_CALLBACK_YIELD";
    case WM_CAP_SET_CALLBACK_FRAME: return "WM_CAP_SET_CALLBACK_FRAME";
    case WM_CAP_SET_CALLBACK_VIDEOSTREAM: return "WM_CAP_SET_CALLBACK_VIDEOSTREAM";
    case WM_CAP_DRIVER_CONNECT: return "WM_CAP_DRIVER_CONNECT";
    case WM_CAP_DRIVER_DISCONNECT: return "WM_CAP_DRIVER_DISCONNECT";
    case WM_CAP_DRIVER_GET_NAMEA: return "WM_CAP_DRIVER_GET_NAMEA";
    case WM_CAP_DRIVER_GET_CAPS: return "WM_CAP_DRIVER_GET_CAPS";
    case WM_CAP_FILE_SET_CAPTURE_FILEA: return "WM_CAP_FILE_SET_CAPTURE_FILEA";
    case WM_CAP_FILE_GET_CAPTURE_FILEA: return "WM_CAP_FILE_GET_CAPTURE_FILEA";
    case WM_CAP_FILE_SAVEASA: return "WM_CAP_FILE_SAVEASA";
    case WM_CAP_DLG_VIDEOFORMAT: return "WM_CAP_DLG_VIDEOFORMAT";
    case WM_CAP_DLG_VIDEOSOURCE: return "WM_CAP_DLG_VIDEOSOURCE";
    case WM_CAP_GET_VIDEOFORMAT: return "WM_CAP_GET_VIDEOFORMAT";
    case WM_CAP_SET_VIDEOFORMAT: return "WM_CAP_SET_VIDEOFORMAT";
    case WM_CAP_SET_PREVIEW: return "WM_CAP_SET_PREVIEW";
    case WM_CAP_SET_OVERLAY: return "WM_CAP_SET_OVERLAY";
    case WM_CAP_SET_PREVIEWRATE: return "WM_CAP_SET_PREVIEWRATE";
    case WM_CAP_GET_STATUS: return "WM_CAP_GET_STATUS";
    case WM_CAP_GRAB_FRAME: return "WM_CAP_GRAB_FRAME";
    case WM_CAP_SEQUENCE: return "WM_CAP_SEQUENCE";
    case WM_CAP_SEQUENCE_NOFILE: return "WM_CAP_SEQUENCE_NOFILE";
    case WM_CAP_SET_SEQUENCE_SETUP: return "WM_CAP_SET_SEQUENCE_SETUP";
    case WM_CAP_GET_SEQUENCE_SETUP: return "WM_CAP_GET_SEQUENCE_SETUP";
    case WM_CAP_STOP: return "WM_CAP_STOP";
    case WM_CAP_ABORT: return "WM_CAP_ABORT";
    default: return nullptr;
    }
}

CAPTUREPARMS defaultSequenceSetup() {
    CAPTUREPARMS p{};
    p.dwRequestMicroSecPerFrame = 66667;  // 15 frames a second
    p.wPercentDropForError = 10;
    p.fYield = FALSE;
    p.dwIndexSize = 34952;
    p.wNumVideoRequested = 2;
    p.fCaptureAudio = TRUE;
    p.wNumAudioRequested = 4;
    // No key or mouse ends a stream here: only a stop request or the limit.
    p.vKeyAbort = 0;
    p.fAbortLeftMouse = FALSE;
    p.fAbortRightMouse = FALSE;
    p.fLimitEnabled = FALSE;
    p.wTimeLimit = 0;
    return p;
}

// Copies min(size, sizeof(T)) bytes: a caller with an older, shorter record
// gets its fields and no more.
template <class T>
BOOL copyOut(const T &record, WPARAM size, LPARAM destination) {
    if (!destination || size == 0) return FALSE;
    std::memcpy(reinterpret_cast<void *>(destination), &record, std::min<std::size_t>(size, sizeof(T)));
    return TRUE;
}

class CaptureWindow final : public StreamControl {
public:
    explicit CaptureWindow(HWND window) : window_(window) {}
    ~CaptureWindow() override { disconnect(); }

    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    bool deliverExtraFrame() override;

private:
    bool connect(WPARAM index);
    bool disconnect();
    void sizeBuffers();
    BOOL getCaps(WPARAM size, LPARAM record) const;
    BOOL getStatus(WPARAM size, LPARAM record) const;
    BOOL setSequenceSetup(WPARAM size, LPARAM record);
    BOOL setPreview(bool on);
    BOOL setOverlay(bool on);
    void updateVideoTimer();
    void showLiveFrame();
    void paintFrame(const std::uint8_t *frame);
    BOOL videoSourceDialog();
    BOOL videoFormatDialog();
    BOOL setVideoFormat(WPARAM size, LPARAM record);
    BOOL sequence(bool toFile);
    BOOL stopRequest(bool abort);
    BOOL saveCaptureFileAs(LPCSTR name);
    void deliver(std::uint8_t *frame, std::size_t used);

    HWND window_;
    std::shared_ptr<Driver> driver_;
    int driverIndex_ = -1;
    CAPTUREPARMS parms_ = defaultSequenceSetup();
    UINT previewMs_ = 66;
    bool preview_ = false, overlay_ = false;
    CAPVIDEOCALLBACK videoCallback_ = nullptr;
    std::string captureFile_ = kDefaultCaptureFile;

    // Frame buffers, sized when a driver connects or changes its format and
    // reused for every frame after that.
    std::vector<std::uint8_t> frame_;       // streamed and live frames
    std::vector<std::uint8_t> extraFrame_;  // a frame delivered from inside a stop request
    std::vector<std::uint8_t> display_;     // 24-bit rows for painting frames of other formats
    bool liveFrameShown_ = false;

    // The running stream.
    bool streaming_ = false;
    bool stopRequested_ = false;
    bool abortRequested_ = false;
    bool deliveringExtra_ = false;
    Micros streamStart_ = 0;
    DWORD framesDelivered_ = 0;
    DWORD elapsedMs_ = 0;
};

bool CaptureWindow::connect(WPARAM index) {
    if (streaming_) return false;
    // The window keeps one driver: whatever was connected goes first,
    // whether or not the new one opens.
    disconnect();
    if (index >= static_cast<WPARAM>(kMaxDrivers)) return false;
    driver_ = openInstalledDriver(static_cast<int>(index));
    if (!driver_) return false;
    driverIndex_ = static_cast<int>(index);
    sizeBuffers();
    return true;
}

bool CaptureWindow::disconnect() {
    if (!driver_ || streaming_) return false;
    preview_ = overlay_ = false;
    updateVideoTimer();
    driver_.reset();
    driverIndex_ = -1;
    liveFrameShown_ = false;
    return true;
}

void CaptureWindow::sizeBuffers() {
    const BITMAPINFOHEADER &f = driver_->format();
    const std::size_t bytes = frameBytes(f);
    frame_.assign(bytes, 0);
    extraFrame_.assign(bytes, 0);
    const std::size_t stride = (static_cast<std::size_t>(f.biWidth) * 3 + 3) & ~std::size_t{3};
    display_.assign(f.biCompression == BI_RGB ? 0 : stride * static_cast<std::size_t>(std::abs(f.biHeight)), 0);
    liveFrameShown_ = false;
}

BOOL CaptureWindow::getCaps(WPARAM size, LPARAM record) const {
    if (!driver_) return FALSE;
    CAPDRIVERCAPS caps{};
    const DriverCaps c = driver_->caps();
    caps.wDeviceIndex = static_cast<UINT>(driverIndex_);
    caps.fHasOverlay = c.overlay;
    caps.fHasDlgVideoSource = c.sourceDialog;
    caps.fHasDlgVideoFormat = c.formatDialog;
    caps.fCaptureInitialized = TRUE;
    return copyOut(caps, size, record);
}

BOOL CaptureWindow::getStatus(WPARAM size, LPARAM record) const {
    CAPSTATUS status{};
    if (driver_) {
        const BITMAPINFOHEADER &f = driver_->format();
        status.uiImageWidth = static_cast<UINT>(f.biWidth);
        status.uiImageHeight = static_cast<UINT>(std::abs(f.biHeight));
        status.wNumVideoAllocated = 2;
    }
    status.fLiveWindow = preview_;
    status.fOverlayWindow = overlay_;
    std::error_code ignored;  // a name that cannot be tested simply does not exist
    status.fCapFileExists = std::filesystem::exists(nativePath(captureFile_), ignored);
    status.dwCurrentVideoFrame = framesDelivered_;
    status.dwCurrentTimeElapsedMS = streaming_ ? toMillis(session().clock().now() - streamStart_) : elapsedMs_;
    status.fCapturingNow = streaming_;
    return copyOut(status, size, record);
}

BOOL CaptureWindow::setSequenceSetup(WPARAM size, LPARAM record) {
    if (!record || size == 0 || streaming_) return FALSE;
    CAPTUREPARMS next = parms_;
    std::memcpy(&next, reinterpret_cast<const void *>(record), std::min<std::size_t>(size, sizeof next));
    // A zero frame interval would stream without end in no time at all.
    if (next.dwRequestMicroSecPerFrame == 0) return FALSE;
    parms_ = next;
    return TRUE;
}

BOOL CaptureWindow::setPreview(bool on) {
    if (on && !driver_) return FALSE;
    preview_ = on;
    if (on) overlay_ = false;  // one kind of live video at a time
    updateVideoTimer();
    return TRUE;
}

BOOL CaptureWindow::setOverlay(bool on) {
    if (on && (!driver_ || !driver_->caps().overlay)) return FALSE;
    overlay_ = on;
    if (on) preview_ = false;
    updateVideoTimer();
    return TRUE;
}

// Live video, preview or overlay alike, is a timer of this window at the
// preview rate: frames arrive through the message loop.
void CaptureWindow::updateVideoTimer() {
    if (preview_ || overlay_)
        SetTimer(window_, kVideoTimer, previewMs_, nullptr);
    else
        KillTimer(window_, kVideoTimer);
}

void CaptureWindow::showLiveFrame() {
    if (!driver_ || streaming_ || frame_.empty()) return;
    driver_->captureFrame(session().clock().now(), frame_);
    liveFrameShown_ = true;
    paintFrame(frame_.data());
}

// Puts a frame on the window's surface. YUY2 frames are turned into 24-bit
// rows first (top-down, like the YUY2 rows themselves).
void CaptureWindow::paintFrame(const std::uint8_t *frame) {
    const BITMAPINFOHEADER &f = driver_->format();
    BITMAPINFO info{};
    info.bmiHeader = f;
    const std::uint8_t *bits = frame;
    const int height = std::abs(f.biHeight);
    if (f.biCompression != BI_RGB) {
        if (f.biCompression != kFourccYUY2 || display_.empty()) return;
        const std::size_t stride = display_.size() / static_cast<std::size_t>(height);
        for (int y = 0; y < height; ++y) {
            const std::uint8_t *in = frame + static_cast<std::size_t>(y) * static_cast<std::size_t>(f.biWidth) * 2;
            std::uint8_t *out = display_.data() + static_cast<std::size_t>(y) * stride;
            // Luminance only: the simulated cameras are monochrome, and a
            // grey picture is an honest view of any YUY2 source's brightness.
            for (int x = 0; x < f.biWidth; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = in[2 * x];
        }
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biSizeImage = static_cast<DWORD>(display_.size());
        bits = display_.data();
    }
    user::drawDib(window_, 0, 0, static_cast<DWORD>(f.biWidth), static_cast<DWORD>(height), 0, 0, 0,
                  static_cast<UINT>(height), bits, &info);
}

BOOL CaptureWindow::videoSourceDialog() {
    if (!driver_ || streaming_ || !driver_->caps().sourceDialog) return FALSE;
    std::shared_ptr<Driver> keep = driver_;  // the dialog runs messages; the driver stays
    return keep->videoSourceDialog(window_) ? TRUE : FALSE;
}

BOOL CaptureWindow::videoFormatDialog() {
    if (!driver_ || streaming_ || !driver_->caps().formatDialog) return FALSE;
    std::shared_ptr<Driver> keep = driver_;
    if (!keep->videoFormatDialog(window_)) return FALSE;
    // Timers ran while the dialog was open; a driver connected meanwhile
    // has buffers of its own already.
    if (keep == driver_) sizeBuffers();
    return TRUE;
}

BOOL CaptureWindow::setVideoFormat(WPARAM size, LPARAM record) {
    if (!driver_ || streaming_ || !record || size < sizeof(BITMAPINFOHEADER)) return FALSE;
    BITMAPINFOHEADER wanted;
    std::memcpy(&wanted, reinterpret_cast<const void *>(record), sizeof wanted);
    const auto formats = driver_->formats();
    for (std::size_t i = 0; i < formats.size(); ++i) {
        const BITMAPINFOHEADER &f = formats[i];
        if (f.biWidth == wanted.biWidth && std::abs(f.biHeight) == std::abs(wanted.biHeight) &&
            f.biBitCount == wanted.biBitCount && f.biCompression == wanted.biCompression) {
            driver_->selectFormat(i);
            sizeBuffers();
            return TRUE;
        }
    }
    return FALSE;
}

// Hands one captured frame to the video-stream callback.
void CaptureWindow::deliver(std::uint8_t *frame, std::size_t used) {
    VIDEOHDR header{};
    header.lpData = frame;
    header.dwBufferLength = static_cast<DWORD>(frame_.size());
    header.dwBytesUsed = static_cast<DWORD>(used);
    header.dwTimeCaptured = toMillis(session().clock().now() - streamStart_);
    header.dwFlags = VHDR_DONE | VHDR_KEYFRAME;
    ++framesDelivered_;
    if (videoCallback_) videoCallback_(window_, &header);
}

// A streaming capture: frame n is captured at start + n * interval on the
// platform clock, handed to the callback, then (into a file) written. It
// ends after the frame whose callback asked to stop, or when the next frame
// would fall at or past the time limit.
BOOL CaptureWindow::sequence(bool toFile) {
    if (!driver_ || streaming_) return FALSE;
    if (!videoCallback_ && !parms_.fLimitEnabled) {
        std::fprintf(stderr, "capture window: a stream with neither a video-stream callback nor a time limit "
                             "could never stop; not started\n");
        return FALSE;
    }
    std::unique_ptr<avi::Writer> writer;
    if (toFile) {
        const std::filesystem::path path = nativePath(captureFile_);
        std::error_code ignored;  // a missing directory shows as the create failing below
        std::filesystem::create_directories(path.parent_path(), ignored);
        avi::StreamFormat format;
        const BITMAPINFOHEADER &f = driver_->format();
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(&f);
        format.format.assign(bytes, bytes + sizeof f);
        format.scale = parms_.dwRequestMicroSecPerFrame;
        format.rate = 1000000;
        writer = avi::Writer::create(path, format);
        if (!writer) {
            std::fprintf(stderr, "capture window: cannot create the capture file %s\n", path.string().c_str());
            return FALSE;
        }
    }

    // The window may be destroyed by the callback; its state stays until the
    // stream has unwound.
    std::shared_ptr<Driver> driver = driver_;
    Clock &clock = session().clock();
    streaming_ = true;
    stopRequested_ = abortRequested_ = false;
    framesDelivered_ = 0;
    streamStart_ = clock.now();
    const Micros interval = parms_.dwRequestMicroSecPerFrame;
    const bool limited = parms_.fLimitEnabled;
    const Micros limitEnd = streamStart_ + Micros{parms_.wTimeLimit} * 1000000;
    bool writeFailed = false;

    for (Micros n = 0;; ++n) {
        const Micros due = streamStart_ + n * interval;
        if (limited && due >= limitEnd) {
            clock.sleepUntil(limitEnd);
            break;
        }
        clock.sleepUntil(due);
        const std::size_t used = driver->captureFrame(clock.now(), frame_);
        deliver(frame_.data(), used);
        if (!IsWindow(window_)) break;
        if (writer && !abortRequested_ && !writeFailed && !writer->append({frame_.data(), used})) {
            writeFailed = true;
            std::fprintf(stderr, "capture window: writing frame %u of the capture file failed\n",
                         static_cast<unsigned>(framesDelivered_));
        }
        if (stopRequested_) break;
    }
    if (writer) writer->finish();
    elapsedMs_ = toMillis(clock.now() - streamStart_);
    streaming_ = false;
    return writeFailed ? FALSE : TRUE;
}

// A stop request while a stream runs takes effect once the callback that
// sent it has returned. The driver hears of it at once.
BOOL CaptureWindow::stopRequest(bool abort) {
    if (!streaming_) return FALSE;
    stopRequested_ = true;
    if (abort) abortRequested_ = true;
    std::shared_ptr<Driver> driver = driver_;
    driver->stopRequested(*this);
    return TRUE;
}

// A frame a driver delivers from inside a stop request goes to the callback
// only: the capture file ends with the frame the stop was asked on, so that
// whatever the callback left in that frame is the file's last word.
bool CaptureWindow::deliverExtraFrame() {
    if (!streaming_ || deliveringExtra_ || extraFrame_.empty()) return false;
    deliveringExtra_ = true;
    const std::size_t used = driver_->captureFrame(session().clock().now(), extraFrame_);
    deliver(extraFrame_.data(), used);
    deliveringExtra_ = false;
    return true;
}

BOOL CaptureWindow::saveCaptureFileAs(LPCSTR name) {
    if (!name || streaming_) return FALSE;
    const std::filesystem::path from = nativePath(captureFile_);
    const std::filesystem::path to = nativePath(name);
    std::error_code error;
    if (!std::filesystem::is_regular_file(from, error)) return FALSE;
    std::filesystem::create_directories(to.parent_path(), error);
    if (!std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error)) {
        std::fprintf(stderr, "capture window: cannot copy %s to %s: %s\n", from.string().c_str(),
                     to.string().c_str(), error.message().c_str());
        return FALSE;
    }
    return TRUE;
}

LRESULT CaptureWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER:
        if (wParam == kVideoTimer) showLiveFrame();
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window_, &paint);
        if (driver_ && liveFrameShown_ && !streaming_) paintFrame(frame_.data());
        EndPaint(window_, &paint);
        return 0;
    }
    case WM_DESTROY:
        KillTimer(window_, kVideoTimer);
        preview_ = overlay_ = false;
        if (!streaming_) disconnect();
        return 0;

    case WM_CAP_DRIVER_CONNECT: return connect(wParam) ? TRUE : FALSE;
    case WM_CAP_DRIVER_DISCONNECT: return disconnect() ? TRUE : FALSE;
    case WM_CAP_DRIVER_GET_NAMEA: {
        if (!driver_ || !lParam || wParam == 0) return FALSE;
        const std::string name = driver_->description();
        const std::size_t n = std::min<std::size_t>(name.size(), wParam - 1);
        std::memcpy(reinterpret_cast<char *>(lParam), name.data(), n);
        reinterpret_cast<char *>(lParam)[n] = '\0';
        return TRUE;
    }
    case WM_CAP_DRIVER_GET_CAPS: return getCaps(wParam, lParam);
    case WM_CAP_GET_STATUS: return getStatus(wParam, lParam);
    case WM_CAP_GET_SEQUENCE_SETUP: return copyOut(parms_, wParam, lParam);
    case WM_CAP_SET_SEQUENCE_SETUP: return setSequenceSetup(wParam, lParam);
    case WM_CAP_SET_PREVIEWRATE:
        // A rate of 0 would fire on every pass of the loop; 1 ms is the floor.
        previewMs_ = std::max<UINT>(1, static_cast<UINT>(wParam));
        updateVideoTimer();
        return TRUE;
    case WM_CAP_SET_PREVIEW: return setPreview(wParam != 0);
    case WM_CAP_SET_OVERLAY: return setOverlay(wParam != 0);
    case WM_CAP_DLG_VIDEOSOURCE: return videoSourceDialog();
    case WM_CAP_DLG_VIDEOFORMAT: return videoFormatDialog();
    case WM_CAP_GET_VIDEOFORMAT: {
        if (!driver_) return 0;
        if (lParam && wParam) copyOut(driver_->format(), wParam, lParam);
        return sizeof(BITMAPINFOHEADER);
    }
    case WM_CAP_SET_VIDEOFORMAT: return setVideoFormat(wParam, lParam);
    case WM_CAP_SET_CALLBACK_VIDEOSTREAM:
        videoCallback_ = reinterpret_cast<CAPVIDEOCALLBACK>(lParam);
        return TRUE;
    case WM_CAP_FILE_SET_CAPTURE_FILEA:
        if (!lParam || streaming_) return FALSE;
        captureFile_ = reinterpret_cast<LPCSTR>(lParam);
        return TRUE;
    case WM_CAP_FILE_GET_CAPTURE_FILEA: {
        if (!lParam || wParam == 0) return FALSE;
        const std::size_t n = std::min<std::size_t>(captureFile_.size(), wParam - 1);
        std::memcpy(reinterpret_cast<char *>(lParam), captureFile_.data(), n);
        reinterpret_cast<char *>(lParam)[n] = '\0';
        return TRUE;
    }
    case WM_CAP_FILE_SAVEASA: return saveCaptureFileAs(reinterpret_cast<LPCSTR>(lParam));
    case WM_CAP_SEQUENCE: return sequence(true);
    case WM_CAP_SEQUENCE_NOFILE: return sequence(false);
    case WM_CAP_STOP: return stopRequest(false);
    case WM_CAP_ABORT: return stopRequest(true);
    default: break;
    }
    if (message >= WM_CAP_START && message <= WM_CAP_END) {
        const char *name = captureMessageName(message);
        std::fprintf(stderr, "capture window: %s%s(WM_CAP_START+%u) is not implemented; passed to DefWindowProcA\n",
                     name ? name : "", name ? " " : "", message - WM_CAP_START);
    }
    return DefWindowProcA(window_, message, wParam, lParam);
}

// The window's state lives in the window's own storage; the procedure holds
// it for the length of each message, so a window destroyed in the middle of
// a stream (by the callback) unwinds safely.
struct CaptureWindowSlot {
    std::shared_ptr<CaptureWindow> state;
};

LRESULT captureWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CaptureWindowSlot *slot = user::windowData<CaptureWindowSlot>(window);
    if (!slot) return DefWindowProcA(window, message, wParam, lParam);
    if (!slot->state) slot->state = std::make_shared<CaptureWindow>(window);
    std::shared_ptr<CaptureWindow> state = slot->state;
    return state->handle(message, wParam, lParam);
}

}  // namespace

}  // namespace plat::avicap

extern "C" HWND WINAPI capCreateCaptureWindowA(LPCSTR windowName, DWORD style, int x, int y, int width, int height,
                                               HWND parent, int id) {
    using namespace plat::avicap;
    if (!plat::user::classExists(kClassName)) plat::user::registerClass(kClassName, captureWindowProc);
    return CreateWindowExA(0, kClassName, windowName, style, x, y, width, height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

extern "C" BOOL WINAPI capGetDriverDescriptionA(UINT driverIndex, LPSTR name, int nameSize, LPSTR version,
                                                int versionSize) {
    using namespace plat::avicap;
    if (driverIndex >= static_cast<UINT>(kMaxDrivers)) return FALSE;
    std::unique_ptr<Driver> driver = makeInstalledDriver(static_cast<int>(driverIndex));
    if (!driver) return FALSE;
    const auto copy = [](const std::string &text, LPSTR buffer, int size) {
        if (!buffer || size <= 0) return;
        const std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(size) - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    };
    copy(driver->description(), name, nameSize);
    copy(driver->version(), version, versionSize);
    return TRUE;
}
