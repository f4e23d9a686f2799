// report_check.cpp - parsers and an independent checksum checker for the
// tests of the report writers.
#include "report_check.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#ifdef ZV_HAVE_EXPAT
#include <expat.h>
#endif

mem_stream::mem_stream() { file = open_memstream(&data, &size); }

mem_stream::~mem_stream() {
  fclose(file);
  free(data);
}

std::string mem_stream::text() {
  fflush(file);
  return std::string(data, size);
}

fd_capture::fd_capture(int which) : fd(which) {
  fflush(which == 1 ? stdout : stderr);
  sink = tmpfile();
  saved = dup(fd);
  dup2(fileno(sink), fd);
}

fd_capture::~fd_capture() { finish(); }

std::string fd_capture::finish() {
  if (saved < 0) return caught;
  fflush(fd == 1 ? stdout : stderr);
  dup2(saved, fd);
  close(saved);
  saved = -1;
  rewind(sink);
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, sink)) > 0) caught.append(buffer, n);
  fclose(sink);
  return caught;
}

temp_file::temp_file(const std::string& content) {
  char pattern[] = "/tmp/zvtestXXXXXX";
  int fd = mkstemp(pattern);
  if (fd >= 0) {
    if (!content.empty() && write(fd, content.data(), content.size()) != (ssize_t)content.size()) name = "";
    close(fd);
  }
  name = pattern;
}

temp_file::~temp_file() { unlink(name.c_str()); }

std::string read_whole_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string element_text(const zvml_check_result& r, const std::string& name, size_t n) {
  for (const auto& e : r.elements)
    if (e.first == name && n-- == 0) return e.second;
  return "<none>";
}

#ifdef ZV_HAVE_EXPAT

bool have_xml_parser() { return true; }

namespace {

/// Sums of one report (the outer one, or an imported one inside it).
struct sums {
  uint16_t row = 0;
  uint16_t table = 0;
  uint32_t section = 0;
  uint32_t report = 0;
  int rows = 0;
  long import_start = -1;
};

struct checker {
  const std::string* document;
  zvml_check_result* result;
  std::vector<std::string> stack;
  std::vector<std::string> texts;
  std::vector<sums> reports{sums()};
  std::string file_text;
  bool in_cdata = false;
  XML_Parser parser;

  sums& now() { return reports.back(); }

