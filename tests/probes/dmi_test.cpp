// dmi_test.cpp - the SMBIOS table: walk, strings, queries, the BIOS segment
// search, the kernel's copy, and captured machines.
#include "dmi.h"

#include <gtest/gtest.h>

#include <memory>

#include "capture.h"
#include "smbios_root.h"

using namespace smbios_test;

namespace {

bool init_table(Dmi& dmi, const bytes& table) { return init_from_dump(dmi, dump_of(table)); }
dump committed(const std::string& name) { return committed_dump(name); }

/// A machine root with a physical memory image; init_here() saves the image,
/// points the system root here (until the test ends) and reads the table.
class DmiRoot : public ::testing::Test {
 protected:
  bool init_here() {
    if (!mem.save(root)) return false;
    use.reset(new scoped_sysroot(root));
    return dmi.init();
  }
  temp_root root;
  memory_image mem;
  Dmi dmi;
  std::unique_ptr<scoped_sysroot> use;
};

}  // namespace

TEST(DmiWalk, StepsOverType5WithoutTerminatorToTheModulesAfterIt) {
  Dmi dmi;
  ASSERT_TRUE(init_from_dump(dmi, committed("type5-no-terminator")));
  EXPECT_EQ(dmi.get_num_structs(5), 1u);
  EXPECT_EQ(dmi.get_num_structs(6), 2u);
  EXPECT_EQ(dmi.getString(1, dmi.get_struct(6, 1)), std::string("DIMM1"));
  EXPECT_EQ(dmi.get_total_installed_memory(), 1024);
  EXPECT_EQ(dmi.get_num_memory_slots(), 2);
  EXPECT_EQ(dmi.get_total_memory_capability(), 4096);
  EXPECT_EQ(dmi.get_installed_memory_size(1), 1024);
  EXPECT_EQ(dmi.get_installed_memory_size(2), 0);
  EXPECT_EQ(dmi.get_installed_memory_size(3), -1);
  EXPECT_STREQ(dmi.get_installed_memory_type(1), "Standard, EDO");
  EXPECT_EQ(dmi.get_smbios_revision(), 0x23);
}

TEST(DmiWalk, EndsAtAStructureThatRunsPastTheTableOrHasNoLength) {
  bytes system(21, 0);
  system[0] = 1;
  table_builder cut;
  cut.add(1, system, {"Maker", "Model"}).raw({2, 8, 0, 0, 1, 0, 0, 0, 'c', 'u', 't'});  // no 00 00
  Dmi dmi;
  ASSERT_TRUE(init_table(dmi, cut.data()));
  EXPECT_EQ(dmi.get_num_structs(2), 0u);
  EXPECT_STREQ(dmi.get_make(), "Maker");

  // A walk that lost step: a "structure" of formatted length 2 is stepped
  // over unindexed; a type 5 of formatted length 0 has no length at all.
  table_builder lost;
  lost.add(1, system, {"Maker"}).raw({0x20, 0x02, 0x00, 0x00}).add(3, bytes(9, 0));
  lost.raw({5, 0, 1, 0}).add(4, bytes(30, 0));
  Dmi broken;
  ASSERT_TRUE(init_table(broken, lost.data()));
  EXPECT_EQ(broken.get_num_structs(32), 0u);
  EXPECT_EQ(broken.get_num_structs(3), 1u);
  EXPECT_EQ(broken.get_num_structs(4), 0u);
}

TEST(DmiWalk, StopsAtEndOfTableAndCountsHighTypesTogether) {
  table_builder t;
  t.add(200, {}).add(41, {1}).add(7, bytes(15, 0)).end().add(8, bytes(5, 0));
  Dmi dmi;
  ASSERT_TRUE(init_table(dmi, t.data()));
  EXPECT_EQ(dmi.get_num_structs(40), 2u);
  EXPECT_EQ(dmi.get_num_structs(99), 2u);
  EXPECT_EQ(dmi.get_num_structs(7), 1u);
  EXPECT_EQ(dmi.get_num_structs(8), 0u);
  EXPECT_EQ(dmi.get_struct(7, 1), nullptr);
}

