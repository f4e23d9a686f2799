// dmi_info.cpp - the SMBIOS structure report: printers and decoders.
//
// A field that lies beyond a structure's formatted length (an older SMBIOS
// version, or a broken table) is never read: its cell says "Unknown" in a
// text column and 0 in a number column, as the cache table does for the
// fields SMBIOS 2.1 added.
#include "dmi_info.h"

#include <cstring>
#include <initializer_list>

#include "date.h"
#include "debug.h"
#include "dmi.h"
#include "table.h"
#include "util_string.h"
#include "xml.h"

namespace {

const char UNKNOWN[] = "Unknown";
const char INVALID_TYPE[] = "Error: Invalid Type";

/// SMBIOS 2.2 and later: the battery's SBDS fields exist.
bool ver22 = false;

// ---- decoder helpers --------------------------------------------------------

/// names[value - first] when value lies in first..first+count-1, else `other`.
const char* pick(unsigned value, unsigned first, std::initializer_list<const char*> names, const char* other) {
  if (value < first || value - first >= names.size()) return other;
  return names.begin()[value - first];
}

/// The names of the bits set in `bits` (bit 0 first), joined by ", ";
/// bits beyond the list are ignored.
const char* bit_names(char* buffer, unsigned size, unsigned bits, std::initializer_list<const char*> names) {
  buffer[0] = 0;
  unsigned bit = 0;
  for (const char* name : names) {
    if (bits & (1u << bit)) {
      if (buffer[0]) append_string(buffer, size, ", ");
      append_string(buffer, size, name);
    }
    bit++;
  }
  return buffer;
}

}  // namespace

// ---- decoders (SMBIOS field enumerations) ----------------------------------

const char* getWakeUpType(unsigned char v) {  // 7.2.2
  return pick(v, 0, {"Reserved", "Other", "Unknown", "APM Timer", "Modem Ring", "LAN Remote",
                     "Power Switch", "PCI PME#", "AC Power Restored"}, INVALID_TYPE);
}

const char* getChassisState(unsigned char v) {  // 7.4.2
  return pick(v, 1, {"Other", "Unknown", "Safe", "Warning", "Critical", "Non-Recoverable"},
              "Error: Invalid State");
}

const char* getProcessorStatus(unsigned char v) {  // 7.5, offset 18h
  static char buffer[64];
  const char* state = nullptr;
  switch (v & ~0x40) {
    case 0: state = "Status Unknown"; break;
    case 1: state = "Enabled"; break;
    case 2: state = "Disabled by User"; break;
    case 3: state = "Disabled by BIOS"; break;
    case 4: state = "Idle"; break;
    case 7: state = "Status Other"; break;
    default: return "Error: Invalid Status";
  }
  snprintf(buffer, sizeof buffer, "%s, %s", (v & 0x40) ? "Populated" : "Unpopulated", state);
  return buffer;
}

const char* getMemCtrlErrDetect(unsigned char v) {  // 7.6.1
  return pick(v, 1, {"Other", "Unknown", "None", "8-bit Parity", "32-bit ECC", "64-bit ECC",
                     "128-bit ECC", "CRC"}, INVALID_TYPE);
}

const char* getMemCtrlCorCapable(unsigned char v) {  // 7.6.2: one bit only
  switch (v) {
    case 0x01: return "Other";
    case 0x02: return "Unknown";
    case 0x04: return "None";
    case 0x08: return "Single Bit";
    case 0x10: return "Double Bit";
    case 0x20: return "Error Scrubbing";
    default: return INVALID_TYPE;
  }
}

const char* getMemCtrlInterleave(unsigned char v) {  // 7.6.3
  return pick(v, 1, {"Other", "Unknown", "1 Way", "2 Way", "4 Way", "8 Way", "16 Way"},
              "Error: Invalid Interleave");
}

const char* getPowerOfTwoMemorySize(unsigned char value) {  // 7.6 and 7.7.2
  static char buffer[32];
  unsigned n = value & 0x7F;
  if (n <= 9) {
    snprintf(buffer, sizeof buffer, "%u MB", 1u << n);
    return buffer;
  }
  if (n == 10) return "1 GB";
  return pick(n, 125, {"Not Determinable", "Installed, Not Enabled", "Not Installed"}, "Error: Invalid Size");
}

const char* getMemorySpeeds(unsigned bits) {  // 7.6.4
  static char buffer[64];
  return bit_names(buffer, sizeof buffer, bits, {"Other", "Unknown", "70 ns", "60 ns", "50 ns"});
}

const char* getMemoryType(unsigned bits) { return Dmi::getType06MemoryType(bits); }  // 7.7.1

const char* getMemoryModuleVoltage(unsigned char bits) {  // 7.6, offset 0Dh
  static char buffer[32];
  return bit_names(buffer, sizeof buffer, bits, {"5V", "3.3V", "2.9V"});
}

const char* getBankConnections(unsigned char v) {  // 7.7, offset 05h; 0xF is no connection
  static char buffer[32];
  buffer[0] = 0;
  for (unsigned nibble : {(unsigned)(v >> 4), (unsigned)(v & 0x0F)}) {
    if (nibble == 15) continue;
    char ras[12];
    snprintf(ras, sizeof ras, "RAS %u", nibble);
    if (buffer[0]) append_string(buffer, sizeof buffer, ", ");
    append_string(buffer, sizeof buffer, ras);
  }
  return buffer;
}

const char* getCacheSize(unsigned v) {  // 7.8: bit 15 gives 64 K granularity
  static char buffer[32];
  unsigned long kb = (v & 0x8000) ? (unsigned long)(v & 0x7FFF) * 64 : (v & 0x7FFF);
  if (kb != 0 && kb % 1024 == 0)
    snprintf(buffer, sizeof buffer, "%lu M", kb / 1024);
  else
    snprintf(buffer, sizeof buffer, "%lu K", kb);
  return buffer;
}

const char* getCacheSRAMType(unsigned bits) {  // 7.8.2
  static char buffer[96];
  bit_names(buffer, sizeof buffer, bits,
            {"Other", "Unknown", "Non-Burst", "Burst", "Pipeline Burst", "Synchronous", "Asynchronous"});
  return buffer[0] ? buffer : "None";
}

