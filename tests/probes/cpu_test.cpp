// cpu_test.cpp - the processor tables for recorded CPUID register values
// (tests/fixtures/cpu/cases.txt: every name table row and the odd cases).
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "cpu.h"
#include "report_check.h"
#include "report_fixture.h"
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

std::vector<std::string> split(const std::string& s) {
  std::vector<std::string> cells;
  std::istringstream in(s + "|");
  for (std::string c; std::getline(in, c, '|');) cells.push_back(c);
  return cells;
}

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
    std::vector<std::string> regs = split(line.substr(0, split_at)), want = split(line.substr(split_at + 2));
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
