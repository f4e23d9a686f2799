// filescan.h - the directory scanner: a depth-first walk over one or more
// directory trees that delivers every entry passing a name filter, an ignore
// filter and a permission test, with the entry's status.
//
// Directories are descended, not delivered, unless they are reached a second
// time (through a symbolic link): the walk remembers every directory it has
// queued by device and inode and never queues one twice, so links cannot make
// it loop. Paths are platform paths: they are opened under the system root.
// The scanner never reads the content of a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class str_list;

/// Longest directory path kept, and longest entry name.
constexpr int FILESCAN_PATH_MAX = 4096;
constexpr int FILESCAN_NAME_MAX = 255;

/// One directory waiting to be scanned.
struct dentry {
  char path[FILESCAN_PATH_MAX];
  /// True for a starting path (not reached through the walk itself).
  bool start;
  dentry* next;
};

/// The scanner. Made by make_filescan, owned and deleted by the caller.
class filescan {
 public:
  filescan();
  virtual ~filescan();
  filescan(const filescan&) = delete;
  filescan& operator=(const filescan&) = delete;

  /// Queues one directory; "%LocalDrives%" (any case) stands for "/".
  virtual void add_directory_to_scan(const char* path) = 0;
  /// Queues every ";"-separated part in order (the last one is scanned first).
  virtual void add_path_to_scan(const char* paths) = 0;
  /// Replace the name patterns (";"-separated); null leaves them as they are.
  virtual void set_filter(const char* patterns) = 0;
  virtual void set_ignore_filter(const char* patterns) = 0;
  /// Negative mask means 07777, negative check means 0.
  virtual void set_perm_mask(int mask) = 0;
  virtual void set_perm_check(int check) = 0;

  /// Moves to the next entry that passes the filters; false at the end.
  virtual bool next() = 0;

  // Getters of the current entry: write into out (size bytes), return out.
  virtual char* get_filename(char* out, int size) = 0;
  virtual char* get_path(char* out, int size) = 0;
  virtual char* get_full_pathname(char* out, int size) = 0;
  virtual char* get_create_time(char* out, int size) = 0;
  virtual char* get_last_access_time(char* out, int size) = 0;
  virtual char* get_last_write_time(char* out, int size) = 0;
  virtual char* get_file_size(char* out, int size) = 0;
  /// True when directory "/" pattern matches at least one entry (a pattern
  /// without "/" is matched against the directory's names as glob does).
  virtual bool file_exists(const char* directory, const char* pattern) = 0;
  virtual char* get_permissions(char* out, int size) = 0;
  virtual char* get_user_id(char* out, int size) = 0;
  virtual char* get_group_id(char* out, int size) = 0;

  /// Pushes a record on the stack; the stack owns it from then on.
  virtual void add_dentry(dentry* record);

  unsigned get_directories_scanned() const { return directories_scanned; }
  unsigned get_files_scanned() const { return files_scanned; }
  unsigned get_files_found() const { return files_found; }

  /// A directory the scan did not descend into, and why.
  struct stop {
    std::string path, reason;
  };
  /// The first STOPS_KEPT such directories; stops_dropped counts the rest.
  const std::vector<stop>& get_stops() const { return stops; }
  unsigned get_stops_dropped() const { return stops_dropped; }
  static const size_t STOPS_KEPT = 1000;

 protected:
  /// Notes a directory not descended into (also in the debug log).
  void note_stop(const char* path, const char* reason);
  /// Pops the top record (null when empty); the caller owns it.
  dentry* pop_dentry();

  unsigned directories_scanned;
  unsigned files_scanned;
  unsigned files_found;
  char current_path[FILESCAN_PATH_MAX];
  dentry* stack;
  str_list* filter;
  std::vector<stop> stops;
  unsigned stops_dropped = 0;
};

/// A new scanner of this platform: empty stack, no filters, mask 07777, check 0.
filescan* make_filescan();

/// The filter test of one entry: the permission test ((permissions & mask)
/// not 0, and check 0 or equal to the permissions) together with the first
/// name pattern that matches (any name without patterns), then taken away
/// again by any ignore pattern that matches the name. Patterns see the
/// entry's name only. Null lists mean none.
bool match_filters(const char* name, int permissions, str_list* filter, str_list* ignore, int mask,
                   int check);
