// dmi.h - the machine's SMBIOS (DMI) structure table: finding it, keeping a
// private copy, indexing its structures by type, and the questions the rest of
// the program asks of it (identity, BIOS, PCI slots, memory).
//
// Field offsets are those of the SMBIOS (DMTF DSP0134) structures; numbers are
// little-endian as stored. Every read stays inside the table copy: a structure
// is indexed only when its formatted area and string set lie inside the table,
// and no query reads a field beyond a structure's formatted length.
#pragma once

#include <cstdint>
#include <vector>

#include "date.h"

/// Reads `length` bytes of physical memory at `address` into `buffer` through
/// the memory device under the system root (a 1 MiB image file in tests).
/// False, with the reason in the debug log, when anything fails.
bool copy_physical_memory(unsigned long address, void* buffer, int length);

/// The 15-byte intermediate entry point ("_DMI_") as stored.
#pragma pack(push, 1)
struct DmiStructureTableHeader {
  unsigned char anchor[5];
  unsigned char checksum;
  uint16_t table_length;
  uint32_t table_address;
  uint16_t num_structures;
  unsigned char bcd_revision;
};
#pragma pack(pop)
static_assert(sizeof(DmiStructureTableHeader) == 15, "the DMI header is 15 bytes");

class Dmi {
 public:
  /// The program's shared table, created by whichever user needs it first.
  static Dmi* instance;
  /// Dmi::instance, created and initialised on the first call.
  static Dmi* get_instance();

  /// Number of the SMBIOS types indexed one by one (0..39); the types above
  /// are counted together under DMI_OTHER_TYPES.
  static const unsigned DMI_OTHER_TYPES = 40;
  /// Physical base and size of the BIOS segment searched for the anchor.
  static const unsigned long BIOS_SEGMENT = 0xF0000;
  static const unsigned BIOS_SEGMENT_SIZE = 0x10000;

  Dmi();
  ~Dmi();
  Dmi(const Dmi&) = delete;
  Dmi& operator=(const Dmi&) = delete;

  /// Locates, copies and indexes the table on the first call (sysfs tables
  /// first, then the BIOS segment search); later calls give the first result.
  bool init();
  /// Test and fuzz seam: initialises from an entry point ("_SM_" with its
  /// "_DMI_" part, or "_SM3_") and the table bytes, as the sysfs source does.
  bool init_from_bytes(const unsigned char* entry_point, unsigned long entry_length,
                       const unsigned char* table, unsigned long table_length);
  bool is_valid();

  /// The BCD revision (0x23 for 2.3), 0 when not valid.
  int get_smbios_revision();
  /// Structures of `type` (above 39: of all those types together); 0 when not valid.
  unsigned get_num_structs(unsigned type);
  /// The instance-th structure of `type` in table order, or null.
  unsigned char* get_struct(unsigned type, unsigned instance);
  /// Bytes of the table copy (0 when not valid).
  unsigned long get_table_length() const { return table.size(); }

  /// Full length (formatted area and string set) of the structure at `s`,
  /// with `avail` bytes of table from `s` on; 0 when it does not fit (which
  /// ends a walk). A type 5 not followed by 00 00 is taken without strings.
  static unsigned long getLengthOfStructure(const unsigned char* s, unsigned long avail);
  /// Full length of an indexed structure, 0 when `s` is not one.
  unsigned long structure_length(const unsigned char* s) const;

  /// String `n` (from 1) of the structure `s` whose full length is `length`;
  /// "" for 0, for a number beyond the strings present or a string set that
  /// is not terminated inside `length`. Points into the structure.
  static const char* getString(int n, const unsigned char* s, unsigned long length);
  /// String `n` of an indexed structure of this table.
  const char* getString(int n, const unsigned char* s) const;
  /// String `n` with an architected model -[XXXX-YYY]- reduced to XXXX.
  /// Static buffer, overwritten by the next call.
  const char* getArchitectedString(int n, const unsigned char* s) const;
  /// The part of `text` between "-[" and "]-" cut at its first "-", or the
  /// whole text (at most 64 characters); static buffer.
  static const char* architected_text(const char* text);

