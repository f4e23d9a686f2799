// capture_index_fuzz.cpp - the command index, the file-system sizes and the
// memory-range headings and the records of the program's own facts
// (environment, user, locale) of a replayed capture: any line is parsed or
// refused, and a line parsed gives the same values when written and parsed
// again. The whole input as a SCSI device's record: read or refused.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture.h"
#include "scsi_linux.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  scsi_record record;
  std::string why;
  if (scsi_parse_record(text, &record, &why)) {
    for (const auto& a : record.answers)
      if (a.second.error == 0 && a.second.reply.size() < SG_HEADER_SIZE) abort();
  } else if (why.empty()) {
    abort();
  }
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    int id = 0, status = 0, limit = 0;
    std::string command;
    if (capture_parse_index_line(line, &id, &status, &limit, &command)) {
      if (id <= 0 || status < 0 || status > 0xffff || limit < 0 || limit > 2 || command.empty()) abort();
      std::string again = capture_index_line(id, status, limit, command);
      int id2 = 0, status2 = 0, limit2 = 0;
      std::string command2;
      if (!capture_parse_index_line(again.substr(0, again.size() - 1), &id2, &status2, &limit2, &command2) ||
          id2 != id || status2 != status || limit2 != limit || command2 != command)
        abort();
    }
    capture_known_command(command.c_str());
    std::string mount;
    struct statvfs st;
    if (capture_parse_space_line(line, &mount, &st)) {
      std::string again = capture_space_line(mount, st);
      std::string mount2;
      struct statvfs st2;
      if (!capture_parse_space_line(again.substr(0, again.size() - 1), &mount2, &st2) || mount2 != mount ||
          st2.f_blocks != st.f_blocks || st2.f_namemax != st.f_namemax)
        abort();
    }
    unsigned long long address = 0, address2 = 0;
    size_t length = 0, length2 = 0;
    if (capture_parse_memory_line(line, &address, &length)) {
      std::string again = capture_memory_line(address, length);
      if (length == 0 || !capture_parse_memory_line(again.substr(0, again.size() - 1), &address2, &length2) ||
          address2 != address || length2 != length)
        abort();
    }
    for (size_t count = 1; count <= 5; ++count) {
      std::vector<std::string> fields, again;
      if (!capture_parse_record_line(line, count, &fields)) continue;
      std::string written = capture_record_line(fields);
      if (fields.size() != count || written.back() != '\n' ||
          !capture_parse_record_line(written.substr(0, written.size() - 1), count, &again) || again != fields)
        abort();
    }
    start = end + 1;
  }
  return 0;
}
