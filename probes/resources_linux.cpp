// resources_linux.cpp - DMA channels, I/O memory and ports, interrupts per
// processor, each read from its kernel text file under the system root.
#include "resources_linux.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "debug.h"
#include "platform_paths.h"
#include "sysroot.h"
#include "table.h"
#include "util_string.h"

namespace {

/// Longest line taken from a kernel text file; the rest of a longer line is
/// dropped.
const size_t MAX_LINE = 64 * 1024;

/// Copies at most n characters of src into dst of size bytes, cut to fit.
void copy_cut(char* dst, size_t size, const char* src, size_t n) {
  if (n > size - 1) n = size - 1;
  memcpy(dst, src, n);
  dst[n] = '\0';
}

const char* skip_blanks(const char* p) {
  while (*p && isspace(static_cast<unsigned char>(*p))) ++p;
  return p;
}

/// The next blank-separated word from *p (at most max characters of it are
/// given in word); *p moves past it.
std::string next_word(const char*& p, size_t max) {
  p = skip_blanks(p);
  const char* start = p;
  while (*p && !isspace(static_cast<unsigned char>(*p))) ++p;
  size_t n = static_cast<size_t>(p - start);
  return std::string(start, n > max ? max : n);
}

/// A whole-word decimal count; 0 when the word is not a number.
long long count_of(const std::string& word) {
  if (word.empty()) return 0;
  char* end = nullptr;
  errno = 0;
  long long v = strtoll(word.c_str(), &end, 10);
  return end == word.c_str() || errno ? 0 : v;
}

/// Opens a kernel text file; on failure logs "<what>: fopen".
FILE* open_text(const char* path, const char* what) {
  FILE* f = sys_fopen(path, "r");
  if (!f) {
    std::string context = std::string(what) + ": fopen";
    print_error(context.c_str(), errno);
  }
  return f;
}

/// Reads the next line; at the end logs "<what>: getline" as the loop's end.
bool next_line(FILE* f, std::string& line, const char* what) {
  if (read_line(f, line, MAX_LINE)) return true;
  std::string context = std::string(what) + ": getline";
  print_error(context.c_str(), errno);
  return false;
}

}  // namespace

bool parse_dma_line(const char* line, dma_entry& out) {
  out.channel = 0;
  out.name[0] = '\0';
  const char* p = skip_blanks(line);
  char* end = nullptr;
  long channel = strtol(p, &end, 0);
  if (end == p) return false;
  out.channel = static_cast<int>(channel);
  p = skip_blanks(end);
  if (*p != ':') return false;
  ++p;
  std::string name = next_word(p, sizeof out.name - 1);
  copy_cut(out.name, sizeof out.name, name.c_str(), name.size());
  return !name.empty();
}

bool parse_range_line(const char* line, range_entry& out) {
  out.range[0] = out.description[0] = '\0';
  const char* colon = strstr(line, ": ");
  if (!colon || !colon[2]) return false;
  const char* p = line;
  std::string range = next_word(p, sizeof out.range - 1);
  copy_cut(out.range, sizeof out.range, range.c_str(), range.size());
  const char* text = colon + 2;
  copy_cut(out.description, sizeof out.description, text, strlen(text));
  return true;
}

int count_interrupt_processors(const char* heading) {
  int n = 0;
  const char* p = heading;
  while (!next_word(p, 1).empty()) ++n;
  return n > 0 ? n : 1;
}

bool parse_interrupt_line(const char* text, int processors, interrupt_entry& out) {
  out.name[0] = out.type[0] = out.device[0] = '\0';
  out.counts.assign(processors > 0 ? static_cast<size_t>(processors) : 0, 0);
  std::string trimmed = text;
  trim_whitespace(&trimmed[0]);
  trimmed.resize(strlen(trimmed.c_str()));
  const char* p = trimmed.c_str();
  bool row = false;
  if (isdigit(static_cast<unsigned char>(*p))) {
    std::string word = next_word(p, 255);
    long number = strtol(word.c_str(), nullptr, 10);
    if (number >= 0 && number <= 999999) {
      snprintf(out.name, 7, "%ld", number);
      row = true;
    }
  } else {
    struct label {
      const char* key;
      const char* text;
    };
    static const label labels[] = {{"NMI", "Non Maskable Interrupt"},
                                   {"LOC", "Internal APIC local Interrupt"},
                                   {"ERR", "IO-APIC bus errors"}};
    for (const label& l : labels)
      if (strncmp(p, l.key, 3) == 0) {
        copy_cut(out.name, sizeof out.name, l.text, strlen(l.text));
        row = true;
      }
    // The kernel's other named lines ("RES:", "CAL:", "TLB:", ...): the
    // name, the counts, then the whole description in the Device column.
    const char* colon = strchr(p, ':');
    bool named = !row && colon && colon > p && colon - p <= 8 && strncmp(p, "MIS", 3) != 0;
    for (const char* c = p; named && c < colon; ++c)
      if (!isalnum(static_cast<unsigned char>(*c))) named = false;
    if (named) {
      copy_cut(out.name, sizeof out.name, p, static_cast<size_t>(colon - p));
      p = colon + 1;
      for (long long& count : out.counts) count = count_of(next_word(p, 255));
      p = skip_blanks(p);
      copy_cut(out.device, sizeof out.device, p, strlen(p));
      return true;
    }
    // The first four characters ("NMI:") are skipped, never past the end.
    for (int i = 0; i < 4 && *p; ++i) ++p;
  }
  if (!row) return false;
  for (long long& count : out.counts) count = count_of(next_word(p, 255));
  std::string type = next_word(p, sizeof out.type - 1);
  copy_cut(out.type, sizeof out.type, type.c_str(), type.size());
  p = skip_blanks(p);
  copy_cut(out.device, sizeof out.device, p, strlen(p));
  return true;
}

