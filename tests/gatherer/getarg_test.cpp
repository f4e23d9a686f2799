// getarg_test.cpp - option words, shared words, probe lists, task
// parameters and the properties file.
#include "zvtest.h"

#include "getarg.h"
#include "probe.h"
#include "sysroot.h"
#include "task.h"
#include "util_string.h"
#include "zelvarn2.h"

namespace {

/// A registered task that records every parameter it is given.
class param_task : public task {
 public:
  explicit param_task(const char* name = "Arg Test Task") : task(name, 98) {}
  bool run(FILE*) override { return true; }
  bool set_parameter(const char* key, const char* value) override {
    pairs.push_back(std::string(key ? key : "") + "=" + (value ? value : "(null)"));
    return true;
  }
  std::vector<std::string> pairs;
};

// Registered once for the whole run (tasks live in the program-wide registry).
param_task& recorder() { static param_task* t = new param_task(); return *t; }
param_task& install_recorder() { static param_task* t = new param_task("Install Driver"); return *t; }

/// The names of probe list index, joined by ","; "(none)" when not installed.
std::string list_names(int index) {
  str_list* list = probe_task::probe_lists[index];
  if (!list) return "(none)";
  std::string names;
  for (const char* s = list->get_first(); s; s = list->get_next()) names += std::string(names.empty() ? "" : ",") + s;
  return names;
}

class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    gatherer_default_configuration();
    gatherer_task_list = {nullptr, false, false, false, false};
    for (str_list*& l : probe_task::probe_lists) {
      delete l;
      l = nullptr;
    }
    recorder().pairs.clear();
  }
  void TearDown() override {
    sysroot_set(nullptr);
    gatherer_default_configuration();
  }

  /// Parses the words after a program name; returns what the console showed.
  std::string parse(std::vector<std::wstring> words) {
    words.insert(words.begin(), L"zelvarn2");
    std::vector<wchar_t*> argv;
    for (std::wstring& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    testing::internal::CaptureStderr();
    gatherer_parse_command_line(static_cast<int>(words.size()), argv.data());
    return testing::internal::GetCapturedStderr();
  }

  /// Reads a properties file of this content; returns the console text.
  std::string properties(const std::string& content) {
    std::string path = dir.file("test.zvp");
    zvtest::write_file(dir.path(), "test.zvp", content);
    std::wstring wpath(path.begin(), path.end());
    testing::internal::CaptureStderr();
    gatherer_parse_properties(wpath.c_str());
    return testing::internal::GetCapturedStderr();
  }

  int setting(int i) { return gatherer_setting(i, SETTING_GET); }
  zvtest::temp_dir dir;
};

TEST_F(CommandLine, OptionWordsIgnoreCase) {
  EXPECT_EQ(parse({L"-BATCH", L"-Silent", L"-NoLimit", L"-STEP", L"-Vpd", L"-LOCAL"}), "");
  EXPECT_EQ(setting(SETTING_BATCH), 1);
  EXPECT_EQ(setting(SETTING_SILENT), 1);
  EXPECT_EQ(setting(SETTING_EVENT_LIMIT), 0);
  EXPECT_EQ(setting(SETTING_STEP), 1);
  EXPECT_EQ(setting(SETTING_VPD), 1);
  EXPECT_EQ(setting(SETTING_CONTAINER), 0);
}

TEST_F(CommandLine, LevelWordsWarnAboutAnythingButOneDigitUpToSix) {
  EXPECT_EQ(parse({L"-level", L"7"}), "Warning: level 7 not supported.\n");
  EXPECT_EQ(parse({L"-level", L"10"}), "Warning: level 10 not supported.\n");
  EXPECT_EQ(parse({L"-level"}), "Warning: level (none) not supported.\n");
  EXPECT_EQ(parse({L"-level", L"-batch"}), "Warning: level (none) not supported.\n");
  EXPECT_EQ(setting(SETTING_DETAIL), 5);
  EXPECT_EQ(parse({L"-LEVEL3"}), "");
  EXPECT_EQ(setting(SETTING_DETAIL), 3);
  parse({L"-level", L"0"});
  EXPECT_EQ(setting(SETTING_DETAIL), 0);
}

TEST_F(CommandLine, FilenameTakesTheNextWordOrTheRestOfTheWord) {
  parse({L"-filename", L"-batch"});
  EXPECT_STREQ(gatherer_filename(FILENAME_TEMPLATE, SETTING_GET), "@V-@M-@S");
  EXPECT_EQ(setting(SETTING_BATCH), 1);
  parse({L"-filename", L"@H-out"});
  EXPECT_STREQ(gatherer_filename(FILENAME_TEMPLATE, SETTING_GET), "@H-out");
  parse({L"-filenameX@D"});
  EXPECT_STREQ(gatherer_filename(FILENAME_TEMPLATE, SETTING_GET), "X@D");
}