const char* getErrorCorrectionType(unsigned char v) {  // 7.8.3
  return pick(v, 1, {"Other", "Unknown", "None", "Parity", "Single-bit ECC", "Multi-bit ECC"}, INVALID_TYPE);
}

const char* getSystemCacheType(unsigned char v) {  // 7.8.4
  return pick(v, 1, {"Other", "Unknown", "Instruction", "Data", "Unified"}, INVALID_TYPE);
}

const char* getAssociativity(unsigned char v) {  // 7.8.5
  return pick(v, 1, {"Other", UNKNOWN, "Direct Mapped", "2-way Set", "4-way Set", "Fully Associative",
                     "8-way Set", "16-way Set", "12-way Set", "24-way Set", "32-way Set", "48-way Set",
                     "64-way Set", "20-way Set"}, UNKNOWN);
}

const char* getConnectorType(unsigned char v) {  // 7.9.2
  if (v == 255) return "Other";
  if (v >= 160) return pick(v, 160, {"PC-98", "PC-98-Hireso", "PC-H98", "PC-98Note", "PC-98Full"}, INVALID_TYPE);
  return pick(v, 0,
              {"None", "Centronics", "Mini Centronics", "Proprietary", "DB25 pin male", "DB25 pin female",
               "DB15 pin male", "DB15 pin female", "DB9 pin male", "DB9 pin female", "RJ-11", "RJ-45",
               "50 Pin MiniSCSI", "Mini-DIN", "Micro-DIN", "PS/2", "Infrared", "HP-HIL",
               "Access Bus (USB)", "SSA SCSI", "Circular DIN-8 male", "Circular DIN-8 female",
               "On Board IDE", "On Board Floppy", "9 Pin DIL (pin 10 cut)", "25 Pin DIL (pin 26 cut)",
               "50 Pin DIL", "68 Pin DIL", "Sound I/P from CD-ROM", "Mini-Centronics Type-14",
               "Mini-Centronics Type-26", "Mini-jack (headphones)", "BNC", "1394", "SAS/SATA Plug Receptacle",
               "USB Type-C Receptacle"},
              INVALID_TYPE);
}

const char* getPortType(unsigned char v) {  // 7.9.3
  switch (v) {
    case 18: return "PCMCIA Type II";
    case 160: return "8251 Compatible";
    case 161: return "8251 FIFO Compatible";
    case 255: return "Other";
    default: break;
  }
  if (v >= 20)
    return pick(v, 20, {"PCMCIA Type III", "CardBus", "Access Bus Port", "SCSI II", "SCSI Wide", "PC-98",
                        "PC-98-Hireso", "PC-H98", "Video Port", "Audio Port", "Modem Port", "Network Port",
                        "SATA", "SAS", "Multi-Function Display Port", "Thunderbolt"},
                INVALID_TYPE);
  return pick(v, 0,
              {"None", "Parallel Port XT/AT Compatible", "Parallel Port PS/2", "Parallel Port ECP",
               "Parallel Port EPP", "Parallel Port ECP/EPP", "Serial Port XT/AT Compatible",
               "Serial Port 16450 Compatible", "Serial Port 16550 Compatible",
               "Serial Port 16550A Compatible", "SCSI Port", "MIDI Port", "Joystick Port", "Keyboard Port",
               "Mouse Port", "SSA SCSI", "USB", "FireWire (IEEE P1394)"},
              INVALID_TYPE);
}

const char* getSlotType(unsigned char v) {  // 7.10.1
  if (v >= 160)
    return pick(v, 160,
                {"PC-98/C20", "PC-98/C24", "PC-98/E", "PC-98/Local Bus", "PC-98/Card", "PCI Express",
                 "PCI Express x1", "PCI Express x2", "PCI Express x4", "PCI Express x8", "PCI Express x16",
                 "PCI Express 2", "PCI Express 2 x1", "PCI Express 2 x2", "PCI Express 2 x4",
                 "PCI Express 2 x8", "PCI Express 2 x16", "PCI Express 3", "PCI Express 3 x1",
                 "PCI Express 3 x2", "PCI Express 3 x4", "PCI Express 3 x8", "PCI Express 3 x16",
                 INVALID_TYPE, "PCI Express 4", "PCI Express 4 x1", "PCI Express 4 x2", "PCI Express 4 x4",
                 "PCI Express 4 x8", "PCI Express 4 x16", "PCI Express 5", "PCI Express 5 x1",
                 "PCI Express 5 x2", "PCI Express 5 x4", "PCI Express 5 x8", "PCI Express 5 x16",
                 "PCI Express 6 or later", "EDSFF E1", "EDSFF E3"},
                INVALID_TYPE);
  if (v == 0x30) return "CXL Flexbus 1.0";
  return pick(v, 1,
              {"Other", "Unknown", "ISA", "MCA", "EISA", "PCI", "PC Card", "VL-VESA", "Proprietary",
               "Processor Card", "Proprietary Memory Card", "I/O Riser Card Slot", "NuBus", "66MHz PCI",
               "AGP", "AGP 2X", "AGP 4X", "PCI-X", "AGP 8X", "M.2 Socket 1-DP (Key A)",
               "M.2 Socket 1-SD (Key E)", "M.2 Socket 2 (Key B)", "M.2 Socket 3 (Key M)", "MXM Type I",
               "MXM Type II", "MXM Type III", "MXM Type III-HE", "MXM Type IV", "MXM 3.0 Type A",
               "MXM 3.0 Type B", "PCI Express 2 SFF-8639 (U.2)", "PCI Express 3 SFF-8639 (U.2)",
               "PCI Express Mini 52-pin with bottom-side keep-outs", "PCI Express Mini 52-pin",
               "PCI Express Mini 76-pin", "PCI Express 4 SFF-8639 (U.2)", "PCI Express 5 SFF-8639 (U.2)",
               "OCP NIC 3.0 Small Form Factor", "OCP NIC 3.0 Large Form Factor", "OCP NIC before 3.0"},
              INVALID_TYPE);
}

