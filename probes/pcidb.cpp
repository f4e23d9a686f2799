// pcidb.cpp - the PCI id file: loading and the name lookups.
//
// The file is read once into memory and parsed in one pass into parallel
// arrays with all names in one block. Lookups answer exactly as a scan of
// the records from the start would: the index only finds the first V record
// of a vendor, the rest is a scan of that vendor's block.
#include "pcidb.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "debug.h"
#include "safe_file.h"
#include "utf8.h"
#include "zelvarn2.h"

pci_database* pci_database::instance = nullptr;

namespace {

const char* const DB_NAME = "pcidb.txt";
/// A line is read in pieces of at most this many characters.
const size_t PIECE = 255;
/// The largest id file read (the real one is about 1.5 MB).
const size_t MAX_FILE = 64u << 20;

bool is_record_type(char c) { return c && strchr("VDROSXCU", c) != nullptr; }
/// Records that end a vendor's block: the next vendor and the class list.
bool ends_vendor_block(char c) { return c == 'V' || c == 'C' || c == 'U'; }
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/// Length of `text` without a UTF-8 sequence left incomplete at its end.
size_t utf8_whole(const char* text, size_t len) {
  size_t lead = len;
  for (size_t back = 0; back < 4 && lead > 0; back++) {
    lead--;
    unsigned char c = (unsigned char)text[lead];
    if ((c & 0xC0) != 0x80) {
      size_t need = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
      return lead + need > len ? lead : len;
    }
  }
  return len;
}

/// One record line: type letter, blanks, hex id (an optional "0x"), blanks,
/// and the name as the rest of the piece. False for a line without an id or
/// a name.
bool parse_record(const char* p, size_t len, bool cut, char* type, uint32_t* id, const char** name,
                  size_t* name_len) {
  size_t i = 1;
  *type = p[0];
  while (i < len && is_blank(p[i])) i++;
  if (i + 2 < len && p[i] == '0' && (p[i + 1] == 'x' || p[i + 1] == 'X') && hex_value(p[i + 2]) >= 0) i += 2;
  size_t digits = 0;
  uint32_t value = 0;
  for (; i < len && hex_value(p[i]) >= 0; i++, digits++) value = value * 16 + (uint32_t)hex_value(p[i]);
  if (digits == 0) return false;
  while (i < len && is_blank(p[i])) i++;
  if (i >= len) return false;
  *id = value;
  *name = p + i;
  *name_len = cut ? utf8_whole(p + i, len - i) : len - i;
  return *name_len > 0;
}

}  // namespace

pci_database* pci_database::get_instance() {
  if (!instance) {
    instance = new pci_database();
    instance->load();
  }
  return instance;
}

void pci_database::reset() {
  delete instance;
  instance = nullptr;
}

int pci_database::load_text(const char* data, size_t size) {
  types.clear();
  ids.clear();
  name_at.clear();
  arena.clear();
  first_vendor.clear();
  class_names.clear();
  record_count = 0;
  longest_name = 8;
  if (!data) size = 0;
  // Names take at most the bytes of the text plus one terminator per line.
  arena.reserve(size + size / 16 + 16);

  size_t pos = 0;
  while (pos < size) {
    const char* line = data + pos;
    const char* nl = (const char*)memchr(line, '\n', size - pos);
    size_t len = nl ? (size_t)(nl - line) : size - pos;
    pos += len + (nl ? 1 : 0);
    // A line longer than a piece is taken from its beginning only; its later
    // pieces are never records.
    bool cut = len > PIECE;
    size_t piece = cut ? PIECE : len;
    char type;
    uint32_t id;
    const char* name;
    size_t name_len;
    if (piece == 0 || !is_record_type(line[0]) || !parse_record(line, piece, cut, &type, &id, &name, &name_len)) {
      if (debug_log_enabled()) printd("pcidb: ignored <%.*s>\n", (int)piece, line);
      continue;
    }
    // An embedded NUL ends the name, as it would in a C string; a file
    // written with CR LF line ends names nothing with a CR at its end.
    name_len = strnlen(name, name_len);
    while (name_len > 0 && name[name_len - 1] == '\r') name_len--;
    if (name_len == 0) continue;
    types.push_back(type);
    ids.push_back(id);
    name_at.push_back(arena.size());
    arena.insert(arena.end(), name, name + name_len);
    arena.push_back('\0');
    if ((int)name_len + 1 > longest_name) longest_name = (int)name_len + 1;
    if (type == 'V') first_vendor.emplace(id, (int)types.size() - 1);
    if (type == 'C' && id <= 0xFF) class_names.emplace(0x10000u | id, (int)types.size() - 1);
    if (type == 'U' && id <= 0xFFFF) class_names.emplace(id, (int)types.size() - 1);
  }
  record_count = (int)types.size();
  return record_count;
}

int pci_database::load(const char* path) {
  printd("pcidb: trying to load %s\n", path ? path : "");
  std::vector<char> text;
  FILE* f = path ? open_regular_file(path, "rb") : nullptr;
  if (!f) {
    print_error(path ? path : "", path ? errno : EINVAL);
  } else {
    char buffer[65536];
    size_t n;
    while (text.size() < MAX_FILE && (n = fread(buffer, 1, sizeof buffer, f)) > 0)
      text.insert(text.end(), buffer, buffer + std::min(n, MAX_FILE - text.size()));
    fclose(f);
  }
  int count = load_text(text.data(), text.size());
  printd("pcidb: --- END OF FILE ---\npcidb: %u records in %s\n", (unsigned)count, path ? path : "");
  return count;
}

