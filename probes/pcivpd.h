// pcivpd.h - Vital Product Data read through a function's VPD capability.
#pragma once

#include <string>

class Table;

/// The VPD of one function: 43 slots, empty to start. Every stored text has
/// passed the printable filter.
struct pci_vpd_xxx {
  enum {
    PRODUCT_NAME = 0,  ///< Identifier String resource
    PART_NUMBER,       ///< PN
    EC_LEVEL,          ///< EC
    MANUFACTURER_ID,   ///< MN
    SERIAL_NUMBER,     ///< SN
    VENDOR_0,          ///< V0..V9, then VA..VZ
    VENDOR_A = VENDOR_0 + 10,
    CAPABILITY = VENDOR_A + 26,  ///< CP
    CHECK_RW,                    ///< RV, RW
    SLOT_COUNT
  };
  std::string slot[SLOT_COUNT];
  void clear() {
    for (std::string& s : slot) s.clear();
  }
};

/// Largest VPD address: bit 15 of the address register is the flag.
const unsigned PCI_VPD_LAST_ADDRESS = 0x7FFF;
/// Polls of the flag register before a read counts as failed.
const int PCI_VPD_POLLS = 1000;

/// Each byte outside 0x20-0x7E becomes "."; exactly `length` characters.
std::string pci_vpd_printable(const unsigned char* bytes, unsigned length);
/// Stores one resource's contents (0x02 identifier string, 0x10 read-only,
/// 0x11 read-write keywords) into the record. A keyword that would run past
/// the resource ends it.
void analyse_resource(int name, const unsigned char* bytes, unsigned length, pci_vpd_xxx* record);

/// Offset of the VPD capability (id 3), 0 when there is none. At most 10
/// capabilities are followed.
int pcivpd_find_capability(int bus, int device, int function);
/// Reads the id at `offset` and the next pointer after it; sets `is_vpd` for
/// id 3. Returns the next pointer (0 when the reads fail).
int analyse_capability(int bus, int device, int function, int offset, bool* is_vpd);
/// Starts a VPD read at `address` and waits until the data is ready.
bool select_vpd_bytes(int bus, int device, int function, int capability, unsigned address);
/// Walks the resources into the record; stops at the first tag that is not
/// an identifier string or keyword resource, at a failed read, and before any
/// address past 0x7FFF. Returns false when a read failed on the way.
bool pcivpd_analyse_vpd(int bus, int device, int function, int capability, pci_vpd_xxx* record);
/// Logs product name, part number, EC level, manufacturer id and serial
/// number as the next five cells of the open row.
void log_vpd(int bus, int device, int function, Table* table);
