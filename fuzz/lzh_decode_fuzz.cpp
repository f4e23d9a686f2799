// lzh_decode_fuzz.cpp - the LZH decoder on any bytes with any claimed sizes, and coder round trips.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lzh.h"

namespace {

struct Counter {
  uint64_t bytes = 0;
};

ssize_t CountWrite(void* cookie, const char*, size_t size) {
  static_cast<Counter*>(cookie)->bytes += size;
  return ssize_t(size);
}

FILE* OpenCounter(Counter* c) {
  cookie_io_functions_t io = {nullptr, CountWrite, nullptr, nullptr};
  return fopencookie(c, "w", io);
}

uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

}  // namespace

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
  Counter counter;
  FILE* out = OpenCounter(&counter);
  LzH* coder = new LzH;
  LzwComp rec = {orig, comp};
  int rc = coder->Decode(in, out, &rec);
  fclose(out);
  if (counter.bytes > orig) abort();                    // never longer than recorded
  if (orig != comp && rc == LZH_OK && counter.bytes != orig) abort();  // coded: exactly
  if (orig == comp && rc == LZH_OK && counter.bytes != orig) abort();
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
      char* back = nullptr;
      size_t back_size = 0;
      FILE* mem = open_memstream(&back, &back_size);
      LzH* dec = new LzH;
      if (dec->Decode(coded, mem, &r) != LZH_OK || dec->InputRanShort()) abort();
      delete dec;
      fclose(mem);
      if (back_size != stream_size || memcmp(back, stream, stream_size) != 0) abort();
      free(back);
    }
    fclose(coded);
    fclose(src);
  }
  return 0;
}
