// lzh_decode_fuzz.cpp - the LZH decoder on any bytes with any claimed sizes, and coder round trips.
#include "fuzz_support.h"
#include "lzh.h"

static uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  // Claimed sizes: the original is kept below 64 KiB so that a run stays short;
  // the stream length is anything, larger or smaller than what follows.
  uint32_t orig = Le32(data) & 0xFFFF;
  uint32_t comp = Le32(data + 4);
  if (data[0] & 1) comp = uint32_t(size - 8);
  if (data[1] == 0x55) comp = orig;  // the stored case
  const uint8_t* stream = data + 8;
  size_t stream_size = size - 8;

  FILE* in = stream_size ? fmemopen(const_cast<uint8_t*>(stream), stream_size, "rb") : tmpfile();
  uint64_t written;
  FILE* out = counting_stream(&written);
  LzH* coder = new LzH;
  LzwComp rec = {orig, comp};
  int rc = coder->Decode(in, out, &rec);
  fclose(out);
  if (written > orig) abort();                     // never longer than recorded
  if (rc == LZH_OK && written != orig) abort();  // coded or stored: exactly
  delete coder;
  fclose(in);

  // The same bytes coded and decoded again give themselves back.
  if (stream_size > 0 && stream_size <= 8192) {
    FILE* src = fmemopen(const_cast<uint8_t*>(stream), stream_size, "rb");
    FILE* coded = tmpfile();
    LzH* enc = new LzH;
    LzwComp r = {0, 0};
    if (enc->Encode(src, coded, &r) != LZH_OK || r.orig_size != stream_size) abort();
    delete enc;
    // Equal lengths read back as stored bytes (the container stores such
    // inputs as they are): only shorter streams must decode.
    if (r.comp_size != r.orig_size) {
      rewind(coded);
      std::string back = written_text([&](FILE* mem) {
        LzH* dec = new LzH;
        if (dec->Decode(coded, mem, &r) != LZH_OK || dec->InputRanShort()) abort();
        delete dec;
      });
      if (back != std::string(reinterpret_cast<const char*>(stream), stream_size)) abort();
    }
    fclose(coded);
    fclose(src);
  }
  return 0;
}