const char* getSlotDataBusWidth(unsigned char v) {  // 7.10.2
  // 8..14: the lane counts of the serial slots of later SMBIOS revisions.
  return pick(v, 1,
              {"Other", "Unknown", "8 bit", "16 bit", "32 bit", "64 bit", "128 bit", "1x or x1", "2x or x2",
               "4x or x4", "8x or x8", "12x or x12", "16x or x16", "32x or x32"},
              "Error: Invalid Width");
}

const char* getCurrentUsage(unsigned char v) {  // 7.10.3
  return pick(v, 1, {"Other", "Unknown", "Available", "In Use"}, "Error: Invalid Usage");
}

const char* getSlotLength(unsigned char v) {  // 7.10.4
  return pick(v, 1, {"Other", "Unknown", "Half", "Full"}, "Error: Invalid Length");
}

const char* getSlotCharacteristics(unsigned char bits) {  // 7.10.6
  static char buffer[128];
  return bit_names(buffer, sizeof buffer, bits,
                   {"Unknown", "Provides 5v", "Provides 3.3v", "Shared", "PC Card-16", "CardBus",
                    "Zoom Video", "Modem Ring Resume"});
}

const char* getSlotCharacteristics2(unsigned char bits) {  // 7.10.7
  static char buffer[64];
  return bit_names(buffer, sizeof buffer, bits, {"Supports PME#", "Hot Plug", "SMBus"});
}

const char* getDeviceType(unsigned char v) {  // 7.11.1, bits 6..0
  return pick(v & 0x7F, 1,
              {"Other", "Unknown", "Video", "SCSI Controller", "Ethernet", "Token Ring", "Sound",
               "PATA Controller", "SATA Controller", "SAS Controller", "Wireless LAN", "Bluetooth", "WWAN",
               "eMMC", "NVMe Controller", "UFS Controller"},
              INVALID_TYPE);
}

const char* getLocation(unsigned char v) {  // 7.17.1
  if (v >= 160)
    return pick(v, 160, {"PC-98/C20 add-on card", "PC-98/C24 add-on card", "PC-98/E add-on card",
                         "PC-98/Local bus card"}, "Error: Invalid Location");
  return pick(v, 1,
              {"Other", "Unknown", "System Board", "ISA add-on card", "EISA add-on card", "PCI add-on card",
               "MCA add-on card", "PCMCIA add-on card", "Proprietary add-on card", "NuBus"},
              "Error: Invalid Location");
}

const char* getUse(unsigned char v) {  // 7.17.2
  return pick(v, 1, {"Other", "Unknown", "System Memory", "Video Memory", "Flash Memory", "Non-volatile RAM",
                     "Cache"}, "Error: Invalid Usage");
}

const char* getErrorCorrection(unsigned char v) {  // 7.17.3
  return pick(v, 1, {"Other", "Unknown", "None", "Parity", "Single-bit ECC", "Multi-bit ECC", "CRC"},
              INVALID_TYPE);
}

const char* getFormFactor(unsigned char v) {  // 7.18.1
  return pick(v, 1, {"Other", UNKNOWN, "SIMM", "SIP", "Chip", "DIP", "ZIP", "Proprietary Card", "DIMM", "TSOP",
                     "Row of Chips", "RIMM", "SODIMM", "SRIMM", "FB-DIMM", "Die"}, UNKNOWN);
}

const char* getMouseType(unsigned char v) {  // 7.22.1
  return pick(v, 1, {"Other", "Unknown", "Mouse", "Track Ball", "Track Point", "Glide Point", "Touch Pad"},
              INVALID_TYPE);
}

const char* getMouseInterface(unsigned char v) {  // 7.22.2
  if (v >= 160) return pick(v, 160, {"Bus Mouse DB-9", "Bus Mouse micro-DIN", "USB"}, "Error: Invalid Interface");
  return pick(v, 1, {"Other", "Unknown", "Serial", "PS/2", "Infrared", "HP-HIL", "Bus Mouse", "ADB"},
              "Error: Invalid Interface");
}

const char* dmi_get_security_status(unsigned v) {  // 7.25
  return pick(v, 0, {"Disabled", "Enabled", "Not implemented", "Unknown"}, "Invalid");
}

const char* getRomSize(unsigned char v) {  // 7.1: 64K * (n + 1)
  switch (v) {
    case 0: return "64K";
    case 1: return "128K";
    case 3: return "256K";
    case 7: return "512K";
    case 15: return "1M";
    case 31: return "2M";
    case 63: return "4M";
    case 127: return "8M";
    default: return UNKNOWN;
  }
}

const char* getExtendedRomSize(unsigned v) {  // 7.1, offset 18h: bits 15..14 unit, 13..0 size
  static char buffer[24];
  unsigned unit = v >> 14, size = v & 0x3FFF;
  if (unit > 1) return UNKNOWN;
  snprintf(buffer, sizeof buffer, "%u%s", size, unit ? "G" : "M");
  return buffer;
}

// ---- printers ---------------------------------------------------------------

namespace {

const datatype A = ASCII_STRING;
const datatype S = STRING;
const datatype I = INTEGER;

/// The cells of one structure; every read checks the formatted length.
class row {
 public:
  row(Table& table, Dmi* dmi, const unsigned char* s) : t(table), d(dmi), s(s) {}

  bool has(unsigned offset, unsigned width) const { return offset + width <= s[1]; }
  unsigned char byte(unsigned offset) const { return s[offset]; }
  unsigned word(unsigned offset) const { return dmi_word(s + offset); }
  unsigned long dword(unsigned offset) const { return dmi_dword(s + offset); }
  const unsigned char* data() const { return s; }
  const char* string(int n) const { return d->getString(n, s); }

