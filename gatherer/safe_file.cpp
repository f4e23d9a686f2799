// safe_file.cpp - opening files without following links, clobbering or hanging.
#include "safe_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/// Closes `fd` keeping the errno of the failure that made us give up.
void close_keep_errno(int fd) {
  int saved = errno;
  close(fd);
  errno = saved;
}

/// Accepts `fd` only if it is a regular file; otherwise closes it and fails
/// with EINVAL. Then switches the descriptor back to blocking mode.
int keep_if_regular(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) {
    close_keep_errno(fd);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    errno = EINVAL;
    return -1;
  }
  int fl = fcntl(fd, F_GETFL);
  if (fl == -1 || fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) == -1) {
    close_keep_errno(fd);
    return -1;
  }
  return fd;
}

/// Wraps `fd` in a stream; on failure closes it and returns null.
FILE* wrap(int fd, const char* mode) {
  if (fd < 0) return nullptr;
  FILE* f = fdopen(fd, mode);
  if (!f) close_keep_errno(fd);
  return f;
}

bool is_read_only_mode(const char* mode) {
  return mode && mode[0] == 'r' && !strchr(mode, '+');
}

}  // namespace

int create_new_fd(const char* path) {
  if (!path || !*path) {
    errno = EINVAL;
    return -1;
  }
  return open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

FILE* create_new_file(const char* path, const char* mode) {
  if (!mode || (mode[0] != 'w' && mode[0] != 'a')) {
    errno = EINVAL;
    return nullptr;
  }
  if (!path || !*path) {
    errno = EINVAL;
    return nullptr;
  }
  // A mode with '+' needs a descriptor that can also read.
  int access = strchr(mode, '+') ? O_RDWR : O_WRONLY;
  int fd = open(path, access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  return wrap(fd, mode);
}

FILE* open_regular_file(const char* path, const char* mode) {
  if (!path || !is_read_only_mode(mode)) {
    errno = EINVAL;
    return nullptr;
  }
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return wrap(keep_if_regular(fd), mode);
}

FILE* open_for_update_nofollow(const char* path) {
  if (!path) {
    errno = EINVAL;
    return nullptr;
  }
  int fd = open(path, O_RDWR | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return wrap(keep_if_regular(fd), "r+b");
}

int open_regular_for_write_nofollow(const char* path, int extra_flags) {
  if (!path || !*path) {
    errno = EINVAL;
    return -1;
  }
  int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (extra_flags & ~O_TRUNC),
                0600);
  if (fd < 0) return -1;
  return keep_if_regular(fd);
}

FILE* regular_stream_from_fd(int fd, const char* mode) {
  if (fd < 0) return nullptr;
  if (!mode) {
    close(fd);
    errno = EINVAL;
    return nullptr;
  }
  return wrap(keep_if_regular(fd), mode);
}

namespace {

struct bounded {
  FILE* f;
  unsigned long long left;
};

ssize_t bounded_read(void* cookie, char* buf, size_t size) {
  bounded* b = static_cast<bounded*>(cookie);
  if (size > b->left) size = static_cast<size_t>(b->left);
  if (size == 0) return 0;
  size_t n = fread(buf, 1, size, b->f);
  b->left -= n;
  return n == 0 && ferror(b->f) ? -1 : static_cast<ssize_t>(n);
}

int bounded_close(void* cookie) {
  bounded* b = static_cast<bounded*>(cookie);
  int rc = fclose(b->f);
  delete b;
  return rc;
}

}  // namespace

FILE* bound_stream(FILE* f, unsigned long long limit) {
  if (!f) return nullptr;
  bounded* b = new bounded{f, limit};
  cookie_io_functions_t io = {bounded_read, nullptr, nullptr, bounded_close};
  FILE* out = fopencookie(b, "r", io);
  if (!out) {
    int saved = errno;
    fclose(f);
    delete b;
    errno = saved;
  }
  return out;
}

bool truncate_regular_nofollow(const char* path) {
  int fd = open_regular_for_write_nofollow(path, 0);
  if (fd < 0) return false;
  bool ok = ftruncate(fd, 0) == 0;
  if (!ok) {
    close_keep_errno(fd);
    return false;
  }
  return close(fd) == 0;
}
