// capture.h - recording a run ("-capture DIR") and replaying it ("-sysroot DIR").
//
// A capture is a normal run that also keeps, under DIR, what it read: each
// platform file opened through sysroot.h at its own path under DIR (the
// symbolic links met on the way as links), and the output and exit status of
// each outside command run through run_command.h, keyed by its command line.
// DIR/.zelvarn2-capture holds the manifest (host name, capture time, program
// version), the command recordings and the records of what no file holds:
// the kernel's routing netlink answers, the SCSI devices' answers, the
// physical-memory ranges read, the processor's CPUID registers and the sizes
// of the mounted file systems.
//
// Given as a system root, a capture is replayed: its files are read as any
// root's, a command with a recording is not run (its output and status are
// handed back) and a command without one is treated as absent (no output,
// the shell's status for a command not found). Recordings are data only:
// none is ever executed, and a damaged one, or one naming a tool the program
// does not run, refuses the whole replay.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>
#include <sys/statvfs.h>
#include <sys/types.h>

/// "-capture DIR": DIR must not exist or be an empty directory. Returns false
/// with the reason in `why` (nothing written) otherwise.
bool capture_set_dir(const char* dir, std::string* why);
/// Makes the directory of "-capture" and writes its manifest when the run
/// begins; false with the reason in `why` when it cannot (or lies under the
/// system root). True when the run does not capture.
bool capture_begin(std::string* why);
/// The directory given with "-capture" ("" when none).
const std::string& capture_dir();
/// True while the run records.
bool capture_active();
/// Stops recording and forgets the directory (for tests).
void capture_reset();

/// Records a platform path the run reached: `fd` is the descriptor opened for
/// it (-1 for a stat, access or link read), `follow_final` false when a final
/// link itself was asked about. Regular files are kept with their contents,
/// directories with their entries (empty stand-ins of the same size).
void capture_note_path(const char* platform_path, int fd, bool follow_final);

/// A recording of a command's output begins: returns its number, or -1 when
/// the run does not record. Its output is handed over with capture_command_data
/// as the caller reads it; capture_command_end keeps its wait status and limit.
int capture_command_begin(const char* command);
void capture_command_data(int id, const char* data, size_t size);
void capture_command_end(int id, int status, int limit);

/// Keeps a record of the capture's own under DIR/.zelvarn2-capture/NAME
/// (the processor's CPUID answers, say); false when the run does not record
/// or it cannot be written.
bool capture_keep_record(const char* name, const std::string& text);
/// Appends to the record NAME of the capture, made by this run at its first
/// piece (a record the run did not make is never written to); false when the
/// run does not record or it cannot be written.
bool capture_append_record(const char* name, const void* data, size_t size);
/// The platform path of such a record in the capture being replayed.
std::string replay_record_path(const char* name);
/// True when the capture being replayed holds the record NAME.
bool replay_has_record(const char* name);

/// Physical memory: a capture keeps each range the run read (its address,
/// length and bytes) in the record "memory", as a line "ADDRESS LENGTH"
/// (hexadecimal address, decimal length) followed by the bytes. A replay
/// answers a read lying inside one recorded range (true); false otherwise.
void capture_note_memory(unsigned long long address, const void* data, size_t length);
bool replay_memory(unsigned long long address, void* buffer, size_t length);
/// The line heading a recorded range, with its line feed, and its reading.
std::string capture_memory_line(unsigned long long address, size_t length);
bool capture_parse_memory_line(const std::string& line, unsigned long long* address, size_t* length);

/// After a system root is set: when it is a capture, loads its manifest and
/// command recordings. False, with the reason in `why`, when the capture is
/// damaged or names a tool the program does not run.
bool replay_load(std::string* why);
/// True when the system root is a capture being replayed.
bool replay_active();
/// True when outside commands describe the system being reported: on the
/// running machine, or in a replay, where the capture's recordings answer.
/// Under any other system root a tool would describe the running machine.
bool commands_describe_system();
/// A table the system root cannot answer for (it is left out): the console
/// line of the probe and the debug log say "not available under a system root".
void note_not_under_root(const char* what);
/// The name of user or group `id` in the system root's account file
/// (platform_path::etc_passwd or etc_group); "" when it names none.
std::string root_account_name(const char* platform_path, unsigned long id);
/// The capture's host name and capture time (seconds since 1970).
const std::string& replay_host();
time_t replay_time();
/// The recording of `command`: a descriptor of its output (-1 when it wrote
/// none), its wait status and the limit it hit. False when there is none.
bool replay_command(const char* command, int* fd, int* status, int* limit);
/// True when the capture being replayed holds a recording of `command`.
bool replay_has_command(const char* command);
/// One line of the command index, "NUMBER STATUS LIMIT COMMAND" without its
/// line feed; in COMMAND a backslash is written as two and a control
/// character as a backslash, "x" and two hex digits. False unless every
/// field is whole and valid.
bool capture_parse_index_line(const std::string& line, int* id, int* status, int* limit, std::string* command);
/// The index line of a recording, with its line feed.
std::string capture_index_line(int id, int status, int limit, const std::string& command);
/// A mounted file system's sizes: kept by a capture (capture_note_space) and
/// handed back by its replay (replay_space, false when none was recorded).
/// A line of DIR/.zelvarn2-capture/statvfs holds the ten numbers of a
/// statvfs result and the mount point, escaped as a command is.
void capture_note_space(const char* mount, const struct statvfs& st);
bool replay_space(const char* mount, struct statvfs* st);
std::string capture_space_line(const std::string& mount, const struct statvfs& st);
bool capture_parse_space_line(const std::string& line, std::string* mount, struct statvfs* st);
/// True when `command` runs a tool the program runs (what a recording may name).
bool capture_known_command(const char* command);

/// What belongs to the running program rather than to its files is kept by
/// a capture in records of lines of fields: "environment" (its variables,
/// one field "NAME=value"), "user" (the user running it: name, user id,
/// group id), "locale" (the locale table's rows: setting, locale, language,
/// country, code set) and "uname" (the kernel's identity as the system call
/// gives it: system, release, version, host name, machine). A replay hands
/// them back, and a capture of a replay keeps them again; a capture of any
/// other system root keeps no "environment", "user" or "uname", which would
/// be the running machine's. A field is escaped as a command is, and fields
/// are separated by a tab.
std::string capture_record_line(const std::vector<std::string>& fields);
/// One line of such a record without its line feed: false unless it holds
/// exactly `count` fields, each validly escaped.
bool capture_parse_record_line(const std::string& line, size_t count, std::vector<std::string>* fields);
/// Keeps record NAME made of `lines` (once a run: the first one kept stands);
/// false when the run does not record.
bool capture_keep_lines(const char* name, const std::vector<std::vector<std::string>>& lines);
/// The lines of record NAME in the capture being replayed (checked whole by
/// replay_load); nullptr when it holds none or no capture is replayed.
const std::vector<std::vector<std::string>>* replay_lines(const char* name);

/// `name` when it is a time zone's name ("Europe/Berlin"), never a path or
/// a rule text; else "".
std::string zone_name(const std::string& name);
/// The system root's zone name: its /etc/timezone, else the zone its
/// /etc/localtime link names; "" when it states none usable.
std::string root_zone_name();
/// In a replay of a capture of the running machine, the zone its run's local
/// times were in: the TZ of its recorded variables (when that names a zone;
/// "" when it names none), else the root's zone. "" in any other run.
std::string replay_zone();