TEST(DmiStrings, AnswerEmptyForZeroMissingAndUnterminatedNumbers) {
  Dmi dmi;
  ASSERT_TRUE(init_from_dump(dmi, committed("no-strings")));
  const unsigned char* system = dmi.get_struct(1, 0);
  for (int n = 0; n < 4; n++) EXPECT_STREQ(dmi.getString(n, system), "");
  EXPECT_STREQ(dmi.getString(1, dmi.get_struct(2, 0)), "");
  EXPECT_STREQ(dmi.get_make(), "");
  // The type-1 serial is number 0, so the enclosure's serial (number 2 of
  // one string) is asked for, and there is none.
  EXPECT_STREQ(dmi.get_serial_number(), "");
  EXPECT_STREQ(dmi.getString(1, dmi.get_struct(3, 0)), "Chassis Co");

  const unsigned char s[] = {11, 5, 0, 0, 1, 'o', 'n', 'e', 0, 't', 'w', 'o'};
  EXPECT_STREQ(Dmi::getString(1, s, sizeof s), "one");
  EXPECT_STREQ(Dmi::getString(2, s, sizeof s), "");  // runs into the end of the table
  EXPECT_STREQ(Dmi::getString(9, s, sizeof s), "");
}

TEST(DmiStrings, ReducesArchitectedModelNames) {
  Dmi dmi;
  ASSERT_TRUE(init_from_dump(dmi, committed("architected-model")));
  EXPECT_STREQ(dmi.get_model(), "4455");
  EXPECT_STREQ(dmi.get_make(), "HALVEX");
  EXPECT_STREQ(Dmi::architected_text("-[ABCDXYZ]-"), "ABCDXYZ");
  EXPECT_STREQ(Dmi::architected_text("Plain Model"), "Plain Model");
  EXPECT_STREQ(Dmi::architected_text("Half -[open"), "Half -[open");
  EXPECT_EQ(std::string(Dmi::architected_text(std::string(100, 'x').c_str())).size(), 64u);
}

TEST(DmiQueries, GiveUnknownUuidForAShortSystemStructure) {
  Dmi dmi;
  ASSERT_TRUE(init_from_dump(dmi, committed("type1-length24")));
  EXPECT_STREQ(dmi.get_uuid(), "Unknown");
  EXPECT_STREQ(dmi.get_make(), "Acme");
  EXPECT_STREQ(dmi.get_serial_number(), "SN123");
  EXPECT_STREQ(dmi.get_bios_build(), "2.10");
  EXPECT_STREQ(dmi.get_bios_date().altstring(), "11/30/2001");
}

TEST(DmiQueries, NeverReadFieldsBeyondTheFormattedLength) {
  // Structures cut short right after their header: every query must fall
  // back to its default instead of reading the next structure's bytes.
  table_builder t;
  for (unsigned char type : {0, 1, 3, 6, 9, 16, 17}) t.add(type, {}, {"text"});
  t.add(5, {});
  Dmi dmi;
  ASSERT_TRUE(init_table(dmi, t.data()));
  EXPECT_STREQ(dmi.get_make(), "Unknown");
  EXPECT_STREQ(dmi.get_model(), "Unknown");
  EXPECT_STREQ(dmi.get_serial_number(), "Unknown");
  EXPECT_STREQ(dmi.get_enclosure_type(), "Unknown");
  EXPECT_STREQ(dmi.get_bios_build(), "Unknown");
  EXPECT_FALSE(dmi.get_bios_date().is_valid());
  EXPECT_STREQ(dmi.get_pci_slot_name(1), "1");
  EXPECT_EQ(dmi.get_total_installed_memory(), 0);
  EXPECT_EQ(dmi.get_num_memory_slots(), 0);
  EXPECT_EQ(dmi.get_total_memory_capability(), -1);
  EXPECT_EQ(dmi.get_installed_memory_size(1), -1);
}

TEST(DmiQueries, AnswerDefaultsWithoutATable) {
  Dmi dmi;
  EXPECT_FALSE(dmi.init_from_bytes(nullptr, 0, nullptr, 0));
  EXPECT_FALSE(dmi.is_valid());
  EXPECT_STREQ(dmi.get_make(), "Unknown");
  EXPECT_STREQ(dmi.get_uuid(), "Unknown");
  EXPECT_STREQ(dmi.get_pci_slot_name(0), "0");
  EXPECT_EQ(dmi.get_smbios_revision(), 0);
  EXPECT_EQ(dmi.get_num_memory_slots(), -1);
  EXPECT_EQ(dmi.get_total_memory_capability(), -1);
  EXPECT_EQ(dmi.get_num_structs(1), 0u);
  EXPECT_STREQ(dmi.get_bios_date().altstring(), "");
}

