// boot_menu_fuzz.cpp - boot menu lines, menu options and kernel command
// lines from arbitrary bytes: every field must stay inside its buffer and
// be terminated.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "boot_linux.h"

namespace {

void check_field(const char* field, size_t size) {
  if (strnlen(field, size) >= size) abort();
}

void check_entry(const grub_entry& e) {
  check_field(e.title, sizeof e.title);
  check_field(e.root, sizeof e.root);
  check_field(e.kernel, sizeof e.kernel);
  check_field(e.options, sizeof e.options);
  check_field(e.initrd, sizeof e.initrd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  grub_menu_parser parser;
  grub2_menu_parser parser2;
  grub_entry e;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (parser.feed(line.c_str(), &e)) check_entry(e);
    if (parser2.feed(line.c_str(), &e)) check_entry(e);
    const char *keyword = nullptr, *name = nullptr;
    char value[128];
    if (parse_grub_option(line.c_str(), &keyword, &name, value, sizeof value)) {
      check_field(value, sizeof value);
      if (!keyword || !name) abort();
    }
    keyword = name = nullptr;
    if (parse_grub2_option(line.c_str(), &keyword, &name, value, sizeof value)) {
      check_field(value, sizeof value);
      if (!keyword || !name) abort();
    }
    start = end + 1;
  }
  if (parser.finish(&e)) check_entry(e);
  parse_cmdline(text, [](const cmdline_option& o) {
    if (o.word.size() > 255 || o.option.size() > 256 || o.word.empty()) abort();
    if (o.has_value != (o.word.find('=') != std::string::npos)) abort();
  });
  return 0;
}
