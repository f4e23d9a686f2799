// schedule_linux.h - the system crontab.
#pragma once

#include <cstdio>
#include <string>

#include "probe.h"

/// One crontab entry.
struct crontab_entry {
  char minute[16], hour[16], day[16], month[16], weekday[16];
  char user[32];
  char command[128];
  char row_name[64];  ///< hour + minute + day + month
};
/// False for a line that is not an entry (comment, assignment, blank).
/// "@reboot"-style lines are entries: the word stands in each time column
/// and names the row. A per-user crontab has no user field: `owner` (the
/// file's name) is the user then.
bool parse_crontab_line(const char* line, crontab_entry& out, const char* owner = nullptr);

/// One line of "systemctl list-timers --all": the columns as the heading
/// line places them. set_heading() takes the heading; parse() is false for
/// a line that is no timer (the blank line and the count at the end).
class timer_list_parser {
 public:
  bool set_heading(const char* heading);
  bool parse(const char* line, std::string& unit, std::string& activates, std::string& next,
             std::string& last) const;

 private:
  size_t next_at = 0, left_at = 0, last_at = 0, passed_at = 0, unit_at = 0, activates_at = 0;
  bool ready = false;
};

/// "Crontab" of "Scheduled Tasks".
class crontab_probe : public probe {
 public:
  explicit crontab_probe(probe_group* group);
  /// True when a crontab or systemd's timers are there to read.
  bool test() override;
  /// "Scheduled Tasks" from /etc/crontab, /etc/cron.d and the per-user
  /// crontabs; then "Systemd Timers" where systemd runs.
  bool run(FILE* report) override;

 private:
  void write_crontab_table(FILE* report);
};
