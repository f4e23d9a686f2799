// ps_probe.cpp - the "Process List" table.
#include "ps_probe.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "capture.h"
#include "debug.h"
#include "platform_paths.h"
#include "run_command.h"
#include "software_linux.h"
#include "sysroot.h"
#include "table.h"
#include "util_string.h"

const char* const PS_ARGUMENTS = "--no-headers -eo pid,user,nice,pcpu,pmem,stat,comm --sort pid";

namespace {

/// The next blank-separated word, cut to size; *p moves past it.
void take_word(const char*& p, char* dst, size_t size) {
  while (*p && isspace(static_cast<unsigned char>(*p))) ++p;
  const char* start = p;
  while (*p && !isspace(static_cast<unsigned char>(*p))) ++p;
  size_t n = static_cast<size_t>(p - start);
  if (n > size - 1) n = size - 1;
  memcpy(dst, start, n);
  dst[n] = '\0';
}

/// A whole-word number; 0 for "-" or anything else that is not one.
int number_of(const char* word) {
  char* end = nullptr;
  long v = strtol(word, &end, 10);
  return end != word && *end == '\0' ? static_cast<int>(v) : 0;
}

/// The ids of the system root's processes (directories with a "stat" file), in order.
std::vector<int> root_process_ids() {
  std::vector<int> ids;
  DIR* dir = sys_opendir(platform_path::proc_dir);
  if (!dir) return ids;
  while (dirent* d = readdir(dir)) {
    char* end = nullptr;
    long long id = strtoll(d->d_name, &end, 10);
    if (!isdigit(static_cast<unsigned char>(d->d_name[0])) || *end || id <= 0 || id > INT32_MAX) continue;
    // A capture keeps the directories it passed as empty stand-ins.
    char path[64];
    snprintf(path, sizeof path, platform_path::proc_pid_stat_fmt, static_cast<int>(id));
    if (sys_access(path, R_OK) == 0) ids.push_back(static_cast<int>(id));
  }
  closedir(dir);
  std::sort(ids.begin(), ids.end());
  return ids;
}

std::string small_file(const char* format, int pid) {
  char path[64];
  snprintf(path, sizeof path, format, pid);
  std::string text;
  if (FILE* f = sys_fopen_bounded(path, 65536)) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    fclose(f);
  }
  return text;
}

/// A process of the system root from its own files; false when its "stat"
/// file is missing or is not one.
bool root_process(int pid, process_entry& e) {
  std::string stat = small_file(platform_path::proc_pid_stat_fmt, pid);
  if (!parse_proc_stat(stat.c_str(), e) || e.pid != pid) return false;
  unsigned long uid = 0;
  if (parse_proc_status_uid(small_file(platform_path::proc_pid_status_fmt, pid).c_str(), &uid)) {
    std::string name = root_account_name(platform_path::etc_passwd, uid);
    snprintf(e.user, sizeof e.user, "%s", name.empty() ? std::to_string(uid).c_str() : name.c_str());
  }
  return true;
}

}  // namespace

bool parse_proc_stat(const char* text, process_entry& out) {
  memset(&out, 0, sizeof out);
  // "pid (name) state ppid pgrp session tty tpgid flags minflt cminflt majflt
  // cmajflt utime stime cutime cstime priority nice ...": the name may hold
  // blanks and parentheses, so it ends at the last ") ".
  const char* open = strchr(text, '(');
  const char* close = strrchr(text, ')');
  if (!open || !close || close < open || close[1] != ' ') return false;
  char* end = nullptr;
  long long pid = strtoll(text, &end, 10);
  if (end == text || end > open || pid <= 0 || pid > INT32_MAX) return false;
  out.pid = static_cast<int>(pid);
  size_t n = static_cast<size_t>(close - open - 1);
  if (n > sizeof out.name - 1) n = sizeof out.name - 1;
  memcpy(out.name, open + 1, n);
  out.name[n] = '\0';
  const char* p = close + 1;
  char word[32];
  take_word(p, out.stat, sizeof out.stat);
  if (!out.stat[0]) return false;
  for (int field = 4; field <= 19; field++) {
    take_word(p, word, sizeof word);
    if (field == 19) out.nice = number_of(word);
  }
  return true;
}

