// memory_test.cpp - the memory statistics of captured-layout meminfo files
// (tests/fixtures/meminfo), of an absent file, and of this machine.
#include "zvtest.h"

#include "memory_probe.h"
#include "report_check.h"
#include "report_fixture.h"
#include "smbios_root.h"
#include "sysroot.h"

namespace {

using rows = std::vector<std::vector<std::string>>;

/// The table's rows; a probe that fails must write no table and make its
/// group fail.
rows statistics(const char* root) {
  sysroot_set(root);
  // The member runs here whatever the run settings and the platform say.
  struct any_platform : memory_probe {
    using memory_probe::memory_probe;
    bool validate_platform() override { return true; }
    bool validate_detail() override { return true; }
    bool validate_customers() override { return true; }
  };
  memory_group group;
  any_platform probe(&group, 0x0001, 0xFFFF);
  mem_stream out, section;
  bool ok = probe.run(out.get());
  fflush(out.get());
  EXPECT_EQ(group.run(section.get()), ok);
  sysroot_set(nullptr);
  rows table = smbios_test::text_table(out.text(), "Memory Statistics");
  EXPECT_EQ(ok, !table.empty());
  if (!ok) {
    EXPECT_EQ(out.text().find("Memory Statistics"), std::string::npos);
  }
  return table;
}

std::string without_comments(const std::string& text) {
  std::istringstream in(text);
  std::string kept;
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, 1, "#") != 0) kept += line + "\n";
  return kept;
}

class MemoryTest : public ReportWriterTest {
 protected:
  void SetUp() override {
    ReportWriterTest::SetUp();
    Table::set_output_format(OUTPUT_TEXT);
  }
};

}  // namespace

TEST_F(MemoryTest, MeminfoFilesGiveTheirExpectedRows) {
  const std::string dir = std::string(ZV_SOURCE_DIR) + "/tests/fixtures/meminfo/";
  int files = 0;
  for (const std::string& name : zvtest::list_dir(dir)) {
    if (name.size() < 9 || name.compare(name.size() - 8, 8, ".meminfo") != 0) continue;
    SCOPED_TRACE(name);
    smbios_test::temp_root root;
    ASSERT_TRUE(root.write("proc/meminfo", without_comments(zvtest::read_file(dir + name))));
    rows expected;
    std::istringstream want(zvtest::read_file(dir + name.substr(0, name.size() - 8) + ".expected"));
    for (std::string line; std::getline(want, line);) expected.push_back(zvtest::split(line, '|'));
    EXPECT_EQ(statistics(root.path().c_str()), expected);
    ++files;
  }
  EXPECT_EQ(files, 6);

  // No source at all fails as an empty one does.
  smbios_test::temp_root empty;
  EXPECT_EQ(statistics(empty.path().c_str()), rows());
}

TEST_F(MemoryTest, ThisMachineReportsTheKernelsTotal) {
  std::ifstream in("/proc/meminfo");
  unsigned long long total_kb = 0;
  for (std::string word; in >> word;)
    if (word == "MemTotal:" && in >> total_kb) break;
  ASSERT_GT(total_kb, 0u);
  rows r = statistics(nullptr);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0][3], std::to_string(total_kb * 1024));
  EXPECT_LE(std::stoull(r[0][7]), total_kb * 1024);
}
