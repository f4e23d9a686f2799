// task.cpp - the task registry, validation, the run loops, step mode and task parameters.
#include "task.h"

#include <strings.h>

#include <cstring>

#include <string>

#include "getarg.h"
#include "osinfo.h"
#include "progress.h"
#include "utf8.h"
#include "zelvarn2.h"

task* task::first = nullptr;
FILE* task::output_file = nullptr;
FILE* task::prompt_input = nullptr;

task_list_struct gatherer_task_list = {nullptr, false, false, false, false};

namespace {

/// Width of the console field the task name is shown in.
constexpr int BANNER_WIDTH = 40;
/// Longest step-mode answer kept; the rest of a longer line is discarded.
constexpr int ANSWER_LENGTH = 79;

/// What step mode decided for the previous prompt: true once a task has been
/// handled there, and kept for every later task after "q".
bool step_result = false;

const char* safe_name(const char* s) { return s ? s : ""; }

/// The program-wide OS object, made on first use.
os_info* platform_info() {
  if (!os_info::instance) os_info::instance = os_info::make_os_info();
  return os_info::instance;
}

/// A heap copy of a narrow name made into a task identifier; caller frees with delete[].
char* id_from_name(const char* name) {
  size_t n = strlen(name);
  char* id = new char[n + 1];
  memcpy(id, name, n + 1);
  task::make_task_id(id);
  return id;
}

bool ascii_alnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

/// Reads one answer line into buf (at most ANSWER_LENGTH characters) and
/// discards the rest of a longer line. False at end of input or on a read error.
bool read_answer(FILE* in, char* buf) {
  if (!fgets(buf, ANSWER_LENGTH + 1, in)) return false;
  if (!strchr(buf, '\n')) {
    int c;
    while ((c = fgetc(in)) != EOF && c != '\n') {
    }
  }
  return true;
}

}  // namespace

task::task(const char* task_name, int task_order)
    : name(task_name),
      id(nullptr),
      order(task_order),
      system_task(true),
      detail(0),
      platform(0xffff),
      customers(0xffff),
      ok_text("OK"),
      fail_text("Not found"),
      next(nullptr) {
  insert_into_list();
  id = id_from_name(safe_name(name));
}

task::~task() {
  // A task leaves the list when it goes, so a task built for a short time
  // (a test, a failed import) never leaves a dangling link behind.
  for (task** link = &first; *link; link = &(*link)->next) {
    if (*link == this) {
      *link = next;
      break;
    }
  }
  delete[] id;
}

void task::insert_into_list() {
  // Sorted by order; equal orders stay in construction order.
  if (!first || order < first->order) {
    next = first;
    first = this;
    return;
  }
  task* at = first;
  while (at->next && at->next->order <= order) at = at->next;
  next = at->next;
  at->next = this;
}

bool task::test() { return true; }
bool task::check_fp(FILE*) { return true; }
void task::set_status(bool) {}
void task::set_blocked(bool) {}
bool task::is_enabled() { return true; }
bool task::is_blocked() { return false; }

bool task::validate() { return is_enabled() && !is_blocked() && is_valid(); }

bool task::validate_detail() { return gatherer_setting(SETTING_DETAIL, SETTING_GET) >= detail; }

bool task::validate_platform() { return platform_matches(platform); }

bool task::validate_customers() {
  return (gatherer_setting(SETTING_CUSTOMER, SETTING_GET) & customers) != 0;
}

bool task::is_valid() {
  bool d = validate_detail();
  bool p = validate_platform();
  bool c = validate_customers();
  return trace_validation(name, detail, d, platform, p, customers, c);
}

bool task::platform_matches(int mask) {
  os_info* os = platform_info();
  return os && os->is(mask);
}

bool task::trace_validation(const char* what, int what_detail, bool detail_ok, int what_platform,
                            bool platform_ok, int what_customers, bool customers_ok) {
  bool rc = detail_ok && platform_ok && customers_ok;
  os_info* os = platform_info();
  printd("task:  validate %-20.20s detail %d>=%d = %d platform %04x&%04x = %d customer "
         "%04x&%04x = %04x rc %d\n",
         safe_name(what), gatherer_setting(SETTING_DETAIL, SETTING_GET), what_detail, detail_ok,
         what_platform, os ? os->get_platform_id() : 0, platform_ok, what_customers,
         gatherer_setting(SETTING_CUSTOMER, SETTING_GET), customers_ok, rc);
  return rc;
}

