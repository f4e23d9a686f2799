// filescan_linux.cpp - the directory scanner on Linux.
//
// Each directory is opened under the system root, read to its end and closed
// before the next one is opened, so the walk holds one directory handle at a
// time. Entries are examined with fstatat relative to the open directory
// (following symbolic links, as a path lookup would); their content is never
// read. Subdirectories are pushed on the stack as they are met, which makes
// the walk depth-first.
#include "filescan_linux.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <grp.h>
#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "capture.h"
#include "date.h"
#include "clock.h"
#include "debug.h"
#include "platform_paths.h"
#include "sysroot.h"
#include "util_string.h"

namespace {
/// True when a name under `directory` matches parts[level] and, below it,
/// the levels after it.
bool match_levels(const std::string& directory, const std::vector<std::string>& parts, size_t level);

/// Copies text into out, cut to size - 1 (the scan's "%s" without printf).
void copy_text(char* out, size_t size, const char* text) {
  if (size == 0) return;
  size_t n = strnlen(text, size - 1);
  memcpy(out, text, n);
  out[n] = '\0';
}

/// "name (id)" into out, cut to size - 1.
void name_and_id(char* out, size_t size, const std::string& name, long id) {
  std::string text = name;
  text += " (";
  text += std::to_string(id);
  text += ')';
  copy_text(out, size, text.c_str());
}

}  // namespace

filescan* make_filescan() { return new filescan_linux(); }

filescan_linux::filescan_linux()
    : dir(nullptr), entry(), perm_mask(07777), perm_check(0), ignore(nullptr), this_year(0) {
  struct tm t;
  if (clock_local(clock_now(), &t)) this_year = t.tm_year + 1900;
}

filescan_linux::~filescan_linux() {
  close_directory();
  delete ignore;
}

void filescan_linux::close_directory() {
  if (dir) closedir(dir);
  dir = nullptr;
}

void filescan_linux::add_directory_to_scan(const char* path) {
  if (!path) return;
  if (strcasecmp(path, "%LocalDrives%") == 0) path = platform_path::root_dir;
  dentry* d = new dentry();
  snprintf(d->path, sizeof d->path, "%s", path);
  d->start = true;
  add_dentry(d);
}

void filescan_linux::add_path_to_scan(const char* paths) {
  if (!paths) return;
  str_list parts(paths, ';');
  for (const char* p = parts.get_first(); p; p = parts.get_next()) add_directory_to_scan(p);
}

void filescan_linux::set_filter(const char* patterns) {
  if (!patterns) return;
  delete filter;
  filter = new str_list(patterns, ';');
}

void filescan_linux::set_ignore_filter(const char* patterns) {
  if (!patterns) return;
  delete ignore;
  ignore = new str_list(patterns, ';');
}

void filescan_linux::set_perm_mask(int mask) { perm_mask = mask < 0 ? 07777 : mask; }
void filescan_linux::set_perm_check(int check) { perm_check = check < 0 ? 0 : check; }

bool filescan_linux::build_full_name(char* out, size_t size) const {
  size_t plen = strlen(current_path), nlen = strlen(entry.name);
  bool slash = plen == 0 || current_path[plen - 1] != '/';
  size_t total = plen + (slash ? 1 : 0) + nlen;
  if (total + 1 > size) {
    if (size) snprintf(out, size, "%s%s%s", current_path, slash ? "/" : "", entry.name);
    return false;
  }
  memcpy(out, current_path, plen);
  if (slash) out[plen++] = '/';
  memcpy(out + plen, entry.name, nlen + 1);
  return true;
}

