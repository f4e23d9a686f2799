// sysinfo_test.cpp - the computer's identity and the system summary tables.
#include "sysinfo.h"

#include <gtest/gtest.h>

#include "dmi.h"
#include "osinfo.h"
#include "platform_paths.h"
#include "report_check.h"
#include "smbios_root.h"
#include "summary.h"
#include "sysroot.h"
#include "table.h"

using namespace smbios_test;

namespace {

/// A machine root with a memory image; the shared SMBIOS and summary objects
/// are made afresh under it and dropped afterwards.
class machine_root {
 public:
  machine_root() { forget(); }
  ~machine_root() { forget(); }
  void forget() {
    delete Dmi::instance;
    Dmi::instance = nullptr;
    delete SysInfo::instance;
    SysInfo::instance = nullptr;
  }
  temp_root root;
  memory_image mem;
};

struct distribution_answer {
  std::string vendor, name, release;
};

distribution_answer detect(const std::string& root) {
  sysroot_set(root.c_str());
  char vendor[SYSINFO_VENDOR_SIZE], name[SYSINFO_NAME_SIZE], release[SYSINFO_RELEASE_SIZE];
  check_files(vendor, name, release);
  sysroot_set(nullptr);
  return {vendor, name, release};
}

}  // namespace

TEST(SysInfo, TakesVendorModelAndSerialFromTheVpdAndTheUuidFromSmbios) {
  machine_root m;
  dump d;
  ASSERT_TRUE(load_dump_file(hand_built_path("no-strings.bin"), d));
  m.mem.put_dump(d, 0xF0000, 0x10000);
  m.mem.put(0xF8000, vpd_block("KJET29WW ", "L3A1234", "VQ1ABCDEFGH", "2373ABC"));
  ASSERT_TRUE(m.mem.save(m.root));
  scoped_sysroot use(m.root);
  SysInfo info;
  EXPECT_STREQ(info.OEM(), "HALVEX");
  EXPECT_STREQ(info.Model(), "2373ABC");
  EXPECT_STREQ(info.Serial(), "L3A1234");
  EXPECT_STREQ(info.UUID(), "00112233445566778899aabbccddeeff");
}

TEST(SysInfo, FallsBackToSmbiosAndCleansWhatItKeeps) {
  machine_root m;
  dump d;
  ASSERT_TRUE(load_dump_file(hand_built_path("architected-model.bin"), d));
  ASSERT_TRUE(write_sysfs_tables(m.root, d));
  scoped_sysroot use(m.root);
  SysInfo info;
  EXPECT_STREQ(info.OEM(), "HALVEX");
  EXPECT_STREQ(info.Model(), "4455");
  EXPECT_STREQ(info.Serial(), "99X1234");
  EXPECT_STRNE(info.NodeName(), "");
  info.set_vendor(" _ __\t");
  EXPECT_STREQ(info.OEM(), "Unknown");
  info.set_serial("__ AB 12_\n");
  EXPECT_STREQ(info.Serial(), "AB 12");
  info.set_uuid("  ");
  EXPECT_STREQ(info.UUID(), "");
}

TEST(SysInfo, KeepsUnknownIdentityWithoutFirmwareTables) {
  machine_root m;
  scoped_sysroot use(m.root);
  SysInfo info;
  EXPECT_STREQ(info.OEM(), "Unknown");
  EXPECT_STREQ(info.Model(), "Unknown");
  EXPECT_STREQ(info.Serial(), "Unknown");
  EXPECT_STREQ(info.UUID(), "Unknown");
  EXPECT_STREQ(info.OSType(), "Linux (generic)");
  EXPECT_STREQ(info.OSBuild(), "Unknown");
}

