// The exposure cycle: Record, Stop and Pause, and the three one-shot timers
// that hold the camera in integration, read it out and wait between images.
//
// The state of a run is which timer is armed:
//   Idle -> (Record) Amplifier off | Exposing -> Readout -> Delay -> ...
// Everything here runs on the GUI thread from the main window procedure, so
// the cycle needs no lock. A failure met here is never shown from inside a
// handler (a message box's loop would hold the cycle up); it is posted.
#include <stdio.h>
#include <string.h>

#include "app_state.h"
#include "exposure_cycle.h"
#include "camera/exposure_levels.h"
#include "camera/output_format.h"

#define TITLE_SIZE MAX_PATH

// A time from the settings as a timer duration. A negative value (only a
// hand-edited settings file holds one; the Setup dialog refuses times above
// 2^31-1 ms) would otherwise reach SetTimer as an unsigned duration of about
// 49 days; it counts as 0 ms instead, so the cycle goes on at once, and the
// user is told so when the run starts (TellNegativeTimes).
static UINT TimerMs(INT ms) { return ms < 0 ? 0 : (UINT)ms; }

// The run takes the settings as the file gave them; a negative time is run
// as 0 ms (which the timers make their shortest, 10 ms), never silently: the
// box opens once Record's handler has returned.
static void TellNegativeTimes(void)
{
    char what[FAILURE_TEXT_SIZE];
    int used = 0;
    if (app.settings.exposureMs < 0)
        used += snprintf(what + used, sizeof what - (size_t)used,
                         "The exposure time in Noctil.ini, %d ms, is below 0: this run exposes for the shortest "
                         "time, 10 ms.\n",
                         app.settings.exposureMs);
    if (app.settings.delayMs < 0)
        used += snprintf(what + used, sizeof what - (size_t)used,
                         "The delay time in Noctil.ini, %d ms, is below 0: this run waits the shortest time, 10 ms, "
                         "between images.\n",
                         app.settings.delayMs);
    if (used == 0) return;
    snprintf(what + used, sizeof what - (size_t)used, "Set the time in Capture > Setup.");
    ReportRunFailure(RUN_FAILURE_SETTINGS, what, ERROR_SUCCESS);
}

// Puts the camera into integration and arms the timer that ends this phase:
// the amplifier's last second when the camera's protocol holds it off first.
static void StartExposure(void)
{
    noctil::camera::ExposurePhase phase =
        noctil::camera::exposureStart(app.settings.exposureMs, app.settings.ampOff != 0);
    WriteCameraPort(phase.level);
    SetTimer(app.mainWindow, phase.amplifierOff ? IDT_AMPON : IDT_EXPOSURE, phase.durationMs, NULL);
}

void FillOutputFormat(void)
{
    noctil::camera::OutputFormat format = noctil::camera::outputFormat(
        (LONG)app.captureStatus.uiImageWidth, (LONG)app.captureStatus.uiImageHeight);

    memset(&app.outputFormat, 0, sizeof app.outputFormat);
    app.outputFormat.biSize = sizeof(BITMAPINFOHEADER);
    app.outputFormat.biWidth = format.width;
    app.outputFormat.biHeight = format.height;
    app.outputFormat.biPlanes = 1;
    app.outputFormat.biBitCount = format.bitCount;
    app.outputFormat.biCompression = BI_RGB;
    app.outputFormat.biSizeImage = format.imageBytes;
}

void ComposeSnapshotTitle(char *title, size_t size)
{
    const char *name = app.outputName;
    char count[32];
    if (app.settings.frameCount > 0)
        snprintf(count, sizeof count, " - %d/%d", app.framesWritten, app.settings.frameCount);
    else
        snprintf(count, sizeof count, " - %d", app.framesWritten);

    size_t nameLength = strlen(name);
    size_t countLength = strlen(count);
    if (nameLength + countLength < size) {
        snprintf(title, size, "%s%s", name, count);
        return;
    }
    // Too long: the count and the end of the name (the file's own name)
    // matter most, so the name loses characters from its start.
    static const char ellipsis[] = "...";
    if (size < countLength + sizeof ellipsis + 1) {
        // No room to be clever: snprintf cuts at the end, as intended here.
        if (snprintf(title, size, "%s%s", name, count) < 0 && size > 0) title[0] = '\0';
        return;
    }
    size_t room = size - 1 - countLength - (sizeof ellipsis - 1);
    snprintf(title, size, "%s%s%s", ellipsis, name + (nameLength - room), count);
}

