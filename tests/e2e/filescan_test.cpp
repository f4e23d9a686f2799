// filescan_test.cpp - the FILESCAN task in a whole run: its own lower-case
// XML file stored as a container item of type 17 without disturbing the
// report's checksums, or its section in the stream in standard-output mode.
#include "zvtest.h"

#include "report_check.h"
#include "report_rows.h"

namespace {

const std::string tool = std::string(ZV_BINARY_DIR) + "/zv2tool";
using zvtest::run_zv2tool;

std::vector<std::string> scan_args(const zvtest::fixture_root& root) {
  return {"-batch", "-sysroot", root.path(), "-probe", "FILESCAN", "-p", "FILESCAN",
          "path=/srv;/opt", "filter=*.conf", "ignore=skip*"};
}

void fill(zvtest::fixture_root& root) {
  root.add("/srv/a.conf", "a").add("/srv/deep/b.conf", "bb").add("/srv/skip.conf", "").add(
      "/opt/c.conf", "ccc").add("/opt/d.txt", "");
}

}  // namespace

TEST(FileScanE2E, OwnFileIsStoredAsItsOwnItem) {
  ASSERT_EQ(access(tool.c_str(), X_OK), 0) << "zv2tool not built";
  zvtest::fixture_root root;
  fill(root);
  zvtest::temp_dir cwd;
  zvtest::run_result r = zvtest::run(scan_args(root), cwd.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Scanned 6 files in 3 directories, 3 files found."), std::string::npos) << r.err;
  std::vector<std::string> names = zvtest::list_dir(cwd.path());
  ASSERT_EQ(names.size(), 1u) << "one container and nothing else";
  zvtest::run_result list = run_zv2tool({"list", names[0]}, cwd.path());
  ASSERT_NE(list.out.find("   17  file scan output"), std::string::npos) << list.out;

  std::string scan, report;
  for (int i = 0; i < 5; i++) {
    zvtest::run_result x = run_zv2tool({"extract", names[0], std::to_string(i), "-"}, cwd.path());
    if (x.out.find("<scanned_files>") != std::string::npos) scan = x.out;
    if (x.out.find("<GATHERED_DATA>") != std::string::npos) report = x.out;
  }
  EXPECT_EQ(zvtest::count_of(scan, "<file>"), 3u) << scan;
  EXPECT_NE(scan.find("<filename>b.conf</filename>\r\n<path>/srv/deep</path>"), std::string::npos);
  EXPECT_EQ(scan.find("skip.conf"), std::string::npos);
  EXPECT_NE(scan.find("<files_found>3</files_found>"), std::string::npos);
  EXPECT_NE(scan.find("<vpd>"), std::string::npos);
  if (!have_xml_parser()) GTEST_SKIP() << "no XML parser in this build";
  EXPECT_TRUE(check_zvml(scan).parsed) << scan;
  zvml_check_result checked = check_zvml(report);
  EXPECT_TRUE(checked.parsed && checked.mismatches.empty()) << report;
}

TEST(FileScanE2E, StandardOutputModeWritesTheSectionIntoTheStream) {
  zvtest::fixture_root root;
  fill(root);
  zvtest::temp_dir cwd;
  std::vector<std::string> args = scan_args(root);
  args.insert(args.begin() + 1, {"-stdout", "-p", "FILESCAN", "date=no", "size=no"});
  zvtest::run_result r = zvtest::run(args, cwd.path());
  ASSERT_EQ(r.status, 0) << r.err;
  zvtest::table_rows rows = zvtest::report_rows(r.out);
  // The later starting path comes first; no date or size columns.
  std::vector<std::string> want = {
      "/opt/c.conf\tc.conf\t/opt\t0644\t",
      "/srv/a.conf", "/srv/deep/b.conf"};
  ASSERT_EQ(rows["SCANNED FILES"].size(), 3u) << r.out;
  EXPECT_EQ(rows["SCANNED FILES"][0].substr(0, want[0].size()), want[0]);
  EXPECT_EQ(rows["FILESCAN PARAMETERS"],
            std::vector<std::string>{"\t/srv;/opt\t*.conf\tskip*\t-1\t-1\t\tfalse\tfalse"});
}
