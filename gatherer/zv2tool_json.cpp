// zv2tool_json.cpp - `zv2tool json`: the report of a container (or a loose
// report) as JSON Lines, one object per table row and one per embedded or
// collected file, each carrying the container's name and the machine's
// identity, so that the output of many containers can be loaded as it is
// into any engine that reads JSON Lines.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "report_input.h"
#include "report_reader.h"
#include "zv2tool_report.h"

namespace {

const char HEX[] = "0123456789abcdef";

/// Length of the well-formed UTF-8 character at p (1..4), 0 when the bytes
/// are not one, -1 when they are the start of one cut off by the end.
int utf8_length(const unsigned char* p, size_t n) {
  unsigned char b = p[0];
  int len;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) len = 2;
  else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;  // no surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  for (int i = 1; i < len; i++) {
    if ((size_t)i >= n) return -1;
    unsigned char c = p[i];
    if (i == 1 ? (c < lo || c > hi) : (c < 0x80 || c > 0xBF)) return 0;
  }
  return len;
}

/// Escapes p[0..n); stops before a character cut off by the end unless
/// `final`. Returns the bytes consumed.
size_t escape(std::string& out, const char* text, size_t n, bool final) {
  const unsigned char* p = (const unsigned char*)text;
  size_t i = 0;
  while (i < n) {
    size_t start = i;
    while (i < n && p[i] >= 0x20 && p[i] < 0x80 && p[i] != '"' && p[i] != '\\') i++;
    out.append(text + start, i - start);
    if (i == n) break;
    unsigned char c = p[i];
    if (c < 0x80) {
      out += '\\';
      switch (c) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '\n': out += 'n'; break;
        case '\r': out += 'r'; break;
        case '\t': out += 't'; break;
        case '\b': out += 'b'; break;
        case '\f': out += 'f'; break;
        default:
          out += "u00";
          out += HEX[c >> 4];
          out += HEX[c & 15];
      }
      i++;
      continue;
    }
    int len = utf8_length(p + i, n - i);
    if (len < 0 && !final) return i;
    if (len <= 0) {
      out += "\\ufffd";
      i++;
      continue;
    }
    out.append(text + i, (size_t)len);
    i += (size_t)len;
  }
  return n;
}

}  // namespace

void json_string(std::string& out, const char* text, size_t size) {
  out += '"';
  escape(out, text, size, true);
  out += '"';
}

void json_string_writer::add(const char* p, size_t n) {
  if (pending_len) {
    std::string joined(pending, pending_len);
    size_t take = n < 4 ? n : 4;
    joined.append(p, take);
    size_t used = escape(out, joined.data(), joined.size(), false);
    if (used < pending_len) {  // still cut off: keep everything
      memcpy(pending, joined.data(), joined.size());
      pending_len = joined.size();
      return;
    }
    size_t from_p = used - pending_len;
    pending_len = 0;
    p += from_p;
    n -= from_p;
  }
  size_t used = escape(out, p, n, false);
  pending_len = n - used;
  memcpy(pending, p + used, pending_len);
}

void json_string_writer::end() {
  if (pending_len) escape(out, pending, pending_len, true);
  pending_len = 0;
  out += '"';
}

namespace {

/// Where the lines go: standard output, or one file per table in a folder.
class json_output {
 public:
  bool to_folder(const std::string& dir, std::string& error) {
    dir_ = dir;
    struct stat st;
    if (lstat(dir.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) {
        error = dir + " is not a folder";
        return false;
      }
    } else if (mkdir(dir.c_str(), 0755) != 0) {
      error = "cannot create " + dir + ": " + strerror(errno);
      return false;
    }
    return true;
  }

