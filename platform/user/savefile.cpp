// The Save As dialog of the common dialogs: a modal dialog with the file
// name box, the list of file types from the filter, and Save and Cancel.
// The directory of a name must exist when the caller asks for that; the
// name the user confirms is written back into the caller's buffer.
#include <windows.h>
#include <commdlg.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "files/paths.h"
#include "user/dialog_system.h"
#include "user/window_system.h"

namespace plat::user {

namespace {

// The platform's ids of the Save As dialog's file name box and type list.
constexpr int kFileNameBox = 1152;
constexpr int kTypeList = 1136;

struct SaveRequest {
    OPENFILENAMEA *ofn;
    std::string directory;  // the folder a bare name is saved in
    std::string chosen;
    int filterIndex = 0;
};

std::string initialName(const OPENFILENAMEA &ofn) {
    return std::string(ofn.lpstrFile, strnlen(ofn.lpstrFile, ofn.nMaxFile));
}

// Everything up to and including the last separator; "" for a bare name.
std::string directoryPart(const std::string &name) {
    const std::size_t cut = name.find_last_of("\\/:");
    return cut == std::string::npos ? std::string() : name.substr(0, cut + 1);
}

// The descriptions of the filter's pairs ("Microsoft AVI", "*.avi", ...).
std::vector<std::string> filterDescriptions(LPCSTR filter) {
    std::vector<std::string> out;
    if (!filter) return out;
    for (const char *p = filter; *p;) {
        const char *description = p;
        p += std::strlen(p) + 1;
        if (!*p) break;  // a description without its pattern ends the list
        out.emplace_back(description);
        p += std::strlen(p) + 1;
    }
    return out;
}

res::DialogTemplate layout(const OPENFILENAMEA &ofn) {
    res::DialogTemplate t;
    t.title = ofn.lpstrTitle ? ofn.lpstrTitle : "Save As";
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
    t.fontName = "MS Sans Serif";
    t.pointSize = 8;
    t.cx = 260;
    t.cy = 62;
    constexpr DWORD child = WS_CHILD | WS_VISIBLE;
    t.controls = {
        {"STATIC", "File &name:", -1, -1, child | SS_LEFT, 0, 7, 9, 50, 8},
        {"EDIT", "", -1, kFileNameBox, child | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 0, 60, 7, 140, 13},
        {"STATIC", "Save as &type:", -1, -1, child | SS_LEFT, 0, 7, 27, 50, 8},
        {"COMBOBOX", "", -1, kTypeList, child | WS_TABSTOP, 0, 60, 25, 140, 13},
        {"BUTTON", "&Save", -1, IDOK, child | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 205, 7, 50, 14},
        {"BUTTON", "Cancel", -1, IDCANCEL, child | WS_TABSTOP | BS_PUSHBUTTON, 0, 205, 25, 50, 14},
    };
    return t;
}

bool directoryExists(const std::string &directory) {
    if (directory.empty()) return true;
    std::error_code error;
    return std::filesystem::is_directory(nativePath(directory), error);
}

// Save: the name as typed, a bare name placed in the dialog's folder.
INT_PTR onSave(HWND dialog, SaveRequest &request) {
    char typed[MAX_PATH * 4] = "";
    GetDlgItemTextA(dialog, kFileNameBox, typed, sizeof typed);
    std::string name = typed;
    while (!name.empty() && name.front() == ' ') name.erase(name.begin());
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (name.empty()) return TRUE;  // nothing to save as: the dialog stays
    if (directoryPart(name).empty()) name = request.directory + name;

    if ((request.ofn->Flags & OFN_PATHMUSTEXIST) && !directoryExists(directoryPart(name))) {
        const std::string message = name + "\nThe path does not exist.\nCheck the path and try again.";
        char title[256] = "";
        GetWindowTextA(dialog, title, sizeof title);
        MessageBoxA(dialog, message.c_str(), title, MB_OK | MB_ICONEXCLAMATION);
        return TRUE;
    }
    request.chosen = name;
    request.filterIndex = comboSelection(GetDlgItem(dialog, kTypeList));
    EndDialog(dialog, IDOK);
    return TRUE;
}

INT_PTR saveDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM, SaveRequest &request) {
    switch (message) {
    case WM_INITDIALOG: {
        SetDlgItemTextA(dialog, kFileNameBox, initialName(*request.ofn).c_str());
        HWND types = GetDlgItem(dialog, kTypeList);
        for (const std::string &d : filterDescriptions(request.ofn->lpstrFilter))
            SendMessageA(types, kCbAddString, 0, reinterpret_cast<LPARAM>(d.c_str()));
        // nFilterIndex counts from 1; 0 (no custom filter) shows the first pair.
        const DWORD index = request.ofn->nFilterIndex;
        SendMessageA(types, kCbSetCurSel, index > 0 ? index - 1 : 0, 0);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: return onSave(dialog, request);
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
        default: return FALSE;
        }
    default: return FALSE;
    }
}

bool usable(const OPENFILENAMEA *ofn) {
    return ofn && ofn->lStructSize >= OPENFILENAME_SIZE_VERSION_400A && ofn->lStructSize <= sizeof(OPENFILENAMEA) &&
           ofn->lpstrFile && ofn->nMaxFile > 0;
}

}  // namespace

}  // namespace plat::user

using namespace plat;
using namespace plat::user;

extern "C" BOOL WINAPI GetSaveFileNameA(LPOPENFILENAMEA ofn) {
    if (!usable(ofn)) return FALSE;
    SaveRequest request{ofn, {}, {}, 0};
    request.directory = ofn->lpstrInitialDir ? ofn->lpstrInitialDir : "";
    if (!request.directory.empty() && request.directory.find_last_of("\\/") != request.directory.size() - 1)
        request.directory += '\\';
    if (std::string dir = directoryPart(initialName(*ofn)); !dir.empty()) request.directory = dir;

    DialogProc proc = [&request](HWND h, UINT m, WPARAM w, LPARAM l) { return saveDialogProc(h, m, w, l, request); };
    if (runModalDialog(layout(*ofn), nullptr, ofn->hwndOwner, proc, 0) != IDOK) return FALSE;

    // A name that does not fit the caller's buffer is not confirmed.
    if (request.chosen.size() + 1 > ofn->nMaxFile) return FALSE;
    std::memcpy(ofn->lpstrFile, request.chosen.c_str(), request.chosen.size() + 1);
    const std::size_t nameAt = directoryPart(request.chosen).size();
    const std::string fileName = request.chosen.substr(nameAt);
    ofn->nFileOffset = static_cast<WORD>(nameAt);
    const std::size_t dot = fileName.find_last_of('.');
    ofn->nFileExtension = static_cast<WORD>(dot == std::string::npos ? request.chosen.size() : nameAt + dot + 1);
    if (ofn->lpstrFileTitle && ofn->nMaxFileTitle > fileName.size())
        std::memcpy(ofn->lpstrFileTitle, fileName.c_str(), fileName.size() + 1);
    if (request.filterIndex >= 0) ofn->nFilterIndex = static_cast<DWORD>(request.filterIndex) + 1;
    return TRUE;
}