bool parse_proc_status_uid(const char* text, unsigned long* uid) {
  const char* line = strncmp(text, "Uid:", 4) == 0 ? text : strstr(text, "\nUid:");
  if (!line) return false;
  if (*line == '\n') ++line;
  char* end = nullptr;
  unsigned long value = strtoul(line + 4, &end, 10);
  if (end == line + 4 || (*end != '\t' && *end != ' ' && *end != '\n' && *end)) return false;
  *uid = value;
  return true;
}

bool parse_ps_line(const char* line, process_entry& out) {
  memset(&out, 0, sizeof out);
  const char* p = line;
  char word[32];
  take_word(p, word, sizeof word);
  char* end = nullptr;
  long pid = strtol(word, &end, 10);
  if (end == word || *end) return false;
  out.pid = static_cast<int>(pid);
  take_word(p, out.user, sizeof out.user);
  take_word(p, word, sizeof word);
  // A process without a nice value (a real-time one) shows "-": 0 here, and
  // the columns after it are still read.
  out.nice = number_of(word);
  take_word(p, out.cpu, sizeof out.cpu);
  take_word(p, out.mem, sizeof out.mem);
  take_word(p, out.stat, sizeof out.stat);
  while (*p && isspace(static_cast<unsigned char>(*p))) ++p;
  snprintf(out.name, sizeof out.name, "%s", p);
  trim_whitespace(out.name);
  return true;
}

ps_probe::ps_probe(probe_group* group) : probe(group, "ps probe", 3, 0x0001) { customers = 0xFFEF; }

bool ps_probe::test() {
  static bool done = false;
  static bool found = false;
  static std::string path;
  // Under a system root the tool is only looked for in a replay (its
  // recording answers).
  if (!done && (!sysroot_is_set() || replay_active())) found = locate_tool("ps", "ps", path);
  done = true;
  tool_path = path;
  // A look-up that timed out is reported by a run, not left unsaid; under a
  // root the run says where the list comes from, or that nothing gives it.
  return found || lookup_limit_pending() || sysroot_is_set();
}

bool ps_probe::run(FILE* report) {
  std::vector<int> pids;
  if (sysroot_is_set()) {
    pids = root_process_ids();
    if (pids.empty() && tool_path.empty() && !lookup_limit_pending()) {
      note_not_under_root("Process List");
      return false;
    }
  }
  if (pids.empty() && tool_path.empty()) {
    report_lookup_limits();
    return false;
  }
  static const Column columns[] = {{"PID", INTEGER},   {"Process Name", STRING}, {"User", STRING, 0, MASK_USER},
                                   {"Nice", INTEGER},  {"%CPU", STRING},         {"%MEM", STRING},
                                   {"Stat", STRING}};
  Table table(report, "Process List", "PROCESS");
  table.heading(columns);
  process_entry e;
  int rows = 0;
  if (!pids.empty()) {
    for (int pid : pids) {
      if (!root_process(pid, e)) continue;  // ended, or no process
      table.write_row(e.name, e.pid, e.name, e.user, e.nice, "", "", e.stat);
      ++rows;
    }
    return rows > 0;
  }
  // The path came from another program's output: it is quoted.
  std::string command = shell_quote(tool_path.c_str()) + " " + PS_ARGUMENTS + " 2>&1";
  printd("ps: '%s'\n", command.c_str());
  FILE* pipe = command_open(command.c_str());
  if (!pipe) {
    print_error("ps: popen", errno);
    return false;
  }
  std::string line;
  while (read_line(pipe, line, 64 * 1024)) {
    if (!parse_ps_line(line.c_str(), e)) {
      printd("ps: '%s'\n", line.c_str());
      continue;
    }
    table.write_row(e.name, e.pid, e.name, e.user, e.nice, e.cpu, e.mem, e.stat);
    ++rows;
  }
  print_error("ps: getline", errno);
  command_note_limit(report, pipe, "ps");
  if (command_close(pipe) < 0) print_error("ps: pclose", errno);
  return rows > 0;
}