  /// Chooses the file for the next lines ("" for files).
  bool select(const std::string& section, const std::string& table, std::string& error) {
    if (dir_.empty()) return true;
    std::string name = table.empty() && section.empty() ? "files" : safe(section) + "." + safe(table);
    if (name == current_) return true;
    if (!flush(error)) return false;
    close_current();
    std::string path = dir_ + "/" + name + ".jsonl";
    bool created = made_.count(name) != 0;
    int flags = O_WRONLY | O_CLOEXEC | O_NOFOLLOW | (created ? O_APPEND : (O_CREAT | O_EXCL));
    fd_ = open(path.c_str(), flags, 0644);
    if (fd_ < 0) {
      error = errno == EEXIST ? "cannot create " + path + ": it exists already (give an empty or new folder)"
                              : "cannot create " + path + ": " + strerror(errno);
      return false;
    }
    made_.insert(name);
    current_ = name;
    return true;
  }

  std::string line;  // the text waiting to be written

  bool maybe_flush(std::string& error) { return line.size() < (1 << 16) || flush(error); }

  bool flush(std::string& error) {
    if (line.empty()) return true;
    bool ok;
    if (dir_.empty()) {
      ok = fwrite(line.data(), 1, line.size(), stdout) == line.size();
      if (!ok) error = std::string("cannot write standard output: ") + strerror(errno);
    } else {
      ok = write_all(fd_, line.data(), line.size());
      if (!ok) error = "cannot write " + dir_ + "/" + current_ + ".jsonl: " + strerror(errno);
    }
    line.clear();
    return ok;
  }

  bool done(std::string& error) {
    bool ok = flush(error);
    close_current();
    return ok;
  }

 private:
  static bool write_all(int fd, const char* p, size_t n) {
    while (n) {
      ssize_t w = write(fd, p, n);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      p += w;
      n -= (size_t)w;
    }
    return true;
  }
  static std::string safe(const std::string& s) {
    std::string out;
    for (char c : s) out += (isalnum((unsigned char)c) || c == '-') ? c : '_';
    if (out.size() > 100) out.resize(100);
    return out.empty() ? "_" : out;
  }
  void close_current() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    current_.clear();
  }

  std::string dir_;
  std::string current_;
  std::set<std::string> made_;
  int fd_ = -1;
};

/// Writes rows and files of one report as JSON Lines.
class json_writer : public report_handler {
 public:
  json_writer(json_output& out, const std::string& file, const machine_identity& id)
      : out(out), file(file), id(id) {}

  /// The members every object starts with.
  void head(const char* record, const std::string& section, const std::string& table,
            const std::string& import) {
    std::string& s = out.line;
    s += "{\"record\":\"";
    s += record;
    s += "\",\"file\":";
    json_string(s, file);
    const std::string* fields[] = {&id.vendor, &id.model, &id.serial, &id.uuid};
    const char* names[] = {"vendor", "model", "serial", "uuid"};
    for (int i = 0; i < 4; i++) {
      s += ",\"";
      s += names[i];
      s += "\":";
      json_string(s, *fields[i]);
    }
    s += ",\"section\":";
    json_string(s, section);
    if (table.size() || std::string(record) == "row") {
      s += ",\"table\":";
      json_string(s, table);
    }
    if (!import.empty()) {
      s += ",\"import\":";
      json_string(s, import);
    }
  }

  bool row(const report_row& r) override {
    if (!id.known() && reader && reader->identity().known()) {
      const report_identity& ri = reader->identity();
      id.vendor = ri.vendor;
      id.model = ri.model;
      id.serial = ri.serial;
      id.uuid = ri.uuid;
    }
    if (!out.select(*r.section, *r.table, error)) return false;
    head("row", *r.section, *r.table, *r.import);
    std::string& s = out.line;
    s += ",\"row\":";
    json_string(s, r.id);
    static const char* const reserved[] = {"record", "file", "vendor", "model", "serial", "uuid",
                                           "section", "table", "import", "row"};
    for (size_t i = 0; i < r.cell_count; i++) {
      const report_cell& c = r.cells[i];
      std::string key = c.key;
      for (int n = 2;; n++) {  // a column named like a member above gets a suffix too
        bool clash = false;
        for (const char* w : reserved) clash = clash || key == w;
        for (size_t j = 0; j < r.cell_count && !clash; j++) clash = j != i && r.cells[j].key == key;
        if (!clash) break;
        key = c.key + "_" + std::to_string(n);
      }
      s += ',';
      json_string(s, key);
      s += ':';
      if (c.integer)
        s += c.value;
      else
        json_string(s, c.value);
    }
    s += "}\n";
    return out.maybe_flush(error);
  }

