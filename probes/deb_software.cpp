// deb_software.cpp - the "DPKG Packages" table, from aptitude where it is
// installed and otherwise from dpkg-query, which every Debian system has.
#include <cerrno>
#include <cstring>
#include <string>

#include "debug.h"
#include "progress.h"
#include "run_command.h"
#include "software_linux.h"
#include "table.h"
#include "util_string.h"

namespace {

tool_lookup aptitude_tool("aptitude");
tool_lookup dpkg_query_tool("dpkg-query");

/// The field separator. Package names, versions, sections and sizes cannot
/// hold it, and the description, which may, comes last and takes the rest.
const char SEPARATOR = '|';
const int DEB_FIELDS = 7;

std::string trimmed(const std::string& s, size_t max) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r");
  std::string t = s.substr(b, e - b + 1);
  if (t.size() > max) t.resize(max);
  return t;
}

}  // namespace

bool parse_deb_line(const char* line, package_record& out) {
  out = package_record();
  std::string fields[DEB_FIELDS];
  const char* p = line;
  for (int i = 0; i < DEB_FIELDS - 1; ++i) {
    const char* sep = strchr(p, SEPARATOR);
    if (!sep) return false;
    fields[i].assign(p, static_cast<size_t>(sep - p));
    p = sep + 1;
  }
  fields[DEB_FIELDS - 1] = p;
  // "install ok installed", "hold ok installed": the last word says it.
  std::string status = trimmed(fields[0], 64);
  size_t blank = status.rfind(' ');
  if (status.substr(blank == std::string::npos ? 0 : blank + 1) != "installed") return false;
  out.name = trimmed(fields[1], 63);
  out.version = trimmed(fields[2], 31);
  out.group = trimmed(fields[3], 63);
  out.size = trimmed(fields[4], 15);
  out.vendor = trimmed(fields[5], 127);
  out.description = trimmed(fields[6], 255);
  return !out.name.empty();
}

std::string aptitude_query_command() {
  return "aptitude search '~i~T' -F 'install ok installed|%64p|%32v|%64s|%16I|%128m|%256d' -w 600 2>&1";
}

std::string dpkg_query_command() {
  return "dpkg-query -W -f='${Status}|${binary:Package}|${Version}|${Section}|"
         "${Installed-Size}|${Maintainer}|${binary:Summary}\\n' 2>&1";
}

bool deb_packages_test() { return aptitude_tool.test() || dpkg_query_tool.test(); }

void reset_deb_tools() {
  for (tool_lookup* t : {&aptitude_tool, &dpkg_query_tool}) *t = tool_lookup(t->tool);
}

bool get_deb_packages(FILE* out) {
  Table table(out, "DPKG Packages", "Debian Packages");
  table.start_heading();
  struct column {
    const char* name;
    int width;
  };
  static const column columns[] = {{"Name", 64},         {"Version", 32},  {"Maintainer", 128},
                                   {"Description", 256}, {"Category", 64}, {"Size", 16}};
  int c = 0;
  for (const column& col : columns) {
    table.add_column(col.name, STRING);
    table.set_column_width(c++, col.width);
  }
  table.end_heading();
  bool aptitude = aptitude_tool.test();
  const char* tool = aptitude ? "aptitude" : "dpkg-query";
  std::string command = aptitude ? aptitude_query_command() : dpkg_query_command();
  printd("aptitude: package list from %s: '%s'\n", tool, command.c_str());
  FILE* pipe = command_open(command.c_str());
  if (!pipe) {
    print_error("aptitude: popen", errno);
    return false;
  }
  std::string line;
  package_record r;
  int rows = 0;
  while (read_line(pipe, line, 64 * 1024)) {
    if (!parse_deb_line(line.c_str(), r)) {
      printd("aptitude: previous line not recognized\n");
      continue;
    }
    // dpkg-query gives the installed size in KiB as a bare number.
    if (!aptitude && !r.size.empty()) r.size += " kB";
    table.start_row(r.name.c_str());
    for (const std::string* cell : {&r.name, &r.version, &r.vendor, &r.description, &r.group, &r.size})
      table.log_data(cell->c_str());
    table.end_row();
    console_progress(++rows, "packages");
  }
  print_error("aptitude: getline", errno);
  command_note_limit(out, pipe, tool);
  command_close(pipe);
  return rows > 0;
}
