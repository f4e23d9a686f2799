// cpu_test.cpp - the processor tables for recorded CPUID register values
// (tests/fixtures/cpu/cases.txt: every name table row and the odd cases), and
// the package table for the recorded answers of real processors
// (tests/fixtures/cpuid/packages.tsv).
#include "zvtest.h"

#include "cpu.h"
#include "cpuid_dump.h"
#include "report_check.h"
#include "report_fixture.h"
#include "report_rows.h"
#include "smbios_root.h"

namespace {

/// Answers leaves 0 and 1 from recorded registers.
class recorded_cpuid : public cpuid_source {
 public:
  recorded_cpuid(const std::string& vendor, uint32_t signature, uint32_t features)
      : signature(signature), features(features) {
    memcpy(id, vendor.data(), std::min<size_t>(12, vendor.size()));
  }
  bool cpuid(int32_t leaf, int32_t& eax, int32_t& ebx, int32_t& ecx, int32_t& edx) override {
    if (leaf == 0) {
      eax = 1;
      memcpy(&ebx, id, 4);
      memcpy(&edx, id + 4, 4);
      memcpy(&ecx, id + 8, 4);
    } else {
      eax = static_cast<int32_t>(signature);
      ebx = ecx = -1;  // discarded by the probe
      edx = static_cast<int32_t>(features);
    }
    return true;
  }

 private:
  char id[12] = {};
  uint32_t signature, features;
};

class CpuTest : public ReportWriterTest {
 protected:
  void SetUp() override {
    ReportWriterTest::SetUp();
    Table::set_output_format(OUTPUT_TEXT);
  }
};

}  // namespace

TEST_F(CpuTest, RecordedRegistersGiveTheFamilyAndFlagTables) {
  std::ifstream in(std::string(ZV_SOURCE_DIR) + "/tests/fixtures/cpu/cases.txt");
  int cases = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    SCOPED_TRACE(line);
    size_t split_at = line.find("||");
    std::vector<std::string> regs = zvtest::split(line.substr(0, split_at), '|'),
                             want = zvtest::split(line.substr(split_at + 2), '|');
    std::string vendor = regs[0];
    for (size_t at; (at = vendor.find("\\0")) != std::string::npos;) vendor.replace(at, 2, 1, '\0');
    recorded_cpuid source(vendor, std::stoul(regs[1], nullptr, 16), std::stoul(regs[2], nullptr, 16));
    cpu_probe probe(&source);
    mem_stream out;
    ASSERT_TRUE(probe.run(out.get()));
    fflush(out.get());
    std::string text = out.text();
    auto family = smbios_test::text_table(text, "CPU Family Information");
    auto flags = smbios_test::text_table(text, "CPU Flags");
    ASSERT_EQ(family.size(), 1u) << text;
    EXPECT_EQ(family[0], std::vector<std::string>(want.begin(), want.begin() + 6));
    std::vector<std::vector<std::string>> want_flags = {
        {"MMX", want[6]}, {"SSE", want[7]}, {"SSE2", want[8]}, {"Hyper-Threading", want[9]}};
    EXPECT_EQ(flags, want_flags);
    ++cases;
  }
  EXPECT_EQ(cases, 37 + 16 + 8);
}

namespace {

/// The package table's rows in the checksummed XML form: row id, then the cells.
std::vector<std::vector<std::string>> package_rows(cpuid_source& source) {
  Table::set_output_format(OUTPUT_ZVML);
  mem_stream out;
  cpu_write_packages(out.get(), source);
  fflush(out.get());
  std::vector<std::vector<std::string>> rows;
  zvtest::table_rows tables = zvtest::report_rows(out.text());
  for (const std::string& row : tables["Processor Packages"]) rows.push_back(zvtest::split(row));
  return rows;
}

}  // namespace

