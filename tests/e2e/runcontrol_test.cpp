// runcontrol_test.cpp - the program as a user meets it: help, probe listing,
// silent and batch runs, the disclaimer, the debug log and the exit status.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using zvtest::count_of;
using zvtest::run_result;

const std::string kUsageTail =
    " [-help] | [-batch] | [-silent] | [-nolimit]\n\n"
    " -help      : Show this message.\n"
    " -batch     : Do not show the disclaimer.\n"
    " -silent    : Do not show anything during operation.\n"
    " -nolimit   : Collect entire event log (default is last 500 entries).\n\n";
const std::string kPrompt = "Do you agree with the above terms ? [y/n] ... ";
const std::string kSorry = "Sorry, this software only works if you agree with the above terms\n";

/// The first n lines of text, without their line feeds.
std::vector<std::string> first_lines(const std::string& text, size_t n) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (lines.size() < n && std::getline(in, line)) lines.push_back(line);
  return lines;
}

/// Every run happens in its own empty directory against an empty system
/// root at detail level 0, so it touches nothing of the test machine and
/// stays quick whatever tasks are registered.
class RunControlE2E : public ::testing::Test {
 protected:
  run_result run(std::vector<std::string> args, std::optional<std::string> input = std::nullopt,
                 bool quick = true) {
    if (quick) args.insert(args.begin(), {"-level", "0", "-sysroot", root.path()});
    run_result r = zvtest::run(args, cwd.path(), std::move(input));
    EXPECT_TRUE(r.started);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.signal, 0) << r.err;
    return r;
  }
  zvtest::temp_dir cwd;
  zvtest::fixture_root root;
};

TEST_F(RunControlE2E, HelpShowsBannerAndExactUsageAndExitsWithOne) {
  run_result r = run({"-help"}, std::nullopt, false);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("\nHalvex Technical Support Information Gatherer\nVersion 2.44.0282.0809 Brenthil\n", 0), 0u);
  std::string usage = "Usage: " + zvtest::program_path() + kUsageTail;
  ASSERT_GE(r.err.size(), usage.size());
  EXPECT_EQ(r.err.substr(r.err.size() - usage.size()), usage);
}

TEST_F(RunControlE2E, HelpUnderSilentShowsOnlyTheUsage) {
  run_result r = run({"-silent", "-HELP"}, std::nullopt, false);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Usage: " + zvtest::program_path() + kUsageTail);
}

TEST_F(RunControlE2E, ProbeListingPrintsOnlyIdentifiersAndExitsWithZero) {
  run_result r = run({"-listprobes"}, std::nullopt, false);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    EXPECT_FALSE(line.empty());
    EXPECT_EQ(line.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_"), std::string::npos) << line;
  }
  EXPECT_TRUE(zvtest::list_dir(cwd.path()).empty());
}

TEST_F(RunControlE2E, LaterOfHelpAndListProbesDecides) {
  EXPECT_EQ(run({"-help", "-listprobes"}, std::nullopt, false).status, 0);
  EXPECT_EQ(run({"-listprobes", "-help"}, std::nullopt, false).status, 1);
}

