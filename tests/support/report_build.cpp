// report_build.cpp - reports through the real writer, containers around them.
#include "report_build.h"

#include <unistd.h>

#include <cstdlib>

#include "file_task.h"
#include "gthfile.h"
#include "harness.h"
#include "xml.h"

namespace zvtest {

bool write_report(const std::string& path, const std::vector<row_spec>& rows, const std::vector<std::string>& files,
                  const std::vector<std::string>& imports, output_format_type format) {
  output_format_type saved = Table::get_output_format();
  Table::set_output_format(format);
  section_checksum = 0;
  output_checksum = 0;
  FILE* f = open_xml_file(path.c_str());
  if (!f) return false;
  size_t i = 0;
  while (i < rows.size()) {
    const std::string& section = rows[i].section;
    start_section(f, section.c_str());
    while (i < rows.size() && rows[i].section == section) {
      const row_spec& first = rows[i];
      Table t(f, first.table.c_str(), "ROW_ELEMENT");
      std::vector<std::string> names;
      std::vector<Column> columns;
      for (const auto& c : first.cells) {
        char mark = c.first.empty() ? 0 : c.first[0];
        names.push_back(mark == '#' || mark == '!' ? c.first.substr(1) : c.first);
        columns.push_back({nullptr, mark == '#' ? INTEGER : mark == '!' ? ASCII_STRING : STRING});
      }
      for (size_t k = 0; k < columns.size(); k++) columns[k].name = names[k].c_str();
      t.heading(columns.data(), columns.size());
      for (; i < rows.size() && rows[i].section == section && rows[i].table == first.table; i++) {
        t.start_row(rows[i].id.c_str());
        for (const auto& c : rows[i].cells) {
          if (!c.first.empty() && c.first[0] == '#')
            t.log_data(strtoll(c.second.c_str(), nullptr, 10));
          else
            t.log_data(c.second.c_str());
        }
        t.end_row();
      }
    }
    end_section(f);
  }
  if (!files.empty()) {
    start_section(f, "FILES");
    for (const std::string& name : files) log_file(f, name.c_str());
    end_section(f);
  }
  for (const std::string& name : imports) log_zvml_file(f, name.c_str());
  int ok = close_xml_file(f);
  Table::set_output_format(saved);
  section_checksum = 0;
  output_checksum = 0;
  return ok == 1;
}

std::vector<row_spec> machine_rows(const std::string& vendor, const std::string& serial) {
  return {
      {"SYSTEM SUMMARY", "System Summary", "",
       {{"Computer Name", "host1"}, {"!System Vendor", vendor}, {"!System Model", "M1"},
        {"!System Serial Number", serial}, {"!UUID", "uuid-" + serial}}},
      {"TIME ZONE", "Current Time", "Local", {{"Location", "Local"}, {"Date", "2026-12-09"}, {"Time", "16:08:34"}}},
      {"MEMORY INFORMATION", "Memory Statistics", "PHYSICAL_MEMORY",
       {{"!Type", "Memory"}, {"!Total (bytes)", "4294967296"}}},
      {"Installed Software", "DPKG Packages", "bash", {{"Name", "bash"}, {"Version", "5.2.15-2"}}},
      {"Installed Software", "DPKG Packages", "openssl", {{"Name", "openssl"}, {"Version", "3.0.11-1"}}},
      {"Processes", "Process List", "sshd", {{"#PID", "811"}, {"Process Name", "sshd"}}},
      {"Processes", "Process List", "sshd", {{"#PID", "9120"}, {"Process Name", "sshd"}}},
  };
}

std::string id_block(const std::string& vendor, const std::string& model, const std::string& serial,
                     const std::string& uuid) {
  return "Chost1\nV" + vendor + "\nM" + model + "\nS" + serial + "\nU" + uuid + "\nT20261209-160834\nLroot\nK\n";
}

bool make_container(const std::string& path, const std::string& id, const std::string& report_path,
                    const std::vector<std::string>& collected) {
  GatherFile g;
  if (g.CreateFile(path.c_str()) != 0) return false;
  if (!id.empty()) {
    std::string idp = path + ".id";
    if (!write_file("", idp, id) || g.AddItemFile(1, idp.c_str(), false) != 0) return false;
    unlink(idp.c_str());
  }
  if (g.AddItemFile(15, report_path.c_str(), true) != 0) return false;
  for (const std::string& c : collected)
    if (g.AddItemFile(66, c.c_str(), true) != 0) return false;
  g.CloseFile();
  return true;
}

}  // namespace zvtest
