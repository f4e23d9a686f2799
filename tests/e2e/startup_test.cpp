// startup_test.cpp - the "Linux Startup Information" group on a legacy
// machine's files (rows kept in the fixture) and on a minimal Debian root
// made by tools/make-debroot.sh (rows derived from the tree itself).
#include "zvtest.h"

#include <filesystem>

#include "report_rows.h"

namespace fs = std::filesystem;

namespace {

zvtest::run_result run_startup(const std::string& root, const std::string& cwd) {
  return zvtest::run({"-batch", "-stdout", "-level", "5", "-sysroot", root, "-probe",
                      "LINUX_STARTUP_INFORMATION"},
                     cwd);
}

std::vector<std::string> sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

}  // namespace

// A legacy machine's menu file and a current machine's GRUB 2 configuration
// fill the same tables.
TEST(StartupE2E, LegacyAndCurrentMachinesGiveTheExpectedRows) {
  for (const char* machine : {"legacy", "current"}) {
    SCOPED_TRACE(machine);
    const std::string dir = std::string(ZV_SOURCE_DIR) + "/tests/fixtures/startup/" + machine;
    zvtest::temp_dir root, cwd;
    ASSERT_TRUE(zvtest::copy_fixture_tree(dir + "/root", root.path() + "/r"));
    zvtest::run_result r = run_startup(root.path() + "/r", cwd.path());
    ASSERT_EQ(r.status, 0) << r.err;
    zvtest::table_rows got = zvtest::report_rows(r.out);
    zvtest::expected_rows want = zvtest::read_expected_rows(dir + "/expected.tsv");
    ASSERT_FALSE(want.tables.empty());
    for (const auto& [table, rows] : want.tables) {
      SCOPED_TRACE(table);
      ASSERT_TRUE(got.count(table)) << r.out;
      if (want.unordered.count(table))
        EXPECT_EQ(sorted(got[table]), sorted(rows));
      else
        EXPECT_EQ(got[table], rows);
    }
    if (std::string(machine) == "legacy") {
      EXPECT_NE(r.out.find("id:3:initdefault:"), std::string::npos) << "inittab not embedded";
    }
    EXPECT_TRUE(zvtest::list_dir(cwd.path()).size() <= 1) << "loose files left behind";
  }
}

TEST(StartupE2E, MinimalDebianRoot) {
  const char* env = getenv("ZV_DEBROOT");
  const std::string root = env && *env ? env : "/var/tmp/zelvarn2-debroot";
  if (!fs::exists(root + "/.complete"))
    GTEST_SKIP() << "no Debian root at " << root << " (tools/make-debroot.sh makes one)";
  zvtest::temp_dir cwd;
  zvtest::run_result r = run_startup(root, cwd.path());
  ASSERT_EQ(r.status, 0) << r.err;
  zvtest::table_rows got = zvtest::report_rows(r.out);

  // One row per script of /etc/init.d, "on" exactly where a runlevel
  // directory holds a start link S<two characters><name>.
  std::vector<std::string> services;
  for (const auto& e : fs::directory_iterator(root + "/etc/init.d")) {
    std::string name = e.path().filename(), row = name + "\t" + name;
    for (int i = 0; i <= 6; i++) {
      bool on = false;
      std::error_code ec;
      for (const auto& l : fs::directory_iterator(root + "/etc/rc" + std::to_string(i) + ".d", ec)) {
        std::string link = l.path().filename();
        on |= link.size() == name.size() + 3 && link[0] == 'S' && link.compare(3, name.size(), name) == 0;
      }
      row += on ? "\ton" : "\toff";
    }
    services.push_back(row);
  }
  EXPECT_FALSE(services.empty());
  EXPECT_EQ(sorted(got["Startup Services"]), sorted(services));

  std::vector<std::string> boot;
  for (const auto& e : fs::recursive_directory_iterator(root + "/boot")) {
    if (e.is_directory()) continue;
    std::string rel = e.path().lexically_relative(root + "/boot");
    boot.push_back("/boot/" + rel + "\t" + rel);
  }
  std::vector<std::string> listed;
  for (const std::string& row : got["/boot Contents"])  // id and file name
    listed.push_back(row.substr(0, row.find('\t', row.find('\t') + 1)));
  EXPECT_EQ(sorted(listed), sorted(boot));
  EXPECT_FALSE(got.count("GRUB Boot entries")) << "no boot menu in this root";
  EXPECT_NE(r.out.find("initdefault"), std::string::npos) << "inittab not embedded";
}
