// fs_linux.cpp - the "Mounted Filesystems" and "Partition Details" tables.
#include "fs_linux.h"

#include <mntent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "capture.h"
#include "debug.h"
#include "platform_paths.h"
#include "run_command.h"
#include "sysroot.h"
#include "table.h"
#include "util_capacity.h"
#include "util_string.h"

namespace {

const char* const excluded_types[] = {"devfs", "tmpfs", "proc", "devpts", "usbdevfs", "shm"};
const char* const pseudo_types[] = {"sysfs",   "cgroup",      "cgroup2",    "nsfs",     "securityfs", "debugfs",
                                    "tracefs", "configfs",    "fusectl",    "pstore",   "bpf",        "mqueue",
                                    "autofs",  "binfmt_misc", "rpc_pipefs", "selinuxfs"};

/// Copies the text after `prefix` and the blanks that follow it, cut to size - 1.
void copy_field(const char* text, char* out, size_t size) {
  while (*text == ' ' || *text == '\t') ++text;
  snprintf(out, size, "%s", text);
}

int int_field(const char* text) {
  long v = strtol(text, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

/// A whole decimal number (an optional sign, then digits) as the next field.
bool next_number(const char*& p, long long& value) {
  while (isspace(static_cast<unsigned char>(*p))) ++p;
  const char* start = p;
  if (*p == '-' || *p == '+') ++p;
  if (!isdigit(static_cast<unsigned char>(*p))) return false;
  errno = 0;
  char* end;
  value = strtoll(start, &end, 10);
  if (errno == ERANGE) return false;
  p = end;
  return isspace(static_cast<unsigned char>(*p)) || *p == '\0';
}

void log_size(Table& table, uint64_t bytes) {
  char number[24];
  snprintf(number, sizeof number, "%llu", static_cast<unsigned long long>(bytes));
  table.log_data(capacity_text(bytes).c_str());
  table.log_data(number);
}

}  // namespace

bool is_excluded(const char* type) {
  if (!type) return false;
  for (const char* t : excluded_types)
    if (strcmp(type, t) == 0) return true;
  return false;
}

bool is_pseudo_filesystem(const char* type) {
  if (!type) return false;
  for (const char* t : pseudo_types)
    if (strcmp(type, t) == 0) return true;
  return false;
}

uint64_t size_in_bytes(uint64_t count, uint64_t unit) {
  uint64_t bytes;
  return __builtin_mul_overflow(count, unit, &bytes) ? UINT64_MAX : bytes;
}

filesystem_space space_of(const struct statvfs& st) {
  uint64_t unit = st.f_frsize ? st.f_frsize : st.f_bsize;
  filesystem_space s;
  uint64_t total = st.f_blocks, free_blocks = st.f_bfree;
  s.total = size_in_bytes(total, unit);
  s.free = size_in_bytes(free_blocks, unit);
  s.used = size_in_bytes(total >= free_blocks ? total - free_blocks : 0, unit);
  s.available = size_in_bytes(st.f_bavail, unit);
  return s;
}

std::string capacity_text(uint64_t bytes) {
  // The formatter takes a 32-bit count: larger sizes are given in larger
  // units, which only drops bytes far below the one decimal shown.
  unsigned shift = 0;
  while ((bytes >> shift) > UINT_MAX) shift += 10;
  char text[32];
  calculate_storage_capacity(static_cast<unsigned>(bytes >> shift), 1u << shift, text, 20, 1024);
  return text;
}

int get_mounted_filesystems(FILE* report) {
  FILE* mounts = sys_fopen(platform_path::mtab, "r");
  if (!mounts) {
    print_error("fs_linux: setmntent", errno);
    return 0;
  }
  static const Column columns[] = {
      {"Mount Point", STRING, 256},    {"Device", STRING, 256},
      {"Capacity", STRING, 16},        {"Capacity (bytes)", ASCII_STRING, 20},
      {"Free Space", STRING, 16},      {"Free Space (bytes)", ASCII_STRING, 20},
      {"Available Space", STRING, 16}, {"Available Space (bytes)", ASCII_STRING, 20},
      {"Used Space", STRING, 16},      {"Used Space (bytes)", ASCII_STRING, 20},
      {"File System", STRING, 16}};
  Table table(report, "Mounted Filesystems");
  table.heading(columns);

  int entries = 0;
  bool sizes_noted = false;
  struct mntent entry;
  char buffer[8192];
  while (getmntent_r(mounts, &entry, buffer, sizeof buffer)) {
    ++entries;
    struct statvfs st;
    memset(&st, 0, sizeof st);
    // The mount point as the tree has it: a link in it stays inside the root.
    bool known = replay_space(entry.mnt_dir, &st);
    // Under a system root, the sizes of a path would be those of the disk
    // it lies on: only a capture's recording gives them.
    if (!known && sysroot_is_set()) {
      if (!sizes_noted) note_not_under_root("Mounted Filesystems sizes");
      sizes_noted = true;
    } else if (!known) {
      int dir = sys_open(entry.mnt_dir, O_PATH | O_DIRECTORY);
      known = dir >= 0 && fstatvfs(dir, &st) == 0;
      if (!known) memset(&st, 0, sizeof st);
      if (dir >= 0) close(dir);
      capture_note_space(entry.mnt_dir, st);
    }
    if (is_excluded(entry.mnt_type) || is_pseudo_filesystem(entry.mnt_type)) {
      printd("fs_linux: %s is %d\n", entry.mnt_type, 1);
      continue;
    }
    // A file system that says it holds nothing (proc-like, whatever its
    // type's name) is no storage; one whose statistics are unknown stays.
    if (known && st.f_blocks == 0) {
      printd("fs_linux: %s (%s) has no capacity\n", entry.mnt_dir, entry.mnt_type);
      continue;
    }
    filesystem_space s = space_of(st);
    table.start_row(entry.mnt_dir);
    table.log_data(entry.mnt_dir);
    table.log_data(entry.mnt_fsname);
    log_size(table, s.total);
    log_size(table, s.free);
    log_size(table, s.available);
    log_size(table, s.used);
    table.log_data(entry.mnt_type);
    table.end_row();
  }
  print_error("fs_linux:getmntent", errno);
  fclose(mounts);
  return entries > 0 ? 1 : 0;
}

int get_filesystem_information(FILE* report) { return get_mounted_filesystems(report); }

void clear_partition(partition_record& p) { memset(&p, 0, sizeof p); }

bool parse_partition_line(const std::string& line, partition_record& p) {
  clear_partition(p);
  const char* s = line.c_str();
  long long major, minor, blocks;
  if (!next_number(s, major) || !next_number(s, minor) || !next_number(s, blocks)) return false;
  if (major < 0 || major > INT_MAX || minor < 0 || minor > INT_MAX) return false;
  while (isspace(static_cast<unsigned char>(*s))) ++s;
  size_t n = 0;
  while (s[n] && !isspace(static_cast<unsigned char>(s[n]))) ++n;
  if (n == 0) return false;
  if (n > sizeof p.name - 1) n = sizeof p.name - 1;
  memcpy(p.name, s, n);
  p.name[n] = '\0';
  p.major = static_cast<int>(major);
  p.minor = static_cast<int>(minor);
  p.blocks = blocks;
  return true;
}

bool valid_partition_name(const char* name) {
  if (!name || !*name || name[0] == '-' || strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
    return false;
  for (const char* c = name; *c; ++c)
    if (!isalnum(static_cast<unsigned char>(*c)) && !strchr("._-+:!", *c)) return false;
  return true;
}

void parse_tune2fs_line(const std::string& line, partition_record& p) {
  struct text_field {
    const char* prefix;
    char* out;
    size_t size;
  };
  const text_field texts[] = {{"Filesystem features:", p.features, sizeof p.features},
                              {"Filesystem state:", p.state, sizeof p.state},
                              {"Errors behavior:", p.errors, sizeof p.errors},
                              {"Last mount time:", p.last_mount, sizeof p.last_mount}};
  for (const text_field& f : texts)
    if (line.compare(0, strlen(f.prefix), f.prefix) == 0) {
      copy_field(line.c_str() + strlen(f.prefix), f.out, f.size);
      return;
    }
  struct int_field_def {
    const char* prefix;
    int* out;
  };
  const int_field_def numbers[] = {{"Mount count:", &p.mount_count},
                                   {"Maximum mount count:", &p.max_mount_count},
                                   {"Block size:", &p.block_size},
                                   {"Inode size:", &p.inode_size}};
  for (const int_field_def& f : numbers)
    if (line.compare(0, strlen(f.prefix), f.prefix) == 0) {
      *f.out = int_field(line.c_str() + strlen(f.prefix));
      return;
    }
}

namespace {

/// Fills the file-system fields from the tuning tool, where it may be asked.
void read_tune2fs(partition_record& p) {
  // The tool would close an optical drive's tray or wait on a floppy.
  if (p.major == 11 || p.major == 2) {
    printd("partitions: %s skipped (major %d)\n", p.name, p.major);
    return;
  }
  if (!valid_partition_name(p.name)) {
    printd("partitions: name not used in a command: %s\n", p.name);
    return;
  }
  std::string device = std::string(platform_path::dev_dir) + p.name;
  // A block device, or an image file standing for one under a system root,
  // opened inside the root and handed over as a descriptor: the tool never
  // resolves a name of the tree itself.
  std::string command = "tune2fs -l " + command_file_arg(0) + " 2>/dev/null | grep -v 'tune2fs'";
  FILE* out = command_open_files(command.c_str(), {device}, SYS_BLOCK_DEVICE | SYS_REGULAR);
  if (!out) {
    print_error(device.c_str(), errno);
    return;
  }
  std::string line;
  while (read_line(out, line, 4096)) parse_tune2fs_line(line, p);
  print_error("partitions: getline", errno);
  command_close(out);
}

}  // namespace

void get_partition_details(FILE* report) {
  static const Column columns[] = {{"Name", STRING, 64},           {"No. Blocks", INTEGER},
                                   {"Major Number", INTEGER},   {"Minor Number", INTEGER},
                                   {"Features", STRING, 128},      {"State", STRING, 16},
                                   {"Error Behaviour", STRING, 64}, {"Last Mount Date", STRING, 64},
                                   {"Mount Count", INTEGER},    {"Maximum Mounts", INTEGER},
                                   {"Block Size", INTEGER},     {"Inode Size", INTEGER}};
  Table table(report, "Partition Details");
  table.heading(columns);

  FILE* partitions = sys_fopen(platform_path::proc_partitions, "r");
  if (!partitions) {
    print_error("partitions: popen", errno);
    return;
  }
  std::string line;
  read_line(partitions, line, 4096);  // the heading
  partition_record p;
  while (read_line(partitions, line, 4096)) {
    if (!parse_partition_line(line, p)) continue;
    read_tune2fs(p);
    table.write_row(p.name, p.name, p.blocks, p.major, p.minor, p.features, p.state, p.errors, p.last_mount,
                    p.mount_count, p.max_mount_count, p.block_size, p.inode_size);
  }
  print_error("partitions: getline", errno);
  fclose(partitions);
}

disk_probe::disk_probe(probe_group* group) : probe(group, "Mounted Filesystems", 2, 0x0001) {
  customers = 0xFFFF;
}

bool disk_probe::run(FILE* report) { return get_filesystem_information(report) != 0; }

partition_probe::partition_probe(probe_group* group) : probe(group, "Partition Information", 2, 0x0001) {
  customers = 0xFFFF;
}

bool partition_probe::run(FILE* report) {
  get_partition_details(report);
  return true;
}
