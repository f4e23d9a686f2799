// zelvarn2.cpp - run control: the run settings and filename slots, the
// console channel, the profiles, and the run sequence from banner to exit.
#include "zelvarn2.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "capture.h"
#include "getarg.h"
#include "osinfo.h"
#include "probe.h"
#include "run_command.h"
#include "table.h"
#include "temp_files.h"
#include "task.h"
#include "utf8.h"
#include "util_string.h"

#ifndef ZV_BUILDER
#define ZV_BUILDER "unknown"
#endif
#ifndef ZV_BUILD_HOST
#define ZV_BUILD_HOST "unknown"
#endif

const char* const GTH_TITLE = "Halvex Technical Support Information Gatherer";
const char* const GTH_VERSION = "2.44.0282.0809";
const char* const GTH_RELEASE = "Brenthil";
const char* GTH_SUBVERSION = "";
const char* const GTH_OWNERSHIP = "Copyright (C) Halvex. All rights reserved.";
const char* const GTH_PRODUCT_NUMBER = "Product number ZV2-282";
const char* const GTH_LEGAL_NOTICE =
    "Halvex support tool: the information gathered is used for service purposes only.";
const char* const GTH_RIGHTS_LEGEND =
    "Use, copying or disclosure of this program is permitted only as agreed with Halvex.";
const char* const GTH_DEFAULT_DRIVER_REFERENCE = "zelvarn2-sticky-driver";

static const char* const DISCLAIMER_TITLE = "DISCLAIMER";
static const char* const DISCLAIMER_BODY =
    "\n"
    "This program reads the configuration of this computer: its hardware, its\n"
    "operating system, the installed software, user accounts, running processes,\n"
    "network settings and the recent system logs. It writes what it finds into\n"
    "a file in the current directory, to be sent to your support centre.\n"
    "\n"
    "The program changes nothing on this computer. Look through the file before\n"
    "you send it if it must not leave your site. The program is provided as is,\n"
    "without warranty of any kind.\n"
    "\n";

// ---------------------------------------------------------------------------
// Run settings and filename slots

namespace {

int settings[SETTING_COUNT];
const char* filename_slots[3];

struct setting_pair {
  int index;
  int value;
};

/// Applied in order up to the pair whose index is SETTING_COUNT; index 14
/// (VPD request) has no pair and keeps its initial 0.
const setting_pair default_settings[] = {
    {SETTING_BATCH, 0},       {SETTING_SILENT, 0},      {SETTING_EVENT_LIMIT, 500},
    {SETTING_STEP, 0},        {SETTING_DEBUG, 0},       {SETTING_DETAIL, 5},
    {SETTING_CUSTOMER, 1},    {SETTING_CONTAINER, 1},   {SETTING_FIXED_TASK_LIST, 0},
    {SETTING_RESERVED_9, 0},  {SETTING_KEEP_LOOSE, 0},  {SETTING_RESULT, 0},
    {SETTING_RESERVED_12, 0}, {SETTING_STDOUT, 0},      {SETTING_MIME_IMPORT, 0},
    {SETTING_DEBUG_STREAM, 0}, {SETTING_ACTION, 0},     {SETTING_COUNT, 0},
};

/// The template copied from the command line; kept so a second template
/// frees the first.
char* owned_template = nullptr;
/// The program's directory (slot 2); lives for the whole run.
char program_directory[4097];

int saved_argc = 0;
wchar_t** saved_argv = nullptr;

/// The class-wide output format of the table writer.
void set_report_format(output_format_type format) { Table::set_output_format(format); }

}  // namespace

int gatherer_setting(int index, setting_mode mode, int value) {
  if (index < 0 || index >= SETTING_COUNT) return 0;
  int old = settings[index];
  switch (mode) {
    case SETTING_ON: settings[index] = 1; break;
    case SETTING_OFF: settings[index] = 0; break;
    case SETTING_SET: settings[index] = value; break;
    case SETTING_GET: break;
  }
  return old;
}

const char* gatherer_filename(filename_setting slot, setting_mode mode, const char* text) {
  if (slot < FILENAME_TEMPLATE || slot > FILENAME_PATH) return nullptr;
  switch (mode) {
    case SETTING_ON:
    case SETTING_SET: filename_slots[slot] = text; break;
    case SETTING_OFF: filename_slots[slot] = nullptr; break;
    case SETTING_GET: break;
  }
  return filename_slots[slot];
}

