// capture.cpp - recording a run ("-capture DIR") and replaying it ("-sysroot DIR").
#include "capture.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <type_traits>
#include <vector>

#include "clock.h"
#include "debug.h"
#include "net_link_linux.h"
#include "platform_paths.h"
#include "scsi_linux.h"
#include "sysroot.h"
#include "util_string.h"
#include "zelvarn2.h"

namespace {

/// The capture's own directory, beside the recorded platform files.
const char* const CAPTURE_DIR = ".zelvarn2-capture";
/// Its paths as platform paths of a replayed root.
const char* const REPLAY_MANIFEST = "/.zelvarn2-capture/manifest";
const char* const REPLAY_INDEX = "/.zelvarn2-capture/commands/index";
const char* const REPLAY_OUTPUT_DIR = "/.zelvarn2-capture/commands/";
const char* const REPLAY_SPACE = "/.zelvarn2-capture/statvfs";
const char* const REPLAY_OWN_DIR = "/.zelvarn2-capture";
const char* const MEMORY_RECORD = "memory";
/// Largest recorded range: more than the BIOS area and any table in it.
const size_t MEMORY_RANGE_LIMIT = 16u << 20;
/// Largest record of one SCSI device.
const uint64_t SCSI_RECORD_LIMIT = 4u << 20;
const char* const MANIFEST_HEADING = "zelvarn2 capture 1";

/// Most bytes kept of one file, and the largest size an empty stand-in of a
/// listed file is given (a sparse file of a kernel pseudo-file's size would
/// grow to terabytes when the capture is copied).
const off_t CONTENT_LIMIT = 16 << 20;
const off_t STAND_IN_LIMIT = 16 << 20;
/// Links followed in one resolution, as the kernel does.
const int MAX_LINKS = 40;
/// Largest command index and manifest read in a replay.
const uint64_t INDEX_LIMIT = 16u << 20;

int capture_fd = -1;           ///< the capture directory
int commands_fd = -1;          ///< its command recordings
int index_fd = -1;             ///< the command index, appended to
int space_fd = -1;             ///< the file-system sizes, appended to
bool busy = false;             ///< recording now: the reads made for it are not recorded
int next_command = 1;
std::string wanted_dir;        ///< "-capture DIR", made when the run begins
std::string own_path;          ///< its resolved path, when the live machine is read
std::set<std::string> with_contents;  ///< paths whose contents are kept
std::set<std::string> whole_contents; ///< of those, the ones kept whole
std::map<int, std::pair<int, std::string>> open_commands;  ///< number: (fd, command)

struct recording {
  int id;
  int status;
  int limit;
};
bool replaying = false;
std::string captured_host;
time_t captured_at = 0;
/// Recordings by command line, in the order they were made: a command run
/// twice gets its two answers in turn (the last one again after that).
std::map<std::string, std::deque<recording>> recordings;
/// File-system sizes by mount point, as the capture recorded them.
std::map<std::string, struct statvfs> spaces;
/// The records this run made (only those are appended to).
std::set<std::string> own_records;
/// A recorded physical-memory range: its bytes lie at `offset` of the record.
struct memory_range {
  unsigned long long address;
  size_t length;
  off_t offset;
};
std::vector<memory_range> memory_ranges;

/// The records of the running program's own facts: name, fields of a line,
/// which fields are numbers (a bit each) and how they are named in a refusal.
struct record_kind {
  const char* name;
  size_t fields;
  unsigned numbers;
  const char* said;
};
const record_kind record_kinds[] = {
    {"environment", 1, 0, "environment"},
    {"user", 3, 6, "current user"},
    {"locale", 5, 0, "locale"},
    {"uname", 5, 0, "kernel identity"},
};
/// The records of those facts this run kept: the first answer stands.
std::set<std::string> kept_records;
std::map<std::string, std::vector<std::vector<std::string>>> records;

struct busy_guard {
  busy_guard() { busy = true; }
  ~busy_guard() { busy = false; }
};

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

/// The components of a path, without empty ones.
std::vector<std::string> split_path(const std::string& path) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i < path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    if (j > i) parts.push_back(path.substr(i, j - i));
    i = j + 1;
  }
  return parts;
}

/// The directory `dir` (an absolute resolved path) under the capture,
/// made as needed; every step is opened without following a link, so a
/// link the capture holds never leads a write out of it. -1 on failure.
int capture_subdir(const std::string& dir) {
  int fd = fcntl(capture_fd, F_DUPFD_CLOEXEC, 0);
  for (const std::string& part : split_path(dir)) {
    if (fd < 0) return -1;
    if (part == "." || part == "..") {
      close(fd);
      return -1;
    }
    if (mkdirat(fd, part.c_str(), 0755) != 0 && errno != EEXIST) {
      close(fd);
      return -1;
    }
    int next = openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close(fd);
    fd = next;
  }
  return fd;
}

void split_last(const std::string& path, std::string* dir, std::string* name) {
  size_t slash = path.rfind('/');
  *dir = slash == std::string::npos ? std::string() : path.substr(0, slash);
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
}