bool filescan_linux::read_file_data() {
  struct dirent* d;
  for (;;) {
    errno = 0;
    d = readdir(dir);
    if (!d) return false;
    if (strcmp(d->d_name, ".") != 0 && strcmp(d->d_name, "..") != 0) break;
  }
  copy_text(entry.name, sizeof entry.name, d->d_name);
  struct stat st;
  int rc = fstatat(dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW);
  if (rc == 0 && S_ISLNK(st.st_mode)) {
    // A link is followed as the captured machine would: inside the root.
    char full[FILESCAN_PATH_MAX];
    rc = build_full_name(full, sizeof full) ? sys_stat(full, &st) : -1;
    if (rc != 0 && errno == 0) errno = ENAMETOOLONG;
  }
  if (rc == 0) {
    entry.change_time = st.st_ctime;
    entry.access_time = st.st_atime;
    entry.write_time = st.st_mtime;
    entry.size = static_cast<uint64_t>(st.st_size);
    entry.is_directory = S_ISDIR(st.st_mode);
    entry.permissions = static_cast<int>(st.st_mode & 07777);
    entry.device = static_cast<uint64_t>(st.st_dev);
    entry.inode_number = static_cast<uint64_t>(st.st_ino);
    entry.mode = st.st_mode;
    entry.uid = st.st_uid;
    entry.gid = st.st_gid;
  } else {
    // The name is still delivered; its attributes show as zero (a dangling
    // link, or an entry removed meanwhile).
    print_error("stat", errno);
    int name_errno = errno;
    entry.change_time = entry.access_time = entry.write_time = 0;
    entry.size = 0;
    entry.is_directory = false;
    entry.permissions = 0;
    entry.device = entry.inode_number = 0;
    entry.mode = 0;
    entry.uid = 0;
    entry.gid = 0;
    errno = name_errno;
  }
  return true;
}

bool filescan_linux::next_file() {
  if (read_file_data()) {
    files_scanned++;
    return true;
  }
  if (errno) print_error("filescan: read_file_data", errno);
  close_directory();
  return false;
}

