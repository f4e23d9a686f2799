// zvml_import_fuzz.cpp - imports arbitrary files as earlier checksummed
// reports. A rejected file adds nothing; an accepted one is framed by the two
// import comments, reaches the report only as UTF-8 that XML accepts, keeps
// the report well-formed and is summed over the bytes written.
#include <expat.h>

#include "fuzz_support.h"
#include "table.h"
#include "xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string path;
  if (path.empty()) {
    setlocale(LC_ALL, "C.UTF-8");
    Table::set_output_format(OUTPUT_ZVML);
    int fd;
    path = make_temp_file("zvimportfuzz", &fd);
    close(fd);
    atexit([] { unlink(path.c_str()); });
  }
  write_bytes(path, data, size);
  output_checksum = 0;
  bool accepted = false;
  std::string text = written_text([&](FILE* report) { accepted = log_zvml_file(report, path.c_str()); });

  if (!accepted) {
    if (!text.empty() || output_checksum != 0) abort();
    return 0;
  }
  if (output_checksum == 0) abort();
  check_xml_characters(text);
  std::string head = "<!-- import " + path + " -->\r\n";
  const std::string end = "<!-- end of import -->\r\n";
  if (text.compare(0, head.size(), head) != 0) abort();
  if (text.size() < head.size() + end.size() || text.compare(text.size() - end.size(), end.size(), end) != 0) abort();
  std::string inner = text.substr(head.size(), text.size() - head.size() - end.size());
  uint32_t sum = 0;
  for (unsigned char c : inner) sum += c;
  if (output_checksum != (sum ? sum : 42)) abort();
  // Inside an element of the report the import is still well-formed.
  std::string wrapped = "<R>" + inner + "</R>";
  XML_Parser parser = XML_ParserCreate(nullptr);
  bool parsed = XML_Parse(parser, wrapped.data(), (int)wrapped.size(), 1) == XML_STATUS_OK;
  XML_ParserFree(parser);
  if (!parsed) abort();
  return 0;
}
