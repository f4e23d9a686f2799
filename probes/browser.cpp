// browser.cpp - the "Installed Browsers" table.
#include "browser.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "debug.h"
#include "run_command.h"
#include "table.h"
#include "util_string.h"

browser_record browser_probe::browsers[] = {
    {"dillo", "Dillo", nullptr},
    {"konqueror", "Konqueror", nullptr},
    {"elinks", "ELinks", nullptr},
    {"lynx", "lynx", nullptr},
    {"firefox", "Mozilla Firefox", nullptr},
    {"firefox-bin", "Mozilla Firefox (Precompiled Binary)", nullptr},
    {"mozilla-firefox", "Mozilla Firefox", nullptr},
    {"mozilla-firefox-bin", "Mozilla Firefox (Precompiled Binary)", nullptr},
    {"mozilla", "Mozilla", nullptr},
    {nullptr, nullptr, nullptr},
};

std::string browser_version_command(const char* path, const char* command) {
  std::string alternatives = command ? command : "";
  for (char& c : alternatives)
    if (c == '-') c = '|';
  return shell_quote(path) + " --version 2>/dev/null | grep -E -i " + shell_quote(alternatives.c_str()) +
         " | grep -E -o '[0-9][0-9a-z.-]+' | head -n 1";
}

void release_browsers(browser_record* records) {
  for (browser_record* r = records; r && r->command; ++r) {
    free(r->path);
    r->path = nullptr;
  }
}

void write_browsers(FILE* report, browser_record* records) {
  static const Column columns[] = {{"Name", STRING, 30}, {"Version", STRING, 15}};
  Table table(report, "Installed Browsers", "BROWSER");
  table.heading(columns);
  for (browser_record* r = records; r && r->command; ++r) {
    if (!r->path) continue;
    std::string command = browser_version_command(r->path, r->command);
    // One executable reached by several names is listed once, under the first.
    for (browser_record* later = r + 1; later->command; ++later)
      if (later->path && strcmp(later->path, r->path) == 0) {
        free(later->path);
        later->path = nullptr;
      }
    FILE* out = command_open(command.c_str());
    if (!out) {
      print_error("browser: popen", errno);
      continue;
    }
    std::string line;
    while (read_line(out, line, 1024)) {
      std::vector<char> version(line.begin(), line.end());
      version.push_back('\0');
      table.write_row(r->display_name, r->display_name, trim_whitespace(version.data()));
    }
    print_error("browser: getline", errno);
    if (command_close(out) < 0) print_error("browser: pclose", errno);
  }
}

browser_probe::browser_probe(probe_group* group) : probe(group, "Browser Probe", 1, 0x2F71) {
  customers = 0xFFEF;
}

bool browser_probe::test() {
  static bool searched = false;
  static bool found = false;
  if (!searched) {
    searched = true;
    found = resolve_browsers(browsers) > 0;
  }
  return found;
}

bool browser_probe::run(FILE* report) {
  test();
  write_browsers(report, browsers);
  return true;
}
