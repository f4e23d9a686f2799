// zelvarn2_test.cpp - run settings, filename slots, console channel, profiles
// and the end of the run sequence.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

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

driver_task& remove_task() {
  static driver_task* t = new driver_task("Remove Driver");
  return *t;
}

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

TEST_F(RunControl, SettingModesSetClearAssignAndReadReturningTheOldValue) {
  EXPECT_EQ(gatherer_setting(SETTING_DETAIL, SETTING_GET), 5);
  EXPECT_EQ(gatherer_setting(SETTING_DETAIL, SETTING_SET, 3), 5);
  EXPECT_EQ(gatherer_setting(SETTING_DETAIL, SETTING_ON), 3);
  EXPECT_EQ(gatherer_setting(SETTING_DETAIL, SETTING_OFF), 1);
  EXPECT_EQ(gatherer_setting(SETTING_DETAIL, SETTING_GET), 0);
}

TEST_F(RunControl, SettingOutsideTheTableReadsZeroAndChangesNothing) {
  for (int bad : {-1, 18, 1000, -100000}) {
    EXPECT_EQ(gatherer_setting(bad, SETTING_SET, 42), 0);
    EXPECT_EQ(gatherer_setting(bad, SETTING_GET), 0);
  }
  EXPECT_EQ(gatherer_setting(SETTING_ACTION, SETTING_GET), 0);
  EXPECT_EQ(gatherer_setting(SETTING_BATCH, SETTING_GET), 0);
}

TEST_F(RunControl, DefaultsMatchTheDocumentedPairsAndLeaveTheVpdRequestAlone) {
  const int expected[SETTING_COUNT] = {0, 0, 500, 0, 0, 5, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < SETTING_COUNT; ++i) EXPECT_EQ(gatherer_setting(i, SETTING_GET), expected[i]) << i;
  gatherer_setting(SETTING_VPD, SETTING_ON);
  gatherer_setting(SETTING_STDOUT, SETTING_ON);
  gatherer_default_configuration();
  EXPECT_EQ(gatherer_setting(SETTING_VPD, SETTING_GET), 1);  // no default pair for 14
  EXPECT_EQ(gatherer_setting(SETTING_STDOUT, SETTING_GET), 0);
  EXPECT_STREQ(gatherer_filename(FILENAME_TEMPLATE, SETTING_GET), "@V-@M-@S");
  EXPECT_STREQ(gatherer_filename(FILENAME_EXTENSION, SETTING_GET), ".ZV2");
  EXPECT_EQ(Table::get_output_format(), OUTPUT_ZVML);
}

TEST_F(RunControl, ConsoleChannelWritesToStandardErrorUnlessSilent) {
  testing::internal::CaptureStderr();
  int n = printm("hello %d\n", 42);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "hello 42\n");
  EXPECT_EQ(n, 9);
  gatherer_setting(SETTING_SILENT, SETTING_ON);
  testing::internal::CaptureStderr();
  EXPECT_EQ(printm("quiet\n"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(RunControl, DetailLevelTakesOneDigitFromZeroToSixOnly) {
  set_detail_level(L"3");
  EXPECT_EQ(gatherer_setting(SETTING_DETAIL, SETTING_GET), 3);
  for (const wchar_t* bad : {L"7", L"10", L"", L"a", L"-1"}) {
    testing::internal::CaptureStderr();
    set_detail_level(bad);
    std::string expect = "Warning: level ";
    for (const wchar_t* c = bad; *c; ++c) expect += static_cast<char>(*c);
    expect += " not supported.\n";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), expect);
  }
  testing::internal::CaptureStderr();
  set_detail_level(nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Warning: level (none) not supported.\n");
  EXPECT_EQ(gatherer_setting(SETTING_DETAIL, SETTING_GET), 3);
}

TEST_F(RunControl, FilenameTemplateIsCopiedAndNullKeepsTheOld) {
  set_filename_template(L"@H-@D");
  EXPECT_STREQ(gatherer_filename(FILENAME_TEMPLATE, SETTING_GET), "@H-@D");
  set_filename_template(nullptr);
  EXPECT_STREQ(gatherer_filename(FILENAME_TEMPLATE, SETTING_GET), "@H-@D");
  set_filename_template(L"second");
  EXPECT_STREQ(gatherer_filename(FILENAME_TEMPLATE, SETTING_GET), "second");
}

TEST_F(RunControl, ProfilesPresetCustomerBatchFormatAndLabels) {
  demo_configuration();
  EXPECT_EQ(gatherer_setting(SETTING_CUSTOMER, SETTING_GET), 192);
  EXPECT_EQ(gatherer_setting(SETTING_BATCH, SETTING_GET), 0);
  kessa_configuration();
  EXPECT_EQ(gatherer_setting(SETTING_CUSTOMER, SETTING_GET), 64);
  EXPECT_EQ(gatherer_setting(SETTING_BATCH, SETTING_GET), 1);
  pelmo_configuration();
  EXPECT_STREQ(gatherer_filename(FILENAME_TEMPLATE, SETTING_GET), "@D\\VUDCHECK");
  ovt_configuration();
  EXPECT_STREQ(GTH_SUBVERSION, "OVT");
  EXPECT_EQ(Table::get_output_format(), OUTPUT_XML);
  enable_text_mode();
  EXPECT_EQ(Table::get_output_format(), OUTPUT_TEXT);
  EXPECT_STREQ(gatherer_filename(FILENAME_EXTENSION, SETTING_GET), ".GTH");
  skerrow_configuration();
  EXPECT_STREQ(GTH_SUBVERSION, "Skerrow");
  EXPECT_EQ(Table::get_output_format(), OUTPUT_HTML);
  EXPECT_EQ(gatherer_setting(SETTING_CONTAINER, SETTING_GET), 0);
  debug_configuration(true);
  EXPECT_EQ(gatherer_setting(SETTING_DEBUG_STREAM, SETTING_GET), 1);
}

TEST_F(RunControl, OrnaProfileGoesSilentToStandardOutputWithAFixedList) {
  static const wchar_t* names[] = {L"SYSTEM_SUMMARY", nullptr};
  enable_orna_mode(names);
  EXPECT_STREQ(GTH_SUBVERSION, "ORNA");
  EXPECT_EQ(gatherer_setting(SETTING_CUSTOMER, SETTING_GET), 16);
  EXPECT_EQ(gatherer_setting(SETTING_DETAIL, SETTING_GET), 6);
  EXPECT_EQ(gatherer_setting(SETTING_SILENT, SETTING_GET), 1);
  EXPECT_EQ(gatherer_setting(SETTING_CONTAINER, SETTING_GET), 0);
  EXPECT_EQ(gatherer_setting(SETTING_FIXED_TASK_LIST, SETTING_GET), 1);
  EXPECT_EQ(gatherer_setting(SETTING_STDOUT, SETTING_GET), 1);
  EXPECT_TRUE(gatherer_task_list.init && gatherer_task_list.cleanup);
  EXPECT_FALSE(gatherer_task_list.install || gatherer_task_list.uninstall);
  EXPECT_EQ(gatherer_task_list.names, names);
  EXPECT_EQ(Table::get_output_format(), OUTPUT_ORNA);
}

TEST_F(RunControl, DriverProfilesPassTheDefaultReferenceToARegisteredDriverTask) {
  driver_task& t = remove_task();
  uninstall_driver_configuration();
  EXPECT_EQ(t.last_key, "driver_reference");
  EXPECT_EQ(t.last_value, "zelvarn2-sticky-driver");
  EXPECT_EQ(gatherer_setting(SETTING_FIXED_TASK_LIST, SETTING_GET), 1);
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
