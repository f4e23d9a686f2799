// environment_linux.cpp - the environment variables of this process.
#include "environment_linux.h"

#include <cstring>
#include <vector>

#include "capture.h"
#include "sysroot.h"
#include "table.h"
#include "xml.h"

extern char** environ;

void split_environment_entry(const char* entry, std::string& name, std::string& value) {
  const char* eq = strchr(entry, '=');
  name.assign(entry, eq ? static_cast<size_t>(eq - entry) : strlen(entry));
  value = eq ? eq + 1 : "";
}

environment_probe::environment_probe() : probe_task("ENVIRONMENT", 16) {
  detail = 2;
  platform = 0x0001;
  customers = 0xFFEF;
}

bool environment_probe::run(FILE* report) {
  start_section(report, "ENVIRONMENT");
  // The variables are this program's, on the running machine; a replay
  // states those its capture kept, and any other system root none.
  std::vector<std::string> entries;
  const auto* kept = replay_lines("environment");
  if (kept) {
    for (const auto& fields : *kept) entries.push_back(fields[0]);
  } else if (!sysroot_is_set() && environ) {
    for (char** e = environ; *e; ++e) entries.push_back(*e);
  }
  if (capture_active() && (kept || (!sysroot_is_set() && environ))) {
    std::vector<std::vector<std::string>> lines;
    for (const std::string& entry : entries) lines.push_back({entry});
    capture_keep_lines("environment", lines);
  }
  if (sysroot_is_set() && !kept) note_not_under_root("Shell variables");
  if (kept || (!sysroot_is_set() && environ)) {
    static const Column columns[] = {{"Name", STRING, 40}, {"Value", STRING, 256}};
    Table table(report, "Shell variables");
    table.heading(columns);
    std::string name, value;
    for (const std::string& entry : entries) {
      split_environment_entry(entry.c_str(), name, value);
      table.start_row(name.c_str());
      table.log_data(name.c_str());
      table.log_data(value.c_str());
      table.end_row();
    }
  }
  end_section(report);
  return true;
}
