// The stack's files: at Stop, the stack as <name>.stack.fits beside the
// output file and the view as <name>.stack.png beside that; Save Stack...
// writes both under a name the user chooses. A failed write is told; the
// output file is closed before and never touched by it.
#include <windows.h>
#include <commdlg.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <filesystem>
#include <string>

#include "live_stack.h"
#include "stack/png.h"
#include "stack/stack_file.h"

// Writes `bytes` to `name`, replacing a file of that name, through the C
// library's calls (which the platform maps Windows names for). FALSE with
// errno set, and no part of the file left, when it cannot.
static BOOL WriteWholeFile(const char *name, const std::vector<std::uint8_t> &bytes) {
    FILE *file = fopen(name, "wb");
    if (file == NULL) return FALSE;
    BOOL written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    int error = errno;
    // The last bytes reach the disk at the close: a full disk shows there.
    if (fclose(file) != 0 && written) {
        written = FALSE;
        error = errno;
    }
    if (written) return TRUE;
    remove(name);
    errno = error;
    return FALSE;
}

// Tells the user, once the handler has returned, that the stack's file
// `name` was not written and why; the output file keeps its images.
static void TellStackNotWritten(const char *name) {
    char what[FAILURE_TEXT_SIZE];
    snprintf(what, sizeof what, "Can't write the stack to %s\n%s.\n%s keeps its %d images.", name, strerror(errno),
             app.outputName, app.framesWritten);
    ReportRunFailure(RUN_FAILURE_STACK, what, ERROR_SUCCESS);
}

// The stack at `fitsName` and its view beside it with the extension .png.
// FALSE when either could not be written (the user has been told).
static BOOL WriteStackFiles(const char *fitsName) {
    LiveStack *live = app.liveStack;
    std::int64_t writtenUtc = (std::int64_t)time(NULL) * 1000000;
    if (!WriteWholeFile(fitsName, noctil::stack::stackFileBytes(live->stacker, writtenUtc))) {
        TellStackNotWritten(fitsName);
        return FALSE;
    }
    std::string pngName = std::filesystem::path(fitsName).replace_extension(".png").string();
    const BITMAPINFOHEADER *h = &live->viewHeader;
    // The view without the histogram below it: the stack's own rows.
    size_t stride = noctil::stack::dibRowBytes((std::uint32_t)h->biWidth);
    size_t histogramBytes = stride * (size_t)(h->biHeight - (LONG)live->stackHeight);
    std::span<const std::uint8_t> rows(live->viewRows.data() + histogramBytes, live->viewRows.size() - histogramBytes);
    if (!WriteWholeFile(pngName.c_str(), noctil::stack::pngBytes((std::uint32_t)h->biWidth, live->stackHeight, rows))) {
        TellStackNotWritten(pngName.c_str());
        return FALSE;
    }
    return TRUE;
}

// The file line says where the stack went, and how much of it.
static void TellStackWritten(LiveStack *live, const char *name) {
    snprintf(live->lines[STACK_LINE_FILE], STACK_LINE_SIZE, "Written: %s (%d images, %.3f s)", name,
             live->stacker.imagesIn(), live->stacker.stack().exposureSumS);
    ShowStackState(live);
}

void SaveStackBesideOutput(void) {
    LiveStack *live = app.liveStack;
    if (live == NULL || live->stacker.imagesIn() == 0 || app.outputName[0] == '\0') return;
    std::string name = noctil::stack::stackPathFor(app.outputName).string();
    if (WriteStackFiles(name.c_str())) TellStackWritten(live, name.c_str());
}

// Two filter pairs, each text ended by a zero; the literal's own terminator
// ends the list.
static const char stackFilter[] = "FITS files\0*.fits\0All Files\0*.*\0";

LRESULT SaveStackAs(void) {
    LiveStack *live = app.liveStack;
    if (live->stacker.imagesIn() == 0) {
        MessageBoxA(app.mainWindow, "The stack holds no image yet: there is nothing to save.", "Save Stack", MB_OK);
        return 0;
    }
    // Offered: the name Stop would write beside the output file.
    char name[MAX_PATH];
    const char *output = app.outputName[0] != '\0' ? app.outputName : app.settings.imageFile;
    snprintf(name, sizeof name, "%s", noctil::stack::stackPathFor(output).string().c_str());
    OPENFILENAMEA ofn;
    memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ofn.hwndOwner = app.liveStackWindow != NULL ? app.liveStackWindow : app.mainWindow;
    ofn.lpstrFilter = stackFilter;
    ofn.lpstrFile = name;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrTitle = "Save Stack";
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT;
    if (!GetSaveFileNameA(&ofn)) return 0;
    if (WriteStackFiles(name)) TellStackWritten(live, name);
    return 0;
}
