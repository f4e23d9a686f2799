// pci_probe.cpp - the PCI device summary and the PCI adapter list.
//
// The walk lists the kernel's bus directories instead of opening every
// possible address; the order and the rules stay those of a walk over every
// bus, device and function: a function that does not answer ends its
// device, and a single-function device ends after function 0.
#include "pci_probe.h"

#include <cstring>
#include <strings.h>
#include <vector>

#include "debug.h"
#include "dmi.h"
#include "pci.h"
#include "pcidb.h"
#include "pcivpd.h"
#include "table.h"
#include "xml.h"

pci_probe::pci_probe() : legacy_probe("PCI DEVICES", 16) {
  detail = 3;
  platform = 0x2F71;
  customers = 0xFFFF;
}

bool pci_probe::run(FILE* report) {
  ok_text = pci_device_summary(report, !is_pci_blacklisted(), true, all_buses);
  return true;
}

bool pci_probe::set_parameter(const char* key, const char* value) {
  if (key && strcasecmp(key, "buses") == 0 && value) {
    all_buses = strcasecmp(value, "all") == 0;
    printd("pci: walking %s\n", all_buses ? "every bus of every domain" : "buses 0-15 of domain 0");
    return true;
  }
  return legacy_probe::set_parameter(key, value);
}

pci_adapter_probe::pci_adapter_probe() : legacy_probe("PCI ADAPTER INFORMATION", 16) {
  detail = 3;
  platform = 0x2F71;
  customers = 0x0041;
}

bool pci_adapter_probe::test() { return !is_pci_blacklisted(); }

bool pci_adapter_probe::run(FILE* report) {
  ok_text = list_pci_adapters(report);
  return true;
}

namespace {

const Column device_columns[] = {
    {"Bus", INTEGER},           {"Device", INTEGER},        {"Function", INTEGER},
    {"Slot", ASCII_STRING, 8},     {"Vendor ID", HEX},         {"Vendor Name", STRING, 30},
    {"Device ID", HEX},         {"Device Name", STRING, 50},   {"Class", ASCII_STRING, 10},
    {"Sub Class", ASCII_STRING, 15}, {"Product Name", ASCII_STRING, 10}, {"Part Number", ASCII_STRING, 10},
    {"EC Level", ASCII_STRING, 10}, {"Manufacturer ID", ASCII_STRING, 15},
    {"Serial Number", ASCII_STRING, 10, MASK_SERIAL},
};
const size_t DEVICE_COLUMNS_WITHOUT_VPD = 10;

const Column adapter_columns[] = {
    {"Slot ID", INTEGER}, {"Slot Name", ASCII_STRING, 25}, {"In Use", ASCII_STRING},
    {"Vendor", STRING, 25},  {"Adapter", STRING, 70},
};

/// The slot text of a function: "Unknown" unless a routing table names it.
const char* slot_text(const _PCI_ROUTING_TABLE* routing, int bus, int device, char* buffer, size_t size) {
  if (!routing) return "Unknown";
  int slot = get_slot_number(bus, device, routing->entries, routing->byte_count);
  if (slot == 0) return "On-board";
  if (slot < 0) return "Unknown";
  if (Dmi::instance) return Dmi::instance->get_pci_slot_name(slot);
  snprintf(buffer, size, "%d", slot);
  return buffer;
}

/// A class name from the built-in table, else from the id file's class list.
const char* class_text(const pci_database* db, const char* built_in, bool sub_class, unsigned code) {
  if (strcmp(built_in, "Unknown") != 0) return built_in;
  const char* listed = sub_class ? db->get_sub_class_name(code) : db->get_class_name(code);
  return listed ? listed : built_in;
}

}  // namespace

