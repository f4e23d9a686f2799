// pci.h - PCI configuration access, the class and sub-class names, slot
// numbers from an interrupt routing table and the manufacturer blacklist.
//
// Every access opens the function's configuration file, transfers and closes
// it again; nothing stays open between calls. The accesses go through one
// replaceable configuration space so that the walks above it can run against
// an emulated device.
#pragma once

#include <cstdint>
#include <vector>

/// The 64-byte standard configuration header (fields decoded little-endian).
struct _PCI_COMMON_CONFIG {
  uint16_t VendorID;
  uint16_t DeviceID;
  uint16_t Command;
  uint16_t Status;
  uint8_t RevisionID;
  uint8_t ProgIf;
  uint8_t SubClass;
  uint8_t BaseClass;
  uint8_t CacheLineSize;
  uint8_t LatencyTimer;
  uint8_t HeaderType;
  uint8_t BIST;
  uint16_t SubVendorID;
  uint16_t SubSystemID;
  uint8_t CapabilitiesPtr;
  uint8_t raw[64];
};

/// Decodes 64 header bytes.
void pci_decode_header(const unsigned char* bytes, _PCI_COMMON_CONFIG* header);

/// Where configuration space comes from. The default reads and writes the
/// kernel's per-function files under the system root; tests install an
/// emulated space.
class pci_config_space {
 public:
  virtual ~pci_config_space() = default;
  /// Reads exactly `length` bytes at `offset`; false when the function does
  /// not answer or fewer bytes came.
  virtual bool read(unsigned domain, unsigned bus, unsigned device, unsigned function, unsigned offset,
                    void* out, unsigned length) = 0;
  /// Writes exactly `length` bytes at `offset`; false otherwise.
  virtual bool write(unsigned domain, unsigned bus, unsigned device, unsigned function, unsigned offset,
                     const void* data, unsigned length) = 0;
  /// The pause between two polls of a device register.
  virtual void pause(int ms);
};

/// The kernel's per-function files under the system root (the default).
pci_config_space* pci_proc_config_space();
/// Installs a configuration space (null: the kernel's files again); returns
/// the one it replaces. The caller keeps ownership.
pci_config_space* pci_set_config_space(pci_config_space* space);
/// Pauses as the installed configuration space does (MilliPause by default).
void pci_pause(int ms);
/// The PCI domain the bus/device/function accesses below address (0 to start).
void pci_set_domain(unsigned domain);
unsigned pci_get_domain();

// Configuration access; bus, device and function as on the bus, offsets
// 0-4095. True on success; values are little-endian as the file holds them.
bool pci_get_config_header(int bus, int device, int function, _PCI_COMMON_CONFIG* header);
bool pci_read_config_byte(int bus, int device, int function, int offset, uint8_t* out);
bool pci_read_config_word(int bus, int device, int function, int offset, uint16_t* out);
bool pci_read_config_dword(int bus, int device, int function, int offset, uint32_t* out);
bool pci_write_config_byte(int bus, int device, int function, int offset, uint8_t value);
bool pci_write_config_word(int bus, int device, int function, int offset, uint16_t value);
bool pci_write_config_dword(int bus, int device, int function, int offset, uint32_t value);

bool PCI_ReadByteRegister(int bus, int device, int function, int offset, uint8_t* out);
bool PCI_ReadWordRegister(int bus, int device, int function, int offset, uint16_t* out);
bool PCI_ReadDWordRegister(int bus, int device, int function, int offset, uint32_t* out);
bool PCI_WriteByteRegister(int bus, int device, int function, int offset, uint8_t value);
bool PCI_WriteWordRegister(int bus, int device, int function, int offset, uint16_t value);
bool PCI_WriteDWordRegister(int bus, int device, int function, int offset, uint32_t value);

/// The 64-byte header; false when no function answers at that address.
bool GetInfoPCI(int bus, int device, int function, _PCI_COMMON_CONFIG* header);
/// Highest bus number of the default walk: 15.
int PCI_get_last_bus();

/// One interrupt routing entry: byte 0 bus, byte 1 device << 3, byte 14 slot.
struct INTERRUPT_INFO {
  uint8_t bytes[16];
};
struct _PCI_ROUTING_TABLE {
  uint16_t byte_count;
  INTERRUPT_INFO entries[64];
};
/// No routing source exists on this platform: false, the table untouched.
bool PCI_get_interrupt_routing(_PCI_ROUTING_TABLE* table);
/// Slot byte of the first entry for that bus and device; -1 when none.
int get_slot_number(int bus, int device, const INTERRUPT_INFO* entries, int byte_count);
/// The header of function 0 of the device in that slot; false when unknown.
bool pci_get_pci_device_for_slot(int slot, _PCI_COMMON_CONFIG* header);

const char* PCI_ClassName(int base_class);
/// Key: base class * 256 + sub-class.
const char* PCI_SubClassName(int code);

/// True when the system manufacturer begins with a listed prefix (any case).
bool is_pci_blacklisted();
bool is_pci_blacklisted(const char* manufacturer);

/// The functions present on one bus, as the kernel lists them: bit f of
/// `functions[d]` for device d function f.
struct pci_bus_listing {
  unsigned domain;
  unsigned bus;
  uint8_t functions[32];
};
/// The buses under the kernel's PCI directory, ordered by domain and bus:
/// domain 0 buses 0..last_bus, or with `all_domains` every bus of every
/// domain. Empty when the directory cannot be read.
std::vector<pci_bus_listing> pci_list_buses(bool all_domains, int last_bus);
