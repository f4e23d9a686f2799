// browser_linux.cpp - finding the browsers' executables: the command looked
// up on the path, then its canonical path with every link resolved.
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "browser.h"
#include "debug.h"
#include "run_command.h"
#include "util_string.h"

int resolve_browsers(browser_record* records) {
  int found = 0;
  for (browser_record* r = records; r && r->command; ++r) {
    if (r->path) {
      ++found;
      continue;
    }
    std::string command = "readlink -f \"$(which " + shell_quote(r->command) + " 2>/dev/null)\" 2>/dev/null";
    FILE* out = command_open(command.c_str());
    if (!out) {
      print_error("browser: popen", errno);
      continue;
    }
    std::string line;
    bool got = read_line(out, line, 4096);
    if (!got) print_error("browser: getline", errno);
    int status = command_close(out);
    if (status < 0) {
      print_error("browser: pclose", errno);
      continue;
    }
    // "which" finding nothing leaves readlink an empty name, which fails.
    if (got && !line.empty() && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
      r->path = strdup(line.c_str());
      printd("browser: %s is %s\n", r->command, line.c_str());
      if (r->path) ++found;
    }
  }
  return found;
}
