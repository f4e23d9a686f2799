// summary_test.cpp - the "SYSTEM SUMMARY" and "Firmware Information" groups
// rendered against a fixture machine, in the checksummed XML and text forms.
#include "summary.h"

#include "zvtest.h"
#include <sys/utsname.h>

#include "dmi.h"
#include "firmware_probe.h"
#include "osinfo.h"
#include "report_check.h"
#include "report_fixture.h"
#include "smbios_root.h"
#include "sysinfo.h"
#include "table.h"
#include "xml.h"
#include "zelvarn2.h"

using namespace smbios_test;

namespace {

/// A fixture machine: SMBIOS identity and BIOS, a BIOS version text in the
/// BIOS segment and a Red Hat release file. The program-wide objects are
/// dropped around each test so they gather from this root.
class SummaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setlocale(LC_ALL, "C.UTF-8");
    reset_all();
    gatherer_setting(SETTING_DETAIL, SETTING_SET, 5);
    gatherer_setting(SETTING_CUSTOMER, SETTING_SET, 1);
    table_builder t;
    t.add(0, {1, 2, 0x00, 0xE0, 3, 0x0F, 0, 0, 0, 0, 0, 0, 0, 0}, {"Acme BIOS", "R1.07", "03/15/2004"});
    bytes system = {1, 2, 3, 4};
    for (int i = 0; i < 16; i++) system.push_back((unsigned char)(0xF0 - i));
    system.push_back(6);
    t.add(1, system, {"Acme", "Anvil 3000", "1.0", "SN-42"});
    t.end();
    dump d;
    d.table = t.data();
    d.entry = entry_point_32((uint16_t)d.table.size(), 0x000E0000, 0x24, 3);
    ASSERT_TRUE(write_sysfs_tables(root, d));
    memory_image mem;
    std::string version = std::string(1, '\0') + "BIOS Rev 2.05\r";
    mem.put(0xF8000, bytes(version.begin(), version.end()));
    ASSERT_TRUE(mem.save(root));
    ASSERT_TRUE(root.write("/etc/redhat-release", std::string("Red Hat Linux release 9 (Shrike)\n")));
    // The captured kernel, not the one running the test.
    ASSERT_TRUE(root.write("/proc/sys/kernel/hostname", std::string("shrike\n")));
    ASSERT_TRUE(root.write("/proc/sys/kernel/osrelease", std::string("2.4.20-8\n")));
    ASSERT_TRUE(root.write("/proc/sys/kernel/version", std::string("#1 Thu Mar 13 2003\n")));
    sysroot_guard = new scoped_sysroot(root);
  }
  void TearDown() override {
    delete sysroot_guard;
    reset_all();
    gatherer_setting(SETTING_DETAIL, SETTING_SET, saved_detail);
    gatherer_setting(SETTING_CUSTOMER, SETTING_SET, saved_customer);
    reset_report_state();
  }
  static void reset_all() {
    SysInfo::reset();
    delete Dmi::instance;
    Dmi::instance = nullptr;
    delete os_info::instance;
    os_info::instance = nullptr;
  }

  /// The summary group as registered, run into a report of the given format.
  std::string render_summary(output_format_type format) {
    Table::set_output_format(format);
    probe_group group("SYSTEM SUMMARY", 13, "SYSTEM SUMMARY");
    sysinfo_probe current(&group);
    old_sysinfo_probe old(&group);
    mem_stream out;
    EXPECT_TRUE(group.is_valid());
    EXPECT_TRUE(group.run(out.get()));
    return out.text();
  }

  temp_root root;
  scoped_sysroot* sysroot_guard = nullptr;
  int saved_detail = gatherer_setting(SETTING_DETAIL, SETTING_GET);
  int saved_customer = gatherer_setting(SETTING_CUSTOMER, SETTING_GET);
};

