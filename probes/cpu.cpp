// cpu.cpp - the "CPU Information" task: vendor, family and model names from
// built-in decision tables, and four feature flags.
#include "cpu.h"

#include <cstdlib>
#include <cstring>

#include "capture.h"
#include "platform_paths.h"
#include "sysroot.h"
#include "table.h"
#include "util_string.h"
#include "xml.h"

namespace {

/// A name table row: -1 in a match field matches any value.
struct cpu_name_row {
  int type, family, extended_family, model, extended_model, stepping;
  const char* family_name;
  const char* model_name;
};

const cpu_name_row intel_rows[] = {
    {0, 3, -1, 0, -1, -1, "386", "DX"},
    {2, 3, -1, 0, -1, -1, "386", "SX"},
    {4, 3, -1, 0, -1, -1, "386", "SL"},
    {4, 3, -1, 1, -1, -1, "386", "SL"},
    {0, 3, -1, 4, -1, -1, "386", "RapidCAD coprocessor"},
    {0, 4, -1, 0, -1, -1, "486", "DX"},
    {0, 4, -1, 1, -1, -1, "486", "DX"},
    {0, 4, -1, 2, -1, -1, "486", "SX"},
    {0, 4, -1, 3, -1, -1, "486", "DX2"},
    {0, 4, -1, 4, -1, -1, "486", "SL"},
    {0, 4, -1, 5, -1, -1, "486", "SX2"},
    {0, 4, -1, 7, -1, -1, "486", "Write-Back Enhanced DX2"},
    {0, 4, -1, 8, -1, -1, "486", "DX4"},
    {1, 4, -1, 8, -1, -1, "486", "DX4 OverDrive"},
    {0, 5, -1, 1, -1, -1, "Pentium", "Pentium"},
    {0, 5, -1, 2, -1, -1, "Pentium", "Pentium"},
    {1, 5, -1, 1, -1, -1, "Pentium", "Pentium OverDrive"},
    {1, 5, -1, 2, -1, -1, "Pentium", "Pentium OverDrive"},
    {1, 5, -1, 3, -1, -1, "Pentium", "Pentium OverDrive for 486"},
    {0, 5, -1, 4, -1, -1, "Pentium", "Pentium with MMX"},
    {1, 5, -1, 4, -1, -1, "Pentium", "Pentium OverDrive with MMX"},
    {0, 6, -1, 1, -1, -1, "Pentium 2", "Pentium Pro"},
    {0, 6, -1, 3, -1, -1, "Pentium 2", "Pentium 2"},
    {0, 6, -1, 5, -1, -1, "Pentium 2", "Pentium 2"},
    {1, 6, -1, 3, -1, -1, "Pentium 2", "Pentium 2 OverDrive"},
    {0, 6, -1, 6, -1, -1, "Pentium 3", "Celeron"},
    {0, 6, -1, 7, -1, -1, "Pentium 3", "Pentium 3"},
    {0, 6, -1, 8, -1, -1, "Pentium 3", "Pentium 3"},
    {0, 6, -1, 9, -1, -1, "Pentium 3", "Pentium M"},
    {0, 6, -1, 10, -1, -1, "Pentium 3", "Xeon"},
    {0, 6, -1, 11, -1, -1, "Pentium 3", "Pentium 3"},
    {0, 6, -1, 13, -1, -1, "Pentium 3", "Pentium M"},
    {0, 15, -1, 0, -1, -1, "Pentium 4", "Xeon"},
    {0, 15, -1, 1, -1, -1, "Pentium 4", "Pentium 4"},
    {0, 15, -1, 2, -1, -1, "Pentium 4", "Pentium 4"},
    {0, 15, -1, 3, -1, -1, "Pentium 4", "Pentium 4"},
    {0, 15, -1, 4, -1, -1, "Pentium 4", "Pentium 4"},
};

const cpu_name_row amd_rows[] = {
    {-1, 5, -1, 0, -1, -1, "K5", "K5"},         {-1, 5, -1, 1, -1, -1, "K5", "K5"},
    {-1, 5, -1, 2, -1, -1, "K5", "K5"},         {-1, 5, -1, 3, -1, -1, "K5", "K5"},
    {-1, 5, -1, 6, -1, -1, "K6", "K6"},         {-1, 5, -1, 7, -1, -1, "K6", "K6"},
    {-1, 5, -1, 8, -1, -1, "K6", "K6-2"},       {-1, 5, -1, 9, -1, -1, "K6", "K6-3"},
    {-1, 6, -1, 1, -1, -1, "Athlon", "Athlon"}, {-1, 6, -1, 2, -1, -1, "Athlon", "Athlon"},
    {-1, 6, -1, 3, -1, -1, "Duron", "Duron"},   {-1, 6, -1, 4, -1, -1, "Athlon", "Athlon"},
    {-1, 6, -1, 6, -1, -1, "Athlon", "Athlon"}, {-1, 6, -1, 7, -1, -1, "Duron", "Duron"},
    {-1, 6, -1, 8, -1, -1, "Athlon", "Athlon"}, {-1, 6, -1, 10, -1, -1, "Athlon", "Athlon"},
};

bool field_matches(int wanted, int value) { return wanted == -1 || wanted == value; }

template <size_t N>
void search_rows(const cpu_name_row (&rows)[N], const int fields[6], const char** family_name,
                 const char** model_name) {
  *family_name = "Unknown";
  *model_name = "Unknown";
  for (const cpu_name_row& r : rows) {
    const int wanted[6] = {r.type, r.family, r.extended_family, r.model, r.extended_model, r.stepping};
    bool all = true;
    for (int i = 0; i < 6 && all; ++i) all = field_matches(wanted[i], fields[i]);
    if (all) {
      *family_name = r.family_name;
      *model_name = r.model_name;
      return;
    }
  }
}

}  // namespace

