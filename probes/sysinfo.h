// sysinfo.h - the identity of the computer and of its operating system in one
// place (node name, hardware vendor, model, serial number, UUID, current user,
// kernel and distribution), for the file name macros, the identification
// block and the system summary.
#pragma once

#include <string>

/// Size of each buffer check_files fills (vendor, name and release).
const int SYSINFO_DIST_TEXT_SIZE = 256;

class SysInfo {
 public:
  /// The program-wide object; null until first made.
  static SysInfo* instance;
  /// SysInfo::instance, made (and everything gathered) on the first call.
  static SysInfo* get();
  /// The same as get().
  static SysInfo* get_instance() { return get(); }
  /// Deletes the program-wide object so the next get() gathers afresh (tests
  /// that change the system root between cases).
  static void reset();

  /// Gathers everything, in this order: BIOS VPD, SMBIOS (the VPD wins for
  /// vendor, model and serial; the UUID always comes from SMBIOS), uname,
  /// then the distribution's release files.
  SysInfo();
  SysInfo(const SysInfo&) = delete;
  SysInfo& operator=(const SysInfo&) = delete;

  // Texts live in the object until the next setter call or its deletion.
  const char* NodeName() const { return node_name.c_str(); }
  /// The login name of the process's real user, read on each call.
  const char* CurrentUser();
  const char* OSName() const { return os_name.c_str(); }
  /// Kernel release, a blank and the kernel version in parentheses.
  const char* OSVersion() const { return os_version.c_str(); }
  /// The machine (hardware) name from uname.
  const char* OSCSD() const { return os_csd.c_str(); }
  /// The distribution's release line.
  const char* OSBuild() const { return os_build.c_str(); }
  /// "Linux (distribution name)".
  const char* OSType() const { return os_type.c_str(); }
  /// The distribution's vendor.
  const char* OSOEM() const { return os_oem.c_str(); }
  const char* OEM() const { return vendor.c_str(); }
  const char* Serial() const { return serial.c_str(); }
  const char* Model() const { return model.c_str(); }
  const char* UUID() const { return uuid.c_str(); }

  // Each setter keeps a copy without leading and trailing white space and
  // "_" (null counts as empty); an empty vendor, model or serial becomes
  // "Unknown", an empty UUID stays empty.
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

/// The first line of the platform file `path` that holds more than white
/// space, without its line end and trailing white space, at most 255
/// characters, into `out` (SYSINFO_DIST_TEXT_SIZE bytes; "" when nothing).
/// Returns its length, 0 for a file without such a line, -1 when the file
/// cannot be opened.
int get_dist(const char* path, char* out);
/// 4, 5 or 6 when the release text starts with "Caldera", "Mandrake" or
/// "Slackware" (the distribution's row in the table of check_files), else -1.
int dist_check(const char* release);
/// The distribution's vendor, name and release from the first release file
/// present under the system root; each buffer holds SYSINFO_DIST_TEXT_SIZE
/// bytes. No file: "Unknown", "generic", "Unknown".
void check_files(char* vendor, char* name, char* release);
