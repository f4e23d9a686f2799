// filescan_probe.cpp - the "FILESCAN" task and its report.
//
// The scan normally goes into an XML file of its own (lower-case tags), which
// is stored in the container as an item of its own; in standard-output mode
// it goes into the run's stream. The scan's file must not disturb the run's
// report: the table format, the XML switches and the report checksums are
// put back as they were afterwards.
#include "filescan_probe.h"

#include <strings.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "debug.h"
#include "file_task.h"
#include "filescan.h"
#include "progress.h"
#include "sysinfo.h"
#include "table.h"
#include "xml.h"
#include "zelvarn2.h"
#include "zv2file.h"

filescan_probe::filescan_probe() : legacy_probe("FILESCAN", 16) {
  detail = 1;
  platform = 0x2F71;
  customers = 0xFFE1;
}

bool filescan_probe::test() {
  return params.path.set && !params.path.value.empty() && params.filter.set &&
         !params.filter.value.empty();
}

static bool set_flag(bool& flag, const char* value, const char* name) {
  if (value && (value[0] == 'y' || value[0] == 'Y')) {
    flag = true;
  } else if (value && (value[0] == 'n' || value[0] == 'N')) {
    flag = false;
  } else {
    printm("Valid values for 'filescan %s' are 'Yes' or 'No', default is '%s'\n", name, "Yes");
  }
  return true;
}

bool filescan_probe::set_parameter(const char* key, const char* value) {
  if (!key) return false;
  static const char* const names[] = {"path", "filter", "ignore", "mask", "check", "version"};
  filescan_parameters::text* slots[] = {&params.path, &params.filter, &params.ignore,
                                        &params.mask, &params.check,  &params.version};
  for (int i = 0; i < 6; i++) {
    if (strcasecmp(key, names[i]) != 0) continue;
    if (!value || !*value)
      printm("The filescan %s parameter requires a non-empty value.\n", names[i]);
    if (value) {
      slots[i]->set = true;
      slots[i]->value = value;
    }
    return true;
  }
  if (strcasecmp(key, "date") == 0) return set_flag(params.date, value, "date");
  if (strcasecmp(key, "size") == 0) return set_flag(params.size, value, "size");
  printm("%s is not a valid parameter for filescan\n", key);
  return false;
}

int filescan_octal(const char* text) {
  if (!text) return -1;
  unsigned value;
  char rest;
  // One octal number, optionally surrounded by blanks; anything else is unreadable.
  if (sscanf(text, " %o %c", &value, &rest) != 1) return -1;
  if (value > 07777) return -1;
  return static_cast<int>(value);
}

void get_vpd(FILE* out) {
  static const Column columns[] = {{"Computername", STRING, 0, MASK_HOST}, {"Vendor", STRING},
                                   {"Model", STRING},                      {"Serial", STRING, 0, MASK_SERIAL},
                                   {"UUID", STRING, 0, MASK_UUID},         {"Operating System", STRING}};
  Table table(out, "VPD");
  table.heading(columns);
  SysInfo* info = SysInfo::get();
  table.write_row("", info->NodeName(), info->OEM(), info->Model(), info->Serial(), info->UUID(),
                  info->OSName());
}