bool filescan_linux::next_directory() {
  while (dentry* d = pop_dentry()) {
    memcpy(current_path, d->path, sizeof current_path);
    bool start = d->start;
    delete d;
    directories_scanned++;
    dir = sys_opendir(current_path);
    if (!dir) {
      print_error(current_path, errno);
      note_stop(current_path, strerror(errno));
      continue;
    }
    if (start) {
      // A starting directory joins the visited set as well, so a link back
      // to it, or a second starting path inside an earlier one, is not
      // scanned twice.
      struct stat st;
      if (fstat(dirfd(dir), &st) == 0) {
        inode key{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
        if (!visited.insert(key).second) {
          note_stop(current_path, "scanned already");
          close_directory();
          continue;
        }
      }
    }
    if (read_file_data()) {
      files_scanned++;
      return true;
    }
    printd("filescan: empty directory %s 0x%x\n", current_path, static_cast<unsigned>(errno));
    if (errno) print_error("filescan: read_file_data", errno);
    close_directory();
  }
  return false;
}

bool filescan_linux::add_if_directory() {
  if (!entry.is_directory) return false;
  inode key{entry.device, entry.inode_number};
  char full[FILESCAN_PATH_MAX];
  bool fits = build_full_name(full, sizeof full);
  if (visited.count(key)) {
    note_stop(full, "scanned already");
    return false;
  }
  if (!fits) {
    // A cut path would name another directory: deliver the entry instead.
    note_stop(full, "path too long");
    return false;
  }
  visited.insert(key);
  dentry* d = new dentry();
  memcpy(d->path, full, sizeof d->path);
  d->start = false;
  add_dentry(d);
  return true;
}

bool filescan_linux::next() {
  bool filtering = filter || ignore || perm_mask != 07777 || perm_check != 0;
  for (;;) {
    bool got = false;
    if (dir) got = next_file();
    if (!got) got = next_directory();
    if (!got) return false;
    if (add_if_directory()) continue;
    if (filtering &&
        !match_filters(entry.name, entry.permissions, filter, ignore, perm_mask, perm_check))
      continue;
    files_found++;
    return true;
  }
}

char* filescan_linux::get_filename(char* out, int size) {
  if (size > 0) copy_text(out, static_cast<size_t>(size), entry.name);
  return out;
}

char* filescan_linux::get_path(char* out, int size) {
  if (size > 0) copy_text(out, static_cast<size_t>(size), current_path);
  return out;
}

char* filescan_linux::get_full_pathname(char* out, int size) {
  if (size > 0) build_full_name(out, static_cast<size_t>(size));
  return out;
}

char* filescan_linux::format_time(time_t t, char* out, int size) {
  if (size <= 0) return out;
  // The three times of a file are often the same second: convert once.
  if (!have_last_time || t != last_time) {
    struct tm local;
    last_text[0] = '\0';
    if (clock_local(t, &local)) {
      gathered_datetime value;
      value.set_current_year(this_year);
      value.setDate(&local);
      snprintf(last_text, sizeof last_text, "%s", value.format());
    }
    last_time = t;
    have_last_time = true;
  }
  copy_text(out, static_cast<size_t>(size), last_text);
  return out;
}

char* filescan_linux::get_create_time(char* out, int size) {
  return format_time(entry.change_time, out, size);
}
char* filescan_linux::get_last_access_time(char* out, int size) {
  return format_time(entry.access_time, out, size);
}
char* filescan_linux::get_last_write_time(char* out, int size) {
  return format_time(entry.write_time, out, size);
}

char* filescan_linux::get_file_size(char* out, int size) {
  // "%llu" by hand: two of these per file are a good part of a scan's time.
  char digits[24];
  int n = 0;
  unsigned long long v = entry.size;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  if (size <= 0) return out;
  int k = 0;
  while (n > 0 && k < size - 1) out[k++] = digits[--n];
  out[k] = '\0';
  return out;
}

char* filescan_linux::get_permissions(char* out, int size) {
  unsigned p = static_cast<unsigned>(entry.permissions) & 07777;
  const char text[5] = {static_cast<char>('0' + (p >> 9)), static_cast<char>('0' + ((p >> 6) & 7)),
                        static_cast<char>('0' + ((p >> 3) & 7)), static_cast<char>('0' + (p & 7)), '\0'};
  if (size > 0) copy_text(out, static_cast<size_t>(size), text);
  return out;
}

const std::string& filescan_linux::user_name(uid_t uid) {
  auto it = user_names.find(uid);
  if (it != user_names.end()) return it->second;
  struct passwd pw, *found = nullptr;
  char buf[4096];
  std::string name;
  // Under a system root the names are the root's own.
  if (sysroot_is_set())
    name = root_account_name(platform_path::etc_passwd, uid);
  else if (getpwuid_r(uid, &pw, buf, sizeof buf, &found) == 0 && found && found->pw_name)
    name = found->pw_name;
  return user_names.emplace(uid, name).first->second;
}

const std::string& filescan_linux::group_name(gid_t gid) {
  auto it = group_names.find(gid);
  if (it != group_names.end()) return it->second;
  struct group gr, *found = nullptr;
  char buf[8192];
  std::string name;
  if (sysroot_is_set())
    name = root_account_name(platform_path::etc_group, gid);
  else if (getgrgid_r(gid, &gr, buf, sizeof buf, &found) == 0 && found && found->gr_name)
    name = found->gr_name;
  return group_names.emplace(gid, name).first->second;
}

char* filescan_linux::get_user_id(char* out, int size) {
  if (size > 0)
    name_and_id(out, static_cast<size_t>(size), user_name(entry.uid), static_cast<int>(entry.uid));
  return out;
}

char* filescan_linux::get_group_id(char* out, int size) {
  if (size > 0)
    name_and_id(out, static_cast<size_t>(size), group_name(entry.gid), static_cast<int>(entry.gid));
  return out;
}

bool filescan_linux::file_exists(const char* directory, const char* pattern) {
  if (!directory || !pattern) return false;
  std::vector<std::string> parts;
  for (const char* p = pattern; *p;) {
    const char* end = strchr(p, '/');
    if (!end) end = p + strlen(p);
    if (end > p) parts.emplace_back(p, end);
    p = *end ? end + 1 : end;
  }
  return !parts.empty() && match_levels(directory, parts, 0);
}

namespace {

bool match_levels(const std::string& directory, const std::vector<std::string>& parts, size_t level) {
  // Level by level, every directory opened under the system root; names are
  // matched as glob matches them (a leading dot only by a pattern that
  // starts with one).
  DIR* d = sys_opendir(directory.c_str());
  if (!d) return false;
  const std::string& pattern = parts[level];
  bool last = level + 1 == parts.size();
  bool found = false;
  while (!found) {
    struct dirent* e = readdir(d);
    if (!e) break;
    bool dots = strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0;
    if (dots && pattern != e->d_name) continue;
    if (fnmatch(pattern.c_str(), e->d_name, FNM_PERIOD) != 0) continue;
    std::string path = directory + (directory.empty() || directory.back() != '/' ? "/" : "") + e->d_name;
    found = last || match_levels(path, parts, level + 1);
  }
  closedir(d);
  return found;
}

}  // namespace
