// osinfo.h - what operating system this is: the platform identifier every
// task checks, and the distribution's name, vendor and version for the report.
#pragma once

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

  char release[128];
};

/// Copies text into buf as far as size - 1 characters hold; returns buf
/// (null or size < 1: nothing is written).
char* os_info_copy(char* buf, int size, const char* text);
