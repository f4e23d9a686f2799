// pcivpd_fuzz.cpp - arbitrary bytes as the contents of one VPD resource, and
// as the whole VPD memory of an emulated device walked resource by resource.
#include "fuzz_support.h"
#include "pci.h"
#include "pcivpd.h"

namespace {

/// A function with a VPD capability at 0x40 answering from `vpd`.
struct vpd_device : pci_config_space {
  unsigned char config[256] = {};
  const std::vector<unsigned char>& vpd;
  explicit vpd_device(const std::vector<unsigned char>& image) : vpd(image) {
    config[6] = 0x10;
    config[0x34] = 0x40;
    config[0x40] = 3;
  }
  bool read(unsigned, unsigned, unsigned, unsigned, unsigned o, void* p, unsigned n) override {
    if (o + n > sizeof config) return false;
    memcpy(p, config + o, n);
    return true;
  }
  bool write(unsigned, unsigned, unsigned, unsigned, unsigned o, const void* p, unsigned n) override {
    if (o != 0x42 || n != 2) __builtin_trap();  // only the address register is ever written
    memcpy(config + o, p, n);
    unsigned address = config[0x42] | (config[0x43] << 8);
    if (address > 0x7FFF) __builtin_trap();
    config[0x43] |= 0x80;
    for (unsigned i = 0; i < 4; i++) config[0x44 + i] = address + i < vpd.size() ? vpd[address + i] : 0;
    return true;
  }
  void pause(int) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<unsigned char> bytes(data, data + size);
  pci_vpd_xxx record;
  if (size > 0) analyse_resource(0x10 | (data[0] & 1), bytes.data() + 1, (unsigned)size - 1, &record);
  analyse_resource(0x02, bytes.data(), (unsigned)size, &record);

  vpd_device device(bytes);
  pci_set_config_space(&device);
  int capability = pcivpd_find_capability(0, 0, 0);
  if (capability) pcivpd_analyse_vpd(0, 0, 0, capability, &record);
  pci_set_config_space(nullptr);
  for (const std::string& s : record.slot)
    for (char c : s)
      if (c < 0x20 || c > 0x7E) __builtin_trap();
  return 0;
}
