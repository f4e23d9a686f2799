// summary.cpp - the "SYSTEM SUMMARY" tables: who and what the machine is,
// and which operating system it runs.
#include "summary.h"

#include "bios.h"
#include "osinfo.h"
#include "sysinfo.h"
#include "table.h"

namespace {

const int platform_mask = 0x2F71;

// The BIOS version found in the BIOS segment, or "Unknown", as one cell.
void log_bios_version(Table& table) {
  char* version = get_bios_version();
  table.log_data(version ? version : "Unknown");
  delete[] version;
}

}  // namespace

sysinfo_probe::sysinfo_probe(probe_group* group) : probe(group, "System Summary", 1, platform_mask) {
  customers = 0xffe1;
}

bool sysinfo_probe::run(FILE* report) {
  summary_table(report);
  os_table(report);
  os_release_table(report);
  return true;
}

// The release as the system states it in os-release, beside the release
// files' view above; left out where the system has no os-release.
void sysinfo_probe::os_release_table(FILE* report) {
  os_release_info release;
  if (!read_os_release_info(release)) return;
  static const Column columns[] = {
      {"NAME", STRING, 24},      {"VERSION", STRING, 24},          {"ID", STRING, 10},
      {"VERSION_ID", STRING, 10}, {"VERSION_CODENAME", STRING, 16}, {"PRETTY_NAME", STRING, 32},
  };
  Table table(report, "Operating System Release");
  table.heading(columns);
  table.start_row("");
  for (const std::string* value : {&release.name, &release.version, &release.id, &release.version_id,
                                   &release.version_codename, &release.pretty_name})
    table.log_data(value->c_str());
  table.end_row();
}

void sysinfo_probe::summary_table(FILE* report) {
  static const Column columns[] = {
      {"Computer Name", STRING, 16, MASK_HOST},          {"System Vendor", ASCII_STRING, 16},
      {"System Model", ASCII_STRING, 16},     {"System Serial Number", ASCII_STRING, 16, MASK_SERIAL},
      {"BIOS Version", ASCII_STRING, 20},     {"Current User", STRING, 16, MASK_USER},
      {"UUID", ASCII_STRING, 32, MASK_UUID},
  };
  SysInfo* info = SysInfo::get();
  Table table(report, name);
  table.heading(columns);
  table.start_row("");
  table.log_data(info->NodeName());
  table.log_data(info->OEM());
  table.log_data(info->Model());
  table.log_data(info->Serial());
  log_bios_version(table);
  table.log_data(info->CurrentUser());
  table.log_data(info->UUID());
  table.end_row();
}

void sysinfo_probe::os_table(FILE* report) {
  static const Column columns[] = {
      {"Vendor", ASCII_STRING, 16}, {"Name", ASCII_STRING, 30},          {"Version", ASCII_STRING, 10},
      {"Build", ASCII_STRING, 5},   {"Service Level", ASCII_STRING, 20}, {"OS", ASCII_STRING, 10},
  };
  os_info* os = os_info::get_instance();
  char buffer[80];
  Table table(report, "Operating System");
  table.heading(columns);
  table.start_row("");
  table.log_data(os->get_vendor(buffer, sizeof buffer));
  table.log_data(os->get_name(buffer, sizeof buffer));
  table.log_data(os->get_version(buffer, sizeof buffer));
  table.log_data(os->get_build(buffer, sizeof buffer));
  table.log_data(os->get_service_level(buffer, sizeof buffer));
  table.log_data(os->get_platform_id(buffer, sizeof buffer));
  table.end_row();
}

old_sysinfo_probe::old_sysinfo_probe(probe_group* group)
    : probe(group, "System Summary", 1, platform_mask) {
  customers = 0x001e;
}

bool old_sysinfo_probe::run(FILE* report) {
  static const Column columns[] = {
      {"Computer Name", STRING, 255, MASK_HOST},        {"System Vendor", ASCII_STRING, 64},
      {"System Model", ASCII_STRING, 64},    {"System Serial Number", ASCII_STRING, 64, MASK_SERIAL},
      {"BIOS Version", ASCII_STRING, 64},    {"OS Vendor", ASCII_STRING, 255},
      {"OS Name", ASCII_STRING, 255},        {"OS Type", ASCII_STRING, 255},
      {"OS Version", ASCII_STRING, 255},     {"OS Build", ASCII_STRING, 255},
      {"OS CSD", ASCII_STRING, 128},         {"Current User", STRING, 255, MASK_USER},
  };
  SysInfo* info = SysInfo::get();
  Table table(report, "System Summary");
  table.heading(columns);
  table.start_row("");
  table.log_data(info->NodeName());
  table.log_data(info->OEM());
  table.log_data(info->Model());
  table.log_data(info->Serial());
  log_bios_version(table);
  table.log_data(info->OSOEM());
  table.log_data(info->OSName());
  table.log_data(info->OSType());
  table.log_data(info->OSVersion());
  table.log_data(info->OSBuild());
  table.log_data(info->OSCSD());
  table.log_data(info->CurrentUser());
  table.end_row();
  return true;
}
