// pci_linux.cpp - configuration space through the kernel's per-function files
// under the system root, and the listing of the buses and functions present.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "debug.h"
#include "pci.h"
#include "platform_paths.h"
#include "sysroot.h"

namespace {

void function_path(char* out, size_t size, unsigned domain, unsigned bus, unsigned device, unsigned function) {
  if (domain == 0)
    snprintf(out, size, platform_path::proc_bus_pci_function_fmt, bus & 0xFF, device & 0x1F, function & 7);
  else
    snprintf(out, size, platform_path::proc_bus_pci_domain_function_fmt, domain & 0xFFFF, bus & 0xFF,
             device & 0x1F, function & 7);
}

/// Opens a function's file: regular files only, never created or truncated,
/// never blocking, and for writing never through a symbolic link.
int open_function(unsigned domain, unsigned bus, unsigned device, unsigned function, bool for_write) {
  char path[64];
  function_path(path, sizeof path, domain, bus, device, function);
  int flags = for_write ? (O_WRONLY | O_NOFOLLOW | O_NONBLOCK) : (O_RDONLY | O_NONBLOCK);
  int fd = sys_open(path, flags);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}

class proc_config_space : public pci_config_space {
 public:
  bool read(unsigned domain, unsigned bus, unsigned device, unsigned function, unsigned offset, void* out,
            unsigned length) override {
    int fd = open_function(domain, bus, device, function, false);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < length) {
      ssize_t n = pread(fd, (char*)out + done, length - done, (off_t)offset + (off_t)done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += (size_t)n;
    }
    close(fd);
    return done == length;
  }

  bool write(unsigned domain, unsigned bus, unsigned device, unsigned function, unsigned offset,
             const void* data, unsigned length) override {
    // A captured tree is read, never written.
    if (sysroot_is_set()) {
      errno = EROFS;
      return false;
    }
    int fd = open_function(domain, bus, device, function, true);
    if (fd < 0) return false;
    ssize_t n;
    do n = pwrite(fd, data, length, (off_t)offset);
    while (n < 0 && errno == EINTR);
    close(fd);
    return n == (ssize_t)length;
  }
};

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/// The value of exactly `count` hex digits at `s`; -1 otherwise.
long hex_field(const char* s, int count) {
  long v = 0;
  for (int i = 0; i < count; i++) {
    int d = hex_digit(s[i]);
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

/// A bus directory's name: "BB" (domain 0) or "DDDD:BB".
bool parse_bus_name(const char* name, unsigned* domain, unsigned* bus) {
  size_t len = strlen(name);
  long d = 0, b;
  if (len == 2) {
    b = hex_field(name, 2);
  } else if (len == 7 && name[4] == ':') {
    d = hex_field(name, 4);
    b = hex_field(name + 5, 2);
  } else {
    return false;
  }
  if (d < 0 || b < 0) return false;
  *domain = (unsigned)d;
  *bus = (unsigned)b;
  return true;
}

void list_functions(const char* dir_name, pci_bus_listing* listing) {
  char path[64];
  snprintf(path, sizeof path, platform_path::proc_bus_pci_bus_fmt, dir_name);
  DIR* dir = sys_opendir(path);
  if (!dir) {
    print_error(path, errno);
    return;
  }
  while (struct dirent* e = readdir(dir)) {
    // "DD.F": device 00-1f, function 0-7.
    if (strlen(e->d_name) != 4 || e->d_name[2] != '.') continue;
    long device = hex_field(e->d_name, 2), function = hex_field(e->d_name + 3, 1);
    if (device < 0 || device > 31 || function < 0 || function > 7) continue;
    listing->functions[device] |= (uint8_t)(1u << function);
  }
  closedir(dir);
}

}  // namespace

pci_config_space* pci_proc_config_space() {
  static proc_config_space proc;
  return &proc;
}

std::vector<pci_bus_listing> pci_list_buses(bool all_domains, int last_bus) {
  std::vector<pci_bus_listing> buses;
  DIR* dir = sys_opendir(platform_path::proc_bus_pci);
  if (!dir) {
    print_error(platform_path::proc_bus_pci, errno);
    return buses;
  }
  std::vector<std::pair<pci_bus_listing, std::string>> found;
  while (struct dirent* e = readdir(dir)) {
    pci_bus_listing l;
    memset(&l, 0, sizeof l);
    if (!parse_bus_name(e->d_name, &l.domain, &l.bus)) continue;
    // Domain 0 is addressed by the short name; a long name for it is not ours to open.
    if (l.domain == 0 && strlen(e->d_name) != 2) continue;
    if (!all_domains && (l.domain != 0 || (int)l.bus > last_bus)) continue;
    found.emplace_back(l, e->d_name);
  }
  closedir(dir);
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return a.first.domain != b.first.domain ? a.first.domain < b.first.domain : a.first.bus < b.first.bus;
  });
  for (auto& f : found) {
    list_functions(f.second.c_str(), &f.first);
    buses.push_back(f.first);
  }
  return buses;
}
