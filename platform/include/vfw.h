// Video for Windows: the capture window (AVICAP) and the AVI file library
// (AVIFILE), with the platform's message numbers and record layouts.
#ifndef NOCTIL_PLATFORM_VFW_H
#define NOCTIL_PLATFORM_VFW_H

#include <windows.h>

typedef DWORD FOURCC;
#define mmioFOURCC(c0, c1, c2, c3) \
    ((DWORD)(BYTE)(c0) | ((DWORD)(BYTE)(c1) << 8) | ((DWORD)(BYTE)(c2) << 16) | ((DWORD)(BYTE)(c3) << 24))

// ---- Capture window ------------------------------------------------------------

typedef struct videohdr_tag {
    LPBYTE lpData;
    DWORD dwBufferLength;
    DWORD dwBytesUsed;
    DWORD dwTimeCaptured;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD_PTR dwReserved[4];
} VIDEOHDR, *PVIDEOHDR, *LPVIDEOHDR;

#define VHDR_DONE 0x00000001
#define VHDR_PREPARED 0x00000002
#define VHDR_INQUEUE 0x00000004
#define VHDR_KEYFRAME 0x00000008

typedef struct tagCapDriverCaps {
    UINT wDeviceIndex;
    BOOL fHasOverlay;
    BOOL fHasDlgVideoSource;
    BOOL fHasDlgVideoFormat;
    BOOL fHasDlgVideoDisplay;
    BOOL fCaptureInitialized;
    BOOL fDriverSuppliesPalettes;
    HANDLE hVideoIn;
    HANDLE hVideoOut;
    HANDLE hVideoExtIn;
    HANDLE hVideoExtOut;
} CAPDRIVERCAPS, *PCAPDRIVERCAPS, *LPCAPDRIVERCAPS;

typedef struct tagCapStatus {
    UINT uiImageWidth;
    UINT uiImageHeight;
    BOOL fLiveWindow;
    BOOL fOverlayWindow;
    BOOL fScale;
    POINT ptScroll;
    BOOL fUsingDefaultPalette;
    BOOL fAudioHardware;
    BOOL fCapFileExists;
    DWORD dwCurrentVideoFrame;
    DWORD dwCurrentVideoFramesDropped;
    DWORD dwCurrentWaveSamples;
    DWORD dwCurrentTimeElapsedMS;
    HPALETTE hPalCurrent;
    BOOL fCapturingNow;
    DWORD dwReturn;
    UINT wNumVideoAllocated;
    UINT wNumAudioAllocated;
} CAPSTATUS, *PCAPSTATUS, *LPCAPSTATUS;

typedef struct tagCaptureParms {
    DWORD dwRequestMicroSecPerFrame;
    BOOL fMakeUserHitOKToCapture;
    UINT wPercentDropForError;
    BOOL fYield;
    DWORD dwIndexSize;
    UINT wChunkGranularity;
    BOOL fUsingDOSMemory;
    UINT wNumVideoRequested;
    BOOL fCaptureAudio;
    UINT wNumAudioRequested;
    UINT vKeyAbort;
    BOOL fAbortLeftMouse;
    BOOL fAbortRightMouse;
    BOOL fLimitEnabled;
    UINT wTimeLimit;
    BOOL fMCIControl;
    BOOL fStepMCIDevice;
    DWORD dwMCIStartTime;
    DWORD dwMCIStopTime;
    BOOL fStepCaptureAt2x;
    UINT wStepCaptureAverageFrames;
    DWORD dwAudioBufferSize;
    BOOL fDisableWriteCache;
    UINT AVStreamMaster;
} CAPTUREPARMS, *PCAPTUREPARMS, *LPCAPTUREPARMS;

typedef LRESULT(CALLBACK *CAPVIDEOCALLBACK)(HWND window, LPVIDEOHDR header);
// The capture window tells the program of a driver failure: `id` is the
// platform's error code for it (0 clears an earlier one), `text` the
// driver's own words. Called after the failed stream has ended.
typedef LRESULT(CALLBACK *CAPERRORCALLBACKA)(HWND window, int id, LPCSTR text);

#define WM_CAP_START WM_USER
#define WM_CAP_SET_CALLBACK_ERRORA (WM_CAP_START + 2)
#define WM_CAP_SET_CALLBACK_STATUSA (WM_CAP_START + 3)
#define WM_CAP_SET_CALLBACK_YIELD (WM_CAP_START + 4)
#define WM_CAP_SET_CALLBACK_FRAME (WM_CAP_START + 5)
#define WM_CAP_SET_CALLBACK_VIDEOSTREAM (WM_CAP_START + 6)
#define WM_CAP_DRIVER_CONNECT (WM_CAP_START + 10)
#define WM_CAP_DRIVER_DISCONNECT (WM_CAP_START + 11)
#define WM_CAP_DRIVER_GET_NAMEA (WM_CAP_START + 12)
#define WM_CAP_DRIVER_GET_CAPS (WM_CAP_START + 14)
#define WM_CAP_FILE_SET_CAPTURE_FILEA (WM_CAP_START + 20)
#define WM_CAP_FILE_GET_CAPTURE_FILEA (WM_CAP_START + 21)
#define WM_CAP_FILE_SAVEASA (WM_CAP_START + 23)
#define WM_CAP_DLG_VIDEOFORMAT (WM_CAP_START + 41)
#define WM_CAP_DLG_VIDEOSOURCE (WM_CAP_START + 42)
#define WM_CAP_GET_VIDEOFORMAT (WM_CAP_START + 44)
#define WM_CAP_SET_VIDEOFORMAT (WM_CAP_START + 45)
#define WM_CAP_SET_PREVIEW (WM_CAP_START + 50)
#define WM_CAP_SET_OVERLAY (WM_CAP_START + 51)
#define WM_CAP_SET_PREVIEWRATE (WM_CAP_START + 52)
#define WM_CAP_GET_STATUS (WM_CAP_START + 54)
#define WM_CAP_GRAB_FRAME (WM_CAP_START + 60)
#define WM_CAP_SEQUENCE (WM_CAP_START + 62)
#define WM_CAP_SEQUENCE_NOFILE (WM_CAP_START + 63)
#define WM_CAP_SET_SEQUENCE_SETUP (WM_CAP_START + 64)
#define WM_CAP_GET_SEQUENCE_SETUP (WM_CAP_START + 65)
#define WM_CAP_STOP (WM_CAP_START + 68)
#define WM_CAP_ABORT (WM_CAP_START + 69)
#define WM_CAP_END WM_CAP_ABORT

