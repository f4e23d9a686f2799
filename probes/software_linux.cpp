// software_linux.cpp - the "Installed Software" task and the tool lookup.
#include "software_linux.h"

#include <sys/wait.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "debug.h"
#include "run_command.h"
#include "util_string.h"
#include "xml.h"

namespace {
/// Look-ups that hit a limit, not yet reported: tool and limit.
std::vector<std::pair<std::string, command_limit>> lookups_cut;
}  // namespace

bool lookup_limit_pending() { return !lookups_cut.empty(); }

void report_lookup_limits() {
  for (const auto& cut : lookups_cut) command_report_limit(("which " + cut.first).c_str(), cut.second);
  lookups_cut.clear();
}

bool locate_tool(const char* tool, const char* trace, std::string& path) {
  std::string command = "which " + shell_quote(tool) + " 2>&1";
  FILE* pipe = command_open(command.c_str());
  if (!pipe) {
    print_error((std::string(trace) + ": popen").c_str(), errno);
    return false;
  }
  std::string line;
  read_line(pipe, line, 4096);
  command_limit limit = command_take_limit(pipe);
  if (limit != COMMAND_COMPLETE) lookups_cut.emplace_back(tool, limit);
  int status = command_close(pipe);
  if (status < 0) {
    print_error((std::string(trace) + ": pclose").c_str(), errno);
    return false;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && !line.empty()) {
    path = line;
    printd("%s: %s_path is '%s'\n", trace, tool, line.c_str());
    return true;
  }
  printd("%s: not found: '%s'\n", trace, line.c_str());
  return false;
}

packages_probe::packages_probe() : probe_task("Installed Software", 16) {
  detail = 1;
  platform = 0x0001;
  customers = 0xFFEF;
}

bool packages_probe::test() {
  bool rpm = rpm_packages_test();
  bool deb = deb_packages_test();
  // A look-up that timed out is reported by a run, not left unsaid.
  return rpm || deb || lookup_limit_pending();
}

bool packages_probe::run(FILE* report) {
  start_section(report, "Installed Software");
  report_lookup_limits();
  if (rpm_packages_test()) get_rpm_packages(report);
  if (deb_packages_test()) get_deb_packages(report);
  end_section(report);
  return true;
}
