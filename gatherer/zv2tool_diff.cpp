// zv2tool_diff.cpp - `zv2tool diff A B`: what changed between the reports of
// two runs on one machine. Every row (and every embedded file, as its size
// and checksum) of each report becomes a record keyed by import, section,
// table and row id; the records are sorted in bounded memory (runs of at
// most 8 MiB spill to anonymous temporary files and are merged), and the
// two sorted streams are walked side by side. Rows with the same key pair
// up in report order.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <memory>
#include <queue>
#include <string>
#include <vector>

#include "report_input.h"
#include "report_reader.h"
#include "zv2tool_report.h"

namespace {

const size_t RUN_BYTES = 8 << 20;

void put32(std::string& s, uint32_t v) { s.append((const char*)&v, 4); }
uint32_t get32(const char* p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}

/// Record: [u32 key length][key][u64 sequence][u32 cells]{[u32][name][u32][value]}.
/// The key is import NUL section NUL table NUL row id.
struct record_view {
  const char* data;
  size_t size;
  const char* key() const { return data + 4; }
  uint32_t key_size() const { return get32(data); }
  uint64_t seq() const {
    uint64_t v;
    memcpy(&v, data + 4 + key_size(), 8);
    return v;
  }
};

bool record_less(const record_view& a, const record_view& b) {
  size_t ka = a.key_size(), kb = b.key_size();
  int c = memcmp(a.key(), b.key(), std::min(ka, kb));
  if (c != 0) return c < 0;
  if (ka != kb) return ka < kb;
  return a.seq() < b.seq();
}

/// Sorts the records of one report in bounded memory.
class record_sorter {
 public:
  ~record_sorter() {
    for (FILE* f : runs) fclose(f);
  }
  bool add(const std::string& rec, std::string& error) {
    if (arena.capacity() < RUN_BYTES) arena.reserve(RUN_BYTES + (64 << 10));
    offsets.push_back(arena.size());
    put32(arena, (uint32_t)rec.size());
    arena += rec;
    if (arena.size() >= RUN_BYTES) return spill(error);
    return true;
  }
  /// Ends the input; afterwards next() yields the records in order.
  bool finish(std::string& error) {
    sort_arena();
    if (!runs.empty()) {
      if (!offsets.empty() && !spill(error)) return false;
      for (size_t i = 0; i < runs.size(); i++) {
        rewind(runs[i]);
        heads.emplace_back();
        if (read_run(i)) queue.push(i);
      }
    }
    return true;
  }
  /// The next record in order; false at the end.
  bool next(std::string& out) {
    if (runs.empty()) {
      if (cursor >= offsets.size()) return false;
      const char* p = arena.data() + offsets[cursor++];
      out.assign(p + 4, get32(p));
      return true;
    }
    if (queue.empty()) return false;
    size_t i = queue.top();
    queue.pop();
    out.swap(heads[i]);
    if (read_run(i)) queue.push(i);
    return true;
  }
  bool read_error = false;

 private:
  void sort_arena() {
    std::sort(offsets.begin(), offsets.end(), [this](size_t a, size_t b) {
      const char* pa = arena.data() + a;
      const char* pb = arena.data() + b;
      return record_less({pa + 4, get32(pa)}, {pb + 4, get32(pb)});
    });
  }
  bool spill(std::string& error) {
    sort_arena();
    FILE* f = tmpfile();
    if (!f) {
      error = std::string("cannot create a temporary file: ") + strerror(errno);
      return false;
    }
    for (size_t off : offsets) {
      const char* p = arena.data() + off;
      if (fwrite(p, 1, 4 + get32(p), f) != 4 + get32(p)) {
        error = std::string("cannot write a temporary file: ") + strerror(errno);
        fclose(f);
        return false;
      }
    }
    if (fflush(f) != 0) {
      error = std::string("cannot write a temporary file: ") + strerror(errno);
      fclose(f);
      return false;
    }
    runs.push_back(f);
    arena.clear();
    arena.shrink_to_fit();
    offsets.clear();
    return true;
  }
  bool read_run(size_t i) {
    char n[4];
    if (fread(n, 1, 4, runs[i]) != 4) return false;
    heads[i].resize(get32(n));
    if (fread(&heads[i][0], 1, heads[i].size(), runs[i]) != heads[i].size()) {
      read_error = true;
      return false;
    }
    return true;
  }
  struct later {
    const std::vector<std::string>* heads;
    bool operator()(size_t a, size_t b) const {
      const std::string& x = (*heads)[a];
      const std::string& y = (*heads)[b];
      return record_less({y.data(), y.size()}, {x.data(), x.size()});
    }
  };