void keep_link(int dir_fd, const char* name, const std::string& text) {
  if (symlinkat(text.c_str(), dir_fd, name) != 0 && errno != EEXIST)
    printd("capture: link %s not kept (%s)\n", name, strerror(errno));
}

/// Records the link at the resolved path `path` (its directory holds no link).
void keep_link_at(const std::string& path, const std::string& text) {
  std::string dir, name;
  split_last(path, &dir, &name);
  int fd = capture_subdir(dir);
  if (fd < 0) return;
  keep_link(fd, name.c_str(), text);
  close(fd);
}

/// An empty regular file standing in for one listed but not read, of its
/// size (within STAND_IN_LIMIT), mode and modification time.
void keep_stand_in(int dir_fd, const char* name, const struct stat& st) {
  int fd = openat(dir_fd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return;
  if (st.st_size > 0 && st.st_size <= STAND_IN_LIMIT && ftruncate(fd, st.st_size) != 0) {
    // an empty stand-in is still one
  }
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  futimens(fd, times);
  fchmod(fd, st.st_mode & 0777);
  close(fd);
}


/// Keeps the contents of the open regular file `src` (read from its start,
/// its own offset untouched) at `name` of `dir_fd`.
/// Copies what `src` holds into `name`; true when the copy is whole (under
/// the content bound, no read or write error).
bool keep_contents(int dir_fd, const char* name, int src, const struct stat& st) {
  // A stand-in kept earlier may be read-only: it is this run's own file.
  fchmodat(dir_fd, name, 0600, 0);
  int fd = openat(dir_fd, name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    printd("capture: %s not kept (%s)\n", name, strerror(errno));
    return false;
  }
  bool whole = false;
  char buf[65536];
  off_t at = 0;
  // A kernel file that would wait for data is read only as far as it has
  // some; the caller's own mode comes back after.
  int mode = fcntl(src, F_GETFL);
  if (mode >= 0) fcntl(src, F_SETFL, mode | O_NONBLOCK);
  while (at < CONTENT_LIMIT) {
    ssize_t n = pread(src, buf, sizeof buf, at);
    if (n < 0 && errno == EINTR) continue;
    whole = n == 0;
    if (n <= 0) break;
    if (write(fd, buf, static_cast<size_t>(n)) != n) break;
    at += n;
  }
  if (mode >= 0) fcntl(src, F_SETFL, mode);
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  futimens(fd, times);
  fchmod(fd, st.st_mode & 0777);
  close(fd);
  return whole;
}

/// Makes `fd` read the kept copy `name` from its start, so that the run
/// reads exactly the bytes its capture holds: a kernel file (interrupt
/// counts, process states) read twice would differ.
void read_kept_copy(int dir_fd, const char* name, int fd) {
  int copy = openat(dir_fd, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (copy < 0) return;
  int fd_flags = fcntl(fd, F_GETFD);
  if (dup3(copy, fd, fd_flags >= 0 && (fd_flags & FD_CLOEXEC) ? O_CLOEXEC : 0) < 0)
    printd("capture: %s read from the machine (%s)\n", name, strerror(errno));
  close(copy);
}

/// Keeps the entries of the open directory `src` in `out_fd`: directories,
/// links, and stand-ins of regular files. Other nodes are left out.
void keep_entries(int out_fd, int src) {
  int fresh = openat(src, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fresh < 0) return;
  DIR* d = fdopendir(fresh);
  if (!d) {
    close(fresh);
    return;
  }
  while (struct dirent* e = readdir(d)) {
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    struct stat st;
    if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      mkdirat(out_fd, e->d_name, 0755);
    } else if (S_ISREG(st.st_mode)) {
      keep_stand_in(out_fd, e->d_name, st);
    } else if (S_ISLNK(st.st_mode)) {
      char text[4096];
      ssize_t n = readlinkat(dirfd(d), e->d_name, text, sizeof text);
      if (n > 0 && n < static_cast<ssize_t>(sizeof text)) keep_link(out_fd, e->d_name, std::string(text, n));
    }
  }
  closedir(d);
}

/// Resolves `path` in the inspected root component by component, keeping
/// every link met at its own resolved place. Returns the resolved path, or
/// "" when a component cannot be reached.
std::string resolve_keeping_links(const char* path, bool follow_final) {
  std::deque<std::string> todo;
  for (const std::string& p : split_path(path)) todo.push_back(p);
  std::string cur;
  int links = 0;
  while (!todo.empty()) {
    std::string part = todo.front();
    todo.pop_front();
    if (part == ".") continue;
    if (part == "..") {
      size_t slash = cur.rfind('/');
      cur = slash == std::string::npos ? std::string() : cur.substr(0, slash);
      continue;
    }
    std::string next = cur + "/" + part;
    struct stat st;
    if (sys_lstat(next.c_str(), &st) != 0) return std::string();
    if (S_ISLNK(st.st_mode) && (follow_final || !todo.empty())) {
      std::string text = sys_readlink(next.c_str());
      if (text.empty() || ++links > MAX_LINKS) return std::string();
      keep_link_at(next, text);
      std::vector<std::string> more = split_path(text);
      todo.insert(todo.begin(), more.begin(), more.end());
      if (text[0] == '/') cur.clear();
      continue;
    }
    cur = next;
  }
  return cur.empty() ? std::string("/") : cur;
}

/// The tool of a command line: its first word, quotes removed, without the
/// directory; for a quoted path, also the rest of the line after it.
std::string first_word(const char* command, const char** rest) {
  const char* p = command;
  while (*p == ' ') ++p;
  std::string word;
  if (*p == '\'') {
    const char* end = strchr(p + 1, '\'');
    if (!end) return std::string();
    word.assign(p + 1, end);
    p = end + 1;
  } else {
    const char* end = p;
    while (*end && !strchr(" \t;|&<>()$`\"'\\", *end)) ++end;
    word.assign(p, end);
    p = end;
  }
  if (rest) *rest = p;
  size_t slash = word.rfind('/');
  return slash == std::string::npos ? word : word.substr(slash + 1);
}

std::string escape_command(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c == 0x7f) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

/// Undoes escape_command; an empty text is a valid field.
bool unescape_field(const std::string& s, std::string* out) {
  out->clear();
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (static_cast<unsigned char>(c) < 0x20) return false;
    if (c != '\\') {
      *out += c;
      continue;
    }
    if (i + 1 < s.size() && s[i + 1] == '\\') {
      *out += '\\';
      ++i;
    } else if (i + 3 < s.size() && s[i + 1] == 'x' && hex_digit(s[i + 2]) >= 0 && hex_digit(s[i + 3]) >= 0) {
      *out += static_cast<char>(hex_digit(s[i + 2]) * 16 + hex_digit(s[i + 3]));
      i += 3;
    } else {
      return false;
    }
  }
  return true;
}

