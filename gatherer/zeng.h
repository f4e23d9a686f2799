// zeng.h - import tasks for files named on the command line.
#pragma once

#include <cstdio>
#include <cwchar>

#include "task.h"

/// What an imported file is and how it goes into the container.
enum generic_file_type {
  GENERIC_ASCII = 0,     ///< wrapped, bytes outside ASCII as "?" (item 66)
  GENERIC_TEXT = 1,      ///< wrapped, converted to UTF-8 (item 66)
  GENERIC_BINARY = 2,    ///< wrapped, unchanged (item 66)
  GENERIC_DGML = 3,      ///< as is (item 18)
  GENERIC_ZVML = 4,      ///< imported into the checksummed report
  GENERIC_ZELVARN = 5,   ///< a report of this program (item 15)
  GENERIC_SYSEVENT = 6,  ///< item 13
  GENERIC_APPEVENT = 7,  ///< item 14
  GENERIC_SECEVENT = 8   ///< item 20
};

/// One file given with "-asciifile", "-textfile", "-binaryfile", "-xmlfile",
/// "-dgmlfile" or "-zvmlfile"; order 19, named by the file name.
class zeng_task : public task {
 public:
  /// `display_name` is the task's name and is owned by the task.
  explicit zeng_task(char* display_name);
  ~zeng_task() override;

  /// True when the container is open, or when container mode is off (the run
  /// then says the file has nowhere to go); for a report import: when there
  /// is a report. A failed import sets the run result to 1; its status says
  /// why ("Not found", "Not a regular file" or the system's error text).
  bool test() override;
  bool run(FILE* report) override;

  virtual void set_filename(const wchar_t* name);
  /// The text is not copied; it must outlive the task.
  virtual void set_mime_type(const char* mime);
  virtual void set_file_type(generic_file_type type);

  const char* get_filename() const { return filename; }
  const char* get_mime_type() const { return mime_type; }
  generic_file_type get_file_type() const { return file_type; }

  /// Called by the command-line walk with *index at the option word: takes
  /// the file name and an optional MIME type, creates and registers the task
  /// and leaves *index at the last word consumed. Returns 1 when a task was
  /// made, 0 otherwise.
  static int create_zeng_task(int argc, const wchar_t** argv, int* index);

 private:
  bool store_import(FILE* report);
  bool import_failed(int error);

  char fail_buffer[128];
  char* owned_name;
  char* filename;
  const char* mime_type;
  generic_file_type file_type;
};