  std::string arena;
  std::vector<size_t> offsets;
  size_t cursor = 0;
  std::vector<FILE*> runs;
  std::vector<std::string> heads;
  std::priority_queue<size_t, std::vector<size_t>, later> queue{later{&heads}};
};

/// Turns a report's rows and files into records.
class collector : public report_handler {
 public:
  explicit collector(record_sorter& sorter) : sorter(sorter) {}
  bool row(const report_row& r) override {
    rec.clear();
    std::string key = *r.import + '\0' + *r.section + '\0' + *r.table + '\0' + r.id;
    put32(rec, (uint32_t)key.size());
    rec += key;
    rec.append((const char*)&seq, 8);
    seq++;
    put32(rec, (uint32_t)r.cell_count);
    for (size_t i = 0; i < r.cell_count; i++) {
      put32(rec, (uint32_t)r.cells[i].key.size());
      rec += r.cells[i].key;
      put32(rec, (uint32_t)r.cells[i].value.size());
      rec += r.cells[i].value;
    }
    return sorter.add(rec, error);
  }
  bool file_begin(const std::string& section, const std::string& name) override {
    file_section = section;
    file_name = name;
    return true;
  }
  bool file_end(uint32_t checksum, uint64_t bytes) override {
    report_row r;
    std::string table = "(embedded file)";
    std::string none;
    r.section = &file_section;
    r.table = &table;
    r.import = &none;
    r.id = file_name;
    r.cells.resize(2);
    r.cells[0].key = "bytes";
    r.cells[0].value = std::to_string(bytes);
    char hex[16];
    snprintf(hex, sizeof hex, "%X", (unsigned)checksum);
    r.cells[1].key = "checksum";
    r.cells[1].value = hex;
    r.cell_count = 2;
    return row(r);
  }
  record_sorter& sorter;
  std::string rec, error, file_section, file_name;
  uint64_t seq = 0;
};

struct parsed {
  std::string import, section, table, id;
  std::vector<std::pair<std::string, std::string>> cells;
  std::string key;  // for comparing
};

void parse(const std::string& rec, parsed& out) {
  const char* p = rec.data();
  uint32_t klen = get32(p);
  out.key.assign(p + 4, klen);
  size_t a = out.key.find('\0'), b = out.key.find('\0', a + 1), c = out.key.find('\0', b + 1);
  out.import = out.key.substr(0, a);
  out.section = out.key.substr(a + 1, b - a - 1);
  out.table = out.key.substr(b + 1, c - b - 1);
  out.id = out.key.substr(c + 1);
  p += 4 + klen + 8;
  uint32_t n = get32(p);
  p += 4;
  out.cells.resize(n);
  for (uint32_t i = 0; i < n; i++) {
    uint32_t l = get32(p);
    out.cells[i].first.assign(p + 4, l);
    p += 4 + l;
    l = get32(p);
    out.cells[i].second.assign(p + 4, l);
    p += 4 + l;
  }
}

/// Values that name the moment of the run: left out unless --all.
struct moment_column {
  const char *section, *table, *column;
};
const moment_column MOMENT[] = {
    {"TIME ZONE", "Current Time", "Date"},
    {"TIME ZONE", "Current Time", "Time"},
    {"Processes", "Process List", "PID"},
    {"FILESCAN", "FILESCAN RESULTS", "Elapsed Time in seconds"},
};

/// Names compared as the plain XML form writes them too ("TIME_ZONE").
bool same_name(const std::string& a, const char* b) {
  size_t n = strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; i++) {
    char x = (char)toupper((unsigned char)a[i]), y = (char)toupper((unsigned char)b[i]);
    if (x == ' ') x = '_';
    if (y == ' ') y = '_';
    if (x != y) return false;
  }
  return true;
}

bool is_moment(const parsed& r, const std::string& column) {
  for (const moment_column& m : MOMENT)
    if (same_name(r.section, m.section) && same_name(r.table, m.table) && same_name(column, m.column)) return true;
  return false;
}

