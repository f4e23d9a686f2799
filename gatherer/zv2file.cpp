// zv2file.cpp - wraps collected files and command output into container
// items and keeps track of the run's temporary files.
#include "zv2file.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cwchar>

#include "debug.h"
#include "filename.h"
#include "gthfile.h"
#include "mask.h"
#include "run_command.h"
#include "safe_file.h"
#include "temp_files.h"
#include "utf8.h"
#include "zelvarn2.h"

namespace {

/// Item type of a collected file behind its two header lines.
constexpr int COLLECTED_FILE_ITEM = 66;
/// Size of the buffer each header line is formatted in.
constexpr size_t HEADER_LINE_SIZE = 4112;
/// Read block of the copy loops.
constexpr size_t BLOCK_SIZE = 1024;
/// Alternative names tried when a temporary name is taken.
constexpr int NAME_ATTEMPTS = 100;
/// Size of the name buffers of wrapped-file temporaries.
constexpr int TEMP_NAME_SIZE = 64;

bool container_open = false;
bool container_incomplete = false;

/// Replaces bytes below 32 and DEL by blanks. No multibyte encoding in use
/// on Linux has such bytes inside a character, so this never splits one.
void blank_controls(char* s) {
  for (; *s; ++s) {
    unsigned char c = static_cast<unsigned char>(*s);
    if (c < 32 || c == 127) *s = ' ';
  }
}

/// Formats one header line around a cleaned value, cut so that the line and
/// its line ends always fit in HEADER_LINE_SIZE bytes, and writes it in UTF-8.
void write_header_line(FILE* out, const char* label, const char* value, const char* ending) {
  size_t fixed = strlen(label) + strlen(ending);
  char cleaned[HEADER_LINE_SIZE];
  snprintf(cleaned, HEADER_LINE_SIZE - fixed, "%s", value ? value : "");
  drop_partial_character(cleaned);
  blank_controls(cleaned);
  char line[HEADER_LINE_SIZE];
  snprintf(line, sizeof line, "%s%s%s", label, cleaned, ending);
  wchar_t* wide = mbcs_to_wide(line);
  const char* utf8 = wide_to_utf8(wide);
  if (utf8) fputs(utf8, out);
  delete[] utf8;
  delete[] wide;
}

/// ascii: printable bytes, tab, line feed and carriage return pass; every
/// other byte becomes "?".
bool copy_ascii(FILE* in, FILE* out) {
  int c;
  while ((c = fgetc(in)) != EOF) {
    bool keep = (c >= 32 && c < 128) || c == 9 || c == 10 || c == 13;
    fputc(keep ? c : '?', out);
  }
  return !ferror(in);
}

bool copy_binary(FILE* in, FILE* out) {
  char block[BLOCK_SIZE];
  size_t n;
  while ((n = fread(block, 1, sizeof block, in)) > 0)
    if (fwrite(block, 1, n, out) != n) return false;
  return !ferror(in);
}

/// Decodes one block of locale text into wide. The conversion state runs on
/// from block to block, so a character split by the block boundary is
/// completed by the next block. Zero bytes carry no text and are skipped.
size_t decode_block(const char* block, size_t n, mbstate_t* state, wchar_t* wide) {
  size_t w = 0, pos = 0;
  while (pos < n) {
    if (block[pos] == '\0') {
      if (!mbsinit(state)) wide[w++] = 0xFFFD;
      memset(state, 0, sizeof *state);
      ++pos;
      continue;
    }
    wchar_t c;
    size_t r = mbrtowc(&c, block + pos, n - pos, state);
    if (r == static_cast<size_t>(-2)) break;  // the rest waits in the state
    if (r == static_cast<size_t>(-1) || r == 0) {
      memset(state, 0, sizeof *state);
      wide[w++] = 0xFFFD;
      ++pos;
      continue;
    }
    wide[w++] = c;
    pos += r;
  }
  wide[w] = 0;
  return w;
}

/// text: the locale's multibyte text as UTF-8, read in blocks of 1024 bytes.
bool copy_text(FILE* in, FILE* out) {
  // Room for the block and the two terminating zero bytes.
  char block[BLOCK_SIZE + 2];
  wchar_t wide[BLOCK_SIZE + 1];
  unsigned char utf8[4 * BLOCK_SIZE + 1];
  mbstate_t state;
  memset(&state, 0, sizeof state);
  size_t n;
  while ((n = fread(block, 1, BLOCK_SIZE, in)) > 0) {
    block[n] = block[n + 1] = '\0';
    decode_block(block, n, &state, wide);
    wide_to_utf8(wide, utf8, sizeof utf8);
    fputs(reinterpret_cast<const char*>(utf8), out);
  }
  if (!mbsinit(&state)) fputs("\xEF\xBF\xBD", out);  // the input ended inside a character
  return !ferror(in);
}

/// Under "-mask" the converted content goes through the free-text scanner
/// on its way into the item, by way of an unnamed temporary file.
bool copy_masked(FILE* in, FILE* out, bool (*copy)(FILE*, FILE*)) {
  FILE* converted = tmpfile();
  if (!converted) return false;
  bool ok = copy(in, converted) && fflush(converted) == 0 && fseek(converted, 0, SEEK_SET) == 0;
  if (ok) ok = mask_stream(converted, out);
  fclose(converted);
  return ok;
}

/// Flushes and closes a written stream; false (errno set) when anything of
/// it did not reach the file.
bool finish_stream(FILE* f) {
  bool ok = fflush(f) == 0 && !ferror(f);
  int saved = errno;
  if (fclose(f) != 0) return false;
  errno = saved;
  return ok;
}

/// Writes header and converted content of `source` into a fresh temporary
/// and adds that as a collected-file item. The temporary is always removed.
bool wrap_and_store(const char* shown, const char* mime, int kind, FILE* source,
                    bool (*copy)(FILE*, FILE*)) {
  char temp[TEMP_NAME_SIZE];
  FILE* out = open_temp_file(temp, sizeof temp, kind);
  if (!out) {
    // A full disk or a taken name: the container misses what it should hold.
    mark_container_incomplete();
    return false;
  }
  write_file_header(out, shown, mime);
  bool copied = mask_enabled() ? copy_masked(source, out, copy) : copy(source, out);
  int copy_errno = errno;
  bool written = finish_stream(out);
  bool ok = false;
  if (!copied)
    print_error(shown, copy_errno);
  else if (!written)
    print_error(temp, errno);
  else
    ok = store_file(temp, COLLECTED_FILE_ITEM, true);
  // Unless the source itself could not be read, the container misses what
  // it should hold (a full disk).
  if (!ok && !ferror(source)) mark_container_incomplete();
  remove_temporary(temp);
  return ok;
}

bool store_wrapped_file(const char* path, const char* mime, int kind, const char* label,
                        bool (*copy)(FILE*, FILE*)) {
  printd("zv2file: storing %s type %s (%s)\n", path ? path : "", mime ? mime : "", label);
  if (!gatherer_setting(SETTING_CONTAINER, SETTING_GET) || !path) return false;
  // Only a regular file is read: a FIFO or device named here never blocks the run.
  FILE* source = open_regular_file(path, "rb");
  if (!source) {
    print_error(path, errno);
    return false;
  }
  bool ok = wrap_and_store(path, mime, kind, source, copy);
  fclose(source);
  return ok;
}

}  // namespace

