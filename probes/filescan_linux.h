// filescan_linux.h - the directory scanner on Linux: readdir and fstatat
// under the system root, one open directory at a time.
#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "filescan.h"

class filescan_linux : public filescan {
 public:
  filescan_linux();
  ~filescan_linux() override;

  void add_directory_to_scan(const char* path) override;
  void add_path_to_scan(const char* paths) override;
  void set_filter(const char* patterns) override;
  void set_ignore_filter(const char* patterns) override;
  void set_perm_mask(int mask) override;
  void set_perm_check(int check) override;
  bool next() override;
  char* get_filename(char* out, int size) override;
  char* get_path(char* out, int size) override;
  char* get_full_pathname(char* out, int size) override;
  char* get_create_time(char* out, int size) override;
  char* get_last_access_time(char* out, int size) override;
  char* get_last_write_time(char* out, int size) override;
  char* get_file_size(char* out, int size) override;
  bool file_exists(const char* directory, const char* pattern) override;
  char* get_permissions(char* out, int size) override;
  char* get_user_id(char* out, int size) override;
  char* get_group_id(char* out, int size) override;

 private:
  /// The device and inode of a directory, in full 64-bit width.
  struct inode {
    uint64_t device;
    uint64_t number;
    bool operator==(const inode& o) const { return device == o.device && number == o.number; }
  };
  struct inode_hash {
    size_t operator()(const inode& i) const {
      return static_cast<size_t>(i.number * 0x9E3779B97F4A7C15ull ^ i.device);
    }
  };

  bool read_file_data();
  bool next_file();
  bool next_directory();
  bool add_if_directory();
  void close_directory();
  /// Path, "/" unless the path ends with one, name; false when it does not fit.
  bool build_full_name(char* out, size_t size) const;
  char* format_time(time_t t, char* out, int size);
  const std::string& user_name(uid_t uid);
  const std::string& group_name(gid_t gid);

  DIR* dir;
  struct {
    char name[FILESCAN_NAME_MAX + 1];
    time_t change_time;
    time_t access_time;
    time_t write_time;
    uint64_t size;
    bool is_directory;
    int permissions;
    uint64_t device;
    uint64_t inode_number;
    mode_t mode;
    uid_t uid;
    gid_t gid;
  } entry;
  std::unordered_set<inode, inode_hash> visited;
  int perm_mask;
  int perm_check;
  str_list* ignore;
  int this_year;
  bool have_last_time = false;
  time_t last_time = 0;
  char last_text[32] = {};
  std::unordered_map<uid_t, std::string> user_names;
  std::unordered_map<gid_t, std::string> group_names;
};