bool get_filescan_info(FILE* out, const filescan_parameters& p) {
  int mask = filescan_octal(p.mask.get());
  int check = filescan_octal(p.check.get());
  bool with_version = p.version.set;
  start_section(out, "FILESCAN");
  {
    static const Column columns[] = {
        {"Path", STRING}, {"Filter", STRING}, {"Ignore Filter", STRING}, {"Permission Check", INTEGER},
        {"Permission Mask", INTEGER}, {"Version", STRING}, {"Date", BOOL}, {"Size", BOOL}};
    Table table(out, "FILESCAN PARAMETERS");
    table.heading(columns);
    table.write_row("", p.path.get(), p.filter.get(), p.ignore.set ? p.ignore.get() : "", check, mask,
                    with_version ? p.version.get() : "", p.date ? 1 : 0, p.size ? 1 : 0);
  }

  unsigned files_scanned = 0, directories_scanned = 0, files_found = 0, seconds = 0;
  std::vector<filescan::stop> stops;
  unsigned stops_dropped = 0;
  {
    // The dates, size and version columns only when asked for, as the rows.
    std::vector<Column> columns = {{"Filename", STRING}, {"Path", STRING}};
    if (p.date)
      columns.insert(columns.end(),
                     {{"Create Time", STRING}, {"Last Access Time", STRING}, {"Last Write Time", STRING}});
    if (p.size) columns.push_back({"Size", STRING});
    columns.insert(columns.end(), {{"Permissions", STRING}, {"User ID", STRING}, {"Group ID", STRING}});
    if (with_version)
      columns.insert(columns.end(), {{"Language", STRING}, {"File Version", STRING}, {"Product Version", STRING},
                                     {"CompanyName", STRING}, {"ProductName", STRING}, {"ProductVersion", STRING},
                                     {"FileVersion", STRING}});
    Table table(out, "SCANNED FILES", "file");
    table.heading(columns.data(), columns.size());

    std::unique_ptr<filescan> scan(make_filescan());
    scan->add_path_to_scan(p.path.get());
    if (p.filter.set) scan->set_filter(p.filter.get());
    if (p.ignore.set) scan->set_ignore_filter(p.ignore.get());
    if (mask >= 0) scan->set_perm_mask(mask);
    if (check >= 0) scan->set_perm_check(check);

    // On a terminal the count on the task's line says it is still working.
    const bool live = console_progress_live();
    if (!live) printm("Please wait.\n");
    const int interval = with_version ? 11 : 231;
    int countdown = interval;
    clock_t started = clock();
    char full[FILESCAN_PATH_MAX], buf[FILESCAN_PATH_MAX];
    while (scan->next()) {
      table.start_row(scan->get_full_pathname(full, sizeof full));
      table.log_data(scan->get_filename(buf, sizeof buf));
      table.log_data(scan->get_path(buf, sizeof buf));
      if (p.date) {
        table.log_data(scan->get_create_time(buf, sizeof buf));
        table.log_data(scan->get_last_access_time(buf, sizeof buf));
        table.log_data(scan->get_last_write_time(buf, sizeof buf));
      }
      if (p.size) table.log_data(scan->get_file_size(buf, sizeof buf));
      table.log_data(scan->get_permissions(buf, sizeof buf));
      table.log_data(scan->get_user_id(buf, sizeof buf));
      table.log_data(scan->get_group_id(buf, sizeof buf));
      // No source of version resources on this platform: the cells stay empty.
      if (with_version)
        for (int i = 0; i < 7; i++) table.log_data("");
      table.end_row();
      if (live) {
        console_progress(scan->get_files_scanned(), "files scanned");
      } else if (--countdown == 0) {
        countdown = interval;
        printm("\r   Scanned %u files in %u directories, %u files found ...",
               scan->get_files_scanned(), scan->get_directories_scanned(), scan->get_files_found());
      }
    }
    clock_t used = clock() - started;
    seconds = used > 0 ? static_cast<unsigned>(static_cast<unsigned long long>(used) / CLOCKS_PER_SEC) : 0;
    files_scanned = scan->get_files_scanned();
    directories_scanned = scan->get_directories_scanned();
    files_found = scan->get_files_found();
    if (live) console_progress_end();
    printm(live ? "\n   Scanned %u files in %u directories, %u files found.\n"
                : "\r   Scanned %u files in %u directories, %u files found.    \n", files_scanned,
           directories_scanned, files_found);
    printm("   Scanning complete in %u min %u sec.\n", seconds / 60, seconds % 60);
    printd("filescan: Scanned %u files in %u directories\n", files_scanned, directories_scanned);
    printd("filescan: %u files found\n", files_found);
    stops = scan->get_stops();
    stops_dropped = scan->get_stops_dropped();
  }

  // Where the scan did not descend, so that a reader of the report knows
  // what it does not cover.
  if (!stops.empty()) {
    static const Column columns[] = {{"Path", STRING}, {"Reason", STRING}};
    Table table(out, "DIRECTORIES NOT SCANNED");
    table.heading(columns);
    for (const filescan::stop& s : stops) {
      table.write_row(s.path.c_str(), s.path.c_str(), s.reason.c_str());
    }
    if (stops_dropped) {
      std::string more = std::to_string(stops_dropped) + " more not listed";
      table.write_row("", "", more.c_str());
    }
  }

  {
    static const Column columns[] = {{"Files Scanned", INTEGER}, {"Directories Scanned", INTEGER},
                                     {"Files Found", INTEGER},   {"Elapsed Time in seconds", INTEGER}};
    Table table(out, "FILESCAN RESULTS");
    table.heading(columns);
    table.write_row("", files_scanned, directories_scanned, files_found, seconds);
  }
  end_section(out);
  return true;
}

bool filescan_probe::run(FILE* report) {
  output_format_type saved_format = Table::get_output_format();
  if (gatherer_setting(SETTING_STDOUT, SETTING_GET)) {
    bool ok = get_filescan_info(report, params);
    Table::set_output_format(saved_format);
    return ok;
  }

  // The scan's own file: its tables must not count in the report's checksums.
  uint32_t saved_output = output_checksum, saved_section = section_checksum;
  Table::set_output_format(OUTPUT_XML_LOWERCASE);
  char name[64], stem[32];
  snprintf(stem, sizeof stem, "fscn%x", static_cast<unsigned>(getpid()));
  FILE* f = create_temporary(name, sizeof name, stem, ".tmp", "wb");
  if (!f) {
    print_error(stem, errno);
    gatherer_setting(SETTING_RESULT, SETTING_SET, 1);
    fail_text = "Cannot create temporary file";
    Table::set_output_format(saved_format);
    return false;
  }
  write_xml_frame_start(f);
  get_vpd(f);
  bool ok = get_filescan_info(f, params);
  bool written = !ferror(f);
  bool closed = close_xml_file(f) == 1;
  output_checksum = saved_output;
  section_checksum = saved_section;
  Table::set_output_format(saved_format);
  if (!written || !closed) {
    // A scan file that did not reach the disk whole is neither stored nor kept.
    print_error(name, errno ? errno : EIO);
    gatherer_setting(SETTING_RESULT, SETTING_SET, 1);
    remove_temporary(name);
    fail_text = "Cannot write temporary file";
    return false;
  }
  const char* error_text = nullptr;
  if (store_or_save_file(name, 17, nullptr, &error_text, "XML", "FILESCAN") != 1) {
    if (error_text) fail_text = error_text;
    return false;
  }
  return ok;
}