cpu_signature decode_cpu_signature(uint32_t eax) {
  cpu_signature s;
  s.stepping = eax & 0xF;
  s.model = (eax >> 4) & 0xF;
  s.family = (eax >> 8) & 0xF;
  s.type = (eax >> 12) & 0xF;
  s.extended_model = (eax >> 16) & 0xF;
  s.extended_family = (eax >> 20) & 0xF;
  return s;
}

bool cpuinfo_cpuid::feed(const std::string& line) {
  size_t colon = line.find(':');
  std::string key = line.substr(0, colon), value = colon == std::string::npos ? "" : line.substr(colon + 1);
  while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
  while (!value.empty() && (value[0] == ' ' || value[0] == '\t')) value.erase(0, 1);
  if (key == "processor" && ++processors > 1) return false;
  long number = strtol(value.c_str(), nullptr, 10);
  bool small = number >= 0 && number < 256;
  if (key == "vendor_id" && value.size() <= 12) {
    vendor = value;
  } else if (key == "cpu family" && small) {
    family = static_cast<int>(number);
  } else if (key == "model" && small) {
    model = static_cast<int>(number);
  } else if (key == "stepping" && small && number < 16) {
    stepping = static_cast<int>(number);
  } else if (key == "flags") {
    static const struct {
      const char* name;
      int bit;
    } bits[] = {{"mmx", 23}, {"sse", 25}, {"sse2", 26}, {"ht", 28}};
    for (const auto& b : bits)
      if ((" " + value + " ").find(std::string(" ") + b.name + " ") != std::string::npos) features |= 1u << b.bit;
  }
  return true;
}

bool cpuinfo_cpuid::cpuid(int32_t leaf, int32_t& eax, int32_t& ebx, int32_t& ecx, int32_t& edx) {
  eax = ebx = ecx = edx = 0;
  if (leaf == 0) {
    char name[12] = {};
    memcpy(name, vendor.data(), vendor.size() < 12 ? vendor.size() : 12);
    eax = 1;
    memcpy(&ebx, name, 4);
    memcpy(&edx, name + 4, 4);
    memcpy(&ecx, name + 8, 4);
  } else if (leaf == 1 && family >= 0) {
    // The signature's fields as the instruction packs them.
    uint32_t base = family < 15 ? family : 15, extended = family < 15 ? 0 : family - 15;
    if (extended > 15) extended = 15;
    eax = static_cast<int32_t>(stepping | (model & 0xF) << 4 | base << 8 | (model >> 4 & 0xF) << 16 | extended << 20);
    edx = static_cast<int32_t>(features);
  }
  return true;
}