  bool file_begin(const std::string& section, const std::string& name) override {
    if (!out.select("", "", error)) return false;
    head("file", section, "", "");
    std::string& s = out.line;
    s += ",\"name\":";
    json_string(s, name);
    s += ",\"type\":\"embedded\",\"text\":";
    text.begin();
    return true;
  }
  bool file_text(const char* p, size_t n) override {
    text.add(p, n);
    return out.maybe_flush(error);
  }
  bool file_end(uint32_t, uint64_t) override {
    text.end();
    out.line += "}\n";
    return out.maybe_flush(error);
  }

  json_output& out;
  std::string file;
  machine_identity id;
  report_reader* reader = nullptr;
  std::string error;
  json_string_writer text{out.line};
};

/// A collected file: "Filename: ...", "MIME-Type: ...", an empty line, the content.
bool write_collected(report_input& in, int index, json_writer& w, std::string& error) {
  int fd = in.start_item(index);
  if (fd < 0) {
    error = in.error();
    return false;
  }
  std::string header;
  bool in_header = true;
  std::string name, mime;
  char buf[65536];
  bool ok = true;
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    const char* p = buf;
    size_t left = (size_t)n;
    if (in_header) {
      size_t keep = left;
      if (header.size() + keep > 16384) keep = 16384 - header.size();
      header.append(p, keep);
      size_t end = header.find("\n\n");
      if (end == std::string::npos && header.size() < 16384) continue;
      if (end == std::string::npos) end = header.size();  // no header: all content
      size_t body_from_header = end + 2 <= header.size() ? end + 2 : header.size();
      std::string head = header.substr(0, end);
      size_t a = head.find("Filename: ");
      if (a == 0) name = head.substr(10, head.find('\n') - 10);
      size_t m = head.find("MIME-Type: ");
      if (m != std::string::npos) mime = head.substr(m + 11, head.find('\n', m) == std::string::npos
                                                                  ? std::string::npos
                                                                  : head.find('\n', m) - m - 11);
      if (!w.out.select("", "", error)) {
        ok = false;
        break;
      }
      w.head("file", "", "", "");
      std::string& s = w.out.line;
      s += ",\"name\":";
      json_string(s, name);
      s += ",\"type\":";
      json_string(s, mime);
      s += ",\"text\":";
      w.text.begin();
      w.text.add(header.data() + body_from_header, header.size() - body_from_header);
      // The rest of this read past what the header buffer took.
      p += keep;
      left -= keep;
      in_header = false;
    }
    w.text.add(p, left);
    if (!w.out.maybe_flush(error)) {
      ok = false;
      break;
    }
  }
  if (ok && in_header) {  // shorter than its header
    w.head("file", "", "", "");
    std::string& s = w.out.line;
    s += ",\"name\":\"\",\"type\":\"\",\"text\":";
    w.text.begin();
    w.text.add(header.data(), header.size());
    in_header = false;
  }
  if (ok) {
    w.text.end();
    w.out.line += "}\n";
  }
  bool whole = in.finish();
  if (ok && !whole) {
    error = "collected file (item " + std::to_string(index) + "): " + in.error();
    return false;
  }
  return ok;
}

int usage() {
  fputs("usage: zv2tool json [-o DIR] [--force] FILE...\n", stderr);
  return 2;
}

}  // namespace

