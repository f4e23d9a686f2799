// util_string.cpp - string lists, bounded string building, line readers and
// queries of the running process and its user.
#include "util_string.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <pwd.h>
#include <time.h>
#include <unistd.h>
#include <utmp.h>
#include <vector>

#include "debug.h"
#include "platform_paths.h"
#include "sysroot.h"
#include "utf8.h"

// ---------------------------------------------------------------- str_list

str_list::str_list() : first(nullptr), last(nullptr), current(nullptr) {}

str_list::str_list(const wchar_t* text, wchar_t separator) : str_list() {
  add_separated_list(text, separator);
}

// A byte that does not decode alone (a lead byte of a multibyte sequence, say)
// still splits the text as itself.
static wchar_t narrow_to_wide_char(char c) {
  wint_t w = btowc(static_cast<unsigned char>(c));
  return w == WEOF ? static_cast<wchar_t>(static_cast<unsigned char>(c)) : static_cast<wchar_t>(w);
}

str_list::str_list(const char* text, char separator) : str_list() {
  if (!text) return;
  wchar_t* wide = mbcs_to_wide(text);
  if (wide) {
    add_separated_list(wide, narrow_to_wide_char(separator));
    delete[] wide;
    return;
  }
  // Text that does not decode in the locale is split as bytes, unchanged.
  const char* p = text;
  while (*p) {
    const char* end = strchr(p, separator);
    size_t len = end ? static_cast<size_t>(end - p) : strlen(p);
    if (len > 0) {
      char* piece = new char[len + 1];
      memcpy(piece, p, len);
      piece[len] = '\0';
      add(piece);
    }
    if (!end) break;
    p = end + 1;
  }
}

str_list::~str_list() { initialize(); }

void str_list::initialize() {
  node* n = first;
  while (n) {
    node* next = n->next;
    delete[] n->text;
    delete n;
    n = next;
  }
  first = last = current = nullptr;
}

// Converts one wide piece; characters the locale cannot encode become "?"
// rather than losing the whole piece.
static char* piece_to_mbcs(const wchar_t* piece) {
  char* out = wide_to_mbcs(piece);
  if (out) return out;
  std::string text;
  mbstate_t state;
  memset(&state, 0, sizeof state);
  char buf[MB_LEN_MAX];
  for (const wchar_t* p = piece; *p; ++p) {
    size_t n = wcrtomb(buf, *p, &state);
    if (n == static_cast<size_t>(-1)) {
      memset(&state, 0, sizeof state);
      text += '?';
    } else {
      text.append(buf, n);
    }
  }
  return duplicate_string(text.c_str());
}

void str_list::add_separated_list(const wchar_t* text, wchar_t separator) {
  if (!text) return;
  const wchar_t* p = text;
  while (*p) {
    const wchar_t* end = p;
    while (*end && *end != separator) ++end;
    size_t len = static_cast<size_t>(end - p);
    if (len > 0) {
      std::wstring piece(p, len);
      add(piece_to_mbcs(piece.c_str()));
    }
    if (!*end) break;
    p = end + 1;
  }
}

void str_list::add(char* s) {
  if (!s) return;
  node* n = new node{s, nullptr};
  if (last)
    last->next = n;
  else
    first = n;
  last = n;
}

const char* str_list::get_first() {
  current = first;
  return get_current();
}

const char* str_list::get_next() {
  if (current) current = current->next;
  return get_current();
}

const char* str_list::get_current() const { return current ? current->text : nullptr; }

unsigned str_list::count() const {
  unsigned n = 0;
  for (node* p = first; p; p = p->next) ++n;
  return n;
}

// ------------------------------------------------------------ text helpers

char* format_string(char* buf, int size, const char* format, ...) {
  if (!buf || size <= 0) return buf;
  va_list args;
  va_start(args, format);
  vsnprintf(buf, static_cast<size_t>(size), format, args);
  va_end(args);
  return buf;
}