bool unescape_command(const std::string& s, std::string* out) { return unescape_field(s, out) && !out->empty(); }

/// A whole decimal number within [0, max].
bool whole_number(const std::string& s, unsigned long long max, unsigned long long* out) {
  if (s.empty() || s.size() > 20) return false;
  unsigned long long v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
    if (v > max) return false;
  }
  *out = v;
  return true;
}

bool write_all(int fd, const std::string& text) {
  return write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

/// A line of a stream without its line feed; false at the end, or when the
/// line is longer than the longest command that could have been recorded.
bool read_line(FILE* f, std::string* line, bool* too_long) {
  line->clear();
  *too_long = false;
  int c;
  while ((c = fgetc(f)) != EOF && c != '\n') {
    if (line->size() > 65536) *too_long = true;
    else *line += static_cast<char>(c);
  }
  return c != EOF || !line->empty();
}

}  // namespace

bool capture_set_dir(const char* dir, std::string* why) {
  capture_reset();
  wanted_dir.clear();
  if (!dir || !*dir) {
    *why = "directory expected after capture";
    return false;
  }
  struct stat st;
  if (lstat(dir, &st) == 0) {
    if (!S_ISDIR(st.st_mode)) {
      *why = "is not a directory";
      return false;
    }
    DIR* d = opendir(dir);
    if (!d) {
      *why = "cannot be read";
      return false;
    }
    bool empty = true;
    for (struct dirent* e; empty && (e = readdir(d));)
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) empty = false;
    closedir(d);
    if (!empty) {
      *why = "is not empty";
      return false;
    }
  } else if (errno != ENOENT) {
    *why = std::string("cannot be used (") + strerror(errno) + ")";
    return false;
  }
  wanted_dir = dir;
  return true;
}

