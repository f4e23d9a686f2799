// vpd_test.cpp - the BIOS VPD block, the BIOS version scan and the SMAPI answer.
#include "vpd.h"

#include "zvtest.h"

#include "bios.h"
#include "smbios_root.h"

using namespace smbios_test;

namespace {

bytes segment_with(const bytes& piece, size_t at) {
  bytes seg(0x10000, 0xFF);
  std::copy(piece.begin(), piece.end(), seg.begin() + at);
  return seg;
}

std::string version_in(const std::string& text) {
  bytes seg(0x10000, 0);
  std::copy(text.begin(), text.end(), seg.begin() + 0x100);
  std::unique_ptr<char[]> found(find_bios_version(seg.data(), seg.size()));
  return found ? found.get() : "(none)";
}

}  // namespace

TEST(Vpd, ReadsTheBlockFromTheMemoryImage) {
  temp_root root;
  memory_image mem;
  mem.put(0xF1234, bios_vpd_block("KJET29WW ", "L3A1234", "VQ1AB.,-*X", "2373ABC"));
  ASSERT_TRUE(mem.save(root));
  scoped_sysroot use(root);
  Vpd vpd;
  ASSERT_TRUE(vpd.init());
  EXPECT_STREQ(vpd.get_make(), "HALVEX");
  EXPECT_STREQ(vpd.get_model(), "2373ABC");
  EXPECT_STREQ(vpd.get_serial_number(), "L3A1234");
  EXPECT_STREQ(vpd.get_bios_version(), "KJET29WW ");
  // The board serial number is not checked: punctuation is fine.
  EXPECT_STREQ(vpd.get_motherboard_serial_number(), "VQ1AB.,-*X");
}

TEST(Vpd, RejectsShortOrUnprintableFields) {
  struct {
    bytes block;
    const char* why;
  } cases[] = {
      {bios_vpd_block("KJET29WW", "12345", "B", "2373ABC"), "serial of five digits and two zeros"},
      {bios_vpd_block("KJET29WW", "1234567", "B", "2373AB"), "model of six characters"},
      {bios_vpd_block("KJ.T29WW", "1234567", "B", "2373ABC"), "punctuation in the BIOS level"},
      {bios_vpd_block("KJET29WW", "123-567", "B", "2373ABC"), "punctuation in the serial"},
  };
  for (const auto& c : cases) {
    Vpd vpd;
    bytes seg = segment_with(c.block, 0x80);
    EXPECT_FALSE(vpd.init_from_segment(seg.data(), seg.size())) << c.why;
    EXPECT_STREQ(vpd.get_model(), "Unknown") << c.why;
  }
}

TEST(Vpd, AcceptsOnlyABlockThatFitsInTheSegment) {
  bytes block = bios_vpd_block("KJET29WW", "1234567", "B", "2373ABC");
  bytes fits = segment_with(block, 0x10000 - block.size());
  Vpd last;
  EXPECT_TRUE(last.init_from_segment(fits.data(), fits.size()));
  // Signature in the last 46 bytes: the block would run past the segment.
  bytes cut(fits.begin(), fits.end() - 1);
  Vpd beyond;
  EXPECT_FALSE(beyond.init_from_segment(cut.data(), cut.size()));
}

TEST(BiosVersion, KeepsTheTextBetweenDelimitersThatCarriesAMarker) {
  EXPECT_EQ(version_in(std::string("\0BIOS Rev 2.05\r", 15)), "BIOS Rev 2.05");
  EXPECT_EQ(version_in("$Ver 1.23$"), "Ver 1.23");
  EXPECT_EQ(version_in("\x01VER 1.23\x01"), "(none)");
  EXPECT_EQ(version_in("\x01Version 1.23\x01 \x01Rel 4.56\x01"), "Version 1.23");
  EXPECT_EQ(version_in("\x01ROM v 7.1 \x01"), "ROM v 7.1 ");
  EXPECT_EQ(version_in("\x01" "1.2.3 no marker\x01\x01" "v3.04\x01"), "v3.04");
  EXPECT_EQ(version_in("\x01Rev 1 . 2\x01"), "(none)");
}

TEST(BiosVersion, DropsTextsThatTouchTheSegmentEnds) {
  std::string start = "XVer 1.0\x01";
  bytes seg(0x1000, 0);
  std::copy(start.begin(), start.end(), seg.begin());
  std::string end = "\x01Rev 9.9";
  std::copy(end.begin(), end.end(), seg.end() - end.size());
  EXPECT_EQ(find_bios_version(seg.data(), seg.size()), nullptr);
  seg[0] = 0x01;
  std::unique_ptr<char[]> found(find_bios_version(seg.data(), seg.size()));
  ASSERT_TRUE(found);
  EXPECT_STREQ(found.get(), "Ver 1.0");
}

TEST(Smapi, IsNeverAvailableAndLeavesAnEmptyVersion) {
  smapi_regs regs = {1, 2, 3, 4, 5, 6};
  EXPECT_FALSE(call_SMAPI(&regs));
  EXPECT_EQ(regs.ebx, 2u);
  char buffer[64] = "junk";
  EXPECT_STREQ(smapi_get_h8_version(buffer, sizeof buffer), "");
}

TEST(Smapi, FormatsTheEmbeddedControllerVersion) {
  char buffer[64];
  smapi_regs numeric = {0x0001, 0, 0x0107, 0, 0, 0};
  EXPECT_STREQ(smapi_format_h8_version(numeric, buffer, sizeof buffer), "1.07");
  smapi_regs four = {0, 0, ('1' << 8) | '2', ('3' << 8) | '4', 0, 0};
  EXPECT_STREQ(smapi_format_h8_version(four, buffer, sizeof buffer), "1.234");
  smapi_regs three = {0, 0, ('1' << 8) | '2', ('3' << 8), 0, 0};
  EXPECT_STREQ(smapi_format_h8_version(three, buffer, sizeof buffer), "1.23");
  smapi_regs failed = {0x8601, 0, 0x0107, 0, 0, 0};
  EXPECT_STREQ(smapi_format_h8_version(failed, buffer, sizeof buffer), "");
  char tiny[3];
  EXPECT_STREQ(smapi_format_h8_version(numeric, tiny, sizeof tiny), "1.");
}
