// registry.cpp - constructs every task, probe group and probe of the system.
//
// The registry keeps tasks sorted by order and, for equal orders, in the order
// they are made here, so the rows below are the run order: one statement per
// task, a group's member probes right after the group, in member order. The
// objects live for the whole process.
#include "boot_linux.h"
#include "dmi_info.h"
#include "file_task.h"
#include "filescan_probe.h"
#include "firmware_probe.h"
#include "gthfile_task.h"
#include "postbox_task.h"
#include "probe.h"
#include "summary.h"
#include "task.h"

void register_tasks() {
  static bool registered = false;
  if (registered) return;
  registered = true;

  // order  task
  /*  8 */ new xml_output_file_task("Create XML Output File", 8);
  /* 25 */ new xml_output_file_task("Close XML Output File", 25);
  /*  8 */ new stdout_output_task("Output to stdout", 8);
  /*  8 */ new txt_output_file_task("Create Text Output File", 8);
  /* 25 */ new txt_output_file_task("Close Text Output File", 25);
  /*  8 */ new html_output_file_task("Create HTML Output File", 8);
  /* 25 */ new html_output_file_task("Close HTML Output File", 25);
  /*  9 */ new gthfile_task("Create Gatherer File", 9);
  /* 10 */ new gthfile_task("Open Gatherer File", 10);
  /* 13 */ probe_group* summary = new probe_group("SYSTEM SUMMARY", 13, "SYSTEM SUMMARY");
  /*    */ new sysinfo_probe(summary);      // "System Summary"
  /*    */ new old_sysinfo_probe(summary);  // "System Summary"
  /* 16 */ probe_group* firmware = new probe_group("Firmware Information", 16, "Firmware Information");
  /*    */ new firmware_probe(firmware);    // "Firmware Probe"
  /* 16 */ new filescan_probe();            // "FILESCAN"
  /* 16 */ make_startup_group();            // "Linux Startup Information": INIT Configuration,
  /*    */                                  // GRUB configuration, Current boot properties,
  /*    */                                  // Startup services
  /* 16 */ new smbios_probe("SMBIOS INFORMATION", 0xFFEF);
  /* 16 */ new smbios_probe("SMBIOS INFO", 0x10);
  /* 18 */ new postbox_task();              // "Gathering plug-in output files"
  /* 22 */ new probe_list_task();           // "List Probes"
  /* 26 */ new gthfile_task("Close Gatherer File", 26);
}
