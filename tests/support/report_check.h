// report_check.h - test helpers for report output: in-memory report streams,
// captured standard streams, and checks of written XML and HTML by real
// parsers (expat, xmllint) with a checksum checker that knows nothing of the
// writer's code.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

/// A FILE* whose output is kept in memory.
class mem_stream {
 public:
  mem_stream();
  ~mem_stream();
  mem_stream(const mem_stream&) = delete;
  mem_stream& operator=(const mem_stream&) = delete;
  FILE* get() const { return file; }
  /// Everything written so far.
  std::string text();

 private:
  char* data = nullptr;
  size_t size = 0;
  FILE* file;
};

/// Catches what is written to a file descriptor (1 or 2) while it lives.
class fd_capture {
 public:
  explicit fd_capture(int fd);
  ~fd_capture();
  /// Stops catching and returns what was written.
  std::string finish();

 private:
  int fd;
  int saved = -1;
  FILE* sink = nullptr;
  std::string caught;
};

/// A temporary file with the given content; removed with the object.
class temp_file {
 public:
  explicit temp_file(const std::string& content);
  ~temp_file();
  const char* path() const { return name.c_str(); }

 private:
  std::string name;
};

std::string read_whole_file(const std::string& path);

/// True when expat was linked in (the checks below need it).
bool have_xml_parser();

/// What a parse of a checksummed report found.
struct zvml_check_result {
  bool parsed = false;
  std::string error;                    ///< parser error text
  std::vector<std::string> mismatches;  ///< each checksum or count that did not add up
  int checks = 0;                       ///< CHK and ROWS elements verified
  /// Every element in the order it ended: name and its own character data.
  std::vector<std::pair<std::string, std::string>> elements;
};

/// Parses a document and, for the checksummed form, recomputes every CHK from
/// the parsed text: cell texts -> row, rows -> table, tables and embedded
/// files -> section, sections and imports -> report. Imports are summed over
/// their raw bytes between the import comments.
zvml_check_result check_zvml(const std::string& document);

/// The text of the n-th element (0-based) with this name, or "<none>".
std::string element_text(const zvml_check_result& r, const std::string& name, size_t n = 0);

/// True when xmllint can be run.
bool have_xmllint();
/// Runs "xmllint --html" with an XPath expression over an HTML text; returns
/// its standard output. Parser complaints go to `errors` when given.
std::string html_xpath(const std::string& html, const std::string& xpath, std::string* errors = nullptr);
