// probe_test.cpp - probe tasks, groups, probe lists and the command and file probes.
#include "probe.h"

#include "zvtest.h"

#include "sysroot.h"
#include "util_string.h"
#include "zelvarn2.h"

namespace {

std::vector<std::string> ran;  // names of the tasks and probes whose run was called

class fake_probe_task : public probe_task {
 public:
  fake_probe_task(const char* n, int o) : probe_task(n, o) {}
  bool run(FILE*) override {
    ran.push_back(name);
    return true;
  }
};

class fake_system_task : public task {
 public:
  fake_system_task(const char* n, int o) : task(n, o) {}
  bool run(FILE*) override {
    ran.push_back(name);
    return true;
  }
};

class fake_probe : public probe {
 public:
  fake_probe(probe_group* g, const char* n, int dl = 1, int pl = 0x2f71) : probe(g, n, dl, pl) {}
  bool test() override { return test_ok; }
  bool run(FILE*) override {
    ran.push_back(name);
    return false;  // a failing member does not fail its group
  }
  bool set_parameter(const char* k, const char*) override { return accepts == k; }
  bool test_ok = true;
  std::string accepts;
};

class ProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_first = task::first;
    saved_output = task::output_file;
    task::first = nullptr;
    for (int i = 0; i < SETTING_COUNT; ++i) saved[i] = gatherer_setting(i, SETTING_GET);
    for (int i = 0; i < 3; ++i) saved_lists[i] = probe_task::probe_lists[i];
    for (int i = 0; i < 3; ++i) probe_task::probe_lists[i] = nullptr;
    gatherer_setting(SETTING_SILENT, SETTING_OFF);
    gatherer_setting(SETTING_STEP, SETTING_OFF);
    gatherer_setting(SETTING_DETAIL, SETTING_SET, 5);
    gatherer_setting(SETTING_CUSTOMER, SETTING_SET, 1);
    report = tmpfile();
    task::output_file = report;
    ran.clear();
  }
  void TearDown() override {
    for (int i = 0; i < 3; ++i) {
      if (probe_task::probe_lists[i] != saved_lists[i]) delete probe_task::probe_lists[i];
      probe_task::probe_lists[i] = saved_lists[i];
    }
    task::output_file = saved_output;
    task::first = saved_first;
    fclose(report);
    for (int i = 0; i < SETTING_COUNT; ++i) gatherer_setting(i, SETTING_SET, saved[i]);
    sysroot_set(nullptr);
  }
  std::string run_all_console() {
    testing::internal::CaptureStderr();
    task::run_all();
    return testing::internal::GetCapturedStderr();
  }
  std::string report_text() {
    rewind(report);
    return zvtest::read_stream(report);
  }

  task* saved_first = nullptr;
  FILE* saved_output = nullptr;
  FILE* report = nullptr;
  str_list* saved_lists[3];
  int saved[SETTING_COUNT];
};

using names = std::vector<std::string>;

TEST_F(ProbeTest, SelectionRunsOnlyNamedProbeTasksAndAllSystemTasks) {
  fake_system_task report_task("Create Report", 8);
  fake_probe_task cpu("CPU Information", 16), env("ENVIRONMENT", 16);
  probe_group net("NETWORK", 16, "NETWORK");
  fake_probe hosts(&net, "Hosts"), resolv(&net, "Resolver Configuration");
  fake_system_task close_task("Close Report", 25);
  probe_task::set_probe_list(probe_task::SELECT_LIST, new str_list("cpu-information;Network", ';'));
  probe_task::process_probe_lists();
  run_all_console();
  EXPECT_EQ(ran, (names{"Create Report", "CPU Information", "Hosts", "Resolver Configuration",
                        "Close Report"}));
}

