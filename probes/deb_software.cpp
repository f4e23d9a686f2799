// deb_software.cpp - the "DPKG Packages" table. dpkg-query, which every
// Debian system has and which answers in a fraction of a second, comes first;
// aptitude is asked only where dpkg-query is missing. Under a system root no
// tool is run: the root's own dpkg status file is read through the confined
// opener. Every path gives the same rows, in aptitude's words: the name
// without an architecture suffix unless the package is of a foreign
// architecture, the whole version, the installed size in aptitude's unit.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "capture.h"
#include "debug.h"
#include "platform_paths.h"
#include "progress.h"
#include "run_command.h"
#include "software_linux.h"
#include "sysroot.h"
#include "table.h"
#include "util_string.h"

namespace {

tool_lookup aptitude_tool("aptitude");
tool_lookup dpkg_query_tool("dpkg-query");

/// The field separator. Names, versions, sections, sizes and architectures
/// cannot hold it, and the description, which may, comes last and takes the
/// rest.
const char SEPARATOR = '|';
const int DEB_FIELDS = 8;
/// The first line of the dpkg-query listing: "native|<architecture>".
const char NATIVE_PREFIX[] = "native|";

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

bool all_digits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

bool starts_with(const std::string& s, const char* prefix) { return s.compare(0, strlen(prefix), prefix) == 0; }

}  // namespace

std::string deb_size_text(unsigned long long kib) {
  // Bytes in powers of 1000, four significant digits at most, one decimal
  // below 100 of a unit: 702 kB, 14.3 kB, 13.3 MB (as the package tools say).
  static const char* const units[] = {"", "k", "M", "G", "T", "P", "E"};
  double size = static_cast<double>(kib) * 1024.0;
  char text[48];
  for (int i = 0; i < 7; ++i) {
    if (size < 100 && i != 0) {
      snprintf(text, sizeof text, "%.1f %sB", size, units[i]);
      break;
    }
    if (size < 10000 || i == 6) {
      snprintf(text, sizeof text, "%.0f %sB", size, units[i]);
      break;
    }
    size /= 1000.0;
  }
  // Whatever the process locale, the decimal mark is a point.
  for (char* p = text; *p; ++p)
    if (*p == ',') *p = '.';
  return text;
}

bool deb_record_from_fields(const deb_fields& f, const std::string& native, package_record& out) {
  out = package_record();
  // "install ok installed", "hold ok installed": the last word says it.
  std::string status = trimmed(f.status);
  size_t blank = status.rfind(' ');
  if (status.substr(blank == std::string::npos ? 0 : blank + 1) != "installed") return false;
  out.name = trimmed(f.name);
  std::string arch = trimmed(f.arch);
  if (!arch.empty() && arch != "all" && !native.empty() && arch != native) out.name += ":" + arch;
  out.version = trimmed(f.version);
  out.group = trimmed(f.section);
  if (out.group.empty()) out.group = "<none>";
  out.size = trimmed(f.size);
  if (all_digits(out.size))
    out.size = deb_size_text(strtoull(out.size.c_str(), nullptr, 10));
  else if (out.size.empty())
    out.size = "<N/A>";
  out.vendor = trimmed(f.maintainer);
  out.description = trimmed(f.summary);
  return !trimmed(f.name).empty();
}

bool parse_deb_line(const char* line, const std::string& native, package_record& out) {
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
  deb_fields f{fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], fields[6], fields[7]};
  return deb_record_from_fields(f, native, out);
}

bool deb_status_reader::feed(const char* line) {
  if (done) {
    fields = deb_fields();
    done = false;
  }
  if (*line == 0 || strcmp(line, "\r") == 0) {
    // A blank line ends a paragraph; blank lines in a row end nothing.
    done = !fields.name.empty() || !fields.status.empty();
    return done;
  }
  if (*line == ' ' || *line == '\t') return false;  // continuation of the field before
  const char* colon = strchr(line, ':');
  if (!colon) return false;
  std::string key(line, static_cast<size_t>(colon - line));
  std::string value = trimmed(colon + 1);
  struct field {
    const char* key;
    std::string deb_fields::*member;
  };
  static const field known[] = {{"Package", &deb_fields::name},          {"Status", &deb_fields::status},
                                {"Version", &deb_fields::version},       {"Section", &deb_fields::section},
                                {"Installed-Size", &deb_fields::size},   {"Maintainer", &deb_fields::maintainer},
                                {"Architecture", &deb_fields::arch},     {"Description", &deb_fields::summary}};
  for (const field& k : known)
    if (strcasecmp(key.c_str(), k.key) == 0) fields.*(k.member) = value;
  return false;
}

