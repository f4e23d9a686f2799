// util_string.h - string lists, bounded string building, line readers and a
// few queries of the running process and its user.
//
// Functions that return a new string return a heap array owned by the caller,
// to be freed with delete[].
#pragma once

#include <cstdio>
#include <cstddef>
#include <cwchar>
#include <string>

/// A singly linked list of owned multibyte strings with a read cursor.
class str_list {
 public:
  str_list();
  /// Splits text at every separator (see add_separated_list).
  str_list(const wchar_t* text, wchar_t separator);
  /// The narrow text and separator are converted to wide first.
  str_list(const char* text, char separator);
  ~str_list();
  str_list(const str_list&) = delete;
  str_list& operator=(const str_list&) = delete;

  /// Empties the list (frees every string) and clears the cursor.
  void initialize();
  /// Appends every non-empty piece of text between separators, converted to
  /// the multibyte encoding, in order. Pieces are not trimmed; null adds nothing.
  void add_separated_list(const wchar_t* text, wchar_t separator);
  /// Appends s; the list takes ownership (s must come from new[]). Null is ignored.
  void add(char* s);

  /// Moves the cursor to the first string and returns it (null when empty).
  const char* get_first();
  /// Moves the cursor on and returns its string (null past the end).
  const char* get_next();
  /// The cursor's string (null past the end or before get_first).
  const char* get_current() const;
  /// Number of strings held.
  unsigned count() const;

 private:
  struct node {
    char* text;
    node* next;
  };
  node* first;
  node* last;
  node* current;
};

/// Style of the index part of a device name.
enum alphanum_t { ALPHABETIC = 0, NUMERIC = 1 };

/// vsnprintf into buf (at most size bytes with the terminator); returns buf.
char* format_string(char* buf, int size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

/// In place: removes trailing, then leading white space. Returns s (null for null).
char* trim_whitespace(char* s);
wchar_t* trim_whitespace(wchar_t* s);
/// As trim_whitespace, also removing any character of chars at both ends.
char* trim_string(char* s, const char* chars);

/// Appends src to the string in dst as far as size - 1 bytes hold; dst is
/// always terminated. Returns dst.
char* append_string(char* dst, unsigned size, const char* src);

/// New copies (delete[] by the caller); null for null.
char* duplicate_string(const char* s);
wchar_t* duplicate_string(const wchar_t* s);

/// Cuts path at its last "/" (the slash goes too). Without a slash the whole
/// buffer of size bytes is cleared.
void remove_filename_from_path(char* path, int size);

/// True when every character is a letter, a digit or white space (also for "").
bool isalnumstr(const char* s);

/// Copies exactly n bytes, each byte outside 32..126 becoming "."; dst[n] = 0.
/// dst must hold n + 1 bytes.
void my_strncpy(char* dst, const unsigned char* src, int n);

/// Compares the first n characters (all of a when n < 1), ignoring case when
/// ignore_case is non-zero: 0 when equal, -1 when different or either is null.
int CompareString(const char* a, const char* b, int n, int ignore_case);

/// The first occurrence of the count bytes of sequence in the length bytes of
/// buffer; null when absent, when a pointer is null, count < 1 or count > length.
char* FindSequence(const char* buffer, unsigned long length, const char* sequence, int count);

/// Writes prefix (null: nothing), base, the index part and suffix (null:
/// nothing) into out. Alphabetic index: 0..25 "a".."z", 26..701 "aa".."zz",
/// other "NA"; numeric: decimal.
char* make_device_name(char* out, int size, const char* prefix, const char* base,
                       const char* suffix, int index, alphanum_t style);

/// fopen with a wide path and mode (converted to the multibyte encoding).
FILE* wfopen(const wchar_t* path, const wchar_t* mode);

/// Reads one whole line (with its line feed, if any) of any length into the
/// caller's growable buffer of *size wide characters (enlarged by 8192 at a
/// time; allocated with new[], freed by the caller with delete[]). Bytes that
/// do not decode in the locale are taken as their own code (0..255).
/// Returns the number of characters read, or -1 at end of file.
int get_wide_line(FILE* f, wchar_t** buffer, unsigned* size);

/// Reads one line into line without its line end (a trailing "\n" and a "\r"
/// before it): a last line without line feed keeps every character. A line
/// longer than max_length is cut there (the rest is read and dropped).
/// False at end of file when nothing was read.
bool read_line(FILE* f, std::string& line, size_t max_length = 1u << 20);

/// Removes one trailing line feed and a carriage return before it, in place.
/// Returns s.
char* strip_line_end(char* s);

/// The working directory of any length in a process-wide buffer that the next
/// call overwrites; "" when it cannot be read.
char* GetCurrentDir();

/// Sleeps ms milliseconds, at least 1.
void MilliPause(int ms);

int get_process_id();

/// The login name of the real user id; its number when it has no password
/// entry. Returns out.
char* get_user_name(char* out, unsigned long size);

/// The user of the newest login on an X display, else of the newest terminal
/// login, from the login records under the system root; "" when none. Returns out.
char* get_current_user(char* out, unsigned long size);

/// $HOME/Desktop when that directory can be read, written and entered, else
/// $HOME. Returns whether the directory written is accessible in that way.
int get_user_desktop(char* out, unsigned size);

/// The file of this program (target of the process's own exe link), at most
/// size - 1 bytes, terminated. False (after logging) when it cannot be read.
int get_program_filename(char* buf, int size);
