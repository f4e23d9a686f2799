// report_rows.cpp - see report_rows.h.
#include "report_rows.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <cstring>
#include <sstream>

namespace zvtest {

static std::string decode(std::string s) {
  static const std::pair<const char*, const char*> entities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
  for (const auto& e : entities)
    for (size_t p = 0; (p = s.find(e.first, p)) != std::string::npos; p += strlen(e.second))
      s.replace(p, strlen(e.first), e.second);
  return s;
}

table_rows report_rows(const std::string& document) {
  static const std::regex table_re(R"re(^<TABLE ID="([^"]*)">)re");
  static const std::regex row_re(R"re(^<ROW(?: ID="([^"]*)")?>)re");
  static const std::regex cell_re(R"re(^<(STR|DEC|HEX|BOOL|FLT|ASC)[^>]*>(.*)</\1>)re");
  table_rows out;
  std::string table, row;
  bool in_row = false;
  std::istringstream in(document);
  std::string line;
  std::smatch m;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (std::regex_search(line, m, table_re)) {
      table = decode(m[1]);
      out[table];
    } else if (std::regex_search(line, m, row_re)) {
      row = decode(m[1]);
      in_row = true;
    } else if (in_row && std::regex_search(line, m, cell_re)) {
      row += "\t" + decode(m[2]);
    } else if (line == "</ROW>") {
      out[table].push_back(row);
      in_row = false;
    }
  }
  return out;
}

expected_rows read_expected_rows(const std::string& path) {
  expected_rows e;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    std::string first = line.substr(0, tab), rest = line.substr(tab + 1);
    if (first == "unordered")
      e.unordered.insert(rest);
    else
      e.tables[first].push_back(rest);
  }
  return e;
}

bool copy_fixture_tree(const std::string& source, const std::string& dest) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::copy(source, dest, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
  if (ec) return false;
  for (const auto& entry : fs::recursive_directory_iterator(dest, ec)) {
    if (entry.is_symlink()) continue;
    chmod(entry.path().c_str(), entry.is_directory() ? 0755 : 0644);
  }
  return !ec;
}

}  // namespace zvtest
