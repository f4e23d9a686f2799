// task.h - the task registry and the run loop.
//
// Every unit of work of a run is a task: program-wide objects kept in one
// singly linked list sorted by order (stable for equal orders), walked once.
#pragma once

#include <cstdio>
#include <cwchar>

/// The fixed task list: task names (null-terminated array, may be null) and
/// which bracket ranges run around them.
struct task_list_struct {
  const wchar_t** names;
  bool install;
  bool init;
  bool cleanup;
  bool uninstall;
};

extern task_list_struct gatherer_task_list;

class task {
 public:
  task(const char* name, int order);
  virtual ~task();

  virtual bool run(FILE* report) = 0;
  virtual bool test();
  virtual bool validate();
  virtual bool check_fp(FILE* report);
  virtual void print_task();
  virtual bool validate_customers();
  virtual bool validate_detail();
  virtual bool validate_platform();
  virtual void set_status(bool enabled);
  virtual void set_blocked(bool blocked);
  virtual bool is_enabled();
  virtual bool is_blocked();
  virtual bool is_valid();
  virtual bool set_parameter(const char* key, const char* value);

  /// The per-task run: validate, check the report handle, test, banner, run, status.
  bool run_task(FILE* report);
  /// Step mode; returns true when the task has been handled (run or skipped).
  bool step_task(FILE* report);
  void print_banner();
  void print_status(bool ok);

  const char* get_name() const { return name; }
  const char* get_id() const { return id; }
  int get_order() const { return order; }
  int get_detail() const { return detail; }
  bool is_system_task() const { return system_task; }
  task* get_next() const { return next; }

  static bool run_all();
  static bool run_tasks(int from, int to);
  static bool run_task_list(const task_list_struct& list);
  static bool run_task(const char* id);
  static bool run_install_tasks();
  static bool run_init_tasks();
  static bool run_cleanup_tasks();
  static bool run_uninstall_tasks();

  static task* get_task(const char* id);
  static task* get_task_by_name(const char* name);
  static task* get_task_by_name(const wchar_t* name);
  static void make_task_id(char* s);

  /// "-p" handling: argv[index] is "-p"; leaves index at the last word consumed.
  static void set_task_parameters(int argc, wchar_t** argv, int& index);
  static void set_task_parameter(const wchar_t* task_name, const wchar_t* key, const wchar_t* value);

  static void print_task_list();
  static void print_probe_list(FILE* out);

  /// The platform check shared by tasks and probes: true when the mask shares
  /// a bit with this system's platform identifier.
  static bool platform_matches(int mask);
  /// Writes the validation trace of a task or probe and returns the
  /// conjunction of the three checks.
  static bool trace_validation(const char* name, int detail, bool detail_ok, int platform,
                               bool platform_ok, int customers, bool customers_ok);

  /// First task of the registry (null when empty).
  static task* first;
  /// The current report stream, set by the report-creating tasks.
  static FILE* output_file;
  /// Where step-mode answers are read from; null means standard input.
  static FILE* prompt_input;
  /// Forgets the step-mode decision of earlier prompts (a new run starts afresh).
  static void reset_step_mode();

 protected:
  const char* name;
  char* id;
  int order;
  bool system_task;
  int detail;
  int platform;
  int customers;
  const char* ok_text;
  const char* fail_text;
  task* next;

 private:
  void insert_into_list();
};

/// Constructs every task, probe group and probe of the system, in the
/// registry's order. Called once by the entry point before anything else.
void register_tasks();

/// An iterator over the registry.
class task_iterator {
 public:
  task_iterator() : current(task::first) {}
  task* get() const { return current; }
  task* get_next() {
    if (current) current = current->get_next();
    return current;
  }

 private:
  task* current;
};
