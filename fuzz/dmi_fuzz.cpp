// dmi_fuzz.cpp - arbitrary bytes as SMBIOS entry point and table, as a BIOS
// segment for the anchor search, the VPD block and the version scan; then
// every query and every printer. The table copy is sized exactly, so any
// read outside it shows.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bios.h"
#include "dmi.h"
#include "dmi_info.h"
#include "table.h"
#include "vpd.h"

namespace {

/// A 32-bit entry point naming a table of `length` bytes, checksums right,
/// so that most inputs reach the structure walk.
std::vector<unsigned char> entry_for(unsigned length, unsigned char revision) {
  std::vector<unsigned char> e(0x1F, 0);
  memcpy(e.data(), "_SM_", 4);
  e[5] = 0x1F;
  memcpy(e.data() + 0x10, "_DMI_", 5);
  e[0x16] = length & 0xFF;
  e[0x17] = (length >> 8) & 0xFF;
  e[0x1E] = revision;
  unsigned char sum = 0;
  for (int i = 0x10; i < 0x1F; i++) sum += e[i];
  e[0x15] = (unsigned char)(0x100 - sum);
  return e;
}

void ask_everything(Dmi& dmi) {
  dmi.get_smbios_revision();
  dmi.get_make();
  dmi.get_model();
  dmi.get_serial_number();
  dmi.get_enclosure_type();
  dmi.get_uuid();
  dmi.get_bios_build();
  dmi.get_bios_date().format();
  dmi.get_checksum();
  for (int slot = 0; slot < 4; slot++) {
    dmi.get_pci_slot_name(slot);
    dmi.is_pci_slot_in_use(slot);
  }
  std::vector<unsigned short> ids(dmi.get_num_structs(9) + 1);
  dmi.get_num_pci_slots(ids.data(), (unsigned)ids.size());
  dmi.get_total_installed_memory();
  dmi.get_num_memory_slots();
  dmi.get_total_memory_capability();
  for (unsigned n = 0; n < 6; n++) {
    dmi.get_installed_memory_size(n);
    dmi.get_installed_memory_type(n);
  }
  for (unsigned type = 0; type <= Dmi::DMI_OTHER_TYPES; type++) {
    for (unsigned i = 0; i < dmi.get_num_structs(type); i++) {
      const unsigned char* s = dmi.get_struct(type, i);
      for (int n = 0; n < 8; n++) dmi.getArchitectedString(n, s);
      dmi.getString(255, s);
    }
  }
}

/// Every printer, into a memory stream in one of the report forms.
void print_everything(Dmi& dmi, unsigned char mode) {
  static const output_format_type formats[] = {OUTPUT_ZVML, OUTPUT_TEXT, OUTPUT_XML, OUTPUT_HTML};
  Table::set_output_format(formats[(mode >> 2) & 3]);
  char* text = nullptr;
  size_t length = 0;
  FILE* out = open_memstream(&text, &length);
  if (!out) return;
  SetupVersion(&dmi);
  print_structures(out, &dmi);
  fclose(out);
  free(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const unsigned char mode = data[0];
  std::vector<unsigned char> input(data + 1, data + size);

  Dmi dmi;
  if (mode & 1) {
    // Entry point and table both from the input.
    size_t split = input.size() < 0x20 ? input.size() : 0x20;
    std::vector<unsigned char> entry(input.begin(), input.begin() + split);
    std::vector<unsigned char> table(input.begin() + split, input.end());
    dmi.init_from_bytes(entry.data(), entry.size(), table.data(), table.size());
  } else {
    unsigned announced = (mode & 2) ? (unsigned)input.size() + mode : (unsigned)input.size();
    std::vector<unsigned char> entry = entry_for(announced, mode);
    dmi.init_from_bytes(entry.data(), entry.size(), input.data(), input.size());
  }
  ask_everything(dmi);
  print_everything(dmi, mode);

  Dmi::find_dmi_header(input.data(), input.size());
  Vpd vpd;
  vpd.init_from_segment(input.data(), input.size());
  vpd.get_model();
  delete[] find_bios_version(input.data(), input.size());
  return 0;
}
