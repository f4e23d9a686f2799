// cpu_test.cpp - the processor the program runs on, as the kernel decodes it.
#include "zvtest.h"

#include <regex>

namespace {

/// The first value of a /proc/cpuinfo field ("cpu family", "model").
int cpuinfo_field(const std::string& name) {
  std::ifstream in("/proc/cpuinfo");
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, name.size(), name) != 0) continue;
    size_t colon = line.find(':');
    if (colon != std::string::npos && line.find_first_not_of(" \t", name.size()) == colon)
      return std::stoi(line.substr(colon + 1));
  }
  return -1;
}

int report_number(const std::string& report, const std::string& column) {
  std::smatch m;
  if (!std::regex_search(report, m, std::regex("ID=\"" + column + "\"[^>]*>\\s*(\\d+)<"))) return -1;
  return std::stoi(m[1]);
}

}  // namespace

TEST(CpuE2E, FamilyAndModelAgreeWithTheKernel) {
  int family = cpuinfo_field("cpu family"), model = cpuinfo_field("model");
  if (family < 0 || model < 0) GTEST_SKIP() << "no x86 /proc/cpuinfo here";
  // Under a user-mode emulator the instruction answers for the emulated
  // processor, not for the one the kernel describes.
  if (getenv("ZV_EMULATED_M32")) GTEST_SKIP() << "32-bit program runs under an emulator";
  zvtest::temp_dir cwd;
  zvtest::run_result r = zvtest::run({"-batch", "-local", "-stdout", "-probe", "CPU_INFORMATION"}, cwd.path());
  ASSERT_TRUE(r.exited) << r.err;
  EXPECT_EQ(r.status, 0) << r.err;
  // The kernel adds the extended family to family 15 and the extended model
  // from family 6 on; the table shows the base fields only.
  int base_family = family >= 15 ? 15 : family;
  int base_model = family >= 6 ? model & 0xF : model;
  EXPECT_EQ(report_number(r.out, "Family ID"), base_family) << r.out;
  EXPECT_EQ(report_number(r.out, "Model ID"), base_model) << r.out;
  // One family row, four flags, and a row per package.
  EXPECT_GE(zvtest::count_of(r.out, "<ROW ID="), 6u) << r.out;

  // The package table reads as the kernel does: displayed family, model and
  // stepping, microcode, and per package "siblings" threads of "cpu cores".
  EXPECT_EQ(report_number(r.out, "Family"), family) << r.out;
  EXPECT_EQ(report_number(r.out, "Model"), model) << r.out;
  EXPECT_EQ(report_number(r.out, "Stepping"), cpuinfo_field("stepping")) << r.out;
  int siblings = cpuinfo_field("siblings"), cores = cpuinfo_field("cpu cores");
  if (siblings > 0 && cores > 0 && (int)sysconf(_SC_NPROCESSORS_ONLN) == siblings) {
    EXPECT_EQ(report_number(r.out, "Cores"), cores) << r.out;
    EXPECT_EQ(report_number(r.out, "Threads"), siblings) << r.out;
    EXPECT_EQ(report_number(r.out, "Threads per Core"), siblings / cores) << r.out;
  }
  std::ifstream in("/proc/cpuinfo");
  std::smatch m;
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, 9, "microcode") != 0) continue;
    std::string value = line.substr(line.find(':') + 2);
    EXPECT_NE(r.out.find("<ASC ID=\"Microcode\" W=\"10\">" + value + "<"), std::string::npos) << r.out;
    break;
  }
}
