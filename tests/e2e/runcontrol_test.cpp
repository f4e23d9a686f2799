// runcontrol_test.cpp - the program as a user meets it: help, probe listing,
// silent and batch runs, the disclaimer, the debug log and the exit status.
#include "zvtest.h"
#include <sys/file.h>

#include "channels.h"

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

bool has(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

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

TEST_F(RunControlE2E, HelpShowsBannerAndExactUsageAndTheLaterOfHelpAndListProbesDecides) {
  std::string usage = "Usage: " + zvtest::program_path() + kUsageTail;
  run_result r = run({"-help"}, std::nullopt, false);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("\nHalvex Technical Support Information Gatherer\nVersion 2.44.0282.0809 Brenthil\n", 0), 0u);
  ASSERT_GE(r.err.size(), usage.size());
  EXPECT_EQ(r.err.substr(r.err.size() - usage.size()), usage);
  r = run({"-silent", "-HELP"}, std::nullopt, false);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, usage);  // silent: the usage only
  EXPECT_EQ(run({"-help", "-listprobes"}, std::nullopt, false).status, 0);
  EXPECT_EQ(run({"-listprobes", "-help"}, std::nullopt, false).status, 1);
}

TEST_F(RunControlE2E, ProbeListingNamesEveryProbeValidWithTheDefaultsInRunOrder) {
  run_result r = run({"-listprobes"}, std::nullopt, false);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, zvtest::read_file(std::string(ZV_SOURCE_DIR) + "/tests/fixtures/listprobes.txt"));
  EXPECT_TRUE(zvtest::list_dir(cwd.path()).empty());
}

TEST_F(RunControlE2E, SilentRunShowsNothingAndBatchRunSkipsTheDisclaimer) {
  run_result r = run({"-silent"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  r = run({"-Batch"});
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(has(r.err, "DISCLAIMER"));
  EXPECT_FALSE(has(r.err, kPrompt));
  ASSERT_GE(r.err.size(), 21u);
  EXPECT_EQ(r.err.substr(r.err.size() - 21), "Run complete, rc = 0\n");
}

TEST_F(RunControlE2E, DisclaimerAsksUntilYesOrNoAndTakesEndOfInputAsRefusal) {
  struct {
    std::optional<std::string> input;
    size_t prompts;
    bool agreed;
  } cases[] = {
      {std::string("yes\n"), 1, true},
      {std::string("x\n\nN\n"), 3, false},  // asks again after "x" or an empty line
      {std::nullopt, 1, false},
      // Were the tail of the first line read as the next answer, its "y" would agree.
      {"x" + std::string(200, 'y') + "\nn\n", 2, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input.value_or("(end of input)").substr(0, 10));
    run_result r = run({}, c.input);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.err, std::string(30, ' ') + "DISCLAIMER\n"));
    EXPECT_EQ(count_of(r.err, kPrompt), c.prompts);
    EXPECT_EQ(has(r.err, kPrompt + kSorry + "\nRun complete, rc = 0\n"), !c.agreed) << r.err;
    EXPECT_EQ(has(r.err, kSorry), !c.agreed);
    EXPECT_TRUE(has(r.err, "Run complete, rc = 0\n"));
  }
  run_result r = run({"-debug"}, std::string("n\n"));  // a refused run writes no debug log
  EXPECT_FALSE(zvtest::file_exists(cwd.file("gatherer.log")));
  EXPECT_FALSE(has(r.err, "Debug information logged"));
}

// A run logging into the same directory as a run still going keeps that
// run's lines; alone, a run starts its log afresh.
TEST_F(RunControlE2E, DebugLogOfARunStillGoingIsNotEmptied) {
  for (bool other_running : {true, false}) {
    SCOPED_TRACE(other_running);
    ASSERT_TRUE(zvtest::write_file(cwd.path(), "gatherer.log", "line of the other run\n"));
    int other = open(cwd.file("gatherer.log").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    if (other_running) {
      ASSERT_EQ(flock(other, LOCK_SH), 0);  // as a run holds its log
    }
    run({"-batch", "-debug"});
    close(other);
    std::string log = zvtest::read_file(cwd.file("gatherer.log"));
    EXPECT_EQ(log.rfind("line of the other run\n", 0) == 0, other_running) << log.substr(0, 200);
    EXPECT_TRUE(has(log, "Halvex Technical Support Information Gatherer"));
  }
}

TEST_F(RunControlE2E, DebugLogStartsWithTheProgramHeader) {
  root.add("/etc/redhat-release", "Red Hat Linux release 9 (Shrike)\n");
  for (const char* word : {"-debug", "-FDEBUG"}) {
    SCOPED_TRACE(word);
    zvtest::temp_dir dir;  // a log of its own for each mode
    run_result r = zvtest::run({"-level", "0", "-sysroot", root.path(), "-batch", word}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.err, "Debug information logged to gatherer.log\n"));
    std::string log = zvtest::read_file(dir.file("gatherer.log"));
    std::istringstream in(log);
    std::string head[4];
    for (std::string& h : head) ASSERT_TRUE(std::getline(in, h)) << log;
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
    for (const std::string& piece :
         {std::string("debugging enabled\n"), std::string("gatherer: Version = 2.44.0282.0809  (Brenthil)\n"),
          "argv: '" + zvtest::program_path() + "' '-level' '0'", std::string("TASK LIST:\n"),
          std::string("Release found: Red Hat Linux release 9 (Shrike)\n"),
          std::string("console: Run complete, rc = 0\n")})
      EXPECT_TRUE(has(log, piece)) << piece;
  }
}

