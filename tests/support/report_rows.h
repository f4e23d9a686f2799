// report_rows.h - the rows of a checksummed XML report as plain text, for
// comparing a run's tables against expected rows kept in fixture files.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace zvtest {

/// One row: its identifier followed by its cells, joined by tabs.
using table_rows = std::map<std::string, std::vector<std::string>>;

/// Every table of a checksummed XML document (tags upper case) or of a
/// lower-case one, by title, with its rows in order. Entities are decoded.
table_rows report_rows(const std::string& document);

/// Expected rows from a fixture file: "table<TAB>id<TAB>cells..." lines;
/// "unordered<TAB>table" marks a table whose row order is free; "#" comments.
struct expected_rows {
  table_rows tables;
  std::set<std::string> unordered;
};
expected_rows read_expected_rows(const std::string& path);

/// Copies a fixture tree (links kept as links) to dest and gives its regular
/// files mode 0644 and its directories 0755, whatever the checkout made.
bool copy_fixture_tree(const std::string& source, const std::string& dest);

}  // namespace zvtest
