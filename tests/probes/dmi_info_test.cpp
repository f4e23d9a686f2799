// dmi_info_test.cpp - the SMBIOS structure report and the firmware table.
#include "dmi_info.h"

#include "zvtest.h"

#include "dmi.h"
#include "firmware_probe.h"
#include "report_check.h"
#include "smbios_root.h"
#include "table.h"
#include "xml.h"

using namespace smbios_test;

namespace {

using rows = std::vector<std::vector<std::string>>;

/// Keeps the report-wide output format and checksums as they were, so that
/// the sections written here do not leak into other tests' reports.
class report_state {
 public:
  report_state() : format(Table::get_output_format()), output(output_checksum), section(section_checksum) {}
  ~report_state() {
    Table::set_output_format(format);
    output_checksum = output;
    section_checksum = section;
  }

 private:
  output_format_type format;
  uint32_t output, section;
};

/// Renders the report of a table in one output format.
class report_of {
 public:
  report_of(const dump& d, output_format_type format = OUTPUT_TEXT) {
    valid = init_from_dump(dmi, d);
    Table::set_output_format(format);
    SetupVersion(&dmi);
    start_section(out.get(), "SMBIOS INFORMATION");
    print_structures(out.get(), &dmi);
    end_section(out.get());
    fflush(out.get());
    text = out.text();
  }
  rows table(const std::string& title) const { return text_table(text, title); }

  bool valid;
  std::string text;

 private:
  report_state state;
  Dmi dmi;
  mem_stream out;
};

dump with_table(const table_builder& t, unsigned char revision = 0x27) { return dump_of(t.data(), revision); }
dump committed(const std::string& name) { return committed_dump(name); }

/// A BIOS structure of the given formatted length (at least 18).
bytes bios_fields(unsigned length, uint32_t characteristics, unsigned char extension = 0) {
  bytes f = {1, 2, 0x00, 0xE0, 3, 2};
  for (int i = 0; i < 4; i++) f.push_back((characteristics >> (8 * i)) & 0xFF);
  f.resize(14, 0);
  f.resize(length - 4, extension);
  return f;
}

}  // namespace

TEST(SmbiosReport, WritesTablesOnlyForTheTypesPresentAndTheExtensionFeaturesOfALongerBios) {
  table_builder t;
  t.add(0, bios_fields(18, 0x80), {"Acme", "1.0", "05/13/2006"});
  t.add(1, bytes(21, 0));
  t.end();
  report_of r(with_table(t));
  ASSERT_TRUE(r.valid);
  EXPECT_EQ(zvtest::count_of(r.text, "Table: "), 3u);
  rows bios = r.table("BIOS Information");
  ASSERT_EQ(bios.size(), 1u);
  EXPECT_EQ(bios[0], (std::vector<std::string>{"Acme", "1.0", "E000h", "2006-05-13", "Unknown"}));
  rows features = r.table("Supported Features");
  ASSERT_EQ(features.size(), 16u);
  EXPECT_EQ(features[3], (std::vector<std::string>{"PCI Supported", "Yes"}));
  EXPECT_EQ(features[4][1], "No");
  EXPECT_FALSE(r.table("System Information").empty());

  table_builder longer;
  longer.add(0, bios_fields(19, 0, 0x81), {"Acme", "1.0", "05/13/2006"});
  features = report_of(with_table(longer)).table("Supported Features");
  ASSERT_EQ(features.size(), 24u);
  EXPECT_EQ(features[16], (std::vector<std::string>{"ACPI Supported", "Yes"}));
  EXPECT_EQ(features[23], (std::vector<std::string>{"Smart Battery BIOS", "Yes"}));
  EXPECT_EQ(features[17][1], "No");
}

TEST(SmbiosReport, LeavesUuidAndWakeUpEmptyForAShortSystemStructure) {
  report_of r(committed("type1-length24"));
  rows system = r.table("System Information");
  ASSERT_EQ(system.size(), 1u);
  EXPECT_EQ(system[0], (std::vector<std::string>{"Acme", "Box 1", "1.0", "SN123", "", ""}));
}

