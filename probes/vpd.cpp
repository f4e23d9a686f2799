// vpd.cpp - reads and checks the BIOS vital product data block.
#include "vpd.h"

#include <cstring>
#include <vector>

#include "debug.h"
#include "dmi.h"
#include "util_string.h"

namespace {

const char UNKNOWN[] = "Unknown";
const unsigned char SIGNATURE[Vpd::SIGNATURE_LENGTH] = {0xAA, 0x55, 'V', 'P', 'D'};

/// Copies a fixed-width text field and terminates it; a zero byte inside the
/// field ends the text early.
void copy_field(char* out, const unsigned char* field, unsigned width) {
  memcpy(out, field, width);
  out[width] = 0;
}

}  // namespace

Vpd::Vpd() : valid(false), initialised(false) {
  make[0] = model[0] = serial_number[0] = motherboard_serial_number[0] = bios_version[0] = 0;
}

bool Vpd::init() {
  if (initialised) return valid;
  std::vector<unsigned char> segment(Dmi::BIOS_SEGMENT_SIZE);
  if (!copy_physical_memory(Dmi::BIOS_SEGMENT, segment.data(), (int)segment.size())) {
    initialised = true;
    return false;
  }
  return init_from_segment(segment.data(), segment.size());
}

bool Vpd::init_from_segment(const unsigned char* segment, unsigned long length) {
  if (initialised) return valid;
  initialised = true;
  const char* hit = FindSequence((char*)segment, length, (char*)SIGNATURE, SIGNATURE_LENGTH);
  if (!hit) return false;
  unsigned long at = (unsigned long)((const unsigned char*)hit - segment);
  // A signature too close to the end of the segment cannot carry a block.
  if (at + BLOCK_LENGTH > length) {
    printd("vpd: signature at 0x000F%04lX leaves no room for the block\n", at);
    return false;
  }
  const unsigned char* block = segment + at;
  printd("vpd: signature found at 0x000F%04lX\n", at);
  print_hexdump("VPD", block, BLOCK_LENGTH, "");
  copy_field(bios_version, block + 13, 9);
  copy_field(serial_number, block + 22, 7);
  copy_field(motherboard_serial_number, block + 29, 11);
  copy_field(model, block + 40, 7);
  strcpy(make, "HALVEX");
  valid = isalnumstr(bios_version) && strlen(serial_number) == 7 && isalnumstr(serial_number) &&
          strlen(model) == 7 && isalnumstr(model);
  printd("vpd: vendor '%s'\n", make);
  printd("vpd: model '%s'\n", model);
  printd("vpd: serial '%s'\n", serial_number);
  printd("vpd: bios '%s'\n", bios_version);
  printd("vpd: motherboard_serial '%s'\n", motherboard_serial_number);
  printd("vpd: valid '%s'\n", valid ? "true" : "false");
  return valid;
}

bool Vpd::is_valid() { return init(); }

const char* Vpd::answer(const char* text) { return init() ? text : UNKNOWN; }

const char* Vpd::get_make() { return answer(make); }
const char* Vpd::get_model() { return answer(model); }
const char* Vpd::get_serial_number() { return answer(serial_number); }
const char* Vpd::get_motherboard_serial_number() { return answer(motherboard_serial_number); }
const char* Vpd::get_bios_version() { return answer(bios_version); }
