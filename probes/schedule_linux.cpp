// schedule_linux.cpp - the entries of the system crontab.
#include "schedule_linux.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "debug.h"
#include "platform_paths.h"
#include "run_command.h"
#include "sysroot.h"
#include "table.h"
#include "util_string.h"

namespace {

/// The next blank-separated word (at most 255 characters of it) cut to size.
void take_word(const char*& p, char* dst, size_t size) {
  while (*p && isspace(static_cast<unsigned char>(*p))) ++p;
  const char* start = p;
  while (*p && !isspace(static_cast<unsigned char>(*p))) ++p;
  size_t n = static_cast<size_t>(p - start);
  if (n > 255) n = 255;
  snprintf(dst, size, "%.*s", static_cast<int>(n), start);
}

}  // namespace

bool parse_crontab_line(const char* line, crontab_entry& out, const char* owner) {
  memset(&out, 0, sizeof out);
  std::string text = line;
  trim_whitespace(&text[0]);
  const char* p = text.c_str();
  if (*p == '@') {
    // "@reboot", "@daily", ...: one word for the whole time.
    take_word(p, out.minute, sizeof out.minute);
    if (!isalpha(static_cast<unsigned char>(out.minute[1]))) return false;
    for (char* field : {out.hour, out.day, out.month, out.weekday}) snprintf(field, 16, "%s", out.minute);
    snprintf(out.row_name, sizeof out.row_name, "%s", out.minute);
  } else {
    if (!isdigit(static_cast<unsigned char>(*p)) && *p != '*') return false;
    take_word(p, out.minute, sizeof out.minute);
    take_word(p, out.hour, sizeof out.hour);
    take_word(p, out.day, sizeof out.day);
    take_word(p, out.month, sizeof out.month);
    take_word(p, out.weekday, sizeof out.weekday);
    snprintf(out.row_name, sizeof out.row_name, "%s%s%s%s", out.hour, out.minute, out.day, out.month);
  }
  if (owner)
    snprintf(out.user, sizeof out.user, "%s", owner);
  else
    take_word(p, out.user, sizeof out.user);
  while (*p && isspace(static_cast<unsigned char>(*p))) ++p;
  snprintf(out.command, sizeof out.command, "%s", p);
  return true;
}

bool timer_list_parser::set_heading(const char* heading) {
  std::string h = heading;
  next_at = h.find("NEXT");
  left_at = h.find("LEFT");
  last_at = h.find("LAST");
  passed_at = h.find("PASSED");
  unit_at = h.find("UNIT");
  activates_at = h.find("ACTIVATES");
  ready = next_at == 0 && next_at < left_at && left_at < last_at && last_at < passed_at &&
          passed_at < unit_at && unit_at < activates_at && activates_at != std::string::npos;
  return ready;
}

bool timer_list_parser::parse(const char* line, std::string& unit, std::string& activates, std::string& next,
                              std::string& last) const {
  std::string l = line;
  if (!ready || l.size() <= unit_at) return false;
  auto cell = [&l](size_t from, size_t to) {
    std::string c = from < l.size() ? l.substr(from, to == std::string::npos ? to : to - from) : "";
    size_t b = c.find_first_not_of(' '), e = c.find_last_not_of(' ');
    return b == std::string::npos ? std::string() : c.substr(b, e - b + 1);
  };
  // systemctl pads every column to its widest cell and the heading with it.
  unit = cell(unit_at, activates_at);
  activates = cell(activates_at, std::string::npos);
  next = cell(next_at, left_at);
  last = cell(last_at, passed_at);
  return unit.size() > 6 && unit.compare(unit.size() - 6, 6, ".timer") == 0;
}