TEST_F(ProbeTest, SkipWinsOverSelectionAndEnableAloneChangesNothing) {
  fake_probe_task cpu("CPU Information", 16), env("ENVIRONMENT", 16), tz("TIME ZONE", 15);
  probe_task::set_probe_list(probe_task::SELECT_LIST, new str_list("CPU_INFORMATION;environment", ';'));
  probe_task::set_probe_list(probe_task::SKIP_LIST, new str_list("cpu information", ';'));
  str_list ignored("CPU_INFORMATION", ';');
  probe_task::set_probe_list(3, &ignored);  // out of range: not kept
  probe_task::set_probe_list(-1, &ignored);
  probe_task::process_probe_lists();
  run_all_console();
  EXPECT_EQ(ran, (names{"ENVIRONMENT"}));

  probe_task::set_probe_list(probe_task::SELECT_LIST, nullptr);
  probe_task::set_probe_list(probe_task::SKIP_LIST, nullptr);
  tz.set_status(true);
  cpu.set_status(true);
  probe_task::set_probe_list(probe_task::ENABLE_LIST, new str_list("TIME ZONE;no such probe", ';'));
  probe_task::process_probe_lists();
  ran.clear();
  run_all_console();
  EXPECT_EQ(ran, (names{"TIME ZONE", "CPU Information", "ENVIRONMENT"}));
}

TEST_F(ProbeTest, StatusAndBlockingByNameReachEveryMatchingProbeTaskButNotProbesInGroups) {
  fake_probe_task a("Time Zone", 15), b("TIME ZONE", 15), p("Installed Software", 16);
  fake_system_task s("List Probes", 22);
  probe_group net("NETWORK", 16, nullptr);
  fake_probe hosts(&net, "Hosts");
  probe_task::disable_probe("time-zone");
  probe_task::disable_probe("hosts");
  EXPECT_FALSE(a.is_enabled());
  EXPECT_FALSE(b.is_enabled());
  EXPECT_TRUE(net.is_enabled());
  probe_task::enable_probe("TIME_ZONE");
  EXPECT_TRUE(a.is_enabled() && b.is_enabled());
  EXPECT_FALSE(a.check_fp(nullptr));  // a probe needs a report to write into
  probe_task::block_task_by_name("installed software");
  probe_task::block_task_by_name("LIST_PROBES");  // the base task ignores blocking
  EXPECT_FALSE(p.validate());
  EXPECT_TRUE(s.validate());
}

TEST_F(ProbeTest, GroupRunsValidReadyMembersInOrderAndGroupsWithNoneAreSkippedSilently) {
  probe_group g("Linux Startup Information", 16, "Linux Startup Information");
  fake_probe a(&g, "first"), absent(&g, "absent"), deep(&g, "deep", 9), b(&g, "last");
  absent.test_ok = false;
  probe_group other("SCSI Devices", 17, "SCSI Devices"), empty("Empty", 17, nullptr),
      unready("Unready", 17, nullptr);
  fake_probe optical(&other, "OPTICAL PROBE", 5, 0x2f70);
  fake_probe missing(&unready, "missing");
  missing.test_ok = false;
  EXPECT_FALSE(other.is_valid());
  EXPECT_FALSE(empty.is_valid());
  EXPECT_TRUE(unready.is_valid());
  std::string out = run_all_console();
  EXPECT_EQ(ran, (names{"first", "last"}));
  EXPECT_EQ(out, "Linux Startup Information " + std::string(14, '.') + " OK\n");
  EXPECT_FALSE(report_text().empty());  // the section was written
}