static bool is_space(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

// Removes trailing, then leading characters for which strip() holds.
template <typename C, typename Pred>
static C* trim_in_place(C* s, Pred strip) {
  if (!s) return s;
  size_t len = 0;
  while (s[len]) ++len;
  while (len > 0 && strip(s[len - 1])) s[--len] = 0;
  size_t start = 0;
  while (start < len && strip(s[start])) ++start;
  if (start > 0) memmove(s, s + start, (len - start + 1) * sizeof(C));
  return s;
}

char* trim_whitespace(char* s) { return trim_in_place(s, is_space); }

wchar_t* trim_whitespace(wchar_t* s) {
  return trim_in_place(s, [](wchar_t c) { return iswspace(static_cast<wint_t>(c)) != 0; });
}

char* trim_string(char* s, const char* chars) {
  return trim_in_place(s, [chars](char c) {
    return is_space(c) || (c != '\0' && chars && strchr(chars, c) != nullptr);
  });
}

char* append_string(char* dst, unsigned size, const char* src) {
  if (!dst || size == 0) return dst;
  size_t len = strnlen(dst, size);
  if (len >= size) {
    dst[size - 1] = '\0';
    return dst;
  }
  if (!src) return dst;
  size_t room = size - 1 - len;
  size_t add = strnlen(src, room);
  memcpy(dst + len, src, add);
  dst[len + add] = '\0';
  return dst;
}

char* duplicate_string(const char* s) {
  if (!s) return nullptr;
  size_t len = strlen(s);
  char* copy = new char[len + 1];
  memcpy(copy, s, len + 1);
  return copy;
}

wchar_t* duplicate_string(const wchar_t* s) {
  if (!s) return nullptr;
  size_t len = wcslen(s);
  wchar_t* copy = new wchar_t[len + 1];
  wmemcpy(copy, s, len + 1);
  return copy;
}

void remove_filename_from_path(char* path, int size) {
  if (!path || size <= 0) return;
  size_t len = strnlen(path, static_cast<size_t>(size));
  char* slash = static_cast<char*>(memrchr(path, '/', len));
  if (slash)
    *slash = '\0';
  else
    memset(path, 0, static_cast<size_t>(size));
}

bool isalnumstr(const char* s) {
  if (!s) return false;
  for (; *s; ++s) {
    unsigned char c = static_cast<unsigned char>(*s);
    if (!isalnum(c) && !isspace(c)) return false;
  }
  return true;
}

void my_strncpy(char* dst, const unsigned char* src, int n) {
  if (!dst) return;
  if (n < 0 || !src) n = 0;
  for (int i = 0; i < n; ++i) dst[i] = (src[i] >= 32 && src[i] <= 126) ? static_cast<char>(src[i]) : '.';
  dst[n] = '\0';
}

int CompareString(const char* a, const char* b, int n, int ignore_case) {
  if (!a || !b) return -1;
  size_t count = n < 1 ? strlen(a) : static_cast<size_t>(n);
  int diff = ignore_case ? strncasecmp(a, b, count) : strncmp(a, b, count);
  return diff == 0 ? 0 : -1;
}

char* FindSequence(const char* buffer, unsigned long length, const char* sequence, int count) {
  if (!buffer || !sequence || count < 1) return nullptr;
  unsigned long n = static_cast<unsigned long>(count);
  if (n > length) return nullptr;
  for (unsigned long i = 0; i + n <= length; ++i)
    if (buffer[i] == sequence[0] && memcmp(buffer + i, sequence, n) == 0)
      return const_cast<char*>(buffer + i);
  return nullptr;
}

char* make_device_name(char* out, int size, const char* prefix, const char* base,
                       const char* suffix, int index, alphanum_t style) {
  if (!out || size <= 0) return out;
  char part[16] = "";
  if (style == ALPHABETIC) {
    if (index >= 0 && index < 26) {
      part[0] = static_cast<char>('a' + index);
      part[1] = '\0';
    } else if (index >= 26 && index < 702) {
      part[0] = static_cast<char>('a' + index / 26 - 1);
      part[1] = static_cast<char>('a' + index % 26);
      part[2] = '\0';
    } else {
      strcpy(part, "NA");
    }
  } else if (style == NUMERIC) {
    snprintf(part, sizeof part, "%d", index);
  }
  snprintf(out, static_cast<size_t>(size), "%s%s%s%s", prefix ? prefix : "", base ? base : "", part,
           suffix ? suffix : "");
  return out;
}

// ------------------------------------------------------------ files, lines

FILE* wfopen(const wchar_t* path, const wchar_t* mode) {
  if (!path || !mode) return nullptr;
  char* npath = wide_to_mbcs(path);
  char* nmode = wide_to_mbcs(mode);
  FILE* f = (npath && nmode) ? fopen(npath, nmode) : nullptr;
  delete[] npath;
  delete[] nmode;
  return f;
}

static const unsigned WIDE_LINE_STEP = 8192;

// Enlarges the buffer by one step, keeping its content and clearing the new part.
static bool grow_wide_buffer(wchar_t** buffer, unsigned* size) {
  if (*size > UINT_MAX - WIDE_LINE_STEP) return false;
  unsigned bigger = *size + WIDE_LINE_STEP;
  wchar_t* grown = new wchar_t[bigger];
  if (*buffer) wmemcpy(grown, *buffer, *size);
  wmemset(grown + *size, 0, WIDE_LINE_STEP);
  delete[] *buffer;
  *buffer = grown;
  *size = bigger;
  return true;
}

// Decodes bytes in the locale and appends them to out; a byte that does not
// decode is taken as its own code (0..255) and decoding goes on after it.
static void decode_bytes(const std::string& bytes, std::wstring& out) {
  mbstate_t state;
  memset(&state, 0, sizeof state);
  size_t i = 0;
  while (i < bytes.size()) {
    wchar_t w;
    size_t r = mbrtowc(&w, bytes.data() + i, bytes.size() - i, &state);
    if (r == static_cast<size_t>(-1) || r == static_cast<size_t>(-2)) {
      out += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]));
      memset(&state, 0, sizeof state);
      ++i;
    } else {
      out += (r == 0) ? L'\0' : w;
      i += (r == 0) ? 1 : r;
    }
  }
}

