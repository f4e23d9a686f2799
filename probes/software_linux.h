// software_linux.h - installed packages from the system's package tools, and
// the tool lookup the command-based probes share.
#pragma once

#include <cstdio>
#include <string>

#include "probe.h"

/// Looks a tool up with "which"; true with its path when found. `trace`
/// names the caller in the debug log ("rpm", "aptitude", "ps").
/// A look-up that times out is not forgotten: lookup_limit_pending is then
/// true until report_lookup_limits says so on the console line of the
/// running task and keeps a "Command Status" row for its section.
bool locate_tool(const char* tool, const char* trace, std::string& path);
bool lookup_limit_pending();
void report_lookup_limits();

/// The answer of one tool lookup, made once per run.
struct tool_lookup {
  const char* tool;
  bool done = false;
  bool found = false;
  std::string path;
  explicit tool_lookup(const char* t) : tool(t) {}
  bool test() {
    if (!done) found = locate_tool(tool, tool, path);
    done = true;
    return found;
  }
};

/// One package of either table, its fields cut to their buffers.
struct package_record {
  std::string name, version, vendor, description, group, install_date, size;
};

/// The record form of the package tools: "Key: value" lines, "---EOP---"
/// after each package. feed() takes one line without its line end and is
/// true when it ended a package, which is then in `record`.
class rpm_record_reader {
 public:
  bool feed(const char* line);
  package_record record;

 private:
  bool done = false;
};

/// The Debian listing: one line per package, fields separated by "|" in the
/// order status, name, version, section, size, maintainer, description (the
/// description last, so that it may hold "|"). True with the package when
/// the status says it is installed; fields are trimmed and cut.
bool parse_deb_line(const char* line, package_record& out);

/// The commands, exactly as run.
std::string rpm_query_command();
std::string aptitude_query_command();
std::string dpkg_query_command();

bool rpm_packages_test();
bool deb_packages_test();
/// Writes "RPM Packages" / "DPKG Packages"; true when a row was written.
bool get_rpm_packages(FILE* out);
bool get_deb_packages(FILE* out);
/// Forget the tool lookups (for tests that change the search path).
void reset_rpm_tool();
void reset_deb_tools();

/// The task "Installed Software".
class packages_probe : public probe_task {
 public:
  packages_probe();
  bool test() override;
  bool run(FILE* report) override;
};
