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

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
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

std::string machine_fixture_dir(const std::string& machine) {
  return std::string(ZV_SOURCE_DIR) + "/tests/fixtures/machines/" + machine;
}

bool load_dump_file(const std::string& path, dump& out) {
  bytes all = read_bytes(path);
  if (all.size() < 0x20) return false;
  size_t entry_length = memcmp(all.data(), "_SM3_", 5) == 0 ? 0x18 : 0x1F;
  out.entry.assign(all.begin(), all.begin() + entry_length);
  out.table.assign(all.begin() + 0x20, all.end());
  return true;
}

bytes read_bytes(const std::string& path) {
  std::string text = zvtest::read_file(path);
  return bytes(text.begin(), text.end());
}

bool load_machine(const std::string& machine, dump& out) {
  std::string dir = machine_fixture_dir(machine);
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
  out.table = read_bytes(raw);
  if (out.table.empty()) return false;
  // A raw table as the kernel exports it: the entry point is made up here.
  out.entry = entry_point_32((uint16_t)out.table.size(), 0x20, 0x33);
  return true;
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

bool temp_root::write(const std::string& relative, const std::string& content) const {
  return zvtest::write_file(path(), relative, content);
}

bool temp_root::write(const std::string& relative, const bytes& content) const {
  return write(relative, std::string(content.begin(), content.end()));
}

bool memory_image::save(const temp_root& root) const { return root.write(platform_path::dev_mem, mem); }

bool write_sysfs_tables(const temp_root& root, const dump& d) {
  return root.write(platform_path::smbios_entry_point, d.entry) && root.write(platform_path::smbios_table, d.table);
}

std::string hand_built_path(const std::string& file) {
  return std::string(ZV_SOURCE_DIR) + "/tests/fixtures/smbios/" + file;
}

dump committed_dump(const std::string& name) {
  dump d;
  load_dump_file(hand_built_path(name + ".bin"), d);
  return d;
}

dump dump_of(const bytes& table, unsigned char revision) {
  dump d;
  d.table = table;
  d.entry = entry_point_32((uint16_t)table.size(), 0x20, revision);
  return d;
}

bool init_from_dump(Dmi& dmi, const dump& d) {
  return dmi.init_from_bytes(d.entry.data(), d.entry.size(), d.table.data(), d.table.size());
}

bytes bios_vpd_block(const std::string& bios, const std::string& serial, const std::string& board,
                const std::string& model) {
  bytes b = {0xAA, 0x55, 'V', 'P', 'D'};
  b.resize(13, 0);
  const std::pair<const std::string*, size_t> fields[] = {{&bios, 9}, {&serial, 7}, {&board, 11}, {&model, 7}};
  for (const auto& f : fields)
    for (size_t i = 0; i < f.second; i++) b.push_back(i < f.first->size() ? (unsigned char)(*f.first)[i] : 0);
  return b;
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
