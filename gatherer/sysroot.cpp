// sysroot.cpp - the system root applied to every platform path.
//
// A root other than "/" is a root in the full sense: every path is resolved
// inside it, as it would be on the captured machine. An absolute symbolic
// link starts again at the root, ".." never climbs above it, and nothing of
// the live machine is reached through the tree. The kernel does this itself
// (openat2 with RESOLVE_IN_ROOT) where it can; elsewhere the path is walked
// one component at a time, every directory opened without following links.
#include "sysroot.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <vector>

#include "capture.h"
#include "safe_file.h"

#ifndef SYS_openat2
#define SYS_openat2 437
#endif
#ifndef SYS_faccessat2
#define SYS_faccessat2 439
#endif
#ifndef O_PATH
#define O_PATH 010000000
#endif

namespace {

/// The argument block of openat2(2), for C libraries that do not define it.
struct open_how_block {
  uint64_t flags;
  uint64_t mode;
  uint64_t resolve;
};
constexpr uint64_t RESOLVE_NO_MAGICLINKS_FLAG = 0x02;
constexpr uint64_t RESOLVE_IN_ROOT_FLAG = 0x10;

/// Links followed in one resolution before giving up, as the kernel does.
constexpr int MAX_LINKS = 40;
/// Longest link text read.
constexpr size_t LINK_SIZE = 4096;

/// The root without a trailing slash; empty for "/".
std::string& root() {
  static std::string r;
  return r;
}

/// A descriptor of the root directory, opened on first use.
int root_fd = -1;
/// 1 while openat2 has not failed as missing; 0 once it has.
int kernel_resolves = 1;
bool walk_forced = false;

void close_keep_errno(int fd) {
  int saved = errno;
  close(fd);
  errno = saved;
}

int get_root_fd() {
  if (root_fd < 0) root_fd = open(root().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  return root_fd;
}

/// The flags openat2 accepts with O_PATH; it refuses any other.
int path_flags(int flags) { return flags & (O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); }

/// openat2 inside the root; -1 with errno ENOSYS when the kernel lacks it.
int open_with_kernel(int dir, const char* rel, int flags, mode_t mode) {
  open_how_block how;
  memset(&how, 0, sizeof how);
  how.flags = static_cast<uint64_t>(static_cast<unsigned>(flags));
  how.mode = (flags & O_CREAT) ? mode : 0;
  how.resolve = RESOLVE_IN_ROOT_FLAG | RESOLVE_NO_MAGICLINKS_FLAG;
  for (int attempt = 0; attempt < 8; ++attempt) {
    long fd = syscall(SYS_openat2, dir, rel, &how, sizeof how);
    if (fd >= 0) return static_cast<int>(fd);
    // EAGAIN: a rename raced the walk; the kernel asks for another try.
    if (errno != EAGAIN && errno != EINTR) break;
  }
  return -1;
}

/// Splits a path into its components, skipping empty ones and ".".
void split_components(const std::string& path, std::vector<std::string>& out) {
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(pos, end - pos);
    if (!part.empty() && part != ".") out.push_back(part);
    pos = end + 1;
  }
}

/// Opens the directory reached by `dirs` from the root, never following a
/// link: every entry was checked to be a directory when it was added, and a
/// link swapped in since makes the open fail.
int open_directory_chain(const std::vector<std::string>& dirs) {
  int fd = fcntl(get_root_fd(), F_DUPFD_CLOEXEC, 0);
  for (size_t i = 0; fd >= 0 && i < dirs.size(); ++i) {
    int next = openat(fd, dirs[i].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close_keep_errno(fd);
    fd = next;
  }
  return fd;
}

/// The walk done by hand: components are taken one by one from the left;
/// ".." drops the last directory reached (never the root), a link's text
/// replaces it, starting again at the root when it is absolute.
int open_by_walking(const char* rel, int flags, mode_t mode) {
  std::vector<std::string> pending;
  split_components(rel, pending);
  std::vector<std::string> todo(pending.rbegin(), pending.rend());  // a stack: next on top
  std::vector<std::string> dirs;
  bool follow_last = !(flags & O_NOFOLLOW);
  int links = 0;
  int dir = open_directory_chain(dirs);
  if (dir < 0) return -1;
  for (;;) {
    if (todo.empty()) {
      // The path named a directory (or the root) itself.
      int fd = openat(dir, ".", flags & ~O_CREAT & ~O_EXCL, mode);
      close_keep_errno(dir);
      return fd;
    }
    std::string part = todo.back();
    todo.pop_back();
    if (part == "..") {
      if (!dirs.empty()) dirs.pop_back();
      close(dir);
      dir = open_directory_chain(dirs);
      if (dir < 0) return -1;
      continue;
    }
    bool last = todo.empty();
    struct stat st;
    bool exists = fstatat(dir, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && S_ISLNK(st.st_mode) && (!last || follow_last)) {
      if (++links > MAX_LINKS) {
        close(dir);
        errno = ELOOP;
        return -1;
      }
      char text[LINK_SIZE];
      ssize_t n = readlinkat(dir, part.c_str(), text, sizeof text);
      if (n < 0 || n >= static_cast<ssize_t>(sizeof text)) {
        if (n >= 0) errno = ENAMETOOLONG;
        close_keep_errno(dir);
        return -1;
      }
      std::string target(text, static_cast<size_t>(n));
      std::vector<std::string> parts;
      split_components(target, parts);
      for (auto it = parts.rbegin(); it != parts.rend(); ++it) todo.push_back(*it);
      if (!target.empty() && target[0] == '/') {
        dirs.clear();
        close(dir);
        dir = open_directory_chain(dirs);
        if (dir < 0) return -1;
      }
      continue;
    }
    if (last) {
      // A link swapped in after the check is not followed: the open fails.
      int fd = openat(dir, part.c_str(), flags | O_NOFOLLOW, mode);
      close_keep_errno(dir);
      return fd;
    }
    if (!exists) {
      close_keep_errno(dir);
      return -1;
    }
    if (!S_ISDIR(st.st_mode)) {
      close(dir);
      errno = ENOTDIR;
      return -1;
    }
    int next = openat(dir, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close_keep_errno(dir);
    if (next < 0) return -1;
    dir = next;
    dirs.push_back(part);
  }
}

/// Opens a platform path inside the root with open(2) flags. O_NOFOLLOW
/// applies to the last component only, as with open(2).
int open_in_root(const char* platform_path, int flags, mode_t mode) {
  if (!platform_path) {
    errno = EINVAL;
    return -1;
  }
  flags |= O_CLOEXEC;
  if (flags & O_PATH) flags = path_flags(flags);
  if (root().empty()) return open(platform_path, flags, mode);
  if (get_root_fd() < 0) return -1;
  const char* rel = platform_path;
  while (*rel == '/') ++rel;
  if (!*rel) rel = ".";
  if (kernel_resolves && !walk_forced) {
    int fd = open_with_kernel(root_fd, rel, flags, mode);
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return fd;
    // EPERM: a filter in front of the kernel refuses the call; walk instead.
    if (errno == ENOSYS) kernel_resolves = 0;
  }
  return open_by_walking(rel, flags, mode);
}

/// Opens `fd` non-blocking-safe: a FIFO or socket is refused, since reading
/// one could wait forever; then restores blocking mode unless it was asked.
int refuse_waiting_kinds(int fd, bool keep_nonblock) {
  struct stat st;
  if (fstat(fd, &st) != 0) {
    close_keep_errno(fd);
    return -1;
  }
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
    close(fd);
    errno = EINVAL;
    return -1;
  }
  if (!keep_nonblock) {
    int fl = fcntl(fd, F_GETFL);
    if (fl == -1 || fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) == -1) {
      close_keep_errno(fd);
      return -1;
    }
  }
  return fd;
}

/// True when `flags` could change a file: write access, creation, truncation.
bool writes(int flags) {
  return (flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC | O_APPEND)) != 0;
}

