// firmware_probe.cpp - the "Firmware Information" table: the system BIOS as
// SMBIOS describes it and the embedded controller's version.
#include "firmware_probe.h"

#include "bios.h"
#include "dmi.h"
#include "table.h"

firmware_probe::firmware_probe(probe_group* group) : probe(group, "Firmware Probe", 3, 0x2F71) {
  customers = 0xFFEF;
}

bool firmware_probe::run(FILE* report) {
  static const Column columns[] = {{"Firmware", STRING, 20}, {"Version", STRING, 30}, {"Date", STRING, 15}};
  Table table(report, "Firmware Information");
  table.heading(columns);

  Dmi* dmi = Dmi::get_instance();
  table.write_row("BIOS", "System BIOS", dmi->get_bios_build(), dmi->get_bios_date());

  char ec_version[64];
  table.write_row("EC", "Embedded Controller", smapi_get_h8_version(ec_version, sizeof ec_version), "");
  return true;
}
