// debug.cpp - the debug log: per-message synchronous file writes or one open stream.
#include "debug.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

#include "clock.h"
#include "mask.h"
#include "run_command.h"
#include "safe_file.h"
#include "temp_files.h"

const char* const DEBUG_LOG_NAME = "gatherer.log";

namespace {

const char* const CANNOT_COMPLETE = "\n\nAN INTERNAL ERROR OCCURRED -- THE PROGRAM CANNOT COMPLETE\n";
const char* const LOG_OPEN_FAILED = "Unable to open debug log: %s\n";

bool log_to_file = false;
char log_filename[4096];
FILE* log_file = nullptr;  // open only while one message is written
bool log_to_stream = false;
FILE* log_stream = nullptr;
bool at_line_start = true;
bool at_line_startW = true;
time_t timer = 0;

/// Keeps errno across a trace call, so logging a failure never changes it.
struct errno_keeper {
  int saved = errno;
  ~errno_keeper() { errno = saved; }
};

bool ends_with_newline(const char* format) {
  size_t n = format ? strlen(format) : 0;
  return n > 0 && format[n - 1] == '\n';
}

bool ends_with_newlineW(const wchar_t* format) {
  size_t n = format ? wcslen(format) : 0;
  return n > 0 && format[n - 1] == L'\n';
}

/// The log itself cannot be opened: report to standard error only (trying the
/// log again would recurse) and stop.
[[noreturn]] void log_unavailable(int err) {
  fputs(CANNOT_COMPLETE, stderr);
  fprintf(stderr, LOG_OPEN_FAILED, strerror(err));
  fflush(stderr);
  stop_after_fatal_error();
}

/// Writes a formatted text to every destination open now; returns the count
/// of the last one written.
int write_v(const char* format, va_list args) {
  int n = 0;
  if (mask_enabled() && (log_file || (log_to_stream && log_stream))) {
    // The log is free text: what "-mask" hides is cleaned from it as well.
    va_list copy;
    va_copy(copy, args);
    int size = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (size < 0) return size;
    std::string text(static_cast<size_t>(size) + 1, '\0');
    va_copy(copy, args);
    vsnprintf(&text[0], text.size(), format, copy);
    va_end(copy);
    text.resize(static_cast<size_t>(size));
    text = mask_text(text);
    if (log_file) n = fputs(text.c_str(), log_file) < 0 ? -1 : static_cast<int>(text.size());
    if (log_to_stream && log_stream) n = fputs(text.c_str(), log_stream) < 0 ? -1 : static_cast<int>(text.size());
    return n;
  }
  if (log_file) {
    va_list copy;
    va_copy(copy, args);
    n = vfprintf(log_file, format, copy);
    va_end(copy);
  }
  if (log_to_stream && log_stream) {
    va_list copy;
    va_copy(copy, args);
    n = vfprintf(log_stream, format, copy);
    va_end(copy);
  }
  return n;
}

int write_f(const char* format, ...) ZV_PRINTF(1, 2);
int write_f(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = write_v(format, args);
  va_end(args);
  return n;
}

void write_cpu_time_prefix() {
  write_f("%8.4f ", static_cast<double>(clock()) / CLOCKS_PER_SEC);
}

/// Formats a wide message into `out`. Returns false if it cannot be formatted
/// (an unconvertible argument, or longer than a million characters).
bool format_wide(std::vector<wchar_t>& out, const wchar_t* format, va_list args) {
  for (size_t cap = 512; cap <= (size_t(1) << 20); cap *= 2) {
    out.assign(cap, L'\0');
    va_list copy;
    va_copy(copy, args);
    int n = vswprintf(out.data(), cap, format, copy);
    va_end(copy);
    if (n >= 0) {
      out.resize(static_cast<size_t>(n));
      return true;
    }
  }
  out.clear();
  return false;
}

/// Converts wide text to the locale's multibyte text for a narrow stream; a
/// character the locale cannot show becomes "?".
std::string wide_to_log_text(const std::vector<wchar_t>& text) {
  std::string out;
  out.reserve(text.size());
  mbstate_t state;
  memset(&state, 0, sizeof state);
  char buf[MB_LEN_MAX];
  for (wchar_t c : text) {
    size_t n = wcrtomb(buf, c, &state);
    if (n == static_cast<size_t>(-1)) {
      memset(&state, 0, sizeof state);
      out += '?';
    } else {
      out.append(buf, n);
    }
  }
  return out;
}

int write_wide_v(const wchar_t* format, va_list args) {
  std::vector<wchar_t> text;
  if (!format) return -1;
  if (!format_wide(text, format, args)) return write_f("[wide message could not be formatted]\n");
  std::string narrow = wide_to_log_text(text);
  return write_f("%s", narrow.c_str());
}

/// Shows one value of a dump's character column: 33..125 as itself, else ".".
/// A "*" right before a "/" is shown as "." too, so a C-style dump line never
/// closes its comment early.
char dump_char(unsigned value, bool next_is_slash) {
  if (value < 33 || value > 125) return '.';
  if (value == '*' && next_is_slash) return '.';
  return static_cast<char>(value);
}

/// A title for the C-style header with every "*/" broken up.
std::string comment_safe(const char* text) {
  std::string s = text ? text : "";
  for (size_t i = 0; i + 1 < s.size(); ++i)
    if (s[i] == '*' && s[i + 1] == '/') s[i] = '.';
  return s;
}

void append_f(std::string& line, const char* format, ...) ZV_PRINTF(2, 3);
void append_f(std::string& line, const char* format, ...) {
  char buf[64];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  if (n > 0) line.append(buf, static_cast<size_t>(n) < sizeof buf ? n : sizeof buf - 1);
}

/// What differs between a byte dump and a word dump.
struct dump_shape {
  const char* unit;         // "bytes" / "words"
  const char* kind;         // "HEX" / "WORD"
  const char* array_decl;   // C-style declaration after the header comment
  const char* value_fmt;    // "%s%02x "
  const char* c_value_fmt;  // "%s0x%02x,"
  int value_width;          // blanks of an absent value (without the group blank)
  int c_value_width;
};

const dump_shape byte_shape = {"bytes", "HEX", "unsigned char hex_dump[] = {", "%s%02x ",
                               "%s0x%02x,", 3, 5};
const dump_shape word_shape = {"words", "WORD", "unsigned short word_dump[] = {", "%s%04x ",
                               "%s0x%04x,", 5, 7};

void append_blanks(std::string& line, int count) { line.append(static_cast<size_t>(count), ' '); }

/// One line of 16 values starting at `offset`.
std::string dump_line(const dump_shape& shape, unsigned (*get)(const void*, int), const void* data,
                      int count, int offset, const char* prefix, bool c_style) {
  std::string line;
  append_f(line, "\n%s %04x: ", c_style ? "/*" : prefix, static_cast<unsigned>(offset));
  for (int i = 0; i < 16; ++i) {
    const char* group = (i == 4 || i == 8 || i == 12) ? " " : "";
    if (offset + i < count)
      append_f(line, shape.value_fmt, group, get(data, offset + i));
    else
      append_blanks(line, shape.value_width + (*group ? 1 : 0));
  }
  line += "  ";
  for (int i = 0; i < 16; ++i) {
    int at = offset + i;
    if (at < count)
      line += dump_char(get(data, at), at + 1 < count && get(data, at + 1) == '/');
    else
      line += ' ';
  }
  if (!c_style) return line;
  line += " */ ";
  for (int i = 0; i < 16; ++i) {
    const char* group = (i == 4 || i == 8 || i == 12) ? " " : "";
    if (offset + i < count)
      append_f(line, shape.c_value_fmt, group, get(data, offset + i));
    else
      append_blanks(line, shape.c_value_width + (*group ? 1 : 0));
  }
  return line;
}

void print_dump(const dump_shape& shape, unsigned (*get)(const void*, int), const char* title,
                const void* data, int count, const char* prefix, bool c_style) {
  if (!debug_log_enabled()) return;
  errno_keeper keep;
  const char* p = prefix ? prefix : "";
  if (!data || count < 0) count = 0;
  open_log_file();
  // Raw bytes carry serials and addresses in forms no scanner finds.
  if (mask_enabled()) {
    write_f("%s --- %s (%d %s) not shown: masking ---\n", p, title ? title : "", count, shape.unit);
    return;
  }
  if (c_style)
    write_f("/* ----  %-56.56s %6d %s */ %s", comment_safe(title).c_str(), count, shape.unit,
            shape.array_decl);
  else
    write_f("%s --- %s (%d %s) ---", p, title ? title : "", count, shape.unit);
  // The step never passes count, so a length near INT_MAX cannot overflow.
  for (int offset = 0; offset < count; offset = count - offset > 16 ? offset + 16 : count)
    write_f("%s", dump_line(shape, get, data, count, offset, p, c_style).c_str());
  if (c_style)
    write_f("\n/* ----  END %s DUMP ---%54s*/ };\n", shape.kind, "");
  else
    write_f("\n%s --- END %s DUMP ---\n", p, shape.kind);
  close_and_flush_log_file();
}

unsigned get_byte(const void* data, int i) { return static_cast<const unsigned char*>(data)[i]; }
unsigned get_word(const void* data, int i) { return static_cast<const unsigned short*>(data)[i]; }

}  // namespace