GatherFile* gather_file() { return GatherFile::get_instance(); }

bool gather_file_is_open() { return container_open && GatherFile::instance; }
void set_gather_file_open(bool open) { container_open = open; }
void mark_container_incomplete() { container_incomplete = true; }
bool container_is_incomplete() { return container_incomplete; }

bool store_file(const char* path, int type, bool compress) {
  if (!gatherer_setting(SETTING_CONTAINER, SETTING_GET)) return false;
  int rc;
  if (temp_files_known(path)) {
    // A temporary of this run is read back through the descriptor that
    // created it: a link or file put at its name meanwhile is never read.
    if (temp_files_handover_hook) temp_files_handover_hook(path);
    FILE* kept = temp_files_reopen(path);
    if (!kept) {
      print_error(path, errno);
      return false;
    }
    rc = gather_file()->AddItemStream(static_cast<unsigned char>(type), kept, path, compress);
    fclose(kept);
  } else {
    rc = gather_file()->AddItemFile(static_cast<unsigned char>(type), path, compress);
  }
  if (rc != 0) {
    printd("zv2file: adding %s as type %d failed, rc = %d\n", path ? path : "", type, rc);
    // What could not go in leaves the container incomplete (and perhaps
    // with part of an item at its end): it never replaces a complete one.
    if (rc != GTH_E_ARG && rc != GTH_E_OPEN && rc != GTH_E_TOO_LARGE) mark_container_incomplete();
  }
  return rc == 0;
}

