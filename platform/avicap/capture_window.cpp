// The capture window: a window class of the platform through which a
// program connects a capture driver, watches its live video and streams its
// frames, to a video-stream callback and into an AVI file.
//
// The window procedure dispatches; live video (live_video.cpp), the stream
// (capture_stream.cpp) and the capture file (capture_file.cpp) live in files
// of their own. Messages of the capture range that the window does not
// implement are reported on standard error and passed on to DefWindowProcA.
#include <windows.h>
#include <vfw.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "avicap/capture_file.h"
#include "avicap/capture_stream.h"
#include "avicap/driver.h"
#include "avicap/live_video.h"
#include "avicap/stream_record.h"
#include "core/session.h"
#include "files/last_error.h"
#include "files/paths.h"
#include "user/window_system.h"

namespace plat::avicap {

namespace {

constexpr const char *kClassName = "NoctilCaptureWindow";
constexpr const char *kDefaultCaptureFile = "C:\\CAPTURE.AVI";
// Posted to itself when a device failed to connect or during a stream: the
// user is told once the call has unwound and its caller has put everything
// to rest.
constexpr UINT kShowReport = WM_USER + 0x7F0;

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

// Copies `text` into a caller's buffer of `size` bytes, cut to fit, with its terminator.
BOOL copyText(const std::string &text, WPARAM size, LPARAM destination) {
    if (!destination || size == 0) return FALSE;
    const std::size_t n = std::min<std::size_t>(text.size(), size - 1);
    std::memcpy(reinterpret_cast<char *>(destination), text.data(), n);
    reinterpret_cast<char *>(destination)[n] = '\0';
    return TRUE;
}

// The timer that watches a device nobody reads from, and its period.
constexpr UINT_PTR kWatchTimerId = 2;
constexpr UINT kWatchPeriodMs = 1000;

class CaptureWindow {
public:
    explicit CaptureWindow(HWND window) : window_(window), live_(window) {}
    ~CaptureWindow() { disconnect(); }

    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);

private:
    bool connect(WPARAM index);
    bool disconnect();
    void sizeBuffers();
    void onPaint();
    void onDestroy();
    BOOL getCaps(WPARAM size, LPARAM record) const;
    BOOL getStatus(WPARAM size, LPARAM record) const;
    BOOL setSequenceSetup(WPARAM size, LPARAM record);
    BOOL setPreview(bool on);
    BOOL setOverlay(bool on);
    void showLiveFrame();
    void watchIdleDevice();
    BOOL videoSourceDialog();
    BOOL videoFormatDialog();
    BOOL getVideoFormat(WPARAM size, LPARAM record) const;
    BOOL setVideoFormat(WPARAM size, LPARAM record);
    BOOL setCaptureFile(LPCSTR name);
    BOOL sequence(bool toFile);
    BOOL stopRequest(bool abort);
    // Opens a device that failed again when it is back; false while it is not.
    bool recoverDriver(bool eager);
    void deviceFailed();
    void portLost(const char *reason);
    void report(std::string text);
    void reportNotice();
    void showReport();
    LRESULT notImplemented(UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_;
    std::shared_ptr<Driver> driver_;
    int driverIndex_ = -1;
    CAPTUREPARMS parms_ = defaultSequenceSetup();
    LiveVideo live_;
    CAPVIDEOCALLBACK videoCallback_ = nullptr;
    CAPERRORCALLBACKA errorCallback_ = nullptr;
    std::string captureFile_ = kDefaultCaptureFile;
    avi::Writer captureWriter_;  // one file after another, its buffers kept

    // Frame buffers, sized when a driver connects or changes its format and
    // reused for every frame after that.
    std::vector<std::uint8_t> frame_;       // streamed and live frames
    std::vector<std::uint8_t> extraFrame_;  // a frame delivered from inside a stop request

    CaptureStream *stream_ = nullptr;  // the stream running now
    StreamProgress progress_;
    bool failureReported_ = false;      // the user hears of a failed device once per connection
    std::vector<std::string> reports_;  // messages for the user, shown from the message loop
};

bool CaptureWindow::connect(WPARAM index) {
    if (stream_) return false;
    // The window keeps one driver: whatever was connected goes first,
    // whether or not the new one opens.
    disconnect();
    if (index >= static_cast<WPARAM>(kMaxDrivers)) return false;
    std::string failure;
    driver_ = openInstalledDriver(static_cast<int>(index), &failure);
    if (!driver_) {
        if (!failure.empty()) report(failure);
        return false;
    }
    driverIndex_ = static_cast<int>(index);
    failureReported_ = false;
    if (driver_->caps().watched) SetTimer(window_, kWatchTimerId, kWatchPeriodMs, nullptr);
    sizeBuffers();
    reportNotice();
    return true;
}

void CaptureWindow::reportNotice() {
    if (!driver_) return;
    if (std::string notice = driver_->takeNotice(); !notice.empty()) report(std::move(notice));
}

bool CaptureWindow::disconnect() {
    if (!driver_ || stream_) return false;
    live_.stop();
    live_.forget();
    KillTimer(window_, kWatchTimerId);
    driver_.reset();
    driverIndex_ = -1;
    return true;
}

void CaptureWindow::sizeBuffers() {
    const std::size_t bytes = frameBytes(driver_->format());
    frame_.assign(bytes, 0);
    extraFrame_.assign(bytes, 0);
    live_.forget();
}

// WM_PAINT: the last live frame again, unless a stream owns the buffers.
void CaptureWindow::onPaint() {
    PAINTSTRUCT paint;
    BeginPaint(window_, &paint);
    if (driver_ && !stream_) live_.repaint();
    EndPaint(window_, &paint);
}

// WM_DESTROY: live video ends; a running stream lets the driver go once it
// has unwound.
void CaptureWindow::onDestroy() {
    live_.stop();
    if (!stream_) disconnect();
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
    status.fLiveWindow = live_.preview();
    status.fOverlayWindow = live_.overlay();
    std::error_code ignored;  // a name that cannot be tested simply does not exist
    status.fCapFileExists = std::filesystem::exists(nativePath(captureFile_), ignored);
    status.dwCurrentVideoFrame = progress_.framesDelivered;
    status.dwCurrentTimeElapsedMS =
        progress_.running ? toMillis(session().clock().now() - progress_.start) : progress_.elapsedMs;
    status.fCapturingNow = progress_.running;
    return copyOut(status, size, record);
}

BOOL CaptureWindow::setSequenceSetup(WPARAM size, LPARAM record) {
    if (!record || size == 0 || stream_) return FALSE;
    CAPTUREPARMS next = parms_;
    std::memcpy(&next, reinterpret_cast<const void *>(record), std::min<std::size_t>(size, sizeof next));
    // A zero frame interval would stream without end in no time at all.
    if (next.dwRequestMicroSecPerFrame == 0) return FALSE;
    parms_ = next;
    return TRUE;
}

BOOL CaptureWindow::setPreview(bool on) {
    if (on && !driver_) return FALSE;
    live_.setPreview(on);
    return TRUE;
}

BOOL CaptureWindow::setOverlay(bool on) {
    if (on && (!driver_ || !driver_->caps().overlay)) return FALSE;
    live_.setOverlay(on);
    return TRUE;
}

void CaptureWindow::showLiveFrame() {
    if (!driver_ || stream_ || frame_.empty()) return;
    if (!recoverDriver(false)) return;
    std::shared_ptr<Driver> keep = driver_;
    live_.showFrame(*keep, frame_);
    reportNotice();
}

// A device nobody reads from (no stream, no live video: the program idle,
// or integrating) may be pulled all the same: the driver lets it go at
// once, since it can come back only once every handle of it is closed.
void CaptureWindow::watchIdleDevice() {
    if (!driver_ || stream_ || live_.preview() || live_.overlay()) return;
    std::shared_ptr<Driver> keep = driver_;
    keep->idle();
}

BOOL CaptureWindow::videoSourceDialog() {
    if (!driver_ || stream_ || !driver_->caps().sourceDialog) return FALSE;
    std::shared_ptr<Driver> keep = driver_;  // the dialog runs messages; the driver stays
    const bool confirmed = keep->videoSourceDialog(window_);
    // A source (an input or a standard) may come with a frame size of its own.
    if (confirmed && keep == driver_) sizeBuffers();
    return confirmed ? TRUE : FALSE;
}

BOOL CaptureWindow::videoFormatDialog() {
    if (!driver_ || stream_ || !driver_->caps().formatDialog) return FALSE;
    std::shared_ptr<Driver> keep = driver_;
    if (!keep->videoFormatDialog(window_)) return FALSE;
    // Timers ran while the dialog was open; a driver connected meanwhile
    // has buffers of its own already.
    if (keep == driver_) sizeBuffers();
    return TRUE;
}

BOOL CaptureWindow::getVideoFormat(WPARAM size, LPARAM record) const {
    if (!driver_) return 0;
    if (record && size) copyOut(driver_->format(), size, record);
    return sizeof(BITMAPINFOHEADER);
}

BOOL CaptureWindow::setVideoFormat(WPARAM size, LPARAM record) {
    if (!driver_ || stream_ || !record || size < sizeof(BITMAPINFOHEADER)) return FALSE;
    BITMAPINFOHEADER wanted;
    std::memcpy(&wanted, reinterpret_cast<const void *>(record), sizeof wanted);
    const auto formats = driver_->formats();
    for (std::size_t i = 0; i < formats.size(); ++i) {
        const BITMAPINFOHEADER &f = formats[i];
        if (f.biWidth == wanted.biWidth && std::abs(f.biHeight) == std::abs(wanted.biHeight) &&
            f.biBitCount == wanted.biBitCount && f.biCompression == wanted.biCompression) {
            if (!driver_->selectFormat(i)) return FALSE;
            sizeBuffers();
            return TRUE;
        }
    }
    return FALSE;
}

BOOL CaptureWindow::setCaptureFile(LPCSTR name) {
    if (!name || stream_) return FALSE;
    captureFile_ = name;
    return TRUE;
}

BOOL CaptureWindow::sequence(bool toFile) {
    if (!driver_ || stream_) return FALSE;
    if (!videoCallback_ && !parms_.fLimitEnabled) {
        std::fprintf(stderr,
                     "capture window: a stream with neither a video-stream callback nor a time limit "
                     "could never stop; not started\n");
        return FALSE;
    }
    // A device that is not back fails the stream at its start, which is
    // counted and told as any failed stream.
    recoverDriver(true);
    if (toFile && !createCaptureFile(captureFile_, driver_->format(), parms_.dwRequestMicroSecPerFrame, captureWriter_))
        return FALSE;
    // The window may be destroyed by the callback; the stream keeps the
    // driver and this state until it has unwound.
    CaptureStream stream(window_, driver_, videoCallback_, frame_, extraFrame_, progress_, session().clock(),
                         session().component<StreamRecords>());
    stream_ = &stream;
    const bool ok = stream.run(parms_, toFile ? &captureWriter_ : nullptr);
    stream_ = nullptr;
    reportNotice();
    if (stream.deviceFailed())
        deviceFailed();
    else if (stream.portLoss()[0] != '\0')
        portLost(stream.portLoss());
    return ok ? TRUE : FALSE;
}

bool CaptureWindow::recoverDriver(bool eager) {
    using Recovery = Driver::Recovery;
    const BITMAPINFOHEADER before = driver_->format();
    const Recovery recovery = driver_->recover(eager);
    if (recovery == Recovery::NotBack) return false;
    if (recovery == Recovery::Back) {
        const BITMAPINFOHEADER &now = driver_->format();
        if (now.biWidth != before.biWidth || now.biHeight != before.biHeight || now.biBitCount != before.biBitCount ||
            now.biCompression != before.biCompression) {
            sizeBuffers();
            // A program with an error callback sees the new format itself.
            const std::string text = "The capture device came back with " + describeFormat(now) +
                                     " frames instead of " + describeFormat(before) + ".";
            if (errorCallback_)
                std::fprintf(stderr, "capture window: %s\n", text.c_str());
            else
                report(text);
        }
        std::fprintf(stderr, "capture window: %s is back\n", driver_->description().c_str());
        session().component<StreamRecords>().deviceBack();
        if (errorCallback_) errorCallback_(window_, 0, nullptr);
    }
    return true;
}

// A device that failed: the program's error callback hears the driver's
// words and the platform's code for them, after the stream has ended; a
// window without one tells the user itself, once per connection, since a
// device that comes and goes would otherwise open box after box.
void CaptureWindow::deviceFailed() {
    const std::string reason = driver_ ? driver_->failure() : std::string();
    const int code = driver_ ? driver_->failureCode() : 0;
    SetLastError(win32Error(code));
    if (errorCallback_) {
        std::fprintf(stderr, "capture window: %s\n", reason.c_str());
        errorCallback_(window_, static_cast<int>(win32Error(code ? code : EIO)), reason.c_str());
        return;
    }
    if (failureReported_) return;
    failureReported_ = true;
    report("The capture device stopped delivering video" + (reason.empty() ? std::string(".") : ":\n" + reason) +
           "\n\nIt is looked for again before each stream. Every image taken before is kept.");
}

// A readout whose exposure the camera port did not carry: its frames are
// no image of the exposure, so the stream is refused, and the program's
// error callback hears why. The port tells the person of its device itself.
void CaptureWindow::portLost(const char *reason) {
    SetLastError(win32Error(ENODEV));
    std::fprintf(stderr, "capture window: no image from this readout: %s\n", reason);
    if (errorCallback_) errorCallback_(window_, static_cast<int>(win32Error(ENODEV)), reason);
}

// A stop request while a stream runs takes effect once the callback that
// sent it has returned. The driver hears of it at once.
BOOL CaptureWindow::stopRequest(bool abort) {
    if (!stream_) return FALSE;
    stream_->requestStop(abort);
    return TRUE;
}

// The user hears of it once whatever was running has unwound: a message box
// shown from the message loop, not from inside the stream or the connection.
void CaptureWindow::report(std::string text) {
    std::fprintf(stderr, "capture window: %s\n", text.c_str());
    reports_.push_back(std::move(text));
    if (IsWindow(window_)) PostMessageA(window_, kShowReport, 0, 0);
}

void CaptureWindow::showReport() {
    if (reports_.empty()) return;
    const std::string text = std::move(reports_.front());
    reports_.erase(reports_.begin());
    MessageBoxA(GetParent(window_), text.c_str(), "Capture device", MB_OK | MB_ICONEXCLAMATION);
}

LRESULT CaptureWindow::notImplemented(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_CAP_START && message <= WM_CAP_END) {
        const char *name = captureMessageName(message);
        std::fprintf(stderr, "capture window: %s%s(WM_CAP_START+%u) is not implemented; passed to DefWindowProcA\n",
                     name ? name : "", name ? " " : "", message - WM_CAP_START);
    }
    return DefWindowProcA(window_, message, wParam, lParam);
}

LRESULT CaptureWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER:
        if (wParam == LiveVideo::kTimerId) showLiveFrame();
        if (wParam == kWatchTimerId) watchIdleDevice();
        return 0;
    case WM_PAINT: onPaint(); return 0;
    case WM_DESTROY: onDestroy(); return 0;
    case kShowReport: showReport(); return 0;