TEST(DmiMemory, TreatsHugeExponentsAsUnknownAndSumsIn64Bits) {
  table_builder t;
  // Controller: 255 slots of 2^30 MB modules; a second one claims 2^31.
  t.add(5, {3, 4, 3, 3, 30, 0, 0, 0, 0, 2, 255});
  t.add(5, {3, 4, 3, 3, 31, 0, 0, 0, 0, 2, 4});
  t.add(6, {1, 0x01, 60, 0x04, 0x00, 40, 40, 0});
  t.add(6, {1, 0x01, 60, 0x04, 0x00, 0x8B, 11, 0});  // bit 7 (double bank) ignored
  Dmi dmi;
  ASSERT_TRUE(init_table(dmi, t.data()));
  EXPECT_EQ(dmi.get_total_memory_capability(), 255LL << 30);
  EXPECT_EQ(dmi.get_total_installed_memory(), 2048);
  EXPECT_EQ(dmi.get_installed_memory_size(1), 0);
  EXPECT_EQ(dmi.get_num_memory_slots(), 259);
}

TEST(DmiMemory, ReadsDevicesOfSystemArraysWhenThereAreNoModules) {
  table_builder t;
  // Array 0x0000 (system memory, 2 devices, 4 GB) and array 0x0001 (video).
  t.add(16, {3, 3, 3, 0x00, 0x00, 0x40, 0x00, 0xFE, 0xFF, 2, 0});
  t.add(16, {3, 4, 3, 0x00, 0x00, 0x00, 0x80, 0xFE, 0xFF, 1, 0});
  auto device = [](unsigned char array, uint16_t size, unsigned char type) {
    bytes f(23, 0);
    f[0] = array;                   // offset 4: array handle
    f[8] = size & 0xFF;             // offset 12: size
    f[9] = size >> 8;
    f[10] = 9;                      // offset 14: DIMM
    f[14] = type;                   // offset 18: memory type
    return f;
  };
  t.add(17, device(0, 0x0200, 18));
  t.add(17, device(1, 0x0400, 18));  // on the video array
  t.add(17, device(0, 0x8200, 18));  // 512 KB
  t.add(17, device(0, 0x0100, 9));   // flash
  t.add(17, device(0, 0xFFFF, 2));
  Dmi dmi;
  ASSERT_TRUE(init_table(dmi, t.data()));
  EXPECT_EQ(dmi.get_total_installed_memory(), 512 + 1024);
  EXPECT_EQ(dmi.get_num_memory_slots(), 2);
  EXPECT_EQ(dmi.get_total_memory_capability(), 4096);
  EXPECT_EQ(dmi.get_installed_memory_size(1), 512);
  EXPECT_EQ(dmi.get_installed_memory_size(2), 0);
  EXPECT_EQ(dmi.get_installed_memory_size(4), -1);
  EXPECT_STREQ(dmi.get_installed_memory_type(1), "DDR DIMM");
  EXPECT_STREQ(dmi.get_installed_memory_type(3), "Flash DIMM");
  EXPECT_STREQ(dmi.get_installed_memory_type(5), "Unknown");
}

TEST(DmiSlots, NamesCountsAndUsesPciSlotsWithinTheCallersArray) {
  table_builder t;
  t.add(9, {1, 6, 5, 4, 3, 1, 0, 0x04, 0x00}, {"PCI1"});
  t.add(9, {1, 6, 5, 3, 3, 2, 0, 0x04, 0x00}, {"PCI2"});
  t.add(9, {1, 0xA5, 5, 4, 3, 3, 0, 0x04, 0x00}, {"PCIe"});  // not a PCI slot type
  t.add(9, {1, 18, 5, 4, 3, 0, 0, 0x04, 0x00}, {"PCI-X no id"});
  Dmi dmi;
  ASSERT_TRUE(init_table(dmi, t.data()));
  unsigned short ids[4] = {0, 0, 0, 0xBEEF};
  EXPECT_EQ(dmi.get_num_pci_slots(nullptr, 0), 2);
  EXPECT_EQ(dmi.get_num_pci_slots(ids, 1), 1);
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[1], 0);
  EXPECT_EQ(dmi.get_num_pci_slots(ids, dmi.get_num_structs(9)), 2);
  EXPECT_EQ(ids[1], 2);
  EXPECT_EQ(ids[3], 0xBEEF);
  EXPECT_STREQ(dmi.get_pci_slot_name(2), "PCI2");
  EXPECT_STREQ(dmi.get_pci_slot_name(3), "3");
  EXPECT_TRUE(dmi.is_pci_slot_in_use(1));
  EXPECT_FALSE(dmi.is_pci_slot_in_use(2));
  EXPECT_FALSE(dmi.is_pci_slot_in_use(0));
}

