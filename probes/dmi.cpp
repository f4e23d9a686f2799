// dmi.cpp - finds, copies and indexes the SMBIOS table and answers queries.
#include "dmi.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "capture.h"
#include "debug.h"
#include "platform_paths.h"
#include "sysroot.h"
#include "util_string.h"

Dmi* Dmi::instance = nullptr;

namespace {

const char UNKNOWN[] = "Unknown";

uint64_t le64(const unsigned char* p) { return dmi_dword(p) | ((uint64_t)dmi_dword(p + 4) << 32); }

unsigned char byte_sum(const unsigned char* p, unsigned long n) {
  unsigned char sum = 0;
  for (unsigned long i = 0; i < n; i++) sum = (unsigned char)(sum + p[i]);
  return sum;
}

/// True when the structure's formatted area holds `width` bytes at `offset`.
bool has_field(const unsigned char* s, unsigned offset, unsigned width) {
  return offset + width <= s[1];
}

/// 2^exponent megabytes; -1 when the exponent is too large to be a real size.
long long power_of_two_mb(unsigned exponent) {
  return exponent >= 31 ? -1 : (1LL << exponent);
}

/// Reads a whole regular file of at most `limit` bytes under the system root.
bool read_platform_file(const char* path, std::vector<unsigned char>& out, unsigned long limit) {
  out.clear();
  int fd = sys_open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return false;
  }
  unsigned char chunk[4096];
  for (;;) {
    ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (out.size() + (unsigned long)got > limit) {
      printd("dmi: %s is larger than %lu bytes\n", path, limit);
      close(fd);
      return false;
    }
    out.insert(out.end(), chunk, chunk + got);
  }
  close(fd);
  return !out.empty();
}

}  // namespace

bool copy_physical_memory(unsigned long address, void* buffer, int length) {
  printd("pma: copying %d bytes from %p\n", length, (void*)address);
  if (!buffer || length <= 0) return false;
  // A replayed capture answers from the ranges it read; a read outside them
  // goes to the root's memory image, where it has one.
  if (replay_memory(address, buffer, (size_t)length)) {
    capture_note_memory(address, buffer, (size_t)length);
    return true;
  }
  int fd = sys_open(platform_path::dev_mem, O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    print_error(platform_path::dev_mem, errno);
    return false;
  }
  // A captured image is a plain file: mapping beyond its end would fault on
  // access, so the request must lie inside it. The device itself has no size.
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  if (!ok) {
    print_error("fstat /dev/mem", errno);
  } else if (S_ISREG(st.st_mode)) {
    ok = (unsigned long long)address + (unsigned long)length <= (unsigned long long)st.st_size;
    if (!ok) printd("pma: %d bytes at %#lx lie beyond the memory image\n", length, address);
  } else if (!S_ISCHR(st.st_mode)) {
    printd("pma: memory source is neither a device nor a file\n");
    ok = false;
  }
  if (ok) {
    long page = sysconf(_SC_PAGESIZE);
    unsigned long offset = address % (unsigned long)page;
    printd("pma: offset %#08lx length %u align %u pagesize %u\n", address - offset,
           (unsigned)(length + offset), (unsigned)offset, (unsigned)page);
    void* map = mmap(nullptr, length + offset, PROT_READ, MAP_PRIVATE, fd, (off_t)(address - offset));
    if (map == MAP_FAILED) {
      print_error("mmmap /dev/mem", errno);
      ok = false;
    } else {
      memcpy(buffer, (const unsigned char*)map + offset, length);
      if (munmap(map, length + offset) != 0) print_error("munmap", errno);
      capture_note_memory(address, buffer, (size_t)length);
    }
  }
  if (close(fd) != 0) print_error("close /dev/mem", errno);
  return ok;
}

Dmi::Dmi() : valid(false), initialised(false), fingerprint(0) { memset(&header, 0, sizeof header); }

Dmi::~Dmi() {}

Dmi* Dmi::get_instance() {
  if (!instance) {
    instance = new Dmi();
    instance->init();
  }
  return instance;
}

bool Dmi::is_valid() { return init(); }

bool Dmi::init() {
  if (initialised) return valid;
  initialised = true;
  printd("dmi::init() called\n");
  if (!get_sysfs_smbios_table() && !get_table()) return false;
  if (header.anchor[0] != '_') return false;
  index_structures();
  return valid;
}

