// file_task_test.cpp - report frame, report hand-over to the container or to
// the final name, and what happens when a write or a name goes wrong.
#include "file_task.h"

#include "zvtest.h"
#include <sys/resource.h>

#include "gthfile.h"
#include "probe.h"
#include "table.h"
#include "zelvarn2.h"
#include "temp_files.h"
#include "zv2file.h"

namespace {

std::string hex_pid() {
  char b[16];
  snprintf(b, sizeof b, "%x", static_cast<unsigned>(getpid()));
  return b;
}

bool is_link(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

/// Each test runs in a fresh current directory with the file name template "T".
class FileTask : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getcwd(old_cwd, sizeof old_cwd), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    gatherer_default_configuration();
    gatherer_filename(FILENAME_TEMPLATE, SETTING_SET, "T");
    task::output_file = nullptr;
  }
  void TearDown() override {
    delete GatherFile::instance;
    GatherFile::instance = nullptr;
    set_gather_file_open(false);
    Table::set_output_format(OUTPUT_ZVML);
    ASSERT_EQ(chdir(old_cwd), 0);
  }
  void open_container() {
    ASSERT_EQ(gather_file()->CreateFile("T.ZV2"), 0);
    set_gather_file_open(true);
  }
  std::string report(const std::string& content) {
    EXPECT_TRUE(zvtest::write_file(dir.path(), "zelva" + hex_pid() + ".tmp", content));
    return "zelva" + hex_pid() + ".tmp";
  }
  std::vector<std::string> files() { return zvtest::list_dir(dir.path()); }
  int hand_over(const std::string& path, const char* ext = "XML", const char* sub = nullptr) {
    saved = nullptr;
    error = nullptr;
    return store_or_save_file(path.c_str(), 15, &saved, &error, ext, sub);
  }
  /// Runs the create and close tasks of one report class.
  template <class T>
  bool run_report() {
    T create("Create", 8), close("Close", 25);
    EXPECT_TRUE(create.test() && create.run(nullptr));
    return task::output_file && close.run(task::output_file);
  }
  zvtest::temp_dir dir;
  char old_cwd[4096];
  const char* saved = nullptr;
  const char* error = nullptr;
};

void swap_in_link(const char* name) {
  ASSERT_EQ(rename(name, "moved.tmp"), 0);
  ASSERT_EQ(symlink("secret", name), 0);
}

TEST_F(FileTask, ReportSwappedAtItsTemporaryNameIsSavedFromItsOwnDescriptor) {
  gatherer_setting(SETTING_CONTAINER, SETTING_OFF);
  ASSERT_TRUE(zvtest::write_file(dir.path(), "secret", "root-only"));
  temp_files_handover_hook = swap_in_link;
  bool ok = run_report<xml_output_file_task>();
  temp_files_handover_hook = nullptr;
  EXPECT_TRUE(ok);
  std::string saved_report = zvtest::read_file(dir.file("T.XML"));
  EXPECT_FALSE(is_link(dir.file("T.XML")));
  EXPECT_EQ(saved_report.find("root-only"), std::string::npos);
  EXPECT_NE(saved_report.find("<?xml"), std::string::npos) << saved_report;
}

TEST_F(FileTask, KeepLooseStoresAndSavesUnderTheFinalName) {
  open_container();
  gatherer_setting(SETTING_KEEP_LOOSE, SETTING_ON);
  EXPECT_EQ(hand_over(report("<r/>")), 1);
  EXPECT_EQ(files(), (std::vector<std::string>{"T.XML", "T.ZV2"}));
  EXPECT_STREQ(saved, "T.XML");
  EXPECT_EQ(gather_file()->NumItems(), 1);
}

TEST_F(FileTask, LocalModeSavesUnderTemplateSubNameAndExtension) {
  gatherer_setting(SETTING_CONTAINER, SETTING_OFF);
  EXPECT_EQ(hand_over(report("<r/>"), "XML", "FILESCAN"), 1);
  EXPECT_EQ(files(), std::vector<std::string>{"T.FILESCAN.XML"});
  EXPECT_STREQ(saved, "T.FILESCAN.XML");
  EXPECT_EQ(zvtest::read_file(dir.file("T.FILESCAN.XML")), "<r/>");
  EXPECT_EQ(hand_over(report("new"), "XML", "FILESCAN"), 1);  // an earlier report is replaced
  EXPECT_EQ(zvtest::read_file(dir.file("T.FILESCAN.XML")), "new");
  EXPECT_EQ(gatherer_setting(SETTING_RESULT, SETTING_GET), 0);
}

TEST_F(FileTask, FailedStoreKeepsTheReportUnderItsFinalNameAndFails) {
  // Container mode, but no container could be made.
  EXPECT_EQ(hand_over(report("<r/>")), 0);
  EXPECT_EQ(files(), std::vector<std::string>{"T.XML"});
  EXPECT_STREQ(saved, "T.XML");
  ASSERT_NE(error, nullptr);
  EXPECT_STREQ(error, "Not stored in container, saved as T.XML");
  EXPECT_EQ(gatherer_setting(SETTING_RESULT, SETTING_GET), 1);
  EXPECT_TRUE(container_is_incomplete());
}

