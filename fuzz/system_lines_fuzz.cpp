// system_lines_fuzz.cpp - the line parsers of the locale, display and storage
// probes over arbitrary lines: every text they keep must end inside its field.
#include <fuzzer/FuzzedDataProvider.h>

#include "display_linux.h"
#include "fs_linux.h"
#include "fuzz_support.h"
#include "regional_linux.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  int length = input.ConsumeIntegralInRange<int>(0, 40);
  std::string key = input.ConsumeRandomLengthString(16);
  std::string line = input.ConsumeRemainingBytesAsString();

  // Exactly sized heap buffer, so a write past its end is caught.
  char* value = new char[length > 0 ? length : 1];
  if (rcfile_line_value(line.c_str(), key.c_str(), value, length) && strlen(value) + 1 > size_t(length)) abort();
  delete[] value;

  display_mode mode;
  parse_xrandr_line(line, mode);
  parse_xdpyinfo_line(line, mode);
  if (mode.width < -1 || mode.height < -1 || mode.refresh < -1 || mode.depth < -1) abort();

  partition_record p;
  if (parse_partition_line(line, p)) {
    check_fits(p.name);
    if (!p.name[0] || p.major < 0 || p.minor < 0) abort();
    // A name the validation accepts is safe after "/dev/" in a quoted command.
    if (valid_partition_name(p.name) && (strchr(p.name, '/') || strchr(p.name, '\'') || p.name[0] == '-'))
      abort();
  }
  clear_partition(p);
  parse_tune2fs_line(line, p);
  check_fits(p.features), check_fits(p.state), check_fits(p.errors), check_fits(p.last_mount);
  return 0;
}