TEST(DmiDecoders, IgnoreTheLockBitAndNameUnlistedValuesUnknown) {
  EXPECT_STREQ(Dmi::getChassisType(0x83), "Desktop");
  EXPECT_STREQ(Dmi::getChassisType(2), "Unknown");
  EXPECT_STREQ(Dmi::getChassisType(25), "Unknown");
  EXPECT_STREQ(Dmi::getType06MemoryType(0), "None");
  EXPECT_STREQ(Dmi::getType06MemoryType(0x8401), "Other, SDRAM, Error: Invalid Type");
  EXPECT_STREQ(Dmi::getType17MemoryFormFactor(2), "Unknown");
}

TEST_F(DmiRoot, SearchTakesTheLaterHeaderWhenTheFirstChecksumIsWrong) {
  bytes segment = read_bytes(hand_built_path("bad-checksum-first.bin"));
  ASSERT_FALSE(segment.empty());
  mem.put(0xF0000, segment);
  ASSERT_TRUE(init_here());
  EXPECT_STREQ(dmi.get_make(), "Right Vendor");
  EXPECT_EQ(dmi.get_smbios_revision(), 0x23);
}

TEST(DmiSearch, RejectsAnAnchorWhoseHeaderWouldRunPastTheSegment) {
  // Exactly sized heap buffers: a read past the end shows under the sanitiser.
  bytes entry = entry_point_32(0x40, 0x1000, 0x27);
  bytes tail(entry.begin() + 0x10, entry.begin() + 0x10 + 14);  // header cut by one byte
  bytes segment(100, 0);
  segment.insert(segment.end(), tail.begin(), tail.end());
  EXPECT_EQ(Dmi::find_dmi_header(segment.data(), segment.size()), -1);
  bytes whole(entry.begin() + 0x10, entry.end());
  segment.resize(100);
  segment.insert(segment.end(), whole.begin(), whole.end());
  EXPECT_EQ(Dmi::find_dmi_header(segment.data(), segment.size()), 100);
}

TEST(DmiSearch, RefusesTablesThatRunPastTheSegmentOrWrapRoundAddresses) {
  for (uint32_t address : {0xFFFFFF00u, 0xFFFF0u}) {
    temp_root root;
    memory_image mem;
    mem.put(0xF0000, entry_point_32(0x200, address, 0x27));
    ASSERT_TRUE(mem.save(root));
    scoped_sysroot use(root);
    Dmi dmi;
    EXPECT_FALSE(dmi.init()) << std::hex << address;
  }
}

TEST_F(DmiRoot, PhysicalMemoryIsCopiedAtAnyAlignmentAndReadsPastTheImageAreRefused) {
  mem.put(0x12345, {'a', 'b', 'c'});
  init_here();
  char out[4] = {0, 0, 0, 0};
  ASSERT_TRUE(copy_physical_memory(0x12345, out, 3));
  EXPECT_STREQ(out, "abc");
  char tail[16];
  EXPECT_TRUE(copy_physical_memory(0x100000 - 16, tail, 16));
  EXPECT_FALSE(copy_physical_memory(0x100000 - 8, tail, 16));
  EXPECT_FALSE(copy_physical_memory(0x200000, tail, 16));
  EXPECT_FALSE(copy_physical_memory(0, tail, 0));
}