    case WM_CAP_DRIVER_CONNECT: return connect(wParam) ? TRUE : FALSE;
    case WM_CAP_DRIVER_DISCONNECT: return disconnect() ? TRUE : FALSE;
    case WM_CAP_DRIVER_GET_NAMEA: return driver_ ? copyText(driver_->description(), wParam, lParam) : FALSE;
    case WM_CAP_DRIVER_GET_CAPS: return getCaps(wParam, lParam);
    case WM_CAP_GET_STATUS: return getStatus(wParam, lParam);
    case WM_CAP_GET_SEQUENCE_SETUP: return copyOut(parms_, wParam, lParam);
    case WM_CAP_SET_SEQUENCE_SETUP: return setSequenceSetup(wParam, lParam);
    case WM_CAP_SET_PREVIEWRATE: live_.setRate(static_cast<UINT>(wParam)); return TRUE;
    case WM_CAP_SET_PREVIEW: return setPreview(wParam != 0);
    case WM_CAP_SET_OVERLAY: return setOverlay(wParam != 0);
    case WM_CAP_DLG_VIDEOSOURCE: return videoSourceDialog();
    case WM_CAP_DLG_VIDEOFORMAT: return videoFormatDialog();
    case WM_CAP_GET_VIDEOFORMAT: return getVideoFormat(wParam, lParam);
    case WM_CAP_SET_VIDEOFORMAT: return setVideoFormat(wParam, lParam);
    case WM_CAP_SET_CALLBACK_VIDEOSTREAM: videoCallback_ = reinterpret_cast<CAPVIDEOCALLBACK>(lParam); return TRUE;
    case WM_CAP_SET_CALLBACK_ERRORA: errorCallback_ = reinterpret_cast<CAPERRORCALLBACKA>(lParam); return TRUE;
    case WM_CAP_FILE_SET_CAPTURE_FILEA: return setCaptureFile(reinterpret_cast<LPCSTR>(lParam));
    case WM_CAP_FILE_GET_CAPTURE_FILEA: return copyText(captureFile_, wParam, lParam);
    case WM_CAP_FILE_SAVEASA:
        return !stream_ && lParam && copyCaptureFile(captureFile_, reinterpret_cast<LPCSTR>(lParam)) ? TRUE : FALSE;
    case WM_CAP_SEQUENCE: return sequence(true);
    case WM_CAP_SEQUENCE_NOFILE: return sequence(false);
    case WM_CAP_STOP: return stopRequest(false);
    case WM_CAP_ABORT: return stopRequest(true);
    default: return notImplemented(message, wParam, lParam);
    }
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