void enable_log_to_file(const char* name) {
  snprintf(log_filename, sizeof log_filename, "%s", name ? name : DEBUG_LOG_NAME);
  log_to_file = true;
  truncate_log_file();
}

void enable_append_log_to_file(const char* name) {
  snprintf(log_filename, sizeof log_filename, "%s", name ? name : DEBUG_LOG_NAME);
  log_to_file = true;
}

void disable_log_to_file() { log_to_file = false; }

void enable_log_to_stream(const char* path) {
  int fd = open_regular_for_write_nofollow(path, 0);
  FILE* f = nullptr;
  if (fd >= 0 && ftruncate(fd, 0) == 0) f = fdopen(fd, "w");
  if (!f) {
    int err = errno;
    if (fd >= 0) close(fd);
    internal_error(LOG_OPEN_FAILED, strerror(err));
  }
  enable_log_to_stream(f);
}

void enable_log_to_stream(FILE* handle) {
  log_stream = handle;
  log_to_stream = handle != nullptr;
}

void disable_log_to_stream() {
  log_to_stream = false;
  log_stream = nullptr;
}

bool debug_log_enabled() { return log_to_file || (log_to_stream && log_stream); }

const char* debug_log_file_name() { return log_to_file && log_filename[0] ? log_filename : nullptr; }

