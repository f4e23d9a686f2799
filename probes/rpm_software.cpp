// rpm_software.cpp - the "RPM Packages" table from the RPM query tool.
#include <cerrno>
#include <cstring>
#include <string>

#include "capture.h"
#include "debug.h"
#include "progress.h"
#include "run_command.h"
#include "software_linux.h"
#include "sysroot.h"
#include "table.h"
#include "util_string.h"

namespace {

tool_lookup rpm_tool("rpm");

/// Text after "Key:" and one blank, at most max characters.
std::string value_after(const char* line, size_t prefix, size_t max) {
  const char* p = line + prefix;
  if (*p == ' ') ++p;
  std::string v(p);
  if (v.size() > max) v.resize(max);
  return v;
}

}  // namespace

bool rpm_record_reader::feed(const char* line) {
  if (done) {
    record = package_record();
    done = false;
  }
  if (strcmp(line, "---EOP---") == 0) {
    done = true;
    return true;
  }
  struct field {
    const char* prefix;
    std::string package_record::*member;
    size_t max;
  };
  static const field fields[] = {
      {"Name:", &package_record::name, std::string::npos},
      {"Vendor:", &package_record::vendor, 79},
      {"Version:", &package_record::version, std::string::npos},
      {"Description:", &package_record::description, 79},
      {"Group:", &package_record::group, 79},
      {"InstallDate:", &package_record::install_date, 15},
  };
  for (const field& f : fields) {
    size_t n = strlen(f.prefix);
    if (strncmp(line, f.prefix, n) == 0) {
      record.*(f.member) = value_after(line, n, f.max);
      return false;
    }
  }
  if (strncmp(line, "Size:", 5) == 0) {
    record.size = value_after(line, 5, 79) + " bytes";
    if (record.size.size() > 79) record.size.resize(79);
    return false;
  }
  printd("rpm: previous line not recognized\n");
  return false;
}

std::string rpm_query_command() {
  return "rpm --query --all --queryformat '"
         "Name: %{NAME}\\nVersion: %{VERSION}-%{RELEASE}\\nVendor: %{VENDOR}\\n"
         "Description: %{SUMMARY}\\nGroup: %{GROUP}\\nInstallDate: %{INSTALLTIME:day}\\n"
         "Size: %{SIZE}\\n---EOP---\\n' 2>&1";
}

// The rpm database of a system root cannot be read without handing rpm a
// path that may lead out of the root: under a root the table is left out.
bool rpm_packages_test() { return commands_describe_system() && rpm_tool.test(); }

void reset_rpm_tool() { rpm_tool = tool_lookup("rpm"); }

bool get_rpm_packages(FILE* out) {
  static const Column columns[] = {{"Name", STRING, 64},          {"Version", STRING, 32},
                                   {"Vendor", STRING, 64},        {"Description", STRING, 256},
                                   {"Group", STRING, 64},         {"Install Date", STRING, 16},
                                   {"Size", STRING, 16}};
  Table table(out, "RPM Packages", "PACKAGE");
  table.heading(columns);
  std::string command = rpm_query_command();
  printd("rpm: '%s'\n", command.c_str());
  FILE* pipe = command_open(command.c_str());
  if (!pipe) {
    print_error("rpm: popen", errno);
    return false;
  }
  rpm_record_reader reader;
  std::string line;
  int rows = 0;
  while (read_line(pipe, line, 64 * 1024)) {
    if (!reader.feed(line.c_str())) continue;
    const package_record& r = reader.record;
    table.start_row(r.name.c_str());
    for (const std::string* cell : {&r.name, &r.version, &r.vendor, &r.description, &r.group,
                                    &r.install_date, &r.size})
      table.log_data(cell->c_str());
    table.end_row();
    console_progress(++rows, "packages");
  }
  print_error("rpm: getline", errno);
  command_note_limit(out, pipe, "rpm");
  command_close(pipe);
  return rows > 0;
}
