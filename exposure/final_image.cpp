// The final image: the capture driver itself writes the kept frame into a
// temporary AVI file and saves a copy, and frame 0 of the copy, decoded by
// the AVI library, becomes the current image lastImage. The program never
// interprets the driver's own frame layout.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app_state.h"

#define CAPTURE_FILE app.captureFile
#define CAPTURE_COPY_FILE app.captureCopyFile

// No image the capture drivers deliver comes near this; a header asking
// for more is taken as damaged rather than trusted with an allocation.
#define MAX_PACKED_DIB_BYTES ((uint64_t)256 << 20)
#define BITFIELD_MASKS_BYTES 12

size_t PackedDibColorTableBytes(const BITMAPINFOHEADER *header)
{
    if (header->biClrUsed != 0) return 4 * (size_t)header->biClrUsed;
    if (header->biCompression == BI_BITFIELDS && (header->biBitCount == 16 || header->biBitCount == 32))
        return BITFIELD_MASKS_BYTES;
    // Palette images without a colour count carry the full palette.
    if (header->biBitCount <= 8) return 4 * ((size_t)1 << header->biBitCount);
    return 0;
}

size_t PackedDibStride(const BITMAPINFOHEADER *header)
{
    uint64_t bits = (uint64_t)(header->biWidth > 0 ? header->biWidth : 0) * header->biBitCount;
    return (size_t)((bits + 31) / 32 * 4);
}

// Top-down images (negative height) have as many rows as bottom-up ones.
static uint64_t PackedDibRows(const BITMAPINFOHEADER *header)
{
    int64_t height = header->biHeight;
    return (uint64_t)(height < 0 ? -height : height);
}

size_t PackedDibSize(const BITMAPINFOHEADER *header)
{
    WORD bitCount = header->biBitCount;
    BOOL knownDepth =
        bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
    if (!knownDepth || header->biWidth <= 0 || header->biHeight == 0) return 0;
    if (header->biClrUsed > MAX_PACKED_DIB_BYTES / 4) return 0;
    uint64_t size = sizeof(BITMAPINFOHEADER) + (uint64_t)PackedDibColorTableBytes(header) +
                    (uint64_t)PackedDibStride(header) * PackedDibRows(header);
    return size > MAX_PACKED_DIB_BYTES ? 0 : (size_t)size;
}

BYTE *PackedDibBits(PackedDib *dib) { return (BYTE *)dib + sizeof(BITMAPINFOHEADER) + PackedDibColorTableBytes(dib); }

// Copies frame 0 of the reader into a new block that replaces *imageSlot.
// The new block is allocated before the old one is freed, so an image that
// cannot be sized or allocated leaves the current image as it was.
static BOOL CopyFrameZero(PGETFRAME reader, PackedDib **imageSlot)
{
    const BITMAPINFOHEADER *frame = (const BITMAPINFOHEADER *)AVIStreamGetFrame(reader, 0);
    if (frame == NULL) return FALSE;
    size_t size = PackedDibSize(frame);
    if (size == 0) return FALSE;
    PackedDib *image = (PackedDib *)malloc(size);
    if (image == NULL) return FALSE;
    memcpy(image, frame, size);

    // This is the one place that sets lastImageBits: it follows the new
    // image at once, so it never points into a freed block.
    BOOL isLastImage = imageSlot == &app.lastImage;
    free(*imageSlot);
    *imageSlot = image;
    if (isLastImage) app.lastImageBits = PackedDibBits(image);
    return TRUE;
}

BOOL LoadFrameFromAvi(LPCSTR fileName, PackedDib **imageSlot)
{
    BOOL loaded = FALSE;
    AVIFileInit();
    PAVISTREAM stream = NULL;
    if (AVIStreamOpenFromFileA(&stream, fileName, streamtypeVIDEO, 0, OF_READ, NULL) == AVIERR_OK) {
        PGETFRAME reader = AVIStreamGetFrameOpen(stream, NULL);
        if (reader != NULL) {
            loaded = CopyFrameZero(reader, imageSlot);
            AVIStreamGetFrameClose(reader);
        }
        AVIStreamRelease(stream);
    }
    AVIFileExit();
    return loaded;
}

BOOL TellImageFailure(const char *kind)
{
    if (strcmp(kind, app.imageFailureTold) == 0) return FALSE;
    snprintf(app.imageFailureTold, sizeof app.imageFailureTold, "%s", kind);
    return TRUE;
}

// Tells the user that an image could not be made, unless the same failure
// was told last (TellImageFailure); the cycle goes on and tries again with
// the next exposure.
static BOOL ImageFailed(const char *what, LPCSTR fileName, DWORD error)
{
    char text[FAILURE_TEXT_SIZE];
    snprintf(text, sizeof text, what, fileName);
    if (!TellImageFailure(text)) return FALSE;
    ReportRunFailure(RUN_FAILURE_IMAGE, text, error);
    return FALSE;
}

// Deletes a temporary file of an earlier image; FALSE when something of that
// name is still there (a folder, a file that cannot be deleted).
static BOOL ClearTemporaryFile(LPCSTR fileName)
{
    SetLastError(ERROR_SUCCESS);
    remove(fileName);
    return GetFileAttributesA(fileName) == INVALID_FILE_ATTRIBUTES;
}

BOOL MakeFinalImage(void)
{
    // The render state: the callback stamps the kept image onto every frame
    // and stops the capture, so the file's frame 0 is the kept image.
    app.SelectionState = SELECTION_RENDER;
    // An earlier image's files must never stand in for this one, so both go
    // first, and each step below must succeed for the image to count.
    if (!ClearTemporaryFile(CAPTURE_FILE)) return ImageFailed("Can't delete AVI file %s", CAPTURE_FILE, GetLastError());
    if (!ClearTemporaryFile(CAPTURE_COPY_FILE))
        return ImageFailed("Can't delete AVI file %s", CAPTURE_COPY_FILE, GetLastError());

    SendCaptureMessage(WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, (LPARAM)ReadoutFrameCallback);
    SendCaptureMessage(WM_CAP_FILE_SET_CAPTURE_FILEA, 0, (LPARAM)CAPTURE_FILE);
    SetLastError(ERROR_SUCCESS);
    BOOL captured = (BOOL)SendCaptureMessage(WM_CAP_SEQUENCE, 0, 0);
    DWORD error = GetLastError();
    SendCaptureMessage(WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, 0);
    if (!captured) return ImageFailed("Can't capture to AVI file %s", CAPTURE_FILE, error);

    SetLastError(ERROR_SUCCESS);
    BOOL saved = (BOOL)SendCaptureMessage(WM_CAP_FILE_SAVEASA, 0, (LPARAM)CAPTURE_COPY_FILE);
    error = GetLastError();
    if (!saved) return ImageFailed("Can't save AVI file %s", CAPTURE_COPY_FILE, error);

    SetLastError(ERROR_SUCCESS);
    if (!LoadFrameFromAvi(CAPTURE_COPY_FILE, &app.lastImage))
        return ImageFailed("Can't read AVI file %s", CAPTURE_COPY_FILE, GetLastError());
    return TRUE;
}
