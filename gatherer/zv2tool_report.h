// zv2tool_report.h - the report commands of zv2tool: json, diff and the
// report part of verify.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

/// `zv2tool json [-o DIR] [--force] FILE...`; argv[0] is "json".
int zv2tool_json(int argc, char** argv);
/// `zv2tool diff [--all] [--json] [--force] A B`; argv[0] is "diff".
int zv2tool_diff(int argc, char** argv);
/// The report part of `zv2tool verify FILE`: well-formedness and every
/// checksum inside the report item. 0, or 1 after a message naming the file.
int zv2tool_verify_report(const char* path);

/// Appends `text` as a JSON string (quotes included): control characters
/// escaped, every byte that is not part of well-formed UTF-8 as U+FFFD.
void json_string(std::string& out, const char* text, size_t size);
inline void json_string(std::string& out, const std::string& text) { json_string(out, text.data(), text.size()); }

/// Streams a JSON string in pieces: begin() writes the quote, add() escapes
/// (a UTF-8 character split between pieces is kept whole), end() closes.
class json_string_writer {
 public:
  explicit json_string_writer(std::string& out) : out(out) {}
  void begin() { out += '"'; pending_len = 0; }
  void add(const char* p, size_t n);
  void end();

 private:
  std::string& out;
  char pending[4];
  size_t pending_len = 0;
};
