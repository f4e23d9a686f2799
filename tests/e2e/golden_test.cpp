// golden_test.cpp - the checked-in captures of tests/fixtures/golden/<machine>/
// replayed with the clock fixed give the checked-in reports byte for byte,
// in every output form (plain XML and ORNA through the test build's
// zelvarn2-profile). tools/make-golden.sh makes captures and reports
// again on purpose; the reports are data, never edited by hand.
//
// Each machine's "options" file holds the probe options of its runs. The
// self-report (GATHERER INFORMATION) is left out of every run: it names the
// build stamp, the program's path, the working directory and the system
// root, which differ from one checkout and build to another.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using zvtest::run_result;

const std::string kGolden = std::string(ZV_SOURCE_DIR) + "/tests/fixtures/golden/";

/// What make-golden.sh gives every run. A replay reports the variables,
/// user and locale its capture kept; the captures of a root read HOME for
/// the user's locale files, so it is fixed too.
run_result run_fixed(const std::string& program, std::vector<std::string> args, const std::string& cwd) {
  zvtest::run_options o;
  o.program = program;
  o.args = std::move(args);
  o.cwd = cwd;
  o.env = {{"SOURCE_DATE_EPOCH", "1700000000"}, {"TZ", "UTC"}, {"LC_ALL", "C.UTF-8"},
           {"LANG", "C.UTF-8"}, {"HOME", "/root"}};
  return zvtest::run_program(o);
}

/// A unified diff of the expected file and what the run wrote, for the failure message.
std::string unified_diff(const std::string& expected, const std::string& actual) {
  zvtest::run_options o;
  o.program = "/usr/bin/diff";
  o.args = {"-u", expected, actual};
  run_result r = zvtest::run_program(o);
  std::string text = r.started ? r.out : "(diff could not be run)";
  return text.size() > 20000 ? text.substr(0, 20000) + "\n[diff cut]\n" : text;
}

}  // namespace

TEST(GoldenE2E, ReplayedCapturesGiveTheCheckedInReports) {
  const std::string profile = std::string(ZV_BINARY_DIR) + "/tests/zelvarn2-profile";
  const struct {
    const char* expected;        ///< file under the machine's folder
    std::vector<std::string> form;
    const char* written;         ///< what the run leaves in its directory
    bool in_container;           ///< the report is the container's report item
    const char* profile = "";    ///< the output profile of zelvarn2-profile
  } forms[] = {
      {"report.xml", {}, "golden.ZV2", true},  // checksummed XML
      {"report.txt", {"-text"}, "golden.GTH", true},
      {"report.html", {"-html"}, "golden.HTML", false},
      {"report.plain.xml", {}, "golden.ZV2", true, "xml"},
      {"report.orna.xml", {}, "golden.ZV2", true, "orna"},
  };
  const std::string tool = std::string(ZV_BINARY_DIR) + "/zv2tool";
  std::vector<std::string> machines;
  for (const std::string& m : zvtest::list_dir(kGolden))
    if (zvtest::file_exists(kGolden + m + "/options")) machines.push_back(m);
  ASSERT_GE(machines.size(), 12u) << "captures missing under " << kGolden;
  for (const std::string& machine : machines) {
    const std::string dir = kGolden + machine + "/";
    std::vector<std::string> options;
    std::istringstream words(zvtest::read_file(dir + "options"));
    for (std::string w; words >> w;) options.push_back(w);
    for (const auto& f : forms) {
      SCOPED_TRACE(machine + " " + f.expected);
      zvtest::temp_dir cwd;
      // Device names come from this fixed list, not the build's.
      ASSERT_TRUE(zvtest::write_file(cwd.path(), "pcidb.txt",
                                     zvtest::read_file(std::string(ZV_SOURCE_DIR) + "/tests/fixtures/pci/pcidb.txt")));
      std::vector<std::string> args = {"-batch"};
      if (*f.profile) args.insert(args.begin(), f.profile);
      args.insert(args.end(), options.begin(), options.end());
      args.insert(args.end(), {"-sysroot", dir + "capture", "-filename", "golden"});
      args.insert(args.end(), f.form.begin(), f.form.end());
      run_result r = run_fixed(*f.profile ? profile : "", args, cwd.path());
      ASSERT_EQ(r.status, 0) << r.err;
      std::string actual = cwd.file(f.written);
      if (f.in_container) {
        actual = cwd.file("report");
        run_result x = run_fixed(tool, {"extract", cwd.file(f.written), "report", actual}, cwd.path());
        ASSERT_EQ(x.status, 0) << x.err;
      }
      if (zvtest::read_file(actual) != zvtest::read_file(dir + f.expected))
        ADD_FAILURE() << "differs from the golden report (tools/make-golden.sh makes it again):\n"
                      << unified_diff(dir + f.expected, actual);
    }
  }
}