namespace {

/// The crontabs of a directory, in name order: cron.d's files (with a user
/// field) or the per-user crontabs (named by their user). Names that cron
/// itself skips (with a dot, a tilde or other signs) are skipped too.
std::vector<std::string> crontab_files(const char* directory) {
  std::vector<std::string> names;
  DIR* d = sys_opendir(directory);
  if (!d) return names;
  while (struct dirent* e = readdir(d)) {
    std::string n = e->d_name;
    bool usable = !n.empty();
    for (char c : n)
      if (!isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') usable = false;
    if (usable) names.push_back(n);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

bool systemd_runs() { return !sysroot_is_set() && sys_access(platform_path::run_systemd_system, F_OK) == 0; }

/// The rows of one crontab; `owner` for a per-user crontab.
void crontab_rows(Table& table, const char* path, const char* owner) {
  FILE* f = sys_fopen(path, "r");
  if (!f) {
    print_error("crontab: fopen", errno);
    return;
  }
  std::string line;
  crontab_entry e;
  while (read_line(f, line, 64 * 1024)) {
    if (!parse_crontab_line(line.c_str(), e, owner)) continue;
    printd("crontab: %s\n", line.c_str());
    table.start_row(e.row_name);
    for (const char* cell : {e.hour, e.minute, e.day, e.month, e.weekday, e.user, e.command})
      table.log_data(cell);
    table.end_row();
  }
  print_error("crontab: getline", errno);
  fclose(f);
}

/// "Systemd Timers": every timer unit as systemctl lists it.
void timer_rows(FILE* report) {
  static const Column columns[] = {
      {"Unit", STRING, 40}, {"Activates", STRING, 40}, {"Next", STRING, 32}, {"Last", STRING, 32}};
  Table table(report, "Systemd Timers");
  table.heading(columns);
  FILE* pipe = command_open("systemctl list-timers --all --no-pager 2>/dev/null");
  if (!pipe) {
    print_error("timers: popen", errno);
    return;
  }
  timer_list_parser parser;
  std::string line, unit, activates, next, last;
  bool heading = true;
  while (read_line(pipe, line, 64 * 1024)) {
    if (heading) {
      heading = false;
      if (!parser.set_heading(line.c_str())) printd("timers: heading not recognized: %s\n", line.c_str());
      continue;
    }
    if (!parser.parse(line.c_str(), unit, activates, next, last)) continue;
    table.start_row(unit.c_str());
    for (const std::string* cell : {&unit, &activates, &next, &last}) table.log_data(cell->c_str());
    table.end_row();
  }
  command_note_limit(report, pipe, "systemctl");
  command_close(pipe);
}

}  // namespace

crontab_probe::crontab_probe(probe_group* group) : probe(group, "Crontab", 3, 0x0001) {}

bool crontab_probe::test() {
  for (const char* dir : {platform_path::etc_cron_d, platform_path::cron_spool})
    if (!crontab_files(dir).empty()) return true;
  if (systemd_runs()) return true;
  FILE* f = sys_fopen(platform_path::etc_crontab, "r");
  if (!f) return false;
  fclose(f);
  return true;
}

bool crontab_probe::run(FILE* report) {
  write_crontab_table(report);
  if (systemd_runs()) timer_rows(report);
  return true;
}

void crontab_probe::write_crontab_table(FILE* report) {
  static const Column columns[] = {{"Hour", STRING, 16},       {"Minute", STRING, 16},
                                   {"Day", STRING, 16},        {"Month", STRING, 16},
                                   {"Day of Week", STRING, 16}, {"Username", STRING, 32, MASK_USER},
                                   {"Command", STRING, 128}};
  Table table(report, "Scheduled Tasks");
  table.heading(columns);
  // The system crontab, the files of cron.d (both with a user field), then
  // each user's own crontab.
  crontab_rows(table, platform_path::etc_crontab, nullptr);
  for (const std::string& name : crontab_files(platform_path::etc_cron_d))
    crontab_rows(table, (std::string(platform_path::etc_cron_d) + "/" + name).c_str(), nullptr);
  for (const std::string& name : crontab_files(platform_path::cron_spool))
    crontab_rows(table, (std::string(platform_path::cron_spool) + "/" + name).c_str(), name.c_str());
}
