// AppState: the one process-wide state record of the program, and the
// operations that several subsystems call.
#ifndef NOCTIL_APP_STATE_H
#define NOCTIL_APP_STATE_H

#include <windows.h>
#include <vfw.h>
#include <camport.h>
#include "camera/readout_selection.h"

#include "resource.h"

// The program's own files: the image file a fresh installation records to,
// the settings file (a bare name: the Windows directory's) and the capture's
// temporary files, each in the root of C: unless it takes no files
// (app/file_places.cpp).
#define DRIVE_ROOT "C:\\"
#define IMAGE_NAME "Images.AVI"
#define DEFAULT_IMAGE_FILE DRIVE_ROOT IMAGE_NAME
#define SETTINGS_NAME "Noctil.ini"
#define CAPTURE_NAME "_NOCTIL1.AVI"
#define CAPTURE_COPY_NAME "_NOCTIL2.AVI"

// Persistent settings, loaded at start and saved at exit (app/settings.cpp).
struct CaptureSettings {
    char imageFile[MAX_PATH];  // output AVI file name
    INT autoIncrement;         // non-zero: number the output file
    INT ampOff;                // non-zero: amplifier off during the exposure
    INT exposureMs;            // exposure time
    INT delayMs;               // delay between the end of one image and the next exposure
    INT frameCount;            // images per run, 0 means no limit
    char driverName[100];      // description of the capture driver chosen last
    INT previewMode;           // VIEW_NONE, VIEW_OVERLAY or VIEW_PREVIEW
};

// A packed device-independent bitmap: header, colour table and pixel rows in
// one heap block.
typedef BITMAPINFOHEADER PackedDib;

enum { VIEW_NONE = 0, VIEW_OVERLAY = 1, VIEW_PREVIEW = 2 };
enum { CAPSTATE_IDLE = 0, CAPSTATE_RECORDING = 1, CAPSTATE_PAUSE = 2 };

// States of the readout selection (SelectionState) are the camera protocol's
// steps (SELECTION_ARMED ... in camera/readout_selection.h). From the first
// frame on it counts the frames of the readout stream: whole frames, frames
// 2 and 3 compete; fields, frames 2 and 3 for the odd rows, then 4 and 5 for
// the even.

// Exposure cycle timers of the main window, each used as a one-shot.
enum { IDT_AMPON = 0, IDT_EXPOSURE = 1, IDT_DELAY = 2 };

// The largest frame the readout selection keeps: any standard-definition
// frame, up to 768 x 576 at 4 bytes a pixel.
#define BEST_FRAME_BYTES (768 * 576 * 4)

// A failure of the running cycle, told to the user from the main window's
// queue (wParam: which of the kinds below, each with its own text).
#define WM_RUNFAILURE (WM_APP + 0)
enum { RUN_FAILURE_IMAGE = 0, RUN_FAILURE_WRITE = 1, RUN_FAILURE_SETTINGS = 2, RUN_FAILURE_KINDS = 3 };
// A failure's text: what failed (up to a file name and some words), then the
// system's reason on a second line.
#define FAILURE_TEXT_SIZE (MAX_PATH + 320)

struct AppState {
    // Windows of the program (start-up, toolbar, Setup dialog while open).
    HINSTANCE instanceHandle;
    HWND mainWindow;
    HWND snapshotWindow;
    HWND toolbarWindow;
    HWND setupDialog;
    // Persistent settings, and the Noctil.ini they are read from and saved
    // to (app/file_places.cpp).
    CaptureSettings settings;
    char settingsFile[MAX_PATH];
    char settingsSaveFile[MAX_PATH];
    // The capture's temporary files; whether the root of C: takes no files
    // (they are then in the user's temporary folder), and whether the user
    // has been told so in this run of the program.
    char captureFile[MAX_PATH];
    char captureCopyFile[MAX_PATH];
    INT rootRefusesFiles;
    INT userFoldersTold;
    // The capture device: its window, the connected driver and what it reports.
    HWND captureWindow;
    INT driverIndex;
    CAPDRIVERCAPS driverCaps;
    CAPSTATUS captureStatus;
    CAPTUREPARMS captureParms;
    // The run: whether one is on, images written, the paused flag, the output format.
    INT recording;
    INT framesWritten;
    INT paused;
    BITMAPINFOHEADER outputFormat;
    // The readout selection: its state, the best score, the callback's nesting, the kept frame.
    INT SelectionState;
    INT bestScore;
    INT callbackDepth;
    BYTE BestFrameBuffer[BEST_FRAME_BYTES];
    // The current image and where its pixel rows begin (set only with the image).
    PackedDib *lastImage;
    BYTE *lastImageBits;
    // The output file: file and stream interfaces, the next stream position.
    PAVIFILE outputFile;
    PAVISTREAM outputStream;
    INT sampleIndex;
    // The name of the file this run writes (imageFile as the open left it):
    // a name chosen during the run is for the next one, so the title and
    // the messages of this run keep naming this file.
    char outputName[MAX_PATH];
    // The earlier file of that name, moved aside under this name until the
    // new file holds its first image (put back when it never does); empty
    // when there is none. keptFor is the name it goes back under.
    char keptFile[MAX_PATH];
    char keptFor[MAX_PATH];
    // Failures of the running cycle: the texts of the posted boxes, by kind.
    char runFailureText[RUN_FAILURE_KINDS][FAILURE_TEXT_SIZE];
    // What the capture window said of the driver's last failure ("" when none).
    char captureErrorText[FAILURE_TEXT_SIZE];
    // What the image failure told last in this run was (TellImageFailure);
    // "" once an image was written since.
    char imageFailureTold[FAILURE_TEXT_SIZE];
    // The driver's frame format when the run began: a device that comes back
    // with another one ends the run.
    BITMAPINFOHEADER runVideoFormat;
};

