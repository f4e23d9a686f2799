// util_capacity_test.cpp - size texts of disks, file systems and memory.
#include "zvtest.h"

#include <climits>

#include "util_capacity.h"

TEST(StorageCapacity, PicksLargestUnitWithOneDecimalCutForAnyBaseAndProduct) {
  const struct {
    unsigned count, unit_size, base;
    const char* text;
  } cases[] = {
      {1500000, 1, 1000, "1.5 MB"}, {999, 1, 1000, "999 bytes"}, {1000, 1, 0, "1.0 KB"},  // base 0 means 1000
      {1999999, 1000, 1000, "1.9 GB"}, {2, 1048576, 1024, "2.0 MB"},
      {1953525168u, 512, 1000, "1.0 TB"},  // a 1 TB disk: the product is beyond 32 bits
      {UINT_MAX, UINT_MAX, 1000, "18446744.0 TB"},
      {1000, 1024, 1024, "1000.0 KB"}, {1048575, 1, 1024, "1023.9 KB"},  // not inflated by a cut tenth
      {5, 1, 1, "5.0 TB"}, {UINT_MAX, 1, UINT_MAX, "1.0 KB"},
  };
  for (const auto& c : cases) {
    char out[32];
    EXPECT_STREQ(c.text, calculate_storage_capacity(c.count, c.unit_size, out, sizeof out, c.base)) << c.count;
  }
  char out[4];
  calculate_storage_capacity(1500000, 1, out, sizeof out, 1000);
  EXPECT_STREQ("1.5", out);
}

TEST(MemorySize, WholeUnitsBelowOneGigabyteThenTwoRoundedDecimals) {
  const struct {
    unsigned long long count, unit_size;
    const char* text;
  } cases[] = {
      {512, 1024, "512 KB"}, {1023, 1, "1023 bytes"}, {1024, 1, "1 KB"}, {(1ULL << 30) - 1, 1, "1023 MB"},
      {1536, 1048576, "1.50 GB"}, {1999ULL * (1ULL << 30) / 1000, 1, "2.00 GB"},  // rounding carries
      {4, 1ULL << 40, "4.00 TB"}, {ULLONG_MAX, 2, "16777216.00 TB"},  // product beyond 64 bits saturates
  };
  for (const auto& c : cases) {
    char out[32];
    EXPECT_STREQ(c.text, calculate_memory_size(c.count, c.unit_size, out, sizeof out)) << c.count;
  }
}
