#include "avicap/capture_file.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "files/last_error.h"
#include "files/paths.h"
#include "files/replace_file.h"
#include "files/write_seam.h"

namespace plat::avicap {

namespace {

// A new file at the native name `path` in place of any file of that name;
// only a missing directory on the way is made, and only when the open says
// it is missing.
int createReplacing(const std::string &path) {
    int fd = createReplacingFile(path.c_str());
    if (fd < 0 && errno == ENOENT) {
        std::error_code ignored;  // a directory that cannot be made shows as the open failing again
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
        fd = createReplacingFile(path.c_str());
    }
    if (fd < 0) setLastErrorFromErrno(errno, path.c_str());
    return fd;
}

// Copies `size` bytes from `in` to `out`, inside the kernel: the file
// system may share the blocks or copy them without a trip through this
// process. Where it cannot between these files, sendfile does the same.
bool copyBytes(int in, int out, std::uint64_t size) {
    std::uint64_t left = size;
    bool sharedCopy = true;
    while (left > 0) {
        const std::size_t chunk = std::size_t(std::min<std::uint64_t>(left, 1u << 30));
        ssize_t n = sharedCopy ? ::copy_file_range(in, nullptr, out, nullptr, chunk, 0) : -1;
        if (n < 0 && sharedCopy && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
            sharedCopy = false;
            continue;
        }
        if (!sharedCopy) n = ::sendfile(out, in, nullptr, chunk);
        if (n < 0 && errno == EINTR) continue;  // interrupted before copying: try again
        if (n <= 0) {
            setLastErrorFromErrno(n < 0 ? errno : EIO);
            return false;
        }
        left -= std::uint64_t(n);
    }
    return true;
}

}  // namespace

bool createCaptureFile(const std::string &name, const BITMAPINFOHEADER &format, DWORD microsPerFrame,
                       avi::Writer &file) {
    thread_local std::string path;  // keep their room from image to image
    thread_local avi::StreamFormat stream;
    nativePathInto(name, path);
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(&format);
    stream.format.assign(bytes, bytes + sizeof format);
    stream.scale = microsPerFrame;
    stream.rate = 1000000;
    const int fd = createReplacing(path);
    if (fd >= 0 && file.start(fd, stream)) return true;
    std::fprintf(stderr, "capture window: cannot create the capture file %s\n", path.c_str());
    return false;
}

bool copyCaptureFile(const std::string &from, const char *to) {
    thread_local std::string source, target;
    nativePathInto(from, source);
    nativePathInto(to, target);
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (in < 0 || ::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (in >= 0) ::close(in);
        return false;
    }
    const int out = createReplacing(target);
    // A drive the copy would overfill fails it as a full disk does.
    WriteSeam *seam = writeSeam();
    bool ok = out >= 0 && (!seam || seam->hasRoom(out, std::uint64_t(st.st_size)));
    if (out >= 0 && !ok) setLastErrorFromErrno(ENOSPC);
    if (ok) ok = copyBytes(in, out, std::uint64_t(st.st_size));
    if (!ok) std::fprintf(stderr, "capture window: cannot copy %s to %s\n", source.c_str(), target.c_str());
    ::close(in);
    if (out >= 0) ::close(out);
    return ok;
}

}  // namespace plat::avicap
