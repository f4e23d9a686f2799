// file_task.cpp - the report output tasks: create the report before the
// probes, finish and hand it over after them.
#include "file_task.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "debug.h"
#include "filename.h"
#include "safe_file.h"
#include "table.h"
#include "temp_files.h"
#include "xml.h"
#include "zelvarn2.h"
#include "zv2file.h"

namespace {

constexpr int NAME_SIZE = 256;
constexpr int STATUS_SIZE = 512;

/// The temporary report name chosen at creation, for the closing step.
char report_temp[64];

/// Status texts handed to tasks stay valid for the run: a small ring, as a
/// run shows only a few of them.
constexpr int STATUS_SLOTS = 4;
char status_texts[STATUS_SLOTS][STATUS_SIZE];
int next_status = 0;

const char* keep_text(const char* format, ...) ZV_PRINTF(1, 2);
const char* keep_text(const char* format, ...) {
  char* slot = status_texts[next_status];
  next_status = (next_status + 1) % STATUS_SLOTS;
  va_list args;
  va_start(args, format);
  vsnprintf(slot, STATUS_SIZE, format, args);
  va_end(args);
  return slot;
}

void set_text(const char** where, const char* text) {
  if (where) *where = text;
}

/// The report's temporary name: the one chosen at creation, else the
/// canonical name from the process id.
const char* temp_report_name() {
  if (!report_temp[0])
    snprintf(report_temp, sizeof report_temp, "zelva%x.tmp", static_cast<unsigned>(getpid()));
  return report_temp;
}

/// Creates the temporary report, choosing another name when the usual one
/// is taken. Null with errno set on failure.
FILE* create_report_file(const char* mode) {
  char stem[32];
  snprintf(stem, sizeof stem, "zelva%x", static_cast<unsigned>(getpid()));
  report_temp[0] = '\0';
  FILE* f = create_temporary(report_temp, sizeof report_temp, stem, ".tmp", mode);
  if (!f) {
    int e = errno;
    print_error(report_temp[0] ? report_temp : stem, e);
    report_temp[0] = '\0';
    errno = e;
  }
  return f;
}

[[noreturn]] void fatal_no_temporary() {
  remove_temporaries();
  internal_error("Cannot create temporary file. Disk full?\n");
}

/// Flushes and closes a finished report; false (errno set) when anything
/// written earlier or now did not reach the file.
bool finish_report(FILE* report) {
  bool ok = fflush(report) == 0 && !ferror(report);
  int e = errno;
  if (fclose(report) != 0) return false;
  if (!ok) errno = e ? e : EIO;
  return ok;
}

/// A report that could not be written completely is neither stored nor
/// saved: it is logged, the run fails, and the partial file goes.
bool reject_report(const char** fail_text, const char* name, int error) {
  if (error == 0) error = EIO;
  print_error(name, error);
  gatherer_setting(SETTING_RESULT, SETTING_SET, 1);
  if (gatherer_setting(SETTING_CONTAINER, SETTING_GET)) mark_container_incomplete();
  *fail_text = keep_text("Report incomplete, not kept: %s", strerror(error));
  remove_temporary(name);
  report_temp[0] = '\0';
  return false;
}

/// Hands the closed report over as an item of `type`, or rejects it when
/// it was not `written` whole (`error` says why).
bool hand_over(bool written, int error, int type, const char* ext, const char** ok_text,
               const char** fail_text) {
  task::output_file = nullptr;
  const char* name = temp_report_name();
  if (!written) return reject_report(fail_text, name, error);
  char temp[sizeof report_temp];
  memcpy(temp, report_temp, sizeof temp);
  report_temp[0] = '\0';
  return store_or_save_file(temp, type, ok_text, fail_text, ext, nullptr) == 1;
}

/// Writes the temporary `path`, read through its own descriptor, to the new
/// file `final_name`. Returns 0, or the error number (logged).
int copy_kept_temporary(const char* path, const char* final_name) {
  FILE* in = temp_files_reopen(path);
  FILE* out = in ? create_new_file(final_name, "wb") : nullptr;
  int error = out ? 0 : errno;
  char block[4096];
  for (size_t n; !error && (n = fread(block, 1, sizeof block, in)) > 0;)
    if (fwrite(block, 1, n, out) != n) error = errno ? errno : EIO;
  if (!error && ferror(in)) error = EIO;
  if (out && fclose(out) != 0 && !error) error = errno;
  if (in) fclose(in);
  if (error) {
    print_error(final_name, error);
    return error;
  }
  forget_temporary(path);
  return 0;
}

/// Puts `path` under `final_name` without following or replacing anything
/// but a regular file there. Returns 0, or the error number (logged).
int move_to_final_name(const char* path, const char* final_name) {
  struct stat st;
  int error = 0;
  if (lstat(final_name, &st) == 0) {
    if (!S_ISREG(st.st_mode))
      error = EEXIST;
    else if (unlink(final_name) != 0)
      error = errno;
  } else if (errno != ENOENT) {
    error = errno;
  }
  if (error) {
    print_error("file_task: remove", error);
    return error;
  }
  if (temp_files_known(path) && temp_files_handover_hook) temp_files_handover_hook(path);
  if (temp_files_known(path) && !temp_files_name_is_ours(path)) {
    // Something else was put at the temporary's name: the report is copied
    // from the descriptor that wrote it, and that name is left alone.
    printd("file_task: %s was replaced, copying the report from its descriptor\n", path);
    return copy_kept_temporary(path, final_name);
  }
  // A hard link never replaces a name created meanwhile; a file system
  // without hard links falls back to rename.
  if (link(path, final_name) == 0) {
    if (unlink(path) != 0) print_error(path, errno);
    return 0;
  }
  error = errno;
  if ((error == EPERM || error == EOPNOTSUPP || error == EMLINK) && rename(path, final_name) == 0)
    return 0;
  error = errno;
  print_error("file_task: rename", error);
  return error;
}

/// "[.sub][.ext]" into buf.
void make_suffix(char* buf, size_t size, const char* ext, const char* sub) {
  snprintf(buf, size, "%s%s%s%s", sub ? "." : "", sub ? sub : "", ext ? "." : "",
           ext ? ext : "");
}

bool report_format_is(bool xml_family, output_format_type wanted) {
  if (gatherer_setting(SETTING_STDOUT, SETTING_GET)) return false;
  output_format_type f = Table::get_output_format();
  if (xml_family) return f == OUTPUT_XML || f == OUTPUT_ZVML || f == OUTPUT_ORNA;
  return f == wanted;
}

}  // namespace