bool deb_status_reader::finish() {
  if (done) return false;
  done = !fields.name.empty() || !fields.status.empty();
  return done;
}

std::string aptitude_query_command() {
  // Widths wide enough that aptitude never cuts a value.
  return "aptitude search '~i~T' -F 'install ok installed|%128p|%128v|%64s|%16I|%256m||%512d' -w 1200 2>&1";
}

std::string dpkg_query_command() {
  return "printf 'native|%s\\n' \"$(dpkg --print-architecture 2>/dev/null)\"; "
         "dpkg-query -W -f='${Status}|${Package}|${Version}|${Section}|${Installed-Size}|"
         "${Maintainer}|${Architecture}|${binary:Summary}\\n' 2>&1";
}

bool deb_packages_test() {
  // Under a system root only the root's own database counts.
  if (!commands_describe_system()) return sys_access(platform_path::dpkg_status, R_OK) == 0;
  return dpkg_query_tool.test() || aptitude_tool.test();
}

void reset_deb_tools() {
  for (tool_lookup* t : {&aptitude_tool, &dpkg_query_tool}) *t = tool_lookup(t->tool);
}

namespace {

void write_package(Table& table, const package_record& r) {
  table.start_row(r.name.c_str());
  for (const std::string* cell : {&r.name, &r.version, &r.vendor, &r.description, &r.group, &r.size})
    table.log_data(cell->c_str());
  table.end_row();
}

/// The architecture the root's dpkg was built for: that of its own package.
std::string status_native_architecture() {
  FILE* f = sys_fopen(platform_path::dpkg_status, "r");
  if (!f) return "";
  deb_status_reader reader;
  std::string line, native;
  bool more = true;
  while (native.empty() && more) {
    more = read_line(f, line, 64 * 1024);
    if (more ? reader.feed(line.c_str()) : reader.finish())
      if (trimmed(reader.fields.name) == "dpkg") native = trimmed(reader.fields.arch);
  }
  fclose(f);
  return native;
}

/// The rows of the root's dpkg status file.
int status_file_packages(Table& table) {
  std::string native = status_native_architecture();
  FILE* f = sys_fopen(platform_path::dpkg_status, "r");
  if (!f) {
    print_error("aptitude: fopen", errno);
    return 0;
  }
  printd("aptitude: package list from %s under the system root\n", platform_path::dpkg_status);
  deb_status_reader reader;
  package_record r;
  std::string line;
  int rows = 0;
  bool more = true;
  while (more) {
    more = read_line(f, line, 64 * 1024);
    if (!(more ? reader.feed(line.c_str()) : reader.finish())) continue;
    if (!deb_record_from_fields(reader.fields, native, r)) continue;
    write_package(table, r);
    ++rows;
  }
  fclose(f);
  return rows;
}

}  // namespace

bool get_deb_packages(FILE* out) {
  static const Column columns[] = {{"Name", STRING, 64},         {"Version", STRING, 32},
                                   {"Maintainer", STRING, 128},  {"Description", STRING, 256},
                                   {"Category", STRING, 64},     {"Size", STRING, 16}};
  Table table(out, "DPKG Packages", "Debian Packages");
  table.heading(columns);
  if (!commands_describe_system()) return status_file_packages(table) > 0;
  bool dpkg_query = dpkg_query_tool.test();
  const char* tool = dpkg_query ? "dpkg-query" : "aptitude";
  std::string command = dpkg_query ? dpkg_query_command() : aptitude_query_command();
  printd("aptitude: package list from %s: '%s'\n", tool, command.c_str());
  FILE* pipe = command_open(command.c_str());
  if (!pipe) {
    print_error("aptitude: popen", errno);
    return false;
  }
  std::string line, native;
  package_record r;
  int rows = 0;
  while (read_line(pipe, line, 64 * 1024)) {
    if (dpkg_query && rows == 0 && starts_with(line, NATIVE_PREFIX)) {
      native = trimmed(line.substr(sizeof NATIVE_PREFIX - 1));
      continue;
    }
    if (!parse_deb_line(line.c_str(), native, r)) {
      printd("aptitude: previous line not recognized\n");
      continue;
    }
    write_package(table, r);
    console_progress(++rows, "packages");
  }
  print_error("aptitude: getline", errno);
  command_note_limit(out, pipe, tool);
  command_close(pipe);
  return rows > 0;
}