namespace {

/// Opens the log file for one message; false with errno set on failure.
bool try_open_log_file() {
  if (!log_to_file || log_file) return true;
  // Written synchronously and reopened for every message so that the log is
  // on disk up to the last line even if the next instruction hangs or crashes.
  int fd = open_regular_for_write_nofollow(log_filename, O_APPEND | O_DSYNC);
  if (fd < 0) return false;
  log_file = fdopen(fd, "a");
  if (!log_file) {
    int err = errno;
    close(fd);
    errno = err;
    return false;
  }
  return true;
}

}  // namespace

void open_log_file() {
  if (!try_open_log_file()) log_unavailable(errno);
}

void truncate_log_file() {
  // Failure is silent here: the first message then fails to open the log.
  if (!log_filename[0]) return;
  // A run holds a shared lock on its log while it lives. Another run writing
  // to the same log in the same directory keeps its lines: this run then
  // appends instead of emptying the file.
  static int held = -1;
  if (held >= 0) close(held);
  held = open_regular_for_write_nofollow(log_filename, O_APPEND);
  if (held < 0) return;
  bool alone = flock(held, LOCK_EX | LOCK_NB) == 0;
  if (alone) truncate_regular_nofollow(log_filename);
  flock(held, LOCK_SH);
}

void close_and_flush_log_file() {
  if (log_file) {
    fflush(log_file);
    fclose(log_file);
    log_file = nullptr;
  }
  if (log_to_stream && log_stream) fflush(log_stream);
}

int printd(const char* format, ...) {
  if (!debug_log_enabled() || !format) return 0;
  errno_keeper keep;
  open_log_file();
  if (at_line_start) write_cpu_time_prefix();
  va_list args;
  va_start(args, format);
  int n = write_v(format, args);
  va_end(args);
  at_line_start = ends_with_newline(format);
  close_and_flush_log_file();
  return n;
}

