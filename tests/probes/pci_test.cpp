// pci_test.cpp - the PCI reports over captured machines, the id file's
// lookup rules, VPD through an emulated capability, and the live machine.
#include "zvtest.h"

#include <regex>

#include "pci.h"
#include "pci_probe.h"
#include "pcidb.h"
#include "pcivpd.h"
#include "report_check.h"
#include "report_fixture.h"
#include "sysroot.h"
#include "zelvarn2.h"

namespace {

const std::string FIXTURES = std::string(ZV_SOURCE_DIR) + "/tests/fixtures/pci/";
using row = std::vector<std::string>;  // row id, then the cells

/// The rows of the device table in the checksummed XML form.
std::vector<row> device_rows(const std::string& report) {
  static const std::regex start("^<ROW ID=\"(.*)\">$"), cell("^<[A-Z]+ ID=\"[^\"]*\" W=\"[0-9]+\">(.*)</[A-Z]+>$");
  std::vector<row> rows;
  std::istringstream in(report);
  std::smatch m;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (std::regex_match(line, m, start)) {
      rows.push_back({m[1]});
    } else if (!rows.empty() && std::regex_match(line, m, cell)) {
      rows.back().push_back(m[1]);
    }
  }
  return rows;
}

std::string summary(bool all_buses) {
  mem_stream out;
  Table::set_output_format(OUTPUT_ZVML);
  EXPECT_STREQ(pci_device_summary(out.get(), false, true, all_buses), "OK");
  fflush(out.get());
  return out.text();
}

/// Turns a listing with hex dumps into one file per function under
/// proc/bus/pci, cut to `limit` bytes; returns the files and their bytes.
std::map<std::string, std::string> write_tree(const std::string& dump, const std::string& root, size_t limit) {
  static const std::regex head("^([0-9a-f]{2}):([0-9a-f]{2}\\.[0-7]) .*"), hex("^[0-9a-f]+:((?: [0-9a-f]{2})+)$");
  std::map<std::string, std::string> files;
  std::string current;
  std::ifstream in(dump);
  std::smatch m;
  for (std::string line; std::getline(in, line);) {
    if (std::regex_match(line, m, head)) {
      current = "proc/bus/pci/" + m[1].str() + "/" + m[2].str();
    } else if (!current.empty() && std::regex_match(line, m, hex)) {
      for (size_t i = 1; i < m[1].str().size(); i += 3) files[current] += (char)std::stoi(m[1].str().substr(i, 2), nullptr, 16);
    }
  }
  for (auto& f : files) {
    if (f.second.size() > limit) f.second.resize(limit);
    zvtest::write_file(root, f.first, f.second);
  }
  return files;
}

/// Reads and writes the files as the kernel's but never sleeps while polling.
struct no_wait_space : pci_config_space {
  pci_config_space* files = pci_proc_config_space();
  bool read(unsigned d, unsigned b, unsigned v, unsigned f, unsigned o, void* p, unsigned n) override {
    return files->read(d, b, v, f, o, p, n);
  }
  bool write(unsigned d, unsigned b, unsigned v, unsigned f, unsigned o, const void* p, unsigned n) override {
    return files->write(d, b, v, f, o, p, n);
  }
  void pause(int) override {}
};

class PciTest : public ReportWriterTest {
 protected:
  void SetUp() override {
    ReportWriterTest::SetUp();
    pci_database::reset();
    pci_database::instance = new pci_database();
    pci_database::instance->load((FIXTURES + "pcidb.txt").c_str());
  }
  void TearDown() override {
    pci_database::reset();
    pci_set_config_space(nullptr);
    sysroot_set(nullptr);
    ReportWriterTest::TearDown();
  }
};

}  // namespace

