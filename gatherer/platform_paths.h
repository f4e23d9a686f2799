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
// OS identification: the kernel's identity as the captured machine gave it.
constexpr const char* kernel_ostype = "/proc/sys/kernel/ostype";
constexpr const char* kernel_osrelease = "/proc/sys/kernel/osrelease";
constexpr const char* kernel_version = "/proc/sys/kernel/version";
constexpr const char* kernel_hostname = "/proc/sys/kernel/hostname";
}  // namespace platform_path
