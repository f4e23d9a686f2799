// table.h - the table writer every probe reports through.
//
// A table is streamed to the report while it is built: the title when the
// object is made, a heading of typed columns, rows of cells, and the closing
// when the object is destroyed. One class-wide output format chooses the
// rendering: boxed text, plain XML, ORNA XML, checksummed XML (the default
// report form) or HTML. Nothing is buffered beyond one formatted cell.
//
// A table's columns are data: a probe keeps one static array of Column next
// to the code that fills the table and hands it to heading() in one call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cwchar>

#include "mask.h"

class gathered_date;
class gathered_time;
class gathered_datetime;

/// Report renderings. 6 is a request only: it is stored as 1 (plain XML) with
/// lower-case tags, no prefix and no identifying attribute.
enum output_format_type {
  OUTPUT_TEXT = 0,
  OUTPUT_XML = 1,
  OUTPUT_ORNA = 2,
  OUTPUT_ZVML = 4,
  OUTPUT_HTML = 5,
  OUTPUT_XML_LOWERCASE = 6
};

/// Column data types.
enum datatype { STRING = 0, INTEGER = 1, HEX = 2, FLOAT = 3, ASCII_STRING = 4, BOOL = 5 };

/// One column of a table's heading.
struct Column {
  const char* name;
  datatype type;
  /// Width in the text form; 0 gives the natural width: the table's even
  /// share of 78 characters, or the name's length when that is longer.
  int width = 0;
  /// The kind of value the column holds (serials, addresses, names), masked
  /// by "-mask"; without masking it changes nothing.
  mask_kind kind = MASK_NONE;
};

class Table {
 public:
  static const int MAX_COLUMNS = 20;

  /// A table without row elements; writes the table opening.
  Table(FILE* stream, const char* title);
  /// A table whose rows are wrapped in an element `row_name` in the plain XML form.
  Table(FILE* stream, const char* title, const char* row_name);
  /// Writes the table closing, adds the table checksum to the section's and
  /// flushes the stream.
  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  // Every operation returns true on success; a refused call prints why (on
  // standard output, or standard error in standard-output mode) and changes
  // nothing.

  /// Declares the columns, fixes their widths and renders the heading, once
  /// per table. Refused without columns, with more than MAX_COLUMNS, or when
  /// the table already has its heading. The names are copied.
  bool heading(const Column* columns, size_t count);
  template <size_t N>
  bool heading(const Column (&columns)[N]) {
    static_assert(N <= static_cast<size_t>(MAX_COLUMNS), "too many columns for one table");
    return heading(columns, N);
  }
  /// The kind of value the row identifiers are (masked like a column's).
  void set_row_kind(mask_kind kind) { row_kind = kind; }

  /// `id` identifies the row in the XML forms; null writes no identifier.
  bool start_row(const char* id);
  bool start_row(const wchar_t* id);
  bool end_row();
  /// A whole row: its identifier, then one cell per column in order (of any
  /// type log_data takes). Every cell is worked out before anything is
  /// written, so no two may come from one buffer. False when any part was
  /// refused.
  template <class... Cells>
  bool write_row(const char* id, const Cells&... cells) {
    bool ok = start_row(id);
    ((ok = log_data(cells) && ok), ...);
    return end_row() && ok;
  }

  // Numeric cells: INTEGER, HEX, FLOAT and BOOL columns. A FLOAT column is
  // written like an INTEGER column (decimal).
  bool log_data(int value);
  bool log_data(unsigned int value);
  bool log_data(long value);
  bool log_data(unsigned long value);
  bool log_data(long long value);
  bool log_data(unsigned long long value);
  // Text cells: STRING and ASCII_STRING columns. Null is written as empty text.
  bool log_data(const char* text);
  bool log_wide_data(const wchar_t* text);
  // Date cells: the normalised text when valid, the text as found otherwise.
  bool log_data(const gathered_date& value);
  bool log_data(const gathered_time& value);
  bool log_data(const gathered_datetime& value);

  /// Sets the class-wide format and the XML switches that go with it.
  static void set_output_format(output_format_type format);
  static output_format_type get_output_format();
  /// The checksum of the whole report so far.
  static uint32_t get_output_checksum();

  static output_format_type output_format;

 private:
  struct number_text;

  void init(FILE* stream, const char* title, bool has_row_element, const char* row_name);
  void write_heading();
  bool log_number(const number_text& value);
  bool log_text(const char* text, const wchar_t* wide);
  bool check_cell(const char* shown, bool numeric);
  bool check_cell_position(const char* shown);
  template <class D>
  bool log_date(const D& value, const char* element, bool datetime);
  void write_text_cell(const char* text, const wchar_t* wide);
  void write_zvml_value(const char* element, const char* text, const wchar_t* wide);
  void write_border();
  void write_table_opening();

  bool has_row_element;
  FILE* stream;
  char title[256];
  char row_name[256];
  int current_column;
  datatype column_type[MAX_COLUMNS];
  mask_kind column_kind[MAX_COLUMNS];
  mask_kind row_kind;
  char* column_name[MAX_COLUMNS];
  int column_width[MAX_COLUMNS];
  int widest_column;
  int column_count;
  int row_count;
  bool row_open;
  uint16_t table_checksum;
  uint16_t row_checksum;
};

/// Writes the table "Incomplete Data" (Table, Reason) with one row: the table
/// `table_title` could not be read fully, for `reason` (a run as a normal
/// user, for instance).
void write_incomplete_note(FILE* report, const char* table_title, const char* reason);