int gatherer_saved_argc() { return saved_argc; }
wchar_t** gatherer_saved_argv() { return saved_argv; }

// ---------------------------------------------------------------------------
// Console channel

int printm(const char* format, ...) {
  if (gatherer_setting(SETTING_SILENT, SETTING_GET)) return 0;
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int written = vfprintf(stderr, format, args);
  va_end(args);
  fflush(stderr);
  if (debug_log_enabled()) {
    // Format once more for the log; the copy keeps the log's line-start
    // bookkeeping right by ending with the text's own newline.
    int len = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (len >= 0) {
      std::string text(static_cast<size_t>(len) + 1, '\0');
      va_start(args, format);
      vsnprintf(&text[0], text.size(), format, args);
      va_end(args);
      text.resize(static_cast<size_t>(len));
      if (!text.empty() && text.back() == '\n') {
        text.pop_back();
        printd("console: %s\n", text.c_str());
      } else {
        printd("console: %s", text.c_str());
      }
    }
  } else {
    va_end(copy);
  }
  return written;
}

// ---------------------------------------------------------------------------
// Process set-up: standard channels and signals

namespace {

/// Standard output was closed when the program started (it now points at
/// the null device, so no file of the run can take its number).
bool standard_output_closed = false;

extern "C" void end_on_signal(int sig) {
  // Only async-signal-safe calls: end the commands running, unlink each
  // temporary, then leave.
  command_kill_running();
  temp_files_remove_all();
  _exit(128 + sig);
}

/// A broken console pipe must not end the run: writes then fail with EPIPE
/// and only console lines are lost. A handler (not SIG_IGN) so that the
/// commands the run starts get the default action back.
extern "C" void note_broken_pipe(int) {}

}  // namespace

void gatherer_prepare_process() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == 1) standard_output_closed = true;
    int null_fd = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    // open gives the lowest free number, which is this one; anything else
    // means the channels cannot be made safe.
    if (null_fd != fd) _exit(1);
  }
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sigemptyset(&sa.sa_mask);
  sa.sa_handler = end_on_signal;
  const int ending[] = {SIGINT, SIGTERM, SIGHUP};
  for (int sig : ending) sigaddset(&sa.sa_mask, sig);
  for (int sig : ending) sigaction(sig, &sa, nullptr);
  sa.sa_handler = note_broken_pipe;
  sa.sa_flags = SA_RESTART;
  sigaction(SIGPIPE, &sa, nullptr);
}

int finish_standard_output(const char* what) {
  int error = 0;
  if (standard_output_closed)
    error = EBADF;
  else if (fflush(stdout) != 0 || ferror(stdout))
    error = errno ? errno : EIO;
  if (error == 0) return 0;
  gatherer_setting(SETTING_RESULT, SETTING_SET, 1);
  printm("%s incomplete: %s\n", what, strerror(error));
  print_error("standard output", error);
  return error;
}

// ---------------------------------------------------------------------------
// Entry

void (*gatherer_output_profile)() = nullptr;

int wmain(int argc, wchar_t** wargv) {
  setlocale(LC_ALL, "");
  gatherer_default_configuration();
  if (gatherer_output_profile) gatherer_output_profile();
  gatherer_save_path();
  gatherer_args(argc, wargv);
  return gatherer_run(argc, wargv);
}

void gatherer_save_path() {
  memset(program_directory, 0, sizeof program_directory);
  if (get_program_filename(program_directory, sizeof program_directory))
    remove_filename_from_path(program_directory, sizeof program_directory);
  else
    program_directory[0] = '\0';
  printd("Gatherer Path = %s\n", program_directory);
  gatherer_filename(FILENAME_PATH, SETTING_SET, program_directory);
}

void gatherer_args(int argc, wchar_t** wargv) { gatherer_parse_command_line(argc, wargv); }

namespace {
/// Set when the command line names something the run cannot go on with.
bool run_refused = false;
}  // namespace

void gatherer_refuse_run() {
  run_refused = true;
  gatherer_setting(SETTING_RESULT, SETTING_SET, 1);
}