std::string shown(const std::string& v) {
  std::string out;
  json_string(out, v.size() > 200 ? v.substr(0, 200) + "..." : v);
  return out;
}

class difference_printer {
 public:
  difference_printer(bool json, bool all, const std::string& a, const std::string& b)
      : json(json), all(all), name_a(a), name_b(b) {}

  void added(const parsed& r) { one_side(r, '+', "added"); }
  void removed(const parsed& r) { one_side(r, '-', "removed"); }

  void compare(const parsed& a, const parsed& b) {
    std::vector<const std::pair<std::string, std::string>*> seen;
    std::string terminal, members;
    auto note = [&](const std::string& col, const std::string* o, const std::string* n) {
      if (!all && is_moment(a, col)) return;
      static const std::string none;
      if (json) {
        if (!members.empty()) members += ',';
        json_string(members, col);
        members += ":{\"old\":";
        if (o) json_string(members, *o); else members += "null";
        members += ",\"new\":";
        if (n) json_string(members, *n); else members += "null";
        members += '}';
      } else {
        terminal += "      " + col + ": " + (o ? shown(*o) : "(none)") + " -> " + (n ? shown(*n) : "(none)") + "\n";
      }
    };
    for (const auto& ca : a.cells) {
      const std::string* nb = nullptr;
      for (const auto& cb : b.cells)
        if (cb.first == ca.first) nb = &cb.second;
      if (!nb || *nb != ca.second) note(ca.first, &ca.second, nb);
    }
    for (const auto& cb : b.cells) {
      bool in_a = false;
      for (const auto& ca : a.cells) in_a = in_a || ca.first == cb.first;
      if (!in_a) note(cb.first, nullptr, &cb.second);
    }
    if (terminal.empty() && members.empty()) return;
    changed_count++;
    if (json) {
      std::string s = head(a, "changed");
      s += ",\"columns\":{" + members + "}}\n";
      fputs(s.c_str(), stdout);
    } else {
      header(a);
      printf("  ~ row %s\n%s", shown(a.id).c_str(), terminal.c_str());
    }
  }

  void summary() {
    if (json || (added_count + removed_count + changed_count) == 0) return;
    printf("%lu row%s added, %lu removed, %lu changed, in %lu table%s\n", added_count,
           added_count == 1 ? "" : "s", removed_count, changed_count, tables, tables == 1 ? "" : "s");
  }
  unsigned long differences() const { return added_count + removed_count + changed_count; }

 private:
  std::string head(const parsed& r, const char* change) {
    std::string s = "{\"change\":\"";
    s += change;
    s += "\"";
    if (!r.import.empty()) {
      s += ",\"import\":";
      json_string(s, r.import);
    }
    s += ",\"section\":";
    json_string(s, r.section);
    s += ",\"table\":";
    json_string(s, r.table);
    s += ",\"row\":";
    json_string(s, r.id);
    return s;
  }
  void header(const parsed& r) {
    std::string key = r.import + '\0' + r.section + '\0' + r.table;
    if (key == last_table) return;
    if (last_table.empty()) printf("--- %s\n+++ %s\n", name_a.c_str(), name_b.c_str());
    last_table = key;
    tables++;
    printf("%s%ssection %s, table %s:\n", r.import.empty() ? "" : ("import " + shown(r.import) + ", ").c_str(), "",
           shown(r.section).c_str(), shown(r.table).c_str());
  }
  void one_side(const parsed& r, char mark, const char* change) {
    (mark == '+' ? added_count : removed_count)++;
    if (json) {
      std::string s = head(r, change);
      s += ",\"values\":{";
      for (size_t i = 0; i < r.cells.size(); i++) {
        if (i) s += ',';
        json_string(s, r.cells[i].first);
        s += ':';
        json_string(s, r.cells[i].second);
      }
      s += "}}\n";
      fputs(s.c_str(), stdout);
      return;
    }
    header(r);
    std::string line = std::string("  ") + mark + " row " + shown(r.id) + ":";
    for (const auto& c : r.cells) line += " " + c.first + "=" + shown(c.second);
    printf("%s\n", line.c_str());
  }

  bool json, all;
  std::string name_a, name_b;
  std::string last_table;
  unsigned long added_count = 0, removed_count = 0, changed_count = 0, tables = 0;
};

struct side {
  std::string path;
  report_input in;
  record_sorter sorter;
  machine_identity id;
};

