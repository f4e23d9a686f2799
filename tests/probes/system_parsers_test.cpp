// system_parsers_test.cpp - the parsers of the users, schedules, processes,
// packages, modules and resource probes over recorded inputs: every line of
// a recorded file goes through its parser and the rows must equal the
// expected table (tests/fixtures/system/recorded/<name>.expected.tsv).
#include "zvtest.h"

#include "modules_linux.h"
#include "ps_probe.h"
#include "report_check.h"
#include "report_fixture.h"
#include "run_command.h"
#include "table.h"
#include "resources_linux.h"
#include "schedule_linux.h"
#include "software_linux.h"
#include "users_linux.h"

namespace {

using row = std::vector<std::string>;
using rows = std::vector<row>;

std::string fixture(const std::string& name) {
  return std::string(ZV_SOURCE_DIR) + "/tests/fixtures/system/" + name;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

rows expected_rows(const std::string& path) {
  rows out;
  for (const std::string& line : lines_of(zvtest::read_file(path))) out.push_back(zvtest::split(line));
  return out;
}

std::string narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

/// Each parser family: all lines of the input in, the table's rows out.
rows interrupt_rows(const std::vector<std::string>& lines) {
  rows out;
  int cpus = count_interrupt_processors(lines.at(0).c_str());
  interrupt_entry e;
  for (size_t i = 1; i < lines.size(); ++i) {
    if (!parse_interrupt_line(lines[i].c_str(), cpus, e)) continue;
    row r{e.name};
    for (long long c : e.counts) r.push_back(std::to_string(c));
    r.push_back(e.type);
    r.push_back(e.device);
    out.push_back(r);
  }
  return out;
}

rows rpm_rows(const std::vector<std::string>& lines) {
  rows out;
  rpm_record_reader reader;
  for (const std::string& l : lines)
    if (reader.feed(l.c_str())) {
      const package_record& p = reader.record;
      out.push_back({p.name, p.version, p.vendor, p.description, p.group, p.install_date, p.size});
    }
  return out;
}

row deb_row(const package_record& p) { return {p.name, p.version, p.vendor, p.description, p.group, p.size}; }

rows deb_rows(const std::vector<std::string>& lines) {
  rows out;
  package_record p;
  std::string native;
  for (const std::string& l : lines)
    if (l.rfind("native|", 0) == 0)
      native = l.substr(7);
    else if (parse_deb_line(l.c_str(), native, p))
      out.push_back(deb_row(p));
  return out;
}

/// The dpkg status file of a root; its dpkg package is of the native architecture.
rows deb_status_rows(const std::vector<std::string>& lines) {
  rows out;
  package_record p;
  deb_status_reader reader;
  for (size_t i = 0; i <= lines.size(); ++i)
    if ((i < lines.size() ? reader.feed(lines[i].c_str()) : reader.finish()) &&
        deb_record_from_fields(reader.fields, "amd64", p))
      out.push_back(deb_row(p));
  return out;
}

rows ps_rows(const std::vector<std::string>& lines) {
  rows out;
  process_entry e;
  for (const std::string& l : lines)
    if (parse_ps_line(l.c_str(), e))
      out.push_back({std::to_string(e.pid), e.name, e.user, std::to_string(e.nice), e.cpu, e.mem, e.stat});
  return out;
}

rows module_rows(const std::vector<std::string>& lines) {
  rows out;
  module_record_reader reader;
  const std::set<std::string> loaded = {module_key("snd-hda-intel"), "nf_nat"};
  for (const std::string& l : lines) {
    std::wstring w(l.begin(), l.end());
    if (!reader.feed(w.c_str())) continue;
    module_record& m = reader.record;
    mark_loaded(m, loaded);
    out.push_back({narrow(m.name), narrow(m.path), narrow(m.version), narrow(m.author),
                   narrow(m.license), narrow(m.description), narrow(m.loaded)});
  }
  return out;
}

rows timer_rows(const std::vector<std::string>& lines) {
  rows out;
  timer_list_parser parser;
  EXPECT_TRUE(parser.set_heading(lines.at(0).c_str()));
  std::string unit, activates, next, last;
  for (size_t i = 1; i < lines.size(); ++i)
    if (parser.parse(lines[i].c_str(), unit, activates, next, last)) out.push_back({unit, activates, next, last});
  return out;
}

struct recorded_case {
  const char* input;
  std::function<rows(const std::vector<std::string>&)> parse;
};

const recorded_case recorded_cases[] = {
    {"recorded/interrupts-2.6", interrupt_rows},
    {"recorded/interrupts-6.1", interrupt_rows},
    {"root/proc/interrupts", interrupt_rows},
    {"recorded/rpm.txt", rpm_rows},
    {"recorded/aptitude.txt", deb_rows},
    {"recorded/dpkg-query.txt", deb_rows},
    {"root/var/lib/dpkg/status", deb_status_rows},
    {"recorded/ps.txt", ps_rows},
    {"recorded/timers.txt", timer_rows},
    {"recorded/modules.txt", module_rows},
};

}  // namespace

TEST(SystemParsers, RecordedInputsGiveTheExpectedRows) {
  for (const recorded_case& c : recorded_cases) {
    SCOPED_TRACE(c.input);
    std::string text = zvtest::read_file(fixture(c.input));
    ASSERT_FALSE(text.empty());
    rows got = c.parse(lines_of(text));
    std::string name = c.input;
    name = name.substr(name.rfind('/') + 1);
    rows want = expected_rows(fixture("recorded/" + name + ".expected.tsv"));
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], want[i]) << "row " << i;
  }
}

