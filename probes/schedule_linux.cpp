// schedule_linux.cpp - the entries of the system crontab.
#include "schedule_linux.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>

#include "debug.h"
#include "platform_paths.h"
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

bool parse_crontab_line(const char* line, crontab_entry& out) {
  memset(&out, 0, sizeof out);
  std::string text = line;
  trim_whitespace(&text[0]);
  const char* p = text.c_str();
  if (!isdigit(static_cast<unsigned char>(*p)) && *p != '*') return false;
  take_word(p, out.minute, sizeof out.minute);
  take_word(p, out.hour, sizeof out.hour);
  take_word(p, out.day, sizeof out.day);
  take_word(p, out.month, sizeof out.month);
  take_word(p, out.weekday, sizeof out.weekday);
  take_word(p, out.user, sizeof out.user);
  while (*p && isspace(static_cast<unsigned char>(*p))) ++p;
  snprintf(out.command, sizeof out.command, "%s", p);
  snprintf(out.row_name, sizeof out.row_name, "%s%s%s%s", out.hour, out.minute, out.day, out.month);
  return true;
}

crontab_probe::crontab_probe(probe_group* group) : probe(group, "Crontab", 3, 0x0001) {}

bool crontab_probe::test() {
  FILE* f = sys_fopen(platform_path::etc_crontab, "r");
  if (!f) return false;
  fclose(f);
  return true;
}

bool crontab_probe::run(FILE* report) {
  Table table(report, "Scheduled Tasks");
  table.start_heading();
  int c = 0;
  for (const char* name : {"Hour", "Minute", "Day", "Month", "Day of Week"}) {
    table.add_column(name, STRING);
    table.set_column_width(c++, 16);
  }
  table.add_column("Username", STRING, MASK_USER);
  table.set_column_width(c++, 32);
  table.add_column("Command", STRING);
  table.set_column_width(c, 128);
  table.end_heading();
  FILE* f = sys_fopen(platform_path::etc_crontab, "r");
  if (!f) {
    print_error("crontab: fopen", errno);
    return true;
  }
  std::string line;
  crontab_entry e;
  while (read_line(f, line, 64 * 1024)) {
    if (!parse_crontab_line(line.c_str(), e)) continue;
    printd("crontab: %s\n", line.c_str());
    table.start_row(e.row_name);
    for (const char* cell : {e.hour, e.minute, e.day, e.month, e.weekday, e.user, e.command})
      table.log_data(cell);
    table.end_row();
  }
  print_error("crontab: getline", errno);
  fclose(f);
  return true;
}
