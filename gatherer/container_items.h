// container_items.h - finding the report among a container's items and
// writing every item out under a name that says what it holds (zv2tool).
#pragma once

#include <string>
#include <vector>

#include "gthfile.h"

/// Index of the run's own report: the last XML (15) or text (254) report
/// item, since a report imported as "halvex/zelvarn2" goes in before the
/// run's own one. -1 when the container holds no report.
int container_report_item(GatherFile& g);

/// The file name for item `index` of `type`: "NN-<what it holds>.<ext>", with
/// the base name of the source for a collected file ("05-collected-file-
/// hosts") and "imported-" before a report that is not the run's own.
std::string container_item_file_name(int index, unsigned type, bool own_report, const std::string& source);

/// The source path a collected-file item names on its first line
/// ("Filename: PATH"), or "" when the line is not there.
std::string collected_file_source(const std::string& first_line);

/// Writes every item of `g` into the directory `dir` (made when missing),
/// never over an existing file. The names written go to `written`. False
/// with `error` set at the first item that cannot be written or is damaged.
bool container_extract_all(GatherFile& g, const std::string& dir, std::vector<std::string>& written,
                           std::string& error);
