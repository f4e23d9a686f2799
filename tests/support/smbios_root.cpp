// smbios_root.cpp - SMBIOS tables, dumps and machine roots for the tests.
#include "smbios_root.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform_paths.h"
#include "sysroot.h"

namespace smbios_test {

namespace {

void put16(bytes& b, size_t at, uint16_t v) {
  b[at] = v & 0xFF;
  b[at + 1] = v >> 8;
}

void put32(bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) b[at + i] = (v >> (8 * i)) & 0xFF;
}

/// Sets b[at] so that the `n` bytes from `from` sum to zero.
void fix_checksum(bytes& b, size_t from, size_t n, size_t at) {
  b[at] = 0;
  unsigned char sum = 0;
  for (size_t i = 0; i < n; i++) sum += b[from + i];
  b[at] = (unsigned char)(0x100 - sum);
}

bool read_whole_file(const std::string& path, bytes& out) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  out.clear();
  unsigned char chunk[4096];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) out.insert(out.end(), chunk, chunk + got);
  fclose(f);
  return true;
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

void remove_tree(const std::string& path) {
  DIR* d = opendir(path.c_str());
  if (d) {
    while (struct dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      remove_tree(path + "/" + name);
    }
    closedir(d);
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

}  // namespace

table_builder& table_builder::add(unsigned char type, const bytes& fields,
                                  const std::vector<std::string>& strings) {
  table.push_back(type);
  table.push_back((unsigned char)(4 + fields.size()));
  table.push_back(next_handle & 0xFF);
  table.push_back(next_handle >> 8);
  next_handle++;
  table.insert(table.end(), fields.begin(), fields.end());
  for (const std::string& s : strings) {
    table.insert(table.end(), s.begin(), s.end());
    table.push_back(0);
  }
  if (strings.empty()) table.push_back(0);
  table.push_back(0);
  return *this;
}

table_builder& table_builder::raw(const bytes& b) {
  table.insert(table.end(), b.begin(), b.end());
  return *this;
}

table_builder& table_builder::end() { return add(127, {}); }

bytes entry_point_32(uint16_t length, uint32_t address, unsigned char bcd_revision, uint16_t count) {
  bytes e(0x1F, 0);
  memcpy(e.data(), "_SM_", 4);
  e[5] = 0x1F;
  e[6] = bcd_revision >> 4;
  e[7] = bcd_revision & 0x0F;
  memcpy(e.data() + 0x10, "_DMI_", 5);
  put16(e, 0x16, length);
  put16(e, 0x1C, count);
  e[0x1E] = bcd_revision;
  relocate_entry_point(e, address);
  return e;
}

void relocate_entry_point(bytes& e, uint32_t address) {
  put32(e, 0x18, address);
  fix_checksum(e, 0x10, 15, 0x15);
  fix_checksum(e, 0, e[5], 4);
}

std::string shared_fixture_dir(const std::string& machine) {
  // The environment may name the folder when the build tree does not sit
  // beside it (a separate work tree).
  const char* shared = getenv("ZV_SHARED_FIXTURES");
  return std::string(shared && *shared ? shared : ZV_SHARED_FIXTURES) + "/smbios/" + machine;
}

bool load_dump_file(const std::string& path, dump& out) {
  bytes all;
  if (!read_whole_file(path, all) || all.size() < 0x20) return false;
  size_t entry_length = memcmp(all.data(), "_SM3_", 5) == 0 ? 0x18 : 0x1F;
  out.entry.assign(all.begin(), all.begin() + entry_length);
  out.table.assign(all.begin() + 0x20, all.end());
  return true;
}

bool write_bytes(const std::string& path, const bytes& content) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = content.empty() || fwrite(content.data(), 1, content.size(), f) == content.size();
  return fclose(f) == 0 && ok;
}

