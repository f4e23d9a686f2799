// scsi_fuzz.cpp - the INQUIRY, unit serial number, READ CAPACITY and MODE
// SENSE answer decoders and the generic driver's reply header on arbitrary
// bytes and lengths.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "scsi.h"
#include "scsi_linux.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Every decoder sees the input in an exact-size copy, so a read past the
  // answer is caught; the first byte chooses the caller's buffer size.
  std::vector<unsigned char> answer(data, data + size);
  const unsigned char* a = answer.empty() ? nullptr : answer.data();
  int length = static_cast<int>(answer.size());
  int out_size = size ? data[0] % 40 + 1 : 1;
  std::vector<char> out(static_cast<size_t>(out_size));

  int n = scsi_decode_serial(a, length, a, length / 2, out.data(), out_size);
  if (n >= out_size || strlen(out.data()) >= static_cast<size_t>(out_size)) abort();
  if (n > 0 && n > length - 4) abort();
  scsi_inquiry_text(a, length, 8, 8, out.data(), out_size);
  scsi_inquiry_text(a, length, 16, 16, out.data(), out_size);
  if (strlen(out.data()) >= static_cast<size_t>(out_size)) abort();

  uint32_t last32, block;
  uint64_t last64;
  scsi_decode_capacity10(a, length, &last32, &block);
  scsi_decode_capacity16(a, length, &last64, &block);
  unsigned caps;
  if (scsi_decode_mode_sense(a, length, &caps) != 0 && caps != 0) abort();
  if (caps > 0xFFFF) abort();
  if (size >= SG_HEADER_SIZE) sg_status_ok(sg_parse_reply(a));
  return 0;
}