  void text(const char* v) { t.log_data(v); }
  void number(long v) { t.log_data(v); }
  void unknown() { t.log_data(UNKNOWN); }
  /// The string whose number is at `offset`.
  void str(unsigned offset) { has(offset, 1) ? text(string(s[offset])) : unknown(); }
  void hex(unsigned offset, unsigned width, const char* format) {
    if (!has(offset, width)) return unknown();
    char buffer[16];
    unsigned long v = width == 1 ? byte(offset) : width == 2 ? word(offset) : dword(offset);
    snprintf(buffer, sizeof buffer, format, v);
    text(buffer);
  }
  void hex8(unsigned offset) { hex(offset, 1, "%02lXh"); }
  void hex16(unsigned offset) { hex(offset, 2, "%04lXh"); }
  void hex32(unsigned offset) { hex(offset, 4, "%08lXh"); }
  void int8(unsigned offset) { number(has(offset, 1) ? byte(offset) : 0); }
  void int16(unsigned offset) { number(has(offset, 2) ? word(offset) : 0); }
  void decode8(unsigned offset, const char* (*decoder)(unsigned char)) {
    has(offset, 1) ? text(decoder(byte(offset))) : unknown();
  }
  void decode16(unsigned offset, const char* (*decoder)(unsigned)) {
    has(offset, 2) ? text(decoder(word(offset))) : unknown();
  }

 private:
  Table& t;
  Dmi* d;
  const unsigned char* s;
};

/// One row per structure of `type`, keyed by its number from 1.
template <class F>
void each_structure(Table& t, Dmi* dmi, unsigned type, F cells) {
  for (unsigned i = 0; i < dmi->get_num_structs(type); i++) {
    char key[16];
    snprintf(key, sizeof key, "%u", i + 1);
    t.start_row(key);
    row r(t, dmi, dmi->get_struct(type, i));
    cells(r);
    t.end_row();
  }
}

void bios_features(FILE* report, Dmi* dmi) {
  static const struct {
    const char* key;
    const char* name;
  } base[] = {{"ISA", "ISA Supported"}, {"MCA", "MCA Supported"}, {"EISA", "EISA Supported"},
              {"PCI", "PCI Supported"}, {"PCMCIA", "PCMCIA Supported"}, {"PnP", "PnP Supported"},
              {"APM", "APM Supported"}, {"Flashable BIOS", "Flashable BIOS"},
              {"BIOS shadowing", "BIOS shadowing"}, {"VL-VESA", "VL-VESA Supported"},
              {"ESCD", "ESCD Supported"}, {"CD-Boot", "CD-Boot Supported"},
              {"Selectable Boot", "Selectable Boot"}, {"BIOS ROM Socketed", "BIOS ROM Socketed"},
              {"PC Card Bootable", "PC Card Bootable"}, {"Enhanced Disk Drive", "Enhanced Disk Drive"}},
    extension[] = {{"ACPI", "ACPI Supported"}, {"USB Legacy", "USB Legacy Supported"},
                   {"AGP", "AGP Supported"}, {"I2O Boot", "I2O Boot Supported"},
                   {"LS-120 Boot", "LS-120 Boot Supported"}, {"ATAPI Zip Booting", "ATAPI Zip Booting"},
                   {"1394 Boot", "1394 Boot Supported"}, {"Smart Battery BIOS", "Smart Battery BIOS"}};
  const unsigned char* s = dmi->get_struct(0, dmi->get_num_structs(0) - 1);
  Table t(report, "Supported Features", "FEATURE");
  static const Column columns[] = {{"Feature Name", A, 21}, {"Supported", S}};
  t.heading(columns);
  // BIOS characteristics (offset 0Ah), bits 4..19 of the 64-bit field.
  bool have_base = s[1] >= 18;
  for (unsigned i = 0; i < 16; i++) {
    t.start_row(base[i].key);
    t.log_data(base[i].name);
    t.log_data(!have_base ? UNKNOWN : (dmi_dword(s + 10) >> (i + 4)) & 1 ? "Yes" : "No");
    t.end_row();
  }
  if (s[1] < 19) return;
  for (unsigned i = 0; i < 8; i++) {  // extension byte 1 (offset 12h)
    t.start_row(extension[i].key);
    t.log_data(extension[i].name);
    t.log_data((s[18] >> i) & 1 ? "Yes" : "No");
    t.end_row();
  }
}

/// One row per string of each structure (OEM strings, configuration options).
void string_table(FILE* report, Dmi* dmi, unsigned type, const char* title) {
  Table t(report, title, "STRING_INSTANCE");
  static const Column columns[] = {{"Index", I}, {"Subindex", I}, {"Text", A, 64}};
  t.heading(columns);
  for (unsigned i = 0; i < dmi->get_num_structs(type); i++) {
    const unsigned char* s = dmi->get_struct(type, i);
    unsigned count = s[1] > 4 ? s[4] : 0;
    for (unsigned n = 1; n <= count; n++) {
      char key[24];
      snprintf(key, sizeof key, "%u:%u", i + 1, n);
      t.start_row(key);
      t.log_data(i + 1);
      t.log_data(n);
      t.log_data(dmi->getString((int)n, s));
      t.end_row();
    }
  }
}

/// Voltage, temperature and current probes share one layout (SMBIOS 7.27).
void probe_table(FILE* report, Dmi* dmi, unsigned type, const char* title, const char* row_name) {
  Table t(report, title, row_name);
  static const Column columns[] = {
      {"Description", A, 30}, {"Locn & Status", A}, {"Max Value", A}, {"Min Value", A},
      {"Resolution", A}, {"Tolerance", A}, {"Accuracy", A}, {"OEM Data", A}};
  t.heading(columns);
  each_structure(t, dmi, type, [](row& r) {
    r.str(4);
    r.hex8(5);
    for (unsigned offset = 6; offset <= 14; offset += 2) r.hex16(offset);
    r.hex32(16);
  });
}

}  // namespace

