// A new file in place of one of the same name, without rewriting the old
// one in place.
#pragma once

namespace plat {

// Opens the native path `path` as a new, empty file for writing
// (O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, and `flags`). A regular file of
// that name is unlinked first rather than truncated: truncating a file that
// holds data makes the file system flush the new data when it is closed,
// which holds the writer up. A link is followed as before. -1, with errno,
// when the open fails.
int createReplacingFile(const char *path, int flags = 0);

}  // namespace plat
