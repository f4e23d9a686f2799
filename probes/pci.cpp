// pci.cpp - PCI configuration access through the installed configuration
// space, class names, slot lookups and the manufacturer blacklist.
#include "pci.h"

#include <cstring>
#include <strings.h>

#include "debug.h"
#include "sysinfo.h"
#include "util_string.h"

namespace {

pci_config_space* current_space = nullptr;
unsigned current_domain = 0;

pci_config_space* space() { return current_space ? current_space : pci_proc_config_space(); }

bool read_bytes(int bus, int device, int function, int offset, void* out, unsigned length) {
  if (bus < 0 || device < 0 || function < 0 || offset < 0) return false;
  return space()->read(current_domain, bus, device, function, offset, out, length);
}

bool write_bytes(int bus, int device, int function, int offset, const void* data, unsigned length) {
  if (bus < 0 || device < 0 || function < 0 || offset < 0) return false;
  return space()->write(current_domain, bus, device, function, offset, data, length);
}

uint16_t le16(const unsigned char* p) { return (uint16_t)(p[0] | (p[1] << 8)); }

const char* const pci_blacklist[] = {"TOSHIBA", nullptr};

struct code_name {
  int code;
  const char* name;
};

const code_name class_names[] = {
    {0x01, "Storage"},    {0x02, "Network"},        {0x03, "Display"},
    {0x04, "Multimedia"}, {0x05, "Memory"},         {0x06, "Bridge"},
    {0x07, "Communications"}, {0x08, "System"},     {0x09, "Input"},
    {0x0A, "Docking"},    {0x0B, "Processor"},      {0x0C, "Serial"},
    {0x0D, "Wireless"},   {0x0E, "Intelligent I/O"}, {0x0F, "Sattelite Communications"},
    {0x10, "Encryption / Decryption"}, {0x11, "Data Aquisition & Signal Processing"},
};

const code_name sub_class_names[] = {
    {0x0000, "Undefined"}, {0x0001, "Undefined VGA"}, {0x0100, "SCSI"}, {0x0101, "IDE"},
    {0x0102, "Floppy"}, {0x0103, "IPI"}, {0x0104, "RAID"}, {0x0180, "Other"},
    {0x0200, "Ethernet"}, {0x0201, "Token Ring"}, {0x0202, "FDDI"}, {0x0203, "ATM"},
    {0x0280, "Other"}, {0x0300, "VGA"}, {0x0301, "SuperVGA"}, {0x0302, "3D"},
    {0x0380, "Other"}, {0x0400, "Video"}, {0x0401, "Audio"}, {0x0480, "Other"},
    {0x0500, "RAM"}, {0x0501, "Flash"}, {0x0580, "Other"}, {0x0600, "PCI-to-Host"},
    {0x0601, "PCI-to-ISA"}, {0x0602, "PCI-to-EISA"}, {0x0603, "PCI-to-MCA"},
    {0x0604, "PCI-to-PCI"}, {0x0605, "PCI-to-PCMCIA"}, {0x0606, "PCI-to-NuBUS"},
    {0x0607, "PCI-to-Cardbus"}, {0x0608, "PCI-to-RACEway"}, {0x0680, "PCI-to-Other"},
    {0x0700, "Serial"}, {0x0701, "Parallel"}, {0x0702, "Multiport Serial"},
    {0x0703, "Hayes Compatible Modem"}, {0x0780, "Other"}, {0x0800, "PIC"}, {0x0801, "DMA"},
    {0x0802, "Timer"}, {0x0803, "RTC"}, {0x0880, "Other"}, {0x0900, "Keyboard"},
    {0x0901, "Pen"}, {0x0902, "Mouse"}, {0x0903, "Scanner"}, {0x0904, "Game Port"},
    {0x0980, "Other"}, {0x0A00, "Generic"}, {0x0A80, "Other"}, {0x0B00, "386"},
    {0x0B01, "486"}, {0x0B02, "Pentium"}, {0x0B03, "PentiumPro"}, {0x0B10, "DEC Alpha"},
    {0x0B20, "PowerPC"}, {0x0B40, "Coprocessor"}, {0x0B80, "Other"}, {0x0C00, "FireWire"},
    {0x0C01, "Access Bus"}, {0x0C02, "SSA"}, {0x0C03, "USB"}, {0x0C04, "Fibre"},
    {0x0C05, "SMBus Controller"}, {0x0C80, "Other"},
};

template <size_t N>
const char* lookup(const code_name (&table)[N], int code) {
  for (const code_name& c : table)
    if (c.code == code) return c.name;
  return "Unknown";
}

// The routing table of pci_get_pci_device_for_slot, fetched once per run.
bool routing_fetched = false;
bool routing_valid = false;
_PCI_ROUTING_TABLE routing;

}  // namespace

void pci_config_space::pause(int ms) { MilliPause(ms); }

pci_config_space* pci_set_config_space(pci_config_space* s) {
  pci_config_space* old = current_space;
  current_space = s;
  return old;
}

void pci_pause(int ms) { space()->pause(ms); }

void pci_set_domain(unsigned domain) { current_domain = domain; }
unsigned pci_get_domain() { return current_domain; }