  /// SMBIOS 7.4.1 chassis type (lock bit ignored).
  static const char* getChassisType(unsigned char value);
  /// SMBIOS 7.7.1 current memory type bits; static buffer.
  static const char* getType06MemoryType(unsigned bits);
  /// SMBIOS 7.18.2 memory device type.
  static const char* getType17MemoryType(unsigned char value);
  /// SMBIOS 7.18.1 memory device form factor.
  static const char* getType17MemoryFormFactor(unsigned char value);

  // Queries. Texts belong to the table or to a static buffer (next call of
  // the same query overwrites it); "Unknown" when nothing fits.
  const char* get_make();
  const char* get_model();
  const char* get_serial_number();
  const char* get_enclosure_type();
  /// 32 lower-case hex digits of the UUID bytes in stored order.
  const char* get_uuid();
  const char* get_bios_build();
  gathered_date get_bios_date();
  /// Designation of the PCI slot with this slot ID, else the number itself.
  const char* get_pci_slot_name(int slot);
  /// Stores the IDs of the PCI slots with a non-zero ID (table order) into
  /// `ids`, at most `capacity` of them, and returns how many were stored;
  /// with null `ids` only counts. get_num_structs(9) entries always suffice.
  int get_num_pci_slots(unsigned short* ids, unsigned capacity);
  bool is_pci_slot_in_use(int slot);
  /// Megabytes installed (type 6, else type 17); 0 when none.
  long long get_total_installed_memory();
  /// Memory device slots (type 16 system memory, else type 5); -1 when not valid.
  int get_num_memory_slots();
  /// Megabytes the board takes; -1 when not valid or unknown.
  long long get_total_memory_capability();
  /// Megabytes of the n-th module or device (from 1); -1 when there is none.
  long long get_installed_memory_size(unsigned n);
  /// Type of the n-th module or device; static buffer.
  const char* get_installed_memory_type(unsigned n);
  /// Weighted sum of the table bytes, a fingerprint of the table.
  uint32_t get_checksum();

  /// Alternative source: the kernel's copy of entry point and table under the
  /// system root. False when absent or not acceptable.
  bool get_sysfs_smbios_table();
  /// The BIOS segment search for the "_DMI_" anchor.
  bool get_table();

  /// Offset in `segment` of the first "_DMI" anchor whose 15 bytes fit and sum
  /// to 0, or -1. Only whole candidates inside the segment are checked.
  static long find_dmi_header(const unsigned char* segment, unsigned long length);

 private:
  struct Entry {
    unsigned char* data;
    unsigned long length;
  };

  bool valid;
  bool initialised;
  DmiStructureTableHeader header;
  std::vector<unsigned char> table;
  uint32_t fingerprint;
  /// Structures of each type 0..39, then of all the types above.
  std::vector<Entry> by_type[DMI_OTHER_TYPES + 1];
  /// Every indexed structure in table order, to find a structure's extent.
  std::vector<Entry> all;

  bool accept_entry_point(const unsigned char* ep, unsigned long length, unsigned long* wanted);
  bool take_table(const unsigned char* bytes, unsigned long length);
  void index_structures();
  const Entry* find_entry(const unsigned char* s) const;
  const Entry* first_of(unsigned type, unsigned min_length);
  const Entry* nth_memory_device(unsigned n, bool* is_module);
};

/// Little-endian 16- and 32-bit fields of a structure.
inline uint16_t dmi_word(const unsigned char* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
inline uint32_t dmi_dword(const unsigned char* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

/// Size in megabytes of a type-17 size word (bit 15: kilobytes), -1 for 0xFFFF.
long long dmi_memory_device_size(unsigned size_word);
/// Size in megabytes of a type-17 structure, from its extended size when the
/// size word says 0x7FFF; -1 when unknown.
long long dmi_memory_device_size(const unsigned char* structure);
