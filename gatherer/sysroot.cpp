// sysroot.cpp - the system root prefix applied to every platform path.
#include "sysroot.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "safe_file.h"

namespace {

/// The root without a trailing slash; empty for "/".
std::string& root() {
  static std::string r;
  return r;
}

}  // namespace

void sysroot_set(const char* dir) {
  std::string r = dir ? dir : "";
  while (!r.empty() && r.back() == '/') r.pop_back();
  root() = r;
}

const char* sysroot_get() { return root().c_str(); }

bool sysroot_is_set() { return !root().empty(); }

std::string sysroot_path(const char* platform_path) {
  std::string p = platform_path ? platform_path : "";
  if (root().empty()) return p;
  if (p.empty() || p[0] != '/') return root() + "/" + p;
  return root() + p;
}

int sys_open(const char* platform_path, int flags, mode_t mode) {
  if (!platform_path) {
    errno = EINVAL;
    return -1;
  }
  return open(sysroot_path(platform_path).c_str(), flags | O_NOCTTY | O_CLOEXEC, mode);
}

FILE* sys_fopen(const char* platform_path, const char* mode) {
  if (!platform_path || !mode) {
    errno = EINVAL;
    return nullptr;
  }
  std::string path = sysroot_path(platform_path);
  if (mode[0] == 'r' && !strchr(mode, '+')) return open_regular_file(path.c_str(), mode);
  return fopen(path.c_str(), mode);
}

int sys_access(const char* platform_path, int how) {
  if (!platform_path) {
    errno = EINVAL;
    return -1;
  }
  return access(sysroot_path(platform_path).c_str(), how);
}

int sys_stat(const char* platform_path, struct stat* st) {
  if (!platform_path || !st) {
    errno = EINVAL;
    return -1;
  }
  return stat(sysroot_path(platform_path).c_str(), st);
}

int sys_lstat(const char* platform_path, struct stat* st) {
  if (!platform_path || !st) {
    errno = EINVAL;
    return -1;
  }
  return lstat(sysroot_path(platform_path).c_str(), st);
}

DIR* sys_opendir(const char* platform_path) {
  int fd = sys_open(platform_path, O_RDONLY | O_DIRECTORY | O_NONBLOCK);
  if (fd < 0) return nullptr;
  DIR* d = fdopendir(fd);
  if (!d) {
    int err = errno;
    close(fd);
    errno = err;
  }
  return d;
}

std::string sys_readlink(const char* platform_path) {
  if (!platform_path) {
    errno = EINVAL;
    return std::string();
  }
  char buf[4096];
  ssize_t n = readlink(sysroot_path(platform_path).c_str(), buf, sizeof buf);
  if (n < 0) return std::string();
  if (n >= static_cast<ssize_t>(sizeof buf)) {
    errno = ENAMETOOLONG;
    return std::string();
  }
  return std::string(buf, static_cast<size_t>(n));
}