bool Dmi::init_from_bytes(const unsigned char* entry_point, unsigned long entry_length,
                          const unsigned char* bytes, unsigned long length) {
  if (initialised) return valid;
  initialised = true;
  unsigned long wanted = 0;
  if (!entry_point || !bytes || !accept_entry_point(entry_point, entry_length, &wanted)) return false;
  if (wanted < length) length = wanted;
  if (!take_table(bytes, length)) return false;
  index_structures();
  return valid;
}

// Entry points as the kernel exports them (SMBIOS 5.2.1 and 5.2.2): the
// 32-bit "_SM_" one carries the "_DMI_" intermediate part at 0x10, whose 15
// bytes are what the BIOS segment search would have found. The 64-bit "_SM3_"
// one has no BCD revision, so one is made from its major and minor version.
bool Dmi::accept_entry_point(const unsigned char* ep, unsigned long length, unsigned long* wanted) {
  memset(&header, 0, sizeof header);
  if (length >= 0x1F && memcmp(ep, "_SM_", 4) == 0 && memcmp(ep + 0x10, "_DMI_", 5) == 0) {
    if (byte_sum(ep + 0x10, 15) != 0) {
      printd("dmi: entry point checksum is wrong\n");
      return false;
    }
    memcpy(&header, ep + 0x10, sizeof header);
    *wanted = header.table_length;
    return true;
  }
  if (length >= 0x18 && memcmp(ep, "_SM3_", 5) == 0) {
    unsigned ep_length = ep[6];
    if (ep_length < 0x18 || ep_length > length || byte_sum(ep, ep_length) != 0) {
      printd("dmi: 64-bit entry point checksum is wrong\n");
      return false;
    }
    unsigned major = ep[7] > 15 ? 15 : ep[7];
    unsigned minor = ep[8] > 15 ? 15 : ep[8];
    memcpy(header.anchor, "_DMI_", 5);
    uint32_t max_size = dmi_dword(ep + 0x0C);
    uint64_t address = le64(ep + 0x10);
    header.table_length = (uint16_t)(max_size > 0xFFFF ? 0xFFFF : max_size);
    header.table_address = (uint32_t)address;
    header.bcd_revision = (unsigned char)(major << 4 | minor);
    *wanted = max_size;
    return true;
  }
  printd("dmi: no entry point anchor\n");
  return false;
}

bool Dmi::take_table(const unsigned char* bytes, unsigned long length) {
  if (length == 0) {
    printd("dmi: empty table\n");
    return false;
  }
  table.assign(bytes, bytes + length);
  print_hexdump("DMI TABLE", table.data(), (int)table.size(), "");
  return true;
}

bool Dmi::get_sysfs_smbios_table() {
  std::vector<unsigned char> ep;
  std::vector<unsigned char> bytes;
  if (!read_platform_file(platform_path::smbios_entry_point, ep, 256)) return false;
  // An SMBIOS 3 table may be as long as 4 GB in theory; real ones are a few
  // dozen KB, so a generous bound keeps a broken file from eating memory.
  if (!read_platform_file(platform_path::smbios_table, bytes, 16UL << 20)) return false;
  printd("dmi: using the kernel's copy of the table (%lu bytes)\n", (unsigned long)bytes.size());
  unsigned long wanted = 0;
  if (!accept_entry_point(ep.data(), ep.size(), &wanted)) return false;
  unsigned long length = bytes.size() < wanted ? bytes.size() : wanted;
  if (length < wanted) printd("dmi: table announced as %lu bytes, %lu present\n", wanted, length);
  return take_table(bytes.data(), length);
}

long Dmi::find_dmi_header(const unsigned char* segment, unsigned long length) {
  unsigned long from = 0;
  while (from < length) {
    const char* hit = FindSequence((char*)segment + from, length - from, (char*)"_DMI", 4);
    if (!hit) return -1;
    unsigned long at = (unsigned long)((const unsigned char*)hit - segment);
    printd("dmi: signature found at offset %#08lx\n", at);
    // A candidate whose 15 bytes would run past the segment is not one.
    if (at + sizeof(DmiStructureTableHeader) > length) return -1;
    unsigned sum = byte_sum(segment + at, sizeof(DmiStructureTableHeader));
    printd("dmi: Checksum is %u\n", sum);
    print_hexdump("DmiStructureTableHeader", segment + at, (int)sizeof(DmiStructureTableHeader), "");
    if (sum == 0) return (long)at;
    from = at + 4;
  }
  return -1;
}