const char* cpu_probe::get_display_strings(const char* vendor_id, int type, int family,
                                           int extended_family, int model, int extended_model,
                                           int stepping, const char** vendor_name,
                                           const char** family_name, const char** model_name) {
  const int fields[6] = {type, family, extended_family, model, extended_model, stepping};
  if (!vendor_id) return "Unknown";
  if (strcmp(vendor_id, "GenuineIntel") == 0) {
    *vendor_name = "Intel";
    search_rows(intel_rows, fields, family_name, model_name);
  } else if (strcmp(vendor_id, "AuthenticAMD") == 0) {
    *vendor_name = "AMD";
    search_rows(amd_rows, fields, family_name, model_name);
  } else if (strcmp(vendor_id, "CyrixInstead") == 0) {
    *vendor_name = "Cyrix";
    *family_name = "Unknown";
    *model_name = "Unknown";
  } else if (strcmp(vendor_id, "CentaurHauls") == 0) {
    *vendor_name = "Centaur";
    *family_name = "Unknown";
    *model_name = "Unknown";
  }
  return "Unknown";
}

cpu_probe::cpu_probe(cpuid_source* cpuid_from) : probe_task("CPU Information", 16), source(cpuid_from) {
  detail = 1;
  platform = 0x2F71;
  customers = 0xFFEF;
}

bool cpu_probe::run(FILE* report) {
  // Under a system root whose capture holds no CPUID answers, the root's own
  // kernel list states the processor (not its packages), or nothing does.
  cpuinfo_cpuid stated;
  bool root_list = !source && !system_cpuid_known();
  if (root_list) {
    if (FILE* f = sys_fopen_bounded(platform_path::proc_cpuinfo, 16u << 20)) {
      std::string line;
      while (read_line(f, line, 65536) && stated.feed(line)) {
      }
      fclose(f);
    }
    if (!stated.complete()) {
      note_not_under_root("CPU Information");
      return false;
    }
    note_not_under_root("CPU packages");
  }
  cpuid_source& cpu = source ? *source : root_list ? stated : system_cpuid();
  start_section(report, "CPU Information");

  int32_t eax, ebx, ecx, edx;
  cpu.cpuid(0, eax, ebx, ecx, edx);
  char vendor_id[13];
  memcpy(vendor_id, &ebx, 4);
  memcpy(vendor_id + 4, &edx, 4);
  memcpy(vendor_id + 8, &ecx, 4);
  vendor_id[12] = '\0';

  int32_t signature, features;
  cpu.cpuid(1, signature, ebx, ecx, features);
  cpu_signature s = decode_cpu_signature(static_cast<uint32_t>(signature));

  const char* vendor_name = nullptr;
  const char* family_name = nullptr;
  const char* model_name = nullptr;
  get_display_strings(vendor_id, s.type, s.family, s.extended_family, s.model, s.extended_model,
                      s.stepping, &vendor_name, &family_name, &model_name);
  {
    static const Column columns[] = {{"Vendor", STRING, 16},   {"Family", STRING, 32}, {"Family ID", INTEGER},
                                     {"Model", STRING, 32},    {"Model ID", INTEGER},  {"Stepping", INTEGER}};
    Table table(report, "CPU Family Information");
    table.heading(columns);
    table.write_row(vendor_id, vendor_name ? vendor_name : "", family_name ? family_name : "", s.family,
                    model_name ? model_name : "", s.model, s.stepping);
  }
  {
    static const struct {
      const char* id;
      const char* name;
      int bit;
    } flags[] = {{"mmx", "MMX", 23}, {"sse", "SSE", 25}, {"sse2", "SSE2", 26}, {"ht", "Hyper-Threading", 28}};
    static const Column columns[] = {{"Flag Name", STRING}, {"Enabled", BOOL}};
    Table table(report, "CPU Flags");
    table.heading(columns);
    for (const auto& f : flags) {
      table.write_row(f.id, f.name, (static_cast<uint32_t>(features) >> f.bit) & 1 ? 1 : 0);
    }
  }
  if (!root_list) cpu_write_packages(report, cpu);
  end_section(report);
  return true;
}