void printStructure00(FILE* report, Dmi* dmi) {
  {
    Table t(report, "BIOS Information");
    static const Column columns[] = {
        {"Vendor", A}, {"Version", A, 25}, {"Start Addr", A}, {"Release Date", A},
        {"ROM Size", A}};
    t.heading(columns);
    for (unsigned i = 0; i < dmi->get_num_structs(0); i++) {
      const unsigned char* s = dmi->get_struct(0, i);
      t.start_row("");
      row r(t, dmi, s);
      r.str(4);
      r.str(5);
      r.hex16(6);
      gathered_date date;
      if (r.has(8, 1)) date.setDate(r.string(s[8]), 0x4213000);
      r.has(8, 1) ? (void)t.log_data(date) : r.unknown();
      // FFh: 16 MB or more, the exact size in the extended field (SMBIOS
      // 3.1) when the structure has it.
      if (r.has(9, 1) && s[9] == 0xFF)
        r.text(r.has(0x18, 2) ? getExtendedRomSize(r.word(0x18)) : "16M");
      else
        r.decode8(9, getRomSize);
      t.end_row();
    }
  }
  bios_features(report, dmi);
}

void printStructure01(FILE* report, Dmi* dmi) {
  Table t(report, "System Information", "SYSTEM_INSTANCE");
  static const Column columns[] = {
      {"Manufacturer", A}, {"Product Name", A, 20}, {"Version", A, 13}, {"Serial Number", A, 0, MASK_SERIAL},
      {"UUID", A, 32, MASK_UUID}, {"Wake-up Type", S}};
  t.heading(columns);
  each_structure(t, dmi, 1, [](row& r) {
    for (unsigned offset = 4; offset <= 7; offset++) r.str(offset);
    if (!r.has(8, 17)) {  // SMBIOS 2.0: no UUID, no wake-up type
      r.text("");
      r.text("");
      return;
    }
    char uuid[33];
    for (unsigned i = 0; i < 16; i++) snprintf(uuid + 2 * i, 3, "%02x", r.byte(8 + i));
    r.text(uuid);
    r.text(getWakeUpType(r.byte(24)));
  });
}

void printStructure02(FILE* report, Dmi* dmi) {
  Table t(report, "Baseboard Information", "MOTHERBOARD_INSTANCE");
  static const Column columns[] = {
      {"Manufacturer", A}, {"Product", A, 20}, {"Version", A, 13}, {"Serial Number", A, 0, MASK_SERIAL}};
  t.heading(columns);
  each_structure(t, dmi, 2, [](row& r) {
    for (unsigned offset = 4; offset <= 7; offset++) r.str(offset);
  });
}

void printStructure03(FILE* report, Dmi* dmi) {
  Table t(report, "System Enclosure Information", "ENCLOSURE_INSTANCE");
  static const Column columns[] = {
      {"Manufacturer", A}, {"Type", S, 20}, {"Version", A, 13}, {"Serial Number", A, 32, MASK_SERIAL},
      {"Asset Tag Number", A, 0, MASK_SERIAL}, {"Bootup State", S}};
  t.heading(columns);
  each_structure(t, dmi, 3, [](row& r) {
    r.str(4);
    r.decode8(5, Dmi::getChassisType);
    r.str(6);
    r.str(7);
    r.str(8);
    r.has(13, 0) ? r.decode8(9, getChassisState) : r.unknown();
  });
}

void printStructure04(FILE* report, Dmi* dmi) {
  Table t(report, "Processor Information", "PROCESSOR_INSTANCE");
  static const Column columns[] = {
      {"Socket", A}, {"Manufacturer", A}, {"Processor ID", A, 17}, {"Version", A, 20},
      {"Current Speed", I}, {"Status", S, 29}, {"Serial Number", S, 10, MASK_SERIAL}, {"Part Number", S, 10}};
  t.heading(columns);
  each_structure(t, dmi, 4, [](row& r) {
    r.str(4);
    r.str(7);
    if (r.has(8, 8)) {
      char id[24];
      snprintf(id, sizeof id, "%08lX %08lX", r.dword(8), r.dword(12));
      r.text(id);
    } else {
      r.unknown();
    }
    r.str(16);
    r.number(!r.has(20, 4) ? 0 : r.word(22) ? r.word(22) : r.word(20));
    r.decode8(24, getProcessorStatus);
    if (r.has(33, 0)) {  // SMBIOS 2.3 strings
      r.str(32);
      r.str(34);
    } else {
      r.unknown();
      r.unknown();
    }
  });
}

void printStructure05(FILE* report, Dmi* dmi) {
  Table t(report, "Memory Controller Information", "MEMORY_CONTROLLER_INSTANCE");
  static const Column columns[] = {
      {"Err Detect Method", S}, {"Err Correct Capability", S}, {"Supported Interleave", S},
      {"Current Interleave", S}, {"Max Module Sz", S}, {"Supp Speeds", S},
      {"Supported Types", S}, {"Voltage", S}, {"Num slots", I}};
  t.heading(columns);
  each_structure(t, dmi, 5, [](row& r) {
    r.decode8(4, getMemCtrlErrDetect);
    r.decode8(5, getMemCtrlCorCapable);
    r.decode8(6, getMemCtrlInterleave);
    r.decode8(7, getMemCtrlInterleave);
    r.decode8(8, getPowerOfTwoMemorySize);
    r.decode16(9, getMemorySpeeds);
    r.decode16(11, getMemoryType);
    r.decode8(13, getMemoryModuleVoltage);
    r.int8(14);
  });
}

void printStructure06(FILE* report, Dmi* dmi) {
  Table t(report, "Memory Module Information", "MEMORY_MODULE_INSTANCE");
  static const Column columns[] = {
      {"Socket", A, 17}, {"Bank Connections", A}, {"Speed", I}, {"Type", S, 11},
      {"Installed Size", S}, {"Enabled Size", S}, {"Errs Corrected", S}, {"Errs UnCor", S}};
  t.heading(columns);
  each_structure(t, dmi, 6, [](row& r) {
    r.str(4);
    r.decode8(5, getBankConnections);
    r.int8(6);
    r.decode16(7, getMemoryType);
    r.decode8(9, getPowerOfTwoMemorySize);
    r.decode8(10, getPowerOfTwoMemorySize);
    for (unsigned bit : {1u, 0u}) r.has(11, 1) ? r.text((r.byte(11) >> bit) & 1 ? "Yes" : "None") : r.unknown();
  });
}