bool save_dump_file(const std::string& path, const dump& d) {
  bytes all(0x20, 0);
  std::copy(d.entry.begin(), d.entry.end(), all.begin());
  all.insert(all.end(), d.table.begin(), d.table.end());
  return write_bytes(path, all);
}

bool load_machine(const std::string& machine, dump& out) {
  std::string dir = shared_fixture_dir(machine);
  DIR* d = opendir(dir.c_str());
  if (!d) return false;
  std::string bin, raw;
  while (struct dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (ends_with(name, ".bin")) bin = dir + "/" + name;
    if (ends_with(name, ".dmi")) raw = dir + "/" + name;
  }
  closedir(d);
  if (!bin.empty()) return load_dump_file(bin, out);
  if (raw.empty() || !read_whole_file(raw, out.table)) return false;
  // A raw table as the kernel exports it: the entry point is made up here.
  out.entry = entry_point_32((uint16_t)out.table.size(), 0x20, 0x33);
  return true;
}

temp_root::temp_root() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/zv-smbios-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back(0);
  dir = mkdtemp(name.data()) ? name.data() : "";
}

temp_root::~temp_root() {
  if (!dir.empty()) remove_tree(dir);
}

bool temp_root::write(const std::string& relative, const bytes& content) const {
  std::string path = dir;
  size_t pos = 0;
  std::string rel = relative[0] == '/' ? relative.substr(1) : relative;
  while ((pos = rel.find('/', pos)) != std::string::npos) {
    mkdir((dir + "/" + rel.substr(0, pos)).c_str(), 0700);
    pos++;
  }
  return write_bytes(dir + "/" + rel, content);
}

bool temp_root::write(const std::string& relative, const std::string& content) const {
  return write(relative, bytes(content.begin(), content.end()));
}

void memory_image::put(uint32_t address, const bytes& b) {
  std::copy(b.begin(), b.end(), mem.begin() + address);
}

void memory_image::put_dump(const dump& d, uint32_t entry_address, uint32_t table_address) {
  bytes entry = d.entry;
  if (memcmp(entry.data(), "_SM_", 4) == 0) relocate_entry_point(entry, table_address);
  put(entry_address, entry);
  put(table_address, d.table);
}

bool memory_image::save(const temp_root& root) const { return root.write(platform_path::dev_mem, mem); }

bool write_sysfs_tables(const temp_root& root, const dump& d) {
  return root.write(platform_path::smbios_entry_point, d.entry) &&
         root.write(platform_path::smbios_table, d.table);
}

bool read_bytes(const std::string& path, bytes& out) { return read_whole_file(path, out); }

std::string hand_built_path(const std::string& file) {
  return std::string(ZV_SOURCE_DIR) + "/tests/fixtures/smbios/" + file;
}

namespace {

/// A BIOS structure (type 0, SMBIOS 2.0 length) with vendor, version, date.
void add_bios(table_builder& t, const std::string& version, const std::string& date) {
  t.add(0, {1, 2, 0x00, 0xE0, 3, 0x0F, 0x80, 0, 0, 0, 0, 0, 0, 0}, {"Acme BIOS", version, date});
}

dump finish(const table_builder& t, unsigned char revision) {
  dump d;
  d.table = t.data();
  d.entry = entry_point_32((uint16_t)d.table.size(), 0x20, revision);
  return d;
}

const bytes UUID = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                    0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};

bytes system_fields(unsigned length) {
  bytes f = {1, 2, 3, 4};
  f.insert(f.end(), UUID.begin(), UUID.end());
  f.push_back(6);  // wake-up: power switch
  f.resize(length - 4);
  return f;
}

}  // namespace

