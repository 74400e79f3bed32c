// The one seam through which tests stand in for the machine under the
// files the platform writes (AVI files, image logs, copies of the capture
// file): a drive that fills up, a process killed part-way through a write.
// The program installs nothing here, and every write then goes through as
// the kernel takes it; the stand-ins live in the tests' support code.
#pragma once

#include <cstdint>

namespace plat {

enum class WrittenFile { Avi, ImageLog, CaptureCopy };

class WriteSeam {
public:
    virtual ~WriteSeam() = default;
    // Whether `fd` may grow to `end` bytes; false fails the write as a full
    // disk does (the caller reports ENOSPC).
    virtual bool hasRoom(int fd, std::uint64_t end) = 0;
    // The bytes of `what` that may still be written before the process is
    // killed; UINT64_MAX while no kill is due.
    virtual std::uint64_t bytesBeforeKill(WrittenFile what) = 0;
    // `bytes` of `what` have been written.
    virtual void wrote(WrittenFile what, std::uint64_t bytes) = 0;
};

// The seam in force, null when none is installed (the program).
WriteSeam *writeSeam();
void installWriteSeam(WriteSeam *seam);

}  // namespace plat
