// os_linux.cpp - Linux identification: the distribution from its release
// files under the system root, the kernel from uname (or, under a system
// root, from the captured kernel's own files).
#include <sys/utsname.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "capture.h"
#include "debug.h"
#include "osinfo.h"
#include "platform_paths.h"
#include "sysroot.h"
#include "util_string.h"

namespace {

/// Release files in the order they are tried: the first that opens names the
/// distribution (a machine with both a Red Hat and a SuSE file is Red Hat).
const char* const release_files[] = {
    platform_path::debian_version,     platform_path::mandrake_release,
    platform_path::redhat_release,     platform_path::suse_release,
    platform_path::turbolinux_release,
};

struct vendor_entry {
  const char* name;
  const char* vendor;
};

/// Searched as substrings of the release line; every entry is tried and the
/// last match wins.
const vendor_entry vendors[] = {
    {"Debian", "Software in the Public Interest, Inc."},
    {"Red Hat", "Red Hat, Inc."},
    {"SuSE", "SuSE Linux AG"},
    {"TurboLinux", "TurboLinux, Inc."},
    {"Caldera", "Caldera Systems, Inc."},
    {"Mandrake", "MandrakeSoft, S.A."},
    {"Slackware", "Slackware Linux, Inc."},
};

/// The value of an os-release assignment without its shell quoting:
/// "a \"b\"" gives a "b", 'x' gives x, a bare word stays as it is.
void unquote_value(const char* in, char* out, int size) {
  int n = 0;
  char quote = (*in == '"' || *in == '\'') ? *in++ : '\0';
  for (; *in && n < size - 1; ++in) {
    if (quote && *in == quote) break;
    if (quote == '"' && *in == '\\' && in[1]) ++in;
    out[n++] = *in;
  }
  out[n] = '\0';
  if (!quote) {  // a bare value ends at trailing blanks
    while (n > 0 && (out[n - 1] == ' ' || out[n - 1] == '\t')) out[--n] = '\0';
  }
}

/// First line of a small kernel file under the system root, or "Unknown".
std::string kernel_file(const char* path) {
  FILE* f = sys_fopen_bounded(path, 4096);
  std::string line;
  if (!f) return "Unknown";
  bool got = read_line(f, line, 255);
  fclose(f);
  return got && !line.empty() ? line : "Unknown";
}

/// Reads the os-release assignments this program uses from one file.
bool read_os_release_file(const char* path, os_release_info& out) {
  FILE* f = sys_fopen_bounded(path);
  if (!f) return false;
  static const struct {
    const char* key;
    std::string os_release_info::*field;
  } keys[] = {{"ID=", &os_release_info::id},
              {"NAME=", &os_release_info::name},
              {"PRETTY_NAME=", &os_release_info::pretty_name},
              {"VERSION_ID=", &os_release_info::version_id},
              {"VERSION=", &os_release_info::version},
              {"VERSION_CODENAME=", &os_release_info::version_codename}};
  std::string line;
  // os-release is a few hundred bytes; a bound keeps a hostile one cheap.
  for (int lines = 0; lines < 512 && read_line(f, line, 511); lines++) {
    for (const auto& k : keys) {
      size_t n = strlen(k.key);
      if (line.compare(0, n, k.key) != 0) continue;
      char value[256];
      unquote_value(line.c_str() + n, value, sizeof value);
      out.*k.field = value;
    }
  }
  fclose(f);
  return true;
}

}  // namespace

kernel_identity get_kernel_identity() {
  kernel_identity k;
  // A replay of a capture of the running machine: what the system call
  // answered there, which no file of the capture holds.
  const auto* kept = replay_lines("uname");
  if (kept && !kept->empty()) {
    const std::vector<std::string>& f = kept->front();
    k.sysname = f[0];
    k.release = f[1];
    k.version = f[2];
    k.nodename = f[3];
    k.machine = f[4];
    k.known = true;
    if (capture_active()) capture_keep_lines("uname", *kept);
    return k;
  }
  if (sysroot_is_set()) {
    k.sysname = kernel_file(platform_path::kernel_ostype);
    k.release = kernel_file(platform_path::kernel_osrelease);
    k.version = kernel_file(platform_path::kernel_version);
    k.nodename = kernel_file(platform_path::kernel_hostname);
    k.machine = "Unknown";
    k.known = true;
    return k;
  }
  struct utsname u;
  if (uname(&u) != 0) {
    print_error("osinfo: uname", errno);
    return k;
  }
  print_hexdump("utsname", &u, static_cast<int>(sizeof u), nullptr);
  k.sysname = u.sysname;
  k.release = u.release;
  k.version = u.version;
  k.nodename = u.nodename;
  k.machine = u.machine;
  k.known = true;
  if (capture_active()) capture_keep_lines("uname", {{k.sysname, k.release, k.version, k.nodename, k.machine}});
  return k;
}

