// A new file in place of one of the same name, without rewriting the old
// one in place, and never in place of a file that is being written.
//
// A file being written is held by its writer: the descriptor
// createReplacingFile returns holds the file's write lock (an advisory
// flock, which every writer of the platform takes) until it is closed, as a
// file open for writing on Windows refuses to be replaced, moved or deleted
// by anyone else. The lock belongs to the open file, so it holds against
// another process; a file this process writes itself stays its own to
// replace, as before. The kernel lets the lock go with the last descriptor,
// so a writer that died holds nothing.
#pragma once

namespace plat {

// Opens the native path `path` as a new, empty file for writing
// (O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, and `flags`), holding its
// write lock. A regular file of that name is unlinked first rather than
// truncated: truncating a file that holds data makes the file system flush
// the new data when it is closed, which holds the writer up. A link is
// followed as before. -1, with errno, when the open fails; errno
// EWOULDBLOCK, with the file untouched, when it is being written.
int createReplacingFile(const char *path, int flags = 0);

// Whether the regular file at the native path `path` is being written by
// another process: an open file holds its write lock, and this process
// does not have the file open for writing.
bool heldForWriting(const char *path);

}  // namespace plat
