// report_build.h - whole reports written by the program's own writer, and
// containers around them, for the tests of the report reader and zv2tool.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "table.h"

namespace zvtest {

/// One row: where it goes, its id and its cells. A cell name starting with
/// "#" makes an INTEGER column (the "#" is dropped), "!" an ASCII_STRING one.
struct row_spec {
  std::string section, table, id;
  std::vector<std::pair<std::string, std::string>> cells;
};

/// Writes a complete report in `format` (checksummed XML by default) to a
/// new file: consecutive rows of one section and table become one table;
/// `files` are embedded (log_file) in a last section "FILES", `imports` are
/// imported after it. The writer's format and checksums are restored after.
bool write_report(const std::string& path, const std::vector<row_spec>& rows,
                  const std::vector<std::string>& files = {}, const std::vector<std::string>& imports = {},
                  output_format_type format = OUTPUT_ZVML);

/// The rows of a small machine: system summary (vendor, model, serial,
/// UUID), time zone, memory, packages and a process list.
std::vector<row_spec> machine_rows(const std::string& vendor, const std::string& serial);

/// The identification block as a run writes it (C, V, M, S, U, T, L, K lines).
std::string id_block(const std::string& vendor, const std::string& model, const std::string& serial,
                     const std::string& uuid);

/// A new container: identification block (when not empty), the report file
/// as item 15 (coded), then each collected file as item 66 (coded).
bool make_container(const std::string& path, const std::string& id, const std::string& report_path,
                    const std::vector<std::string>& collected = {});

}  // namespace zvtest