bool read_os_release_info(os_release_info& out) {
  out = os_release_info();
  return read_os_release_file(platform_path::os_release, out) ||
         read_os_release_file(platform_path::usr_lib_os_release, out);
}

bool is_debian_codename(const char* text) {
  bool slash = false;
  for (const char* p = text; *p; p++) {
    if (*p == '/')
      slash = true;
    else if (!(*p >= 'a' && *p <= 'z'))
      return false;
  }
  return slash && text[0] != '/';
}

os_info* os_info::make_os_info() { return new os_info_linux(); }

os_info_linux::os_info_linux() {
  os_info_copy(release, sizeof release, "Unknown");
  detect_distribution();
}

bool os_info_linux::read_release_file(const char* path) {
  printd("Checking %s\n", path);
  FILE* f = sys_fopen_bounded(path);
  if (!f) {
    print_error("\tfailed", errno);
    return false;
  }
  printd("\tsuccess\n");
  std::string line;
  bool got;
  // Blank lines before the name are skipped.
  while ((got = read_line(f, line, sizeof release - 1)) && line.find_first_not_of(" \t\r\f\v") == std::string::npos) {
  }
  fclose(f);
  if (!got) return false;  // an empty file names nothing; try the next
  os_info_copy(release, sizeof release, line.c_str());
  return true;
}

bool os_info_linux::read_os_release(const char* path) {
  printd("Checking %s\n", path);
  FILE* f = sys_fopen_bounded(path);
  if (!f) {
    print_error("\tfailed", errno);
    return false;
  }
  static const char key[] = "PRETTY_NAME=";
  std::string line;
  bool found = false;
  while (!found && read_line(f, line, 511)) {
    if (line.compare(0, sizeof key - 1, key) != 0) continue;
    char value[sizeof release];
    unquote_value(line.c_str() + sizeof key - 1, value, sizeof value);
    if (value[0]) {
      os_info_copy(release, sizeof release, value);
      found = true;
    }
  }
  fclose(f);
  return found;
}

void os_info_linux::detect_distribution() {
  bool found = false;
  for (const char* path : release_files) {
    if (read_release_file(path)) {
      found = true;
      // A derivative of Debian keeps the codename it follows in the Debian
      // file; its own name is in os-release.
      if (path == platform_path::debian_version && is_debian_codename(release)) take_os_release_name();
      break;
    }
  }
  // Newer distributions carry none of the old release files; their
  // os-release still names them.
  if (!found && !read_os_release(platform_path::os_release))
    read_os_release(platform_path::usr_lib_os_release);
  printd("Release found: %s\n", release);
}

void os_info_linux::take_os_release_name() {
  os_release_info info;
  if (!read_os_release_info(info) || info.id.empty() || info.id == "debian") return;
  const std::string& name = !info.pretty_name.empty() ? info.pretty_name : info.name;
  if (!name.empty()) os_info_copy(release, sizeof release, name.c_str());
}

int os_info_linux::get_platform_id() { return 1; }

char* os_info_linux::get_platform_id(char* buf, int size) {
  return os_info_copy(buf, size, "Linux");
}

char* os_info_linux::get_vendor(char* buf, int size) {
  const char* vendor = "Unknown";
  for (const vendor_entry& e : vendors)
    if (strstr(release, e.name)) vendor = e.vendor;
  return os_info_copy(buf, size, vendor);
}

char* os_info_linux::get_name(char* buf, int size) { return os_info_copy(buf, size, release); }

char* os_info_linux::get_version(char* buf, int size) {
  kernel_identity k = get_kernel_identity();
  if (!k.known || (k.release == "Unknown" && k.version == "Unknown")) return os_info_copy(buf, size, "Unknown");
  if (buf && size > 0) snprintf(buf, static_cast<size_t>(size), "%s %s", k.release.c_str(), k.version.c_str());
  return buf;
}

char* os_info_linux::get_build(char* buf, int size) { return os_info_copy(buf, size, ""); }

char* os_info_linux::get_service_level(char* buf, int size) { return os_info_copy(buf, size, ""); }