bool gatherer_run_refused() { return run_refused; }

int gatherer_run(int argc, wchar_t** wargv) {
  // Nothing is shown, listed or written after a refused command line.
  if (run_refused) return 1;
  int action = gatherer_setting(SETTING_ACTION, SETTING_GET);
  std::string capture_why;
  if (action == 0 && !capture_begin(&capture_why)) {
    fprintf(stderr, "Error: capture %s %s.\n", console_text(capture_dir().c_str()).c_str(), capture_why.c_str());
    return 1;
  }
  if (action == 1) gatherer_list_probes();
  if (action == 2) gatherer_help(argc > 0 && wargv && wargv[0] ? wargv[0] : L"zelvarn2");
  if (action == 0) {
    gatherer_banner();
    if (gatherer_disclaimer() == 0) {
      gatherer_debug(argc, wargv);
      os_info* os = os_info::get_instance();
      printd("gatherer: platform id %d\n", os->get_platform_id());
      if (!gatherer_setting(SETTING_FIXED_TASK_LIST, SETTING_GET)) {
        probe_task::process_probe_lists();
        task::run_all();
      } else {
        task::run_task_list(gatherer_task_list);
      }
      if (gatherer_setting(SETTING_STDOUT, SETTING_GET)) finish_standard_output();
      // The program's own peak apart from that of the commands it started.
      struct rusage self, children;
      if (getrusage(RUSAGE_SELF, &self) == 0 && getrusage(RUSAGE_CHILDREN, &children) == 0)
        printd("gatherer: peak memory %ld KiB, of its largest command %ld KiB (counted from its start)\n",
               self.ru_maxrss, children.ru_maxrss);
    }
  }
  int rc = gatherer_setting(SETTING_RESULT, SETTING_GET);
  printm("Run complete, rc = %d\n", rc);
  return rc;
}

// ---------------------------------------------------------------------------
// Banner, disclaimer, help, probe listing

void gatherer_banner() {
  printm("\n%s\nVersion %s %s%s\n\n%s\n\n%s\n\n%s\n\n%s\n\n", GTH_TITLE, GTH_VERSION,
         GTH_SUBVERSION ? GTH_SUBVERSION : "", GTH_RELEASE ? GTH_RELEASE : "", GTH_OWNERSHIP,
         GTH_PRODUCT_NUMBER, GTH_LEGAL_NOTICE, GTH_RIGHTS_LEGEND);
}

/// Reads one answer line of at most 79 characters. The rest of a longer line
/// is discarded so it is not taken as the next answer. False at end of input.
static bool read_answer(char* line, int size) {
  if (!fgets(line, size, stdin)) return false;
  if (!strchr(line, '\n')) {
    int c;
    while ((c = getchar()) != EOF && c != '\n') {
    }
  }
  return true;
}

int gatherer_disclaimer() {
  if (gatherer_setting(SETTING_BATCH, SETTING_GET) || gatherer_setting(SETTING_SILENT, SETTING_GET))
    return 0;
  int len = static_cast<int>(strlen(DISCLAIMER_TITLE));
  printm("%*s\n%s", (80 - len) / 2 + len / 2, DISCLAIMER_TITLE, DISCLAIMER_BODY);
  char line[80];
  bool agreed = false;
  for (;;) {
    printm("%s", "Do you agree with the above terms ? [y/n] ... ");
    if (!read_answer(line, sizeof line)) break;  // end of input refuses
    char c = line[0];
    if (c == 'y' || c == 'Y') {
      agreed = true;
      break;
    }
    if (c == 'n' || c == 'N') break;
  }
  if (!agreed) printm("Sorry, this software only works if you agree with the above terms\n");
  printm("\n");
  return agreed ? 0 : -1;
}

void gatherer_help(const wchar_t* program_name) {
  gatherer_banner();
  // The usage is written even in silent mode: it answers an explicit request.
  fprintf(stderr,
          "Usage: %ls [-help] | [-batch] | [-silent] | [-nolimit]\n\n"
          " -help      : Show this message.\n"
          " -batch     : Do not show the disclaimer.\n"
          " -silent    : Do not show anything during operation.\n"
          " -nolimit   : Collect entire event log (default is last 500 entries).\n\n",
          program_name ? program_name : L"zelvarn2");
  fflush(stderr);
  exit(1);
}

