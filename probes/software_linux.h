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

/// The fields of one Debian package, as listed by a tool or read from the
/// dpkg status file.
struct deb_fields {
  std::string status, name, version, section, size, maintainer, arch, summary;
};

/// A record in the table's words: only installed packages (the status's last
/// word); the name with ":arch" when the architecture is neither "all" nor
/// `native` (nothing is added while `native` is unknown); a size in KiB
/// written as deb_size_text gives it; values whole, surrounding blanks
/// trimmed. False when the package is not installed or has no name.
bool deb_record_from_fields(const deb_fields& f, const std::string& native, package_record& out);

/// The Debian listing: one line per package, fields separated by "|" in the
/// order status, name, version, section, size, maintainer, architecture,
/// description (the description last, so that it may hold "|").
bool parse_deb_line(const char* line, const std::string& native, package_record& out);

/// An installed size in KiB in the package tools' words ("702 kB", "14.3 kB",
/// "13.3 MB": bytes in powers of 1000).
std::string deb_size_text(unsigned long long kib);

/// The dpkg status file: "Key: value" paragraphs separated by blank lines.
/// feed() takes one line without its line end and is true when the line
/// ended a paragraph, whose fields are then in `fields` (the description's
/// first line is the summary); finish() ends the last one at end of file.
class deb_status_reader {
 public:
  bool feed(const char* line);
  bool finish();
  deb_fields fields;

 private:
  bool done = false;
};

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