// ---- probes -----------------------------------------------------------------

dma_probe::dma_probe(probe_group* group) : probe(group, "Memory Mapped I/O", 3, 0x0001) {}

bool dma_probe::run(FILE* report) {
  static const Column columns[] = {{"Name", STRING, 64}, {"Channel", INTEGER}};
  Table table(report, "DMA Channels in use");
  table.heading(columns);
  FILE* f = open_text(platform_path::proc_dma, "dma");
  if (!f) return true;
  std::string line;
  dma_entry e;
  while (next_line(f, line, "dma")) {
    if (!parse_dma_line(line.c_str(), e)) continue;
    table.write_row(e.name, e.name, e.channel);
  }
  fclose(f);
  return true;
}

/// The I/O memory and port maps share their form.
static void write_range_table(FILE* report, const char* title, const char* first_column,
                              const char* path, const char* what) {
  int rows = 0, masked = 0;
  {
    const Column columns[] = {{first_column, STRING, 64}, {"Description", STRING, 64}};
    Table table(report, title);
    table.heading(columns);
    FILE* f = open_text(path, what);
    if (!f) return;
    std::string line;
    range_entry e;
    while (next_line(f, line, what)) {
      if (!parse_range_line(line.c_str(), e)) continue;
      table.write_row(e.range, e.range, e.description);
      ++rows;
      // The kernel shows a normal user every range as zeros.
      if (e.range[strspn(e.range, "0-")] == '\0') ++masked;
    }
    fclose(f);
  }
  if (rows > 1 && masked == rows)
    write_incomplete_note(report, title, "addresses hidden by the kernel: not run as root");
}

iomem_probe::iomem_probe(probe_group* group) : probe(group, "Memory Mapped I/O", 3, 0x0001) {}

bool iomem_probe::run(FILE* report) {
  write_range_table(report, "I/O Memory Map", "Memory Range", platform_path::proc_iomem, "iomem");
  return true;
}

ioports_probe::ioports_probe(probe_group* group) : probe(group, "I/O Ports", 3, 0x0001) {}

bool ioports_probe::run(FILE* report) {
  write_range_table(report, "I/O Ports", "Port Number", platform_path::proc_ioports, "ioports");
  return true;
}

interrupts_probe::interrupts_probe(probe_group* group) : probe(group, "Interrupts", 3, 0x0001) {}

bool interrupts_probe::run(FILE* report) {
  // The file is opened before anything is read from it: an unreadable file
  // gives the table with one processor column and no rows.
  FILE* f = sys_fopen(platform_path::proc_interrupts, "r");
  if (!f) print_error("interrupts: fopen", errno);
  std::string line;
  int processors = 1;
  bool have_heading = f && next_line(f, line, "interrupts");
  if (have_heading) processors = count_interrupt_processors(line.c_str());
  int columns = processors < MAX_INTERRUPT_CPU_COLUMNS ? processors : MAX_INTERRUPT_CPU_COLUMNS;
  if (processors > columns)
    printd("interrupts: %d processors; the counts of processors %d to %d are in this log\n",
           processors, columns + 1, processors);

  // One count column per processor, up to the cap, between the number and
  // the type and device.
  char cpu_names[MAX_INTERRUPT_CPU_COLUMNS][40];
  Column irq_columns[MAX_INTERRUPT_CPU_COLUMNS + 3] = {{"IRQ Number", STRING, 64}};
  for (int i = 1; i <= columns; ++i) {
    snprintf(cpu_names[i - 1], sizeof cpu_names[i - 1], "CPU %i interrupt count", i);
    irq_columns[i] = {cpu_names[i - 1], INTEGER};
  }
  irq_columns[columns + 1] = {"Type", STRING, 32};
  irq_columns[columns + 2] = {"Device", STRING, 64};
  Table table(report, "IRQs");
  table.heading(irq_columns, static_cast<size_t>(columns) + 3);
  if (!have_heading) {
    if (f) fclose(f);
    return true;
  }
  interrupt_entry e;
  while (next_line(f, line, "interrupts")) {
    if (!parse_interrupt_line(line.c_str(), processors, e)) continue;
    table.start_row(e.name);
    table.log_data(e.name);
    for (int i = 0; i < columns; ++i) table.log_data(e.counts[static_cast<size_t>(i)]);
    table.log_data(e.type);
    table.log_data(e.device);
    table.end_row();
    if (processors > columns && debug_log_enabled()) {
      std::string rest;
      for (int i = columns; i < processors; ++i)
        rest += " " + std::to_string(e.counts[static_cast<size_t>(i)]);
      printd("interrupts: %s, processors %d to %d:%s\n", e.name, columns + 1, processors,
             rest.c_str());
    }
  }
  fclose(f);
  return true;
}
