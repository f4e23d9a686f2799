// safe_file.h - opening files without following links, clobbering or hanging.
//
// The program runs as root in directories it does not own. Files it creates
// are created fresh (never through a symbolic link, never over an existing
// file); files it reads are opened so that a FIFO or a device cannot block the
// run, and only regular files are accepted.
#pragma once

#include <cstdio>

/// Creates `path` afresh (O_CREAT|O_EXCL|O_NOFOLLOW, permission 0600) and
/// wraps it in a stream opened with `mode` ("w", "wb", "w+b", ...). Returns
/// null with errno set when the file exists (also as a link) or on any error.
FILE* create_new_file(const char* path, const char* mode);

/// Creates `path` afresh as create_new_file does; returns the write-only
/// descriptor, or -1 with errno set.
int create_new_fd(const char* path);

/// Opens an existing regular file of the host for reading ("r" or "rb").
/// Opening never blocks; a FIFO, device, socket or directory is refused with
/// errno EINVAL. Returns null with errno set on failure.
FILE* open_regular_file(const char* path, const char* mode);

/// Opens an existing regular file for reading and writing ("r+b") without
/// following a final symbolic link. Null with errno set on failure.
FILE* open_for_update_nofollow(const char* path);

/// Opens `path` write-only, creating it (0600) if absent, never through a
/// final symbolic link, and only if it is a regular file (a FIFO or device
/// is refused with errno EINVAL, and opening one never blocks). `extra_flags`
/// adds open flags such as O_APPEND or O_DSYNC. The file is not truncated.
/// Returns the descriptor, in blocking mode, or -1 with errno set.
int open_regular_for_write_nofollow(const char* path, int extra_flags);

/// Empties the regular file `path` (creating it if absent) without following
/// a final symbolic link; anything but a regular file is left alone.
/// Returns false with errno set on failure.
bool truncate_regular_nofollow(const char* path);

/// Wraps `fd` (opened non-blocking) in a stream of `mode` if it is a regular
/// file, switching it back to blocking mode; otherwise closes it and fails
/// with EINVAL. Null with errno set on failure.
FILE* regular_stream_from_fd(int fd, const char* mode);

/// A read stream giving at most `limit` bytes of `f` and then end of file;
/// closing it closes `f`. Null (and `f` closed) on failure.
FILE* bound_stream(FILE* f, unsigned long long limit);