void gatherer_list_probes() {
  errno = 0;
  task::print_probe_list(stdout);
  exit(finish_standard_output("Probe listing") == 0 ? 0 : 1);
}

// ---------------------------------------------------------------------------
// Debug start

/// The command line as one trace line: argv: 'a' 'b' ...
static void print_arguments(int argc, wchar_t** wargv) {
  std::string line = "argv:";
  for (int i = 0; wargv && i < argc; ++i) {
    char* narrow = wargv[i] ? wide_to_mbcs(wargv[i]) : nullptr;
    line += " '";
    line += narrow ? narrow : "";
    line += "'";
    delete[] narrow;
  }
  printd("%s\n", line.c_str());
}

static void print_gatherer_information() {
  char program[4097];
  memset(program, 0, sizeof program);
  if (!get_program_filename(program, sizeof program)) program[0] = '\0';
  printd("gatherer: %s = %s\n", "Program file", program);
  char version[256];
  snprintf(version, sizeof version, "%s %s (%s)", GTH_VERSION, GTH_SUBVERSION ? GTH_SUBVERSION : "",
           GTH_RELEASE);
  printd("gatherer: %s = %s\n", "Version", version);
  printd("gatherer: %s = %s %s\n", "Build date", __DATE__, __TIME__);
  printd("gatherer: %s = %s\n", "Builder", ZV_BUILDER);
  printd("gatherer: %s = %s\n", "Build host", ZV_BUILD_HOST);
  const char* cwd = GetCurrentDir();
  printd("gatherer: %s = %s\n", "Current directory", cwd ? cwd : "");
  char user[256] = "";
  get_user_name(user, sizeof user);
  printd("gatherer: %s = %s\n", "User", user);
}

void gatherer_debug(int argc, wchar_t** wargv) {
  saved_argc = argc;
  saved_argv = wargv;
  if (!gatherer_setting(SETTING_DEBUG, SETTING_GET)) {
    print_arguments(argc, wargv);  // goes nowhere while the log is off
    return;
  }
  if (gatherer_setting(SETTING_DEBUG_STREAM, SETTING_GET) == 0)
    enable_log_to_file(DEBUG_LOG_NAME);
  else
    enable_log_to_stream(DEBUG_LOG_NAME);
  printd("%s\n%s\nVersion %s %s (%s)\nbuild on %s %s by %s on %s\n", GTH_TITLE, GTH_LEGAL_NOTICE,
         GTH_VERSION, GTH_SUBVERSION ? GTH_SUBVERSION : "", GTH_RELEASE, __DATE__, __TIME__,
         ZV_BUILDER, ZV_BUILD_HOST);
  print_with_time("debugging enabled\n");
  print_gatherer_information();
  print_arguments(argc, wargv);
  task::print_task_list();
  printm("Debug information logged to %s\n", DEBUG_LOG_NAME);
}

// ---------------------------------------------------------------------------
// Profiles

void gatherer_default_configuration() {
  run_refused = false;
  for (const setting_pair* p = default_settings; p->index != SETTING_COUNT; ++p)
    gatherer_setting(p->index, SETTING_SET, p->value);
  set_report_format(OUTPUT_ZVML);
  gatherer_filename(FILENAME_TEMPLATE, SETTING_SET, "@V-@M-@S");
  gatherer_filename(FILENAME_EXTENSION, SETTING_SET, ".ZV2");
}

void demo_configuration() {
  gatherer_setting(SETTING_CUSTOMER, SETTING_SET, 192);
  gatherer_setting(SETTING_RESERVED_12, SETTING_ON);
}

void enterprise_configuration() { gatherer_setting(SETTING_RESERVED_12, SETTING_ON); }

void premium_configuration() {
  gatherer_setting(SETTING_CUSTOMER, SETTING_SET, 192);
  gatherer_setting(SETTING_BATCH, SETTING_ON);
  gatherer_setting(SETTING_RESERVED_12, SETTING_ON);
}

