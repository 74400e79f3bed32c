// The output AVI file of a run: one uncompressed video stream in which
// every image is a key frame, 25 images a second.
#include <stdio.h>
#include <string.h>

#include "app_state.h"

#define IMAGES_PER_SECOND 25
#define MAX_COLOR_ENTRIES 256
#define MESSAGE_SIZE (MAX_PATH + 64)

// The user's command failed: the box says what, and why when the system
// gave a reason.
static void ShowError(const char *text) { ShowFailure(text, GetLastError()); }

static void ShowErrorWithName(const char *format)
{
    char text[MESSAGE_SIZE];
    snprintf(text, sizeof text, format, app.settings.imageFile);
    ShowError(text);
}

// The earlier file waits under its own name with this added; where that
// name would be too long, under its own name with its end replaced by the
// short form, in the same folder.
#define KEPT_SUFFIX ".previous"
#define SHORT_KEPT_SUFFIX "~.previous"
// The longest name of a file in its folder, on Windows as on Linux.
#define MAX_FILE_PART 255
#define QUESTION_SIZE (MAX_PATH + 96)

// Record replaces a file of the name, and only a file: a folder or anything
// else of that name stays, for the open to refuse.
static BOOL IsReplaceableFile(const char *name)
{
    DWORD attributes = GetFileAttributesA(name);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// The images in a file: 0 when it holds none or is no AVI file at all.
static LONG ImagesInFile(const char *name)
{
    PAVISTREAM stream = NULL;
    if (AVIStreamOpenFromFileA(&stream, name, streamtypeVIDEO, 0, OF_READ, NULL) != AVIERR_OK) return 0;
    LONG images = AVIStreamLength(stream);
    AVIStreamRelease(stream);
    return images > 0 ? images : 0;
}

// A file with images is replaced only when the user says so; No, the
// default, keeps it.
static BOOL UserLetsReplace(const char *name, LONG images)
{
    char question[QUESTION_SIZE];
    snprintf(question, sizeof question, "%s already holds %ld %s.\nReplace it with the images of this run?", name,
             (long)images, images == 1 ? "image" : "images");
    return MessageBoxA(app.mainWindow, question, "Record", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

// The name an earlier file of `name` waits under while a new run has no
// image: "<name>.previous" where that fits both a name's 259 characters and
// a folder's 255 for the file part, else the name itself with its last
// characters replaced by "~.previous" (no longer than the name, so it fits
// wherever the name does). FALSE when the file part is too short to give up
// that many characters.
static BOOL KeptName(const char *name, char *aside, size_t size)
{
    const char *filePart = name;
    for (const char *c = name; *c != '\0'; c++)
        if (*c == '\\' || *c == '/' || *c == ':') filePart = c + 1;
    size_t length = strlen(name);
    if (length + strlen(KEPT_SUFFIX) < size && strlen(filePart) + strlen(KEPT_SUFFIX) <= MAX_FILE_PART) {
        snprintf(aside, size, "%s%s", name, KEPT_SUFFIX);
        return TRUE;
    }
    if (strlen(filePart) <= strlen(SHORT_KEPT_SUFFIX) || length >= size) return FALSE;
    snprintf(aside, size, "%.*s%s", (int)(length - strlen(SHORT_KEPT_SUFFIX)), name, SHORT_KEPT_SUFFIX);
    return TRUE;
}

// A run that ended without Stop or Exit (a crash, the power gone) before its
// first image left the earlier file aside, and under the name a file with no
// image. Record puts the earlier file back first, so that it is asked about
// like any file with images and never lost to the next run's replacing.
static void PutBackFileLeftAside(const char *name)
{
    char aside[MAX_PATH];
    if (!KeptName(name, aside, sizeof aside)) return;
    if (!IsReplaceableFile(aside) || ImagesInFile(aside) == 0) return;
    if (GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES) {
        if (!IsReplaceableFile(name) || ImagesInFile(name) > 0) return;  // both hold something: keep both
        if (!DeleteFileA(name)) return;
    }
    MoveFileA(aside, name);
}

// The earlier file goes aside, so that a run that cannot start, or ends
// before its first image, leaves it as it was. Where a file with images
// cannot go aside (a folder too deep for any name beside it, an earlier file
// already waiting there, a file that cannot be moved) it stays as it is and
// no run starts: it is never deleted before a new image is in the new file.
// FALSE then, after the user has been told. A file without images is
// replaced then, as it is without a question.
static BOOL SetOldFileAside(const char *name)
{
    app.keptFile[0] = '\0';
    app.keptFor[0] = '\0';
    if (!IsReplaceableFile(name)) return TRUE;
    char aside[MAX_PATH];
    BOOL named = KeptName(name, aside, sizeof aside);
    if (named && MoveFileA(name, aside)) {
        snprintf(app.keptFile, sizeof app.keptFile, "%s", aside);
        snprintf(app.keptFor, sizeof app.keptFor, "%s", name);
        return TRUE;
    }
    DWORD error = GetLastError();
    if (ImagesInFile(name) == 0) {
        remove(name);  // a failure here is left for the open to decide
        return TRUE;
    }
    char what[2 * MAX_PATH + 128];  // both names in full
    if (!named) {
        snprintf(what, sizeof what,
                 "Can't set %s aside: its folder leaves no room for another name.\nNo run has started; the file is "
                 "as it was.",
                 name);
        ShowFailure(what, ERROR_SUCCESS);
        return FALSE;
    }
    snprintf(what, sizeof what, "Can't set %s aside as %s; no run has started, the file is as it was.", name, aside);
    ShowFailure(what, error);
    return FALSE;
}

// The new file holds an image: the earlier one is replaced for good.
static void DropOldFile(void)
{
    if (app.keptFile[0] == '\0') return;
    DeleteFileA(app.keptFile);  // should it fail, the earlier night stays beside the new one
    app.keptFile[0] = '\0';
    app.keptFor[0] = '\0';
}

// The run never wrote an image: the new file goes and the earlier one
// comes back under its name.
static void PutOldFileBack(void)
{
    if (app.keptFile[0] == '\0') return;
    DeleteFileA(app.keptFor);  // fails when the open never created it
    MoveFileA(app.keptFile, app.keptFor);
    app.keptFile[0] = '\0';
    app.keptFor[0] = '\0';
}

// A failed open lets go of what it made and restores the earlier file.
static void AbandonOpen(void)
{
    if (app.outputStream != NULL) AVIStreamRelease(app.outputStream);
    app.outputStream = NULL;
    if (app.outputFile != NULL) AVIFileRelease(app.outputFile);
    app.outputFile = NULL;
    PutOldFileBack();
}

static void FillStreamHeader(AVISTREAMINFOA *info)
{
    memset(info, 0, sizeof *info);
    info->fccType = streamtypeVIDEO;
    info->fccHandler = 0;
    info->dwScale = 1;
    info->dwRate = IMAGES_PER_SECOND;
    info->dwSuggestedBufferSize = app.outputFormat.biSizeImage;
    info->rcFrame.left = 0;
    info->rcFrame.top = 0;
    info->rcFrame.right = app.outputFormat.biWidth;
    info->rcFrame.bottom = app.outputFormat.biHeight;
}

// The stream's format: the output header with its colour table behind it
// (none for the 24-bit images the program writes). The table is built
// here, since the header in AppState has nothing behind it.
static HRESULT SetStreamFormat(void)
{
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colors[MAX_COLOR_ENTRIES];
    } format;
    memset(&format, 0, sizeof format);
    format.header = app.outputFormat;
    DWORD entries = app.outputFormat.biClrUsed < MAX_COLOR_ENTRIES ? app.outputFormat.biClrUsed : MAX_COLOR_ENTRIES;
    for (DWORD i = 0; i < entries; i++) {
        BYTE grey = (BYTE)(i * 255 / (entries > 1 ? entries - 1 : 1));
        format.colors[i].rgbBlue = format.colors[i].rgbGreen = format.colors[i].rgbRed = grey;
    }
    format.header.biClrUsed = entries;
    LONG size = (LONG)(sizeof(BITMAPINFOHEADER) + entries * sizeof(RGBQUAD));
    return AVIStreamSetFormat(app.outputStream, 0, &format, size);
}

INT OpenImageFile(void)
{
    UseUserFoldersForRecord();
    AVIFileInit();
    if (app.settings.autoIncrement && app.settings.imageFile[0] != '\0' &&
        !NumberImageFile(app.settings.imageFile, sizeof app.settings.imageFile)) {
        // Never overwrite an earlier run. With no free number left no run
        // starts, so Record stays offered; a name with no room for a number
        // fails as an open does.
        if (GetLastError() != ERROR_FILE_EXISTS) {
            ShowErrorWithName("Can't open AVI file %s");
            return 0;
        }
        char what[FAILURE_TEXT_SIZE];
        DescribeNoFreeNumber(app.settings.imageFile, what, sizeof what);
        ShowFailure(what, ERROR_SUCCESS);
        AVIFileExit();
        return OPEN_DECLINED;
    }
    const char *name = app.settings.imageFile;
    // Another Noctil's night is never set aside, asked about or deleted.
    if (!FilesFreeToRecord(name)) {
        AVIFileExit();  // no run: nothing for Stop to close
        return OPEN_DECLINED;
    }
    PutBackFileLeftAside(name);
    if (IsReplaceableFile(name)) {
        LONG images = ImagesInFile(name);
        if (images > 0 && !UserLetsReplace(name, images)) {
            AVIFileExit();  // no run: nothing for Stop to close
            return OPEN_DECLINED;
        }
    }
    if (!SetOldFileAside(name)) {
        AVIFileExit();  // no run: nothing for Stop to close
        return OPEN_DECLINED;
    }

    // Each failure is shown once the earlier file is back in its place.
    SetLastError(ERROR_SUCCESS);
    if (AVIFileOpenA(&app.outputFile, name, OF_WRITE | OF_CREATE, NULL) != AVIERR_OK) {
        DWORD error = GetLastError();
        app.outputFile = NULL;
        AbandonOpen();
        SetLastError(error);
        ShowErrorWithName("Can't open AVI file %s");
        return 0;
    }
    AVISTREAMINFOA info;
    FillStreamHeader(&info);
    SetLastError(ERROR_SUCCESS);
    if (AVIFileCreateStreamA(app.outputFile, &app.outputStream, &info) != AVIERR_OK) {
        DWORD error = GetLastError();
        app.outputStream = NULL;
        AbandonOpen();
        SetLastError(error);
        ShowError("Can't create AVI stream");
        return 0;
    }
    SetLastError(ERROR_SUCCESS);
    if (SetStreamFormat() != AVIERR_OK) {
        DWORD error = GetLastError();
        AbandonOpen();
        SetLastError(error);
        ShowError("Can't set AVI stream format");
        return 0;
    }
    app.sampleIndex = 0;
    snprintf(app.outputName, sizeof app.outputName, "%s", app.settings.imageFile);
    return 1;
}

// The number of bytes of an image's rows: its own size field, or the size
// its rows take when the field is 0 (which the format allows for BI_RGB).
static size_t ImageBytes(const PackedDib *dib)
{
    if (dib->biSizeImage != 0) return dib->biSizeImage;
    LONG height = dib->biHeight < 0 ? -dib->biHeight : dib->biHeight;
    return PackedDibStride(dib) * (size_t)height;
}

// Whether `bytes` bytes from `bits` lie inside the image's block: a stale
// location, or one into another block, is never read.
static BOOL RowsLieInside(const PackedDib *dib, const BYTE *bits, size_t bytes)
{
    size_t blockSize = PackedDibSize(dib);
    const BYTE *start = (const BYTE *)dib;
    if (blockSize == 0 || bits == NULL || bits < start + sizeof(BITMAPINFOHEADER)) return FALSE;
    size_t offset = (size_t)(bits - start);
    return offset <= blockSize && bytes <= blockSize - offset;
}

// A failed write ends the run (the exposure cycle stops it); the user hears
// why once the cycle's handler has returned.
static void ReportWriteFailure(const char *reason, DWORD error)
{
    char what[FAILURE_TEXT_SIZE];
    snprintf(what, sizeof what, "Can't write image to AVI file %s%s", app.outputName, reason);
    ReportRunFailure(RUN_FAILURE_WRITE, what, error);
}

BOOL AppendImage(PackedDib *dib, BYTE *bits)
{
    if (app.sampleIndex < 0 || dib == NULL) return FALSE;
    size_t bytes = ImageBytes(dib);
    // Rows of another size than the stream's images would break the file.
    if (!RowsLieInside(dib, bits, bytes) || bytes != app.outputFormat.biSizeImage) {
        ReportWriteFailure("\nThe image is not the size of the file's images.", ERROR_SUCCESS);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    if (AVIStreamWrite(app.outputStream, app.sampleIndex, 1, bits, (LONG)bytes, AVIIF_KEYFRAME, NULL, NULL) !=
        AVIERR_OK) {
        ReportWriteFailure("", GetLastError());
        return FALSE;
    }
    app.sampleIndex++;
    DropOldFile();
    return TRUE;
}

void CloseImageFile(void)
{
    app.sampleIndex = -1;
    if (app.outputStream != NULL) AVIStreamRelease(app.outputStream);
    app.outputStream = NULL;
    if (app.outputFile != NULL) AVIFileRelease(app.outputFile);
    app.outputFile = NULL;
    PutOldFileBack();  // only while the run wrote no image
    AVIFileExit();
}

// Ending the program during a run finishes the output file, so every image
// already taken stays in it with its index.
void FinishOutputOnExit(void)
{
    if (app.sampleIndex >= 0 || app.outputStream != NULL || app.outputFile != NULL || app.keptFile[0] != '\0')
        CloseImageFile();
}