bool capture_begin(std::string* why) {
  if (wanted_dir.empty()) return true;
  const char* dir = wanted_dir.c_str();
  // Nothing is ever written under a system root.
  if (sysroot_is_set()) {
    std::string parent = wanted_dir;
    while (parent.size() > 1 && parent.back() == '/') parent.pop_back();
    size_t slash = parent.rfind('/');
    parent = slash == std::string::npos ? "." : slash == 0 ? "/" : parent.substr(0, slash);
    char* where = realpath(parent.c_str(), nullptr);
    char* root = realpath(sysroot_get(), nullptr);
    bool inside = where && root &&
                  (strcmp(where, root) == 0 ||
                   (strncmp(where, root, strlen(root)) == 0 && where[strlen(root)] == '/'));
    free(where);
    free(root);
    if (inside) {
      *why = "lies under the system root";
      return false;
    }
  }
  if (mkdir(dir, 0700) != 0 && errno != EEXIST) {
    *why = std::string("cannot be made (") + strerror(errno) + ")";
    return false;
  }
  capture_fd = open(dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  // Still empty: nothing is ever mixed into what another run left there.
  if (capture_fd >= 0) {
    int look = openat(capture_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* d = look >= 0 ? fdopendir(look) : nullptr;
    bool empty = d != nullptr;
    for (struct dirent* e; empty && d && (e = readdir(d));)
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) empty = false;
    if (d) closedir(d);
    else if (look >= 0) close(look);
    if (!empty) {
      *why = "is not empty";
      close_fd(capture_fd);
      return false;
    }
  }
  // A probe reading the live machine may come across the capture itself:
  // it is never recorded into itself.
  own_path.clear();
  if (capture_fd >= 0 && !sysroot_is_set()) {
    if (char* real = realpath(dir, nullptr)) {
      own_path = real;
      free(real);
    }
  }
  int own = capture_fd >= 0 ? capture_subdir(std::string("/") + CAPTURE_DIR) : -1;
  if (own >= 0) {
    mkdirat(own, "commands", 0755);
    commands_fd = openat(own, "commands", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }
  if (commands_fd >= 0)
    index_fd = openat(commands_fd, "index", O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (own >= 0)
    space_fd = openat(own, "statvfs", O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0644);
  int manifest = own >= 0 ? openat(own, "manifest", O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644) : -1;
  bool ok = index_fd >= 0 && space_fd >= 0 && manifest >= 0;
  if (ok) {
    // The host name of the machine captured: of the system root when one is
    // set, never the name of the machine the program runs on.
    char host[256] = "";
    if (FILE* f = sys_fopen_bounded(platform_path::kernel_hostname, sizeof host)) {
      if (!fgets(host, sizeof host, f)) host[0] = '\0';
      host[strcspn(host, "\n")] = '\0';
      fclose(f);
    } else if (sysroot_is_set() || gethostname(host, sizeof host - 1) != 0) {
      host[0] = '\0';
    }
    for (char* p = host; *p; ++p)
      if (static_cast<unsigned char>(*p) < 0x20) *p = '?';
    char text[512];
    snprintf(text, sizeof text, "%s\nhost=%s\ntime=%lld\nversion=%s (%s)\n", MANIFEST_HEADING, host,
             static_cast<long long>(clock_now()), GTH_VERSION, GTH_RELEASE);
    ok = write_all(manifest, text);
  }
  if (manifest >= 0) close(manifest);
  if (own >= 0) close(own);
  if (ok && !sysroot_is_set()) {
    // The user running the program: its name as the machine's own account
    // lookup gives it, which no platform file the capture keeps may answer.
    char name[256];
    get_user_name(name, sizeof name);
    ok = capture_keep_lines("user", {{name, std::to_string(static_cast<unsigned long>(getuid())),
                                      std::to_string(static_cast<unsigned long>(getgid()))}});
  }
  if (!ok) {
    *why = std::string("cannot be written (") + strerror(errno) + ")";
    capture_reset();
    return false;
  }
  return true;
}

bool capture_active() { return capture_fd >= 0; }

bool capture_keep_record(const char* name, const std::string& text) {
  if (capture_fd < 0 || !name || strchr(name, '/')) return false;
  int own = capture_subdir(std::string("/") + CAPTURE_DIR);
  int fd = own >= 0 ? openat(own, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644) : -1;
  bool ok = fd >= 0 && write_all(fd, text);
  if (fd >= 0) close(fd);
  if (own >= 0) close(own);
  if (!ok) printd("capture: record %s not kept\n", name);
  return ok;
}

bool capture_append_record(const char* name, const void* data, size_t size) {
  if (capture_fd < 0 || !name || !*name || strchr(name, '/') || !strcmp(name, ".") || !strcmp(name, ".."))
    return false;
  int own = capture_subdir(std::string("/") + CAPTURE_DIR);
  bool first = !own_records.count(name);
  int flags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC | (first ? O_CREAT | O_EXCL : 0);
  int fd = own >= 0 ? openat(own, name, flags, 0644) : -1;
  if (fd >= 0 && first) own_records.insert(name);
  bool ok = fd >= 0 && write(fd, data, size) == static_cast<ssize_t>(size);
  if (fd >= 0) close(fd);
  if (own >= 0) close(own);
  if (!ok) printd("capture: record %s not kept whole\n", name);
  return ok;
}

std::string replay_record_path(const char* name) { return std::string("/") + CAPTURE_DIR + "/" + name; }

bool replay_has_record(const char* name) {
  struct stat st;
  return replaying && name && sys_lstat(replay_record_path(name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

const std::string& capture_dir() { return wanted_dir; }

void capture_reset() {
  wanted_dir.clear();
  own_path.clear();
  for (auto& c : open_commands) close_fd(c.second.first);
  open_commands.clear();
  close_fd(index_fd);
  close_fd(space_fd);
  close_fd(commands_fd);
  spaces.clear();
  own_records.clear();
  memory_ranges.clear();
  close_fd(capture_fd);
  with_contents.clear();
  whole_contents.clear();
  next_command = 1;
  replaying = false;
  recordings.clear();
  records.clear();
  kept_records.clear();
  captured_host.clear();
  captured_at = 0;
}

void capture_note_path(const char* platform_path, int fd, bool follow_final) {
  if (capture_fd < 0 || busy || !platform_path || platform_path[0] != '/') return;
  // The recordings of a capture being replayed are not the machine's files.
  if (strncmp(platform_path + 1, CAPTURE_DIR, strlen(CAPTURE_DIR)) == 0) return;
  int saved = errno;
  busy_guard guard;
  std::string path = resolve_keeping_links(platform_path, follow_final);
  bool own = !own_path.empty() && path.compare(0, own_path.size(), own_path) == 0 &&
             (path.size() == own_path.size() || path[own_path.size()] == '/');
  struct stat st;
  if (!path.empty() && path != "/" && !own && sys_lstat(path.c_str(), &st) == 0) {
    std::string dir, name;
    split_last(path, &dir, &name);
    int out = capture_subdir(dir);
    if (out >= 0) {
      if (S_ISDIR(st.st_mode)) {
        mkdirat(out, name.c_str(), 0755);
        int sub = fd >= 0 ? openat(out, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
        if (sub >= 0) {
          keep_entries(sub, fd);
          close(sub);
        }
      } else if (S_ISREG(st.st_mode)) {
        // A device's memory windows (a PCI function's "resourceN" and "rom")
        // are never read for the record.
        bool window = name.compare(0, 8, "resource") == 0 || name == "rom";
        if (fd >= 0 && !window && with_contents.insert(path).second) {
          if (keep_contents(out, name.c_str(), fd, st)) whole_contents.insert(path);
        } else if (fd < 0 || window || !whole_contents.count(path)) {
          keep_stand_in(out, name.c_str(), st);
        }
        if (fd >= 0 && whole_contents.count(path)) read_kept_copy(out, name.c_str(), fd);
      } else if (S_ISLNK(st.st_mode)) {
        std::string text = sys_readlink(path.c_str());
        if (!text.empty()) keep_link(out, name.c_str(), text);
      }
      close(out);
    }
  }
  errno = saved;
}

int capture_command_begin(const char* command) {
  if (commands_fd < 0 || !command) return -1;
  int id = next_command++;
  char name[32];
  snprintf(name, sizeof name, "%d", id);
  int fd = openat(commands_fd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  open_commands[id] = {fd, command};
  return id;
}

void capture_command_data(int id, const char* data, size_t size) {
  auto it = open_commands.find(id);
  if (it == open_commands.end() || size == 0) return;
  if (write(it->second.first, data, size) != static_cast<ssize_t>(size))
    printd("capture: output of command %d not kept whole\n", id);
}

void capture_command_end(int id, int status, int limit) {
  auto it = open_commands.find(id);
  if (it == open_commands.end()) return;
  close(it->second.first);
  if (index_fd < 0 || !write_all(index_fd, capture_index_line(id, status, limit, it->second.second)))
    printd("capture: command %d not indexed\n", id);
  open_commands.erase(it);
}

namespace {

/// The recorded physical-memory ranges: each heading line and its bytes
/// whole. False, with what is wrong, otherwise.
bool load_memory_ranges(std::string* damaged) {
  memory_ranges.clear();
  int fd = sys_open(replay_record_path(MEMORY_RECORD).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  struct stat st;
  FILE* f = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? fdopen(fd, "rb") : nullptr;
  if (!f) {
    close(fd);
    *damaged = "memory ranges";
    return false;
  }
  std::string line;
  bool too_long = false, ok = true;
  for (int number = 1; ok && read_line(f, &line, &too_long); ++number) {
    unsigned long long address = 0;
    size_t length = 0;
    off_t at = ftello(f);
    ok = !too_long && capture_parse_memory_line(line, &address, &length) && at >= 0 &&
         static_cast<unsigned long long>(st.st_size - at) >= length && fseeko(f, static_cast<off_t>(length), SEEK_CUR) == 0;
    if (ok) memory_ranges.push_back({address, length, at});
    else *damaged = "memory range " + std::to_string(number);
  }
  fclose(f);
  if (!ok) memory_ranges.clear();
  return ok;
}

/// The records of the running program's own facts, each line whole with
/// its numbers valid.
bool load_fact_records(std::string* damaged) {
  records.clear();
  for (const record_kind& kind : record_kinds) {
    std::string path = replay_record_path(kind.name), line;
    struct stat st;
    if (sys_lstat(path.c_str(), &st) != 0 && errno == ENOENT) continue;
    FILE* f = sys_fopen_bounded(path.c_str(), INDEX_LIMIT);
    int number = 0;
    bool ok = f != nullptr, too_long = false;
    std::vector<std::vector<std::string>> lines;
    while (ok && read_line(f, &line, &too_long)) {
      ++number;
      std::vector<std::string> fields;
      ok = !too_long && capture_parse_record_line(line, kind.fields, &fields);
      unsigned long long v;
      for (size_t i = 0; ok && i < kind.fields; ++i)
        if (kind.numbers & (1u << i)) ok = whole_number(fields[i], 0xffffffffULL, &v);
      lines.push_back(std::move(fields));
    }
    if (f) fclose(f);
    if (!ok) {
      *damaged = kind.said + (number > 0 ? " line " + std::to_string(number) : std::string());
      return false;
    }
    records[kind.name] = std::move(lines);
  }
  return true;
}

/// Every record of the capture's own directory that a probe reads in turn
/// is checked whole before anything runs: routing netlink answers, SCSI
/// answers, memory ranges and the running program's facts.
bool load_records(std::string* damaged) {
  if (!load_memory_ranges(damaged) || !load_fact_records(damaged)) return false;
  DIR* d = sys_opendir(REPLAY_OWN_DIR);
  if (!d) return true;
  std::vector<std::string> names;
  while (struct dirent* e = readdir(d))
    if (!strncmp(e->d_name, "netlink-", 8) || !strncmp(e->d_name, "scsi-", 5)) names.push_back(e->d_name);
  closedir(d);
  for (const std::string& name : names) {
    std::string path = replay_record_path(name.c_str()), problem;
    bool netlink = name[0] == 'n';
    FILE* f = sys_fopen_bounded(path.c_str(), netlink ? UINT64_MAX : SCSI_RECORD_LIMIT);
    bool ok = f != nullptr;
    if (ok && netlink) {
      ok = netlink_record_check(f, &problem);
    } else if (ok) {
      std::string text;
      char chunk[4096];
      for (size_t n; (n = fread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, n);
      scsi_record record;
      ok = scsi_parse_record(text, &record, &problem);
    }
    if (f) fclose(f);
    if (!ok) {
      *damaged = name + (problem.empty() ? std::string() : ": " + problem);
      return false;
    }
  }
  return true;
}

}  // namespace

bool replay_load(std::string* why) {
  replaying = false;
  recordings.clear();
  if (!sysroot_is_set()) return true;
  struct stat st;
  if (sys_lstat(REPLAY_MANIFEST, &st) != 0 && errno == ENOENT) return true;  // a plain root
  FILE* f = sys_fopen_bounded(REPLAY_MANIFEST, 4096);
  if (!f) {
    *why = "holds a capture whose manifest cannot be read";
    return false;
  }
  std::string line;
  bool too_long = false, heading = read_line(f, &line, &too_long) && line == MANIFEST_HEADING;
  bool have_time = false;
  while (heading && read_line(f, &line, &too_long)) {
    unsigned long long v;
    if (line.compare(0, 5, "host=") == 0) captured_host = line.substr(5);
    else if (line.compare(0, 5, "time=") == 0 &&
             whole_number(line.substr(5), sizeof(time_t) > 4 ? 0x7fffffffffffULL : 0x7fffffffULL, &v))
      captured_at = static_cast<time_t>(v), have_time = true;
  }
  fclose(f);
  if (!heading || !have_time) {
    *why = "holds a damaged capture (manifest)";
    return false;
  }
  f = sys_fopen_bounded(REPLAY_INDEX, INDEX_LIMIT);
  if (!f) {
    *why = "holds a damaged capture (no command index)";
    return false;
  }
  int number = 0;
  std::set<int> ids;
  while (read_line(f, &line, &too_long)) {
    ++number;
    int id = 0, status = 0, limit = 0;
    std::string command;
    bool ok = !too_long && capture_parse_index_line(line, &id, &status, &limit, &command) &&
              ids.insert(id).second;
    std::string output = REPLAY_OUTPUT_DIR + std::to_string(id);
    if (ok && (sys_lstat(output.c_str(), &st) != 0 || !S_ISREG(st.st_mode))) ok = false;
    if (!ok) {
      fclose(f);
      recordings.clear();
      *why = "holds a damaged capture (command index line " + std::to_string(number) + ")";
      return false;
    }
    if (!capture_known_command(command.c_str())) {
      fclose(f);
      recordings.clear();
      *why = "holds a recording of a command this program does not run (command index line " +
             std::to_string(number) + ": " + first_word(command.c_str(), nullptr) + ")";
      return false;
    }
    recordings[command].push_back({id, status, limit});
  }
  fclose(f);
  spaces.clear();
  if ((f = sys_fopen_bounded(REPLAY_SPACE, INDEX_LIMIT))) {
    number = 0;
    while (read_line(f, &line, &too_long)) {
      ++number;
      std::string mount;
      struct statvfs st;
      if (too_long || !capture_parse_space_line(line, &mount, &st)) {
        fclose(f);
        recordings.clear();
        spaces.clear();
        *why = "holds a damaged capture (file-system sizes line " + std::to_string(number) + ")";
        return false;
      }
      spaces[mount] = st;
    }
    fclose(f);
  }
  std::string damaged;
  if (!load_records(&damaged)) {
    recordings.clear();
    spaces.clear();
    memory_ranges.clear();
    records.clear();
    *why = "holds a damaged capture (" + damaged + ")";
    return false;
  }
  replaying = true;
  // The local times of a replay of the running machine (the container's
  // name and identification, the time table) are those its capture's run
  // wrote: in the zone of its TZ, else of the machine's own zone files.
  std::string zone = replay_zone();
  if (!zone.empty()) {
    setenv("TZ", zone.c_str(), 1);
    tzset();
    printd("capture: local times in the captured run's zone %s\n", zone.c_str());
  }
  printd("capture: replaying the capture of %s, %d command recordings\n", captured_host.c_str(), number);
  return true;
}

bool replay_active() { return replaying; }

bool commands_describe_system() { return !sysroot_is_set() || replaying; }

void note_not_under_root(const char* what) {
  printd("%s: not available under a system root\n", what);
  if (!gatherer_setting(SETTING_SILENT, SETTING_GET)) printm("(%s: not available under a system root) ", what);
}

std::string root_account_name(const char* platform_path, unsigned long id) {
  FILE* f = sys_fopen_bounded(platform_path, 16u << 20);
  if (!f) return "";
  std::string line, name;
  // "name:password:id:..."
  while (name.empty() && read_line(f, line, 65536)) {
    size_t first = line.find(':'), second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos || first == 0) continue;
    std::string number = line.substr(second + 1, line.find(':', second + 1) - second - 1);
    char* end = nullptr;
    unsigned long value = strtoul(number.c_str(), &end, 10);
    if (!number.empty() && number[0] != '-' && *end == '\0' && value == id) name = line.substr(0, first);
  }
  fclose(f);
  return name;
}

const std::string& replay_host() { return captured_host; }

time_t replay_time() { return captured_at; }

bool replay_has_command(const char* command) {
  auto it = replaying && command ? recordings.find(command) : recordings.end();
  return it != recordings.end() && !it->second.empty();
}

bool replay_command(const char* command, int* fd, int* status, int* limit) {
  if (!replaying || !command) return false;
  auto it = recordings.find(command);
  if (it == recordings.end() || it->second.empty()) return false;
  recording r = it->second.front();
  if (it->second.size() > 1) it->second.pop_front();
  std::string output = REPLAY_OUTPUT_DIR + std::to_string(r.id);
  *fd = sys_open(output.c_str(), O_RDONLY | O_CLOEXEC);
  *status = r.status;
  *limit = r.limit;
  return true;
}

bool capture_parse_index_line(const std::string& line, int* id, int* status, int* limit, std::string* command) {
  std::vector<std::string> fields;
  size_t at = 0;
  for (int i = 0; i < 3 && at != std::string::npos; ++i) {
    size_t blank = line.find(' ', at);
    fields.push_back(line.substr(at, blank == std::string::npos ? std::string::npos : blank - at));
    at = blank == std::string::npos ? blank : blank + 1;
  }
  unsigned long long n[3] = {0, 0, 0};
  if (fields.size() != 3 || at == std::string::npos || !whole_number(fields[0], 1000000000ULL, &n[0]) ||
      n[0] == 0 || !whole_number(fields[1], 0xffffULL, &n[1]) || !whole_number(fields[2], 2, &n[2]) ||
      !unescape_command(line.substr(at), command))
    return false;
  *id = static_cast<int>(n[0]);
  *status = static_cast<int>(n[1]);
  *limit = static_cast<int>(n[2]);
  return true;
}

std::string capture_index_line(int id, int status, int limit, const std::string& command) {
  char head[64];
  snprintf(head, sizeof head, "%d %d %d ", id, status, limit);
  return head + escape_command(command) + "\n";
}

namespace {

/// The recorded fields of a statvfs result, in the order of a line.
template <typename F>
void each_space_field(struct statvfs& st, F f) {
  f(st.f_bsize);
  f(st.f_frsize);
  f(st.f_blocks);
  f(st.f_bfree);
  f(st.f_bavail);
  f(st.f_files);
  f(st.f_ffree);
  f(st.f_favail);
  f(st.f_flag);
  f(st.f_namemax);
}

}  // namespace

std::string capture_space_line(const std::string& mount, const struct statvfs& st) {
  std::string line;
  struct statvfs copy = st;
  each_space_field(copy, [&line](const auto& v) { line += std::to_string(static_cast<unsigned long long>(v)) + " "; });
  return line + escape_command(mount) + "\n";
}

bool capture_parse_space_line(const std::string& line, std::string* mount, struct statvfs* st) {
  memset(st, 0, sizeof *st);
  size_t at = 0;
  bool ok = true;
  each_space_field(*st, [&](auto& field) {
    size_t blank = ok ? line.find(' ', at) : std::string::npos;
    unsigned long long v = 0;
    using T = typename std::remove_reference<decltype(field)>::type;
    if (blank == std::string::npos || !whole_number(line.substr(at, blank - at), 0x7fffffffffffffffULL, &v) ||
        static_cast<unsigned long long>(static_cast<T>(v)) != v) {
      ok = false;
      return;
    }
    field = static_cast<T>(v);
    at = blank + 1;
  });
  return ok && unescape_command(line.substr(at), mount);
}

void capture_note_space(const char* mount, const struct statvfs& st) {
  if (space_fd < 0 || !mount || !*mount) return;
  if (!write_all(space_fd, capture_space_line(mount, st))) printd("capture: size of %s not kept\n", mount);
}

bool replay_space(const char* mount, struct statvfs* st) {
  if (!replaying || !mount) return false;
  auto it = spaces.find(mount);
  if (it == spaces.end()) return false;
  *st = it->second;
  return true;
}

bool capture_known_command(const char* command) {
  // The tools the probes run; a probe that runs another one adds it here.
  // "printf" starts the package listing (the native architecture first),
  // "MODINFO=" the module listing, "command" the nft rule set.
  static const char* const tools[] = {"aptitude", "cat",      "command", "dpkg-query", "find",   "iptables",
                                      "journalctl", "MODINFO=", "printf", "readlink",   "rpm",    "systemctl",
                                      "tail",     "tune2fs",  "which",   "xdpyinfo",   "xrandr"};
  const char* rest = "";
  std::string tool = first_word(command ? command : "", &rest);
  if (tool.empty()) return false;
  const char* p = command;
  while (*p == ' ') ++p;
  if (*p == '\'') {
    // A tool found on the machine, named by its quoted path: the process
    // list tool, or a browser asked for its version.
    return (tool == "ps" && strncmp(rest, " --no-headers ", 14) == 0) ||
           strncmp(rest, " --version 2>/dev/null | grep ", 30) == 0;
  }
  for (const char* t : tools)
    if (tool == t) return true;
  return false;
}

std::string capture_memory_line(unsigned long long address, size_t length) {
  char line[64];
  snprintf(line, sizeof line, "%llx %zu\n", address, length);
  return line;
}

bool capture_parse_memory_line(const std::string& line, unsigned long long* address, size_t* length) {
  size_t blank = line.find(' ');
  if (blank == std::string::npos || blank == 0 || blank > 16) return false;
  unsigned long long a = 0, n = 0;
  for (size_t i = 0; i < blank; ++i) {
    int d = hex_digit(line[i]);
    if (d < 0) return false;
    a = a << 4 | static_cast<unsigned>(d);
  }
  if (!whole_number(line.substr(blank + 1), MEMORY_RANGE_LIMIT, &n) || n == 0 || a + n < a) return false;
  *address = a;
  *length = static_cast<size_t>(n);
  return true;
}

void capture_note_memory(unsigned long long address, const void* data, size_t length) {
  if (capture_fd < 0 || !data || length == 0 || length > MEMORY_RANGE_LIMIT) return;
  // A range read again is kept once.
  for (const memory_range& r : memory_ranges)
    if (r.address == address && r.length == length) return;
  std::string line = capture_memory_line(address, length);
  if (capture_append_record(MEMORY_RECORD, line.data(), line.size()) &&
      capture_append_record(MEMORY_RECORD, data, length))
    memory_ranges.push_back({address, length, 0});
}

bool replay_memory(unsigned long long address, void* buffer, size_t length) {
  if (!replaying || !buffer || length == 0) return false;
  for (const memory_range& r : memory_ranges) {
    if (address < r.address || address - r.address > r.length || length > r.length - (address - r.address)) continue;
    int fd = sys_open(replay_record_path(MEMORY_RECORD).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ssize_t got = pread(fd, buffer, length, r.offset + static_cast<off_t>(address - r.address));
    close(fd);
    printd("capture: %zu bytes at %#llx answered from the recorded range at %#llx\n", length, address, r.address);
    return got == static_cast<ssize_t>(length);
  }
  return false;
}

std::string capture_record_line(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) line += (i ? "\t" : "") + escape_command(fields[i]);
  return line + "\n";
}

bool capture_parse_record_line(const std::string& line, size_t count, std::vector<std::string>* fields) {
  fields->clear();
  size_t at = 0;
  for (;;) {
    size_t tab = line.find('\t', at);
    std::string field;
    if (fields->size() == count ||
        !unescape_field(line.substr(at, tab == std::string::npos ? tab : tab - at), &field))
      return false;
    fields->push_back(std::move(field));
    if (tab == std::string::npos) return fields->size() == count;
    at = tab + 1;
  }
}

bool capture_keep_lines(const char* name, const std::vector<std::vector<std::string>>& lines) {
  if (capture_fd < 0 || !name) return false;
  if (!kept_records.insert(name).second) return true;
  std::string text;
  for (const auto& fields : lines) text += capture_record_line(fields);
  return capture_keep_record(name, text);
}

const std::vector<std::vector<std::string>>* replay_lines(const char* name) {
  auto it = replaying && name ? records.find(name) : records.end();
  return it == records.end() ? nullptr : &it->second;
}

std::string zone_name(const std::string& name) {
  // A zone name only: never a path or a rule text.
  bool usable = !name.empty() && name[0] != '/' && name.find("..") == std::string::npos;
  for (char c : name) usable = usable && (isalnum(static_cast<unsigned char>(c)) || strchr("/_+-", c));
  return usable ? name : "";
}

std::string root_zone_name() {
  std::string name;
  if (FILE* f = sys_fopen_bounded(platform_path::etc_timezone, 4096)) {
    read_line(f, name, 256);
    fclose(f);
  }
  while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) name.pop_back();
  if (name.empty()) {
    std::string link = sys_readlink(platform_path::etc_localtime);
    size_t at = link.find("zoneinfo/");
    if (at != std::string::npos) name = link.substr(at + 9);
  }
  return zone_name(name);
}

std::string replay_zone() {
  const auto* kept = replay_lines("environment");
  if (!kept) return "";
  for (const auto& fields : *kept)
    if (fields[0].compare(0, 3, "TZ=") == 0) return zone_name(fields[0].substr(3));
  return root_zone_name();
}