int zv2tool_json(int argc, char** argv) {
  std::string dir;
  bool force = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "-o" && i + 1 < argc) dir = argv[++i];
    else if (a == "--force") force = true;
    else if (a.size() > 1 && a[0] == '-') return usage();
    else files.push_back(a);
  }
  if (files.empty()) return usage();
  json_output out;
  std::string error;
  if (!dir.empty() && !out.to_folder(dir, error)) {
    fprintf(stderr, "zv2tool: %s\n", error.c_str());
    return 1;
  }
  int rc = 0;
  for (const std::string& f : files) {
    report_input in;
    if (!in.open(f)) {
      fprintf(stderr, "zv2tool: %s: %s\n", f.c_str(), in.error().c_str());
      rc = 1;
      continue;
    }
    std::string shown = f.substr(f.find_last_of('/') == std::string::npos ? 0 : f.find_last_of('/') + 1);
    json_writer w(out, shown, in.identity());
    report_reader reader(w);
    reader.set_force(force);
    w.reader = &reader;
    int fd = in.start_report();
    if (fd < 0) {
      fprintf(stderr, "zv2tool: %s: %s\n", f.c_str(), in.error().c_str());
      rc = 1;
      continue;
    }
    report_status st = reader.read_fd(fd);
    bool read_all = st == REPORT_OK || (st == REPORT_BAD_CHECKSUM && force);
    bool whole = in.finish();
    if (!w.error.empty()) {
      fprintf(stderr, "zv2tool: %s\n", w.error.c_str());
      return 1;
    }
    if (read_all && !whole) {
      fprintf(stderr, "zv2tool: %s: %s\n", f.c_str(), in.error().c_str());
      rc = 1;
    } else if (st == REPORT_BAD_CHECKSUM) {
      fprintf(stderr, "zv2tool: %s: %s%s\n", f.c_str(), reader.error().c_str(),
              force ? " (--force: gone on; " : " (stopped there; --force goes on)");
      if (force) fprintf(stderr, "zv2tool: %s: %lu checksums do not add up)\n", f.c_str(), reader.mismatches());
      rc = 1;
    } else if (st != REPORT_OK) {
      fprintf(stderr, "zv2tool: %s: %s\n", f.c_str(), (whole ? reader.error() : in.error()).c_str());
      rc = 1;
    }
    if (st != REPORT_OK && !(st == REPORT_BAD_CHECKSUM && force)) {
      if (!out.flush(error)) break;
      continue;
    }
    for (int index : in.collected_items())
      if (!write_collected(in, index, w, error)) {
        fprintf(stderr, "zv2tool: %s: %s\n", f.c_str(), error.c_str());
        rc = 1;
        error.clear();
        break;
      }
    if (!out.flush(error)) break;
  }
  if (!out.done(error) || !error.empty()) {
    fprintf(stderr, "zv2tool: %s\n", error.c_str());
    return 1;
  }
  return rc;
}

int zv2tool_verify_report(const char* path) {
  report_input in;
  if (!in.open(path)) {
    if (in.no_report()) {
      printf("%s: no XML report item, no report checksums to check\n", path);
      return 0;
    }
    fprintf(stderr, "zv2tool: %s: %s\n", path, in.error().c_str());
    return 1;
  }
  report_handler nothing;
  report_reader reader(nothing);
  int fd = in.start_report();
  if (fd < 0) {
    fprintf(stderr, "zv2tool: %s: %s\n", path, in.error().c_str());
    return 1;
  }
  report_status st = reader.read_fd(fd);
  bool whole = in.finish();
  if (st == REPORT_OK && !whole) st = REPORT_READ_ERROR;
  if (st != REPORT_OK) {
    fprintf(stderr, "zv2tool: %s: report: %s\n", path, (st == REPORT_READ_ERROR && !whole ? in.error() : reader.error()).c_str());
    return 1;
  }
  printf("%s: report (%s form): well-formed, %lu rows, %lu checksums and counts add up\n", path,
         report_form_name(reader.form()), reader.rows_read(), reader.checksums_checked());
  return 0;
}
