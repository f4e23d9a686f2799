// report_reader.h - reads a finished report back, streaming: the checksummed
// XML form (every cell, row, table, section, embedded file, import and the
// whole report re-added and compared with the sums written), the plain XML
// form and the ORNA form. No document is built: one row (or one chunk of an
// embedded file) is held at a time, so memory stays flat however large the
// report is. The reader is its own small XML tokenizer and refuses what is
// not well-formed: unbalanced or unknown structure, document type
// declarations, unknown entities, control characters, text where only
// structure may stand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/// One cell of a row as read: the column name, the value (entities decoded,
/// UTF-8 as written) and whether the report types it as an integer.
struct report_cell {
  std::string name;
  std::string key;  ///< the name made unique within the row ("Runlevel", "Runlevel_2", ...)
  std::string value;
  bool integer = false;  ///< a decimal integer column (ZVML DEC, ORNA INTEGER, plain XML digits)
};

/// A row handed to the handler. The strings stay valid during the call only.
struct report_row {
  const std::string* section;  ///< "" in the ORNA form, which has no sections
  const std::string* table;
  const std::string* import;  ///< the imported file the row came with, "" for the report's own rows
  std::string id;
  std::vector<report_cell> cells;
  size_t cell_count = 0;  ///< cells[0..cell_count) are this row's; the vector is reused
  unsigned long line = 0;
};

/// What the reader found about the machine in the report itself (the system
/// summary table); empty when the report has no such table.
struct report_identity {
  std::string vendor, model, serial, uuid;
  bool known() const { return !vendor.empty() || !model.empty() || !serial.empty() || !uuid.empty(); }
};

class report_handler {
 public:
  virtual ~report_handler() {}
  /// A complete row; return false to stop reading.
  virtual bool row(const report_row&) { return true; }
  /// An embedded file: begin, its text in chunks (UTF-8 as written), end.
  virtual bool file_begin(const std::string& /*section*/, const std::string& /*name*/) { return true; }
  virtual bool file_text(const char* /*data*/, size_t /*size*/) { return true; }
  virtual bool file_end(uint32_t /*checksum*/, uint64_t /*bytes*/) { return true; }
};

enum report_form { REPORT_UNKNOWN, REPORT_ZVML, REPORT_XML, REPORT_ORNA };

enum report_status {
  REPORT_OK,             ///< well-formed, and every checksum adds up (checksummed form)
  REPORT_BAD_CHECKSUM,   ///< well-formed so far, but a checksum or count does not add up
  REPORT_NOT_WELL_FORMED,
  REPORT_READ_ERROR,
  REPORT_STOPPED  ///< the handler asked to stop
};

class report_reader {
 public:
  explicit report_reader(report_handler& handler);
  ~report_reader();
  report_reader(const report_reader&) = delete;
  report_reader& operator=(const report_reader&) = delete;

  /// Go on past a checksum that does not add up (the first one is still
  /// reported); without it reading stops there and the row is not handed on.
  void set_force(bool force);

  /// Reads a whole report from a file descriptor (read until its end).
  report_status read_fd(int fd);
  /// Reads a whole report held in memory.
  report_status read_memory(const char* data, size_t size);

  /// The first problem, naming the line and the section, table or row:
  /// "line 12: section "NETWORK", table "Network Interfaces", row "eth0":
  /// row checksum  4A1 does not match its cells (they add up to  4A2)".
  const std::string& error() const;
  /// Checksum and count mismatches seen (only more than one with force).
  unsigned long mismatches() const;
  report_form form() const;
  const report_identity& identity() const;
  /// Checksums compared and found right.
  unsigned long checksums_checked() const;
  unsigned long rows_read() const;

  struct impl;

 private:
  impl* p;
};

/// The name of a report form for messages ("checksummed XML", "XML", "ORNA").
const char* report_form_name(report_form form);