// One line of a byte-oriented stream as wide text, with its line feed.
static bool read_wide_from_bytes(FILE* f, std::wstring& line) {
  std::string bytes;
  int c;
  while ((c = getc(f)) != EOF) {
    bytes += static_cast<char>(c);
    if (c == '\n') break;
  }
  if (bytes.empty()) return false;
  decode_bytes(bytes, line);
  return true;
}

// One line of a wide-oriented stream, with its line feed.
static bool read_wide_from_wide(FILE* f, std::wstring& line) {
  wint_t c;
  while ((c = fgetwc(f)) != WEOF) {
    line += static_cast<wchar_t>(c);
    if (c == L'\n') break;
  }
  return !line.empty();
}

int get_wide_line(FILE* f, wchar_t** buffer, unsigned* size) {
  if (!f || !buffer || !size) return -1;
  if (!*buffer) *size = 0;
  if (*buffer && *size > 0) wmemset(*buffer, 0, *size);
  std::wstring line;
  bool got = fwide(f, 0) > 0 ? read_wide_from_wide(f, line) : read_wide_from_bytes(f, line);
  if (!got) return -1;
  if (line.size() > static_cast<size_t>(INT_MAX) - WIDE_LINE_STEP) line.resize(INT_MAX - WIDE_LINE_STEP);
  while (!*buffer || line.size() + 1 > *size)
    if (!grow_wide_buffer(buffer, size)) return -1;
  wmemcpy(*buffer, line.data(), line.size());
  (*buffer)[line.size()] = L'\0';
  return static_cast<int>(line.size());
}

