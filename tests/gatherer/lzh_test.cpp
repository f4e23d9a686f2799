// lzh_test.cpp - the container coder against the plain reference coder and an LHA extractor.

#include "lzh.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "lzh_reference.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromText(const char* s) { return Bytes(s, s + strlen(s)); }

// Prose-like text from a fixed vocabulary.
Bytes MakeText(size_t size, unsigned seed) {
  static const char* const words[] = {
      "the", "system", "report", "memory", "device", "driver", "kernel", "package",
      "of", "and", "a", "file", "network", "address", "interface", "version",
      "installed", "module", "is", "to", "processor", "bus", "slot", "serial"};
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < size) {
    const char* w = words[rng() % (sizeof words / sizeof *words)];
    out.insert(out.end(), w, w + strlen(w));
    out.push_back(rng() % 11 == 0 ? '\n' : ' ');
  }
  out.resize(size);
  return out;
}

Bytes MakeRandom(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (auto& b : out) b = uint8_t(rng());
  return out;
}

// Tables of little-endian records with small counters and padding, like an
// executable's data sections.
Bytes MakeBinary(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes out;
  uint32_t counter = 0x1000;
  while (out.size() < size) {
    uint32_t rec[4] = {counter, counter * 16 + 0x400000, uint32_t(rng() % 64), 0};
    counter += 1 + rng() % 3;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(rec);
    out.insert(out.end(), p, p + sizeof rec);
  }
  out.resize(size);
  return out;
}

// Symbols whose counts grow like Fibonacci numbers above the sea of unused
// symbols (all 314 start at frequency 1), so the code grows a chain of nine
// levels over it; an unused symbol coded last sits about 17 levels deep.
std::vector<uint16_t> DeepTreeSymbols() {
  std::vector<uint16_t> symbols;
  const int levels = 9;
  double before = (314 - levels) * 0.62, last = 314 - levels;
  for (int k = 0; k < levels; k++) {
    long count = long(before * 1.03) + 1;
    symbols.insert(symbols.end(), size_t(count), uint16_t(k * 30));
    before = last;
    last += double(count);
  }
  std::shuffle(symbols.begin(), symbols.end(), std::mt19937(3));
  symbols.push_back(301);
  return symbols;
}

struct Coded {
  int rc;
  LzwComp rec;
  Bytes stream;
};

Bytes ReadAll(FILE* f) {
  Bytes out;
  rewind(f);
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  return out;
}

FILE* TempWith(const Bytes& data) {
  FILE* f = tmpfile();
  if (!data.empty()) fwrite(data.data(), 1, data.size(), f);
  rewind(f);
  return f;
}

Coded Encode(const Bytes& data) {
  FILE* in = TempWith(data);
  FILE* out = tmpfile();
  LzH* coder = new LzH;
  Coded c{};
  c.rc = coder->Encode(in, out, &c.rec);
  delete coder;
  c.stream = ReadAll(out);
  fclose(in);
  fclose(out);
  return c;
}

struct Decoded {
  int rc;
  bool ran_short;
  Bytes data;
};

Decoded Decode(const Bytes& stream, uint32_t orig, uint32_t comp) {
  FILE* in = TempWith(stream);
  FILE* out = tmpfile();
  LzH* coder = new LzH;
  LzwComp rec{orig, comp};
  Decoded d{};
  d.rc = coder->Decode(in, out, &rec);
  d.ran_short = coder->InputRanShort();
  delete coder;
  d.data = ReadAll(out);
  fclose(in);
  fclose(out);
  return d;
}

std::vector<std::pair<std::string, Bytes>> Corpus() {
  std::vector<std::pair<std::string, Bytes>> c;
  c.push_back({"one byte", {0x41}});
  c.push_back({"two bytes", FromText("ab")});
  c.push_back({"leading spaces", FromText("   x   y")});
  c.push_back({"run of one byte", Bytes(10000, 'z')});
  c.push_back({"text", MakeText(200000, 1)});
  c.push_back({"binary", MakeBinary(150000, 2)});
  c.push_back({"random", MakeRandom(100000, 3)});  // 100000 literals: the tree is rebuilt
  return c;
}

TEST(LzhCoder, StreamsEqualTheReferenceCoderBitForBitAndDecodeBack) {
  for (const auto& [name, data] : Corpus()) {
    SCOPED_TRACE(name);
    Coded c = Encode(data);
    ASSERT_EQ(c.rc, LZH_OK);
    EXPECT_EQ(c.rec.orig_size, data.size());
    EXPECT_EQ(c.rec.comp_size, c.stream.size());
    EXPECT_TRUE(c.stream == lzh_ref::encode(data)) << "stream differs from the reference";
    Decoded d = Decode(c.stream, c.rec.orig_size, c.rec.comp_size);
    ASSERT_EQ(d.rc, LZH_OK);
    EXPECT_FALSE(d.ran_short);
    EXPECT_TRUE(d.data == data) << "round trip differs";
  }
}

