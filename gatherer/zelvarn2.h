// zelvarn2.h - run control: the numbered run settings, the filename slots,
// the console channel, the version strings and the profile operations.
#pragma once

#include <cwchar>

#include "debug.h"

/// How gatherer_setting and gatherer_filename treat their value.
enum setting_mode {
  SETTING_ON = 0,   ///< set to 1 (filename: store the text)
  SETTING_OFF = 1,  ///< set to 0 (filename: store null)
  SETTING_SET = 2,  ///< set to the value (filename: store the text)
  SETTING_GET = 3   ///< only read
};

/// Indices of the run settings.
enum gatherer_setting_index {
  SETTING_BATCH = 0,
  SETTING_SILENT = 1,
  SETTING_EVENT_LIMIT = 2,
  SETTING_STEP = 3,
  SETTING_DEBUG = 4,
  SETTING_DETAIL = 5,
  SETTING_CUSTOMER = 6,
  SETTING_CONTAINER = 7,
  SETTING_FIXED_TASK_LIST = 8,
  SETTING_RESERVED_9 = 9,
  SETTING_KEEP_LOOSE = 10,
  SETTING_RESULT = 11,
  SETTING_RESERVED_12 = 12,
  SETTING_STDOUT = 13,
  SETTING_VPD = 14,
  SETTING_MIME_IMPORT = 15,
  SETTING_DEBUG_STREAM = 16,
  SETTING_ACTION = 17,
  SETTING_COUNT = 18
};

enum filename_setting { FILENAME_TEMPLATE = 0, FILENAME_EXTENSION = 1, FILENAME_PATH = 2 };

/// Returns the value held before the call. An index outside 0..17 reads as 0
/// and changes nothing.
int gatherer_setting(int index, setting_mode mode, int value = 0);
/// Returns the slot's text after the call (the pointer is stored, not copied).
const char* gatherer_filename(filename_setting slot, setting_mode mode, const char* text = nullptr);

/// The console channel: standard error, silent in silent mode, copied into
/// the debug log after "console: ".
int printm(const char* format, ...) ZV_PRINTF(1, 2);

extern const char* const GTH_TITLE;
extern const char* const GTH_VERSION;
extern const char* const GTH_RELEASE;
extern const char* GTH_SUBVERSION;
extern const char* const GTH_OWNERSHIP;
extern const char* const GTH_PRODUCT_NUMBER;
extern const char* const GTH_LEGAL_NOTICE;
extern const char* const GTH_RIGHTS_LEGEND;
extern const char* const GTH_DEFAULT_DRIVER_REFERENCE;  // "zelvarn2-sticky-driver"

int wmain(int argc, wchar_t** wargv);
/// A profile wmain applies after the default configuration and before the
/// command line; none in the shipped program (a test build sets one).
extern void (*gatherer_output_profile)();
/// Makes sure descriptors 0, 1 and 2 are open (on the null device if not),
/// so that no file of the run can take a standard channel's number, and
/// sets the signal handling: SIGINT, SIGTERM and SIGHUP remove the run's
/// temporaries and end with status 128 + signal; SIGPIPE is ignored.
void gatherer_prepare_process();
/// Flushes standard output after the report or probe list went there; on a
/// write error (or when it was closed at start) prints "<what> incomplete"
/// with the reason, sets the run result to 1 and returns the error number.
int finish_standard_output(const char* what = "Report");
void gatherer_default_configuration();
/// Marks the command line as unusable (an error was shown): the run then
/// ends with status 1 before the banner, writing nothing.
void gatherer_refuse_run();
bool gatherer_run_refused();
void gatherer_save_path();
void gatherer_args(int argc, wchar_t** wargv);
int gatherer_run(int argc, wchar_t** wargv);
void gatherer_banner();
int gatherer_disclaimer();
[[noreturn]] void gatherer_help(const wchar_t* program_name);
[[noreturn]] void gatherer_list_probes();
void gatherer_debug(int argc, wchar_t** wargv);

/// The argument count and vector recorded by gatherer_debug for the
/// gatherer self-report.
int gatherer_saved_argc();
wchar_t** gatherer_saved_argv();

// Profiles.
void demo_configuration();
void enterprise_configuration();
void premium_configuration();
void kessa_configuration();
void pelmo_configuration();
void text_configuration();
void xml_configuration();
void ovt_configuration();
void orna_configuration();
void enable_orna_mode(const wchar_t** task_names);
void skerrow_configuration();
void html_configuration();
void vpd_configuration();
void install_driver_configuration();
void uninstall_driver_configuration();
void debug_configuration(bool stream);

// Option-level switches used by the command line.
void enable_debug_mode(bool stream);
void enable_html_mode();
void enable_text_mode();
void set_detail_level(const wchar_t* text);
void set_filename_template(const wchar_t* text);