bool Dmi::get_table() {
  memset(&header, 0, sizeof header);
  std::vector<unsigned char> segment(BIOS_SEGMENT_SIZE);
  if (!copy_physical_memory(BIOS_SEGMENT, segment.data(), (int)segment.size())) return false;
  if (!FindSequence((char*)segment.data(), segment.size(), (char*)"_DMI", 4)) {
    printd("dmi: Header not found\n");
    return false;
  }
  long at = find_dmi_header(segment.data(), segment.size());
  if (at < 0) {
    printd("dmi: Header Not Found");
    return false;
  }
  memcpy(&header, segment.data() + at, sizeof header);
  unsigned long address = header.table_address;
  unsigned long length = header.table_length;
  printd("dmi: Table Address is %08lx\n", address);
  printd("dmi: Table Length is %08lx\n", length);
  if (length == 0) {
    printd("dmi: empty table\n");
    return false;
  }
  // Compared without adding to the address: on 32-bit a table announced
  // near 4 GB would otherwise wrap round into the segment.
  const unsigned long segment_end = BIOS_SEGMENT + BIOS_SEGMENT_SIZE;
  if (address >= BIOS_SEGMENT && address < segment_end && length <= segment_end - address)
    return take_table(segment.data() + (address - BIOS_SEGMENT), length);
  std::vector<unsigned char> bytes(length);
  if (!copy_physical_memory(address, bytes.data(), (int)length)) return false;
  return take_table(bytes.data(), length);
}

unsigned long Dmi::getLengthOfStructure(const unsigned char* s, unsigned long avail) {
  if (!s || avail < 2) return 0;
  unsigned long formatted = s[1];
  if (formatted > avail) return 0;
  // Some BIOSes end a memory controller structure without the double zero;
  // the next structure then starts right after the formatted area.
  if (s[0] == 5 && (formatted + 2 > avail || s[formatted] != 0 || s[formatted + 1] != 0))
    return formatted;
  for (unsigned long p = formatted; p + 1 < avail; p++)
    if (s[p] == 0 && s[p + 1] == 0) return p + 2;
  return 0;
}

void Dmi::index_structures() {
  const unsigned long length = table.size();
  // Fingerprint: bytes weighted by 0x5A5A * 11^i, wrapping in 32 bits.
  uint32_t weight = 0x5A5A;
  fingerprint = 0;
  for (unsigned long i = 0; i < length; i++) {
    fingerprint += table[i] * weight;
    weight *= 11;
  }
  unsigned long pos = 0;
  while (pos + 2 <= length) {
    unsigned char* s = table.data() + pos;
    printd("dmi: Found Type %02d Structure at %04lx\n", s[0], pos);
    if (s[0] == 127) break;
    unsigned long full = getLengthOfStructure(s, length - pos);
    if (full == 0) {
      printd("dmi: structure at %04lx does not fit in the table, walk ends\n", pos);
      break;
    }
    // A formatted length below the 4-byte header is no structure (a walk
    // that lost step lands on such); it is stepped over, not indexed.
    if (s[1] >= 4) {
      Entry e = {s, full};
      by_type[s[0] < DMI_OTHER_TYPES ? s[0] : DMI_OTHER_TYPES].push_back(e);
      all.push_back(e);
    }
    pos += full;
  }
  valid = true;
}

int Dmi::get_smbios_revision() { return init() ? header.bcd_revision : 0; }

unsigned Dmi::get_num_structs(unsigned type) {
  if (!init()) return 0;
  return (unsigned)by_type[type < DMI_OTHER_TYPES ? type : DMI_OTHER_TYPES].size();
}

unsigned char* Dmi::get_struct(unsigned type, unsigned index) {
  if (!init()) return nullptr;
  const std::vector<Entry>& list = by_type[type < DMI_OTHER_TYPES ? type : DMI_OTHER_TYPES];
  return index < list.size() ? list[index].data : nullptr;
}

const Dmi::Entry* Dmi::find_entry(const unsigned char* s) const {
  unsigned long lo = 0, hi = all.size();
  while (lo < hi) {
    unsigned long mid = (lo + hi) / 2;
    if (all[mid].data < s) lo = mid + 1;
    else hi = mid;
  }
  return lo < all.size() && all[lo].data == s ? &all[lo] : nullptr;
}