bool read_line(FILE* f, std::string& line, size_t max_length) {
  line.clear();
  if (!f) return false;
  bool got = false;
  int c;
  while ((c = getc(f)) != EOF) {
    got = true;
    if (c == '\n') break;
    if (line.size() < max_length) line += static_cast<char>(c);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return got;
}

char* strip_line_end(char* s) {
  if (!s) return s;
  size_t len = strlen(s);
  if (len > 0 && s[len - 1] == '\n') s[--len] = '\0';
  if (len > 0 && s[len - 1] == '\r') s[--len] = '\0';
  return s;
}

// ------------------------------------------------------ process and system

char* GetCurrentDir() {
  static std::vector<char> buffer(512);
  for (;;) {
    if (getcwd(buffer.data(), buffer.size())) return buffer.data();
    if (errno != ERANGE || buffer.size() >= (1u << 24)) break;
    buffer.resize(buffer.size() * 2);
  }
  buffer[0] = '\0';
  return buffer.data();
}

void MilliPause(int ms) {
  if (ms < 1) ms = 1;
  struct timespec wait;
  wait.tv_sec = ms / 1000;
  wait.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

int get_process_id() { return static_cast<int>(getpid()); }

char* get_user_name(char* out, unsigned long size) {
  if (!out || size == 0) return out;
  uid_t uid = getuid();
  struct passwd entry;
  struct passwd* found = nullptr;
  std::vector<char> work(16384);
  if (getpwuid_r(uid, &entry, work.data(), work.size(), &found) == 0 && found && found->pw_name)
    snprintf(out, size, "%s", found->pw_name);
  else
    snprintf(out, size, "%lu", static_cast<unsigned long>(uid));
  return out;
}

// The text of a fixed-width record field, which need not be terminated.
template <size_t N>
static std::string field_text(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

struct login_choice {
  std::string user;
  long long seconds = -1;
  long long micros = -1;
};

// One pass over the login records: the newest user-process login whose id
// field holds a ":" (X display) or not (terminal), with an empty host.
static login_choice newest_login(bool x_display) {
  login_choice best;
  FILE* f = sys_fopen(platform_path::utmp, "rb");
  if (!f) return best;
  struct utmp record;
  while (fread(&record, sizeof record, 1, f) == 1) {
    if (record.ut_type != USER_PROCESS) continue;
    std::string user = field_text(record.ut_user);
    if (user.empty() || user == "reboot" || user == "runlevel" || user == "LOGIN") continue;
    if (!field_text(record.ut_host).empty()) continue;
    std::string id = field_text(record.ut_id);
    if ((id.find(':') != std::string::npos) != x_display) continue;
    long long seconds = record.ut_tv.tv_sec;
    long long micros = record.ut_tv.tv_usec;
    printd("got a user with id '%s' %i %i\n", id.c_str(), static_cast<int>(seconds),
           static_cast<int>(micros));
    if (seconds > best.seconds || (seconds == best.seconds && micros > best.micros)) {
      best.user = user;
      best.seconds = seconds;
      best.micros = micros;
    }
  }
  fclose(f);
  return best;
}

char* get_current_user(char* out, unsigned long size) {
  if (!out || size == 0) return out;
  out[0] = '\0';
  printd("looking for X displays\n");
  login_choice chosen = newest_login(true);
  if (chosen.user.empty()) {
    printd("looking for ttys\n");
    chosen = newest_login(false);
  }
  snprintf(out, size, "%s", chosen.user.c_str());
  return out;
}

int get_user_desktop(char* out, unsigned size) {
  if (!out || size == 0) return 0;
  out[0] = '\0';
  const char* home = getenv("HOME");
  if (!home) return 0;
  std::string desktop = std::string(home) + "/Desktop";
  if (access(desktop.c_str(), R_OK | W_OK | X_OK) == 0 && desktop.size() < size) {
    snprintf(out, size, "%s", desktop.c_str());
    return 1;
  }
  snprintf(out, size, "%s", home);
  return strlen(home) < size && access(home, R_OK | W_OK | X_OK) == 0;
}

int get_program_filename(char* buf, int size) {
  if (!buf || size < 2) return 0;
  // About this process, not the inventoried machine: never under the system root.
  ssize_t n = readlink(platform_path::proc_self_exe, buf, static_cast<size_t>(size - 1));
  if (n < 0) {
    print_error("misc: readlink", errno);
    buf[0] = '\0';
    return 0;
  }
  buf[n] = '\0';
  return 1;
}
