// schedule_linux.h - the system crontab.
#pragma once

#include <cstdio>

#include "probe.h"

/// One crontab entry.
struct crontab_entry {
  char minute[16], hour[16], day[16], month[16], weekday[16];
  char user[32];
  char command[128];
  char row_name[64];  ///< hour + minute + day + month
};
/// False for a line that is not an entry (comment, assignment, blank).
bool parse_crontab_line(const char* line, crontab_entry& out);

/// "Crontab" of "Scheduled Tasks".
class crontab_probe : public probe {
 public:
  explicit crontab_probe(probe_group* group);
  bool test() override;
  bool run(FILE* report) override;
};