// Each captured machine as the kernel's tree, whole and as an unprivileged
// reader sees it (64 bytes), walked by default (buses 0-15) and over all buses.
TEST_F(PciTest, CapturedMachinesGiveTheRowsReadFromTheirBytes) {
  const char* machines[][2] = {{"fujitsu-p8010", "tree-fujitsu-p8010.lspci.txt"},
                               {"ich7-laptop", "cap-vc-and-rcl.lspci.txt"}};
  for (auto& machine : machines) {
    std::vector<row> expected;
    std::vector<bool> all_only;  // rows marked "*": listed only with buses=all
    for (row r : zvtest::tsv_rows(FIXTURES + machine[0] + ".rows.tsv")) {
      all_only.push_back(!r[0].empty() && r[0][0] == '*');
      if (all_only.back()) r[0].erase(0, 1);
      r.resize(16);
      expected.push_back(r);
    }
    for (size_t limit : {(size_t)4096, (size_t)64}) {
      for (bool all : {false, true}) {
        SCOPED_TRACE(std::string(machine[0]) + (limit == 64 ? " 64 bytes" : " whole") + (all ? " all buses" : ""));
        zvtest::temp_dir root;
        auto files = write_tree(FIXTURES + "machines/" + machine[0] + "/" + machine[1], root.path(), limit);
        sysroot_set(root.path().c_str());
        no_wait_space space;
        pci_set_config_space(&space);
        std::vector<row> want;
        for (size_t i = 0; i < expected.size(); i++)
          if (all || !all_only[i]) want.push_back(expected[i]);
        EXPECT_EQ(device_rows(summary(all)), want);
        pci_set_config_space(nullptr);
        // Nothing under a root is written (not even the VPD address
        // register): the VPD cells of the rows above stay empty.
        size_t changed = 0;
        for (auto& f : files) {
          std::string now = zvtest::read_file(root.file(f.first));
          ASSERT_EQ(now.size(), f.second.size()) << f.first;
          for (size_t i = 0; i < now.size(); i++) changed += now[i] != f.second[i];
        }
        EXPECT_EQ(changed, 0u);
      }
    }
  }
}

// Buses above 15 and other domains are walked only on request; a domain
// other than 0 comes before the bus in the row id.
TEST_F(PciTest, HighBusesAndOtherDomainsOnlyWhenAllBusesAreAsked) {
  std::string header(64, '\0');
  header[0] = 0x00, header[1] = 0x10, header[2] = 0x01, header[8] = 0x02, header[0x0B] = 0x02;
  zvtest::temp_dir root;
  for (const char* f : {"proc/bus/pci/00/1f.0", "proc/bus/pci/10/00.0", "proc/bus/pci/0001:03/02.0",
                        "proc/bus/pci/00/zz.0", "proc/bus/pci/devices"})
    zvtest::write_file(root.path(), f, header);
  sysroot_set(root.path().c_str());
  for (bool all : {false, true}) {
    std::vector<std::string> ids;
    for (const row& r : device_rows(summary(all))) ids.push_back(r[0] + " " + r[8]);
    std::vector<std::string> want = {"1000:0001:02 - 0:31:0 Alpha One rev 2"};
    if (all) want.insert(want.end(), {"1000:0001:02 - 16:0:0 Alpha One rev 2", "1000:0001:02 - 1:3:2:0 Alpha One rev 2"});
    EXPECT_EQ(ids, want);
  }
}

TEST_F(PciTest, IdFileLookupsFollowTheRecordOrder) {
  const pci_database& db = *pci_database::instance;
  const auto cases = zvtest::tsv_rows(FIXTURES + "lookups.tsv");
  EXPECT_EQ(cases.size(), 18u);
  for (const auto& c : cases) {
    ASSERT_EQ(c.size(), 9u) << c[0];
    SCOPED_TRACE(c[0] + " " + c[1]);
    unsigned v[5];
    for (int i = 0; i < 5; i++) v[i] = unsigned(std::stoul(c[i], nullptr, 16));
    EXPECT_STREQ(db.get_vendor_name(v[0]), c[5].c_str());
    EXPECT_STREQ(db.get_device_name(v[0], v[1], v[2]), c[6].c_str());
    EXPECT_STREQ(db.get_subsys_vendor_name(v[0], v[3], v[4]), c[7].c_str());
    EXPECT_STREQ(db.get_subsys_device_name(v[0], v[1], v[2], v[3], v[4]), c[8].c_str());
  }
  // A name cut inside a UTF-8 character loses the whole character.
  EXPECT_EQ(std::string(db.get_vendor_name(0x7000)), std::string(247, 'a'));
  EXPECT_EQ(db.get_longest_name(), 248);
  wchar_t wide[8];
  EXPECT_STREQ(db.get_vendor_name(wide, 8, 0x1000), L"Alpha V");
  // The class list: C base classes, U sub-classes; unlisted codes have none.
  EXPECT_STREQ(db.get_class_name(0x12), "Processing accelerators");
  EXPECT_STREQ(db.get_sub_class_name(0x0106), "SATA controller");
  EXPECT_EQ(db.get_class_name(0x01), nullptr);
  EXPECT_EQ(db.get_sub_class_name(0x0107), nullptr);
}

