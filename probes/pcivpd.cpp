// pcivpd.cpp - reading Vital Product Data through the VPD capability: write
// the address (flag bit clear), poll the flag until the data is ready, read
// the data register.
#include "pcivpd.h"

#include <vector>

#include "debug.h"
#include "pci.h"
#include "table.h"

namespace {

const int CAP_VPD = 3;
const int MAX_CAPABILITIES = 10;
const int TAG_IDENTIFIER = 0x02, TAG_VPD_R = 0x10, TAG_VPD_W = 0x11;

/// The slot of a keyword, -1 to drop it.
int keyword_slot(unsigned char first, unsigned char second) {
  switch (first) {
    case 'C': case 'c': return pci_vpd_xxx::CAPABILITY;
    case 'E': case 'e': return pci_vpd_xxx::EC_LEVEL;
    case 'M': case 'm': return pci_vpd_xxx::MANUFACTURER_ID;
    case 'P': case 'p': return pci_vpd_xxx::PART_NUMBER;
    case 'R': case 'r': return pci_vpd_xxx::CHECK_RW;
    case 'S': case 's': return pci_vpd_xxx::SERIAL_NUMBER;
    case 'V': case 'v':
      if (second >= '0' && second <= '9') return pci_vpd_xxx::VENDOR_0 + (second - '0');
      if (second >= 'A' && second <= 'Z') return pci_vpd_xxx::VENDOR_A + (second - 'A');
      if (second >= 'a' && second <= 'z') return pci_vpd_xxx::VENDOR_A + (second - 'a');
      return -1;
    default: return -1;
  }
}

/// The byte at the selected VPD address (data register byte `index`).
bool read_data(int bus, int device, int function, int capability, int index, uint8_t* out) {
  return PCI_ReadByteRegister(bus, device, function, capability + 4 + index, out);
}

}  // namespace

std::string pci_vpd_printable(const unsigned char* bytes, unsigned length) {
  std::string s(length, '.');
  for (unsigned i = 0; i < length; i++)
    if (bytes[i] >= 0x20 && bytes[i] <= 0x7E) s[i] = (char)bytes[i];
  return s;
}

void analyse_resource(int name, const unsigned char* bytes, unsigned length, pci_vpd_xxx* record) {
  if (!record || (!bytes && length)) return;
  if (name == TAG_IDENTIFIER) {
    record->slot[pci_vpd_xxx::PRODUCT_NAME] = pci_vpd_printable(bytes, length);
    return;
  }
  if (name != TAG_VPD_R && name != TAG_VPD_W) return;
  unsigned offset = 0;
  while (offset + 3 <= length) {
    unsigned kw_length = bytes[offset + 2];
    if (offset + 3 + kw_length > length) break;  // a keyword longer than its resource
    int slot = keyword_slot(bytes[offset], bytes[offset + 1]);
    if (slot >= 0) record->slot[slot] = pci_vpd_printable(bytes + offset + 3, kw_length);
    offset += kw_length + 3;
  }
}

int analyse_capability(int bus, int device, int function, int offset, bool* is_vpd) {
  uint8_t id = 0, next = 0;
  if (!PCI_ReadByteRegister(bus, device, function, offset, &id) ||
      !PCI_ReadByteRegister(bus, device, function, offset + 1, &next))
    return 0;
  if (is_vpd && id == CAP_VPD) *is_vpd = true;
  return next;
}

int pcivpd_find_capability(int bus, int device, int function) {
  uint16_t status = 0;
  if (!PCI_ReadWordRegister(bus, device, function, 0x06, &status) || !(status & 0x10)) return 0;
  uint8_t pointer = 0;
  if (!PCI_ReadByteRegister(bus, device, function, 0x34, &pointer) || pointer < 0x40) return 0;
  int offset = pointer;
  for (int i = 0; i < MAX_CAPABILITIES; i++) {
    bool is_vpd = false;
    int next = analyse_capability(bus, device, function, offset, &is_vpd);
    if (is_vpd) return offset;
    if (next == 0 || next == 0xFF) return 0;
    offset = next;
  }
  return 0;
}

bool select_vpd_bytes(int bus, int device, int function, int capability, unsigned address) {
  if (address > PCI_VPD_LAST_ADDRESS) return false;
  if (!PCI_WriteWordRegister(bus, device, function, capability + 2, (uint16_t)address)) return false;
  for (int poll = 0; poll < PCI_VPD_POLLS; poll++) {
    uint8_t flag = 0;
    if (!PCI_ReadByteRegister(bus, device, function, capability + 3, &flag)) return false;
    if (flag & 0x80) return true;
    pci_pause(1);
  }
  printd("pci: VPD at %04x never ready\n", address);
  return false;
}

bool pcivpd_analyse_vpd(int bus, int device, int function, int capability, pci_vpd_xxx* record) {
  record->clear();
  uint8_t id = 0;
  if (!PCI_ReadByteRegister(bus, device, function, capability, &id) || id != CAP_VPD) return false;
  unsigned address = 0;
  std::vector<unsigned char> data;
  while (address <= PCI_VPD_LAST_ADDRESS) {
    uint8_t tag = 0;
    if (!select_vpd_bytes(bus, device, function, capability, address) ||
        !read_data(bus, device, function, capability, 0, &tag))
      return false;
    int name;
    unsigned length, start;
    if (tag & 0x80) {
      uint8_t lo = 0, hi = 0;
      if (!read_data(bus, device, function, capability, 1, &lo) ||
          !read_data(bus, device, function, capability, 2, &hi))
        return false;
      name = tag & 0x7F;
      length = lo | (hi << 8);
      start = address + 3;
    } else {
      name = tag >> 3;
      length = tag & 7;
      start = address + 1;
    }
    if (name != TAG_IDENTIFIER && name != TAG_VPD_R && name != TAG_VPD_W) return true;
    // A resource running past the end of the address space is not read.
    if (start + length > PCI_VPD_LAST_ADDRESS + 1) return true;
    data.resize(length);
    for (unsigned i = 0; i < length; i++) {
      if (!select_vpd_bytes(bus, device, function, capability, start + i) ||
          !read_data(bus, device, function, capability, 0, &data[i]))
        return false;
    }
    analyse_resource(name, data.data(), length, record);
    address = start + length;
  }
  return true;
}

void log_vpd(int bus, int device, int function, Table* table) {
  pci_vpd_xxx record;
  int capability = pcivpd_find_capability(bus, device, function);
  if (capability) pcivpd_analyse_vpd(bus, device, function, capability, &record);
  for (int s = pci_vpd_xxx::PRODUCT_NAME; s <= pci_vpd_xxx::SERIAL_NUMBER; s++) table->log_data(record.slot[s].c_str());
}
