// boot_menu_fuzz.cpp - boot menu lines, menu options and kernel command
// lines from arbitrary bytes: every field must stay inside its buffer and
// be terminated.
#include "boot_linux.h"
#include "fuzz_support.h"

static void check_entry(const grub_entry& e) {
  check_fits(e.title), check_fits(e.root), check_fits(e.kernel), check_fits(e.options), check_fits(e.initrd);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  grub_menu_parser parser;
  grub2_menu_parser parser2;
  grub_entry e;
  for_each_line(text, [&](const std::string& line) {
    if (parser.feed(line.c_str(), &e)) check_entry(e);
    if (parser2.feed(line.c_str(), &e)) check_entry(e);
    const char *keyword = nullptr, *name = nullptr;
    char value[128];
    for (auto parse : {parse_grub_option, parse_grub2_option}) {
      keyword = name = nullptr;
      if (parse(line.c_str(), &keyword, &name, value, sizeof value)) {
        check_fits(value);
        if (!keyword || !name) abort();
      }
    }
  });
  if (parser.finish(&e)) check_entry(e);
  parse_cmdline(text, [](const cmdline_option& o) {
    if (o.word.size() > 255 || o.option.size() > 256 || o.word.empty()) abort();
    if (o.has_value != (o.word.find('=') != std::string::npos)) abort();
  });
  return 0;
}
