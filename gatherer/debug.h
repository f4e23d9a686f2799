// debug.h - the debug log: the program's single trace channel.
//
// Off by default (a trace then costs one flag test). In file mode every message
// is written through a freshly opened, synchronously written descriptor and
// closed again, so the log is complete on disk even if the process dies in the
// next instruction. In stream mode one handle stays open for the whole run.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cwchar>

#define ZV_PRINTF(f, a) __attribute__((format(printf, f, a)))

/// Name of the debug log in the current directory.
extern const char* const DEBUG_LOG_NAME;  // "gatherer.log"

void enable_log_to_file(const char* name);
void enable_append_log_to_file(const char* name);
void disable_log_to_file();
void enable_log_to_stream(const char* path);
void enable_log_to_stream(FILE* handle);
void disable_log_to_stream();
/// True when any destination (file or stream) is on.
bool debug_log_enabled();
/// The name of the debug log file while the run logs to one, else null
/// (outside commands write their error output there).
const char* debug_log_file_name();

int printd(const char* format, ...) ZV_PRINTF(1, 2);
int printdW(const wchar_t* format, ...);
int printd_noflush(const char* format, ...) ZV_PRINTF(1, 2);
int vprintd_noflush(const char* format, va_list args);
int printd_noflushW(const wchar_t* format, ...);
int vprintd_noflushW(const wchar_t* format, va_list args);
int print_with_time(const char* format, ...) ZV_PRINTF(1, 2);
int print_with_timeW(const wchar_t* format, ...);
/// "%s (%d): %s\n" with what, the error number and the system's text for it.
int print_error(const char* what, int errnum);

void print_hexdump(const char* title, const void* data, int length, const char* prefix,
                   bool c_style = false);
void print_worddump(const char* title, const unsigned short* words, int count,
                    const char* prefix, bool c_style = false);

void open_log_file();
void truncate_log_file();
void close_and_flush_log_file();

/// Reports to the log and to standard error, then aborts the process.
[[noreturn]] void internal_error(const char* format, ...) ZV_PRINTF(1, 2);
/// Ends the process after a fatal error: removes the run's temporary files
/// (and the container still being written) and exits with status 1.
[[noreturn]] void stop_after_fatal_error();

void timer_reset(const char* name);
void timer_mark(const char* name);
