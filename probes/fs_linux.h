// fs_linux.h - mounted file systems with their capacity, and the disk
// partitions known to the kernel with their file-system properties.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "probe.h"

struct statvfs;

/// True for the pseudo file-system types that are not reported.
bool is_excluded(const char* type);
/// True for the kernel's pseudo file systems of today that never hold data
/// (sysfs, cgroup, nsfs, ...): left out like those of is_excluded, also where
/// their statistics cannot be read (under a system root).
bool is_pseudo_filesystem(const char* type);
/// count x unit, 64 bits.
uint64_t size_in_bytes(uint64_t count, uint64_t unit);

/// Total, free and used bytes of a file system's statistics. The unit is the
/// fragment size, or the block size when that is 0; free counts the blocks
/// reserved for the superuser too.
struct filesystem_space {
  uint64_t total = 0, free = 0, used = 0;
  uint64_t available = 0;  ///< free to unprivileged users, as df shows it
};
filesystem_space space_of(const struct statvfs& st);
/// A size in the form of calculate_storage_capacity (units of 1024), for
/// any 64-bit size.
std::string capacity_text(uint64_t bytes);

/// Writes the "Mounted Filesystems" table from the mount table; 1 when an
/// entry was read, 0 when none (or the table cannot be opened).
int get_mounted_filesystems(FILE* report);
int get_filesystem_information(FILE* report);

/// One partition and what the file-system tuning tool says of it.
struct partition_record {
  char name[64];
  long long blocks;
  int major, minor;
  char features[1024];
  char state[16];
  char errors[64];
  char last_mount[64];
  int mount_count, max_mount_count, block_size, inode_size;
};
void clear_partition(partition_record& p);
/// Reads "major minor #blocks name" into the record; false for a heading,
/// blank or malformed line.
bool parse_partition_line(const std::string& line, partition_record& p);
/// True for a name that may stand after /dev/ in a command: letters,
/// digits and ". _ - + : !", not "." or "..", not starting with "-".
bool valid_partition_name(const char* name);
/// Sets the field a line of "tune2fs -l" output names, if any.
void parse_tune2fs_line(const std::string& line, partition_record& p);
/// Writes the "Partition Details" table.
void get_partition_details(FILE* report);

/// "Mounted Filesystems" of the group "Partition Information".
class disk_probe : public probe {
 public:
  explicit disk_probe(probe_group* group);
  bool run(FILE* report) override;
};

/// "Partition Information" of the group "Partition Information".
class partition_probe : public probe {
 public:
  explicit partition_probe(probe_group* group);
  bool run(FILE* report) override;
};
