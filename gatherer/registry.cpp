// registry.cpp - constructs every task, probe group and probe of the system.
//
// The registry keeps tasks sorted by order and, for equal orders, in the order
// they are made here, so the rows below are the run order: one statement per
// task, a group's member probes right after the group, in member order. The
// objects live for the whole process.
#include "browser.h"
#include "display_linux.h"
#include "dmi_info.h"
#include "file_task.h"
#include "firmware_probe.h"
#include "fs_linux.h"
#include "gatherer_probe.h"
#include "gthfile_task.h"
#include "postbox_task.h"
#include "platform_paths.h"
#include "probe.h"
#include "regional_linux.h"
#include "summary.h"
#include "task.h"
#include "tz_info.h"

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
  /* 14 */ new gatherer_probe();            // "GATHERER INFORMATION"
  /* 15 */ new timezone_probe("TIME ZONE", 0xFFEF);
  /* 15 */ new timezone_probe("Time Zone Info", 0x0010);
  /* 16 */ probe_group* partitions = new probe_group("Partition Information", 16, "Partition Information");
  /*    */ new disk_probe(partitions);      // "Mounted Filesystems"
  /*    */ new partition_probe(partitions); // "Partition Information"
  /* 16 */ probe_group* firmware = new probe_group("Firmware Information", 16, "Firmware Information");
  /*    */ new firmware_probe(firmware);    // "Firmware Probe"
  /* 16 */ probe_group* display = new probe_group("Display Information", 16, "Display Information");
  /*    */ new display_probe(display);      // "Display Settings"
  /*    */ new file_probe(display, "XOrg Configuration", 4, 0x0001, platform_path::xorg_conf, 0xFFEF);
  /*    */ new file_probe(display, "XFree86 Configuration", 4, 0x0001, platform_path::xfree86_config, 0xFFEF);
  /*    */ new file_probe(display, "XFree86-4 Configuration", 4, 0x0001, platform_path::xfree86_4_config,
                         0xFFEF);
  /* 16 */ probe_group* browsers = new probe_group("BROWSER INFORMATION", 16, "BROWSER INFORMATION");
  /*    */ new browser_probe(browsers);     // "Browser Probe"
  /* 16 */ new smbios_probe("SMBIOS INFORMATION", 0xFFEF);
  /* 16 */ new smbios_probe("SMBIOS INFO", 0x10);
  /* 16 */ new locale_probe();              // "REGIONAL SETTINGS"
  /* 17 */ probe_group* logs = new probe_group("System Logs", 17, "System Logs");
  /*    */ new syslog_probe(logs, "System Log", platform_path::var_log_messages, syslog_probe::ALL_MESSAGES);
  /*    */ new syslog_probe(logs, "Kernel Log", platform_path::var_log_messages, syslog_probe::KERNEL_MESSAGES);
  /*    */ new syslog_probe(logs, platform_path::var_log_boot, platform_path::var_log_boot, syslog_probe::SINGLE_FILE);
  /*    */ new syslog_probe(logs, platform_path::var_log_boot_msg, platform_path::var_log_boot_msg,
                           syslog_probe::SINGLE_FILE);
  /*    */ new syslog_probe(logs, platform_path::var_log_boot_log, platform_path::var_log_boot_log,
                           syslog_probe::SINGLE_FILE);
  /* 18 */ new postbox_task();              // "Gathering plug-in output files"
  /* 22 */ new probe_list_task();           // "List Probes"
  /* 26 */ new gthfile_task("Close Gatherer File", 26);
}
