// run_command.h - external commands through the shell, read through a pipe.
//
// Commands never read the operator's terminal: their standard input is
// /dev/null, so a tool that prompts cannot stall the run or swallow the
// answers meant for the step prompt.
#pragma once

#include <cstdio>
#include <string>

/// Runs "/bin/sh -c command" with standard input from /dev/null and returns
/// its standard output as a stream for reading, or null with errno set.
/// Close it with command_close, never with fclose.
FILE* command_open(const char* command);

/// As command_open, with the command's standard input read from the platform
/// file `platform_path` opened under the system root (a regular file only),
/// instead of /dev/null. A command that filters a platform file is written as
/// "grep ..." with this input rather than "cat /etc/FILE | grep ...", so that a
/// run under a system root reads the captured file, never the live one.
/// Returns null with errno set when the file cannot be opened.
FILE* command_open_input(const char* command, const char* platform_path);

/// Closes a stream from command_open and waits for the command. Returns the
/// wait status (as waitpid gives it), or -1 with errno set.
int command_close(FILE* stream);

/// Quotes `s` as one shell word: the text between single quotes, each single
/// quote written as '\''. Null gives ''.
std::string shell_quote(const char* s);