const char* pci_device_summary(FILE* out, bool slot_numbers, bool vpd, bool all_buses) {
  if (!out) return "FAILED";
  printd("pci: pci device summary, slot numbers %d, vpd %d\n", slot_numbers ? 1 : 0, vpd ? 1 : 0);
  const pci_database* db = pci_database::get_instance();
  std::vector<wchar_t> name((size_t)db->get_longest_name());
  const unsigned name_size = (unsigned)name.size();
  int last_bus = PCI_get_last_bus();
  if (last_bus < 0) last_bus = 16;

  _PCI_ROUTING_TABLE routing_buffer;
  const _PCI_ROUTING_TABLE* routing = nullptr;
  if (slot_numbers) {
    if (PCI_get_interrupt_routing(&routing_buffer)) routing = &routing_buffer;
    Dmi::get_instance();
  }

  start_section(out, "PCI DEVICES");
  {
    Table table(out, "PCI Device Summary", "PCI_DEVICE");
    table.heading(device_columns, vpd ? sizeof device_columns / sizeof *device_columns
                                      : DEVICE_COLUMNS_WITHOUT_VPD);
    for (const pci_bus_listing& b : pci_list_buses(all_buses, last_bus)) {
      pci_set_domain(b.domain);
      for (int device = 0; device < 32; device++) {
        for (int function = 0; function < 8; function++) {
          _PCI_COMMON_CONFIG h;
          // Asked for everything, every function the kernel lists is
          // reported; the default walk ends a device at a missing function.
          const bool listed = (b.functions[device] & (1u << function)) != 0;
          if (!listed || !GetInfoPCI(b.bus, device, function, &h)) {
            if (all_buses) continue;
            break;
          }
          char id[64], slot[16];
          if (b.domain == 0)
            snprintf(id, sizeof id, "%04x:%04x:%02x - %d:%d:%d", h.VendorID, h.DeviceID, h.RevisionID, b.bus,
                     device, function);
          else
            snprintf(id, sizeof id, "%04x:%04x:%02x - %u:%d:%d:%d", h.VendorID, h.DeviceID, h.RevisionID,
                     b.domain, b.bus, device, function);
          table.start_row(id);
          table.log_data(b.bus);
          table.log_data(device);
          table.log_data(function);
          table.log_data(slot_text(routing, b.bus, device, slot, sizeof slot));
          table.log_data((unsigned)h.VendorID);
          table.log_wide_data(db->get_vendor_name(name.data(), name_size, h.VendorID));
          table.log_data((unsigned)h.DeviceID);
          table.log_wide_data(db->get_device_name(name.data(), name_size, h.VendorID, h.DeviceID, h.RevisionID));
          table.log_data(class_text(db, PCI_ClassName(h.BaseClass), false, h.BaseClass));
          table.log_data(class_text(db, PCI_SubClassName(h.BaseClass * 256 + h.SubClass), true,
                                    h.BaseClass * 256u + h.SubClass));
          if (vpd) log_vpd(b.bus, device, function, &table);
          table.end_row();
          if (!all_buses && function == 0 && !(h.HeaderType & 0x80)) break;
        }
      }
    }
    pci_set_domain(0);
  }
  end_section(out);
  // Said on the console, so that a build without the id file is noticed.
  return db->get_record_count() > 0 ? "OK" : "OK, but no pcidb.txt: devices named Unknown";
}

const char* list_pci_adapters(FILE* out) {
  if (!out) return "FAILED";
  const pci_database* db = pci_database::get_instance();
  Dmi* dmi = Dmi::get_instance();
  if (!dmi) return "FAILED";
  // The slot list is sized by the table's own count, never assumed.
  int count = dmi->get_num_pci_slots(nullptr, 0);
  if (count <= 0) return "No PCI Slots";
  std::vector<unsigned short> slots((size_t)count);
  count = dmi->get_num_pci_slots(slots.data(), (unsigned)slots.size());
  std::vector<wchar_t> name((size_t)db->get_longest_name());
  const unsigned name_size = (unsigned)name.size();

  start_section(out, "PCI ADAPTER INFORMATION");
  {
    Table table(out, "PCI Adapters", "PCI_ADAPTER");
    table.heading(adapter_columns);
    for (int i = 0; i < count; i++) {
      char id[16];
      snprintf(id, sizeof id, "%d", slots[i]);
      table.start_row(id);
      table.log_data((int)slots[i]);
      table.log_data(dmi->get_pci_slot_name(slots[i]));
      table.log_data(dmi->is_pci_slot_in_use(slots[i]) ? "Yes" : "No");
      _PCI_COMMON_CONFIG h;
      if (pci_get_pci_device_for_slot(slots[i], &h)) {
        table.log_wide_data(db->get_subsys_vendor_name(name.data(), name_size, h.VendorID, h.SubVendorID,
                                                       h.SubSystemID));
        table.log_wide_data(db->get_subsys_device_name(name.data(), name_size, h.VendorID, h.DeviceID,
                                                       h.RevisionID, h.SubVendorID, h.SubSystemID));
      } else {
        table.log_data("Empty or not responding");
        table.log_data("Empty or not responding");
      }
      table.end_row();
    }
  }
  end_section(out);
  return "OK";
}