bool task::set_parameter(const char* key, const char* value) {
  printm("I don't understand '%s%s%s'\n", console_text(safe_name(key)).c_str(), value ? "=" : "",
         console_text(safe_name(value)).c_str());
  return false;
}

void task::print_task() {
  printd("%p: task ord %2d dl %d pl %04x cu %05x st - %s\n", static_cast<void*>(this), order,
         detail, platform, customers, safe_name(name));
}

void task::print_banner() {
  if (gatherer_setting(SETTING_SILENT, SETTING_GET) || !name) return;
  char field[BANNER_WIDTH + 1];
  memset(field, '.', BANNER_WIDTH);
  field[BANNER_WIDTH] = '\0';
  // A task named after a file shows it without control characters.
  std::string shown = console_text(name);
  size_t n = shown.size();
  if (n > BANNER_WIDTH - 1) n = BANNER_WIDTH - 1;
  memcpy(field, shown.data(), n);
  field[n] = ' ';
  printm("%s ", field);
}

void task::print_status(bool ok) {
  console_progress_end();
  if (gatherer_setting(SETTING_SILENT, SETTING_GET) || !name) return;
  // A status may name a file: shown without control characters.
  printm("%s\n", console_text(ok ? ok_text : fail_text).c_str());
}

bool task::run_task(FILE* report) {
  printd("task: %s\n", safe_name(name));
  if (!validate()) return false;
  if (!check_fp(report)) return false;
  bool ok = test();
  printd("task: %s, test complete, status = %s\n", safe_name(name), ok ? "success" : "failed");
  if (!ok) return false;
  print_banner();
  ok = run(report);
  printd("task: %s, run complete, status = %s\n", safe_name(name), ok ? "success" : "failed");
  print_status(ok);
  return ok;
}

bool task::step_task(FILE* report) {
  if (!gatherer_setting(SETTING_STEP, SETTING_GET) || gatherer_setting(SETTING_SILENT, SETTING_GET) ||
      !validate() || !name)
    return step_result;

  FILE* in = prompt_input ? prompt_input : stdin;
  char answer[ANSWER_LENGTH + 1];
  char c;
  for (;;) {
    print_banner();
    printm("[%c/%c/%c/%c] ", 'Y', 'n', 'r', 'q');
    // End of input cannot answer any more prompts: it quits stepping.
    if (!read_answer(in, answer)) {
      c = 'q';
      printm("\n");
      break;
    }
    c = answer[0];
    if (strchr("yYnNrRqQ\n", c) && c != '\0') break;
  }

  switch (c) {
    case 'n':
    case 'N':
      printd("task: %s skipped\n", name);
      fail_text = "Skipped";
      print_banner();
      print_status(false);
      step_result = true;
      break;
    case 'r':
    case 'R':
      printd("task: running from %s\n", name);
      step_result = false;
      gatherer_setting(SETTING_STEP, SETTING_OFF);
      break;
    case 'q':
    case 'Q':
      printd("task: skipping from %s\n", name);
      step_result = true;
      gatherer_setting(SETTING_STEP, SETTING_OFF);
      break;
    default: {  // y, Y or Enter
      print_banner();
      bool ok = check_fp(report);
      if (!ok) printd("task: %s, no report file\n", name);
      if (ok) {
        ok = test();
        printd("task: %s, test complete, status = %s\n", name, ok ? "success" : "fail");
      }
      if (ok) {
        ok = run(report);
        printd("task: %s, run complete, status = %s\n", name, ok ? "success" : "failed");
      }
      print_status(ok);
      step_result = true;
      break;
    }
  }
  return step_result;
}

void task::reset_step_mode() { step_result = false; }

bool task::run_all() {
  bool rc = false;
  for (task* t = first; t; t = t->next) {
    if (t->system_task) {
      rc = t->run_task(output_file);
    } else if (!t->step_task(output_file)) {
      // Read again: a task before this one may have opened the report.
      rc = t->run_task(output_file);
    }
  }
  return rc;
}

bool task::run_tasks(int from, int to) {
  printd("task: running tasks with order between %d and %d\n", from, to);
  bool rc = false;
  task* t = first;
  while (t && t->order < from) t = t->next;
  for (; t && t->order < to; t = t->next) rc = t->run_task(output_file);
  return rc;
}

bool task::run_install_tasks() {
  printd("task: install tasks\n");
  return run_tasks(1, 4);
}

bool task::run_init_tasks() {
  printd("task: init tasks\n");
  return run_tasks(5, 11);
}

bool task::run_cleanup_tasks() {
  printd("task: cleanup tasks\n");
  return run_tasks(24, 27);
}