  void expect(const std::string& what, const std::string& got, const std::string& want) {
    result->checks++;
    if (got != want) result->mismatches.push_back(what + ": written [" + got + "], recomputed [" + want + "]");
  }
};

std::string hex(unsigned value, int width) {
  char b[32];
  snprintf(b, sizeof b, "%*X", width, value);
  return b;
}

uint16_t narrow_sum(const std::string& s) {
  uint16_t sum = 0;
  for (char c : s) sum = (uint16_t)(sum + (uint16_t)(int16_t)(signed char)c);
  return sum;
}

/// Sum of the code points of UTF-8 text (well-formed, as the parser passed it).
uint32_t code_point_sum(const std::string& s) {
  uint32_t sum = 0;
  for (size_t i = 0; i < s.size();) {
    unsigned char b = (unsigned char)s[i];
    int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
    uint32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
    for (int k = 1; k <= extra && i + k < s.size(); k++) c = c << 6 | ((unsigned char)s[i + k] & 0x3F);
    sum += c;
    i += 1 + extra;
  }
  return sum;
}

bool is_cell(const std::string& n) {
  return n == "STR" || n == "ASC" || n == "DEC" || n == "HEX" || n == "BOOL" || n == "DATE" || n == "TIME" ||
         n == "DATETIME";
}

void XMLCALL on_start(void* data, const XML_Char* name, const XML_Char**) {
  checker& c = *(checker*)data;
  std::string n = name;
  if (n == "ROW") {
    c.now().row = 0;
    c.now().rows++;
  } else if (n == "TABLE") {
    c.now().table = 0;
    c.now().rows = 0;
  } else if (n == "SECTION") {
    c.now().section = 0;
  } else if (n == "FILE") {
    c.file_text.clear();
  }
  c.stack.push_back(n);
  c.texts.emplace_back();
}

void XMLCALL on_text(void* data, const XML_Char* s, int len) {
  checker& c = *(checker*)data;
  if (c.texts.empty()) return;
  c.texts.back().append(s, (size_t)len);
  if (c.in_cdata && c.stack.back() == "FILE") c.file_text.append(s, (size_t)len);
}

void XMLCALL on_cdata_start(void* data) { ((checker*)data)->in_cdata = true; }
void XMLCALL on_cdata_end(void* data) { ((checker*)data)->in_cdata = false; }

void XMLCALL on_end(void* data, const XML_Char* name) {
  checker& c = *(checker*)data;
  std::string n = name;
  std::string text = c.texts.back();
  c.texts.pop_back();
  c.stack.pop_back();
  c.result->elements.emplace_back(n, text);
  std::string parent = c.stack.empty() ? "" : c.stack.back();
  sums& s = c.now();
  if (is_cell(n) && parent == "ROW") {
    s.row = (uint16_t)(s.row + narrow_sum(text));
  } else if (n == "ROWS" && parent == "TABLE") {
    c.expect("ROWS", text, std::to_string(s.rows));
  } else if (n == "CHK") {
    if (parent == "ROW") {
      c.expect("row CHK", text, hex(s.row, 4));
      s.table = (uint16_t)(s.table + s.row);
    } else if (parent == "TABLE") {
      c.expect("table CHK", text, hex(s.table, 4));
      s.section += s.table;
    } else if (parent == "SECTION") {
      c.expect("section CHK", text, hex(s.section, 8));
      s.report += s.section;
    } else if (parent == "FILE") {
      uint32_t sum = code_point_sum(c.file_text);
      c.expect("file CHK", text, hex(sum, 8));
      s.section += sum;
    } else if (parent == "GATHERED_DATA") {
      c.expect("report CHK", text, hex(s.report, 8));
    }
  }
}

void XMLCALL on_comment(void* data, const XML_Char* text) {
  checker& c = *(checker*)data;
  std::string t = text;
  long at = (long)XML_GetCurrentByteIndex(c.parser);
  if (t.compare(0, 8, " import ") == 0) {
    sums inner;
    long end = at + XML_GetCurrentByteCount(c.parser);
    if (c.document->compare((size_t)end, 2, "\r\n") == 0) end += 2;
    inner.import_start = end;
    c.reports.push_back(inner);
  } else if (t == " end of import " && c.reports.size() > 1) {
    long start = c.now().import_start;
    c.reports.pop_back();
    uint32_t sum = 0;
    for (long i = start; i < at; i++) sum += (unsigned char)(*c.document)[(size_t)i];
    c.now().report += sum ? sum : 42;
  }
}

}  // namespace

zvml_check_result check_zvml(const std::string& document) {
  zvml_check_result result;
  checker c;
  c.document = &document;
  c.result = &result;
  c.parser = XML_ParserCreate(nullptr);
  XML_SetUserData(c.parser, &c);
  XML_SetElementHandler(c.parser, on_start, on_end);
  XML_SetCharacterDataHandler(c.parser, on_text);
  XML_SetCommentHandler(c.parser, on_comment);
  XML_SetCdataSectionHandler(c.parser, on_cdata_start, on_cdata_end);
  if (XML_Parse(c.parser, document.data(), (int)document.size(), 1) == XML_STATUS_OK) {
    result.parsed = true;
  } else {
    result.error = std::string(XML_ErrorString(XML_GetErrorCode(c.parser))) + " at line " +
                   std::to_string(XML_GetCurrentLineNumber(c.parser));
  }
  XML_ParserFree(c.parser);
  return result;
}

#else

bool have_xml_parser() { return false; }

zvml_check_result check_zvml(const std::string&) {
  zvml_check_result result;
  result.error = "no XML parser in this build";
  return result;
}

#endif

bool have_xmllint() { return access("/usr/bin/xmllint", X_OK) == 0; }

std::string html_xpath(const std::string& html, const std::string& xpath, std::string* errors) {
  temp_file page(html);
  temp_file complaints("");
  std::string out;
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return out;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipe_fds[1], 1);
    int err = open(complaints.path(), O_WRONLY | O_TRUNC);
    if (err >= 0) dup2(err, 2);
    close(pipe_fds[0]);
    execl("/usr/bin/xmllint", "xmllint", "--html", "--xpath", xpath.c_str(), page.path(), (char*)nullptr);
    _exit(127);
  }
  close(pipe_fds[1]);
  char buffer[4096];
  ssize_t n;
  while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, (size_t)n);
  close(pipe_fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (errors) *errors = read_whole_file(complaints.path());
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}
