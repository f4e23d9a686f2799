// probe.h - probe tasks, probe groups and their member probes, the probe
// lists that select, enable and skip them, and the two generic probes.
#pragma once

#include <cstdio>

#include "task.h"

class str_list;
class probe;

/// A task that collects inventory data. It can be selected, enabled and
/// skipped by name, enabled or blocked at run time, and it takes part in step
/// mode. It runs only when there is a report to write into.
class probe_task : public task {
 public:
  probe_task(const char* name, int order);

  bool check_fp(FILE* report) override;
  void set_status(bool enabled) override;
  void set_blocked(bool blocked) override;
  bool is_enabled() override;
  bool is_blocked() override;

  /// The probe lists: 0 selection ("-probe"), 1 skip ("-skip"), 2 enable
  /// ("-enable"); null when not given. Installed lists are kept for the run.
  static str_list* probe_lists[3];
  enum { SELECT_LIST = 0, SKIP_LIST = 1, ENABLE_LIST = 2, PROBE_LIST_COUNT = 3 };

  /// Installs a list at index 0..2 and takes it over (an earlier list of that
  /// index is freed); other indices are ignored and the list stays the caller's.
  static void set_probe_list(int index, str_list* list);
  /// Applies selection, then enable, then skip list, so skipping wins.
  static void process_probe_lists();
  static void process_probe_list(str_list* list, bool status);
  /// Sets the status of every probe task (or group) whose identifier matches the name.
  /// False when no probe task has that name.
  static bool set_probe_status(const char* name, bool status);
  static void enable_probe(const char* name);
  static void disable_probe(const char* name);
  static void disable_all_probes();
  /// Blocks every task whose identifier matches the name: it then fails validation.
  static void block_task_by_name(const char* name);

 protected:
  bool enabled;
  bool blocked;
};

/// A probe task whose run wraps one report function.
class legacy_probe : public probe_task {
 public:
  legacy_probe(const char* name, int order) : probe_task(name, order) {}
  void print_task() override;
};

/// A probe task made of an ordered list of small probes that write into the
/// group's section. The group does not own its probes.
class probe_group : public probe_task {
 public:
  probe_group(const char* name, int order, const char* title, bool enabled = true);

  /// Runs every valid, ready member inside the group's section; always true.
  bool run(FILE* report) override;
  /// True when a member is valid and its test passes.
  bool test() override;
  void print_task() override;
  /// True when a member is valid; the group's own masks are not consulted.
  bool is_valid() override;
  /// Offers the pair to each member in order until one accepts it.
  bool set_parameter(const char* key, const char* value) override;

  void add_probe(probe* p);
  probe* get_first_probe() const { return first_probe; }

 protected:
  probe* first_probe;
  probe* last_probe;
  const char* title;
};

/// One member of a probe group. It validates itself as a task does and writes
/// into its group's section.
class probe {
 public:
  /// Appends the probe to the group; customers start as 0xffff.
  probe(probe_group* group, const char* name, int detail, int platform);
  virtual ~probe() = default;

  virtual bool test();
  virtual bool run(FILE* report) = 0;
  /// False: the pair is not accepted.
  virtual bool set_parameter(const char* key, const char* value);
  virtual bool validate_customers();
  virtual bool validate_detail();
  virtual bool validate_platform();

  /// Detail, platform and customer checks together, with the validation trace.
  bool is_valid();
  void print_probe();

  const char* get_name() const { return name; }
  probe* get_next() const { return next; }
  void set_next(probe* p) { next = p; }

 protected:
  const char* name;
  int detail;
  int platform;
  int customers;
  probe* next;
};

/// The probe listing as a framework task ("-listprobes" run as a task).
class probe_list_task : public task {
 public:
  probe_list_task();
  /// Writes the identifiers of the valid probe tasks into the report; true.
  bool run(FILE* report) override;
};

/// A probe whose content is the output of a shell command, optionally
/// conditional on a platform file being readable.
class list_probe : public probe {
 public:
  /// file: a platform path that must be readable, or null; command: a shell
  /// command line (its standard input is /dev/null, its output the content).
  list_probe(probe_group* group, const char* name, int detail, int platform, const char* file,
             const char* command, int customers = 0xffff);
  bool test() override;
  bool run(FILE* report) override;

 protected:
  const char* file;
  const char* command;
};

/// A probe that embeds one platform file (read under the system root).
class file_probe : public probe {
 public:
  file_probe(probe_group* group, const char* name, int detail, int platform, const char* path,
             int customers = 0xffff);
  /// True for a regular file the real user can read.
  bool test() override;
  /// Embeds the file; never blocks on a FIFO or device.
  bool run(FILE* report) override;

 protected:
  const char* path;
};
