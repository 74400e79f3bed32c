#include "files/replace_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/file_users.h"

namespace plat {

int createReplacingFile(const char *path, int flags) {
    struct stat st {};
    if (::lstat(path, &st) == 0 && S_ISREG(st.st_mode)) {
        if (heldForWriting(path)) {
            errno = EWOULDBLOCK;
            return -1;
        }
        // Where the unlink fails (a folder it may not change), the open
        // truncates or refuses as it always did.
        ::unlink(path);
    }
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | flags, 0644);
    // Where the lock cannot be had (this process writes the file under
    // another descriptor still, the unlink having failed) it is written
    // without it, as before.
    if (fd >= 0) (void)takeWriteLock(fd);
    return fd;
}

bool heldForWriting(const char *path) {
    struct stat st {};
    if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;  // a file this process may not read is left to the call that follows
    // A shared lock goes along with readers and conflicts with a writer's.
    const bool locked = !takeLock(fd, LOCK_SH);
    ::close(fd);  // lets the shared lock go
    // A file this process writes is its own to replace, as it always was.
    return locked && !writtenHere(path);
}

}  // namespace plat
