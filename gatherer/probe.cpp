// probe.cpp - probe tasks, probe groups, member probes and the probe lists.
#include "probe.h"

#include <strings.h>

#include <cstring>

#include "getarg.h"
#include "util_string.h"
#include "xml.h"
#include "zelvarn2.h"

str_list* probe_task::probe_lists[3] = {nullptr, nullptr, nullptr};

namespace {

const char* safe_name(const char* s) { return s ? s : ""; }

/// A heap copy of the name made into a task identifier; caller frees with delete[].
char* name_to_id(const char* name) {
  size_t n = strlen(name);
  char* id = new char[n + 1];
  memcpy(id, name, n + 1);
  task::make_task_id(id);
  return id;
}

}  // namespace

// ---- probe_task -----------------------------------------------------------

probe_task::probe_task(const char* task_name, int task_order)
    : task(task_name, task_order), enabled(true), blocked(false) {
  system_task = false;
}

bool probe_task::check_fp(FILE* report) { return report != nullptr; }
void probe_task::set_status(bool b) { enabled = b; }
void probe_task::set_blocked(bool b) { blocked = b; }

bool probe_task::is_enabled() {
  if (!enabled) printd("probe: validate %-20.20s is disabled\n", safe_name(name));
  return enabled;
}

bool probe_task::is_blocked() {
  if (blocked) printd("probe: validate %-20.20s is blocked\n", safe_name(name));
  return blocked;
}

void probe_task::set_probe_list(int index, str_list* list) {
  if (index < 0 || index >= PROBE_LIST_COUNT) return;
  // The lists are handed over; one given twice ("-probe a -probe b") replaces
  // the earlier, which nothing else holds.
  if (probe_lists[index] != list) delete probe_lists[index];
  probe_lists[index] = list;
}

void probe_task::process_probe_lists() {
  if (probe_lists[SELECT_LIST]) {
    printd("probe: probe_list is enabled\n");
    disable_all_probes();
    process_probe_list(probe_lists[SELECT_LIST], true);
  }
  if (probe_lists[ENABLE_LIST]) {
    printd("probe: enable_list is enabled\n");
    process_probe_list(probe_lists[ENABLE_LIST], true);
  }
  // Skipping comes last, so a name both selected and skipped does not run.
  if (probe_lists[SKIP_LIST]) {
    printd("probe: skip_list is enabled\n");
    process_probe_list(probe_lists[SKIP_LIST], false);
  }
  print_task_list();
}

void probe_task::process_probe_list(str_list* list, bool status) {
  if (!list) return;
  // A name that matches nothing would otherwise run nothing (or skip nothing)
  // without a word: said on the console and the run's status is 1.
  for (const char* n = list->get_first(); n; n = list->get_next()) {
    if (set_probe_status(n, status)) continue;
    printm("unknown probe %s (zelvarn2 -listprobes shows the names)\n", console_text(n).c_str());
    gatherer_setting(SETTING_RESULT, SETTING_SET, 1);
  }
}

bool probe_task::set_probe_status(const char* probe_name, bool status) {
  if (!probe_name) return false;
  bool found = false;
  char* id = name_to_id(probe_name);
  printd("task: locating task %s\n", id);
  for (task* t = task::first; t; t = t->get_next()) {
    if (!t->is_system_task() && strcasecmp(t->get_id(), id) == 0) {
      printd("task: found task at %p, set status to %u\n", static_cast<void*>(t),
             static_cast<unsigned>(status));
      t->set_status(status);
      found = true;
    }
  }
  delete[] id;
  return found;
}

void probe_task::enable_probe(const char* probe_name) { set_probe_status(probe_name, true); }
void probe_task::disable_probe(const char* probe_name) { set_probe_status(probe_name, false); }

void probe_task::disable_all_probes() {
  for (task* t = task::first; t; t = t->get_next())
    if (!t->is_system_task()) t->set_status(false);
}

void probe_task::block_task_by_name(const char* task_name) {
  if (!task_name) return;
  char* id = name_to_id(task_name);
  for (task* t = task::first; t; t = t->get_next()) {
    if (strcasecmp(t->get_id(), id) == 0) {
      printd("blocking %s\n", safe_name(t->get_name()));
      t->set_blocked(true);
    }
  }
  delete[] id;
}

// ---- legacy_probe ---------------------------------------------------------

void legacy_probe::print_task() {
  printd("%p: lega ord %2d dl %d pl %04x cu %05x st %d %s\n", static_cast<void*>(this), order,
         detail, platform, customers, enabled, safe_name(name));
}

// ---- probe_group ----------------------------------------------------------

probe_group::probe_group(const char* group_name, int group_order, const char* group_title,
                         bool group_enabled)
    : probe_task(group_name, group_order),
      first_probe(nullptr),
      last_probe(nullptr),
      title(group_title) {
  enabled = group_enabled;
}

void probe_group::add_probe(probe* p) {
  if (!p) return;
  p->set_next(nullptr);
  if (last_probe)
    last_probe->set_next(p);
  else
    first_probe = p;
  last_probe = p;
}

bool probe_group::test() {
  bool ok = false;
  for (probe* p = first_probe; p; p = p->get_next()) {
    printd("probe: %s\n", safe_name(p->get_name()));
    if (p->is_valid() && p->test()) ok = true;
  }
  return ok;
}

bool probe_group::is_valid() {
  for (probe* p = first_probe; p; p = p->get_next())
    if (p->is_valid()) return true;
  return false;
}

bool probe_group::run(FILE* report) {
  if (title) start_section(report, title);
  for (probe* p = first_probe; p; p = p->get_next())
    if (p->is_valid() && p->test()) p->run(report);
  if (title) end_section(report);
  // A member that found nothing does not make the group fail.
  return true;
}

bool probe_group::set_parameter(const char* key, const char* value) {
  for (probe* p = first_probe; p; p = p->get_next())
    if (p->set_parameter(key, value)) return true;
  return task::set_parameter(key, value);
}

void probe_group::print_task() {
  printd("%p: grp  ord %2d dl %d pl %04x cu %05x st %d %s\n", static_cast<void*>(this), order,
         detail, platform, customers, enabled, safe_name(name));
  for (probe* p = first_probe; p; p = p->get_next()) p->print_probe();
}

// ---- probe ----------------------------------------------------------------

probe::probe(probe_group* group, const char* probe_name, int probe_detail, int probe_platform)
    : name(probe_name),
      detail(probe_detail),
      platform(probe_platform),
      customers(0xffff),
      next(nullptr) {
  if (group) group->add_probe(this);
}

bool probe::test() { return true; }
bool probe::set_parameter(const char*, const char*) { return false; }

bool probe::validate_detail() { return gatherer_setting(SETTING_DETAIL, SETTING_GET) >= detail; }

bool probe::validate_platform() { return task::platform_matches(platform); }

bool probe::validate_customers() {
  return (gatherer_setting(SETTING_CUSTOMER, SETTING_GET) & customers) != 0;
}

bool probe::is_valid() {
  bool d = validate_detail();
  bool p = validate_platform();
  bool c = validate_customers();
  return task::trace_validation(name, detail, d, platform, p, customers, c);
}

void probe::print_probe() {
  printd("%p: probe       dl %d pl %04x cu %05x st - \t%s\n", static_cast<void*>(this), detail,
         platform, customers, safe_name(name));
}

// ---- probe_list_task ------------------------------------------------------

probe_list_task::probe_list_task() : task("List Probes", 22) { customers = 0x0010; }

bool probe_list_task::run(FILE* report) {
  print_probe_list(report);
  return true;
}