void pci_decode_header(const unsigned char* b, _PCI_COMMON_CONFIG* h) {
  memcpy(h->raw, b, 64);
  h->VendorID = le16(b);
  h->DeviceID = le16(b + 2);
  h->Command = le16(b + 4);
  h->Status = le16(b + 6);
  h->RevisionID = b[8];
  h->ProgIf = b[9];
  h->SubClass = b[0x0A];
  h->BaseClass = b[0x0B];
  h->CacheLineSize = b[0x0C];
  h->LatencyTimer = b[0x0D];
  h->HeaderType = b[0x0E];
  h->BIST = b[0x0F];
  h->SubVendorID = le16(b + 0x2C);
  h->SubSystemID = le16(b + 0x2E);
  h->CapabilitiesPtr = b[0x34];
}

bool pci_get_config_header(int bus, int device, int function, _PCI_COMMON_CONFIG* header) {
  unsigned char bytes[64];
  if (!header || !read_bytes(bus, device, function, 0, bytes, sizeof bytes)) return false;
  pci_decode_header(bytes, header);
  return true;
}

bool pci_read_config_byte(int bus, int device, int function, int offset, uint8_t* out) {
  return out && read_bytes(bus, device, function, offset, out, 1);
}

bool pci_read_config_word(int bus, int device, int function, int offset, uint16_t* out) {
  unsigned char b[2];
  if (!out || !read_bytes(bus, device, function, offset, b, 2)) return false;
  *out = le16(b);
  return true;
}

bool pci_read_config_dword(int bus, int device, int function, int offset, uint32_t* out) {
  unsigned char b[4];
  if (!out || !read_bytes(bus, device, function, offset, b, 4)) return false;
  *out = (uint32_t)le16(b) | ((uint32_t)le16(b + 2) << 16);
  return true;
}

bool pci_write_config_byte(int bus, int device, int function, int offset, uint8_t value) {
  return write_bytes(bus, device, function, offset, &value, 1);
}

bool pci_write_config_word(int bus, int device, int function, int offset, uint16_t value) {
  unsigned char b[2] = {(unsigned char)(value & 0xFF), (unsigned char)(value >> 8)};
  return write_bytes(bus, device, function, offset, b, 2);
}

bool pci_write_config_dword(int bus, int device, int function, int offset, uint32_t value) {
  unsigned char b[4];
  for (int i = 0; i < 4; i++) b[i] = (unsigned char)(value >> (8 * i));
  return write_bytes(bus, device, function, offset, b, 4);
}

bool PCI_ReadByteRegister(int b, int d, int f, int o, uint8_t* out) { return pci_read_config_byte(b, d, f, o, out); }
bool PCI_ReadWordRegister(int b, int d, int f, int o, uint16_t* out) { return pci_read_config_word(b, d, f, o, out); }
bool PCI_ReadDWordRegister(int b, int d, int f, int o, uint32_t* out) { return pci_read_config_dword(b, d, f, o, out); }
bool PCI_WriteByteRegister(int b, int d, int f, int o, uint8_t v) { return pci_write_config_byte(b, d, f, o, v); }
bool PCI_WriteWordRegister(int b, int d, int f, int o, uint16_t v) { return pci_write_config_word(b, d, f, o, v); }
bool PCI_WriteDWordRegister(int b, int d, int f, int o, uint32_t v) { return pci_write_config_dword(b, d, f, o, v); }

bool GetInfoPCI(int bus, int device, int function, _PCI_COMMON_CONFIG* header) {
  return pci_get_config_header(bus, device, function, header);
}

int PCI_get_last_bus() { return 15; }

bool PCI_get_interrupt_routing(_PCI_ROUTING_TABLE*) { return false; }

int get_slot_number(int bus, int device, const INTERRUPT_INFO* entries, int byte_count) {
  if (!entries || byte_count <= 0) return -1;
  int count = byte_count / 16;
  if (count > 64) count = 64;
  for (int i = 0; i < count; i++)
    if (entries[i].bytes[0] == bus && (entries[i].bytes[1] >> 3) == device) return entries[i].bytes[14];
  return -1;
}

bool pci_get_pci_device_for_slot(int slot, _PCI_COMMON_CONFIG* header) {
  if (!routing_fetched) {
    routing_fetched = true;
    routing_valid = PCI_get_interrupt_routing(&routing);
  }
  if (!routing_valid) return false;
  int count = routing.byte_count / 16;
  if (count > 64) count = 64;
  for (int i = 0; i < count; i++) {
    const INTERRUPT_INFO& e = routing.entries[i];
    if (e.bytes[14] == slot && GetInfoPCI(e.bytes[0], e.bytes[1] >> 3, 0, header)) return true;
  }
  return false;
}

const char* PCI_ClassName(int base_class) { return lookup(class_names, base_class); }
const char* PCI_SubClassName(int code) { return lookup(sub_class_names, code); }

bool is_pci_blacklisted(const char* manufacturer) {
  if (!manufacturer) manufacturer = "";
  printd("pci: checking blacklist for %s\n", manufacturer);
  for (int i = 0; pci_blacklist[i]; i++) {
    if (strncasecmp(manufacturer, pci_blacklist[i], strlen(pci_blacklist[i])) == 0) {
      printd("pci: blacklisted, matches %s\n", pci_blacklist[i]);
      return true;
    }
  }
  return false;
}

bool is_pci_blacklisted() { return is_pci_blacklisted(SysInfo::get()->OEM()); }