TEST(LzhCoder, WritesCodesDeeperThanSixteenBitsWhole) {
  std::vector<uint16_t> symbols = DeepTreeSymbols();
  int deepest = 0;
  Bytes expected = lzh_ref::encode_symbols(symbols, &deepest);
  ASSERT_GT(deepest, 16) << "the sequence no longer forces a deep tree";
  FILE* out = tmpfile();
  LzH* coder = new LzH;
  EXPECT_EQ(coder->EncodeSymbols(symbols.data(), symbols.size(), out), long(expected.size()));
  delete coder;
  Bytes stream = ReadAll(out);
  fclose(out);
  EXPECT_TRUE(stream == expected);
  EXPECT_TRUE(lzh_ref::decode_symbols(stream, symbols.size()) == symbols);
}

TEST(LzhCoder, CodesSingleBytesToTheirHuffmanCodeLength) {
  // 0x41 is among the first 116 symbols (9-bit codes), 0x7A is not (8 bits).
  Coded a = Encode({0x41});
  EXPECT_EQ(a.rec.comp_size, 2u);
  Coded z = Encode({0x7A});
  EXPECT_EQ(z.rec.orig_size, 1u);
  EXPECT_EQ(z.rec.comp_size, 1u);
}

TEST(LzhCoder, RefusesEmptyInputWithoutWritingOrTouchingTheRecord) {
  Coded c{};
  FILE* in = tmpfile();
  FILE* out = tmpfile();
  LzH* coder = new LzH;
  LzwComp rec{7, 9};
  EXPECT_EQ(coder->Encode(in, out, &rec), LZH_E_EMPTY);
  EXPECT_EQ(rec.orig_size, 7u);
  EXPECT_EQ(rec.comp_size, 9u);
  EXPECT_EQ(ftello(out), 0);
  EXPECT_EQ(coder->Encode(nullptr, out, &rec), LZH_E_ARG);
  EXPECT_EQ(coder->Decode(in, out, nullptr), LZH_E_ARG);
  delete coder;
  fclose(in);
  fclose(out);
}

TEST(LzhCoder, GivesTheSameStreamWhateverMemoryTheObjectGets) {
  // The match finder reads past the filled part of the ring on short inputs.
  Bytes data = FromText("abcab");
  void* mem = operator new(sizeof(LzH));
  memset(mem, 0xA5, sizeof(LzH));
  LzH* coder = new (mem) LzH;
  FILE* in = TempWith(data);
  FILE* out = tmpfile();
  LzwComp rec{};
  ASSERT_EQ(coder->Encode(in, out, &rec), LZH_OK);
  EXPECT_TRUE(ReadAll(out) == Encode(data).stream);
  coder->~LzH();
  operator delete(mem);
  fclose(in);
  fclose(out);
}

TEST(LzhCoder, ReportsWriteErrorsAndRefusesInputsOfFourGibibytes) {
  FILE* full = fopen("/dev/full", "wb");
  if (full) {
    FILE* in = TempWith(MakeRandom(200000, 5));
    LzH* coder = new LzH;
    LzwComp rec{};
    EXPECT_EQ(coder->Encode(in, full, &rec), LZH_E_WRITE);
    delete coder;
    fclose(in);
    fclose(full);
  }
  FILE* huge = tmpfile();
  ASSERT_EQ(ftruncate(fileno(huge), off_t(1) << 32), 0);  // sparse
  FILE* out = tmpfile();
  LzH* coder = new LzH;
  LzwComp rec{};
  EXPECT_EQ(coder->Encode(huge, out, &rec), LZH_E_TOO_LARGE);
  EXPECT_EQ(ftello(out), 0);
  delete coder;
  fclose(huge);
  fclose(out);
}

TEST(LzhDecoder, WritesExactlyTheRecordedSize) {
  Bytes data = MakeText(5000, 9);
  Coded c = Encode(data);
  // Cut inside a match: the output is the prefix, never longer.
  for (uint32_t size : {0u, 1u, 100u, 4321u}) {
    if (size == c.rec.comp_size) continue;
    Decoded d = Decode(c.stream, size, c.rec.comp_size);
    EXPECT_EQ(d.rc, LZH_OK);
    EXPECT_TRUE(d.data == Bytes(data.begin(), data.begin() + size)) << size;
  }
}

