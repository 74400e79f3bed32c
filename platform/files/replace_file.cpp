#include "files/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

int createReplacingFile(const char *path, int flags) {
    struct stat st {};
    // Where the unlink fails (a folder it may not change), the open truncates
    // or refuses as it always did.
    if (::lstat(path, &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path);
    return ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | flags, 0644);
}

}  // namespace plat