TEST(SmbiosReport, SaysUnknownForFieldsTheStructureIsTooShortToHold) {
  table_builder t;
  bytes processor(22, 0);  // SMBIOS 2.0: 26 bytes, no serial or part number
  processor[0] = 1;
  processor[18] = 100;  // current speed 100 MHz
  processor[20] = 0x41;
  t.add(4, processor, {"CPU0"});
  t.add(7, {1, 0x81, 0x01, 0x10, 0x80, 0x10, 0x80, 0x08, 0x00, 0x08, 0x00}, {"L2"});  // 2.0: 15 bytes
  t.add(22, bytes(12, 0), {"Front"});  // battery fields of 2.2 not there
  for (unsigned char type : {2, 3, 16, 17, 32}) t.add(type, {});
  report_of r(with_table(t, 0x21));
  rows cpu = r.table("Processor Information");
  ASSERT_EQ(cpu.size(), 1u);
  EXPECT_EQ(cpu[0][0], "CPU0");
  EXPECT_EQ(cpu[0][4], "100");
  EXPECT_EQ(cpu[0][5], "Populated, Enabled");
  EXPECT_EQ(cpu[0][6], "Unknown");
  rows cache = r.table("Cache Information");
  ASSERT_EQ(cache.size(), 1u);
  EXPECT_EQ(cache[0], (std::vector<std::string>{"L2", "L2", "Enabled", "WB", "1 M", "Burst", "0", "Unknown",
                                                "Unknown", "Unknown"}));
  EXPECT_EQ(r.table("Portable Battery Information")[0][12], "Unknown");
  EXPECT_EQ(r.table("Baseboard Information")[0], (std::vector<std::string>(4, "Unknown")));
  EXPECT_EQ(r.table("Memory Device Information")[0][4], "0");
  EXPECT_EQ(r.table("Boot Status")[0][0], "Unknown");
}

TEST(SmbiosReport, KeysPortsByDesignatorAndListsEveryOnBoardDevice) {
  table_builder t;
  t.add(8, {1, 0, 2, 0x0F, 0x0E}, {"J1", "K"});  // internal J1, external "K" (too short)
  t.add(8, {0, 0, 0, 0, 0x10});
  t.add(10, {0x83, 1, 0x05, 0}, {"Onboard VGA"});
  report_of r(with_table(t), OUTPUT_ZVML);
  EXPECT_NE(r.text.find("<ROW ID=\"J1\">"), std::string::npos);
  EXPECT_NE(r.text.find("<ROW ID=\"USB\">"), std::string::npos);
  EXPECT_NE(r.text.find("<ROW ID=\"Video\">"), std::string::npos);
  EXPECT_NE(r.text.find(">None</"), std::string::npos);  // the second device has no description
  EXPECT_NE(r.text.find(">Ethernet</"), std::string::npos);
}

TEST(SmbiosDecoders, HandleTheEdgesOfTheirEnumerations) {
  EXPECT_STREQ(getRomSize(2), "Unknown");
  EXPECT_STREQ(getCacheSize(0x8010), "1 M");
  EXPECT_STREQ(getCacheSize(0x0200), "512 K");
  EXPECT_STREQ(getCacheSize(0), "0 K");
  EXPECT_STREQ(getBankConnections(0x01), "RAS 0, RAS 1");
  EXPECT_STREQ(getBankConnections(0xF2), "RAS 2");
  EXPECT_STREQ(getBankConnections(0xFF), "");
  EXPECT_STREQ(getProcessorStatus(0x41), "Populated, Enabled");
  EXPECT_STREQ(getProcessorStatus(0x05), "Error: Invalid Status");
  EXPECT_STREQ(getPowerOfTwoMemorySize(0x89), "512 MB");
  EXPECT_STREQ(getPowerOfTwoMemorySize(10), "1 GB");
  EXPECT_STREQ(getPowerOfTwoMemorySize(11), "Error: Invalid Size");
  EXPECT_STREQ(getMemCtrlCorCapable(0x0C), "Error: Invalid Type");
  EXPECT_STREQ(getConnectorType(33), "1394");
  // Values of later SMBIOS revisions, and the gaps and ends around them.
  const std::pair<const char*, const char*> later[] = {
      {getConnectorType(36), "Error: Invalid Type"}, {getPortType(36), "Error: Invalid Type"},
      {getSlotType(0xB6), "PCI Express 3 x16"},      {getSlotType(0xB7), "Error: Invalid Type"},
      {getSlotType(0xC7), "Error: Invalid Type"},    {getSlotType(0x29), "Error: Invalid Type"},
      {getSlotDataBusWidth(7), "128 bit"},           {getSlotDataBusWidth(8), "1x or x1"},
      {getSlotDataBusWidth(0x0C), "12x or x12"},     {getSlotDataBusWidth(0x0E), "32x or x32"},
      {getSlotDataBusWidth(0x0F), "Error: Invalid Width"},
      {getDeviceType(0x89), "SATA Controller"},      {getAssociativity(15), "Unknown"},
      {Dmi::getType17MemoryType(0x15), "Error: Invalid Type"}, {Dmi::getType17MemoryType(0x23), "LPDDR5"},
  };
  for (const auto& c : later) EXPECT_STREQ(c.first, c.second);
  EXPECT_STREQ(getExtendedRomSize(0x0010), "16M");
  EXPECT_STREQ(getExtendedRomSize(0x4002), "2G");
  EXPECT_STREQ(getExtendedRomSize(0x8001), "Unknown");
  EXPECT_STREQ(getSlotCharacteristics2(0xFD), "Supports PME#, SMBus");
  const char* security[] = {"Disabled", "Enabled", "Not implemented", "Unknown"};
  for (int shift = 6, i = 0; shift >= 0; shift -= 2, i++)
    EXPECT_STREQ(dmi_get_security_status((0x1B >> shift) & 3), security[i]);
}

