// ps_probe.cpp - the "Process List" table.
#include "ps_probe.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "debug.h"
#include "run_command.h"
#include "software_linux.h"
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

}  // namespace

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
  if (!done) found = locate_tool("ps", "ps", path);
  done = true;
  tool_path = path;
  // A look-up that timed out is reported by a run, not left unsaid.
  return found || lookup_limit_pending();
}

bool ps_probe::run(FILE* report) {
  if (tool_path.empty()) {
    report_lookup_limits();
    return false;
  }
  Table table(report, "Process List", "PROCESS");
  table.start_heading();
  table.add_column("PID", INTEGER);
  table.add_column("Process Name", STRING);
  table.add_column("User", STRING, MASK_USER);
  table.add_column("Nice", INTEGER);
  table.add_column("%CPU", STRING);
  table.add_column("%MEM", STRING);
  table.add_column("Stat", STRING);
  table.end_heading();
  // The path came from another program's output: it is quoted.
  std::string command = shell_quote(tool_path.c_str()) + " " + PS_ARGUMENTS + " 2>&1";
  printd("ps: '%s'\n", command.c_str());
  FILE* pipe = command_open(command.c_str());
  if (!pipe) {
    print_error("ps: popen", errno);
    return false;
  }
  std::string line;
  process_entry e;
  int rows = 0;
  while (read_line(pipe, line, 64 * 1024)) {
    if (!parse_ps_line(line.c_str(), e)) {
      printd("ps: '%s'\n", line.c_str());
      continue;
    }
    table.start_row(e.name);
    table.log_data(e.pid);
    table.log_data(e.name);
    table.log_data(e.user);
    table.log_data(e.nice);
    table.log_data(e.cpu);
    table.log_data(e.mem);
    table.log_data(e.stat);
    table.end_row();
    ++rows;
  }
  print_error("ps: getline", errno);
  command_note_limit(report, pipe, "ps");
  if (command_close(pipe) < 0) print_error("ps: pclose", errno);
  return rows > 0;
}