void kessa_configuration() {
  gatherer_setting(SETTING_CUSTOMER, SETTING_SET, 64);
  gatherer_setting(SETTING_BATCH, SETTING_ON);
  gatherer_setting(SETTING_RESERVED_12, SETTING_OFF);
}

void pelmo_configuration() {
  gatherer_setting(SETTING_BATCH, SETTING_ON);
  gatherer_filename(FILENAME_TEMPLATE, SETTING_SET, "@D\\VUDCHECK");
}

void text_configuration() { enable_text_mode(); }

void enable_text_mode() {
  set_report_format(OUTPUT_TEXT);
  gatherer_filename(FILENAME_EXTENSION, SETTING_SET, ".GTH");
}

void xml_configuration() { set_report_format(OUTPUT_XML); }

void ovt_configuration() {
  GTH_SUBVERSION = "OVT";
  gatherer_setting(SETTING_CUSTOMER, SETTING_SET, 2);
  gatherer_setting(SETTING_BATCH, SETTING_ON);
  set_report_format(OUTPUT_XML);
}

void orna_configuration() {
  GTH_SUBVERSION = "ORNA";
  gatherer_setting(SETTING_CUSTOMER, SETTING_SET, 16);
  gatherer_setting(SETTING_DETAIL, SETTING_SET, 6);
  gatherer_setting(SETTING_BATCH, SETTING_ON);
  gatherer_setting(SETTING_SILENT, SETTING_ON);
  gatherer_setting(SETTING_CONTAINER, SETTING_OFF);
  gatherer_setting(SETTING_FIXED_TASK_LIST, SETTING_ON);
  gatherer_setting(SETTING_STDOUT, SETTING_ON);
  set_report_format(OUTPUT_ORNA);
  gatherer_task_list.init = true;
  gatherer_task_list.cleanup = true;
}

void enable_orna_mode(const wchar_t** task_names) {
  orna_configuration();
  gatherer_task_list.names = task_names;
}

void skerrow_configuration() {
  GTH_SUBVERSION = "Skerrow";
  gatherer_setting(SETTING_CONTAINER, SETTING_OFF);
  gatherer_setting(SETTING_RESERVED_12, SETTING_ON);
  set_report_format(OUTPUT_HTML);
}

void html_configuration() { enable_html_mode(); }

void enable_html_mode() {
  gatherer_setting(SETTING_CONTAINER, SETTING_OFF);
  set_report_format(OUTPUT_HTML);
}

void vpd_configuration() { gatherer_setting(SETTING_VPD, SETTING_ON); }

/// Hands the driver reference to the named driver task, when one is registered.
static void pass_driver_reference(const char* task_name) {
  task* t = task::get_task_by_name(task_name);
  if (t) t->set_parameter("driver_reference", GTH_DEFAULT_DRIVER_REFERENCE);
}

void install_driver_configuration() {
  pass_driver_reference("INSTALL_DRIVER");
  gatherer_setting(SETTING_FIXED_TASK_LIST, SETTING_ON);
  gatherer_task_list.install = true;
}

void uninstall_driver_configuration() {
  pass_driver_reference("REMOVE_DRIVER");
  gatherer_setting(SETTING_FIXED_TASK_LIST, SETTING_ON);
  gatherer_task_list.uninstall = true;
}

void debug_configuration(bool stream) { enable_debug_mode(stream); }

void enable_debug_mode(bool stream) {
  gatherer_setting(SETTING_DEBUG, SETTING_ON);
  gatherer_setting(SETTING_DEBUG_STREAM, SETTING_SET, stream ? 1 : 0);
}

// ---------------------------------------------------------------------------
// Option-level switches

void set_detail_level(const wchar_t* text) {
  if (text && text[0] >= L'0' && text[0] <= L'6' && text[1] == L'\0') {
    gatherer_setting(SETTING_DETAIL, SETTING_SET, static_cast<int>(text[0] - L'0'));
    return;
  }
  printm("Warning: level %s not supported.\n", text ? console_text(text).c_str() : "(none)");
}

void set_filename_template(const wchar_t* text) {
  if (!text) return;
  char* narrow = gatherer_argument_bytes(text);
  if (!narrow) return;
  gatherer_filename(FILENAME_TEMPLATE, SETTING_SET, narrow);
  delete[] owned_template;
  owned_template = narrow;
}