TEST(SmbiosReport, WritesTheSectionAndTheFirmwareTableFromTheSharedTableAndNothingWithout) {
  auto drop_table = [] {
    delete Dmi::instance;
    Dmi::instance = nullptr;
  };
  temp_root root;
  scoped_sysroot use(root);
  drop_table();
  report_state state;
  Table::set_output_format(OUTPUT_TEXT);
  {
    mem_stream out;
    EXPECT_STREQ(dmi_info(out.get()), "Failed");
    EXPECT_EQ(out.text(), "");
  }
  drop_table();
  ASSERT_TRUE(write_sysfs_tables(root, committed("architected-model")));
  mem_stream out;
  EXPECT_STREQ(dmi_info(out.get()), "OK");
  probe_group group("Firmware Information", 16, "Firmware Information");
  firmware_probe firmware(&group);
  EXPECT_TRUE(firmware.run(out.get()));
  std::string text = out.text();
  drop_table();
  EXPECT_NE(text.find("SMBIOS INFORMATION"), std::string::npos);
  rows fw = text_table(text, "Firmware Information");
  ASSERT_EQ(fw.size(), 2u);
  EXPECT_EQ(fw[0], (std::vector<std::string>{"System BIOS", "4.00", "02/29/2008"}));
  EXPECT_EQ(fw[1], (std::vector<std::string>{"Embedded Controller", "", ""}));
}

// Lines of machine, table title, row, column and the cell's text; a column
// "rows" gives the table's row count instead ("#" starts a comment line).
TEST(SmbiosMachines, ReportSelectedCellsOfCapturedTables) {
  std::map<std::string, std::string> reports;
  const auto cells = zvtest::tsv_rows(machine_fixture_dir("selected-cells.tsv"));
  EXPECT_EQ(cells.size(), 17u);
  for (const auto& f : cells) {
    ASSERT_EQ(f.size(), 5u) << f[0];
    std::string line = f[0] + " " + f[1] + " " + f[4];
    if (!reports.count(f[0])) {
      dump d;
      ASSERT_TRUE(load_machine(f[0], d)) << f[0];
      reports[f[0]] = report_of(d).text;
    }
    rows table = text_table(reports[f[0]], f[1]);
    if (f[3] == "rows") {
      EXPECT_EQ(std::to_string(table.size()), f[4]) << line;
      continue;
    }
    size_t row = std::stoul(f[2]), column = std::stoul(f[3]);
    ASSERT_LT(row, table.size()) << line;
    ASSERT_LT(column, table[row].size()) << line;
    EXPECT_EQ(table[row][column], f[4]) << line;
  }
}

TEST(SmbiosMachines, NameCurrentKindsAsTheirPublishedDecodesDo) {
  // Lines of machine, a tab, and a cell element its report holds.
  std::istringstream lines(zvtest::read_file(machine_fixture_dir("current-values.tsv")));
  std::string machine, element;
  while (std::getline(lines, machine, '\t') && std::getline(lines, element)) {
    dump d;
    ASSERT_TRUE(load_machine(machine, d)) << machine;
    std::string text = report_of(d, OUTPUT_ZVML).text;
    EXPECT_NE(text.find(element + "\r\n"), std::string::npos) << machine << " " << element;
  }
}

TEST(SmbiosMachines, WriteChecksummedReportsThatAddUp) {
  if (!have_xml_parser()) GTEST_SKIP() << "no XML parser linked";
  for (const char* machine : {"lenovo-thinkpad-w510", "lenovo-thinkpad-t480s", "gigabyte-ga-ma74gmt-s2",
                              "vmware-vm", "hyperv-gen1", "supermicro-x9dbl", "toshiba-satellite-pro-l70",
                              "asus-ux307la"}) {
    dump d;
    ASSERT_TRUE(load_machine(machine, d)) << machine;
    report_of r(d, OUTPUT_ZVML);
    std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<GATHERED_DATA>\r\n" + r.text +
                           "</GATHERED_DATA>\r\n";
    zvml_check_result check = check_zvml(document);
    EXPECT_TRUE(check.parsed) << machine << ": " << check.error;
    EXPECT_TRUE(check.mismatches.empty()) << machine << ": " << check.mismatches.size() << " mismatches";
  }
}