TEST_F(RunControlE2E, SilentRunShowsNothingAtAll) {
  run_result r = run({"-silent"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

TEST_F(RunControlE2E, BatchRunSkipsTheDisclaimerAndReportsTheResultCode) {
  run_result r = run({"-Batch"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.find("DISCLAIMER"), std::string::npos);
  EXPECT_EQ(r.err.find(kPrompt), std::string::npos);
  ASSERT_GE(r.err.size(), 21u);
  EXPECT_EQ(r.err.substr(r.err.size() - 21), "Run complete, rc = 0\n");
}

TEST_F(RunControlE2E, DisclaimerAgreedWithYesRunsTheTasks) {
  run_result r = run({}, std::string("yes\n"));
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find(std::string(30, ' ') + "DISCLAIMER\n"), std::string::npos);
  EXPECT_EQ(count_of(r.err, kPrompt), 1u);
  EXPECT_EQ(r.err.find(kSorry), std::string::npos);
  EXPECT_NE(r.err.find("Run complete, rc = 0\n"), std::string::npos);
}

TEST_F(RunControlE2E, DisclaimerAsksAgainAfterXOrAnEmptyLineAndRefusesOnN) {
  run_result r = run({}, std::string("x\n\nN\n"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(count_of(r.err, kPrompt), 3u);
  EXPECT_NE(r.err.find(kPrompt + kSorry + "\nRun complete, rc = 0\n"), std::string::npos) << r.err;
}

TEST_F(RunControlE2E, DisclaimerTakesEndOfInputAsRefusal) {
  run_result r = run({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(count_of(r.err, kPrompt), 1u);
  EXPECT_NE(r.err.find(kSorry), std::string::npos);
}

TEST_F(RunControlE2E, DisclaimerDropsTheRestOfALongAnswerLine) {
  // Were the tail of the first line read as the next answer, its "y" would agree.
  run_result r = run({}, "x" + std::string(200, 'y') + "\nn\n");
  EXPECT_EQ(count_of(r.err, kPrompt), 2u);
  EXPECT_NE(r.err.find(kSorry), std::string::npos);
}

TEST_F(RunControlE2E, RefusalWritesNoDebugLog) {
  run_result r = run({"-debug"}, std::string("n\n"));
  EXPECT_FALSE(zvtest::file_exists(cwd.file("gatherer.log")));
  EXPECT_EQ(r.err.find("Debug information logged"), std::string::npos);
}

TEST_F(RunControlE2E, DebugLogStartsWithTheProgramHeader) {
  for (const char* word : {"-debug", "-FDEBUG"}) {
    zvtest::temp_dir dir;  // a log of its own for each mode
    run_result r = zvtest::run({"-level", "0", "-sysroot", root.path(), "-batch", word}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("Debug information logged to gatherer.log\n"), std::string::npos) << word;
    std::string log = zvtest::read_file(dir.file("gatherer.log"));
    std::vector<std::string> head = first_lines(log, 4);
    ASSERT_EQ(head.size(), 4u) << log;
    const std::string title = " Halvex Technical Support Information Gatherer";
    ASSERT_GE(head[0].size(), title.size());
    EXPECT_EQ(head[0].substr(head[0].size() - title.size()), title);  // after the time prefix
    EXPECT_FALSE(head[1].empty());                                      // legal notice
    EXPECT_EQ(head[2], "Version 2.44.0282.0809  (Brenthil)");
    // "build on Mmm dd yyyy hh:mm:ss by BUILDER on HOST"
    EXPECT_EQ(head[3].rfind("build on ", 0), 0u) << head[3];
    ASSERT_GE(head[3].size(), 30u);
    EXPECT_EQ(head[3][23], ':');
    EXPECT_EQ(head[3].find(" by ", 29), 29u) << head[3];
    EXPECT_NE(head[3].find(" on ", 33), std::string::npos) << head[3];
    EXPECT_NE(log.find("debugging enabled\n"), std::string::npos);
    EXPECT_NE(log.find("gatherer: Version = 2.44.0282.0809  (Brenthil)\n"), std::string::npos);
    EXPECT_NE(log.find("argv: '" + zvtest::program_path() + "' '-level' '0'"), std::string::npos);
    EXPECT_NE(log.find("TASK LIST:\n"), std::string::npos);
    EXPECT_NE(log.find("console: Run complete, rc = 0\n"), std::string::npos);
  }
}

TEST_F(RunControlE2E, DebugLogShowsTheDistributionOfTheSystemRoot) {
  root.add("/etc/redhat-release", "Red Hat Linux release 9 (Shrike)\n");
  run({"-batch", "-debug"});
  std::string log = zvtest::read_file(cwd.file("gatherer.log"));
  EXPECT_NE(log.find("Release found: Red Hat Linux release 9 (Shrike)\n"), std::string::npos);
}

TEST_F(RunControlE2E, UnknownWordsAndBadLevelsAreReportedAndTheRunGoesOn) {
  run_result r = run({"frob", "-batch", "-Zap", "-level", "9", std::string(100000, 'w')});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("I don't understand frob\n"), std::string::npos);
  EXPECT_NE(r.err.find("I don't understand Zap\n"), std::string::npos);
  EXPECT_NE(r.err.find("Warning: level 9 not supported.\n"), std::string::npos);
  EXPECT_NE(r.err.find("I don't understand " + std::string(100000, 'w') + "\n"), std::string::npos);
  EXPECT_NE(r.err.find("Run complete, rc = 0\n"), std::string::npos);
}

TEST_F(RunControlE2E, TaskParameterOptionAtTheEndIsReportedNotOverrun) {
  run_result r = run({"-batch", "-p"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("I don't understand '-p '\n"), std::string::npos);
  std::string name(500, 'T');
  r = run({"-batch", "-p", name, "key=value"});
  EXPECT_NE(r.err.find("I don't understand '-p " + name + "'\n"), std::string::npos);
}

TEST_F(RunControlE2E, PropertiesFileAppliesItsWords) {
  zvtest::write_file(cwd.path(), "run.zvp", "# quiet run\nbatch\nlevel=0\nfrobnicate\n");
  run_result r = run({"-properties", cwd.file("run.zvp")});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("Using properties from " + cwd.file("run.zvp") + "\n"), std::string::npos);
  EXPECT_NE(r.err.find("I don't understand frobnicate\n"), std::string::npos);
  EXPECT_EQ(r.err.find(kPrompt), std::string::npos);
}

}  // namespace