// A replayed capture answers a read lying inside one of its recorded ranges;
// any other read goes to the root's memory image, and fails without one.
TEST_F(DmiRoot, ReplayedRangesAnswerReadsInsideThemAlone) {
  ASSERT_TRUE(root.write(".zelvarn2-capture/manifest", "zelvarn2 capture 1\nhost=box\ntime=1700000000\nversion=x\n"));
  ASSERT_TRUE(root.write(".zelvarn2-capture/commands/index", ""));
  ASSERT_TRUE(root.write(".zelvarn2-capture/memory", "f0000 4\nabcd10 3\nxyz"));
  const struct {
    unsigned long address;
    int length;
    const char* got;  ///< null: the read fails
    bool image = false;
  } reads[] = {
      {0xF0000, 4, "abcd"}, {0xF0001, 2, "bc"}, {0x10, 3, "xyz"}, {0xF0002, 4, nullptr},
      {0x0F, 2, nullptr},   {0x12345, 3, nullptr}, {0x12345, 3, "ijk", true}, {0xF0000, 4, "abcd", true},
  };
  mem.put(0x12345, {'i', 'j', 'k'});
  mem.put(0xF0000, {'n', 'o', 'p', 'e'});
  scoped_sysroot use_root(root);
  std::string why;
  ASSERT_TRUE(replay_load(&why)) << why;
  for (const auto& r : reads) {
    if (r.image) {
      ASSERT_TRUE(mem.save(root));
    }
    char out[8] = {};
    EXPECT_EQ(copy_physical_memory(r.address, out, r.length), r.got != nullptr) << std::hex << r.address;
    if (r.got) {
      EXPECT_STREQ(out, r.got);
    }
  }
  capture_reset();
}

TEST_F(DmiRoot, SysfsCopyIsTakenBeforeTheMemorySearch) {
  mem.put_dump(committed("no-strings"), 0xF0000, 0x10000);
  ASSERT_TRUE(write_sysfs_tables(root, committed("architected-model")));
  ASSERT_TRUE(init_here());
  EXPECT_STREQ(dmi.get_make(), "HALVEX");
}

TEST_F(DmiRoot, SysfsCopyWithABrokenEntryPointFallsBackToTheMemorySearch) {
  mem.put_dump(committed("type1-length24"), 0xFFFE0, 0x9F000);
  dump broken = committed("architected-model");
  broken.entry[0x15]++;
  ASSERT_TRUE(write_sysfs_tables(root, broken));
  ASSERT_TRUE(init_here());
  EXPECT_STREQ(dmi.get_make(), "Acme");
}

// Captured machines. Values were read by hand from the table bytes, with the
// decodes published beside the dumps as a cross-check; the UUID is in stored
// byte order.
namespace {

struct machine_facts {
  const char *name;
  bool has_32bit_entry;
  const char *make, *model, *serial, *uuid, *bios, *bios_date, *enclosure;
  long long installed_mb;
  int slots;
  long long capability_mb;
  int revision;
  unsigned structures;  // indexed, end-of-table excluded
};

const machine_facts MACHINES[] = {
    {"lenovo-thinkpad-w510", true, "LENOVO", "431924G", "R86W27P", "ee55f001507b11cb89b7b3fc67fdc149",
     "6NET84WW (1.45 )", "10/03/2012", "Notebook", 8192, 4, 65536, 0x00, 81},
    {"lenovo-thinkpad-t480s", false, "LENOVO", "20L8S07A14", "PC131TBF",
     "cc7416161e2ab211a85ce121881d01b9", "N22ET52W (1.29 )", "01/16/2019", "Notebook", 24576, 2,
     32768, 0x30, 62},
    {"gigabyte-ga-ma74gmt-s2", true, "Gigabyte Technology Co., Ltd.", "GA-MA74GMT-S2", " ",
     "314336463635353234453546ffffffff", "F8", "08/03/2010", "Desktop", 2048, 4, 4096, 0x24, 53},
    {"vmware-vm", true, "VMware, Inc.", "VMware Virtual Platform",
     "VMware-56 4d e2 c3 c3 c0 e1 e2-46 22 55 4d c5 eb 6b a1", "564de2c3c3c0e1e24622554dc5eb6ba1",
     "6.00", "05/19/2017", "Other", 1024, 64, 491520, 0x00, 619},
    {"hyperv-gen1", true, "Microsoft Corporation", "Virtual Machine",
     "1519-7810-4472-8775-7272-8851-12", "ef4968b2b04f034ea9d11a165a40c8d7", "090008 ", "12/07/2018",
     "Desktop", 0, 0, -1, 0x33, 5},
    {"supermicro-x9dbl", true, "Thomas-Krenn.AG", "X9DBL-3F/X9DBL-iF", "9000116105",
     "000000000000000000000cc47a133878", "3.00", "12/06/2013", "Main Server Chassis", 49152, 6, 98304,
     0x27, 114},
    {"toshiba-satellite-pro-l70", true, "TOSHIBA", "SATELLITE PRO L70-A", "XD198915C",
     "a0f460b54840e3118b6a089e01ee6336", "1.60", "04/18/2014", "Notebook", 16384, 4, 32768, 0x27, 68},
    {"asus-ux307la", true, "ASUSTeK COMPUTER INC.", "UX305LA", "FCN0CJ03468352B     ",
     "823e0f85389f4a6988402f8b0cf5d3d0", "UX305LA.206", "08/03/2015", "Notebook", 8192, 2, 16384,
     0x28, 26},
};

void expect_facts(Dmi& dmi, const machine_facts& m, unsigned long table_length) {
  SCOPED_TRACE(m.name);
  ASSERT_TRUE(dmi.is_valid());
  EXPECT_EQ(dmi.get_table_length(), table_length);
  EXPECT_STREQ(dmi.get_make(), m.make);
  EXPECT_STREQ(dmi.get_model(), m.model);
  EXPECT_STREQ(dmi.get_serial_number(), m.serial);
  EXPECT_STREQ(dmi.get_uuid(), m.uuid);
  EXPECT_STREQ(dmi.get_bios_build(), m.bios);
  EXPECT_STREQ(dmi.get_enclosure_type(), m.enclosure);
  EXPECT_STREQ(dmi.get_bios_date().altstring(), m.bios_date);
  EXPECT_EQ(dmi.get_total_installed_memory(), m.installed_mb);
  EXPECT_EQ(dmi.get_num_memory_slots(), m.slots);
  EXPECT_EQ(dmi.get_total_memory_capability(), m.capability_mb);
  EXPECT_EQ(dmi.get_smbios_revision(), m.revision);
  unsigned total = 0;
  for (unsigned type = 0; type <= 40; type++) total += dmi.get_num_structs(type);
  EXPECT_EQ(total, m.structures);
}

}  // namespace