void printStructure07(FILE* report, Dmi* dmi) {
  static const char* const modes[] = {"WT", "WB", "Varies", "Unknown"};
  Table t(report, "Cache Information", "CACHE_INSTANCE");
  static const Column columns[] = {
      {"Socket", A, 17}, {"Lvl", A}, {"Status", S, 8}, {"Type", S, 6}, {"Size", S, 6},
      {"SRAM Type", S, 18}, {"Speed", I}, {"ECC Type", S}, {"System Cache", S},
      {"Associativity", S}};
  t.heading(columns);
  each_structure(t, dmi, 7, [](row& r) {
    r.str(4);
    if (r.has(5, 2)) {  // cache configuration word (SMBIOS 7.8.1)
      char level[4] = {'L', (char)('1' + (r.byte(5) & 7)), 0};
      r.text(level);
      r.text(r.byte(5) & 0x80 ? "Enabled" : "Disabled");
      r.text(modes[r.byte(6) & 3]);
    } else {
      r.unknown();
      r.unknown();
      r.unknown();
    }
    r.decode16(9, getCacheSize);
    r.decode16(13, getCacheSRAMType);
    if (!r.has(19, 0)) {  // SMBIOS 2.0: speed and the kinds came with 2.1
      r.number(0);
      for (int i = 0; i < 3; i++) r.unknown();
      return;
    }
    r.int8(15);
    r.decode8(16, getErrorCorrectionType);
    r.decode8(17, getSystemCacheType);
    r.decode8(18, getAssociativity);
  });
}

void printStructure08(FILE* report, Dmi* dmi) {
  Table t(report, "Port Connector Information", "CONNECTOR_INSTANCE");
  static const Column columns[] = {
      {"Port Type", S, 30}, {"Internal Designator", A, 45}, {"Internal Connector Type", S, 23},
      {"External Designator", A}, {"External Connector Type", S, 23}};
  t.heading(columns);
  for (unsigned i = 0; i < dmi->get_num_structs(8); i++) {
    const unsigned char* s = dmi->get_struct(8, i);
    row r(t, dmi, s);
    const char* external = r.has(6, 1) ? r.string(s[6]) : "";
    const char* internal = r.has(4, 1) ? r.string(s[4]) : "";
    const char* port = r.has(8, 1) ? getPortType(s[8]) : UNKNOWN;
    t.start_row(strlen(external) >= 2 ? external : strlen(internal) >= 2 ? internal : port);
    r.decode8(8, getPortType);
    r.str(4);
    r.decode8(5, getConnectorType);
    r.str(6);
    r.decode8(7, getConnectorType);
    t.end_row();
  }
}

void printStructure09(FILE* report, Dmi* dmi) {
  Table t(report, "Adapter Slot Information", "SLOT_INSTANCE");
  static const Column columns[] = {
      {"Socket Designation", A, 30}, {"Type", S, 20}, {"Bus Width", S}, {"In Use", S, 9},
      {"Length", S}, {"ID", I, 3}, {"Characteristics", S, 50}};
  t.heading(columns);
  for (unsigned i = 0; i < dmi->get_num_structs(9); i++) {
    const unsigned char* s = dmi->get_struct(9, i);
    row r(t, dmi, s);
    t.start_row(r.has(4, 1) ? r.string(s[4]) : "");
    r.str(4);
    r.decode8(5, getSlotType);
    r.decode8(6, getSlotDataBusWidth);
    r.decode8(7, getCurrentUsage);
    r.decode8(8, getSlotLength);
    r.int16(9);
    if (r.has(11, 1)) {
      char text[192];
      snprintf(text, sizeof text, "%s", getSlotCharacteristics(s[11]));
      const char* more = r.has(12, 1) ? getSlotCharacteristics2(s[12]) : "";
      if (text[0] && more[0]) append_string(text, sizeof text, ", ");
      append_string(text, sizeof text, more);
      r.text(text);
    } else {
      r.unknown();
    }
    t.end_row();
  }
}

void printStructure10(FILE* report, Dmi* dmi) {
  Table t(report, "On-board Device Information", "DEVICE_INSTANCE");
  static const Column columns[] = {{"Device Type", S, 15}, {"Status", S, 8}, {"Description", A, 50}};
  t.heading(columns);
  for (unsigned i = 0; i < dmi->get_num_structs(10); i++) {
    const unsigned char* s = dmi->get_struct(10, i);
    for (unsigned entry = 4; entry + 2 <= s[1]; entry += 2) {
      t.start_row(getDeviceType(s[entry]));
      t.log_data(getDeviceType(s[entry]));
      t.log_data(s[entry] & 0x80 ? "Enabled" : "Disabled");
      t.log_data(s[entry + 1] ? dmi->getString(s[entry + 1], s) : "None");
      t.end_row();
    }
  }
}

void printStructure11(FILE* report, Dmi* dmi) { string_table(report, dmi, 11, "OEM Strings"); }

void printStructure12(FILE* report, Dmi* dmi) { string_table(report, dmi, 12, "System Configuration Options"); }

void printStructure13(FILE* report, Dmi* dmi) {
  Table t(report, "BIOS Language Information", "BIOS_LANGUAGE_INSTANCE");
  static const Column columns[] = {{"Status", A, 25}, {"Language", S, 20}};
  t.heading(columns);
  for (unsigned i = 0; i < dmi->get_num_structs(13); i++) {
    const unsigned char* s = dmi->get_struct(13, i);
    unsigned count = s[1] > 4 ? s[4] : 0;
    unsigned current = s[1] > 21 ? s[21] : 0;
    t.start_row("Current Language");
    t.log_data("Current Language");
    t.log_data(current && current <= count ? dmi->getString((int)current, s) : "Error: Invalid Language");
    t.end_row();
    for (unsigned n = 1; n <= count; n++) {
      char status[40];
      snprintf(status, sizeof status, "Installable Language %u", n);
      t.start_row(status);
      t.log_data(status);
      t.log_data(dmi->getString((int)n, s));
      t.end_row();
    }
  }
}

