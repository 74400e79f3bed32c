// Windows file names on the platform root.
//
// The program names its files the Windows way ("C:\Images.AVI"). Each drive
// letter is a directory under the platform root (<root>/drives/c for C:),
// the Windows directory is <root>/windows, and native absolute paths are used
// as they are, so tests and people can also hand the program a Linux path.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace plat {

// "C:\x\y.AVI" -> <root>/drives/c/x/y.AVI (drive letters in either case,
// backslashes or slashes). "\x\y" (rooted, no drive) is on drive C. "." and
// ".." are resolved and never climb above the drive. A component that exists
// under another case is found under that case, as Windows file names are
// case-insensitive. Native absolute paths ("/tmp/a.avi") and relative names
// are unchanged, except that backslashes in a relative name separate
// directories. A name that cannot be mapped (UNC and device names) maps to
// itself, and so does every name while no session runs.
std::filesystem::path nativePath(std::string_view windowsOrNativeName);

// The same mapping into `out`, which keeps its room from call to call: the
// file calls map every name through one such buffer and allocate nothing
// once it has grown to the longest name.
void nativePathInto(std::string_view windowsOrNativeName, std::string &out);

// <root>/windows, created when missing. The program knows it as C:\WINDOWS
// (GetWindowsDirectoryA), which nativePath maps back here.
std::filesystem::path windowsDirectory();

// The Windows directory as the program names it.
inline constexpr const char *kWindowsDirectoryName = "C:\\WINDOWS";

// Creates the directories a fresh platform root needs (drive C and the
// Windows directory); failures are left for the file calls to report.
void prepareRoot(const std::filesystem::path &root);

// The entry of `dir` named `name` apart from letter case: the exact name when
// it exists, else the first (in byte order) of the names that differ from it
// only in case, else `name` itself (a file about to be created).
std::filesystem::path entryIgnoringCase(const std::filesystem::path &dir, std::string_view name);

// Whether a file may be created under that native name: nothing is there,
// or a file (or a link to one) that the new file replaces.
bool replaceableAsFile(const std::filesystem::path &file);

// What Windows says of a name before it looks on any disk: ERROR_INVALID_NAME
// for a character it refuses in names (< > : " | ? * and the control
// characters; ':' only right after a drive letter), else ERROR_SUCCESS.
// Names of devices ("\\?\...") are left to the call.
unsigned long windowsNameError(std::string_view name);

// The directory of a drive letter ('c' or 'C') under the session's root.
std::filesystem::path driveDirectory(char letter);

}  // namespace plat