// The words themselves are the command line tests' (getarg_test); here the
// run goes on past them, and a properties file with a bad word is applied.
TEST_F(RunControlE2E, UnknownWordsAndBadLevelsAreReportedAndTheRunGoesOn) {
  std::string word(100000, 'w');
  zvtest::write_file(cwd.path(), "run.zvp", "# quiet run\nbatch\nlevel=0\nfrobnicate\n");
  run_result r = run({"frob", "-properties", cwd.file("run.zvp"), "-Zap", "-level", "9", word});
  EXPECT_EQ(r.status, 0);
  for (const std::string& piece : {std::string("I don't understand frob\n"), std::string("I don't understand Zap\n"),
                                   std::string("Warning: level 9 not supported.\n"),
                                   "I don't understand " + word + "\n", "Using properties from " + cwd.file("run.zvp"),
                                   std::string("I don't understand frobnicate\n"),
                                   std::string("Run complete, rc = 0\n")})
    EXPECT_TRUE(has(r.err, piece)) << piece.substr(0, 40);
  EXPECT_FALSE(has(r.err, kPrompt));
  // An empty captured root is refused before anything happens.
  zvtest::temp_dir empty, elsewhere;
  r = zvtest::run({"-batch", "-sysroot", empty.path()}, elsewhere.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: sysroot " + empty.path() + " is empty.\n");
  EXPECT_TRUE(zvtest::list_dir(elsewhere.path()).empty());
}

TEST_F(RunControlE2E, ProbeNamesThatMatchNothingAreSaidAndFailTheRun) {
  const struct {
    std::vector<std::string> args;
    std::string said;  // empty: no complaint
  } cases[] = {
      {{"-probe", "CPU"}, "unknown probe CPU (zelvarn2 -listprobes shows the names)\n"},
      {{"-skip", "NETWORK;no\x01such"}, "unknown probe no?such"},
      {{"-enable", "bogus"}, "unknown probe bogus"},
      {{"-probe", "cpu information", "network"}, ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "-batch");
    run_result r = run(args);
    SCOPED_TRACE(c.args.back());
    EXPECT_EQ(r.status, c.said.empty() ? 0 : 1);
    EXPECT_EQ(has(r.err, "unknown probe"), !c.said.empty()) << r.err;
    EXPECT_TRUE(c.said.empty() || has(r.err, c.said)) << r.err;
  }
}

// The example of README.md, as a user would copy it.
TEST_F(RunControlE2E, ReadmePropertiesExampleRunsSilentlyAsItsCommentSays) {
  std::istringstream readme(zvtest::read_file(std::string(ZV_SOURCE_DIR) + "/README.md"));
  std::string line, example;
  bool in = false;
  while (std::getline(readme, line)) {
    if (line == "### Properties file") in = true;
    if (!in) continue;
    if (line.rfind("    ", 0) == 0) {
      example += line.substr(4) + "\n";
    } else if (!example.empty()) {
      break;
    }
  }
  ASSERT_TRUE(has(example, "silent\n")) << example;
  zvtest::write_file(cwd.path(), "example.zvp", example);
  run_result r = run({"-properties", cwd.file("example.zvp")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(zvtest::list_dir(cwd.path()).size(), 2u);  // the example and the container
}

// Standard output that cannot be written fails the run, whatever the cause;
// a closed channel is never taken by a file of the run.
TEST_F(RunControlE2E, StandardOutputThatCannotBeWrittenFailsTheRun) {
  int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  const struct {
    std::vector<std::string> args;
    int out;
    const char* said;
  } cases[] = {
      {{"-listprobes"}, full, "Probe listing incomplete: No space left on device"},
      {{"-listprobes"}, -1, "Probe listing incomplete: Bad file descriptor"},
      {{"-batch", "-level", "0", "-sysroot", root.path(), "-stdout"}, -1, "Report incomplete: Bad file descriptor"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back() + (c.out < 0 ? " closed" : " full"));
    std::string err;
    EXPECT_EQ(zvtest::run_with_output(zvtest::program_path(), c.args, cwd.path(), c.out, err), 1);
    EXPECT_TRUE(has(err, c.said)) << err;
  }
  close(full);
  for (const std::string& n : zvtest::list_dir(cwd.path())) EXPECT_EQ(n.find(".tmp"), std::string::npos) << n;
}

// An interrupted run leaves nothing behind: the container being written and
// the temporaries go, and the status tells the signal.
TEST_F(RunControlE2E, TerminationSignalRemovesTheRunsFilesAndEndsWith128PlusSignal) {
  // A container of an earlier run under the same name stays whole.
  const std::string earlier = "Unknown-Unknown-Unknown.ZV2";
  ASSERT_TRUE(zvtest::write_file(cwd.path(), earlier, "earlier run"));
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    int in[2];
    ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
    int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_t pid = zvtest::spawn(zvtest::program_path(), {"-batch", "-step", "-level", "1", "-sysroot", root.path()},
                              cwd.path(), in[0], null_fd, null_fd);
    close(in[0]);
    close(null_fd);
    // The run waits at its first question with the report and the container
    // under their temporary names.
    size_t made = 0;
    for (int wait = 0; wait < 500 && made < 2; ++wait) {
      usleep(20000);
      made = 0;
      for (const std::string& n : zvtest::list_dir(cwd.path()))
        if (n.size() > 4 && n.compare(n.size() - 4, 4, ".tmp") == 0) ++made;
    }
    EXPECT_GE(made, 2u);
    kill(pid, sig);
    EXPECT_EQ(zvtest::wait_status(pid), 128 + sig);
    close(in[1]);
    EXPECT_EQ(zvtest::list_dir(cwd.path()), std::vector<std::string>{earlier});
    EXPECT_EQ(zvtest::read_file(cwd.file(earlier)), "earlier run");
  }
}

// A run ended by a signal takes the command it is running with it: the whole
// process group, also a child that left the pipe behind.
TEST_F(RunControlE2E, TerminationSignalEndsTheRunningCommandsWholeGroup) {
  zvtest::temp_dir bin;
  const std::string pids = bin.file("pids");
  // The log reader runs under a system root (the process tool does not).
  root.add("/var/log/boot.log", "booted\n");
  ASSERT_TRUE(zvtest::write_file(bin.path(), "/tail",
                                 "#!/bin/sh\nsleep 1000 </dev/null >/dev/null 2>&1 &\necho $! >> " + pids +
                                     "\necho $$ >> " + pids + "\nexec sleep 1000\n"));
  chmod(bin.file("tail").c_str(), 0755);
  zvtest::scoped_env path("PATH", (bin.path() + ":" + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin")).c_str());
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    unlink(pids.c_str());
    int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    pid_t pid = zvtest::spawn(zvtest::program_path(), {"-batch", "-local", "-sysroot", root.path(), "-probe", "SYSTEM_LOGS"},
                              cwd.path(), null_fd, null_fd, null_fd);
    close(null_fd);
    std::vector<pid_t> started;
    for (int wait = 0; wait < 500 && started.size() < 2; ++wait) {
      usleep(20000);
      std::istringstream in(zvtest::read_file(pids));
      started.clear();
      for (pid_t p; in >> p;) started.push_back(p);
    }
    ASSERT_EQ(started.size(), 2u);
    kill(pid, sig);
    EXPECT_EQ(zvtest::wait_status(pid), 128 + sig);
    for (pid_t p : started) {
      // Gone, or a zombie waiting for its new parent to collect it.
      bool gone = false;
      for (int wait = 0; wait < 250 && !gone; ++wait) {
        std::string stat = zvtest::read_file("/proc/" + std::to_string(p) + "/stat");
        size_t close_paren = stat.rfind(')');
        gone = stat.empty() || (close_paren != std::string::npos && stat.compare(close_paren, 4, ") Z ") == 0);
        if (!gone) usleep(20000);
      }
      EXPECT_TRUE(gone) << "process " << p << " outlived the run";
      if (!gone) kill(p, SIGKILL);
    }
  }
}

}  // namespace
