// sysinfo.h - the identity of the computer and its operating system in one
// place: node name, hardware vendor, model, serial number, UUID, current
// user, kernel and distribution. Used by the file name macros, the
// identification block and the system summary.
#pragma once

#include <string>

/// Sizes of the buffers check_files fills.
const int SYSINFO_VENDOR_SIZE = 64;
const int SYSINFO_NAME_SIZE = 64;
const int SYSINFO_RELEASE_SIZE = 256;

class SysInfo {
 public:
  /// The program's shared object; null until first made.
  static SysInfo* instance;
  /// SysInfo::instance, made on the first call.
  static SysInfo* get_instance();

  /// Gathers everything: BIOS VPD, then SMBIOS, uname and the distribution.
  SysInfo();
  SysInfo(const SysInfo&) = delete;
  SysInfo& operator=(const SysInfo&) = delete;

  const char* NodeName() const { return node_name.c_str(); }
  /// The login name of the process's real user, read on each call.
  const char* CurrentUser();
  const char* OSName() const { return os_name.c_str(); }
  const char* OSVersion() const { return os_version.c_str(); }
  const char* OSCSD() const { return os_csd.c_str(); }
  const char* OSBuild() const { return os_build.c_str(); }
  const char* OSType() const { return os_type.c_str(); }
  const char* OSOEM() const { return os_oem.c_str(); }
  const char* OEM() const { return vendor.c_str(); }
  const char* Serial() const { return serial.c_str(); }
  const char* Model() const { return model.c_str(); }
  const char* UUID() const { return uuid.c_str(); }

  // Each setter keeps a copy without leading and trailing white space and
  // "_"; an empty vendor, model or serial becomes "Unknown".
  void set_vendor(const char* text);
  void set_model(const char* text);
  void set_serial(const char* text);
  void set_uuid(const char* text);

 private:
  std::string node_name;
  std::string current_user;
  std::string os_name;
  std::string os_version;
  std::string os_csd;
  std::string os_build;
  std::string os_type;
  std::string os_oem;
  std::string vendor;
  std::string serial;
  std::string model;
  std::string uuid;

  void read_hardware();
  void read_uname();
  void read_distribution();
};

/// The first non-empty line of a platform file (at most 255 characters)
/// into `out` (SYSINFO_RELEASE_SIZE bytes); true when a line was read.
bool get_dist(const char* path, char* out);
/// Index 4, 5 or 6 of the distribution whose name starts the release text
/// ("Caldera", "Mandrake", "Slackware"), or -1.
int dist_check(const char* release);
/// The distribution's vendor, name and release from the first release file
/// found under the system root; buffers of the SYSINFO_*_SIZE sizes.
void check_files(char* vendor, char* name, char* release);