TEST_F(FileTask, LinkOrDirectoryAtTheFinalNameIsLeftAloneAndTheReportKept) {
  gatherer_setting(SETTING_CONTAINER, SETTING_OFF);
  ASSERT_TRUE(zvtest::write_file(dir.path(), "victim", "precious"));
  ASSERT_EQ(symlink("victim", "T.XML"), 0);
  std::string temp = report("<r/>");
  EXPECT_EQ(hand_over(temp), 0);
  EXPECT_EQ(saved, nullptr);  // the console never names a file that is not there
  ASSERT_NE(error, nullptr);
  EXPECT_NE(std::string(error).find("kept as " + temp), std::string::npos);
  EXPECT_TRUE(is_link(dir.file("T.XML")));
  EXPECT_EQ(zvtest::read_file(dir.file("victim")), "precious");
  EXPECT_EQ(zvtest::read_file(dir.file(temp)), "<r/>");
  EXPECT_EQ(gatherer_setting(SETTING_RESULT, SETTING_GET), 1);

  ASSERT_EQ(mkdir("T.HTML", 0700), 0);
  EXPECT_EQ(hand_over(temp, "HTML"), 0);
  EXPECT_EQ(saved, nullptr);
}

TEST_F(FileTask, TakenTemporaryReportNameIsNeitherFollowedNorClobbered) {
  open_container();
  ASSERT_TRUE(zvtest::write_file(dir.path(), "victim", "precious"));
  std::string usual = "zelva" + hex_pid() + ".tmp";
  ASSERT_EQ(symlink("victim", usual.c_str()), 0);
  ASSERT_TRUE(run_report<xml_output_file_task>());
  EXPECT_EQ(zvtest::read_file(dir.file("victim")), "precious");
  EXPECT_TRUE(is_link(dir.file(usual)));
  // The report went in under the other name, and that name is gone again.
  EXPECT_EQ(files(), (std::vector<std::string>{"T.ZV2", "victim", usual}));
  EXPECT_EQ(gather_file()->GetItemType(0), 15);
}

/// A probe task, so the HTML contents list it.
class listed_probe : public probe_task {
 public:
  explicit listed_probe(const char* n) : probe_task(n, 16) {}
  bool run(FILE*) override { return true; }
};

TEST_F(FileTask, HtmlContentsListProbeTasksOnlyLinkedByName) {
  gatherer_setting(SETTING_CONTAINER, SETTING_OFF);
  Table::set_output_format(OUTPUT_HTML);
  listed_probe probe("Disks & <Volumes>");
  ASSERT_TRUE(run_report<html_output_file_task>());
  std::string html = zvtest::read_file(dir.file("T.HTML"));
  EXPECT_NE(html.find("<h1>Table of Contents</h1>\n<ol id='toc'>\n"
                      "<li><a href=\"#Disks &amp; &lt;Volumes&gt;\">Disks &amp; &lt;Volumes&gt;</a></li>\n"
                      "</ol>\n"),
            std::string::npos)
      << html;
  EXPECT_EQ(html.find(">Create<"), std::string::npos);  // system tasks are not listed
}

/// In a child limited to a small file size (with the signal ignored, so a
/// write fails with EFBIG instead of killing it): the report cannot be
/// written whole. Exit code 0 means everything behaved.
int write_error_child(bool container) {
  gatherer_default_configuration();
  gatherer_filename(FILENAME_TEMPLATE, SETTING_SET, "T");
  if (!container) gatherer_setting(SETTING_CONTAINER, SETTING_OFF);
  if (container && (gather_file()->CreateFile("T.ZV2") != 0)) return 10;
  set_gather_file_open(container);
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = {16384, 16384};
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 11;
  xml_output_file_task create("Create", 8), close("Close", 25);
  if (!create.run(nullptr)) return 12;
  std::string line(1000, 'x');
  for (int i = 0; i < 40; ++i) fprintf(task::output_file, "%s\n", line.c_str());
  if (close.run(task::output_file)) return 13;  // must fail
  if (gatherer_setting(SETTING_RESULT, SETTING_GET) != 1) return 14;
  struct stat st;
  if (lstat("T.XML", &st) == 0) return 15;  // no truncated report under the final name
  if (lstat(("zelva" + hex_pid() + ".tmp").c_str(), &st) == 0) return 16;
  if (container && gather_file()->NumItems() != 0) return 17;
  if (container && !container_is_incomplete()) return 18;
  return 0;
}

TEST_F(FileTask, WriteErrorAtCloseFailsTheRunAndKeepsNoTruncatedReport) {
  for (bool container : {false, true}) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(write_error_child(container));
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "container " << container;
  }
}

}  // namespace