// Each recorded processor gives its expected package row, and gives it again
// after its answers went through the writer of the same text form.
TEST_F(CpuTest, RecordedProcessorsGiveTheirPackageRows) {
  const std::string dir = std::string(ZV_SOURCE_DIR) + "/tests/fixtures/cpuid/";
  int processors = 0;
  for (std::vector<std::string> want : zvtest::tsv_rows(dir + "packages.tsv")) {
    want.resize(11);
    SCOPED_TRACE(want[0]);
    // "<processor> without <leaf>": the dump with that leaf's lines left out.
    std::string processor = want[0].substr(0, want[0].find(' ')), recorded, without;
    if (processor.size() < want[0].size()) without = "CPUID " + want[0].substr(want[0].rfind(' ') + 1) + ":";
    for (const std::string& name : zvtest::list_dir(dir + processor))
      if (name.find("_CPUID.txt") != std::string::npos) recorded = zvtest::read_file(dir + processor + "/" + name);
    std::istringstream lines(recorded);
    std::string kept;
    for (std::string l; std::getline(lines, l);)
      if (without.empty() || l.compare(0, without.size(), without) != 0) kept += l + "\n";
    cpuid_dump dump;
    ASSERT_GT(dump.parse(kept.data(), kept.size()), 0);
    want[0] = want[1];  // the row id is the package number
    EXPECT_EQ(package_rows(dump), std::vector<std::vector<std::string>>{want});

    mem_stream out;
    write_cpuid_dump(out.get(), dump);
    std::string text = out.text();
    cpuid_dump again;
    EXPECT_EQ(again.parse(text.data(), text.size()), dump.cpu_count());
    EXPECT_EQ(package_rows(again), std::vector<std::vector<std::string>>{want});
    ++processors;
  }
  EXPECT_EQ(processors, 8);
}

// The text form's edges: subleaves by note or by order, other sections and
// CR LF line ends, headings without answers, malformed answer lines.
TEST(CpuidDump, ReadsBlocksAnswersAndSubleaves) {
  const std::string text =
      "------[ CPU Info ]------\r\nCPUID 00000000: 00000001-00000002-00000003-00000004\r\n"
      "------[ Logical CPU #0 ]------\r\n"
      "CPUID 00000004: 00000001-00000000-00000000-00000000\r\n"
      "CPUID 00000004: 00000002-00000000-00000000-00000000\r\n"
      "CPUID 0000000B: 0000000B-00000000-00000000-00000000 [SL 01] [note]\n"
      "CPUID 0000000C: 0000000C-00000000-00000000-0000000\n"
      "CPUID 0000000D: 0000000D-00000000-00000000-00000000-\n"
      "------[ MSR Registers / Logical CPU #0 ]------\n"
      "CPUID 00000007: 00000007-00000000-00000000-00000000\n"
      "------[ CPUID Registers / Logical CPU #1 ]------\n"
      "------[ CPUID Registers / Logical CPU #2 ]------\n"
      "CPUID 80000000: 80000008-00000000-00000000-00000000";
  cpuid_dump d;
  ASSERT_EQ(d.parse(text.data(), text.size()), 2);
  EXPECT_EQ(d.answer(0, 4, 0).eax, 1u);
  EXPECT_EQ(d.answer(0, 4, 1).eax, 2u);
  EXPECT_EQ(d.answer(0, 0xB, 1).eax, 0xBu);
  EXPECT_EQ(d.answer(0, 0xB, 0).eax, 0u);
  EXPECT_EQ(d.answer(0, 0, 0).eax, 0u);    // outside a block
  EXPECT_EQ(d.answer(0, 7, 0).eax, 0u);    // in the MSR section
  EXPECT_EQ(d.answer(0, 0xC, 0).eax, 0u);  // seven digits
  EXPECT_EQ(d.answer(0, 0xD, 0).eax, 0xDu);
  EXPECT_EQ(d.answer(1, 0x80000000, 0).eax, 0x80000008u);  // block #1 had no answer
  EXPECT_EQ(cpuid_dump().parse(nullptr, 0), 0);
}