TEST_F(CommandLine, UnknownWordsAreReportedAndTheWalkGoesOn) {
  EXPECT_EQ(parse({L"stray", L"-bogus", L"value", L"-batch"}),
            "I don't understand stray\nI don't understand bogus\n");
  EXPECT_EQ(setting(SETTING_BATCH), 1);
  // A word taking no value still swallows a following plain word.
  EXPECT_EQ(parse({L"-batch", L"yes"}), "");
  // A file-import word makes its import task and takes the file name.
  EXPECT_EQ(parse({L"-dgmlfile", L"x.dgml"}), "");
  task* import = task::get_task_by_name("x.dgml");
  EXPECT_NE(import, nullptr);
  delete import;
}

TEST_F(CommandLine, ProbeListWordsSplitAtSemicolonsStopAtTheNextOptionAndNeedNames) {
  parse({L"-probe", L"NETWORK;CPU_INFORMATION", L"time zone", L"-batch"});
  EXPECT_EQ(list_names(0), "NETWORK,CPU_INFORMATION,time zone");
  EXPECT_EQ(setting(SETTING_BATCH), 1);
  parse({L"-probes", L"A"});
  EXPECT_EQ(list_names(0), "A");  // replaces the earlier list
  parse({L"-skip", L"B;;C;"});
  EXPECT_EQ(list_names(1), "B,C");
  parse({L"-enable", L"D"});
  EXPECT_EQ(list_names(2), "D");
  SetUp();
  parse({L"-probe"});
  parse({L"-skip", L"-batch"});
  parse({L"-enable", L";;"});
  EXPECT_EQ(list_names(0) + list_names(1) + list_names(2), "(none)(none)(none)");
}

TEST_F(CommandLine, TaskParametersGoToTheNamedTaskUpToTheNextOptionOrAreReported) {
  param_task& t = recorder();
  parse({L"-p", L"arg test task", L"a=1", L"b", L"-batch"});
  EXPECT_EQ(t.pairs, (std::vector<std::string>{"a=1", "b=(null)"}));
  EXPECT_EQ(setting(SETTING_BATCH), 1);
  // At the end, or naming an unknown task (a long name is not cut).
  EXPECT_EQ(parse({L"-p"}), "I don't understand '-p '\n");
  EXPECT_EQ(parse({L"-p", std::wstring(300, L'Q'), L"k=v"}), "I don't understand '-p " + std::string(300, 'Q') + "'\n");
}

TEST_F(CommandLine, InstallPassesAnOptionalReferenceAndSelectsTheFixedList) {
  param_task& t = install_recorder();
  parse({L"-install", L"my-driver"});
  EXPECT_EQ(t.pairs, std::vector<std::string>{"driver_reference=my-driver"});
  EXPECT_EQ(setting(SETTING_FIXED_TASK_LIST), 1);
  EXPECT_TRUE(gatherer_task_list.install);
  t.pairs.clear();
  parse({L"-install", L"-batch"});
  EXPECT_EQ(t.pairs, std::vector<std::string>{"driver_reference=zelvarn2-sticky-driver"});
  EXPECT_EQ(setting(SETTING_BATCH), 1);
  EXPECT_EQ(parse({L"-uninstall"}), "");  // no REMOVE_DRIVER task: flags only
  EXPECT_TRUE(gatherer_task_list.uninstall);
}

TEST_F(CommandLine, SysrootWordSetsTheSystemRootOnlyForADirectoryWithContentElseStops) {
  zvtest::write_file(dir.path(), "captured/etc/issue", "x");
  zvtest::write_file(dir.path(), "plain", "x");
  ASSERT_EQ(mkdir(dir.file("empty").c_str(), 0700), 0);
  std::string captured = dir.file("captured");
  parse({L"-sysroot", std::wstring(captured.begin(), captured.end())});
  EXPECT_TRUE(sysroot_is_set());
  sysroot_set(nullptr);
  const struct {
    std::string path;
    const char* said;
  } refused[] = {{"/no/such/directory", "does not exist"}, {dir.file("plain"), "is not a directory"},
                 {dir.file("empty"), "is empty"}, {"", "directory expected"}};
  for (const auto& r : refused) {
    gatherer_default_configuration();
    EXPECT_NE(parse({L"-sysroot", std::wstring(r.path.begin(), r.path.end())}).find(r.said), std::string::npos);
    EXPECT_TRUE(gatherer_run_refused()) << r.said;
    EXPECT_FALSE(sysroot_is_set());
  }
  std::wstring name = L"zelvarn2";
  wchar_t* argv[] = {&name[0], nullptr};
  EXPECT_EQ(gatherer_run(1, argv), 1);  // before the banner: nothing shown or written
}