const char* report_temporary_name() { return report_temp; }

// ---------------------------------------------------------------------------
// XML report frame

void write_xml_frame_start(FILE* report) {
  xml_file_heading(report);
  xml_open_tag(report, data_tag, nullptr);
  xml_tag_value(report, version_tag, GTH_VERSION);
}

FILE* open_xml_file(const char* path) {
  FILE* f = path ? create_new_file(path, "wb") : nullptr;
  if (!f) {
    print_error(path ? path : "(null)", path ? errno : EINVAL);
    gatherer_setting(SETTING_RESULT, SETTING_SET, 1);
    return nullptr;
  }
  write_xml_frame_start(f);
  return f;
}

int close_xml_file(FILE* report) {
  if (!report) return 0;
  if (Table::get_output_format() == OUTPUT_ZVML) {
    char checksum[16];
    snprintf(checksum, sizeof checksum, "%8X", static_cast<unsigned>(output_checksum));
    xml_tag_value(report, "CHK", checksum);
  }
  xml_close_tag(report, data_tag);
  return finish_report(report) ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Hand-over

int store_or_save_file(const char* path, int type, const char** saved_name,
                       const char** error_text, const char* ext, const char* sub) {
  if (!path) return 0;
  bool container = gatherer_setting(SETTING_CONTAINER, SETTING_GET) != 0;
  bool stored = store_file(path, type, true);
  if (container && !stored) {
    // The report must not be lost: it stays as a loose file, as in local mode.
    gatherer_setting(SETTING_RESULT, SETTING_SET, 1);
    mark_container_incomplete();
  }
  if (stored && !gatherer_setting(SETTING_KEEP_LOOSE, SETTING_GET)) {
    remove_temporary(path);
    return 1;
  }
  if (!ext && !sub) {
    if (stored || !container) {
      remove_temporary(path);
      return stored ? 1 : 0;
    }
    forget_temporary(path);
    set_text(error_text, keep_text("Not stored in container, kept as %s", path));
    return 0;
  }
  char suffix[NAME_SIZE];
  make_suffix(suffix, sizeof suffix, ext, sub);
  char final_name[NAME_SIZE];
  gatherer_generate_filename(gatherer_filename(FILENAME_TEMPLATE, SETTING_GET), suffix, final_name,
                             sizeof final_name);
  printd("file_task: rename %s to %s\n", path, final_name);
  int e = move_to_final_name(path, final_name);
  if (e != 0) {
    forget_temporary(path);
    gatherer_setting(SETTING_RESULT, SETTING_SET, 1);
    set_text(error_text, keep_text("%s, kept as %s", strerror(e), path));
    return 0;
  }
  forget_temporary(path);
  const char* kept = keep_text("%s", final_name);
  set_text(saved_name, kept);
  if (container && !stored) {
    set_text(error_text, keep_text("Not stored in container, saved as %s", final_name));
    return 0;
  }
  return 1;
}

// ---------------------------------------------------------------------------
// XML

xml_output_file_task::xml_output_file_task(const char* task_name, int task_order)
    : task(task_name, task_order) {
  detail = 1;
}

bool xml_output_file_task::test() { return report_format_is(true, OUTPUT_XML); }

bool xml_output_file_task::run(FILE* report) {
  if (order == 8) {
    FILE* f = create_report_file("wb");
    if (!f) {
      gatherer_setting(SETTING_RESULT, SETTING_SET, 1);
      fail_text = "Cannot create temporary file";
      return false;
    }
    write_xml_frame_start(f);
    output_file = f;
    return true;
  }
  if (!report) return false;
  bool clean = !ferror(report);
  int error = errno;
  bool closed = close_xml_file(report) == 1;
  if (closed) errno = error;
  return hand_over(clean && closed, errno, 15, "XML", &ok_text, &fail_text);
}

// ---------------------------------------------------------------------------
// Text

txt_output_file_task::txt_output_file_task(const char* task_name, int task_order)
    : task(task_name, task_order) {
  detail = 1;
}

bool txt_output_file_task::test() { return report_format_is(false, OUTPUT_TEXT); }

bool txt_output_file_task::run(FILE* report) {
  if (order == 8) {
    FILE* f = create_report_file("wt");
    if (!f) fatal_no_temporary();
    output_file = f;
    fprintf(f, "\n%s\n%s\nVersion %s %s\n\n", GTH_TITLE, GTH_OWNERSHIP, GTH_VERSION,
            GTH_SUBVERSION ? GTH_SUBVERSION : "");
    return true;
  }
  if (!report) return false;
  bool written = finish_report(report);
  return hand_over(written, errno, 254, "TXT", &ok_text, &fail_text);
}

// ---------------------------------------------------------------------------
// HTML

const char* const html_output_file_task::html_header =
    "<html>\n<head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n<title>Zelvarn Output</title>\n<style type=\"text/css\">\nh2 {\n"
    "\tbackground-color: #6666ff;\n\tcolor: white;\n\ttext-align: center;\n}\nth {\n"
    "\tcolor: white;\n\tbackground-color: #6666ff;\n\tpadding: 2;\n\tborder-style: solid;\n"
    "\tborder-color: black;\n\tborder-width: 1;\n}\ntable {\n\tborder-style: none;\n"
    "\tborder-collapse: collapse;\n}\ntd {\n\tpadding: 2;\n\tborder-style: solid;\n"
    "\tborder-color: black;\n\tborder-width: 1;\n\ttext-align: left;\n}\n#toc {\n"
    "\ttext-transform: uppercase;\n}\n</style>\n</head>\n<body>\n";

const char* const html_output_file_task::html_footer = "</body>";

html_output_file_task::html_output_file_task(const char* task_name, int task_order)
    : task(task_name, task_order) {
  detail = 1;
}

bool html_output_file_task::test() { return report_format_is(false, OUTPUT_HTML); }

/// The table of contents: every probe task that will be considered, in
/// registry order, linked to the anchor its section writes.
/// The names the table of contents links to.
static std::vector<std::string> html_contents;

static void write_html_contents(FILE* f) {
  fputs("<h1>Table of Contents</h1>\n<ol id='toc'>\n", f);
  html_contents.clear();
  html_forget_anchors();
  for (task* t = task::first; t; t = t->get_next()) {
    if (t->is_system_task() || !t->validate()) continue;
    html_contents.push_back(t->get_name() ? t->get_name() : "");
    fputs("<li><a href=\"#", f);
    html_write_text(f, t->get_name(), true);
    fputs("\">", f);
    html_write_text(f, t->get_name(), false);
    fputs("</a></li>\n", f);
  }
  fputs("</ol>\n", f);
}

bool html_output_file_task::run(FILE* report) {
  if (order == 8) {
    FILE* f = create_report_file("wt");
    if (!f) fatal_no_temporary();
    output_file = f;
    fputs(html_header, f);
    fprintf(f, "<p>%s\n<br>%s\n<br>Version %s %s\n", GTH_TITLE, GTH_OWNERSHIP, GTH_VERSION,
            GTH_SUBVERSION ? GTH_SUBVERSION : "");
    write_html_contents(f);
    return true;
  }
  if (!report) return false;
  // A probe that found nothing to look at (no SCSI nodes, no display) wrote
  // no section: its entry in the contents still gets somewhere.
  for (const std::string& name : html_contents) {
    if (html_anchor_written(name.c_str())) continue;
    fputs("<a name=\"", report);
    html_write_text(report, name.c_str(), true);
    fputs("\"><H2>", report);
    html_write_text(report, name.c_str(), false);
    fputs("</H2></a>\n<p>Nothing to report: the probe found nothing to look at on this machine.</p>\n", report);
  }
  fputs(html_footer, report);
  bool written = finish_report(report);
  return hand_over(written, errno, 0, "HTML", &ok_text, &fail_text);
}

// ---------------------------------------------------------------------------
// Standard output

stdout_output_task::stdout_output_task(const char* task_name, int task_order)
    : task(task_name, task_order) {}

bool stdout_output_task::test() { return gatherer_setting(SETTING_STDOUT, SETTING_GET) != 0; }

bool stdout_output_task::run(FILE*) {
  output_file = stdout;
  return true;
}
