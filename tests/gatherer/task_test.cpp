// task_test.cpp - the task registry, validation, console lines, run loops, step mode, -p.
#include "task.h"

#include "zvtest.h"

#include "zelvarn2.h"

namespace {

std::vector<std::string> ran;  // names of the tasks whose run was called, in order

/// A task whose test and run results and kind are set by the test.
class fake_task : public task {
 public:
  fake_task(const char* n, int o, bool is_system = true, int dl = 0) : task(n, o) {
    system_task = is_system;
    detail = dl;
  }
  bool run(FILE*) override {
    ran.push_back(name);
    return run_ok;
  }
  bool test() override { return test_ok; }
  bool set_parameter(const char* k, const char* v) override {
    if (!accept) return task::set_parameter(k, v);
    params.push_back(std::string(k) + "|" + (v ? v : "(null)"));
    return true;
  }
  void set_masks(int pl, int cu) {
    platform = pl;
    customers = cu;
  }
  const char* failure_word() const { return fail_text; }

  bool run_ok = true;
  bool test_ok = true;
  bool accept = false;
  std::vector<std::string> params;
};

/// Each test starts from an empty registry and known settings, and leaves the
/// program's registry and settings as it found them.
class TaskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_first = task::first;
    saved_output = task::output_file;
    task::first = nullptr;
    for (int i = 0; i < SETTING_COUNT; ++i) saved[i] = gatherer_setting(i, SETTING_GET);
    gatherer_setting(SETTING_SILENT, SETTING_OFF);
    gatherer_setting(SETTING_STEP, SETTING_OFF);
    gatherer_setting(SETTING_DETAIL, SETTING_SET, 5);
    gatherer_setting(SETTING_CUSTOMER, SETTING_SET, 1);
    task::reset_step_mode();
    report = tmpfile();
    task::output_file = report;
    ran.clear();
  }
  void TearDown() override {
    if (answers) fclose(answers);
    task::prompt_input = nullptr;
    task::output_file = saved_output;
    task::first = saved_first;
    task::reset_step_mode();
    fclose(report);
    for (int i = 0; i < SETTING_COUNT; ++i) gatherer_setting(i, SETTING_SET, saved[i]);
  }
  /// Step-mode answers come from this text.
  void answer(const char* text) {
    answers = tmpfile();
    fputs(text, answers);
    rewind(answers);
    task::prompt_input = answers;
  }
  std::vector<std::string> registry_names() {
    std::vector<std::string> names;
    for (task_iterator it; it.get(); it.get_next()) names.push_back(it.get()->get_name());
    return names;
  }

  task* saved_first = nullptr;
  FILE* saved_output = nullptr;
  FILE* report = nullptr;
  FILE* answers = nullptr;
  int saved[SETTING_COUNT];
};

using names = std::vector<std::string>;

TEST_F(TaskTest, KeepsRegistrySortedWithEqualOrdersInConstructionOrderAndDropsDestroyedTasks) {
  fake_task a("a", 10), b("b", 10), c("c", 5), d("d", 20), e("e", 10), f("f", 1);
  { fake_task gone("gone", 10); }
  EXPECT_EQ(registry_names(), (names{"f", "c", "a", "b", "e", "d"}));
}

TEST_F(TaskTest, MakesIdentifierAndFindsTasksWithoutRegardToCase) {
  fake_task t("CPU Information", 16);
  EXPECT_STREQ(t.get_id(), "CPU_INFORMATION");
  char id[] = "a-b c.d9\xc3\xa9";
  task::make_task_id(id);
  EXPECT_STREQ(id, "A_B_C_D9__");
  EXPECT_EQ(task::get_task("cpu_information"), &t);
  EXPECT_EQ(task::get_task_by_name("cpu-information"), &t);
  EXPECT_EQ(task::get_task_by_name(L"Cpu information"), &t);
  EXPECT_EQ(task::get_task_by_name("cpu"), nullptr);
}

TEST_F(TaskTest, ValidationGatesByDetailCustomerAndPlatform) {
  fake_task d0("d0", 1, true, 0), d1("d1", 1, true, 1), cust("cust", 1), other("other", 1),
      linux_bit("linux", 1);
  cust.set_masks(0xffff, 0x0010);
  other.set_masks(0x2f70, 0xffff);
  linux_bit.set_masks(0x2f71, 0xffef);
  gatherer_setting(SETTING_DETAIL, SETTING_SET, 0);
  EXPECT_TRUE(d0.validate());
  EXPECT_FALSE(d1.validate());
  gatherer_setting(SETTING_DETAIL, SETTING_SET, 5);
  EXPECT_TRUE(d1.validate());
  EXPECT_FALSE(cust.validate());
  EXPECT_FALSE(other.validate());
  EXPECT_TRUE(linux_bit.validate());
  task::run_all();
  EXPECT_EQ(ran, (names{"d0", "d1", "linux"}));
}

TEST_F(TaskTest, PrintsNameCutTo39InADottedFieldThenStatusWordAndNothingForSkippedTasks) {
  std::string long_name(45, 'N'), exactly(39, 'E');
  fake_task tz("TIME ZONE", 15), failing("Broken", 16), a(long_name.c_str(), 17), b(exactly.c_str(), 18),
      untestable("untestable", 19), hidden("hidden", 20, true, 9);
  failing.run_ok = false;
  untestable.test_ok = false;
  testing::internal::CaptureStderr();
  for (fake_task* t : {&tz, &failing, &a, &b}) t->run_task(report);
  EXPECT_FALSE(untestable.run_task(report));
  EXPECT_FALSE(hidden.run_task(report));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "TIME ZONE " + std::string(30, '.') + " OK\n" + "Broken " + std::string(33, '.') + " Not found\n" +
                std::string(39, 'N') + "  OK\n" + exactly + "  OK\n");
  EXPECT_EQ(ran, (names{"TIME ZONE", "Broken", long_name, exactly}));
}