int printdW(const wchar_t* format, ...) {
  if (!debug_log_enabled() || !format) return 0;
  errno_keeper keep;
  open_log_file();
  if (at_line_startW) write_cpu_time_prefix();
  va_list args;
  va_start(args, format);
  int n = write_wide_v(format, args);
  va_end(args);
  at_line_startW = ends_with_newlineW(format);
  close_and_flush_log_file();
  return n;
}

int vprintd_noflush(const char* format, va_list args) {
  if (!debug_log_enabled() || !format) return 0;
  errno_keeper keep;
  return write_v(format, args);
}

int printd_noflush(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = vprintd_noflush(format, args);
  va_end(args);
  return n;
}

int vprintd_noflushW(const wchar_t* format, va_list args) {
  if (!debug_log_enabled() || !format) return 0;
  errno_keeper keep;
  return write_wide_v(format, args);
}

int printd_noflushW(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int n = vprintd_noflushW(format, args);
  va_end(args);
  return n;
}

namespace {

/// The first 19 characters of the textual local time ("Tue Mar  4 09:05:01").
void write_time_prefix() {
  struct tm t;
  char text[64] = "";
  if (!clock_local(clock_now(), &t) || strftime(text, sizeof text, "%a %b %e %H:%M:%S", &t) == 0)
    snprintf(text, sizeof text, "%s", "?");
  write_f("%.19s ", text);
}

}  // namespace

int print_with_time(const char* format, ...) {
  if (!debug_log_enabled() || !format) return 0;
  errno_keeper keep;
  open_log_file();
  write_time_prefix();
  va_list args;
  va_start(args, format);
  int n = write_v(format, args);
  va_end(args);
  close_and_flush_log_file();
  return n;
}

int print_with_timeW(const wchar_t* format, ...) {
  if (!debug_log_enabled() || !format) return 0;
  errno_keeper keep;
  open_log_file();
  write_time_prefix();
  va_list args;
  va_start(args, format);
  int n = write_wide_v(format, args);
  va_end(args);
  close_and_flush_log_file();
  return n;
}

int print_error(const char* what, int errnum) {
  return printd("%s (%d): %s\n", what ? what : "", errnum, strerror(errnum));
}

void print_hexdump(const char* title, const void* data, int length, const char* prefix, bool c_style) {
  print_dump(byte_shape, get_byte, title, data, length, prefix, c_style);
}

void print_worddump(const char* title, const unsigned short* words, int count, const char* prefix,
                    bool c_style) {
  print_dump(word_shape, get_word, title, words, count, prefix, c_style);
}

void stop_after_fatal_error() {
  // The commands running end, the run's temporaries and the container it
  // was writing go; a container of an earlier run stays as it was. No core
  // dump: the cause is outside.
  command_kill_running();
  temp_files_remove_all();
  _exit(1);
}

void internal_error(const char* format, ...) {
  int system_error = errno;
  std::string message;
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = format ? vsnprintf(nullptr, 0, format, copy) : -1;
  va_end(copy);
  if (n >= 0) {
    message.assign(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(&message[0], message.size(), format, args);
    message.resize(static_cast<size_t>(n));
  }
  va_end(args);
  // A log that cannot be opened is skipped here: the message itself matters more.
  if (debug_log_enabled()) {
    try_open_log_file();
    write_f("Internal error: %s", message.c_str());
    close_and_flush_log_file();
  }
  fputs(CANNOT_COMPLETE, stderr);
  fputs(message.c_str(), stderr);
  if (system_error != 0) fprintf(stderr, "System error: %s\n", strerror(system_error));
  fputs("The unfinished files of this run are removed; an earlier container stays as it was.\n", stderr);
  fflush(stderr);
  stop_after_fatal_error();
}

void timer_reset(const char* name) {
  printd("%s: --- MARK ---\n", name ? name : "");
  timer = clock_now();
}

void timer_mark(const char* name) {
  time_t now = clock_now();
  printd("%s: --- MARK --- %.4f sec\n", name ? name : "", difftime(now, timer));
  timer = now;
}
