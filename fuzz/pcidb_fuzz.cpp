// pcidb_fuzz.cpp - arbitrary bytes as an id file, then lookups with ids
// taken from the input and from the records themselves.
#include "fuzz_support.h"
#include "pcidb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so any read past the text shows.
  std::vector<char> text(data, data + size);
  pci_database db;
  int count = db.load_text(text.data(), text.size());
  unsigned ids[6] = {0, 0, 0, 0, 0, 0};
  for (size_t i = 0; i < 12 && i < size; i++) ids[i / 2] = ids[i / 2] * 256 + data[i];
  for (int i = 0; i < count && i < 64; i++) {
    if (strlen(db.get_name(i)) + 1 > (size_t)db.get_longest_name()) __builtin_trap();
    ids[i % 6] = db.get_id(i) & 0xFFFF;
    db.get_subsys_device_name(ids[0], ids[1], ids[2] & 0xFF, ids[3], ids[4]);
  }
  wchar_t wide[8];
  db.get_vendor_name(wide, 8, ids[0]);
  db.get_device_name(ids[0], ids[1], ids[2]);
  db.get_subsys_vendor_name(ids[0], ids[3], ids[4]);
  db.get_subsys_device_name(wide, 8, ids[0], ids[1], ids[2], ids[3], ids[5]);
  // Class names: never ending in a CR, never longer than the longest name.
  for (const char* name : {db.get_class_name(ids[0]), db.get_sub_class_name(ids[1])}) {
    size_t n = name ? strlen(name) : 0;
    if (name && (n == 0 || name[n - 1] == '\r' || n + 1 > (size_t)db.get_longest_name())) __builtin_trap();
  }
  return 0;
}
