// lzh_bench.cpp - one coder step per process, for whole-process timing, and the bit-identity check.
//
//   lzh_bench encode IN OUT            codes IN into OUT, prints "orig comp"
//   lzh_bench decode IN OUT ORIG       expands the stream IN (ORIG bytes) into OUT
//   lzh_bench check IN                 codes IN with the coder and the plain reference coder,
//                                      exits 0 when the streams are bit-identical
//   lzh_bench lha ORIG STREAM ARCHIVE  wraps STREAM in a level-0 LHA archive (-lh1-)

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lzh.h"
#include "lzh_reference.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool Slurp(const char* path, Bytes* out) {
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  uint8_t buf[1 << 16];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
  fclose(f);
  return true;
}

int Encode(const char* in_path, const char* out_path) {
  FILE* in = fopen(in_path, "rb");
  FILE* out = fopen(out_path, "wb");
  if (!in || !out) return perror("open"), 1;
  LzH* coder = new LzH;
  LzwComp rec = {0, 0};
  int rc = coder->Encode(in, out, &rec);
  delete coder;
  if (rc != LZH_OK || fclose(out) != 0) return fprintf(stderr, "encode failed: %d\n", rc), 1;
  fclose(in);
  printf("%u %u\n", rec.orig_size, rec.comp_size);
  return 0;
}

int Decode(const char* in_path, const char* out_path, const char* orig) {
  FILE* in = fopen(in_path, "rb");
  FILE* out = fopen(out_path, "wb");
  if (!in || !out) return perror("open"), 1;
  fseeko(in, 0, SEEK_END);
  LzwComp rec = {uint32_t(strtoul(orig, nullptr, 10)), uint32_t(ftello(in))};
  rewind(in);
  LzH* coder = new LzH;
  int rc = coder->Decode(in, out, &rec);
  delete coder;
  if (rc != LZH_OK || fclose(out) != 0) return fprintf(stderr, "decode failed: %d\n", rc), 1;
  fclose(in);
  return 0;
}

int Check(const char* path) {
  Bytes data;
  if (!Slurp(path, &data)) return perror(path), 1;
  FILE* in = fopen(path, "rb");
  FILE* out = tmpfile();
  LzH* coder = new LzH;
  LzwComp rec = {0, 0};
  if (coder->Encode(in, out, &rec) != LZH_OK) return 1;
  delete coder;
  fclose(in);
  rewind(out);
  Bytes mine(rec.comp_size);
  if (fread(mine.data(), 1, mine.size(), out) != mine.size()) return 1;
  fclose(out);
  bool same = mine == lzh_ref::encode(data);
  printf("%s\n", same ? "bit-identical" : "DIFFERENT");
  return same ? 0 : 1;
}

uint16_t Crc16Arc(const Bytes& data) {
  uint16_t crc = 0;
  for (uint8_t b : data) {
    crc ^= b;
    for (int i = 0; i < 8; i++) crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
  }
  return crc;
}

int Lha(const char* orig_path, const char* stream_path, const char* archive) {
  Bytes orig, stream;
  if (!Slurp(orig_path, &orig) || !Slurp(stream_path, &stream)) return perror("read"), 1;
  const char name[] = "member.bin";
  Bytes h = {'-', 'l', 'h', '1', '-'};
  auto le = [&h](uint32_t v, int n) {
    for (int i = 0; i < n; i++) h.push_back(uint8_t(v >> (8 * i)));
  };
  le(uint32_t(stream.size()), 4);
  le(uint32_t(orig.size()), 4);
  le(0x00210000, 4);
  h.push_back(0x20);
  h.push_back(0);
  h.push_back(uint8_t(sizeof name - 1));
  h.insert(h.end(), name, name + sizeof name - 1);
  le(Crc16Arc(orig), 2);
  uint8_t sum = 0;
  for (uint8_t b : h) sum = uint8_t(sum + b);
  FILE* f = fopen(archive, "wb");
  if (!f) return perror(archive), 1;
  uint8_t lead[2] = {uint8_t(h.size()), sum};
  fwrite(lead, 1, 2, f);
  fwrite(h.data(), 1, h.size(), f);
  fwrite(stream.data(), 1, stream.size(), f);
  fputc(0, f);
  return fclose(f) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && !strcmp(argv[1], "encode")) return Encode(argv[2], argv[3]);
  if (argc == 5 && !strcmp(argv[1], "decode")) return Decode(argv[2], argv[3], argv[4]);
  if (argc == 3 && !strcmp(argv[1], "check")) return Check(argv[2]);
  if (argc == 5 && !strcmp(argv[1], "lha")) return Lha(argv[2], argv[3], argv[4]);
  fprintf(stderr, "usage: lzh_bench encode IN OUT | decode IN OUT ORIG | check IN | lha ORIG STREAM ARCHIVE\n");
  return 2;
}
