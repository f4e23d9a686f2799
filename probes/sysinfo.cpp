// sysinfo.cpp - gathers the computer's and the operating system's identity
// once per run: BIOS VPD and SMBIOS for the hardware, uname for the kernel,
// the release files for the distribution.
#include "sysinfo.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "capture.h"
#include "debug.h"
#include "dmi.h"
#include "osinfo.h"
#include "platform_paths.h"
#include "sysroot.h"
#include "util_string.h"
#include "vpd.h"

SysInfo* SysInfo::instance = nullptr;

namespace {

const char unknown[] = "Unknown";
const char generic[] = "generic";

// One known distribution: the release file that names it (rows 4..6 share
// /etc/issue and are told apart by the start of its first line).
struct distribution {
  const char* file;
  const char* name;
  const char* vendor;
};

const distribution distributions[] = {
    {platform_path::debian_version, "Debian", "Debian"},
    {platform_path::redhat_release, "Red Hat", "Red Hat, Inc."},
    {platform_path::suse_release, "SuSE", "SuSE Linux AG"},
    {platform_path::turbolinux_release, "TurboLinux", "TurboLinux, Inc."},
    {platform_path::issue, "Caldera", "Caldera Systems, Inc."},
    {platform_path::issue, "Mandrake", "MandrakeSoft, S.A."},
    {platform_path::issue, "Slackware", "Slackware Linux, Inc."},
};
// Release files looked for, in this order; the last is the generic one.
const int release_file_count = 5;
const int issue_index = 4;

void copy_text(char* out, const char* text) {
  snprintf(out, SYSINFO_DIST_TEXT_SIZE, "%s", text);
}

bool blank_line(const std::string& line) {
  for (unsigned char c : line)
    if (!isspace(c)) return false;
  return true;
}

// The cleaned copy every setter keeps: no white space or "_" at either end.
std::string cleaned(const char* text, const char* when_empty) {
  std::string s = text ? text : "";
  const char* strip = " \t\n\r\f\v_";
  size_t begin = s.find_first_not_of(strip);
  if (begin == std::string::npos) return when_empty;
  size_t end = s.find_last_not_of(strip);
  return s.substr(begin, end - begin + 1);
}

}  // namespace

int get_dist(const char* path, char* out) {
  if (!out) return -1;
  out[0] = 0;
  FILE* f = sys_fopen_bounded(path);
  if (!f) return -1;
  std::string line;
  int length = 0;
  while (read_line(f, line, SYSINFO_DIST_TEXT_SIZE - 1)) {
    if (blank_line(line)) continue;
    size_t end = line.find_last_not_of(" \t\r\f\v");
    line.resize(end + 1);
    copy_text(out, line.c_str());
    length = static_cast<int>(strlen(out));
    break;
  }
  fclose(f);
  return length;
}

int dist_check(const char* release) {
  if (!release) return -1;
  for (int i = issue_index; i < static_cast<int>(sizeof distributions / sizeof distributions[0]); i++) {
    const char* name = distributions[i].name;
    if (strncmp(release, name, strlen(name)) == 0) return i;
  }
  return -1;
}

void check_files(char* vendor, char* name, char* release) {
  int k = 0;
  while (k < release_file_count && sys_access(distributions[k].file, F_OK) != 0) k++;
  if (k == release_file_count) {
    copy_text(vendor, unknown);
    copy_text(name, generic);
    copy_text(release, unknown);
    return;
  }
  if (get_dist(distributions[k].file, release) <= 0) {
    copy_text(release, unknown);
    if (k == issue_index) {
      copy_text(vendor, unknown);
      copy_text(name, generic);
      return;
    }
  } else if (k == issue_index) {
    k = dist_check(release);
    if (k < 0) {
      // An issue text of a distribution not known here says nothing
      // reliable about its vendor or release.
      copy_text(vendor, unknown);
      copy_text(name, generic);
      copy_text(release, unknown);
      return;
    }
  }
  copy_text(vendor, distributions[k].vendor);
  copy_text(name, distributions[k].name);
}

SysInfo* SysInfo::get() {
  if (!instance) instance = new SysInfo();
  return instance;
}

void SysInfo::reset() {
  delete instance;
  instance = nullptr;
}

SysInfo::SysInfo()
    : node_name(unknown),
      os_name("Linux"),
      os_version(unknown),
      os_csd(unknown),
      os_build(unknown),
      vendor(unknown),
      serial(unknown),
      model(unknown),
      uuid(unknown) {
  read_hardware();
  read_uname();
  read_distribution();
}

void SysInfo::read_hardware() {
  Vpd vpd;
  printd("sysinfo: pvpd = %p\n", static_cast<void*>(&vpd));
  bool from_vpd = vpd.init();
  if (from_vpd) {
    set_vendor(vpd.get_make());
    set_model(vpd.get_model());
    set_serial(vpd.get_serial_number());
  }
  Dmi* dmi = Dmi::get_instance();
  printd("sysinfo: pdmi = %p\n", static_cast<void*>(dmi));
  set_uuid(dmi->get_uuid());
  if (!from_vpd) {
    set_vendor(dmi->get_make());
    set_model(dmi->get_model());
    set_serial(dmi->get_serial_number());
  }
}

void SysInfo::read_uname() {
  kernel_identity k = get_kernel_identity();
  if (!k.known) return;
  node_name = k.nodename;
  os_version = k.release + " (" + k.version + ")";
  os_name = k.sysname;
  os_csd = k.machine;
}

void SysInfo::read_distribution() {
  char dist_vendor[SYSINFO_DIST_TEXT_SIZE];
  char dist_name[SYSINFO_DIST_TEXT_SIZE];
  char release[SYSINFO_DIST_TEXT_SIZE];
  check_files(dist_vendor, dist_name, release);
  // Where the old release files name nothing, or only the Debian codename a
  // derivative follows, the distribution is the one the operating-system
  // table names from os-release.
  os_release_info info;
  bool generic_name = strcmp(dist_name, generic) == 0;
  bool derivative = strcmp(dist_name, "Debian") == 0 && is_debian_codename(release);
  if ((generic_name || derivative) && read_os_release_info(info) &&
      (generic_name || (!info.id.empty() && info.id != "debian"))) {
    char text[SYSINFO_DIST_TEXT_SIZE];
    os_info* os = os_info::get_instance();
    os->get_name(text, sizeof text);
    if (strcmp(text, unknown) != 0) {
      copy_text(dist_name, text);
      copy_text(dist_vendor, os->get_vendor(text, sizeof text));
      copy_text(release, info.version_id.empty() ? unknown : info.version_id.c_str());
    }
  }
  os_oem = dist_vendor;
  os_type = std::string("Linux (") + dist_name + ")";
  os_build = release;
  printd("sysinfo: distribution '%s' by '%s', release '%s'\n", dist_name, dist_vendor, release);
}

const char* SysInfo::CurrentUser() {
  char name[256];
  // The user running the program is no user of a system root's; a replay
  // names the one its capture kept.
  const auto* kept = replay_lines("user");
  if (kept && capture_active()) capture_keep_lines("user", *kept);
  if (kept && !kept->empty())
    current_user = kept->front()[0];
  else
    current_user = sysroot_is_set() ? unknown : get_user_name(name, sizeof name);
  return current_user.c_str();
}

void SysInfo::set_vendor(const char* text) { vendor = cleaned(text, unknown); }
void SysInfo::set_model(const char* text) { model = cleaned(text, unknown); }
void SysInfo::set_serial(const char* text) { serial = cleaned(text, unknown); }
void SysInfo::set_uuid(const char* text) { uuid = cleaned(text, ""); }