TEST(LzhDecoder, ReadsZeroBitsPastATruncatedStreamAndSaysSo) {
  Bytes data = MakeText(20000, 4);
  Coded c = Encode(data);
  Bytes half(c.stream.begin(), c.stream.begin() + c.stream.size() / 2);
  Decoded d = Decode(half, c.rec.orig_size, uint32_t(half.size()));
  EXPECT_EQ(d.rc, LZH_OK);
  EXPECT_TRUE(d.ran_short);
  EXPECT_EQ(d.data.size(), data.size());
  EXPECT_TRUE(d.data == lzh_ref::decode(half, data.size()));
}

TEST(LzhDecoder, NeverReadsPastTheStreamLength) {
  Bytes data = MakeText(3000, 6);
  Coded c = Encode(data);
  Bytes stream = c.stream;
  stream.insert(stream.end(), 100, 0xEE);  // the next item's bytes
  FILE* in = TempWith(stream);
  FILE* out = tmpfile();
  LzH* coder = new LzH;
  ASSERT_EQ(coder->Decode(in, out, &c.rec), LZH_OK);
  EXPECT_EQ(ftello(in), off_t(c.rec.comp_size));
  EXPECT_TRUE(ReadAll(out) == data);
  delete coder;
  fclose(in);
  fclose(out);
}

TEST(LzhDecoder, CopiesStoredBytesAndFailsWhenTheyRunShort) {
  Bytes data = MakeRandom(1000, 8);
  Decoded d = Decode(data, 1000, 1000);
  EXPECT_EQ(d.rc, LZH_OK);
  EXPECT_TRUE(d.data == data);
  Decoded shortd = Decode(Bytes(data.begin(), data.begin() + 600), 1000, 1000);
  EXPECT_EQ(shortd.rc, LZH_E_READ);
}

// ---- an independent extractor: LHA's -lh1- method is this stream ----

uint16_t Crc16Arc(const Bytes& data) {
  uint16_t crc = 0;
  for (uint8_t b : data) {
    crc ^= b;
    for (int i = 0; i < 8; i++) crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
  }
  return crc;
}

void PutLe(Bytes& out, uint32_t v, int n) {
  for (int i = 0; i < n; i++) out.push_back(uint8_t(v >> (8 * i)));
}

// A level-0 archive of one member "member.bin" holding `stream`.
Bytes LhaArchive(const Bytes& original, const Bytes& stream) {
  const char name[] = "member.bin";
  Bytes h = FromText("-lh1-");
  PutLe(h, uint32_t(stream.size()), 4);
  PutLe(h, uint32_t(original.size()), 4);
  PutLe(h, 0x00210000, 4);  // DOS date and time: 1980-01-01
  h.push_back(0x20);        // attribute
  h.push_back(0);           // header level
  h.push_back(uint8_t(sizeof name - 1));
  h.insert(h.end(), name, name + sizeof name - 1);
  PutLe(h, Crc16Arc(original), 2);
  uint8_t sum = 0;
  for (uint8_t b : h) sum = uint8_t(sum + b);
  Bytes out = {uint8_t(h.size()), sum};
  out.insert(out.end(), h.begin(), h.end());
  out.insert(out.end(), stream.begin(), stream.end());
  out.push_back(0);  // end of archive
  return out;
}

int RunIn(const std::string& dir, const char* prog, const char* a1, const char* a2) {
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    if (chdir(dir.c_str()) != 0) _exit(127);
    execl(prog, prog, a1, a2, (char*)nullptr);
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(LzhCoder, StreamsExtractByteIdenticalWithLha) {
  const char* lha = "/usr/bin/lha";
  if (access(lha, X_OK) != 0) GTEST_SKIP() << "no LHA extractor at /usr/bin/lha (package lhasa)";
  char tmpl[] = "/tmp/lzh_lha_XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string dir = tmpl;
  for (const auto& [name, data] : Corpus()) {
    SCOPED_TRACE(name);
    Coded c = Encode(data);
    ASSERT_EQ(c.rc, LZH_OK);
    Bytes archive = LhaArchive(data, c.stream);
    std::string apath = dir + "/test.lzh", mpath = dir + "/member.bin";
    unlink(mpath.c_str());
    FILE* f = fopen(apath.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(archive.data(), 1, archive.size(), f);
    fclose(f);
    EXPECT_EQ(RunIn(dir, lha, "xqf", "test.lzh"), 0);
    FILE* m = fopen(mpath.c_str(), "rb");
    ASSERT_NE(m, nullptr) << "lha extracted nothing";
    EXPECT_TRUE(ReadAll(m) == data) << "lha extracted different bytes";
    fclose(m);
    unlink(mpath.c_str());
    unlink(apath.c_str());
  }
  rmdir(dir.c_str());
}

}  // namespace
