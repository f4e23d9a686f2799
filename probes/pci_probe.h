// pci_probe.h - the "PCI DEVICES" and "PCI ADAPTER INFORMATION" reports.
#pragma once

#include <cstdio>

#include "probe.h"

/// "PCI DEVICES": every function of the walked buses, named from the id
/// database, with its VPD. Parameter "buses=all" walks buses 0-255 of every
/// domain present instead of buses 0-15 of domain 0.
class pci_probe : public legacy_probe {
 public:
  pci_probe();
  bool run(FILE* report) override;
  bool set_parameter(const char* key, const char* value) override;

 private:
  bool all_buses = false;
};

/// "PCI ADAPTER INFORMATION": the SMBIOS system slots and what sits in each.
class pci_adapter_probe : public legacy_probe {
 public:
  pci_adapter_probe();
  /// False on a blacklisted manufacturer.
  bool test() override;
  bool run(FILE* report) override;
};

/// Writes the device table; "OK", or "FAILED" for a null stream.
const char* pci_device_summary(FILE* out, bool slot_numbers, bool vpd, bool all_buses = false);
/// Writes the adapter table; "OK", "No PCI Slots", or "FAILED" without SMBIOS access.
const char* list_pci_adapters(FILE* out);
