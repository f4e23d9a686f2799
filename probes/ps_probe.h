// ps_probe.h - the process list from the process-status tool.
#pragma once

#include <cstdio>
#include <string>

#include "probe.h"

/// One line of "pid user nice pcpu pmem stat comm": the command name comes
/// last and takes the rest of the line, so names with blanks stay whole.
struct process_entry {
  int pid;
  char name[81];
  char user[81];
  int nice;
  char cpu[17];
  char mem[17];
  char stat[5];
};
/// False when the line does not start with a process id.
bool parse_ps_line(const char* line, process_entry& out);

/// The text of a process's "stat" file: id, name, state and nice value into
/// `out`. False when it is not one.
bool parse_proc_stat(const char* text, process_entry& out);
/// The real user id of a process's "status" file; false when it has none.
bool parse_proc_status_uid(const char* text, unsigned long* uid);

/// The arguments given to the tool (after its quoted path).
extern const char* const PS_ARGUMENTS;

/// "ps probe" of "Processes".
class ps_probe : public probe {
 public:
  explicit ps_probe(probe_group* group);
  bool test() override;
  bool run(FILE* report) override;

 private:
  std::string tool_path;
};
