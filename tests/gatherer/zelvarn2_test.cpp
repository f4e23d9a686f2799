// zelvarn2_test.cpp - run settings, filename slots, console channel, profiles
// and the end of the run sequence.
#include "zvtest.h"

#include "table.h"
#include "task.h"
#include "zelvarn2.h"

namespace {

/// A registered task that records the parameters it is given.
class driver_task : public task {
 public:
  explicit driver_task(const char* name) : task(name, 2) {}
  bool run(FILE*) override { return true; }
  bool set_parameter(const char* key, const char* value) override {
    last_key = key ? key : "";
    last_value = value ? value : "(null)";
    return true;
  }
  std::string last_key, last_value;
};

driver_task& remove_task() { static driver_task* t = new driver_task("Remove Driver"); return *t; }

class RunControl : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() {
    gatherer_default_configuration();
    gatherer_setting(SETTING_VPD, SETTING_OFF);  // the one setting without a default pair
    gatherer_task_list = {nullptr, false, false, false, false};
    GTH_SUBVERSION = "";
  }
};

int get(int i) { return gatherer_setting(i, SETTING_GET); }

TEST_F(RunControl, SettingModesReturnTheOldValueAndIndexesOutsideTheTableChangeNothing) {
  EXPECT_EQ(get(SETTING_DETAIL), 5);
  EXPECT_EQ(gatherer_setting(SETTING_DETAIL, SETTING_SET, 3), 5);
  EXPECT_EQ(gatherer_setting(SETTING_DETAIL, SETTING_ON), 3);
  EXPECT_EQ(gatherer_setting(SETTING_DETAIL, SETTING_OFF), 1);
  EXPECT_EQ(get(SETTING_DETAIL), 0);
  for (int bad : {-1, 18, 1000, -100000}) {
    EXPECT_EQ(gatherer_setting(bad, SETTING_SET, 42), 0);
    EXPECT_EQ(get(bad), 0);
  }
  EXPECT_EQ(get(SETTING_ACTION) + get(SETTING_BATCH), 0);
}

TEST_F(RunControl, DefaultsResetEverySettingButTheVpdRequest) {
  gatherer_setting(SETTING_VPD, SETTING_ON);
  gatherer_setting(SETTING_STDOUT, SETTING_ON);
  set_filename_template(L"x");
  gatherer_default_configuration();
  EXPECT_EQ(get(SETTING_VPD), 1);  // no default pair for it
  EXPECT_EQ(get(SETTING_STDOUT), 0);
  EXPECT_STREQ(gatherer_filename(FILENAME_TEMPLATE, SETTING_GET), "@V-@M-@S");
  EXPECT_STREQ(gatherer_filename(FILENAME_EXTENSION, SETTING_GET), ".ZV2");
}

TEST_F(RunControl, ConsoleChannelWritesToStandardErrorUnlessSilent) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(printm("hello %d\n", 42), 9);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "hello 42\n");
  gatherer_setting(SETTING_SILENT, SETTING_ON);
  testing::internal::CaptureStderr();
  EXPECT_EQ(printm("quiet\n"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(RunControl, DetailLevelAndFilenameTemplateKeepTheOldValueForBadOrMissingText) {
  set_detail_level(L"3");
  const wchar_t* bad[] = {L"7", L"10", L"", L"a", L"-1", nullptr};
  for (const wchar_t* level : bad) {
    std::wstring w = level ? level : L"(none)";
    testing::internal::CaptureStderr();
    set_detail_level(level);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Warning: level " + std::string(w.begin(), w.end()) + " not supported.\n");
  }
  EXPECT_EQ(get(SETTING_DETAIL), 3);
  set_filename_template(L"@H-@D");
  set_filename_template(nullptr);
  EXPECT_STREQ(gatherer_filename(FILENAME_TEMPLATE, SETTING_GET), "@H-@D");
}

TEST_F(RunControl, ProfilesPresetCustomerBatchFormatAndLabels) {
  kessa_configuration();
  EXPECT_EQ(get(SETTING_CUSTOMER) * 10 + get(SETTING_BATCH), 641);
  ovt_configuration();
  enable_text_mode();
  EXPECT_STREQ(GTH_SUBVERSION, "OVT");
  EXPECT_EQ(Table::get_output_format(), OUTPUT_TEXT);
  EXPECT_STREQ(gatherer_filename(FILENAME_EXTENSION, SETTING_GET), ".GTH");
  static const wchar_t* names[] = {L"SYSTEM_SUMMARY", nullptr};
  enable_orna_mode(names);  // silent to standard output, with a fixed list
  EXPECT_STREQ(GTH_SUBVERSION, "ORNA");
  std::string got;
  for (int i : {SETTING_CUSTOMER, SETTING_DETAIL, SETTING_SILENT, SETTING_CONTAINER, SETTING_FIXED_TASK_LIST,
                SETTING_STDOUT})
    got += std::to_string(get(i)) + " ";
  EXPECT_EQ(got, "16 6 1 0 1 1 ");
  EXPECT_TRUE(gatherer_task_list.init && gatherer_task_list.cleanup);
  EXPECT_FALSE(gatherer_task_list.install || gatherer_task_list.uninstall);
  EXPECT_EQ(gatherer_task_list.names, names);
  EXPECT_EQ(Table::get_output_format(), OUTPUT_ORNA);
}

TEST_F(RunControl, DriverProfilesPassTheDefaultReferenceToARegisteredDriverTask) {
  driver_task& t = remove_task();
  uninstall_driver_configuration();
  EXPECT_EQ(t.last_key + "=" + t.last_value, "driver_reference=zelvarn2-sticky-driver");
  EXPECT_EQ(get(SETTING_FIXED_TASK_LIST), 1);
  EXPECT_TRUE(gatherer_task_list.uninstall);
  EXPECT_FALSE(gatherer_task_list.install);
}

TEST_F(RunControl, RunWithAnUnknownActionOnlyReportsTheResultCode) {
  gatherer_setting(SETTING_ACTION, SETTING_SET, 3);
  gatherer_setting(SETTING_RESULT, SETTING_SET, 1);
  wchar_t name[] = L"zelvarn2";
  wchar_t* argv[] = {name, nullptr};
  testing::internal::CaptureStderr();
  EXPECT_EQ(gatherer_run(1, argv), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Run complete, rc = 1\n");
}

}  // namespace
