// browser.h - the web browsers installed, with their versions.
#pragma once

#include <cstdio>
#include <string>

#include "probe.h"

/// One browser looked for: the command name, the name shown, and the
/// canonical path of its executable once found (malloc'ed, owned here).
struct browser_record {
  const char* command;
  const char* display_name;
  char* path;
};

/// Looks up every record's command on the path and fills `path` for those
/// found; returns how many were found. Records already resolved are kept.
int resolve_browsers(browser_record* records);
/// Releases every resolved path.
void release_browsers(browser_record* records);

/// The shell command printing the version of the executable `path` reached
/// as `command`: the tool's "--version" text, the lines naming the command
/// (its parts separated by "-" each count), the first version-like word.
/// Every substituted text is quoted.
std::string browser_version_command(const char* path, const char* command);

/// The "Installed Browsers" table: one row per executable (the first record
/// in table order that reaches it), when it prints a version.
void write_browsers(FILE* report, browser_record* records);

/// "Browser Probe" of the group "BROWSER INFORMATION".
class browser_probe : public probe {
 public:
  explicit browser_probe(probe_group* group);
  /// Resolves the browsers on its first call in a run; true when one was found.
  bool test() override;
  bool run(FILE* report) override;

  /// The records looked for, ending with a null command.
  static browser_record browsers[];
};
