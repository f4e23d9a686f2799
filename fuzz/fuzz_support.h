// fuzz_support.h - small helpers shared by the fuzz harnesses, and the
// standard headers every harness uses.
#pragma once

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

/// Aborts unless the text ends inside a field of `size` bytes.
inline void check_fits(const char* text, size_t size) {
  if (!text || strnlen(text, size) >= size) abort();
}
template <size_t N>
void check_fits(const char (&field)[N]) {
  check_fits(field, N);
}

/// Calls fn(line) for every line of the text (the last one may be empty).
template <typename Fn>
void for_each_line(const std::string& text, Fn fn) {
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    fn(text.substr(start, end - start));
    start = end + 1;
  }
}

/// Decodes UTF-8 known to be well-formed, calling fn(code point) for each character.
template <typename Fn>
void for_each_code_point(const std::string& s, Fn fn) {
  for (size_t i = 0; i < s.size();) {
    unsigned char b = (unsigned char)s[i];
    int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
    uint32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1Fu) : extra == 2 ? (b & 0x0Fu) : (b & 0x07u);
    for (int k = 1; k <= extra && i + k < s.size(); k++) c = c << 6 | ((unsigned char)s[i + k] & 0x3Fu);
    fn(c);
    i += 1 + extra;
  }
}

/// Aborts unless the text is well-formed UTF-8 of characters XML 1.0 allows.
inline void check_xml_characters(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    unsigned char b = (unsigned char)s[i];
    int extra = b < 0x80 ? 0 : (b >= 0xC2 && b <= 0xDF) ? 1 : (b >= 0xE0 && b <= 0xEF) ? 2 : (b >= 0xF0 && b <= 0xF4) ? 3 : -1;
    if (extra < 0 || i + extra >= s.size() + (extra ? 0 : 1)) abort();
    uint32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
    for (int k = 1; k <= extra; k++) {
      unsigned char n = (unsigned char)s[i + k];
      if ((n & 0xC0) != 0x80) abort();
      c = c << 6 | (n & 0x3F);
    }
    static const uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
    if (c < minimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE || c == 0xFFFF) abort();
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') abort();
    i += 1 + extra;
  }
}

/// Creates an empty temporary file named after `stem`, in memory-backed
/// storage where there is some (every run rewrites it), and returns its name
/// with the file left open in *fd. Aborts when no file can be made.
inline std::string make_temp_file(const std::string& stem, int* fd) {
  for (const char* dir : {"/dev/shm/", "/tmp/"}) {
    std::string name = dir + stem + "XXXXXX";
    *fd = mkstemp(&name[0]);
    if (*fd >= 0) return name;
  }
  abort();
}

/// A temporary directory (memory-backed where there is some) with these
/// subdirectories, removed with everything in it when the process exits.
inline std::string make_temp_root(const std::string& stem, std::vector<std::string> subdirs) {
  static std::string root;
  for (const char* dir : {"/dev/shm/", "/tmp/"}) {
    std::string name = dir + stem + "XXXXXX";
    if (mkdtemp(&name[0])) {
      root = name;
      break;
    }
  }
  if (root.empty()) abort();
  for (const std::string& sub : subdirs)
    if (mkdir((root + sub).c_str(), 0700) != 0) abort();
  atexit([] {
    nftw(root.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); }, 16,
         FTW_DEPTH | FTW_PHYS);
  });
  return root;
}

/// Replaces the file's content with the bytes; aborts when it cannot.
inline void write_bytes(const std::string& path, const void* data, size_t size) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) abort();
  if (size) fwrite(data, 1, size, f);
  fclose(f);
}

/// A stream whose writes are only counted, in *bytes.
inline FILE* counting_stream(uint64_t* bytes) {
  cookie_io_functions_t io = {nullptr,
                              [](void* c, const char*, size_t n) -> ssize_t {
                                *static_cast<uint64_t*>(c) += n;
                                return ssize_t(n);
                              },
                              nullptr, nullptr};
  *bytes = 0;
  return fopencookie(bytes, "w", io);
}

/// What `write` puts into a stream, as text.
template <typename Fn>
std::string written_text(Fn write) {
  char* out = nullptr;
  size_t out_size = 0;
  FILE* f = open_memstream(&out, &out_size);
  if (!f) abort();
  write(f);
  fclose(f);
  std::string text(out, out_size);
  free(out);
  return text;
}