/// Reads one report into its sorter; false after a message.
bool load(side& s, bool force) {
  if (!s.in.open(s.path)) {
    fprintf(stderr, "zv2tool: %s: %s\n", s.path.c_str(), s.in.error().c_str());
    return false;
  }
  collector c(s.sorter);
  report_reader reader(c);
  reader.set_force(force);
  int fd = s.in.start_report();
  if (fd < 0) {
    fprintf(stderr, "zv2tool: %s: %s\n", s.path.c_str(), s.in.error().c_str());
    return false;
  }
  report_status st = reader.read_fd(fd);
  bool whole = s.in.finish();
  if (!c.error.empty()) {
    fprintf(stderr, "zv2tool: %s: %s\n", s.path.c_str(), c.error.c_str());
    return false;
  }
  bool read_all = st == REPORT_OK || (st == REPORT_BAD_CHECKSUM && force);
  if (read_all && !whole) {
    fprintf(stderr, "zv2tool: %s: %s\n", s.path.c_str(), s.in.error().c_str());
    return false;
  }
  if (st == REPORT_BAD_CHECKSUM) {
    fprintf(stderr, "zv2tool: %s: %s%s\n", s.path.c_str(), reader.error().c_str(),
            force ? " (--force: compared all the same)" : " (--force compares all the same)");
    if (!force) return false;
  } else if (st != REPORT_OK) {
    fprintf(stderr, "zv2tool: %s: %s\n", s.path.c_str(), (whole ? reader.error() : s.in.error()).c_str());
    return false;
  }
  s.id = s.in.identity();
  if (!s.id.known()) {
    const report_identity& r = reader.identity();
    s.id.vendor = r.vendor;
    s.id.model = r.model;
    s.id.serial = r.serial;
    s.id.uuid = r.uuid;
  }
  std::string error;
  if (!s.sorter.finish(error)) {
    fprintf(stderr, "zv2tool: %s\n", error.c_str());
    return false;
  }
  return true;
}

std::string machine_text(const machine_identity& m) {
  return m.vendor + " " + m.model + ", serial " + m.serial + ", UUID " + m.uuid;
}

}  // namespace

int zv2tool_diff(int argc, char** argv) {
  bool all = false, json = false, force = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--all") all = true;
    else if (a == "--json") json = true;
    else if (a == "--force") force = true;
    else if (a.size() > 1 && a[0] == '-') files.push_back("-bad-");
    else files.push_back(a);
  }
  if (files.size() != 2 || files[0] == "-bad-" || files[1] == "-bad-") {
    fputs("usage: zv2tool diff [--all] [--json] [--force] A B\n", stderr);
    return 2;
  }
  std::unique_ptr<side> a(new side), b(new side);
  a->path = files[0];
  b->path = files[1];
  if (!load(*a, force) || !load(*b, force)) return 2;
  if (different_machines(a->id, b->id)) {
    fprintf(stderr, "zv2tool: %s and %s are reports of different machines (%s; %s)%s\n", a->path.c_str(),
            b->path.c_str(), machine_text(a->id).c_str(), machine_text(b->id).c_str(),
            force ? "; compared all the same (--force)" : "; --force compares them all the same");
    if (!force) return 2;
  }
  difference_printer out(json, all, a->path, b->path);
  std::string ra, rb;
  parsed pa, pb;
  bool has_a = a->sorter.next(ra), has_b = b->sorter.next(rb);
  if (has_a) parse(ra, pa);
  if (has_b) parse(rb, pb);
  while (has_a || has_b) {
    int c = !has_a ? 1 : !has_b ? -1 : pa.key.compare(pb.key);
    if (c < 0) {
      out.removed(pa);
    } else if (c > 0) {
      out.added(pb);
    } else {
      out.compare(pa, pb);
    }
    if (c <= 0 && (has_a = a->sorter.next(ra))) parse(ra, pa);
    if (c >= 0 && (has_b = b->sorter.next(rb))) parse(rb, pb);
  }
  if (a->sorter.read_error || b->sorter.read_error) {
    fprintf(stderr, "zv2tool: a temporary file could not be read back\n");
    return 2;
  }
  out.summary();
  if (fflush(stdout) != 0 || ferror(stdout)) return 2;
  return out.differences() ? 1 : 0;
}