// Makes, shows and, unless paused, writes and counts the new image. An
// image that was not made this cycle is neither written nor counted, and
// the run goes on. A failed write ends the run as Stop does, so the file
// keeps every image written before; the user hears of it once the handler
// has returned. FALSE when the run has ended.
static BOOL ShowAndWriteImage(void)
{
    if (!MakeFinalImage()) return TRUE;  // it has told the user, once a run
    InvalidateRect(app.snapshotWindow, NULL, FALSE);
    UpdateWindow(app.snapshotWindow);
    if (app.paused) return TRUE;

    if (!AppendImage(app.lastImage, app.lastImageBits)) {
        StopRecording();
        return FALSE;
    }
    app.framesWritten++;
    // The run works again: a failure told before is told again when it comes back.
    app.imageFailureTold[0] = '\0';
    char title[TITLE_SIZE];
    ComposeSnapshotTitle(title, sizeof title);
    SetWindowTextA(app.snapshotWindow, title);
    return TRUE;
}

// Turns the live view back on as the settings ask.
static void RestoreView(void)
{
    if (app.settings.previewMode == VIEW_PREVIEW)
        SendCaptureMessage(WM_CAP_SET_PREVIEW, 1, 0);
    else if (app.settings.previewMode == VIEW_OVERLAY)
        SendCaptureMessage(WM_CAP_SET_OVERLAY, 1, 0);
}

// A readout that gave no image says why in a box, as the cycle's other
// failures do, once the handler has returned: each new reason of the run,
// and a reason told before once images were written since
// (TellImageFailure). The status line counts every such readout of the run.
static void ReadoutGaveNoImage(BOOL streamed)
{
    // Without a capture driver every capture step is a silent no-op.
    if (app.driverIndex < 0 || !IsWindow(app.captureWindow)) return;
    CAPSTATUS status;
    memset(&status, 0, sizeof status);
    SendCaptureMessage(WM_CAP_GET_STATUS, sizeof status, (LPARAM)&status);
    char text[FAILURE_TEXT_SIZE];
    // What is compared with the failure told last: the text, less the
    // frame counts that differ from readout to readout.
    const char *kind = text;
    const char *intro = "No image from this readout";
    // The capture refused a readout whose image was chosen: its words say why.
    if (!streamed && app.SelectionState == SELECTION_RENDER && app.captureErrorText[0] != '\0')
        snprintf(text, sizeof text, "%s: %.*s.", intro, (int)(sizeof text / 2), app.captureErrorText);
    else if (!streamed && app.captureErrorText[0] != '\0')
        snprintf(text, sizeof text, "%s: the capture device failed.\n%.*s", intro, (int)(sizeof text / 2),
                 app.captureErrorText);
    else if (!streamed)
        snprintf(text, sizeof text, "%s: the capture device did not stream.", intro);
    else if (status.dwCurrentVideoFrame == 0)
        snprintf(text, sizeof text, "%s: no frame from the device in %u s.", intro,
                 (unsigned)app.captureParms.wTimeLimit);
    else if (noctil::camera::missingField(app.SelectionState) != NULL)
        snprintf(text, sizeof text, "%s: the %s field did not arrive in the readout stream.", intro,
                 noctil::camera::missingField(app.SelectionState));
    else if (app.SelectionState == SELECTION_ARMED) {
        snprintf(text, sizeof text, "%s: the device's %lu frames are frames the program cannot use.", intro,
                 (unsigned long)status.dwCurrentVideoFrame);
        kind = "frames the program cannot use";
    } else {
        snprintf(text, sizeof text, "%s: the stream ended after %lu frames, before the image was chosen.", intro,
                 (unsigned long)status.dwCurrentVideoFrame);
        kind = "the stream ended before the image was chosen";
    }
    if (!TellImageFailure(kind)) return;
    size_t length = strlen(text);
    snprintf(text + length, sizeof text - length, "\n\nThe run goes on; the status line counts such readouts.");
    ReportRunFailure(RUN_FAILURE_IMAGE, text, ERROR_SUCCESS);
}

// The driver's frame format now; all zero without a driver.
static void ReadVideoFormat(BITMAPINFOHEADER *format)
{
    memset(format, 0, sizeof *format);
    SendCaptureMessage(WM_CAP_GET_VIDEOFORMAT, sizeof *format, (LPARAM)format);
}

// A device that came back with frames of another format or size cannot go
// on filling this run's file: the run ends as a failed write ends it, the
// file keeping every image. FALSE when it has ended.
static BOOL SameVideoFormat(void)
{
    BITMAPINFOHEADER now;
    ReadVideoFormat(&now);
    const BITMAPINFOHEADER *was = &app.runVideoFormat;
    if (now.biWidth == was->biWidth && now.biHeight == was->biHeight && now.biBitCount == was->biBitCount &&
        now.biCompression == was->biCompression)
        return TRUE;
    char what[FAILURE_TEXT_SIZE];
    snprintf(what, sizeof what,
             "The capture device now delivers %ld x %ld frames of %u bits, not the %ld x %ld frames of %u bits of "
             "this run.\n%s keeps its %d images; the run has ended.",
             (long)now.biWidth, (long)(now.biHeight < 0 ? -now.biHeight : now.biHeight), (unsigned)now.biBitCount,
             (long)was->biWidth, (long)(was->biHeight < 0 ? -was->biHeight : was->biHeight), (unsigned)was->biBitCount,
             app.outputName, app.framesWritten);
    ReportRunFailure(RUN_FAILURE_WRITE, what, ERROR_SUCCESS);
    StopRecording();
    return FALSE;
}

