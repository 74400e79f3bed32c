// The AVI file library's own state, for tests that check the program's use of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace plat::avi {

// AVIFileInit calls not yet balanced by AVIFileExit.
int libraryUseCount();
// Files, streams and frame readers handed out and not yet released.
std::size_t openObjectCount();

// A file the program is writing images into, as a display shows it.
struct FileBeingWritten {
    std::string name;              // as the program named it ("C:\\Images.AVI")
    std::filesystem::path path;    // where it lies on this machine
    std::uint32_t frames = 0;      // images appended so far
    std::uint64_t frameBytes = 0;  // bytes one more image takes, headers and index included
    std::uint64_t serial = 0;      // one number per file opened in the session, never reused
};
// Every file open for writing whose stream format is set, oldest first.
std::vector<FileBeingWritten> filesBeingWritten();
// The serial of the newest of them, 0 when none; allocates nothing.
std::uint64_t newestFileBeingWritten();

}  // namespace plat::avi