dump hand_built_dump(const std::string& name) {
  table_builder t;
  if (name == "type5-no-terminator") {
    add_bios(t, "1.00", "01/02/2003");
    // Memory controller of two slots, 2048 MB modules at most, ended
    // without the double zero; the two modules follow at once.
    bytes controller = {3, 0x04, 3, 3, 11, 0x0C, 0x00, 0x14, 0x00, 0x02, 2, 0x02, 0x00, 0x03, 0x00};
    t.raw({5, (unsigned char)(4 + controller.size()), 0x40, 0x00});
    t.raw(controller);
    t.add(6, {1, 0x01, 60, 0x14, 0x00, 10, 10, 0}, {"DIMM0"});
    t.add(6, {1, 0x23, 60, 0x14, 0x00, 0x7F, 0x7F, 0}, {"DIMM1"});
    t.end();
    return finish(t, 0x23);
  }
  if (name == "type1-length24") {
    add_bios(t, "2.10", "11/30/2001");
    t.add(1, system_fields(24), {"Acme", "Box 1", "1.0", "SN123"});
    t.end();
    return finish(t, 0x21);
  }
  if (name == "no-strings") {
    add_bios(t, "3.00", "07/04/2005");
    bytes fields = system_fields(25);
    fields[0] = fields[1] = fields[2] = fields[3] = 0;
    t.add(1, fields);
    t.add(2, {1, 2, 3, 4});
    t.add(3, {1, 3, 0, 2, 0, 3, 3, 3, 3}, {"Chassis Co"});
    t.end();
    return finish(t, 0x24);
  }
  if (name == "architected-model") {
    add_bios(t, "4.00", "02/29/2008");
    t.add(1, system_fields(25), {"HALVEX", "Model -[4455-QRS]-", "1.0", "99X1234"});
    t.end();
    return finish(t, 0x25);
  }
  return dump();
}

bytes bad_checksum_segment() {
  table_builder wrong, right;
  wrong.add(1, system_fields(25), {"Wrong Vendor", "W", "1", "W1"}).end();
  right.add(1, system_fields(25), {"Right Vendor", "R", "1", "R1"}).end();
  bytes segment(0x300, 0);
  bytes bad = entry_point_32((uint16_t)wrong.data().size(), 0xF0100, 0x23);
  bad[0x15] ^= 0x5A;  // spoil the checksum of the first "_DMI_" header
  std::copy(bad.begin() + 0x10, bad.end(), segment.begin() + 0x10);
  bytes good = entry_point_32((uint16_t)right.data().size(), 0xF0200, 0x23);
  std::copy(good.begin() + 0x10, good.end(), segment.begin() + 0x40);
  std::copy(wrong.data().begin(), wrong.data().end(), segment.begin() + 0x100);
  std::copy(right.data().begin(), right.data().end(), segment.begin() + 0x200);
  return segment;
}

std::vector<std::vector<std::string>> text_table(const std::string& report, const std::string& title) {
  std::vector<std::vector<std::string>> rows;
  size_t at = report.find("Table: " + title + "\n");
  if (at == std::string::npos) return rows;
  size_t pos = report.find('\n', at) + 1;
  int borders = 0;
  while (pos < report.size() && borders < 3) {
    size_t end = report.find('\n', pos);
    if (end == std::string::npos) end = report.size();
    std::string line = report.substr(pos, end - pos);
    pos = end + 1;
    if (line.compare(0, 1, "+") == 0) {
      borders++;
      continue;
    }
    if (borders != 2 || line.compare(0, 1, "|") != 0) continue;
    std::vector<std::string> cells;
    size_t from = 1, bar;
    while ((bar = line.find('|', from)) != std::string::npos) {
      std::string cell = line.substr(from, bar - from);
      size_t first = cell.find_first_not_of(' '), last = cell.find_last_not_of(' ');
      cells.push_back(first == std::string::npos ? "" : cell.substr(first, last - first + 1));
      from = bar + 1;
    }
    rows.push_back(cells);
  }
  return rows;
}

scoped_sysroot::scoped_sysroot(const temp_root& root) { sysroot_set(root.path().c_str()); }
scoped_sysroot::~scoped_sysroot() { sysroot_set(nullptr); }

}  // namespace smbios_test