extern "C" {
HWND WINAPI capCreateCaptureWindowA(LPCSTR windowName, DWORD style, int x, int y, int width, int height, HWND parent,
                                    int id);
BOOL WINAPI capGetDriverDescriptionA(UINT driverIndex, LPSTR name, int nameSize, LPSTR version, int versionSize);
}

// ---- AVI files ------------------------------------------------------------------

#define streamtypeVIDEO mmioFOURCC('v', 'i', 'd', 's')
#define streamtypeAUDIO mmioFOURCC('a', 'u', 'd', 's')

#define OF_READ 0x00000000
#define OF_WRITE 0x00000001
#define OF_READWRITE 0x00000002
#define OF_CREATE 0x00001000

#define AVIIF_LIST 0x00000001
#define AVIIF_KEYFRAME 0x00000010

#define AVIERR_OK 0
#define AVIERR_BADFORMAT ((HRESULT)0x80044066)
#define AVIERR_MEMORY ((HRESULT)0x80044067)
#define AVIERR_INTERNAL ((HRESULT)0x80044068)
#define AVIERR_BADFLAGS ((HRESULT)0x80044069)
#define AVIERR_BADPARAM ((HRESULT)0x8004406A)
#define AVIERR_BADSIZE ((HRESULT)0x8004406B)
#define AVIERR_FILEREAD ((HRESULT)0x8004406D)
#define AVIERR_FILEWRITE ((HRESULT)0x8004406E)
#define AVIERR_FILEOPEN ((HRESULT)0x8004406F)
#define AVIERR_NODATA ((HRESULT)0x80044073)
#define AVIERR_UNSUPPORTED ((HRESULT)0x80044065)

typedef struct _AVISTREAMINFOA {
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwFlags;
    DWORD dwCaps;
    WORD wPriority;
    WORD wLanguage;
    DWORD dwScale;
    DWORD dwRate;
    DWORD dwStart;
    DWORD dwLength;
    DWORD dwInitialFrames;
    DWORD dwSuggestedBufferSize;
    DWORD dwQuality;
    DWORD dwSampleSize;
    RECT rcFrame;
    DWORD dwEditCount;
    DWORD dwFormatChangeCount;
    char szName[64];
} AVISTREAMINFOA, *LPAVISTREAMINFOA;

typedef struct _GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
} GUID, CLSID, *LPCLSID;

// The library's interfaces; the program only holds and passes them.
typedef struct IAVIFile *PAVIFILE;
typedef struct IAVIStream *PAVISTREAM;
typedef struct IGetFrame *PGETFRAME;

extern "C" {
void WINAPI AVIFileInit(void);
void WINAPI AVIFileExit(void);
HRESULT WINAPI AVIFileOpenA(PAVIFILE *file, LPCSTR fileName, UINT mode, LPCLSID handler);
ULONG WINAPI AVIFileRelease(PAVIFILE file);
HRESULT WINAPI AVIFileCreateStreamA(PAVIFILE file, PAVISTREAM *stream, AVISTREAMINFOA *info);
HRESULT WINAPI AVIStreamSetFormat(PAVISTREAM stream, LONG position, LPVOID format, LONG formatSize);
HRESULT WINAPI AVIStreamWrite(PAVISTREAM stream, LONG start, LONG samples, LPVOID buffer, LONG bufferSize, DWORD flags,
                              LONG *samplesWritten, LONG *bytesWritten);
ULONG WINAPI AVIStreamRelease(PAVISTREAM stream);
HRESULT WINAPI AVIStreamOpenFromFileA(PAVISTREAM *stream, LPCSTR fileName, DWORD fccType, LONG param, UINT mode,
                                      CLSID *handler);
// The stream's length in samples (for video, its frames); -1 for no stream.
LONG WINAPI AVIStreamLength(PAVISTREAM stream);
PGETFRAME WINAPI AVIStreamGetFrameOpen(PAVISTREAM stream, LPBITMAPINFOHEADER wanted);
LPVOID WINAPI AVIStreamGetFrame(PGETFRAME reader, LONG position);
HRESULT WINAPI AVIStreamGetFrameClose(PGETFRAME reader);
}

#endif  // NOCTIL_PLATFORM_VFW_H
