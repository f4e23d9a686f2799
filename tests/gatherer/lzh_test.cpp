// lzh_test.cpp - the container coder against pinned streams.
//
// The pinned lengths and FNV-1a digests are those of the plain reference coder
// (bench/lzh_reference.h); the same streams, put in a level-0 LHA archive as
// method -lh1-, extract byte-identical with lhasa. Any change to the bits is
// a fault.

#include "lzh.h"

#include "zvtest.h"

#include <new>
#include <random>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromText(const char* s) { return Bytes(s, s + strlen(s)); }

uint64_t Fnv(const Bytes& b) {
  uint64_t h = 14695981039346656037ull;
  for (uint8_t c : b) h = (h ^ c) * 1099511628211ull;
  return h;
}

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

// Little-endian records with small counters and padding, like an executable's data.
Bytes MakeBinary(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes out;
  for (uint32_t counter = 0x1000; out.size() < size; counter += 1 + rng() % 3) {
    uint32_t rec[4] = {counter, counter * 16 + 0x400000, uint32_t(rng() % 64), 0};
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

// A temporary stream holding `data`, positioned at its start; closed with the object.
struct Tmp {
  FILE* f;
  explicit Tmp(const Bytes& data = {}) : f(tmpfile()) {
    if (!data.empty()) fwrite(data.data(), 1, data.size(), f);
    rewind(f);
  }
  ~Tmp() { fclose(f); }
  Bytes All() {
    rewind(f);
    std::string s = zvtest::read_stream(f);
    return Bytes(s.begin(), s.end());
  }
};

struct Coded {
  int rc;
  LzwComp rec;
  Bytes stream;
};

Coded Encode(const Bytes& data) {
  Tmp in(data), out;
  Coded c{};
  c.rc = std::make_unique<LzH>()->Encode(in.f, out.f, &c.rec);
  c.stream = out.All();
  return c;
}

struct Decoded {
  int rc;
  bool ran_short;
  Bytes data;
  off_t read_to;  // input position after the decode
};

Decoded Decode(const Bytes& stream, uint32_t orig, uint32_t comp) {
  Tmp in(stream), out;
  auto coder = std::make_unique<LzH>();
  LzwComp rec{orig, comp};
  Decoded d{};
  d.rc = coder->Decode(in.f, out.f, &rec);
  d.ran_short = coder->InputRanShort();
  d.read_to = ftello(in.f);
  d.data = out.All();
  return d;
}

struct Sample {
  const char* name;
  Bytes data;
  uint32_t comp_size;  // the pinned stream: its length and digest
  uint64_t digest;
};

std::vector<Sample> Corpus() {
  // 0x41 is among the first 116 symbols (9-bit codes), 0x7A is not (8 bits);
  // 100000 random literals make the tree be rebuilt.
  return {{"one 9-bit byte", {0x41}, 2, 0x0a4bfc07b6b47cbbull},
          {"one 8-bit byte", {0x7A}, 1, 0xaf63bb4c8601b479ull},
          {"two bytes", FromText("ab"), 3, 0xbc30021bc17b05c2ull},
          {"leading spaces", FromText("   x   y"), 7, 0xe5a3c4c43cc7af32ull},
          {"run of one byte", Bytes(10000, 'z'), 248, 0xce3d11f8b65200d9ull},
          {"text", MakeText(200000, 1), 41457, 0x14e4fb249c201fecull},
          {"binary", MakeBinary(150000, 2), 57432, 0x2db4a2cd8d49e98bull},
          {"random", MakeRandom(100000, 3), 100178, 0xefbe304454ec5359ull}};
}

TEST(LzhCoder, StreamsEqualThePinnedOnesBitForBitAndDecodeBack) {
  for (const Sample& s : Corpus()) {
    SCOPED_TRACE(s.name);
    Coded c = Encode(s.data);
    ASSERT_EQ(c.rc, LZH_OK);
    EXPECT_EQ(c.rec.orig_size, s.data.size());
    EXPECT_EQ(c.rec.comp_size, c.stream.size());
    EXPECT_EQ(c.rec.comp_size, s.comp_size);
    EXPECT_EQ(Fnv(c.stream), s.digest) << "stream differs from the pinned one";
    if (c.rec.comp_size == c.rec.orig_size) continue;  // equal sizes read back as stored bytes
    Decoded d = Decode(c.stream, c.rec.orig_size, c.rec.comp_size);
    ASSERT_EQ(d.rc, LZH_OK);
    EXPECT_FALSE(d.ran_short);
    EXPECT_TRUE(d.data == s.data) << "round trip differs";
  }
}

TEST(LzhCoder, WritesCodesDeeperThanSixteenBitsWhole) {
  std::vector<uint16_t> symbols = DeepTreeSymbols();
  // The pinned stream's last code word is 17 bits long.
  Tmp out;
  EXPECT_EQ(std::make_unique<LzH>()->EncodeSymbols(symbols.data(), symbols.size(), out.f), 8014);
  EXPECT_EQ(Fnv(out.All()), 0xc7f414ca9d6d0800ull);
}

TEST(LzhCoder, GivesTheSameStreamWhateverMemoryTheObjectGets) {
  // The match finder reads past the filled part of the ring on short inputs.
  Bytes data = FromText("abcab");
  void* mem = operator new(sizeof(LzH));
  memset(mem, 0xA5, sizeof(LzH));
  LzH* coder = new (mem) LzH;
  Tmp in(data), out;
  LzwComp rec{};
  EXPECT_EQ(coder->Encode(in.f, out.f, &rec), LZH_OK);
  EXPECT_TRUE(out.All() == Encode(data).stream);
  coder->~LzH();
  operator delete(mem);
}

TEST(LzhCoder, RefusesBadArgumentsEmptyAndHugeInputsAndReportsWriteErrors) {
  {
    Tmp in, out;
    auto coder = std::make_unique<LzH>();
    LzwComp rec{7, 9};
    EXPECT_EQ(coder->Encode(in.f, out.f, &rec), LZH_E_EMPTY);
    EXPECT_EQ(rec.orig_size, 7u);  // the record is left alone
    EXPECT_EQ(rec.comp_size, 9u);
    EXPECT_EQ(ftello(out.f), 0);
    EXPECT_EQ(coder->Encode(nullptr, out.f, &rec), LZH_E_ARG);
    EXPECT_EQ(coder->Decode(in.f, out.f, nullptr), LZH_E_ARG);
  }
  if (FILE* full = fopen("/dev/full", "wb")) {
    Tmp in(MakeRandom(200000, 5));
    LzwComp rec{};
    EXPECT_EQ(std::make_unique<LzH>()->Encode(in.f, full, &rec), LZH_E_WRITE);
    fclose(full);
  }
  Tmp huge, out;
  ASSERT_EQ(ftruncate(fileno(huge.f), off_t(1) << 32), 0);  // sparse
  LzwComp rec{};
  EXPECT_EQ(std::make_unique<LzH>()->Encode(huge.f, out.f, &rec), LZH_E_TOO_LARGE);
  EXPECT_EQ(ftello(out.f), 0);
}

TEST(LzhDecoder, WritesExactlyTheRecordedSizeAndReadsNoFurtherThanTheStream) {
  Bytes data = MakeText(5000, 9);
  Coded c = Encode(data);
  // Cut inside a match: the output is the prefix, never longer.
  for (uint32_t size : {0u, 1u, 100u, 4321u}) {
    if (size == c.rec.comp_size) continue;  // equal sizes would mean stored bytes
    Decoded d = Decode(c.stream, size, c.rec.comp_size);
    EXPECT_EQ(d.rc, LZH_OK);
    EXPECT_TRUE(d.data == Bytes(data.begin(), data.begin() + size)) << size;
  }
  Bytes followed = c.stream;
  followed.insert(followed.end(), 100, 0xEE);  // the next item's bytes
  Decoded d = Decode(followed, c.rec.orig_size, c.rec.comp_size);
  ASSERT_EQ(d.rc, LZH_OK);
  EXPECT_EQ(d.read_to, off_t(c.rec.comp_size));
  EXPECT_TRUE(d.data == data);
  // Equal sizes mean stored bytes: copied, and a short copy fails.
  Bytes stored = MakeRandom(1000, 8);
  d = Decode(stored, 1000, 1000);
  EXPECT_EQ(d.rc, LZH_OK);
  EXPECT_TRUE(d.data == stored);
  EXPECT_EQ(Decode(Bytes(stored.begin(), stored.begin() + 600), 1000, 1000).rc, LZH_E_READ);
}

TEST(LzhDecoder, ReadsZeroBitsPastATruncatedStreamAndSaysSo) {
  Bytes data = MakeText(20000, 4);
  Coded c = Encode(data);
  Bytes half(c.stream.begin(), c.stream.begin() + c.stream.size() / 2);
  Decoded d = Decode(half, c.rec.orig_size, uint32_t(half.size()));
  EXPECT_EQ(d.rc, LZH_OK);
  EXPECT_TRUE(d.ran_short);
  EXPECT_EQ(d.data.size(), data.size());
  EXPECT_EQ(Fnv(d.data), 0x335791a9993fd687ull);  // zero bits read past the end
}

}  // namespace