bool kind_fits(const struct stat& st, unsigned kinds, int major_number) {
  bool fits = ((kinds & SYS_REGULAR) && S_ISREG(st.st_mode)) ||
              ((kinds & SYS_DIRECTORY) && S_ISDIR(st.st_mode)) ||
              ((kinds & SYS_BLOCK_DEVICE) && S_ISBLK(st.st_mode)) ||
              ((kinds & SYS_CHAR_DEVICE) && S_ISCHR(st.st_mode));
  if (fits && major_number >= 0 && (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode)))
    fits = static_cast<int>(major(st.st_rdev)) == major_number;
  return fits;
}

int open_checked(const char* platform_path, int flags, mode_t mode);

int open_flags_for(const char* mode) {
  bool plus = strchr(mode, '+') != nullptr;
  switch (mode[0]) {
    case 'r': return plus ? O_RDWR : O_RDONLY;
    case 'w': return (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
    case 'a': return (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
    default: return -1;
  }
}

}  // namespace

void sysroot_set(const char* dir) {
  std::string r = dir ? dir : "";
  while (!r.empty() && r.back() == '/') r.pop_back();
  root() = r;
  if (root_fd >= 0) close(root_fd);
  root_fd = -1;
}

const char* sysroot_get() { return root().c_str(); }

bool sysroot_is_set() { return !root().empty(); }

void sysroot_force_walk(bool walk) { walk_forced = walk; }

bool sysroot_kernel_resolves() { return kernel_resolves && !walk_forced; }

std::string sysroot_display_path(const char* platform_path) {
  std::string p = platform_path ? platform_path : "";
  if (root().empty()) return p;
  if (p.empty() || p[0] != '/') return root() + "/" + p;
  return root() + p;
}

int sys_open(const char* platform_path, int flags, mode_t mode) {
  if (writes(flags) && !root().empty()) {
    errno = EROFS;
    return -1;
  }
  int fd = open_checked(platform_path, flags, mode);
  if (fd >= 0 && !writes(flags) && !(flags & O_PATH)) capture_note_path(platform_path, fd, true);
  return fd;
}

int sys_open_kind(const char* platform_path, int flags, unsigned kinds, int major) {
  if (writes(flags) && !(kinds == SYS_CHAR_DEVICE && major >= 0 &&
                         (flags & (O_CREAT | O_TRUNC | O_APPEND)) == 0)) {
    if (!root().empty()) {
      errno = EROFS;
      return -1;
    }
  }
  struct stat before;
  int probe = open_in_root(platform_path, O_PATH, 0);
  if (probe < 0) return -1;
  int rc = fstat(probe, &before);
  close_keep_errno(probe);
  if (rc != 0) return -1;
  if (!kind_fits(before, kinds, major)) {
    errno = ENODEV;
    return -1;
  }
  int fd = open_checked(platform_path, flags, 0);
  if (fd < 0) return -1;
  struct stat after;
  // The node opened must be the one checked: one swapped in meanwhile is
  // closed unused.
  if (fstat(fd, &after) != 0 || after.st_dev != before.st_dev || after.st_ino != before.st_ino ||
      !kind_fits(after, kinds, major)) {
    close(fd);
    errno = ENODEV;
    return -1;
  }
  if (!writes(flags)) capture_note_path(platform_path, fd, true);
  return fd;
}

namespace {

int open_checked(const char* platform_path, int flags, mode_t mode) {
  if (flags & O_PATH) return open_in_root(platform_path, flags, mode);
  int fd = open_in_root(platform_path, flags | O_NONBLOCK | O_NOCTTY, mode);
  if (fd < 0 || (flags & O_DIRECTORY)) return fd;
  return refuse_waiting_kinds(fd, (flags & O_NONBLOCK) != 0);
}

}  // namespace

FILE* sys_fopen(const char* platform_path, const char* mode) {
  if (!platform_path || !mode) {
    errno = EINVAL;
    return nullptr;
  }
  int flags = open_flags_for(mode);
  if (flags < 0) {
    errno = EINVAL;
    return nullptr;
  }
  int fd = sys_open(platform_path, flags | O_NONBLOCK, 0644);
  if (fd < 0) return nullptr;
  // Only regular files are read or written; then back to blocking mode.
  return regular_stream_from_fd(fd, mode);
}

FILE* sys_fopen_bounded(const char* platform_path, uint64_t limit) {
  FILE* f = sys_fopen(platform_path, "r");
  return f ? bound_stream(f, limit) : nullptr;
}

int sys_access(const char* platform_path, int how) {
  if (!platform_path) {
    errno = EINVAL;
    return -1;
  }
  if (root().empty()) {
    int rc = access(platform_path, how);
    if (rc == 0) capture_note_path(platform_path, -1, true);
    return rc;
  }
  int fd = open_in_root(platform_path, O_PATH, 0);
  if (fd < 0) return -1;
  if (how == F_OK) {
    close(fd);
    return 0;
  }
  long rc = syscall(SYS_faccessat2, fd, "", how, AT_EMPTY_PATH);
  if (rc != 0 && (errno == ENOSYS || errno == EPERM || errno == EINVAL)) {
    // Without faccessat2 the permission bits answer for the real user.
    struct stat st;
    rc = fstat(fd, &st);
    if (rc == 0) {
      uid_t uid = getuid();
      int bits;
      if (uid == 0)
        bits = (st.st_mode & 0111) || S_ISDIR(st.st_mode) ? 7 : 6;
      else if (st.st_uid == uid)
        bits = (st.st_mode >> 6) & 7;
      else if (st.st_gid == getgid())
        bits = (st.st_mode >> 3) & 7;
      else
        bits = st.st_mode & 7;
      if ((how & bits) != how) {
        errno = EACCES;
        rc = -1;
      }
    }
  }
  close_keep_errno(fd);
  if (rc == 0) capture_note_path(platform_path, -1, true);
  return rc == 0 ? 0 : -1;
}

int sys_stat(const char* platform_path, struct stat* st) {
  if (!platform_path || !st) {
    errno = EINVAL;
    return -1;
  }
  if (root().empty()) {
    int rc = stat(platform_path, st);
    if (rc == 0) capture_note_path(platform_path, -1, true);
    return rc;
  }
  int fd = open_in_root(platform_path, O_PATH, 0);
  if (fd < 0) return -1;
  int rc = fstat(fd, st);
  close_keep_errno(fd);
  if (rc == 0) capture_note_path(platform_path, -1, true);
  return rc;
}

int sys_lstat(const char* platform_path, struct stat* st) {
  if (!platform_path || !st) {
    errno = EINVAL;
    return -1;
  }
  if (root().empty()) {
    int rc = lstat(platform_path, st);
    if (rc == 0) capture_note_path(platform_path, -1, false);
    return rc;
  }
  int fd = open_in_root(platform_path, O_PATH | O_NOFOLLOW, 0);
  if (fd < 0) return -1;
  int rc = fstat(fd, st);
  close_keep_errno(fd);
  if (rc == 0) capture_note_path(platform_path, -1, false);
  return rc;
}

DIR* sys_opendir(const char* platform_path) {
  int fd = sys_open(platform_path, O_RDONLY | O_DIRECTORY | O_NONBLOCK);
  if (fd < 0) return nullptr;
  DIR* d = fdopendir(fd);
  if (!d) close_keep_errno(fd);
  return d;
}

std::string sys_readlink(const char* platform_path) {
  if (!platform_path) {
    errno = EINVAL;
    return std::string();
  }
  char buf[LINK_SIZE];
  ssize_t n;
  if (root().empty()) {
    n = readlink(platform_path, buf, sizeof buf);
  } else {
    int fd = open_in_root(platform_path, O_PATH | O_NOFOLLOW, 0);
    if (fd < 0) return std::string();
    n = readlinkat(fd, "", buf, sizeof buf);
    close_keep_errno(fd);
  }
  if (n < 0) return std::string();
  if (n >= static_cast<ssize_t>(sizeof buf)) {
    errno = ENAMETOOLONG;
    return std::string();
  }
  capture_note_path(platform_path, -1, false);
  return std::string(buf, static_cast<size_t>(n));
}
