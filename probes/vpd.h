// vpd.h - the BIOS vital product data block some machines carry in the BIOS
// segment: machine type-model, box and board serial numbers, BIOS build level.
#pragma once

class Vpd {
 public:
  /// Offsets in the block, from the start of its signature.
  static const unsigned SIGNATURE_LENGTH = 5;
  static const unsigned BLOCK_LENGTH = 47;

  Vpd();

  /// Reads and checks the block on the first call; later calls give the first result.
  bool init();
  /// Test seam: checks the block in a BIOS segment image already read.
  bool init_from_segment(const unsigned char* segment, unsigned long length);
  bool is_valid();

  // Each calls init first; "Unknown" when not valid. The texts live in the object.
  const char* get_make();
  const char* get_model();
  const char* get_serial_number();
  const char* get_motherboard_serial_number();
  const char* get_bios_version();

 private:
  bool valid;
  bool initialised;
  char make[8];
  char model[8];
  char serial_number[8];
  char motherboard_serial_number[12];
  char bios_version[10];

  const char* answer(const char* text);
};