TEST_F(CommandLine, PropertiesIgnoreBlankAndCommentLinesAndApplyWordsAndTaskParameters) {
  param_task& t = recorder();
  std::string said = properties("  \n# a comment\n\tbatch\nlevel = 2\nprobe=NETWORK;CPU\nskip\nenable=\n"
                                "arg_test_task.verbose\narg test task.depth=3\n");
  EXPECT_NE(said.find("Using properties from "), std::string::npos);
  EXPECT_EQ(said.find("understand"), std::string::npos) << said;
  EXPECT_EQ(setting(SETTING_BATCH), 1);
  EXPECT_EQ(setting(SETTING_DETAIL), 2);
  EXPECT_EQ(list_names(0) + "|" + list_names(1) + "|" + list_names(2), "NETWORK,CPU|(none)|(none)");
  // A word with a dot is a task parameter.
  EXPECT_EQ(t.pairs, (std::vector<std::string>{"verbose=(null)", "depth=3"}));
  EXPECT_NE(said.find("probe arg_test_task, parameter verbose\n"), std::string::npos);
}

TEST_F(CommandLine, PropertiesCutVeryLongLinesAndKeepReading) {
  properties("probe=" + std::string(200000, 'A') + "\nbatch\n");
  EXPECT_EQ(setting(SETTING_BATCH), 1);
  EXPECT_EQ(list_names(0).size(), 4096u - 6u);
}

TEST_F(CommandLine, PropertiesFileNamingItselfIsReadOnceAndStopsAtTheNestingLimit) {
  // Each self reference used to open the file anew down to the depth limit:
  // three of them meant thousands of reads, a dozen never finished.
  std::string self = "properties=" + dir.file("test.zvp") + "\n";
  std::string said = properties(self + self + "batch\n" + self);
  EXPECT_NE(said.find("nested too deeply"), std::string::npos);
  EXPECT_EQ(zvtest::count_of(said, "Using properties from "), 1u);
  EXPECT_EQ(setting(SETTING_BATCH), 1);
}

TEST_F(CommandLine, PropertiesReaderRefusesMissingFilesDirectoriesAndFifosSayingWhy) {
  std::string fifo = dir.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string path;
    const char* why;
  } cases[] = {{dir.file("absent"), "No such file"}, {dir.path(), "not a regular file"}, {fifo, "not a regular file"}};
  for (const auto& c : cases) {
    std::wstring w(c.path.begin(), c.path.end());
    testing::internal::CaptureStderr();
    gatherer_parse_properties(w.c_str());  // must return at once, even for the FIFO
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("Cannot read properties from " + c.path + ": " + c.why), std::string::npos) << said;
  }
}

// Names reach the file system as given, whatever the locale made of them;
// the console never passes a control sequence through.
TEST_F(CommandLine, PropertiesNamedByTheirBytesSkipAByteOrderMarkAndEchoNoControls) {
  const std::string name = "caf\xC3\xA9\x01.zvp";
  zvtest::write_file(dir.path(), name, "\xEF\xBB\xBF" "batch\n\x1b[2Jclear\n");
  std::string bytes = "-properties";
  std::string path = dir.file(name);
  char* argv[] = {&bytes[0], &path[0], nullptr};
  // What an ASCII-only locale makes of the name: the accent undecodable.
  std::wstring wname = std::wstring(dir.path().begin(), dir.path().end()) + L"/caf\xFFFD\xFFFD\x01.zvp";
  std::wstring woption = L"-properties";
  wchar_t* wargv[] = {&woption[0], &wname[0], nullptr};
  gatherer_keep_argument_bytes(2, argv, wargv);
  testing::internal::CaptureStderr();
  gatherer_parse_properties(wargv[1]);
  std::string said = testing::internal::GetCapturedStderr();
  gatherer_keep_argument_bytes(0, nullptr, nullptr);
  EXPECT_EQ(setting(SETTING_BATCH), 1) << said;
  EXPECT_NE(said.find("I don't understand ?[2Jclear"), std::string::npos) << said;
  EXPECT_NE(said.find(".zvp"), std::string::npos) << said;
  EXPECT_EQ(said.find_first_of("\x01\x1b"), std::string::npos) << said;
}

}  // namespace