TEST(DmiMachines, AnswerFromTheKernelsTableFilesAndFromAPhysicalMemoryImage) {
  uint32_t entry_address = 0xF0000;
  for (const machine_facts& m : MACHINES) {
    dump d;
    ASSERT_TRUE(load_machine(m.name, d)) << machine_fixture_dir(m.name);
    {
      temp_root root;
      ASSERT_TRUE(write_sysfs_tables(root, d));
      scoped_sysroot use(root);
      Dmi dmi;
      dmi.init();
      expect_facts(dmi, m, d.table.size());
    }
    if (!m.has_32bit_entry) continue;  // the segment search knows the "_DMI_" anchor only
    temp_root root;
    memory_image mem;
    // Vary where things lie: tables below 1 MiB, and one inside the segment.
    mem.put_dump(d, entry_address, d.table.size() < 0x4000 ? 0xF8000 : 0x20000);
    entry_address += 0x1010;
    ASSERT_TRUE(mem.save(root));
    scoped_sysroot use(root);
    Dmi dmi;
    dmi.init();
    expect_facts(dmi, m, d.table.size());
  }
}

TEST(DmiMachines, FindPciSlotsOfAServerAndAVirtualMachine) {
  dump d;
  ASSERT_TRUE(load_machine("vmware-vm", d));
  Dmi dmi;
  ASSERT_TRUE(init_from_dump(dmi, d));
  unsigned short ids[16];
  ASSERT_EQ(dmi.get_num_pci_slots(ids, 16), 4);
  EXPECT_EQ(ids[3], 4);
  EXPECT_STREQ(dmi.get_pci_slot_name(4), "PCI Slot J14");
  EXPECT_TRUE(dmi.is_pci_slot_in_use(3));
  EXPECT_FALSE(dmi.is_pci_slot_in_use(4));
  EXPECT_EQ(dmi.get_installed_memory_size(1), 1024);
  EXPECT_STREQ(dmi.get_installed_memory_type(1), "EDO, DIMM");

  ASSERT_TRUE(load_machine("supermicro-x9dbl", d));
  Dmi server;
  ASSERT_TRUE(init_from_dump(server, d));
  EXPECT_EQ(server.get_num_pci_slots(ids, 16), 1);
  EXPECT_STREQ(server.get_pci_slot_name(1), "SLOT1 PCI 33MHZ");
  EXPECT_EQ(server.get_installed_memory_size(3), 16384);
  EXPECT_EQ(server.get_installed_memory_size(6), 16384);
  EXPECT_EQ(server.get_installed_memory_size(7), -1);
}