// Installed sizes in the package tools' words, at each change of form.
TEST(SystemParsers, PackageSizesReadAsThePackageToolsWriteThem) {
  const std::pair<unsigned long long, const char*> cases[] = {
      {0, "0 B"},           {9, "9216 B"},     {10, "10.2 kB"},   {97, "99.3 kB"},
      {98, "100 kB"},       {9765, "9999 kB"}, {9766, "10.0 MB"}, {97656, "100.0 MB"},
      {4194304, "4295 MB"}, {1ULL << 40, "1126 TB"}};
  for (const auto& c : cases) EXPECT_EQ(deb_size_text(c.first), c.second) << c.first;
}

// Lines that stop early or run long never take a parser past its buffers.
TEST(SystemParsers, ShortAndOverlongLinesStayInTheirFields) {
  interrupt_entry irq;
  for (const char* line : {"", "N", "NMI", "ERR:", "7", "7:", "LOC: 1 2 3 4 5 6 7 8 9"}) {
    parse_interrupt_line(line, 4, irq);
    EXPECT_EQ(irq.counts.size(), 4u) << line;
  }
  EXPECT_TRUE(parse_interrupt_line("ERR: 9", 3, irq));
  EXPECT_EQ(irq.counts, (std::vector<long long>{9, 0, 0}));
  EXPECT_EQ(count_interrupt_processors(""), 1);

  const std::string huge(100000, 'x');
  loaded_module m;
  EXPECT_FALSE(parse_loaded_module_line("", m));
  EXPECT_FALSE(parse_loaded_module_line((huge + " 1 2 - Loading").c_str(), m));
  EXPECT_TRUE(parse_loaded_module_line((huge + " 1 2 - Live 0").c_str(), m));
  EXPECT_EQ(std::string(m.name).size(), 63u);
  EXPECT_TRUE(parse_loaded_module_line(("m 1 2 " + huge + " Live 0").c_str(), m));
  EXPECT_EQ(std::string(m.dependants).size(), 4095u);
  EXPECT_TRUE(parse_loaded_module_line("- Live", m));

  passwd_entry pw;
  // Home directories and login shells are whole, however long.
  const std::string home = "/home/" + std::string(200, 'h');
  parse_passwd_line(("svc:x:7:7::" + home + ":/usr/sbin/nologin").c_str(), pw);
  EXPECT_EQ(pw.home, home);
  EXPECT_STREQ(pw.shell, "/usr/sbin/nologin");
  parse_passwd_line((huge + ":" + huge + ":0x10:" + huge).c_str(), pw);
  EXPECT_EQ(pw.uid, 16);
  EXPECT_EQ(std::string(pw.name).size(), 31u);
  crontab_entry cron;
  EXPECT_TRUE(parse_crontab_line(("* " + huge + " " + huge).c_str(), cron));
  EXPECT_EQ(std::string(cron.hour).size(), 15u);
  range_entry range;
  EXPECT_FALSE(parse_range_line("abc :", range));
  EXPECT_TRUE(parse_range_line((huge + " : " + huge).c_str(), range));
  EXPECT_EQ(std::string(range.description).size(), 63u);
}

// A tool that floods its output: the listing stops at the bound, keeps the
// packages read whole and says in the report that the output was cut.
TEST(SystemParsers, AFloodingToolIsCutAtTheOutputBound) {
  zvtest::temp_dir bin;
  ASSERT_TRUE(zvtest::write_file(bin.path(), "/rpm", "#!/bin/sh\nexec yes 'Name: p\n---EOP---'\n"));
  chmod(bin.file("rpm").c_str(), 0755);
  const long long saved_bound = command_output_limit();
  command_set_output_limit(1000);
  mem_stream report;
  {
    zvtest::scoped_env path("PATH", (bin.path() + ":" + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin")).c_str());
    reset_rpm_tool();
    Table::set_output_format(OUTPUT_TEXT);
    EXPECT_TRUE(rpm_packages_test());
    EXPECT_TRUE(get_rpm_packages(report.get()));
  }
  command_set_output_limit(saved_bound);
  reset_rpm_tool();
  std::string text = report.text();
  reset_report_state();
  // Each package is 18 bytes: "Name: p\n---EOP---\n".
  EXPECT_EQ(zvtest::count_of(text, "| p "), 1000u / 18);
  EXPECT_NE(text.find("output cut at 1000 bytes"), std::string::npos) << text;
  EXPECT_EQ(command_last_limit(), COMMAND_OUTPUT_CUT);
}