int pci_database::load() {
  if (load(DB_NAME) > 0) {
    printd("pcidb: using %s of the current directory\n", DB_NAME);
    return record_count;
  }
  const char* dir = gatherer_filename(FILENAME_PATH, SETTING_GET);
  if (dir && *dir) {
    char path[4096];
    snprintf(path, sizeof path, "%s%c%s", dir, '/', DB_NAME);
    if (load(path) > 0) printd("pcidb: using %s\n", path);
#ifdef ZV_DATA_DIR
    // An installed program finds it in the data directory of its prefix
    // ("../share/zelvarn2" from the program's directory).
    snprintf(path, sizeof path, "%s%c%s%c%s", dir, '/', ZV_DATA_DIR, '/', DB_NAME);
    if (record_count == 0 && load(path) > 0) printd("pcidb: using %s\n", path);
#endif
  }
  if (record_count == 0) printd("pcidb: no device names: %s not found\n", DB_NAME);
  return record_count;
}

int pci_database::get_vendor(unsigned vendor) const {
  auto it = first_vendor.find(vendor);
  return it == first_vendor.end() ? -1 : it->second;
}

int pci_database::get_device(unsigned vendor, unsigned device, unsigned revision) const {
  int v = get_vendor(vendor);
  if (v < 0) return -1;
  for (int i = v + 1; i < record_count && !ends_vendor_block(types[i]); i++) {
    if (types[i] != 'D' || ids[i] != device) continue;
    if (i + 1 < record_count && types[i + 1] == 'R' && ids[i + 1] == revision) return i + 1;
    return i;
  }
  return -1;
}

int pci_database::get_subsys_vendor(unsigned vendor, unsigned subsys_vendor, unsigned subsys_id) const {
  return get_vendor(subsys_vendor || subsys_id ? subsys_vendor : vendor);
}

int pci_database::get_subsys_device(unsigned vendor, unsigned device, unsigned revision, unsigned subsys_vendor,
                                    unsigned subsys_id) const {
  int d = get_device(vendor, device, revision);
  if (d < 0 || (subsys_vendor == 0 && subsys_id == 0)) return d;
  const uint32_t combined = (uint32_t)subsys_vendor * 65536u + (uint32_t)subsys_id;
  int current_o = -1;
  bool o_matches = false;
  for (int i = d + 1; i < record_count; i++) {
    char t = types[i];
    if (t == 0 || t == 'D' || ends_vendor_block(t)) break;
    if (t == 'X' && ids[i] == combined) return i;
    if (t == 'O') {
      current_o = i;
      o_matches = ids[i] == subsys_vendor;
    } else if (t == 'S' && ids[i] == subsys_id && (current_o < 0 || o_matches)) {
      return current_o >= 0 ? i : d;  // an S before any O ends the scan unnamed
    }
  }
  return current_o >= 0 && o_matches ? current_o : d;
}

const char* pci_database::get_class_name(unsigned base_class) const {
  auto it = class_names.find(0x10000u | (base_class & 0xFF));
  return it == class_names.end() ? nullptr : get_name(it->second);
}

const char* pci_database::get_sub_class_name(unsigned code) const {
  auto it = class_names.find(code & 0xFFFF);
  return it == class_names.end() ? nullptr : get_name(it->second);
}

const char* pci_database::name_or_unknown(int index) const {
  return valid(index) ? arena.data() + name_at[index] : "Unknown";
}

const char* pci_database::get_vendor_name(unsigned vendor) const { return name_or_unknown(get_vendor(vendor)); }
const char* pci_database::get_device_name(unsigned vendor, unsigned device, unsigned revision) const {
  return name_or_unknown(get_device(vendor, device, revision));
}
const char* pci_database::get_subsys_vendor_name(unsigned vendor, unsigned sv, unsigned sid) const {
  return name_or_unknown(get_subsys_vendor(vendor, sv, sid));
}
const char* pci_database::get_subsys_device_name(unsigned vendor, unsigned device, unsigned revision, unsigned sv,
                                                 unsigned sid) const {
  return name_or_unknown(get_subsys_device(vendor, device, revision, sv, sid));
}

wchar_t* pci_database::get_vendor_name(wchar_t* out, unsigned size, unsigned vendor) const {
  return utf8_to_wide((const unsigned char*)get_vendor_name(vendor), out, size);
}
wchar_t* pci_database::get_device_name(wchar_t* out, unsigned size, unsigned vendor, unsigned device,
                                       unsigned revision) const {
  return utf8_to_wide((const unsigned char*)get_device_name(vendor, device, revision), out, size);
}
wchar_t* pci_database::get_subsys_vendor_name(wchar_t* out, unsigned size, unsigned vendor, unsigned sv,
                                              unsigned sid) const {
  return utf8_to_wide((const unsigned char*)get_subsys_vendor_name(vendor, sv, sid), out, size);
}
wchar_t* pci_database::get_subsys_device_name(wchar_t* out, unsigned size, unsigned vendor, unsigned device,
                                              unsigned revision, unsigned sv, unsigned sid) const {
  return utf8_to_wide((const unsigned char*)get_subsys_device_name(vendor, device, revision, sv, sid), out, size);
}
