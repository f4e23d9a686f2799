// util_capacity_test.cpp - size texts of disks, file systems and memory.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "util_capacity.h"

static std::string storage(unsigned count, unsigned unit_size, unsigned base) {
  char out[32];
  return calculate_storage_capacity(count, unit_size, out, sizeof out, base);
}

static std::string memory(unsigned long long count, unsigned long long unit_size) {
  char out[32];
  return calculate_memory_size(count, unit_size, out, sizeof out);
}

TEST(StorageCapacity, PicksLargestUnitWithOneDecimalCut) {
  EXPECT_EQ("1.5 MB", storage(1500000, 1, 1000));
  EXPECT_EQ("999 bytes", storage(999, 1, 1000));
  EXPECT_EQ("1.0 KB", storage(1000, 1, 0));  // base 0 means 1000
  EXPECT_EQ("1.9 GB", storage(1999999, 1000, 1000));
  EXPECT_EQ("2.0 MB", storage(2, 1048576, 1024));
}

TEST(StorageCapacity, ProductBeyond32BitsIsKept) {
  // 1953525168 sectors of 512 bytes: a 1 TB disk.
  EXPECT_EQ("1.0 TB", storage(1953525168u, 512, 1000));
  EXPECT_EQ("18446744.0 TB", storage(UINT_MAX, UINT_MAX, 1000));
}

TEST(StorageCapacity, BinaryBaseIsNotInflatedByTruncatedTenth) {
  EXPECT_EQ("1000.0 KB", storage(1000, 1024, 1024));
  EXPECT_EQ("1023.9 KB", storage(1048575, 1, 1024));
}

TEST(StorageCapacity, OddBasesAndTinyBuffersStaySafe) {
  EXPECT_EQ("5.0 TB", storage(5, 1, 1));
  EXPECT_EQ("1.0 KB", storage(UINT_MAX, 1, UINT_MAX));
  char out[4];
  calculate_storage_capacity(1500000, 1, out, sizeof out, 1000);
  EXPECT_STREQ("1.5", out);
}

TEST(MemorySize, WholeUnitsBelowOneGigabyte) {
  EXPECT_EQ("512 KB", memory(512, 1024));
  EXPECT_EQ("1023 bytes", memory(1023, 1));
  EXPECT_EQ("1 KB", memory(1024, 1));
  EXPECT_EQ("1023 MB", memory((1ULL << 30) - 1, 1));
}

TEST(MemorySize, TwoRoundedDecimalsFromOneGigabyte) {
  EXPECT_EQ("1.50 GB", memory(1536, 1048576));
  EXPECT_EQ("2.00 GB", memory(1999ULL * (1ULL << 30) / 1000, 1));  // rounding carries
  EXPECT_EQ("4.00 TB", memory(4, 1ULL << 40));
  EXPECT_EQ("16777216.00 TB", memory(ULLONG_MAX, 2));  // product beyond 64 bits saturates
}