bool has(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

std::string zvml_report(const std::string& body) {
  char chk[16];
  snprintf(chk, sizeof chk, "%8X", (unsigned)output_checksum);
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<GATHERED_DATA>\r\n" + body +
         "<CHK>" + chk + "</CHK>\r\n</GATHERED_DATA>\r\n";
}

}  // namespace

// tests/fixtures/summary/pieces.tsv: per line a case, a tab and a piece its
// report holds ("!" before it: must not hold; "\r" and "\n" written so).
TEST_F(SummaryTest, WritesTheTablesOfEachCustomerAndFormat) {
  const struct {
    const char* name;
    output_format_type format;
    int customer;
    size_t tables;
  } cases[] = {{"default", OUTPUT_ZVML, 1, 2}, {"text", OUTPUT_TEXT, 1, 0}, {"other customer", OUTPUT_ZVML, 2, 1}};
  const auto pieces = zvtest::tsv_rows(std::string(ZV_SOURCE_DIR) + "/tests/fixtures/summary/pieces.tsv");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    gatherer_setting(SETTING_CUSTOMER, SETTING_SET, c.customer);
    std::string out = render_summary(c.format);
    if (c.format == OUTPUT_ZVML) {
      EXPECT_EQ(zvtest::count_of(out, "<TABLE "), c.tables) << out;
    }
    size_t checked = 0;
    for (const auto& p : pieces) {
      ASSERT_EQ(p.size(), 2u) << p[0];
      if (p[0] != c.name) continue;
      std::string piece = p[1];
      bool absent = piece[0] == '!';
      if (absent) piece.erase(0, 1);
      for (size_t at; (at = piece.find("\\r\\n")) != std::string::npos;) piece.replace(at, 4, "\r\n");
      EXPECT_EQ(has(out, piece), !absent) << piece << "\n" << out;
      ++checked;
    }
    EXPECT_GT(checked, 0u);
    if (c.format == OUTPUT_ZVML && c.customer == 1 && have_xml_parser()) {
      zvml_check_result r = check_zvml(zvml_report(out));
      EXPECT_TRUE(r.parsed) << r.error;
      EXPECT_TRUE(r.mismatches.empty()) << r.mismatches.front();
    }
  }
}

TEST_F(SummaryTest, ShowsUnknownBiosVersionWhenTheSegmentHasNone) {
  memory_image empty;
  ASSERT_TRUE(empty.save(root));
  std::string out = render_summary(OUTPUT_ZVML);
  EXPECT_TRUE(has(out, "<ASC ID=\"BIOS Version\" W=\"20\">Unknown</ASC>")) << out;
}

TEST_F(SummaryTest, FirmwareTableShowsTheSmbiosBiosAndAnEmptyControllerVersion) {
  Table::set_output_format(OUTPUT_ZVML);
  probe_group group("Firmware Information", 16, "Firmware Information");
  firmware_probe firmware(&group);
  mem_stream out;
  ASSERT_TRUE(group.is_valid());
  EXPECT_TRUE(firmware.run(out.get()));
  std::string text = out.text();
  EXPECT_TRUE(has(text, "<TABLE ID=\"Firmware Information\">\r\n<COLS>3</COLS>\r\n<ROW ID=\"BIOS\">\r\n"
                        "<STR ID=\"Firmware\" W=\"20\">System BIOS</STR>\r\n"
                        "<STR ID=\"Version\" W=\"30\">R1.07</STR>\r\n"))
      << text;
  // The release date as SMBIOS gives it (a date cell shows the text as found
  // when it does not parse).
  EXPECT_TRUE(has(text, "ID=\"Date\" W=\"15\">03/15/2004</"));
  EXPECT_TRUE(has(text, "<ROW ID=\"EC\">\r\n<STR ID=\"Firmware\" W=\"20\">Embedded Controller</STR>\r\n"
                        "<STR ID=\"Version\" W=\"30\"></STR>\r\n<STR ID=\"Date\" W=\"15\"></STR>"));
}
