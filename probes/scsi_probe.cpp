// scsi_probe.cpp - the "SCSI Devices" and "Optical Drive Capabilities" tables.
#include "scsi_probe.h"

#include "debug.h"
#include "scsi.h"
#include "table.h"
#include "util_string.h"

namespace {

/// Holds the shared scan for the life of a probe call.
class scan_use {
 public:
  scan_use() : scan(scsi_probe::open()) {}
  ~scan_use() { scsi_probe::close(); }
  scsi_probe* operator->() const { return scan; }

 private:
  scsi_probe* scan;
};

char* row_key(scsi_probe* s, char* buf, int size) {
  return format_string(buf, size, "SCSI-HOST-%d-CH-%d-ID-%d-LUN-%d", s->get_host(), s->get_channel(),
                       s->get_target(), s->get_lun());
}

}  // namespace

scsi_table::scsi_table(probe_group* group) : probe(group, "SCSI PROBE", 3, 0x2F71) { customers = 0xFFF1; }

bool scsi_table::test() {
  scan_use scan;
  return scsi_probe::found_devices();
}

bool scsi_table::run(FILE* report) {
  scan_use scan;
  static const Column columns[] = {
      {"Device", ASCII_STRING, 16}, {"Vendor", ASCII_STRING, 8}, {"Model", ASCII_STRING, 16},
      {"Revision", ASCII_STRING, 4}, {"Type", ASCII_STRING, 16}, {"Host", INTEGER},
      {"Channel", INTEGER},         {"Target", INTEGER},        {"LUN", INTEGER},
      {"Serial Number", ASCII_STRING, 16, MASK_SERIAL},          {"Capacity", ASCII_STRING, 12}};
  Table table(report, "SCSI Devices", "DEVICE");
  table.heading(columns);
  char text[256];
  for (bool more = scan->get_first(); more; more = scan->get_next()) {
    table.start_row(row_key(scan.operator->(), text, sizeof text));
    table.log_data(scan->get_device_name(text, sizeof text));
    table.log_data(scan->get_vendor(text, sizeof text));
    table.log_data(scan->get_model(text, sizeof text));
    table.log_data(scan->get_revision(text, sizeof text));
    table.log_data(scan->get_type(text, sizeof text));
    table.log_data(scan->get_host());
    table.log_data(scan->get_channel());
    table.log_data(scan->get_target());
    table.log_data(scan->get_lun());
    table.log_data(scan->get_serial(text, sizeof text));
    table.log_data(scan->get_capacity(text, sizeof text));
    table.end_row();
  }
  return scan->get_device_count() > 0;
}

optical_table::optical_table(probe_group* group) : optical_table(group, "OPTICAL PROBE", 0xFFD1) {}

optical_table::optical_table(probe_group* group, const char* probe_name, int probe_customers)
    : probe(group, probe_name, 5, 0x2F70) {
  customers = probe_customers;
}

bool optical_table::test() {
  scan_use scan;
  return scan->get_optical_drive_count() > 0;
}

bool optical_table::run(FILE* report) {
  scan_use scan;
  static const Column columns[] = {{"Vendor", ASCII_STRING}, {"Model", ASCII_STRING}, {"CD-R", ASCII_STRING},
                                   {"CD-RW", ASCII_STRING},  {"DVD-ROM", ASCII_STRING}, {"DVD-R", ASCII_STRING},
                                   {"DVD-RAM", ASCII_STRING}};
  Table table(report, "Optical Drive Capabilities", "DEVICE");
  table.heading(columns);
  typedef char* (scsi_probe::*ability_text)(char*, int);
  static const ability_text abilities[] = {
      &scsi_probe::get_optical_cdr_capability, &scsi_probe::get_optical_cdrw_capability,
      &scsi_probe::get_optical_dvdrom_capability, &scsi_probe::get_optical_dvdr_capability,
      &scsi_probe::get_optical_dvdram_capability};
  char text[256];
  int rows = 0;
  for (bool more = scan->get_first(); more; more = scan->get_next()) {
    if (scan->read_optical_drive_capabilities() != 0) continue;
    table.start_row(row_key(scan.operator->(), text, sizeof text));
    table.log_data(scan->get_vendor(text, sizeof text));
    table.log_data(scan->get_model(text, sizeof text));
    for (ability_text a : abilities) table.log_data((scan.operator->()->*a)(text, sizeof text));
    table.end_row();
    ++rows;
  }
  return rows > 0;
}

optical_table_uc2::optical_table_uc2(probe_group* group) : optical_table(group, "OPTICAL PROBE 2", 0x10020) {}

bool optical_table_uc2::run(FILE* report) {
  scan_use scan;
  unsigned all = 0;
  for (bool more = scan->get_first(); more; more = scan->get_next()) {
    int rc2 = scan->read_optical_drive_capabilities();
    printd("scsi: rc2 = %d\n", rc2);
    if (rc2 == 0) all |= scan->get_optical_drive_capabilities();
  }
  printd("scsi: odcap = %04x\n", all);
  static const struct {
    unsigned bit;
    const char* text;
  } abilities[] = {{OPTICAL_CDR_READ, "CDRread"},       {OPTICAL_CDR_WRITE, "CDRwrite"},
                   {OPTICAL_CDRW_READ, "CDRWread"},     {OPTICAL_CDRW_WRITE, "CDRWwrite"},
                   {OPTICAL_DVDROM_READ, "DVDROMread"}, {OPTICAL_DVDR_READ, "DVDRread"},
                   {OPTICAL_DVDR_WRITE, "DVDRwrite"},   {OPTICAL_DVDRAM_READ, "DVDRAMread"},
                   {OPTICAL_DVDRAM_WRITE, "DVDRAMwrite"}};
  Table table(report, "Optical Drive Capabilities");
  // A table without columns cannot be rendered: with no ability at all the
  // table stays empty.
  if (all == 0) return true;
  Column columns[sizeof abilities / sizeof *abilities];
  size_t count = 0;
  for (const auto& a : abilities)
    if (all & a.bit) columns[count++] = {"CAPABILITY", ASCII_STRING};
  table.heading(columns, count);
  table.start_row("");
  for (const auto& a : abilities)
    if (all & a.bit) table.log_data(a.text);
  table.end_row();
  return true;
}