TEST_F(ProbeTest, GroupOffersParametersToMembersUntilOneAccepts) {
  probe_group g("NETWORK", 16, nullptr);
  fake_probe a(&g, "a"), b(&g, "b");
  b.accepts = "iface";
  EXPECT_TRUE(g.set_parameter("iface", "eth0"));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(g.set_parameter("other", "1"));
  EXPECT_FALSE(g.set_parameter("flag", nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "I don't understand 'other=1'\nI don't understand 'flag'\n");
}

TEST_F(ProbeTest, ProbeListTaskWritesValidProbeIdentifiers) {
  probe_list_task listing;
  fake_probe_task cpu("CPU Information", 16);
  fake_probe_task deep("Deep", 16);
  probe_group g("System Logs", 17, nullptr), bad("Bad", 17, nullptr);
  fake_probe log(&g, "System Log");
  fake_system_task sys("System", 18);
  deep.set_blocked(true);
  EXPECT_FALSE(listing.validate());  // customer 0x0010 only
  EXPECT_TRUE(listing.run(report));
  EXPECT_EQ(report_text(), "CPU_INFORMATION\nSYSTEM_LOGS\n");
}

// ---- command and file probes ----------------------------------------------

TEST_F(ProbeTest, ListProbeEmbedsOutputAndJudgesExitStatus) {
  probe_group g("System Logs", 17, nullptr);
  list_probe ok(&g, "ok", 4, 1, nullptr, "echo probe-output-text; exit 0");
  list_probe failed(&g, "failed", 4, 1, nullptr, "echo partial-text; exit 3");
  list_probe killed(&g, "killed", 4, 1, nullptr, "echo before-kill; kill -9 $$");
  list_probe reads(&g, "reads", 4, 1, nullptr, "read x; echo read=$?");
  EXPECT_TRUE(ok.run(report));
  EXPECT_FALSE(failed.run(report));
  EXPECT_FALSE(killed.run(report));
  EXPECT_TRUE(reads.run(report));  // standard input is empty, never the terminal
  std::string text = report_text();
  EXPECT_NE(text.find("probe-output-text"), std::string::npos);
  EXPECT_NE(text.find("partial-text"), std::string::npos);
  EXPECT_NE(text.find("before-kill"), std::string::npos);
  EXPECT_NE(text.find("read=1"), std::string::npos);
}

class FileProbeTest : public ProbeTest {
 protected:
  void SetUp() override {
    ProbeTest::SetUp();
    ASSERT_TRUE(mkdtemp(dir));
    ASSERT_EQ(mkdir((std::string(dir) + "/etc").c_str(), 0700), 0);
    sysroot_set(dir);
  }
  void TearDown() override {
    system(("rm -rf " + std::string(dir)).c_str());
    ProbeTest::TearDown();
  }
  std::string host(const char* platform_path) { return std::string(dir) + platform_path; }
  char dir[32] = "/tmp/zvprobeXXXXXX";
};

TEST_F(FileProbeTest, UsesOnlyFilesUnderTheSystemRootAndAGroupRunsTheOthersWhenOneIsAbsent) {
  ASSERT_TRUE(zvtest::write_file(dir, "/etc/inittab", "id:3:initdefault:\n"));
  file_probe p(nullptr, "INIT Configuration", 2, 1, "/etc/inittab", 0xffef);
  EXPECT_TRUE(p.test());
  EXPECT_TRUE(p.run(report));
  EXPECT_NE(report_text().find("initdefault"), std::string::npos);
  list_probe present(nullptr, "present", 4, 1, "/etc/inittab", "true");
  list_probe absent(nullptr, "absent", 4, 1, "/etc/absent", "true");
  EXPECT_TRUE(present.test());
  EXPECT_FALSE(absent.test());

  probe_group g("Display Information", 16, nullptr);
  file_probe missing(&g, "XOrg Configuration", 4, 1, "/etc/X11/xorg.conf");
  fake_probe other(&g, "Display Settings");
  EXPECT_FALSE(missing.test());
  run_all_console();
  EXPECT_EQ(ran, (names{"Display Settings"}));
}

TEST_F(FileProbeTest, FifoOrDeviceNeverHangsTheRun) {
  ASSERT_EQ(mkfifo(host("/etc/fifo").c_str(), 0600), 0);
  ASSERT_EQ(symlink("/dev/zero", host("/etc/zero").c_str()), 0);
  alarm(20);  // a hang fails the test instead of stalling the suite
  file_probe fifo(nullptr, "fifo", 1, 1, "/etc/fifo"), zero(nullptr, "zero", 1, 1, "/etc/zero");
  EXPECT_FALSE(fifo.test());
  EXPECT_FALSE(fifo.run(report));
  EXPECT_FALSE(zero.test());
  EXPECT_FALSE(zero.run(report));
  alarm(0);
}

}  // namespace
