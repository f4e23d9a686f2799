// osinfo.h - what operating system this is: the platform identifier every
// task checks, and the distribution's name, vendor and version for the report.
#pragma once

#include <string>

/// The operating system of the running machine. One program-wide object,
/// made on first use and kept until exit.
class os_info {
 public:
  /// The platform identifier; a task or probe mask applies when it shares a
  /// bit with it (1 on Linux).
  virtual int get_platform_id() = 0;
  /// The platform's name into buf (at most size - 1 characters); returns buf.
  virtual char* get_platform_id(char* buf, int size) = 0;
  /// The maker of the distribution, or "Unknown"; returns buf.
  virtual char* get_vendor(char* buf, int size) = 0;
  /// The distribution's release line; returns buf.
  virtual char* get_name(char* buf, int size) = 0;
  /// The running kernel's release and version; returns buf.
  virtual char* get_version(char* buf, int size) = 0;
  /// Empty on Linux; returns buf.
  virtual char* get_build(char* buf, int size) = 0;
  /// Empty on Linux; returns buf.
  virtual char* get_service_level(char* buf, int size) = 0;
  /// True when mask shares a bit with the platform identifier.
  virtual bool is(int mask);
  virtual ~os_info();

  /// Makes the running platform's implementation (caller owns it).
  static os_info* make_os_info();
  /// The program-wide object; null until first made.
  static os_info* instance;
  /// The program-wide object, made on first use (never null).
  static os_info* get_instance();
};

/// Linux: the distribution comes from the release files under the system root.
class os_info_linux : public os_info {
 public:
  os_info_linux();
  int get_platform_id() override;
  char* get_platform_id(char* buf, int size) override;
  char* get_vendor(char* buf, int size) override;
  char* get_name(char* buf, int size) override;
  char* get_version(char* buf, int size) override;
  char* get_build(char* buf, int size) override;
  char* get_service_level(char* buf, int size) override;

  /// Fills release from the first release file that opens; falls back to the
  /// PRETTY_NAME of os-release, else leaves "Unknown".
  void detect_distribution();

 private:
  bool read_release_file(const char* path);
  bool read_os_release(const char* path);
  void take_os_release_name();

  char release[128];
};

/// The kernel's identity: from uname on the running machine, from the
/// kernel's files under a system root ("Unknown" for each one absent), so a
/// captured machine never shows the live kernel or host name.
struct kernel_identity {
  std::string sysname, release, version, nodename, machine;
  bool known = false;  ///< false when uname failed
};
kernel_identity get_kernel_identity();

/// What os-release says: ID, NAME, PRETTY_NAME, VERSION_ID, VERSION and
/// VERSION_CODENAME, unquoted (empty when absent). False when neither
/// os-release file opens.
struct os_release_info {
  std::string id, name, pretty_name, version_id, version, version_codename;
};
bool read_os_release_info(os_release_info& out);

/// True for a text such as "trixie/sid": the Debian codename that a Debian
/// derivative keeps in its debian_version file instead of a version.
bool is_debian_codename(const char* text);

/// Copies text into buf as far as size - 1 characters hold; returns buf
/// (null or size < 1: nothing is written).
char* os_info_copy(char* buf, int size, const char* text);