TEST_F(TaskTest, RunsOrderRangesBracketRangesAndFixedListsInListOrder) {
  fake_task a("o1", 1), b("o3", 3), c("o4", 4), d("o5", 5), e("o10", 10), f("o11", 11),
      g("o24", 24), h("o26", 26), i("o27", 27), j("o29", 29), k("o30", 30);
  testing::internal::CaptureStderr();
  task::run_install_tasks();
  task::run_init_tasks();
  task::run_cleanup_tasks();
  task::run_uninstall_tasks();
  EXPECT_EQ(ran, (names{"o1", "o3", "o5", "o10", "o24", "o26", "o29"}));
  ran.clear();
  fake_task named1("First Named", 16), named2("second", 16);
  const wchar_t* list_names[] = {L"SECOND", L"no such task", L"first named", nullptr};
  task::run_task_list({list_names, true, false, false, false});
  EXPECT_EQ(ran, (names{"o1", "o3", "second", "First Named"}));
  ran.clear();
  task::run_task_list({nullptr, false, true, true, false});
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(ran, (names{"o5", "o10", "o24", "o26"}));
}

TEST_F(TaskTest, PassesParameterPairsToTheNamedTaskAndReportsUnknownOnes) {
  fake_task t("My Task", 16);
  t.accept = true;
  const wchar_t* words[] = {L"prog", L"-p", L"my_task", L"a=1", L"b", L"c=x=y", L"-batch"};
  int index = 1;
  task::set_task_parameters(7, const_cast<wchar_t**>(words), index);
  EXPECT_EQ(index, 5);
  EXPECT_EQ(t.params, (names{"a|1", "b|(null)", "c|x=y"}));
  task::set_task_parameter(L"MY TASK", L"k", nullptr);
  EXPECT_EQ(t.params.back(), "k|(null)");

  std::string long_name(300, 'z');
  std::wstring wide_long(long_name.begin(), long_name.end());
  const wchar_t* bad[] = {L"prog", L"-p", wide_long.c_str(), L"a=1", L"-p"};
  index = 1;
  testing::internal::CaptureStderr();
  task::set_task_parameters(5, const_cast<wchar_t**>(bad), index);
  EXPECT_EQ(index, 3);
  index = 4;  // "-p" as the last word
  task::set_task_parameters(5, const_cast<wchar_t**>(bad), index);
  EXPECT_EQ(index, 4);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "I don't understand '-p " + long_name + "'\nI don't understand '-p '\n");
}

// ---- step mode ------------------------------------------------------------

TEST_F(TaskTest, StepModeAnswersRunSkipRunOnOrQuitWhileSystemTasksAlwaysRun) {
  const struct {
    const char* what;
    std::string answers;
    names expected;
    size_t prompts;
  } cases[] = {
      {"Enter runs, n skips", "\nn\ny\n", {"one", "three", "close"}, 3},
      {"r runs on without asking", "N\nr\n", {"two", "three", "close"}, 2},
      {"q skips the later probes", "q\n", {"close"}, 1},
      // 79 characters are read and the "y" beyond them is thrown away with
      // the rest of the line; "x" asks again too.
      {"other answers ask again", std::string(79, 'z') + "y\nx\n\nn\nn\n", {"one", "close"}, 5},
      {"end of input quits instead of spinning", "", {"close"}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    gatherer_setting(SETTING_STEP, SETTING_ON);
    task::reset_step_mode();
    fake_task p1("one", 16, false), p2("two", 16, false), p3("three", 16, false), close("close", 25);
    if (answers) fclose(answers);
    answer(c.answers.c_str());
    ran.clear();
    testing::internal::CaptureStderr();
    task::run_all();
    std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ran, c.expected);
    EXPECT_EQ(zvtest::count_of(out, "[Y/n/r/q] "), c.prompts) << out;
    if (c.answers == "\nn\ny\n") {
      EXPECT_STREQ(p2.failure_word(), "Skipped");
      EXPECT_NE(out.find("one " + std::string(36, '.') + " OK\n"), std::string::npos) << out;
      EXPECT_NE(out.find("two " + std::string(36, '.') + " Skipped\n"), std::string::npos) << out;
    }
    if (c.answers == "N\nr\n") {
      EXPECT_EQ(gatherer_setting(SETTING_STEP, SETTING_GET), 0);
    }
  }
}

TEST_F(TaskTest, StepModeNeverRunsAProbeWithoutReportFile) {
  class needs_report : public fake_task {
   public:
    using fake_task::fake_task;
    bool check_fp(FILE* f) override { return f != nullptr; }
  } p("needs report", 16, false);
  gatherer_setting(SETTING_STEP, SETTING_ON);
  task::output_file = nullptr;
  answer("y\n");
  testing::internal::CaptureStderr();
  task::run_all();
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(ran.empty());
  EXPECT_NE(out.find(" Not found\n"), std::string::npos) << out;
}

}  // namespace
