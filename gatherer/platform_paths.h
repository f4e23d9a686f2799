// platform_paths.h - every platform path the program reads, in one table.
//
// Sources never spell these paths themselves: they name the constant and open
// it through sysroot.h, so a system root applies to every read.
#pragma once

namespace platform_path {
constexpr const char* dev_mem = "/dev/mem";
constexpr const char* proc_self_exe_fmt = "/proc/%d/exe";
// This process's own program file: about the running program, not the
// inventoried machine, so it is never prefixed with the system root.
constexpr const char* proc_self_exe = "/proc/self/exe";
// An outside command's own descriptors: how it names a file the program
// opened under the system root and handed to it. Never prefixed.
constexpr const char* command_fd_dir = "/dev/fd/";
constexpr const char* os_release = "/etc/os-release";
constexpr const char* usr_lib_os_release = "/usr/lib/os-release";
constexpr const char* debian_version = "/etc/debian_version";
constexpr const char* mandrake_release = "/etc/mandrake-release";
constexpr const char* redhat_release = "/etc/redhat-release";
constexpr const char* suse_release = "/etc/SuSE-release";
constexpr const char* turbolinux_release = "/etc/turbolinux-release";
constexpr const char* issue = "/etc/issue";
constexpr const char* utmp = "/var/run/utmp";
constexpr const char* wtmp = "/var/log/wtmp";
constexpr const char* smbios_entry_point = "/sys/firmware/dmi/tables/smbios_entry_point";
constexpr const char* smbios_table = "/sys/firmware/dmi/tables/DMI";
// PCI configuration access and device reports: the kernel's per-function
// configuration files, one directory per bus ("BB", or "DDDD:BB" outside
// domain 0), and its list of every function.
constexpr const char* proc_bus_pci = "/proc/bus/pci";
constexpr const char* proc_bus_pci_devices = "/proc/bus/pci/devices";
constexpr const char* proc_bus_pci_function_fmt = "/proc/bus/pci/%02x/%02x.%01x";
constexpr const char* proc_bus_pci_domain_function_fmt = "/proc/bus/pci/%04x:%02x/%02x.%01x";
constexpr const char* proc_bus_pci_bus_fmt = "/proc/bus/pci/%s";
// Processor, memory and SCSI probes: the kernel's memory counts, and the
// directory of the SCSI generic and class device nodes (the node names are
// built from it: sg0, sga, sda, sr0, ...).
// The process directories of a system root (its own /proc), one per id.
constexpr const char* proc_dir = "/proc";
constexpr const char* proc_pid_stat_fmt = "/proc/%d/stat";
constexpr const char* proc_pid_status_fmt = "/proc/%d/status";
// A system root's network as its kernel stated it (the running kernel's is
// asked over routing netlink instead).
constexpr const char* proc_net_dev = "/proc/net/dev";
constexpr const char* proc_net_if_inet6 = "/proc/net/if_inet6";
constexpr const char* proc_net_route = "/proc/net/route";
constexpr const char* proc_net_ipv6_route = "/proc/net/ipv6_route";
constexpr const char* sys_class_net = "/sys/class/net";
// A system root's time zone: its name, else the zone its link names.
constexpr const char* etc_timezone = "/etc/timezone";
constexpr const char* etc_localtime = "/etc/localtime";
constexpr const char* proc_meminfo = "/proc/meminfo";
// The microcode revision the kernel states per logical CPU.
constexpr const char* proc_cpuinfo = "/proc/cpuinfo";
constexpr const char* dev_dir = "/dev/";
// Network probe: the hosts file and the resolver configuration.
constexpr const char* etc_hosts = "/etc/hosts";
constexpr const char* etc_resolv_conf = "/etc/resolv.conf";
}  // namespace platform_path

// Users, schedules, kernel modules and resources probes.
namespace platform_path {
constexpr const char* etc_passwd = "/etc/passwd";
constexpr const char* etc_group = "/etc/group";
constexpr const char* etc_crontab = "/etc/crontab";
constexpr const char* etc_cron_d = "/etc/cron.d";
constexpr const char* cron_spool = "/var/spool/cron/crontabs";
constexpr const char* run_systemd_system = "/run/systemd/system";
constexpr const char* etc_modules_conf = "/etc/modules.conf";
constexpr const char* lib_modules = "/lib/modules";
constexpr const char* proc_modules = "/proc/modules";
constexpr const char* proc_kernel_osrelease = "/proc/sys/kernel/osrelease";
constexpr const char* proc_dma = "/proc/dma";
constexpr const char* proc_iomem = "/proc/iomem";
constexpr const char* proc_ioports = "/proc/ioports";
constexpr const char* proc_interrupts = "/proc/interrupts";
// Package probe: dpkg's database of installed packages, read under a root.
constexpr const char* dpkg_status = "/var/lib/dpkg/status";
// File scan and boot configuration probes.
constexpr const char* root_dir = "/";
constexpr const char* inittab = "/etc/inittab";
constexpr const char* grub_conf = "/boot/grub.conf";
constexpr const char* grub_grub_conf = "/boot/grub/grub.conf";
constexpr const char* grub_menu_lst = "/boot/menu.lst";
constexpr const char* grub_grub_menu_lst = "/boot/grub/menu.lst";
constexpr const char* grub_grub_cfg = "/boot/grub/grub.cfg";
constexpr const char* grub2_grub_cfg = "/boot/grub2/grub.cfg";
constexpr const char* boot_dir = "/boot";
constexpr const char* proc_cmdline = "/proc/cmdline";
constexpr const char* init_d_dir = "/etc/init.d";
constexpr const char* rc_d_dir_fmt = "/etc/rc%d.d";
// Locale, display and X configuration probes
constexpr const char* sysconfig_i18n = "/etc/sysconfig/i18n";
constexpr const char* sysconfig_language = "/etc/sysconfig/language";
constexpr const char* default_locale = "/etc/default/locale";
constexpr const char* locale_conf = "/etc/locale.conf";
// The locale source files, one per locale name (language_TERRITORY).
constexpr const char* i18n_locales_dir = "/usr/share/i18n/locales/";
constexpr const char* xorg_conf = "/etc/X11/xorg.conf";
constexpr const char* xfree86_config = "/etc/X11/XF86Config";
constexpr const char* xfree86_4_config = "/etc/X11/XF86Config-4";
// Storage probes: the mount table, the kernel's partitions, device nodes
constexpr const char* mtab = "/etc/mtab";
constexpr const char* proc_partitions = "/proc/partitions";
// System log probes
constexpr const char* var_log = "/var/log";
constexpr const char* var_log_messages = "/var/log/messages";
constexpr const char* var_log_boot = "/var/log/boot";
constexpr const char* var_log_boot_msg = "/var/log/boot.msg";
constexpr const char* var_log_boot_log = "/var/log/boot.log";
constexpr const char* var_log_journal = "/var/log/journal";
constexpr const char* run_log_journal = "/run/log/journal";
// OS identification: the kernel's identity as the captured machine gave it.
constexpr const char* kernel_ostype = "/proc/sys/kernel/ostype";
constexpr const char* kernel_osrelease = "/proc/sys/kernel/osrelease";
constexpr const char* kernel_version = "/proc/sys/kernel/version";
constexpr const char* kernel_hostname = "/proc/sys/kernel/hostname";
}  // namespace platform_path