void printStructure14(FILE* report, Dmi* dmi) {
  Table t(report, "Group Associations", "GROUP_INSTANCE");
  static const Column columns[] = {
      {"Group Number", I, 20}, {"Group Name", S, 20}, {"Item Type", I, 20}, {"Item Handle", A, 20}};
  t.heading(columns);
  each_structure(t, dmi, 14, [](row& r) {
    r.int8(4);
    r.has(4, 1) && r.byte(4) ? r.str(4) : r.text(r.has(4, 1) ? "Invalid Group Name" : UNKNOWN);
    r.int8(5);
    r.hex16(6);
  });
}

void printStructure16(FILE* report, Dmi* dmi) {
  Table t(report, "Physical Memory Array Information", "PHYSICAL_MEMORY_ARRAY_INSTANCE");
  static const Column columns[] = {
      {"Handle", A}, {"Location", S, 23}, {"Use", S, 20}, {"Error Correction", S},
      {"Max Capacity", S}, {"Error Handle", A}, {"Memory Devices", I}};
  t.heading(columns);
  each_structure(t, dmi, 16, [](row& r) {
    r.hex(2, 2, "%04lxh");
    r.decode8(4, getLocation);
    r.decode8(5, getUse);
    r.decode8(6, getErrorCorrection);
    char kb[24];
    if (r.has(7, 4) && r.dword(7) != 0x80000000UL) {
      snprintf(kb, sizeof kb, "%lu", r.dword(7));
      r.text(kb);
    } else if (r.has(7, 4) && r.has(0x0F, 8)) {
      // 2 TB or more: the 64-bit extended maximum capacity at 0Fh, in bytes.
      uint64_t bytes = (uint64_t)r.dword(0x0F) | ((uint64_t)r.dword(0x13) << 32);
      snprintf(kb, sizeof kb, "%llu", (unsigned long long)(bytes / 1024));
      r.text(kb);
    } else {
      r.unknown();
    }
    r.hex(11, 2, "%04lX");
    r.int16(13);
  });
}

void printStructure17(FILE* report, Dmi* dmi) {
  Table t(report, "Memory Device Information", "MEMORY_DEVICE_INSTANCE");
  static const Column columns[] = {
      {"Handle", A}, {"Dev Locator", A}, {"Bank Locator", A}, {"Width Tot/Data", A},
      {"Size", I}, {"Form Factor", S}, {"Dev Set", I, 7}, {"Type", S}, {"Detail", A},
      {"Array Handle", A}, {"Err Handle", A}};
  t.heading(columns);
  each_structure(t, dmi, 17, [](row& r) {
    r.hex(2, 2, "%04lxh");
    r.str(16);
    r.str(17);
    if (r.has(8, 4)) {
      char widths[16];
      snprintf(widths, sizeof widths, "%3u/%3u", r.word(8), r.word(10));
      r.text(widths);
    } else {
      r.unknown();
    }
    long long mb = r.has(12, 2) ? dmi_memory_device_size(r.data()) : 0;
    r.number(mb < 0 ? 0 : (long)mb);
    r.decode8(14, getFormFactor);
    r.int8(15);
    r.decode8(18, Dmi::getType17MemoryType);
    r.hex16(19);
    r.hex(4, 2, "%04lX");
    r.hex(6, 2, "%04lX");
  });
}

void printStructure18(FILE* report, Dmi* dmi) {
  Table t(report, "Memory Error Information", "MEMORY_ERROR_INSTANCE");
  static const Column columns[] = {
      {"Handle", A}, {"Err Type", A}, {"Granularity", A}, {"Operation", A},
      {"Vend Syndrome", A}, {"Array Addr", A}, {"Device Addr", A}, {"Resolution", A}};
  t.heading(columns);
  each_structure(t, dmi, 18, [](row& r) {
    r.hex(2, 2, "%04lxh");
    for (unsigned offset = 4; offset <= 6; offset++) r.hex8(offset);
    for (unsigned offset = 7; offset <= 19; offset += 4) r.hex32(offset);
  });
}

void printStructure19(FILE* report, Dmi* dmi) {
  Table t(report, "Memory Array Mapped Address Information", "MEMORY_ARRAY_MAPPED_ADDRESS_INSTANCE");
  static const Column columns[] = {
      {"Handle", A}, {"Start Addr", A}, {"End Addr", A}, {"Array Handle", A},
      {"Partition Width", A}};
  t.heading(columns);
  each_structure(t, dmi, 19, [](row& r) {
    r.hex(2, 2, "%04lxh");
    r.hex32(4);
    r.hex32(8);
    r.hex16(12);
    r.hex8(14);
  });
}

void printStructure20(FILE* report, Dmi* dmi) {
  Table t(report, "Memory Device Mapped Address Information", "MEMORY_DEVICE_MAPPED_ADDRESS_INSTANCE");
  static const Column columns[] = {
      {"Start Addr", A}, {"End Addr", A}, {"Device Handle", A},
      {"Array Mapped Addr Handle", A}, {"Partit Row Posn", A}, {"I/Leave Position", A},
      {"I/Leave Data Depth", A}};
  t.heading(columns);
  each_structure(t, dmi, 20, [](row& r) {
    r.hex32(4);
    r.hex32(8);
    r.hex16(12);
    r.hex16(14);
    for (unsigned offset = 16; offset <= 18; offset++) r.hex8(offset);
  });
}

void printStructure21(FILE* report, Dmi* dmi) {
  Table t(report, "Built-In Pointing Device Information", "POINTING_DEVICE_INSTANCE");
  static const Column columns[] = {{"Type", S, 11}, {"Interface", S, 19}, {"Number of Buttons", I}};
  t.heading(columns);
  each_structure(t, dmi, 21, [](row& r) {
    r.decode8(4, getMouseType);
    r.decode8(5, getMouseInterface);
    r.int8(6);
  });
}

