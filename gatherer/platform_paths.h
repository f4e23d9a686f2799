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
// Locale, display and X configuration probes
constexpr const char* sysconfig_i18n = "/etc/sysconfig/i18n";
constexpr const char* sysconfig_language = "/etc/sysconfig/language";
constexpr const char* xorg_conf = "/etc/X11/xorg.conf";
constexpr const char* xfree86_config = "/etc/X11/XF86Config";
constexpr const char* xfree86_4_config = "/etc/X11/XF86Config-4";
// Storage probes: the mount table, the kernel's partitions, device nodes
constexpr const char* mtab = "/etc/mtab";
constexpr const char* proc_partitions = "/proc/partitions";
constexpr const char* dev_dir = "/dev";
// System log probes
constexpr const char* var_log = "/var/log";
constexpr const char* var_log_messages = "/var/log/messages";
constexpr const char* var_log_boot = "/var/log/boot";
constexpr const char* var_log_boot_msg = "/var/log/boot.msg";
constexpr const char* var_log_boot_log = "/var/log/boot.log";
}  // namespace platform_path
