// firmware_probe.cpp - the firmware table: BIOS from SMBIOS, embedded
// controller through SMAPI.
#include "firmware_probe.h"

#include "bios.h"
#include "date.h"
#include "dmi.h"
#include "table.h"

firmware_probe::firmware_probe(probe_group* group) : probe(group, "Firmware Probe", 3, 0x2F71) {
  customers = 0xFFEF;
}

bool firmware_probe::run(FILE* report) {
  Dmi* dmi = Dmi::get_instance();
  Table t(report, "Firmware Information");
  t.start_heading();
  t.add_column("Firmware", STRING);
  t.add_column("Version", STRING);
  t.add_column("Date", STRING);
  t.set_column_width(0, 20);
  t.set_column_width(1, 30);
  t.set_column_width(2, 15);
  t.end_heading();

  t.start_row("BIOS");
  t.log_data("System BIOS");
  t.log_data(dmi->get_bios_build());
  t.log_data(dmi->get_bios_date());
  t.end_row();

  char version[64];
  t.start_row("EC");
  t.log_data("Embedded Controller");
  t.log_data(smapi_get_h8_version(version, sizeof version));
  t.log_data(gathered_date());
  t.end_row();
  return true;
}