// The vendor index answers as a scan from the first record would, over the
// whole generated file: every vendor id in it, repeated ids, and absent ids.
TEST(PciDatabase, GeneratedFileIndexAgreesWithAScan) {
  pci_database db;
  std::string path = std::string(ZV_BINARY_DIR) + "/pcidb.txt";
  if (db.load(path.c_str()) == 0) GTEST_SKIP() << "no generated " << path;
  EXPECT_GT(db.get_record_count(), 10000);
  std::set<unsigned> ids = {0, 0xFFFF, 0x10000, 0x1234567};
  for (int i = 0; i < db.get_record_count(); i += 7) ids.insert(db.get_id(i) & 0xFFFF);
  for (unsigned id : ids) {
    int scan = -1;
    for (int i = 0; i < db.get_record_count() && scan < 0; i++)
      if (db.get_type(i) == 'V' && db.get_id(i) == id) scan = i;
    ASSERT_EQ(db.get_vendor(id), scan) << std::hex << id;
  }
  EXPECT_STREQ(db.get_vendor_name(0x8086), "Intel Corporation");
  // The class list of the same id list follows the vendors.
  for (auto& c : {std::make_pair(0x0106u, "SATA controller"), std::make_pair(0x0107u, "Serial Attached SCSI controller"),
                  std::make_pair(0x0108u, "Non-Volatile memory controller"), std::make_pair(0x0403u, "Audio device"),
                  std::make_pair(0x0805u, "SD Host controller")})
    EXPECT_STREQ(db.get_sub_class_name(c.first), c.second) << std::hex << c.first;
  EXPECT_STREQ(db.get_class_name(0x12), "Processing accelerators");
}

namespace {

/// One function (0:0.0) with a VPD capability at 0x40 whose address, flag
/// and data registers behave as the hardware's: a write of the address
/// starts a read, the flag's top bit tells it is done, the data register
/// then holds the four bytes from that address.
struct vpd_device : pci_config_space {
  unsigned char config[256] = {};
  std::string vpd;
  int answers;  ///< address writes the device completes; -1: all
  int selects = 0, pauses = 0, stray_writes = 0;

  vpd_device(const std::string& image, int answer_count) : vpd(image), answers(answer_count) {
    config[6] = 0x10;
    config[0x34] = 0x40;
    config[0x40] = 3;
  }
  bool read(unsigned d, unsigned b, unsigned v, unsigned f, unsigned o, void* p, unsigned n) override {
    if (d || b || v || f || o + n > sizeof config) return false;
    memcpy(p, config + o, n);
    return true;
  }
  bool write(unsigned, unsigned, unsigned, unsigned, unsigned o, const void* p, unsigned n) override {
    if (o != 0x42 || n != 2) return ++stray_writes, false;
    memcpy(config + o, p, n);
    unsigned address = config[0x42] | (config[0x43] << 8);
    if (answers >= 0 && ++selects > answers) return true;
    config[0x43] |= 0x80;
    for (unsigned i = 0; i < 4; i++) config[0x44 + i] = address + i < vpd.size() ? vpd[address + i] : 0;
    return true;
  }
  void pause(int) override { pauses++; }
};

}  // namespace

// The current directory first, then beside the program, then the data
// directory of the program's prefix (an installed program, "../share/zelvarn2").
TEST(PciDatabase, FoundInTheCurrentDirectoryBesideTheProgramOrInTheDataDirectory) {
  zvtest::temp_dir prefix, cwd;
  ASSERT_TRUE(zvtest::write_file(prefix.path(), "share/zelvarn2/pcidb.txt", "V 8086 Data directory\n"));
  ASSERT_EQ(mkdir(prefix.file("bin").c_str(), 0755), 0);
  const std::string bin = prefix.file("bin");
  const char* saved_path = gatherer_filename(FILENAME_PATH, SETTING_GET);
  gatherer_filename(FILENAME_PATH, SETTING_SET, bin.c_str());
  char saved_cwd[4096];
  ASSERT_NE(getcwd(saved_cwd, sizeof saved_cwd), nullptr);
  ASSERT_EQ(chdir(cwd.path().c_str()), 0);
  const struct {
    const char* place;  // written before the load, in this order
    const char* vendor;
  } steps[] = {{"", "Data directory"}, {"bin/pcidb.txt", "Beside"}, {"cwd", "Current"}};
  for (const auto& step : steps) {
    std::string place = step.place;
    if (place == "cwd") {
      ASSERT_TRUE(zvtest::write_file(cwd.path(), "pcidb.txt", "V 8086 Current\n"));
    } else if (!place.empty()) {
      ASSERT_TRUE(zvtest::write_file(prefix.path(), place, "V 8086 Beside\n"));
    }
    pci_database db;
    EXPECT_EQ(db.load(), 1);
    EXPECT_STREQ(db.get_vendor_name(0x8086), step.vendor);
  }
  ASSERT_EQ(chdir(saved_cwd), 0);
  gatherer_filename(FILENAME_PATH, SETTING_SET, saved_path);
}

