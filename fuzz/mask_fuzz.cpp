// mask_fuzz.cpp - the masking scanner on arbitrary text: no crash, a token is
// never masked again, and the stream form gives what the text form gives.
#include "fuzz_support.h"
#include "mask.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  mask_enable_with_key("fuzz", 4);
  // Names remembered from cells take part in the scan too.
  mask_value(MASK_USER, "alice");
  mask_value(MASK_HOST, "db7.corp.example");
  mask_value(MASK_HOME, "/home/alice");
  std::string input(reinterpret_cast<const char*>(data), size);
  std::string once = mask_text(input);
  if (mask_text(once) != once) __builtin_trap();
  FILE* in = fmemopen(const_cast<char*>(input.data()), input.size() ? input.size() : 1, "rb");
  char* buf = nullptr;
  size_t len = 0;
  FILE* out = open_memstream(&buf, &len);
  if (in && out && input.size() && mask_stream(in, out)) {
    fflush(out);
    // Short inputs fit in one piece: the same text either way.
    if (std::string(buf, len) != once) __builtin_trap();
  }
  if (in) fclose(in);
  if (out) fclose(out);
  free(buf);
  for (mask_kind k : {MASK_SERIAL, MASK_UUID, MASK_ADDRESS, MASK_HOST, MASK_USER}) mask_value(k, input.substr(0, 64));
  return 0;
}