// IDT_AMPON: the last second of the exposure runs with the amplifier on.
static void OnAmpOnTimer(void)
{
    KillTimer(app.mainWindow, IDT_AMPON);
    noctil::camera::ExposurePhase phase = noctil::camera::amplifierOnPhase();
    WriteCameraPort(phase.level);
    SetTimer(app.mainWindow, IDT_EXPOSURE, phase.durationMs, NULL);
}

// IDT_EXPOSURE: ends the exposure, reads the image out and waits for the next.
static void OnExposureTimer(void)
{
    KillTimer(app.mainWindow, IDT_EXPOSURE);
    app.SelectionState = SELECTION_ARMED;
    SendCaptureMessage(WM_CAP_SET_PREVIEW, 0, 0);
    SendCaptureMessage(WM_CAP_SET_OVERLAY, 0, 0);
    SendCaptureMessage(WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, (LPARAM)ReadoutFrameCallback);
    // Returns when the stream has ended: the callback switched the port to
    // readout at the first frame, chose the frame and stopped the stream, or
    // the driver's time limit ran out.
    app.captureErrorText[0] = '\0';
    BOOL streamed = (BOOL)SendCaptureMessage(WM_CAP_SEQUENCE_NOFILE, 0, 0);
    WriteCameraPort(PORT_IDLE);
    SendCaptureMessage(WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, 0);

    BOOL goOn = SameVideoFormat();
    // A readout the capture refused is no image, even with a frame chosen.
    if (goOn && streamed && app.SelectionState == SELECTION_RENDER)
        goOn = ShowAndWriteImage();
    else if (goOn)
        ReadoutGaveNoImage(streamed);
    RestoreView();
    // A run that has ended arms nothing more.
    if (!goOn || !app.recording) return;

    if (app.settings.frameCount != 0 && app.framesWritten >= app.settings.frameCount)
        PostMessageA(app.mainWindow, WM_COMMAND, IDM_STOP, 0);
    else
        SetTimer(app.mainWindow, IDT_DELAY, TimerMs(app.settings.delayMs), NULL);
}

// IDT_DELAY: the next exposure.
static void OnDelayTimer(void)
{
    KillTimer(app.mainWindow, IDT_DELAY);
    StartExposure();
}

void StartRecording(void)
{
    FillOutputFormat();
    INT opened = OpenImageFile();
    // The user kept the file of that name: no run starts.
    if (opened == OPEN_DECLINED) return;
    if (opened) {
        app.framesWritten = 0;
        app.imageFailureTold[0] = '\0';
        ReadVideoFormat(&app.runVideoFormat);
        TellNegativeTimes();
        StartExposure();
    }
    // Even without a file the run shows as started, so Record stays disabled
    // until the user chooses Stop.
    SetCaptureState(CAPSTATE_RECORDING);
}

void StopRecording(void)
{
    WriteCameraPort(PORT_IDLE);
    KillTimer(app.mainWindow, IDT_AMPON);
    KillTimer(app.mainWindow, IDT_EXPOSURE);
    KillTimer(app.mainWindow, IDT_DELAY);
    CloseImageFile();
    app.SelectionState = SELECTION_ARMED;
    SetCaptureState(CAPSTATE_IDLE);
}

void TogglePause(void)
{
    app.paused = app.paused ? 0 : 1;
    SetCaptureState(CAPSTATE_PAUSE);
}

void RestartInterruptedExposure(void)
{
    // Only an exposure has one of these timers armed; in the delay, idle or
    // a readout there is nothing to start again.
    BOOL ampOffPhase = KillTimer(app.mainWindow, IDT_AMPON);
    BOOL exposing = KillTimer(app.mainWindow, IDT_EXPOSURE);
    if (!ampOffPhase && !exposing) return;
    WriteCameraPort(PORT_IDLE);
    SetTimer(app.mainWindow, IDT_DELAY, TimerMs(app.settings.delayMs), NULL);
}

void HandleExposureTimer(UINT_PTR timerId)
{
    switch (timerId) {
    case IDT_AMPON: OnAmpOnTimer(); break;
    case IDT_EXPOSURE: OnExposureTimer(); break;
    case IDT_DELAY: OnDelayTimer(); break;
    default: break;  // not a timer of the cycle
    }
}
