// summary.cpp - the system summary tables: the machine's identity, its
// BIOS version and its operating system.
#include "summary.h"

#include <initializer_list>
#include <memory>

#include "bios.h"
#include "osinfo.h"
#include "sysinfo.h"
#include "table.h"

namespace {

struct column {
  const char* name;
  datatype type;
  int width;
};

void heading(Table& t, std::initializer_list<column> columns) {
  t.start_heading();
  int n = 0;
  for (const column& c : columns) {
    t.add_column(c.name, c.type);
    t.set_column_width(n++, c.width);
  }
  t.end_heading();
}

/// The BIOS version text of the BIOS segment, or "Unknown".
std::string bios_version() {
  std::unique_ptr<char[]> found(get_bios_version());
  return found ? found.get() : "Unknown";
}

}  // namespace

sysinfo_probe::sysinfo_probe(probe_group* group) : probe(group, "System Summary", 1, 0x2F71) {
  customers = 0xFFE1;
}

bool sysinfo_probe::run(FILE* report) {
  summary_table(report);
  os_table(report);
  return true;
}

void sysinfo_probe::summary_table(FILE* report) {
  SysInfo* info = SysInfo::get_instance();
  Table t(report, name);
  heading(t, {{"Computer Name", STRING, 16}, {"System Vendor", ASCII_STRING, 16},
              {"System Model", ASCII_STRING, 16}, {"System Serial Number", ASCII_STRING, 16},
              {"BIOS Version", ASCII_STRING, 20}, {"Current User", STRING, 16}, {"UUID", ASCII_STRING, 32}});
  t.start_row("");
  t.log_data(info->NodeName());
  t.log_data(info->OEM());
  t.log_data(info->Model());
  t.log_data(info->Serial());
  t.log_data(bios_version().c_str());
  t.log_data(info->CurrentUser());
  t.log_data(info->UUID());
  t.end_row();
}

void sysinfo_probe::os_table(FILE* report) {
  os_info* os = os_info::get_instance();
  Table t(report, "Operating System");
  heading(t, {{"Vendor", ASCII_STRING, 16}, {"Name", ASCII_STRING, 30}, {"Version", ASCII_STRING, 10},
              {"Build", ASCII_STRING, 5}, {"Service Level", ASCII_STRING, 20}, {"OS", ASCII_STRING, 10}});
  char buffer[80];
  t.start_row("");
  t.log_data(os->get_vendor(buffer, sizeof buffer));
  t.log_data(os->get_name(buffer, sizeof buffer));
  t.log_data(os->get_version(buffer, sizeof buffer));
  t.log_data(os->get_build(buffer, sizeof buffer));
  t.log_data(os->get_service_level(buffer, sizeof buffer));
  t.log_data(os->get_platform_id(buffer, sizeof buffer));
  t.end_row();
}

old_sysinfo_probe::old_sysinfo_probe(probe_group* group) : probe(group, "System Summary", 1, 0x2F71) {
  customers = 0x001E;
}

bool old_sysinfo_probe::run(FILE* report) {
  SysInfo* info = SysInfo::get_instance();
  Table t(report, "System Summary");
  heading(t, {{"Computer Name", STRING, 255}, {"System Vendor", ASCII_STRING, 64},
              {"System Model", ASCII_STRING, 64}, {"System Serial Number", ASCII_STRING, 64},
              {"BIOS Version", ASCII_STRING, 64}, {"OS Vendor", ASCII_STRING, 255},
              {"OS Name", ASCII_STRING, 255}, {"OS Type", ASCII_STRING, 255}, {"OS Version", ASCII_STRING, 255},
              {"OS Build", ASCII_STRING, 255}, {"OS CSD", ASCII_STRING, 128}, {"Current User", STRING, 255}});
  t.start_row("");
  for (const char* value : {info->NodeName(), info->OEM(), info->Model(), info->Serial()}) t.log_data(value);
  t.log_data(bios_version().c_str());
  for (const char* value : {info->OSOEM(), info->OSName(), info->OSType(), info->OSVersion(), info->OSBuild(),
                            info->OSCSD(), info->CurrentUser()})
    t.log_data(value);
  t.end_row();
  return true;
}