void write_file_header(FILE* out, const char* filename, const char* mime) {
  if (!out) return;
  write_header_line(out, "Filename: ", mask_text(filename ? filename : "").c_str(), "\n");
  write_header_line(out, "MIME-Type: ", mime, "\n\n");
}

FILE* create_temporary(char* name, int size, const char* stem, const char* ext, const char* mode) {
  if (!name || size <= 0 || !stem || !ext) {
    errno = EINVAL;
    return nullptr;
  }
  for (int attempt = 0; attempt < NAME_ATTEMPTS; ++attempt) {
    int n = attempt ? snprintf(name, static_cast<size_t>(size), "%s-%d%s", stem, attempt, ext)
                    : snprintf(name, static_cast<size_t>(size), "%s%s", stem, ext);
    if (n < 0 || n >= size) {
      errno = ENAMETOOLONG;
      return nullptr;
    }
    // Always readable too: the finished file is read back through this
    // descriptor, never reopened by name.
    char rw_mode[8];
    snprintf(rw_mode, sizeof rw_mode, "%s%s", mode, strchr(mode, '+') ? "" : "+");
    temp_files_hold_signals hold;
    FILE* f = create_new_file(name, rw_mode);
    if (f) {
      if (!temp_files_add(name, fileno(f))) printd("zv2file: too many temporaries to track %s\n", name);
      return f;
    }
    if (errno != EEXIST) return nullptr;
    printd("zv2file: %s exists, not touched\n", name);
  }
  errno = EEXIST;
  return nullptr;
}

int remove_temporary(const char* name) {
  temp_files_hold_signals hold;
  forget_temporary(name);
  int rc = unlink(name);
  if (rc != 0) print_error(name, errno);
  return rc;
}

void forget_temporary(const char* name) { temp_files_forget(name); }

void remove_temporaries() { temp_files_remove_all(); }

FILE* open_temp_file(char* name, int size, int kind) {
  char stem[32];
  snprintf(stem, sizeof stem, "zelv%x%x", static_cast<unsigned>(kind),
           static_cast<unsigned>(getpid()));
  FILE* f = create_temporary(name, size, stem, ".tmp", "wb");
  if (!f) print_error(name && size > 0 && name[0] ? name : stem, errno);
  return f;
}

bool store_ascii_file(const char* path, const char* mime) {
  return store_wrapped_file(path, mime, 1, "ascii", copy_ascii);
}

bool store_text_file(const char* path, const char* mime) {
  return store_wrapped_file(path, mime, 2, "text", copy_text);
}

bool store_binary_file(const char* path, const char* mime) {
  return store_wrapped_file(path, mime, 3, "binary", copy_binary);
}

bool run_command_and_store_file(const char* name, const char* command, const char* mime) {
  printd("zv2file: storing %s type %s (text) cmd %s\n", name ? name : "", mime ? mime : "",
         command ? command : "");
  if (!gatherer_setting(SETTING_CONTAINER, SETTING_GET) || !command) return false;
  const char* shown = name ? name : command;
  FILE* source = command_open(command);
  if (!source) {
    print_error(shown, errno);
    return false;
  }
  bool ok = wrap_and_store(shown, mime, 2, source, copy_text);
  command_close(source);
  return ok;
}
