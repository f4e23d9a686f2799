// registry.cpp - constructs every task, probe group and probe of the system.
//
// The registry keeps tasks sorted by order and, for equal orders, in the order
// they are made here, so the rows below are the run order: one statement per
// task, a group's member probes right after the group, in member order. The
// objects live for the whole process.
#include "boot_linux.h"
#include "browser.h"
#include "cpu.h"
#include "display_linux.h"
#include "dmi_info.h"
#include "environment_linux.h"
#include "file_task.h"
#include "filescan_probe.h"
#include "firmware_probe.h"
#include "fs_linux.h"
#include "gatherer_probe.h"
#include "gthfile_task.h"
#include "memory_probe.h"
#include "modules_linux.h"
#include "net_probe.h"
#include "pci_probe.h"
#include "platform_paths.h"
#include "postbox_task.h"
#include "probe.h"
#include "ps_probe.h"
#include "regional_linux.h"
#include "resources_linux.h"
#include "schedule_linux.h"
#include "scsi_probe.h"
#include "software_linux.h"
#include "summary.h"
#include "task.h"
#include "tz_info.h"
#include "users_linux.h"

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
  /* 16 */ probe_group* security = new probe_group("Workstation Security", 16, "Workstation Security");
  /*    */ new passwd_probe(security);      // "Users"
  /* 16 */ probe_group* scsi = new probe_group("SCSI Devices", 16, "SCSI Devices");
  /*    */ new scsi_table(scsi);             // "SCSI PROBE"
  /*    */ new optical_table(scsi);          // "OPTICAL PROBE"
  /*    */ new optical_table_uc2(scsi);      // "OPTICAL PROBE 2"
  /* 16 */ probe_group* schedules = new probe_group("Scheduled Tasks", 16, "Scheduled Tasks");
  /*    */ new crontab_probe(schedules);    // "Crontab"
  /* 16 */ probe_group* resources = new probe_group("Resource Information", 16, "Resource Information");
  /*    */ new dma_probe(resources);        // "Memory Mapped I/O"
  /*    */ new iomem_probe(resources);      // "Memory Mapped I/O"
  /*    */ new ioports_probe(resources);    // "I/O Ports"
  /*    */ new interrupts_probe(resources); // "Interrupts"
  /* 16 */ probe_group* processes = new probe_group("Processes", 16, "Processes");
  /*    */ new ps_probe(processes);         // "ps probe"
  /* 16 */ new pci_probe();                 // "PCI DEVICES"
  /* 16 */ new pci_adapter_probe();         // "PCI ADAPTER INFORMATION"
  /* 16 */ new packages_probe();            // "Installed Software"
  /* 16 */ probe_group* network = new probe_group("NETWORK", 16, "NETWORK");
  /*    */ new net_probe(network);         // "NETWORK"
  /*    */ new hosts_probe(network);       // "Hosts"
  /*    */ new resolv_probe(network);      // "Resolver Configuration"
  /* 16 */ probe_group* drivers = new probe_group("Device Driver Information", 16, "Device Driver Information");
  /*    */ new modules_probe(drivers);        // "Kernel Modules"
  /*    */ new loaded_modules_probe(drivers); // "Loaded Modules"
  /*    */ new file_probe(drivers, "Modules Configuration", 3, 0x0001, platform_path::etc_modules_conf, 0xFFEF);
  /* 16 */ probe_group* memory = new memory_group();                 // "MEMORY INFORMATION"
  /*    */ new memory_probe(memory, 0x2F70, 0xFFEF);  // "Memory Probe", other platforms
  /*    */ new memory_probe(memory, 0x0001, 0xFFFF);  // "Memory Probe"
  /* 16 */ probe_group* partitions = new probe_group("Partition Information", 16, "Partition Information");
  /*    */ new disk_probe(partitions);      // "Mounted Filesystems"
  /*    */ new partition_probe(partitions); // "Partition Information"
  /* 16 */ probe_group* firmware = new probe_group("Firmware Information", 16, "Firmware Information");
  /*    */ new firmware_probe(firmware);    // "Firmware Probe"
  /* 16 */ new filescan_probe();            // "FILESCAN"
  /* 16 */ new environment_probe();         // "ENVIRONMENT"
  /* 16 */ probe_group* display = new probe_group("Display Information", 16, "Display Information");
  /*    */ new display_probe(display);      // "Display Settings"
  /*    */ new file_probe(display, "XOrg Configuration", 4, 0x0001, platform_path::xorg_conf, 0xFFEF);
  /*    */ new file_probe(display, "XFree86 Configuration", 4, 0x0001, platform_path::xfree86_config, 0xFFEF);
  /*    */ new file_probe(display, "XFree86-4 Configuration", 4, 0x0001, platform_path::xfree86_4_config,
                         0xFFEF);
  /* 16 */ new cpu_probe();                 // "CPU Information"
  /* 16 */ probe_group* browsers = new probe_group("BROWSER INFORMATION", 16, "BROWSER INFORMATION");
  /*    */ new browser_probe(browsers);     // "Browser Probe"
  /* 16 */ make_startup_group();            // "Linux Startup Information": INIT Configuration,
  /*    */                                  // GRUB configuration, Current boot properties,
  /*    */                                  // Startup services
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