TEST_F(PciTest, VpdIsReadThroughTheCapabilityRegisters) {
  using namespace std::string_literals;
  const std::string keywords = "\x90\x24\x00"s + "PN\x03P/N" + "EC\x02" "A1" + "MN\x02" "MN" + "SN\x04S\x01N9" +
                               "vz\x02zz" + "YA\x01y" + "RV\x01\x00"s;
  const std::string standard = "\x82\x09\x00Product X"s + keywords + "\x78";
  struct {
    const char* what;
    std::string image;
    int answers;
    std::vector<std::pair<int, int>> patch;  ///< configuration bytes changed
    std::vector<std::string> slots;          ///< product, PN, EC, MN, SN, VZ
    int pauses;
  } cases[] = {
      {"keywords into their slots", standard, -1, {}, {"Product X", "P/N", "A1", "MN", "S.N9", "zz"}, 0},
      {"first resource not VPD", "\x81\x02\x00" "ab"s + standard, -1, {}, {"", "", "", "", "", ""}, 0},
      {"never ready: one wait", standard, 0, {}, {"", "", "", "", "", ""}, PCI_VPD_POLLS},
      {"stops answering midway", standard, 11, {}, {"Product X", "", "", "", "", ""}, PCI_VPD_POLLS},
      {"keyword past its resource", "\x90\x09\x00PN\x02" "abEC\x09x"s, -1, {}, {"", "ab", "", "", "", ""}, 0},
      {"resource past 0x7FFF", "\x82\x02\x00ok\x90\xff\xff"s, -1, {}, {"ok", "", "", "", "", ""}, 0},
      {"no end tag before 0x7FFF", std::string(0x9000, '\x10'), -1, {}, {"", "", "", "", "", ""}, 0},
      {"capability loop without VPD", standard, -1, {{0x40, 5}, {0x41, 0x40}}, {"", "", "", "", "", ""}, 0},
      {"no capability list", standard, -1, {{6, 0}}, {"", "", "", "", "", ""}, 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    vpd_device device(c.image, c.answers);
    for (auto& p : c.patch) device.config[p.first] = (unsigned char)p.second;
    pci_set_config_space(&device);
    pci_vpd_xxx record;
    int capability = pcivpd_find_capability(0, 0, 0);
    if (capability) pcivpd_analyse_vpd(0, 0, 0, capability, &record);
    std::vector<std::string> got(record.slot, record.slot + 5);
    got.push_back(record.slot[pci_vpd_xxx::VENDOR_A + 25]);
    EXPECT_EQ(got, c.slots);
    EXPECT_EQ(device.pauses, c.pauses);
    EXPECT_EQ(device.stray_writes, 0);
    EXPECT_LE(device.selects, 0x8000);
    pci_set_config_space(nullptr);
  }
}

TEST(PciNames, ClassNamesAndBlacklistAsTheReportSpellsThem) {
  EXPECT_STREQ(PCI_ClassName(0x0F), "Sattelite Communications");
  EXPECT_STREQ(PCI_ClassName(0x11), "Data Aquisition & Signal Processing");
  EXPECT_STREQ(PCI_ClassName(0x12), "Unknown");
  EXPECT_STREQ(PCI_SubClassName(0x0C05), "SMBus Controller");
  EXPECT_STREQ(PCI_SubClassName(0x0C06), "Unknown");
  EXPECT_STREQ(PCI_SubClassName(0x0106), "Unknown");
  EXPECT_TRUE(is_pci_blacklisted("toshiba Corporation"));
  EXPECT_FALSE(is_pci_blacklisted("TOSHIB"));
  EXPECT_FALSE(is_pci_blacklisted("Dell Inc."));
}

// The live machine: every function the kernel lists on buses 0-15, named
// from the generated id file.
TEST_F(PciTest, LiveMachineListsEveryFunctionOfTheLowBuses) {
  std::ifstream devices("/proc/bus/pci/devices");
  if (!devices) GTEST_SKIP() << "no PCI on this machine";
  std::set<std::string> want;
  for (std::string line; std::getline(devices, line);) {
    unsigned bdf = std::stoul(line.substr(0, 4), nullptr, 16);
    if ((bdf >> 8) <= 15)
      want.insert(std::to_string(bdf >> 8) + ":" + std::to_string((bdf >> 3) & 31) + ":" + std::to_string(bdf & 7));
  }
  pci_database::reset();
  pci_database::instance = new pci_database();
  bool named = pci_database::instance->load((std::string(ZV_BINARY_DIR) + "/pcidb.txt").c_str()) > 0;
  std::set<std::string> got;
  for (const row& r : device_rows(summary(false))) {
    got.insert(r[1] + ":" + r[2] + ":" + r[3]);
    if (named) {
      EXPECT_NE(r[6], "Unknown") << r[0];
    }
  }
  EXPECT_EQ(got, want);
}
