// report_reader_fuzz.cpp - arbitrary bytes as a finished report: the reader
// must end with a status and a message (never crash, never hang, never hold
// more than its limits), and every row and file it hands on must turn into
// one line of JSON that is UTF-8 without raw control characters, whether it
// is read whole or in pieces of a file of any split.
#include "fuzz_support.h"
#include "report_reader.h"
#include "zv2tool_report.h"

namespace {

void check_json(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = (unsigned char)s[i];
    if (c < 0x20) abort();  // control characters are escaped
    if (c < 0x80) {
      i++;
      continue;
    }
    int len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    if (!len || i + (size_t)len > s.size()) abort();
    for (int k = 1; k < len; k++)
      if (((unsigned char)s[i + (size_t)k] & 0xC0) != 0x80) abort();
    i += (size_t)len;
  }
  if (s.empty() || s.front() != '"' || s.back() != '"') abort();
}

struct to_json : report_handler {
  std::string line;
  json_string_writer text{line};
  bool row(const report_row& r) override {
    if (r.cell_count > r.cells.size()) abort();
    for (size_t i = 0; i < r.cell_count; i++) {
      line.clear();
      json_string(line, r.cells[i].key);
      check_json(line);
      line.clear();
      json_string(line, r.cells[i].value);
      check_json(line);
      if (r.cells[i].integer && r.cells[i].value.empty()) abort();
    }
    return true;
  }
  bool file_begin(const std::string&, const std::string&) override {
    line.clear();
    text.begin();
    return true;
  }
  bool file_text(const char* p, size_t n) override {
    text.add(p, n);
    return true;
  }
  bool file_end(uint32_t, uint64_t) override {
    text.end();
    check_json(line);
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (int force = 0; force < 2; force++) {
    to_json h;
    report_reader r(h);
    r.set_force(force != 0);
    report_status s = r.read_memory((const char*)data, size);
    if (s != REPORT_OK && r.error().empty()) abort();
    if (s == REPORT_OK && !r.error().empty()) abort();
  }
  return 0;
}
