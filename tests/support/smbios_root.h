// smbios_root.h - building SMBIOS tables and machine roots for the tests:
// structures by hand, entry points with correct checksums, a 1 MiB physical
// memory image and the kernel's table files under a temporary system root.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dmi.h"
#include "harness.h"

namespace smbios_test {

using bytes = std::vector<unsigned char>;

/// A table put together structure by structure.
class table_builder {
 public:
  /// Appends a structure: type, the formatted bytes after the 4-byte header
  /// (the length byte and handle are filled in), then its strings and the
  /// double zero. With no strings the string set is 00 00.
  table_builder& add(unsigned char type, const bytes& fields, const std::vector<std::string>& strings = {});
  /// Appends raw bytes (for broken structures).
  table_builder& raw(const bytes& b);
  /// Appends the end-of-table structure (type 127).
  table_builder& end();
  const bytes& data() const { return table; }

 private:
  bytes table;
  uint16_t next_handle = 0;
};

/// A dump: entry point (0x1F bytes "_SM_"/"_DMI_" or 0x18 bytes "_SM3_") and table.
struct dump {
  bytes entry;
  bytes table;
};

/// A 32-bit entry point naming a table of `length` bytes at `address`.
bytes entry_point_32(uint16_t length, uint32_t address, unsigned char bcd_revision, uint16_t count = 0);
/// Rewrites the table address of a 32-bit entry point and fixes both checksums.
void relocate_entry_point(bytes& entry, uint32_t address);

/// The folder of a captured machine under tests/fixtures/machines.
std::string machine_fixture_dir(const std::string& machine);
/// Loads a captured machine ("dump-bin" layout, or a raw table given an
/// entry point made here); false when the folder is absent.
bool load_machine(const std::string& machine, dump& out);
/// Loads a dump-bin file (entry point at 0, table at 0x20).
bool load_dump_file(const std::string& path, dump& out);

/// A machine root: a fresh directory removed with its content.
class temp_root : public zvtest::temp_dir {
 public:
  /// Writes root/relative, creating directories on the way.
  bool write(const std::string& relative, const bytes& content) const;
  bool write(const std::string& relative, const std::string& content) const;
};

/// Physical memory image: 1 MiB of zeroes with pieces placed at addresses.
class memory_image {
 public:
  memory_image() : mem(1u << 20, 0) {}
  void put(uint32_t address, const bytes& b);
  /// The entry point at `entry_address` (16-byte aligned, in 0xF0000-0xFFFFF)
  /// and the table at `table_address`, the entry rewritten to name it.
  void put_dump(const dump& d, uint32_t entry_address, uint32_t table_address);
  bool save(const temp_root& root) const;
  bytes mem;
};

/// A hand-built table of tests/fixtures/smbios/ ("name.bin").
dump committed_dump(const std::string& name);
/// A dump of the table with a 32-bit entry point of this revision.
dump dump_of(const bytes& table, unsigned char revision = 0x27);
/// Initialises a table object from the dump as the kernel's files would.
bool init_from_dump(Dmi& dmi, const dump& d);

/// A BIOS VPD block: signature, 8 unused bytes, then the fixed-width texts
/// (cut or padded with zero bytes).
bytes bios_vpd_block(const std::string& bios, const std::string& serial, const std::string& board,
                const std::string& model);

/// Path of a file in tests/fixtures/smbios/.
std::string hand_built_path(const std::string& file);
/// The whole content of a file (empty when it cannot be read).
bytes read_bytes(const std::string& path);

/// Writes the kernel's entry point and table files under the root.
bool write_sysfs_tables(const temp_root& root, const dump& d);

/// The data rows of the table titled `title` in a text-form report, each as
/// its trimmed cells; empty when there is no such table.
std::vector<std::vector<std::string>> text_table(const std::string& report, const std::string& title);

/// Sets the system root for the life of the object, then back to "/".
class scoped_sysroot {
 public:
  explicit scoped_sysroot(const temp_root& root);
  ~scoped_sysroot();
};

}  // namespace smbios_test
