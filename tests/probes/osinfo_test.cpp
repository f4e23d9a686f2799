// osinfo_test.cpp - distribution detection from release files under a
// fixture system root, the vendor table and the platform mask.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "harness.h"
#include "osinfo.h"
#include "sysroot.h"

namespace {

/// Detects the distribution of a fixture root.
std::string detected_name(const zvtest::fixture_root& root, std::string* vendor = nullptr) {
  sysroot_set(root.path().c_str());
  os_info_linux os;
  sysroot_set(nullptr);
  char buf[128];
  if (vendor) *vendor = os.get_vendor(buf, sizeof buf);
  return os.get_name(buf, sizeof buf);
}

TEST(OsInfo, RedHatFileIsTakenBeforeSuse) {
  zvtest::fixture_root root;
  root.add("/etc/SuSE-release", "SuSE Linux 9.0 (i586)\nVERSION = 9.0\n")
      .add("/etc/redhat-release", "Red Hat Enterprise Linux AS release 3 (Taroon)\n");
  std::string vendor;
  EXPECT_EQ(detected_name(root, &vendor), "Red Hat Enterprise Linux AS release 3 (Taroon)");
  EXPECT_EQ(vendor, "Red Hat, Inc.");
}

TEST(OsInfo, DebianVersionFileGivesAVersionWithoutVendor) {
  zvtest::fixture_root root;
  root.add("/etc/debian_version", "12.5\r\n").add("/etc/redhat-release", "Red Hat\n");
  std::string vendor;
  EXPECT_EQ(detected_name(root, &vendor), "12.5");
  EXPECT_EQ(vendor, "Unknown");
}

TEST(OsInfo, LastMatchingVendorWins) {
  zvtest::fixture_root root;
  root.add("/etc/redhat-release", "Red Hat on SuSE\n");
  std::string vendor;
  detected_name(root, &vendor);
  EXPECT_EQ(vendor, "SuSE Linux AG");
}

TEST(OsInfo, ReleaseLineIsCutTo127Characters) {
  zvtest::fixture_root root;
  root.add("/etc/mandrake-release", std::string(5000, 'M') + "\nsecond\n");
  EXPECT_EQ(detected_name(root), std::string(127, 'M'));
}

TEST(OsInfo, WithoutReleaseFilesThePrettyNameOfOsReleaseIsUnquoted) {
  zvtest::fixture_root root;
  root.add("/etc/os-release", "NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12 \\\"bookworm\\\"\"\n");
  EXPECT_EQ(detected_name(root), "Debian GNU/Linux 12 \"bookworm\"");
  zvtest::fixture_root lib;
  lib.add("/usr/lib/os-release", "PRETTY_NAME='Slackware 15'\n");
  std::string vendor;
  EXPECT_EQ(detected_name(lib, &vendor), "Slackware 15");
  EXPECT_EQ(vendor, "Slackware Linux, Inc.");
  zvtest::fixture_root bare;
  bare.add("/etc/os-release", "PRETTY_NAME=Plain   \n");
  EXPECT_EQ(detected_name(bare), "Plain");
}

TEST(OsInfo, EmptyRootLeavesUnknown) {
  zvtest::fixture_root root;
  root.add("/etc/debian_version", "").add("/etc/os-release", "PRETTY_NAME=\"\"\n");
  EXPECT_EQ(detected_name(root), "Unknown");
}

TEST(OsInfo, LinuxMasksNeedBitZero) {
  zvtest::fixture_root root;
  sysroot_set(root.path().c_str());
  os_info_linux os;
  sysroot_set(nullptr);
  EXPECT_EQ(os.get_platform_id(), 1);
  EXPECT_FALSE(os.is(0x2F70));
  EXPECT_TRUE(os.is(0x2F71));
  char buf[8];
  EXPECT_STREQ(os.get_platform_id(buf, sizeof buf), "Linux");
  EXPECT_STREQ(os.get_build(buf, sizeof buf), "");
  char tiny[4];
  EXPECT_STREQ(os.get_name(tiny, sizeof tiny), "Unk");
  char version[512];
  os.get_version(version, sizeof version);
  EXPECT_NE(std::string(version).find(' '), std::string::npos);
}

TEST(OsInfo, InstanceIsMadeOnceOnFirstUse) {
  os_info* first = os_info::get_instance();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(os_info::get_instance(), first);
  EXPECT_EQ(os_info::instance, first);
}

}  // namespace