extern AppState app;

// Puts every field at its initial value; WinMain calls it first.
void InitAppState(void);

// app/
// Where Noctil.ini is read and saved and where the capture's temporary
// files go; at start, before the settings are read.
void ChooseFilePlaces(void);
// At Record, where the root of C: takes no files: the default image name
// becomes the same name in the user's documents, and the user is told once
// a run of the program where the files go.
void UseUserFoldersForRecord(void);
void LoadSettings(void);
void SaveSettings(void);
void WriteIntSetting(LPCSTR section, LPCSTR key, INT value, LPCSTR file);
LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK SetupDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
HWND CreateToolbar(HWND parent);
void SetCaptureState(INT state);
LRESULT SaveImagesIn(void);
// "<what>" and, when `error` is not ERROR_SUCCESS, the system's text for it
// on a second line.
void ComposeFailureText(char *text, size_t size, const char *what, DWORD error);
// A modal "Error" box with that text; for failures of a command the user chose.
void ShowFailure(const char *what, DWORD error);
// Tells the user of a failure of the running cycle without holding the cycle
// up: the box opens once the current handler has returned (WM_RUNFAILURE).
void ReportRunFailure(INT kind, const char *what, DWORD error);
LRESULT ShowRunFailure(WPARAM kind);

// device/
// Sends to the capture window only while it exists (tested anew each time);
// 0 without one.
LRESULT SendCaptureMessage(UINT message, WPARAM wParam, LPARAM lParam);
// Keeps the capture window's words on a driver failure in captureErrorText;
// shows nothing (it runs inside the capture message that failed).
LRESULT CALLBACK CaptureErrorCallback(HWND window, int id, LPCSTR text);
void ConnectSavedDriver(HWND mainWindow);
LRESULT SwitchDriver(HWND mainWindow, WPARAM commandId);
void RefreshDeviceInfo(void);
void PlaceCaptureWindow(HWND mainWindow, HWND captureWindow);
void ConfigureDevice(HWND mainWindow, HWND captureWindow, WORD index);
void ResetSequenceSetup(void);
void TogglePreview(void);
void ToggleOverlay(void);
void ShowVideoSourceDialog(void);
void ShowVideoFormatDialog(void);
void UpdateViewCheckMarks(HMENU menu);

// exposure/
void WriteCameraPort(BYTE value);
void StartRecording(void);
void StopRecording(void);
void TogglePause(void);
void HandleExposureTimer(UINT_PTR timerId);
// The process stood still (a suspension, a stop) during an exposure: the
// camera did not integrate as set, so the exposure is not read out; the
// port rests and the exposure starts again after the delay.
void RestartInterruptedExposure(void);
LRESULT CALLBACK ReadoutFrameCallback(HWND window, LPVIDEOHDR header);
// TRUE when lastImage is an image made this cycle; FALSE when it could not
// be made (the user has been told, once a run), lastImage then unchanged.
BOOL MakeFinalImage(void);
// TRUE when an image failure of this kind (`kind`: what failed and why, for
// comparing) is to be told: another kind than the one told last in the run,
// or the same once an image was written since. The same one again is only
// counted, by the status line's readouts without an image.
BOOL TellImageFailure(const char *kind);
// TRUE when frame 0 of the file replaced *imageSlot.
BOOL LoadFrameFromAvi(LPCSTR fileName, PackedDib **imageSlot);
// PackedDib layout: colour table (or bit-field masks) in bytes, bytes per
// row (padded to 4), the whole block (0 for a header no block can match),
// and where the pixel rows begin.
size_t PackedDibColorTableBytes(const BITMAPINFOHEADER *header);
size_t PackedDibStride(const BITMAPINFOHEADER *header);
size_t PackedDibSize(const BITMAPINFOHEADER *header);
BYTE *PackedDibBits(PackedDib *dib);

// output/
// 1 when the file is ready for images; 0 after a failure, which it has
// shown; OPEN_DECLINED when no run starts: the user chose to keep the file
// of that name, or no number was free, or the earlier file could not be set
// aside (the user has been told).
#define OPEN_DECLINED (-1)
INT OpenImageFile(void);
// FALSE, after telling the user who, when another program is writing the
// file `name` or the image log beside it.
BOOL FilesFreeToRecord(const char *name);
// TRUE when the image is in the file. FALSE when nothing was written: no
// file open, no image, or a failed write, which it reports with
// ReportRunFailure; the exposure cycle then ends the run.
BOOL AppendImage(PackedDib *dib, BYTE *bits);
void CloseImageFile(void);
// Called when the main window is destroyed: finishes an output file that a
// run still holds open, so nothing captured is lost.
void FinishOutputOnExit(void);
// Numbers an AVI name in place ("_000" before ".avi", the first free number
// at or above the one it has); FALSE when no number fits or is free.
BOOL NumberImageFile(char *name, size_t size);
// What the user is told when every number of the name is taken: "Can't
// record: no free number for Images_nnn.AVI: 000 to 999 are taken." and
// where to make room.
void DescribeNoFreeNumber(const char *name, char *text, size_t size);
LRESULT CALLBACK SnapshotWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif  // NOCTIL_APP_STATE_H