TEST(Distribution, TakesTheFirstReleaseFileAndItsFirstNonEmptyLine) {
  zvtest::fixture_root both;
  both.add(platform_path::suse_release, "SUSE Linux Enterprise Server 9\n")
      .add(platform_path::redhat_release, "\n\nRed Hat Enterprise Linux AS release 4\n");
  distribution_answer a = detect(both.path());
  EXPECT_EQ(a.vendor, "Red Hat, Inc.");
  EXPECT_EQ(a.name, "Red Hat");
  EXPECT_EQ(a.release, "Red Hat Enterprise Linux AS release 4");

  zvtest::fixture_root empty_debian;
  empty_debian.add(platform_path::debian_version, "");
  a = detect(empty_debian.path());
  EXPECT_EQ(a.vendor, "Debian");
  EXPECT_EQ(a.release, "Unknown");

  zvtest::fixture_root long_line;
  long_line.add(platform_path::turbolinux_release, std::string(400, 'T') + "\nsecond\n");
  EXPECT_EQ(detect(long_line.path()).release, std::string(255, 'T'));
}

TEST(Distribution, TellsIssueTextsApartByTheirStart) {
  zvtest::fixture_root slackware;
  slackware.add(platform_path::issue, "\n\nSlackware 10.2.0\n\n");
  distribution_answer a = detect(slackware.path());
  EXPECT_EQ(a.vendor, "Slackware Linux, Inc.");
  EXPECT_EQ(a.name, "Slackware");
  EXPECT_EQ(a.release, "Slackware 10.2.0");

  zvtest::fixture_root other;
  other.add(platform_path::issue, "Welcome to \\n\n");
  a = detect(other.path());
  EXPECT_EQ(a.vendor, "Unknown");
  EXPECT_EQ(a.name, "generic");
  EXPECT_EQ(a.release, "Unknown");
  EXPECT_EQ(dist_check("Mandrake Linux 10"), 5);
  EXPECT_EQ(dist_check("Calder"), -1);
}

TEST(SummaryProbe, WritesIdentityAndOperatingSystemTables) {
  machine_root m;
  dump d;
  ASSERT_TRUE(load_dump_file(hand_built_path("architected-model.bin"), d));
  ASSERT_TRUE(write_sysfs_tables(m.root, d));
  std::string bios = "\x01" "Acme BIOS Rev 4.00\x01";
  m.mem.put(0xFE000, bytes(bios.begin(), bios.end()));
  ASSERT_TRUE(m.mem.save(m.root));
  zvtest::write_file(m.root.path(), platform_path::debian_version, "12.5\n");
  scoped_sysroot use(m.root);
  output_format_type saved = Table::get_output_format();
  Table::set_output_format(OUTPUT_TEXT);
  mem_stream out;
  probe_group group("SYSTEM SUMMARY", 13, "SYSTEM SUMMARY");
  sysinfo_probe current(&group);
  old_sysinfo_probe old(&group);
  EXPECT_TRUE(current.run(out.get()));
  EXPECT_TRUE(old.run(out.get()));
  Table::set_output_format(saved);
  std::string text = out.text();
  auto tables = text_table(text, "System Summary");
  ASSERT_EQ(tables.size(), 1u);
  EXPECT_EQ(tables[0][1], "HALVEX");
  EXPECT_EQ(tables[0][2], "4455");
  EXPECT_EQ(tables[0][4], "Acme BIOS Rev 4.00");
  EXPECT_EQ(tables[0][6], "00112233445566778899aabbccddeeff");
  EXPECT_EQ(text_table(text, "Operating System")[0][5], "Linux");
  size_t second = text.find("Table: System Summary", text.find("Table: System Summary") + 1);
  ASSERT_NE(second, std::string::npos);
  auto old_rows = text_table(text.substr(second), "System Summary");
  ASSERT_EQ(old_rows.size(), 1u);
  EXPECT_EQ(old_rows[0][5], "Debian");
  EXPECT_EQ(old_rows[0][7], "Linux (Debian)");
  EXPECT_EQ(old_rows[0][9], "12.5");
  delete os_info::instance;
  os_info::instance = nullptr;
}