void printStructure22(FILE* report, Dmi* dmi) {
  Table t(report, "Portable Battery Information", "BATTERY_INSTANCE");
  static const Column columns[] = {
      {"Location", A}, {"Mfg Date", A}, {"Serial Number", A, 0, MASK_SERIAL}, {"Dev Name", A},
      {"Capacity", I}, {"Design Voltage", I}, {"Ver Number", A}, {"Max Err in Data", I},
      {"SBDS SN", A}, {"SBDS Mfg Date", A}, {"Chemistry", A}, {"Cap Mult", A},
      {"OEM Data", A}};
  t.heading(columns);
  each_structure(t, dmi, 22, [](row& r) {
    r.str(4);
    for (unsigned offset = 6; offset <= 8; offset++) r.str(offset);
    r.int16(10);
    r.int16(12);
    r.str(14);
    r.int8(15);
    if (!ver22) {
      for (int i = 0; i < 5; i++) r.unknown();
      return;
    }
    r.hex16(16);
    r.hex16(18);
    r.hex8(20);
    r.hex8(21);
    r.hex32(22);
  });
}

void printStructure23(FILE* report, Dmi* dmi) {
  Table t(report, "System Reset Information", "RESET_INFO_INSTANCE");
  static const Column columns[] = {
      {"Capabilities", A}, {"Reset Count", I}, {"Reset Limit", I}, {"Timer interval", I},
      {"Timeout", I}};
  t.heading(columns);
  each_structure(t, dmi, 23, [](row& r) {
    r.hex8(4);
    for (unsigned offset = 5; offset <= 11; offset += 2) r.int16(offset);
  });
}

void printStructure24(FILE* report, Dmi* dmi) {
  Table t(report, "Hardware Security Information", "SECURITY_INFO_INSTANCE");
  static const Column columns[] = {
      {"Power-on Password Status", A}, {"Keyboard Password Status", A},
      {"Administrator Password Status", A}, {"Front Panel Reset Status", A}};
  t.heading(columns);
  each_structure(t, dmi, 24, [](row& r) {
    for (int shift = 6; shift >= 0; shift -= 2)
      r.has(4, 1) ? r.text(dmi_get_security_status((r.byte(4) >> shift) & 3)) : r.unknown();
  });
}

void printStructure25(FILE* report, Dmi* dmi) {
  Table t(report, "Next Scheduled Power On Information", "POWER_CONTROL_INSTANCE");
  static const Column columns[] = {
      {"Month", I}, {"Day", I}, {"Hour", I}, {"Minute", I}, {"Second", I}};
  t.heading(columns);
  each_structure(t, dmi, 25, [](row& r) {
    for (unsigned offset = 4; offset <= 8; offset++) r.int8(offset);
  });
}

void printStructure26(FILE* report, Dmi* dmi) {
  probe_table(report, dmi, 26, "Voltage Probes", "VOLTAGE_PROBE_INSTANCE");
}

void printStructure27(FILE* report, Dmi* dmi) {
  Table t(report, "Cooling Devices", "FAN_INSTANCE");
  static const Column columns[] = {
      {"Temp Probe Handle", A}, {"Device Type & Status", A}, {"Cooling Unit Group", A},
      {"OEM Data", A}};
  t.heading(columns);
  each_structure(t, dmi, 27, [](row& r) {
    r.hex16(4);
    r.hex8(6);
    r.hex8(7);
    r.hex32(8);
  });
}

void printStructure28(FILE* report, Dmi* dmi) {
  probe_table(report, dmi, 28, "Temperature Probes", "TEMPERATURE_PROBE_INSTANCE");
}

void printStructure29(FILE* report, Dmi* dmi) {
  probe_table(report, dmi, 29, "Electrical Current Probes", "CURRENT_PROBE_INSTANCE");
}

void printStructure30(FILE* report, Dmi* dmi) {
  Table t(report, "Out-of-Band Remote Access", "REMOTE_ACCESS_INSTANCE");
  static const Column columns[] = {{"Manufacturer Name", A, 50}, {"Connections", I}};
  t.heading(columns);
  each_structure(t, dmi, 30, [](row& r) {
    r.str(4);
    r.int8(5);
  });
}

void printStructure32(FILE* report, Dmi* dmi) {
  Table t(report, "Boot Status", "BOOT_STATUS_INSTANCE");
  static const Column columns[] = {{"Boot Status", A}};
  t.heading(columns);
  each_structure(t, dmi, 32, [](row& r) { r.hex8(10); });
}

// ---- the report -------------------------------------------------------------

void SetupVersion(Dmi* dmi) {
  unsigned revision = (unsigned)dmi->get_smbios_revision();
  unsigned major = revision >> 4, minor = revision & 0x0F;
  ver22 = major > 2 || (major == 2 && minor >= 2);
}

void print_structures(FILE* report, Dmi* dmi) {
  typedef void (*printer)(FILE*, Dmi*);
  static const printer printers[Dmi::DMI_OTHER_TYPES] = {
      printStructure00, printStructure01, printStructure02, printStructure03, printStructure04,
      printStructure05, printStructure06, printStructure07, printStructure08, printStructure09,
      printStructure10, printStructure11, printStructure12, printStructure13, printStructure14,
      nullptr,          printStructure16, printStructure17, printStructure18, printStructure19,
      printStructure20, printStructure21, printStructure22, printStructure23, printStructure24,
      printStructure25, printStructure26, printStructure27, printStructure28, printStructure29,
      printStructure30, nullptr,          printStructure32};
  for (unsigned type = 0; type < Dmi::DMI_OTHER_TYPES; type++) {
    unsigned count = dmi->get_num_structs(type);
    for (unsigned i = 0; i < count && debug_log_enabled(); i++) {
      char title[48];
      snprintf(title, sizeof title, "structure %u of %u type %02u", i + 1, count, type);
      const unsigned char* s = dmi->get_struct(type, i);
      print_hexdump(title, s, (int)dmi->structure_length(s), "");
    }
    if (count && printers[type]) printers[type](report, dmi);
  }
}

const char* dmi_info(FILE* report) {
  Dmi* dmi = Dmi::get_instance();
  if (!dmi->is_valid()) return "Failed";
  SetupVersion(dmi);
  start_section(report, "SMBIOS INFORMATION");
  print_structures(report, dmi);
  end_section(report);
  return "OK";
}

smbios_probe::smbios_probe(const char* probe_name, int probe_customers) : legacy_probe(probe_name, 16) {
  detail = 1;
  platform = 0x2F71;
  customers = probe_customers;
}

bool smbios_probe::run(FILE* report) {
  ok_text = dmi_info(report);
  return true;
}