unsigned long Dmi::structure_length(const unsigned char* s) const {
  const Entry* e = find_entry(s);
  return e ? e->length : 0;
}

const char* Dmi::getString(int n, const unsigned char* s, unsigned long length) {
  if (n <= 0 || !s || length < 2) return "";
  unsigned long p = s[1];
  for (int i = 1;; i++) {
    if (p >= length || s[p] == 0) return "";  // end of the string set
    unsigned long start = p;
    while (p < length && s[p] != 0) p++;
    if (p >= length) return "";  // not terminated inside the structure
    if (i == n) return (const char*)s + start;
    p++;
  }
}

const char* Dmi::getString(int n, const unsigned char* s) const {
  return getString(n, s, structure_length(s));
}

const char* Dmi::architected_text(const char* text) {
  static char buffer[65];
  snprintf(buffer, sizeof buffer, "%s", text);
  char* open = strstr(buffer, "-[");
  char* close = open ? strstr(open + 2, "]-") : nullptr;
  if (!close) return buffer;
  *close = 0;
  char* dash = strchr(open + 2, '-');
  if (dash) *dash = 0;
  memmove(buffer, open + 2, strlen(open + 2) + 1);
  return buffer;
}

const char* Dmi::getArchitectedString(int n, const unsigned char* s) const {
  return architected_text(getString(n, s));
}

const char* Dmi::getChassisType(unsigned char value) {
  static const char* const names[] = {
      UNKNOWN, "Other", UNKNOWN, "Desktop", "Low Profile Desktop", "Pizza Box", "Mini Tower",
      "Tower", "Portable", "Laptop", "Notebook", "Handheld", "Docking Station", "All In One",
      "Subnotebook", "Space Saving", "Lunch Box", "Main Server Chassis", "Expansion Chassis",
      "Sub Chassis", "Bus Expansion Chassis", "Peripheral Chassis", "RAID Chassis",
      "Rack Mount Chassis", "Sealed-case PC"};
  unsigned v = value & 0x7F;
  return v < sizeof names / sizeof names[0] ? names[v] : UNKNOWN;
}

const char* Dmi::getType06MemoryType(unsigned bits) {
  static const char* const names[] = {"Other", "Unknown", "Standard", "FPM", "EDO", "Parity",
                                      "ECC", "SIMM", "DIMM", "Burst EDO", "SDRAM"};
  static char buffer[256];
  buffer[0] = 0;
  for (unsigned bit = 0; bit < 16; bit++) {
    if (!(bits & (1u << bit))) continue;
    if (buffer[0]) append_string(buffer, sizeof buffer, ", ");
    append_string(buffer, sizeof buffer, bit < 11 ? names[bit] : "Error: Invalid Type");
  }
  return buffer[0] ? buffer : "None";
}

const char* Dmi::getType17MemoryType(unsigned char value) {
  // 0x15..0x17 are reserved.
  static const char* const names[] = {
      "Other",  "Unknown", "DRAM",   "EDRAM",  "VRAM",   "SRAM",   "RAM",    "ROM",
      "Flash",  "EEPROM",  "FEPROM", "EPROM",  "CDRAM",  "3DRAM",  "SDRAM",  "SGRAM",
      "RDRAM",  "DDR",     "DDR2",   "DDR2 FB-DIMM", nullptr, nullptr, nullptr, "DDR3",
      "FBD2",   "DDR4",    "LPDDR",  "LPDDR2", "LPDDR3", "LPDDR4", "Logical non-volatile device",
      "HBM",    "HBM2",    "DDR5",   "LPDDR5", "HBM3"};
  const char* name = value >= 1 && value <= sizeof names / sizeof names[0] ? names[value - 1] : nullptr;
  return name ? name : "Error: Invalid Type";
}

const char* Dmi::getType17MemoryFormFactor(unsigned char value) {
  static const char* const names[] = {"Other", UNKNOWN, "SIMM", "SIP", "CHIP", "DIP", "ZIP",
                                      "Proprietary Card", "DIMM", "TSOP", "Row of Chips",
                                      "RIMM", "SODIMM", "SRIMM", "FB-DIMM", "Die"};
  return value >= 1 && value <= sizeof names / sizeof names[0] ? names[value - 1] : UNKNOWN;
}

