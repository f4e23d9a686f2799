// sysinfo.cpp - gathers the computer's identity: BIOS VPD before SMBIOS for
// vendor, model and serial number; uname; the distribution's release file.
#include "sysinfo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

#include "debug.h"
#include "dmi.h"
#include "platform_paths.h"
#include "sysroot.h"
#include "util_string.h"
#include "vpd.h"

SysInfo* SysInfo::instance = nullptr;

namespace {

const char UNKNOWN[] = "Unknown";

/// The release files in the order they are looked for, with the
/// distribution each names; rows 4..6 are told apart by the text of
/// the last file.
struct distribution {
  const char* file;
  const char* name;
  const char* vendor;
};

const distribution DISTRIBUTIONS[] = {
    {platform_path::debian_version, "Debian", "Debian"},
    {platform_path::redhat_release, "Red Hat", "Red Hat, Inc."},
    {platform_path::suse_release, "SuSE", "SuSE Linux AG"},
    {platform_path::turbolinux_release, "TurboLinux", "TurboLinux, Inc."},
    {platform_path::issue, "Caldera", "Caldera Systems, Inc."},
    {nullptr, "Mandrake", "MandrakeSoft, S.A."},
    {nullptr, "Slackware", "Slackware Linux, Inc."},
};
const int ISSUE = 4;

std::string cleaned(const char* text) {
  std::vector<char> copy(text ? strlen(text) + 1 : 1, 0);
  if (text) memcpy(copy.data(), text, copy.size());
  trim_string(copy.data(), "_");
  return copy.data();
}

}  // namespace

SysInfo* SysInfo::get_instance() {
  if (!instance) instance = new SysInfo();
  return instance;
}

SysInfo::SysInfo()
    : node_name(UNKNOWN), os_name("Linux"), os_version(UNKNOWN), os_csd(UNKNOWN), os_build(UNKNOWN),
      vendor(UNKNOWN), serial(UNKNOWN), model(UNKNOWN), uuid(UNKNOWN) {
  read_hardware();
  read_uname();
  read_distribution();
}

void SysInfo::read_hardware() {
  Vpd vpd;
  printd("sysinfo: pvpd = %p\n", (void*)&vpd);
  bool from_vpd = vpd.init();
  if (from_vpd) {
    set_vendor(vpd.get_make());
    set_model(vpd.get_model());
    set_serial(vpd.get_serial_number());
  }
  Dmi* dmi = Dmi::get_instance();
  printd("sysinfo: pdmi = %p\n", (void*)dmi);
  set_uuid(dmi->get_uuid());
  if (!from_vpd) {
    set_vendor(dmi->get_make());
    set_model(dmi->get_model());
    set_serial(dmi->get_serial_number());
  }
}

void SysInfo::read_uname() {
  struct utsname name;
  if (uname(&name) != 0) {
    print_error("sysinfo: uname", errno);
    return;
  }
  node_name = name.nodename;
  os_version = std::string(name.release) + " (" + name.version + ")";
  os_name = name.sysname;
  os_csd = name.machine;
}

void SysInfo::read_distribution() {
  char dist_vendor[SYSINFO_VENDOR_SIZE];
  char dist_name[SYSINFO_NAME_SIZE];
  char release[SYSINFO_RELEASE_SIZE];
  check_files(dist_vendor, dist_name, release);
  os_oem = dist_vendor;
  os_type = std::string("Linux (") + dist_name + ")";
  os_build = release;
}

const char* SysInfo::CurrentUser() {
  char name[256] = "";
  get_user_name(name, sizeof name);
  current_user = name;
  return current_user.c_str();
}

void SysInfo::set_vendor(const char* text) {
  vendor = cleaned(text);
  if (vendor.empty()) vendor = UNKNOWN;
}

void SysInfo::set_model(const char* text) {
  model = cleaned(text);
  if (model.empty()) model = UNKNOWN;
}

void SysInfo::set_serial(const char* text) {
  serial = cleaned(text);
  if (serial.empty()) serial = UNKNOWN;
}

void SysInfo::set_uuid(const char* text) { uuid = cleaned(text); }

bool get_dist(const char* path, char* out) {
  out[0] = 0;
  FILE* f = sys_fopen(path, "r");
  if (!f) {
    print_error(path, errno);
    return false;
  }
  char line[SYSINFO_RELEASE_SIZE];
  bool found = false;
  while (!found && fgets(line, sizeof line, f)) {
    bool whole = strchr(line, '\n') != nullptr;
    line[strcspn(line, "\r\n")] = 0;
    if (line[0]) {
      snprintf(out, SYSINFO_RELEASE_SIZE, "%s", line);
      found = true;
    }
    // The rest of an overlong line is not another line.
    int c = 0;
    while (!whole && (c = fgetc(f)) != EOF && c != '\n') {
    }
  }
  if (!found) printd("sysinfo: no line read from %s\n", path);
  fclose(f);
  return found;
}

int dist_check(const char* release) {
  for (int i = ISSUE; i < (int)(sizeof DISTRIBUTIONS / sizeof DISTRIBUTIONS[0]); i++) {
    const char* name = DISTRIBUTIONS[i].name;
    if (strncmp(release, name, strlen(name)) == 0) return i;
  }
  return -1;
}

void check_files(char* vendor, char* name, char* release) {
  int k = 0;
  while (k <= ISSUE && sys_access(DISTRIBUTIONS[k].file, F_OK) != 0) k++;
  if (k > ISSUE) {
    snprintf(vendor, SYSINFO_VENDOR_SIZE, "%s", UNKNOWN);
    snprintf(name, SYSINFO_NAME_SIZE, "generic");
    snprintf(release, SYSINFO_RELEASE_SIZE, "%s", UNKNOWN);
    return;
  }
  printd("sysinfo: distribution file %s\n", DISTRIBUTIONS[k].file);
  bool read = get_dist(DISTRIBUTIONS[k].file, release);
  if (!read) snprintf(release, SYSINFO_RELEASE_SIZE, "%s", UNKNOWN);
  if (k == ISSUE) {
    int index = read ? dist_check(release) : -1;
    if (index < 0) {
      // An issue text of no known distribution says nothing certain.
      snprintf(vendor, SYSINFO_VENDOR_SIZE, "%s", UNKNOWN);
      snprintf(name, SYSINFO_NAME_SIZE, "generic");
      snprintf(release, SYSINFO_RELEASE_SIZE, "%s", UNKNOWN);
      return;
    }
    k = index;
  }
  snprintf(vendor, SYSINFO_VENDOR_SIZE, "%s", DISTRIBUTIONS[k].vendor);
  snprintf(name, SYSINFO_NAME_SIZE, "%s", DISTRIBUTIONS[k].name);
}
