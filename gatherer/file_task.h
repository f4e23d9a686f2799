// file_task.h - the tasks that open the report before the probes run and
// close it after them, and the hand-over of a finished report file to the
// container or to its final name.
#pragma once

#include <cstdio>

#include "task.h"

/// The XML report (plain XML, ORNA and checksummed XML formats). Order 8
/// creates the report, order 25 closes and hands it over.
class xml_output_file_task : public task {
 public:
  xml_output_file_task(const char* name, int order);
  bool run(FILE* report) override;
  bool test() override;
};

/// The plain-text report; its item type is 254.
class txt_output_file_task : public task {
 public:
  txt_output_file_task(const char* name, int order);
  bool run(FILE* report) override;
  bool test() override;
};

/// The HTML report with its table of contents; its item type is 0.
class html_output_file_task : public task {
 public:
  html_output_file_task(const char* name, int order);
  bool run(FILE* report) override;
  bool test() override;
  static const char* const html_header;
  static const char* const html_footer;
};

/// Standard-output mode: the report goes to standard output without frame.
class stdout_output_task : public task {
 public:
  stdout_output_task(const char* name, int order);
  bool run(FILE* report) override;
  bool test() override;
};

/// Creates `path` afresh (never through a link or over an existing file)
/// and writes the report frame's opening: XML heading, root element start
/// tag and the version element. Null (after logging, with setting 11 set to
/// 1) on failure.
FILE* open_xml_file(const char* path);
/// Writes the opening of the report frame into an open stream.
void write_xml_frame_start(FILE* report);
/// Writes the checksum element (checksummed format only) and the root end
/// tag, then closes the stream. Returns 1 when everything written reached
/// the file and the close succeeded, 0 otherwise (errno set); a null stream
/// gives 0.
int close_xml_file(FILE* report);

/// Hands a finished report file over. In container mode it is added as an
/// item of `type` and removed; with setting 10, or outside container mode,
/// it is kept under the final name made from the template and the suffix
/// "[.sub][.ext]". A name already present is replaced only when it is a
/// regular file; a link or anything else planted there is left alone and the
/// hand-over fails. When the add fails the report is kept under its final
/// name all the same. Returns 1 on success; 0 on failure, with setting 11 set
/// to 1 and a status text in *error_text. *saved_name receives the final name
/// only when the file is there under it. The texts stay valid for the run.
int store_or_save_file(const char* path, int type, const char** saved_name,
                       const char** error_text, const char* ext, const char* sub);

/// The name of the temporary report of this run ("zelva<pid>.tmp", or an
/// alternative when that was taken); empty before the report is created.
const char* report_temporary_name();