const Dmi::Entry* Dmi::first_of(unsigned type, unsigned min_length) {
  if (!init() || by_type[type].empty()) return nullptr;
  const Entry* e = &by_type[type][0];
  return e->data[1] >= min_length ? e : nullptr;
}

const char* Dmi::get_make() {
  const Entry* e = first_of(1, 5);
  return e ? getString(e->data[4], e->data, e->length) : UNKNOWN;
}

const char* Dmi::get_model() {
  const Entry* e = first_of(1, 6);
  return e ? architected_text(getString(e->data[5], e->data, e->length)) : UNKNOWN;
}

const char* Dmi::get_serial_number() {
  if (!init()) return UNKNOWN;
  static const unsigned types[] = {1, 3};
  for (unsigned type : types)
    for (const Entry& e : by_type[type])
      if (has_field(e.data, 7, 1) && e.data[7] != 0) return getString(e.data[7], e.data, e.length);
  return UNKNOWN;
}

const char* Dmi::get_enclosure_type() {
  const Entry* e = first_of(3, 6);
  return e ? getChassisType(e->data[5]) : UNKNOWN;
}

const char* Dmi::get_uuid() {
  static char buffer[33];
  const Entry* e = first_of(1, 25);
  if (!e) return UNKNOWN;
  for (int i = 0; i < 16; i++) snprintf(buffer + 2 * i, 3, "%02x", e->data[8 + i]);
  return buffer;
}

const char* Dmi::get_bios_build() {
  const Entry* e = first_of(0, 6);
  return e ? getString(e->data[5], e->data, e->length) : UNKNOWN;
}

gathered_date Dmi::get_bios_date() {
  gathered_date date;
  const Entry* e = first_of(0, 9);
  if (e) {
    const char* text = getString(e->data[8], e->data, e->length);
    date.setDate(text, strlen(text) == 10 ? 0x214000 : 0x213000);
  }
  return date;
}

namespace {
/// SMBIOS 7.10: slot types 6, 14 and 18 are PCI, 66 MHz PCI and PCI-X.
bool is_pci_slot(const unsigned char* s) {
  if (!has_field(s, 9, 2)) return false;
  return s[5] == 6 || s[5] == 14 || s[5] == 18;
}
}  // namespace

const char* Dmi::get_pci_slot_name(int slot) {
  static char buffer[64];
  snprintf(buffer, sizeof buffer, "%d", slot);
  if (!init() || slot == 0) return buffer;
  for (const Entry& e : by_type[9]) {
    if (is_pci_slot(e.data) && dmi_word(e.data + 9) == slot) {
      snprintf(buffer, sizeof buffer, "%s", getString(e.data[4], e.data, e.length));
      break;
    }
  }
  return buffer;
}

int Dmi::get_num_pci_slots(unsigned short* ids, unsigned capacity) {
  if (!init()) return 0;
  unsigned count = 0;
  for (const Entry& e : by_type[9]) {
    if (!is_pci_slot(e.data) || dmi_word(e.data + 9) == 0) continue;
    if (ids) {
      if (count >= capacity) break;
      ids[count] = dmi_word(e.data + 9);
    }
    count++;
  }
  return (int)count;
}

bool Dmi::is_pci_slot_in_use(int slot) {
  if (!init() || slot == 0) return false;
  for (const Entry& e : by_type[9])
    if (is_pci_slot(e.data) && dmi_word(e.data + 9) == slot) return e.data[7] == 4;
  return false;
}

long long dmi_memory_device_size(unsigned size_word) {
  if (size_word == 0xFFFF) return -1;
  if (size_word & 0x8000) return (size_word & 0x7FFF) / 1024;
  return size_word;
}

long long dmi_memory_device_size(const unsigned char* data) {
  unsigned size_word = dmi_word(data + 12);
  // 0x7FFF: 32 GB or more, given in megabytes (bits 30..0) by the 32-bit
  // extended size at 1Ch (SMBIOS 2.7).
  if (size_word == 0x7FFF && has_field(data, 0x1C, 4)) return (long long)(dmi_dword(data + 0x1C) & 0x7FFFFFFFUL);
  return dmi_memory_device_size(size_word);
}

namespace {
/// SMBIOS 7.18.2: video, ROM and flash kinds are not system memory.
bool is_non_system_memory_type(unsigned char type) {
  return type == 5 || (type >= 8 && type <= 12);
}
}  // namespace

