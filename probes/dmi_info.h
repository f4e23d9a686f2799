// dmi_info.h - the SMBIOS structure report: one table per structure type
// present, fields decoded by the SMBIOS (DMTF DSP0134) enumerations.
#pragma once

#include <cstdio>

#include "probe.h"

class Dmi;

/// Writes the section "SMBIOS INFORMATION"; "OK", or "Failed" (nothing
/// written) when there is no valid table.
const char* dmi_info(FILE* report);
/// Notes whether the table is of SMBIOS 2.2 or later (the battery fields).
void SetupVersion(Dmi* dmi);

/// The probe task of the report; its status word is what dmi_info answers.
class smbios_probe : public legacy_probe {
 public:
  smbios_probe(const char* name, int customers);
  bool run(FILE* report) override;
};

// Decoders: constant texts, or a static buffer overwritten by the next call
// of the same decoder.
const char* getWakeUpType(unsigned char value);
const char* getChassisState(unsigned char value);
const char* getProcessorStatus(unsigned char value);
const char* getMemCtrlErrDetect(unsigned char value);
const char* getMemCtrlCorCapable(unsigned char value);
const char* getMemCtrlInterleave(unsigned char value);
const char* getPowerOfTwoMemorySize(unsigned char value);
const char* getMemorySpeeds(unsigned bits);
const char* getMemoryType(unsigned bits);
const char* getMemoryModuleVoltage(unsigned char bits);
const char* getBankConnections(unsigned char value);
const char* getCacheSize(unsigned value);
const char* getCacheSRAMType(unsigned bits);
const char* getErrorCorrectionType(unsigned char value);
const char* getSystemCacheType(unsigned char value);
const char* getAssociativity(unsigned char value);
const char* getConnectorType(unsigned char value);
const char* getPortType(unsigned char value);
const char* getSlotType(unsigned char value);
const char* getSlotDataBusWidth(unsigned char value);
const char* getCurrentUsage(unsigned char value);
const char* getSlotLength(unsigned char value);
const char* getSlotCharacteristics(unsigned char bits);
const char* getSlotCharacteristics2(unsigned char bits);
const char* getDeviceType(unsigned char value);
const char* getLocation(unsigned char value);
const char* getUse(unsigned char value);
const char* getErrorCorrection(unsigned char value);
const char* getFormFactor(unsigned char value);
const char* getMouseType(unsigned char value);
const char* getMouseInterface(unsigned char value);
const char* dmi_get_security_status(unsigned value);
/// ROM size code of the BIOS structure.
const char* getRomSize(unsigned char value);
/// The extended BIOS ROM size word of SMBIOS 3.1 (offset 18h), as "16M" or "1G".
const char* getExtendedRomSize(unsigned value);

/// The printers, one table each (types 15, 31 and 33 and above have none).
void printStructure00(FILE* report, Dmi* dmi);
void printStructure01(FILE* report, Dmi* dmi);
void printStructure02(FILE* report, Dmi* dmi);
void printStructure03(FILE* report, Dmi* dmi);
void printStructure04(FILE* report, Dmi* dmi);
void printStructure05(FILE* report, Dmi* dmi);
void printStructure06(FILE* report, Dmi* dmi);
void printStructure07(FILE* report, Dmi* dmi);
void printStructure08(FILE* report, Dmi* dmi);
void printStructure09(FILE* report, Dmi* dmi);
void printStructure10(FILE* report, Dmi* dmi);
void printStructure11(FILE* report, Dmi* dmi);
void printStructure12(FILE* report, Dmi* dmi);
void printStructure13(FILE* report, Dmi* dmi);
void printStructure14(FILE* report, Dmi* dmi);
void printStructure16(FILE* report, Dmi* dmi);
void printStructure17(FILE* report, Dmi* dmi);
void printStructure18(FILE* report, Dmi* dmi);
void printStructure19(FILE* report, Dmi* dmi);
void printStructure20(FILE* report, Dmi* dmi);
void printStructure21(FILE* report, Dmi* dmi);
void printStructure22(FILE* report, Dmi* dmi);
void printStructure23(FILE* report, Dmi* dmi);
void printStructure24(FILE* report, Dmi* dmi);
void printStructure25(FILE* report, Dmi* dmi);
void printStructure26(FILE* report, Dmi* dmi);
void printStructure27(FILE* report, Dmi* dmi);
void printStructure28(FILE* report, Dmi* dmi);
void printStructure29(FILE* report, Dmi* dmi);
void printStructure30(FILE* report, Dmi* dmi);
void printStructure32(FILE* report, Dmi* dmi);

/// Writes the report's tables for an already initialised table (no
/// section); used by dmi_info and by tests that bring their own table.
void print_structures(FILE* report, Dmi* dmi);