bool task::run_uninstall_tasks() {
  printd("task: uninstall tasks\n");
  return run_tasks(28, 30);
}

bool task::run_task(const char* task_id) {
  task* t = get_task(task_id);
  return t ? t->run_task(output_file) : false;
}

bool task::run_task_list(const task_list_struct& list) {
  printd("task: run_task_list %p\n", static_cast<const void*>(&list));
  bool rc = run_tasks(0, 0);
  if (list.install) rc = run_install_tasks();
  if (list.init) rc = run_init_tasks();
  printd("task_list:");
  for (const wchar_t** n = list.names; n && *n; ++n) printd(" %ls", *n);
  printd("\n");
  for (const wchar_t** n = list.names; n && *n; ++n) {
    char* narrow = wide_to_mbcs(*n);
    if (!narrow) continue;
    make_task_id(narrow);
    if (get_task(narrow)) rc = run_task(narrow);
    delete[] narrow;
  }
  if (list.cleanup) rc = run_cleanup_tasks();
  if (list.uninstall) rc = run_uninstall_tasks();
  return rc;
}

task* task::get_task(const char* task_id) {
  if (!task_id) return nullptr;
  printd("task: locating task %s\n", task_id);
  for (task* t = first; t; t = t->next) {
    if (t->id && strcasecmp(t->id, task_id) == 0) {
      printd("task: found task at %p\n", static_cast<void*>(t));
      return t;
    }
  }
  return nullptr;
}

task* task::get_task_by_name(const char* task_name) {
  if (!task_name) return nullptr;
  char* task_id = id_from_name(task_name);
  task* t = get_task(task_id);
  delete[] task_id;
  return t;
}

task* task::get_task_by_name(const wchar_t* task_name) {
  if (!task_name) return nullptr;
  char* narrow = wide_to_mbcs(task_name);
  if (!narrow) return nullptr;
  task* t = get_task_by_name(narrow);
  delete[] narrow;
  return t;
}

void task::make_task_id(char* s) {
  if (!s) return;
  for (; *s; ++s) {
    if (!ascii_alnum(*s))
      *s = '_';
    else if (*s >= 'a' && *s <= 'z')
      *s = static_cast<char>(*s - 'a' + 'A');
  }
}

namespace {

/// Splits one "key" or "key=value" word and hands it to the task (when there is one).
void pass_parameter(task* t, const wchar_t* word) {
  const wchar_t* eq = wcschr(word, L'=');
  size_t key_len = eq ? static_cast<size_t>(eq - word) : wcslen(word);
  wchar_t* key = new wchar_t[key_len + 1];
  wmemcpy(key, word, key_len);
  key[key_len] = L'\0';
  char* narrow_key = wide_to_mbcs(key);
  char* narrow_value = eq ? wide_to_mbcs(eq + 1) : nullptr;
  if (t && narrow_key) t->set_parameter(narrow_key, narrow_value);
  delete[] narrow_value;
  delete[] narrow_key;
  delete[] key;
}

void say_unknown_task(const wchar_t* task_name) {
  printm("I don't understand '-p %s'\n", task_name ? console_text(task_name).c_str() : safe_name(nullptr));
}

}  // namespace

void task::set_task_parameters(int argc, wchar_t** argv, int& index) {
  // "-p" as the last word (or followed by another option) names no task.
  if (index + 1 >= argc || !argv[index + 1] || argv[index + 1][0] == L'-') {
    say_unknown_task(L"");
    return;
  }
  ++index;
  task* t = get_task_by_name(argv[index]);
  if (!t) say_unknown_task(argv[index]);
  while (index + 1 < argc && argv[index + 1] && argv[index + 1][0] != L'-') {
    ++index;
    pass_parameter(t, argv[index]);
  }
}

void task::set_task_parameter(const wchar_t* task_name, const wchar_t* key, const wchar_t* value) {
  task* t = get_task_by_name(task_name);
  if (!t) {
    say_unknown_task(task_name);
    return;
  }
  if (!key) return;
  char* narrow_key = wide_to_mbcs(key);
  char* narrow_value = value ? wide_to_mbcs(value) : nullptr;
  if (narrow_key) t->set_parameter(narrow_key, narrow_value);
  delete[] narrow_value;
  delete[] narrow_key;
}

void task::print_task_list() {
  printd("TASK LIST:\n----------\n");
  for (task* t = first; t; t = t->next) t->print_task();
}

void task::print_probe_list(FILE* out) {
  if (!out) return;
  for (task* t = first; t; t = t->next)
    if (!t->system_task && t->validate()) fprintf(out, "%s\n", t->id);
}