long long Dmi::get_total_installed_memory() {
  if (!init()) return 0;
  long long total = 0;
  if (!by_type[6].empty()) {
    for (const Entry& e : by_type[6]) {
      if (!has_field(e.data, 9, 1)) continue;
      unsigned size = e.data[9] & 0x7F;
      long long mb = size < 125 ? power_of_two_mb(size) : -1;
      if (mb > 0) total += mb;
    }
    return total;
  }
  for (const Entry& e : by_type[17]) {
    if (!has_field(e.data, 18, 1) || is_non_system_memory_type(e.data[18])) continue;
    long long mb = dmi_memory_device_size(e.data);
    if (mb > 0) total += mb;
  }
  return total;
}

int Dmi::get_num_memory_slots() {
  printd("Dmi::get_num_memory_slots() called\n");
  if (!init()) return -1;
  int slots = 0;
  if (!by_type[16].empty()) {
    printd("dmi: counting slots of %u type 16 structures\n", (unsigned)by_type[16].size());
    for (const Entry& e : by_type[16])
      if (has_field(e.data, 13, 2) && e.data[5] == 3) slots += dmi_word(e.data + 13);
  } else if (!by_type[5].empty()) {
    printd("dmi: counting slots of %u type 5 structures\n", (unsigned)by_type[5].size());
    for (const Entry& e : by_type[5])
      if (has_field(e.data, 14, 1)) slots += e.data[14];
  }
  return slots;
}

long long Dmi::get_total_memory_capability() {
  if (!init()) return -1;
  long long total = 0;
  bool found = false;
  if (!by_type[5].empty()) {
    for (const Entry& e : by_type[5]) {
      if (!has_field(e.data, 14, 1)) continue;
      long long module = power_of_two_mb(e.data[8]);
      if (module < 0) continue;
      total += e.data[14] * module;
      found = true;
    }
  } else {
    for (const Entry& e : by_type[16]) {
      if (!has_field(e.data, 7, 4) || e.data[5] != 3) continue;
      uint32_t kb = dmi_dword(e.data + 7);
      if (kb == 0x80000000u) continue;  // the real figure is in the extended field
      total += kb / 1024;
      found = true;
    }
  }
  return found ? total : -1;
}

// The n-th memory module (type 6), or else the n-th memory device (type 17)
// of the system memory arrays (type 16) in array order.
const Dmi::Entry* Dmi::nth_memory_device(unsigned n, bool* is_module) {
  *is_module = false;
  if (!init() || n == 0) return nullptr;
  if (!by_type[6].empty()) {
    *is_module = true;
    return n <= by_type[6].size() ? &by_type[6][n - 1] : nullptr;
  }
  unsigned seen = 0;
  for (const Entry& array : by_type[16]) {
    if (!has_field(array.data, 5, 1) || array.data[5] != 3) continue;
    uint16_t handle = dmi_word(array.data + 2);
    for (const Entry& device : by_type[17]) {
      if (!has_field(device.data, 4, 2) || dmi_word(device.data + 4) != handle) continue;
      if (++seen == n) return &device;
    }
  }
  return nullptr;
}

long long Dmi::get_installed_memory_size(unsigned n) {
  bool module = false;
  const Entry* e = nth_memory_device(n, &module);
  if (!e) return -1;
  if (module) {
    if (!has_field(e->data, 9, 1)) return -1;
    unsigned size = e->data[9] & 0x7F;
    if (size > 124) return 0;
    long long mb = power_of_two_mb(size);
    return mb < 0 ? 0 : mb;
  }
  if (!has_field(e->data, 12, 2)) return -1;
  return dmi_memory_device_size(e->data);
}

const char* Dmi::get_installed_memory_type(unsigned n) {
  static char buffer[64];
  bool module = false;
  const Entry* e = nth_memory_device(n, &module);
  if (!e) return UNKNOWN;
  if (module) return has_field(e->data, 7, 2) ? getType06MemoryType(dmi_word(e->data + 7)) : UNKNOWN;
  if (!has_field(e->data, 18, 1)) return UNKNOWN;
  snprintf(buffer, sizeof buffer, "%s %s", getType17MemoryType(e->data[18]),
           getType17MemoryFormFactor(e->data[14]));
  return buffer;
}

uint32_t Dmi::get_checksum() {
  init();
  return fingerprint;
}
