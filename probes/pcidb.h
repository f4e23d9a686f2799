// pcidb.h - vendor, device, revision and subsystem names from the id file
// "pcidb.txt" that ships beside the program.
//
// Records keep the order of the file and their meaning depends on the
// records before them: V vendor, D device of the V above, R revision of the D
// directly above, O subsystem vendor of the current D, S subsystem of the O
// above, X subsystem vendor * 65536 + subsystem id of the current D.
// After the vendors the class list: C base class, U base class * 256 +
// sub-class; they name the codes the built-in class tables leave "Unknown".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

class pci_database {
 public:
  /// The program-wide database; null until made.
  static pci_database* instance;
  /// The instance, made and loaded on the first call.
  static pci_database* get_instance();
  /// Deletes the instance (tests that load another file).
  static void reset();

  pci_database() = default;
  pci_database(const pci_database&) = delete;
  pci_database& operator=(const pci_database&) = delete;

  /// "pcidb.txt" of the current directory, else of the program's directory.
  int load();
  /// Reads one file in place of what was loaded; returns the record count.
  int load(const char* path);
  /// Parses the text of an id file in place of what was loaded.
  int load_text(const char* data, size_t size);

  // Record indexes; -1: not found.
  int get_vendor(unsigned vendor) const;
  int get_device(unsigned vendor, unsigned device, unsigned revision) const;
  int get_subsys_vendor(unsigned vendor, unsigned subsys_vendor, unsigned subsys_id) const;
  int get_subsys_device(unsigned vendor, unsigned device, unsigned revision, unsigned subsys_vendor,
                        unsigned subsys_id) const;

  // Names of the records found, or "Unknown"; the text belongs to the database.
  const char* get_vendor_name(unsigned vendor) const;
  const char* get_device_name(unsigned vendor, unsigned device, unsigned revision) const;
  const char* get_subsys_vendor_name(unsigned vendor, unsigned subsys_vendor, unsigned subsys_id) const;
  const char* get_subsys_device_name(unsigned vendor, unsigned device, unsigned revision,
                                     unsigned subsys_vendor, unsigned subsys_id) const;
  // The same converted from UTF-8 into a caller's buffer of `size` characters.
  wchar_t* get_vendor_name(wchar_t* out, unsigned size, unsigned vendor) const;
  wchar_t* get_device_name(wchar_t* out, unsigned size, unsigned vendor, unsigned device,
                           unsigned revision) const;
  wchar_t* get_subsys_vendor_name(wchar_t* out, unsigned size, unsigned vendor, unsigned subsys_vendor,
                                  unsigned subsys_id) const;
  wchar_t* get_subsys_device_name(wchar_t* out, unsigned size, unsigned vendor, unsigned device,
                                  unsigned revision, unsigned subsys_vendor, unsigned subsys_id) const;

  /// Name of a base class or of base class * 256 + sub-class from the class
  /// list; null when the file has none.
  const char* get_class_name(unsigned base_class) const;
  const char* get_sub_class_name(unsigned code) const;

  int get_record_count() const { return record_count; }
  /// Longest name plus its terminator; at least 8.
  int get_longest_name() const { return longest_name; }
  char get_type(int index) const { return valid(index) ? types[index] : 0; }
  uint32_t get_id(int index) const { return valid(index) ? ids[index] : 0; }
  const char* get_name(int index) const { return valid(index) ? arena.data() + name_at[index] : nullptr; }

 private:
  bool valid(int index) const { return index >= 0 && index < record_count; }
  const char* name_or_unknown(int index) const;

  std::vector<char> types;
  std::vector<uint32_t> ids;
  std::vector<size_t> name_at;  ///< offsets into the arena of NUL-terminated names
  std::vector<char> arena;
  int record_count = 0;
  int longest_name = 8;
  /// First V record of each vendor id: the answer of a scan from the start.
  std::unordered_map<uint32_t, int> first_vendor;
  /// First C (key 0x10000 + base class) and U (key: the 16-bit code) records.
  std::unordered_map<uint32_t, int> class_names;
};
