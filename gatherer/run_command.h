// run_command.h - external commands through the shell, read through a pipe.
//
// Commands never read the operator's terminal: their standard input is
// /dev/null, so a tool that prompts cannot stall the run or swallow the
// answers meant for the step prompt.
//
// No command can stall the run: each one has a time limit and an output
// bound. The command runs in a process group of its own; when its time is up
// the stream reads as ended, and when its output passes the bound reading
// stops after the last whole line within it. Either way the group is ended
// when the stream is closed, whatever the caller read so far stays valid, and
// the debug log names the command.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "sysroot.h"

/// Runs "/bin/sh -c command" with standard input from /dev/null and returns
/// its standard output as a stream for reading, or null with errno set.
/// Close it with command_close, never with fclose. The stream reads through
/// the limits, so it has no descriptor of its own (fileno gives -1).
FILE* command_open(const char* command);

/// As command_open, with the command's standard input read from the platform
/// file `platform_path` opened under the system root (a regular file only),
/// instead of /dev/null. A command that filters a platform file is written as
/// "grep ..." with this input rather than "cat /etc/FILE | grep ...", so that a
/// run under a system root reads the captured file, never the live one.
/// Returns null with errno set when the file cannot be opened.
FILE* command_open_input(const char* command, const char* platform_path);

/// As command_open, with each platform file of `platform_paths` opened under
/// the system root by the program and handed to the command as descriptor 3,
/// 4, ...: the command names the file by command_file_arg(i), never by a
/// path, so no link in the tree can make it read a file of the live machine.
/// Only nodes of `kinds` are opened (sys_open_kind), and never a file of the
/// process file system, whose reading may wait forever (a kernel message
/// queue). Returns null with errno set when one cannot be opened.
FILE* command_open_files(const char* command, const std::vector<std::string>& platform_paths,
                         unsigned kinds = SYS_REGULAR);
/// The text naming the i-th file of command_open_files in the command.
std::string command_file_arg(size_t index);
/// As command_open, with the command's working directory the platform
/// directory `platform_dir`, opened under the system root; the command then
/// names what it reads by relative paths.
FILE* command_open_in_dir(const char* command, const char* platform_dir);

/// Closes a stream from command_open and waits for the command. Returns the
/// wait status (as waitpid gives it), or -1 with errno set. A command whose
/// limit was hit, or that is still running when its time is up, has its
/// whole process group killed first.
int command_close(FILE* stream);

/// Kills the whole process group of every command still running. Only
/// async-signal-safe calls: the handler of a signal that ends the run calls
/// it, so that nothing the run started outlives it.
void command_kill_running();

/// Why reading a command's output stopped early.
enum command_limit {
  COMMAND_COMPLETE = 0,   ///< the output ended by itself
  COMMAND_TIMED_OUT = 1,  ///< the time limit expired
  COMMAND_OUTPUT_CUT = 2  ///< the output passed the bound
};

/// The limit a still-open command stream has hit (COMPLETE when none, or
/// when the stream is not a command's).
command_limit command_limit_hit(FILE* stream);
/// The limit hit by the command closed last (COMPLETE when none).
command_limit command_last_limit();
/// "timed out", "output cut" or "" for COMPLETE.
const char* command_limit_text(command_limit limit);

/// The time limit of every command started from now on, in seconds (at least
/// 1; default 120), and the output bound in bytes (default 64 MiB).
void command_set_time_limit(int seconds);
int command_time_limit();
void command_set_output_limit(long long bytes);
long long command_output_limit();

/// When the command of `stream` hit a limit: says so on the console line of
/// the running task ("<tool> timed out ") and writes the table "Command
/// Status" (Command, Status) into the report after the probe's table.
/// Call before command_close. Returns the limit.
///
/// A command closed with a limit hit that no caller noted this way is noted
/// all the same: command_close says so on the console line (the tool being
/// the command's first word) and keeps its row, which end_section writes
/// into the report as a "Command Status" table before the section closes.
command_limit command_note_limit(FILE* report, FILE* stream, const char* tool);
/// The limit the command of `stream` hit, which its caller takes over to
/// report in its own time (command_close then says nothing of it).
command_limit command_take_limit(FILE* stream);
/// Says on the console line of the running task that `tool` hit `limit`
/// and keeps its row for the "Command Status" table that end_section writes.
void command_report_limit(const char* tool, command_limit limit);
/// Writes the rows kept by command_close as one "Command Status" table into
/// `report` (when not null) and forgets them.
void command_write_pending(FILE* report);

/// Quotes `s` as one shell word: the text between single quotes, each single
/// quote written as '\''. Null gives ''.
std::string shell_quote(const char* s);
