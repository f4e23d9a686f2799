// table.cpp - the table writer: one set of calls, five renderings, and the
// cell/row/table checksums of the checksummed XML report.
#include "table.h"

#include <cstdarg>
#include <cstring>
#include <string>

#include "date.h"
#include "debug.h"
#include "utf8.h"
#include "xml.h"
#include "zelvarn2.h"

output_format_type Table::output_format = OUTPUT_TEXT;

namespace {

/// Misuse messages go to standard output, except when the report itself is
/// standard output: then they would corrupt it and go to standard error.
ZV_PRINTF(1, 2) void refuse(const char* format, ...) {
  FILE* out = gatherer_setting(SETTING_STDOUT, SETTING_GET) ? stderr : stdout;
  va_list args;
  va_start(args, format);
  vfprintf(out, format, args);
  va_end(args);
  fflush(out);
}

bool is_numeric(datatype t) { return t == INTEGER || t == HEX || t == FLOAT || t == BOOL; }
bool is_text(datatype t) { return t == STRING || t == ASCII_STRING; }

/// Copies text into a fixed buffer, cut to its size less one.
void copy_cut(char* out, size_t size, const char* text) {
  size_t n = text ? strnlen(text, size - 1) : 0;
  if (n) memcpy(out, text, n);
  out[n] = 0;
}

/// True when every character of the text is printable ASCII.
bool printable_ascii(const char* s) {
  for (; *s; s++)
    if (static_cast<unsigned char>(*s) < 0x20 || static_cast<unsigned char>(*s) > 0x7E) return false;
  return true;
}

/// A copy of a wide text cut to `width` characters (caller frees with delete[]).
wchar_t* wide_cut(const wchar_t* text, int width) {
  size_t n = wcslen(text);
  if (width >= 0 && n > (size_t)width) n = (size_t)width;
  wchar_t* out = new wchar_t[n + 1];
  wmemcpy(out, text, n);
  out[n] = 0;
  return out;
}

/// A text cell of the text report: control characters shown as "?", cut to
/// `width` characters (never inside a character) and padded to it.
void write_text_report_cell(FILE* stream, const char* text, const wchar_t* wide, int width) {
  wchar_t* shown;
  if (wide) {
    shown = wide_cut(wide, -1);
    for (wchar_t* p = shown; *p; ++p)
      if ((*p >= 0 && *p < 0x20) || (*p >= 0x7F && *p <= 0x9F)) *p = L'?';
  } else {
    shown = displayable_wide(text);
  }
  int n = (int)wcslen(shown);
  if (width >= 0 && n > width) {
    shown[width] = 0;
    n = width;
  }
  char* narrow = wide_to_mbcs(shown);
  fprintf(stream, " %s%*s |", narrow, width > n ? width - n : 0, "");
  delete[] narrow;
  delete[] shown;
}

void write_html_cell(FILE* stream, const char* text) {
  fputs("<TD>", stream);
  html_write_text(stream, text, false);
  fputs("</TD>", stream);
}

}  // namespace

/// A numeric value in the three spellings the renderings need.
struct Table::number_text {
  char decimal[32];
  char hex[32];
  bool nonzero;
};

// ---- Construction and the class-wide format ----

Table::Table(FILE* stream, const char* title) { init(stream, title, false, nullptr); }

Table::Table(FILE* stream, const char* title, const char* row_name) {
  init(stream, title, true, row_name);
}

void Table::init(FILE* s, const char* t, bool row_element, const char* row) {
  has_row_element = row_element;
  stream = s;
  copy_cut(title, sizeof title, t);
  copy_cut(row_name, sizeof row_name, row);
  current_column = 0;
  for (int i = 0; i < MAX_COLUMNS; i++) {
    column_type[i] = STRING;
    column_kind[i] = MASK_NONE;
    column_name[i] = nullptr;
    column_width[i] = 0;
  }
  row_kind = MASK_NONE;
  widest_column = 0;
  column_count = 0;
  row_count = 0;
  row_open = false;
  table_checksum = 0;
  row_checksum = 0;
  write_table_opening();
}

void Table::write_table_opening() {
  if (!stream) return;
  switch (output_format) {
    case OUTPUT_TEXT:
      fprintf(stream, "\nTable: %s\n", title);
      break;
    case OUTPUT_XML:
      xml_open_tag(stream, title, nullptr);
      break;
    case OUTPUT_ORNA: {
      char* name = make_Teldrin_name(title);
      char full[sizeof title + 8];
      snprintf(full, sizeof full, "ORNA_%s", name ? name : "");
      delete[] name;
      xml_open_tag(stream, "InventoryTable", full);
      break;
    }
    case OUTPUT_ZVML:
      xml_open_tag(stream, "TABLE", title);
      break;
    case OUTPUT_HTML:
      fputs("<H3>", stream);
      html_write_text(stream, title, false);
      fputs("</H3><TABLE BORDER>\n", stream);
      break;
    default:
      break;
  }
}

Table::~Table() {
  if (row_open) end_row();  // keeps the document well-formed
  section_checksum += table_checksum;
  if (stream) {
    char text[16];
    switch (output_format) {
      case OUTPUT_TEXT:
        write_border();
        break;
      case OUTPUT_XML:
        xml_close_tag(stream, title);
        break;
      case OUTPUT_ORNA:
        xml_close_tag(stream, "InventoryTable");
        break;
      case OUTPUT_ZVML:
        snprintf(text, sizeof text, "%d", row_count);
        xml_tag_value(stream, "ROWS", text);
        snprintf(text, sizeof text, "%4X", (unsigned)table_checksum);
        xml_tag_value(stream, "CHK", text);
        xml_close_tag(stream, "TABLE");
        break;
      case OUTPUT_HTML:
        fputs("</TABLE>\n", stream);
        break;
      default:
        break;
    }
  }
  for (int i = 0; i < column_count; i++) delete[] column_name[i];
  column_count = 0;
  if (stream) fflush(stream);
}

void Table::set_output_format(output_format_type format) {
  switch (format) {
    case OUTPUT_XML:
      xml_set_tag_prefix(true);
      xml_set_attribute_id("ID");
      xml_set_tag_uppercase(true);
      xml_set_tag_lowercase(false);
      break;
    case OUTPUT_ORNA:
      xml_set_tag_prefix(false);
      xml_set_attribute_id("name");
      xml_set_tag_uppercase(false);
      xml_set_tag_lowercase(false);
      break;
    case OUTPUT_ZVML:
      xml_set_tag_prefix(false);
      xml_set_attribute_id("ID");
      xml_set_tag_uppercase(true);
      xml_set_tag_lowercase(false);
      break;
    case OUTPUT_XML_LOWERCASE:
      xml_set_tag_prefix(false);
      xml_set_attribute_id(nullptr);
      xml_set_tag_uppercase(false);
      xml_set_tag_lowercase(true);
      format = OUTPUT_XML;
      break;
    default:
      break;
  }
  output_format = format;
}

output_format_type Table::get_output_format() { return output_format; }

uint32_t Table::get_output_checksum() { return output_checksum; }

// ---- Heading ----

bool Table::heading(const Column* columns, size_t count) {
  if (column_count > 0) {
    refuse("heading() - Heading Already Written\n");
    return false;
  }
  if (!columns || count == 0) {
    refuse("heading() - No Columns Defined\n");
    return false;
  }
  if (count > static_cast<size_t>(MAX_COLUMNS)) {
    refuse("heading(%s) - %u columns, too many.  Max is %d\n", columns[0].name ? columns[0].name : "",
           static_cast<unsigned>(count), MAX_COLUMNS);
    return false;
  }
  for (size_t i = 0; i < count; i++) {
    const char* name = columns[i].name ? columns[i].name : "";
    column_name[i] = new char[strlen(name) + 1];
    strcpy(column_name[i], name);
    column_type[i] = columns[i].type;
    column_kind[i] = columns[i].kind;
    column_width[i] = columns[i].width > 0 ? columns[i].width : 0;
  }
  column_count = static_cast<int>(count);
  write_heading();
  return true;
}

void Table::write_heading() {
  int default_width = (78 - 3 * column_count) / column_count;
  widest_column = 0;
  for (int i = 0; i < column_count; i++) {
    if (column_width[i] == 0) {
      int name_length = (int)strlen(column_name[i]);
      column_width[i] = default_width > name_length ? default_width : name_length;
    }
    if (column_width[i] > widest_column) widest_column = column_width[i];
  }
  printd("schema: table %s\n", title);
  printd("schema: default column width %d\n", default_width);
  for (int i = 0; i < column_count; i++)
    printd("schema: %2d - %-42s width %-4d type %d\n", i, column_name[i], column_width[i], (int)column_type[i]);

  if (stream) {
    char text[16];
    switch (output_format) {
      case OUTPUT_TEXT:
        write_border();
        fputc('|', stream);
        for (int i = 0; i < column_count; i++)
          fprintf(stream, " %-*.*s |", column_width[i], column_width[i], column_name[i]);
        fputc('\n', stream);
        write_border();
        break;
      case OUTPUT_ZVML:
        snprintf(text, sizeof text, "%d", column_count);
        xml_tag_value(stream, "COLS", text);
        break;
      case OUTPUT_HTML:
        fputs("<TR>", stream);
        for (int i = 0; i < column_count; i++) {
          fputs("<TH>", stream);
          html_write_text(stream, column_name[i], false);
          fputs("</TH>", stream);
        }
        fputs("</TR>\n", stream);
        break;
      default:
        break;
    }
  }
}

void Table::write_border() {
  fputc('+', stream);
  for (int i = 0; i < column_count; i++) {
    for (int k = 0; k < column_width[i] + 2; k++) fputc('-', stream);
    fputc('+', stream);
  }
  fputc('\n', stream);
}

// ---- Rows ----

bool Table::start_row(const char* id) {
  std::string masked;
  if (id && mask_enabled()) {
    masked = row_kind != MASK_NONE ? mask_value(row_kind, id) : mask_text(id);
    id = masked.c_str();
  }
  if (row_open) {
    // A forgotten end_row would leave an element open in the XML forms.
    refuse("start_row(%s) - Row still open, closing it\n", id ? id : "");
    end_row();
  }
  current_column = 0;
  row_checksum = 0;
  row_open = true;
  row_count++;
  if (!stream) return true;
  switch (output_format) {
    case OUTPUT_TEXT:
      fputc('|', stream);
      break;
    case OUTPUT_XML:
      if (has_row_element) xml_open_tag(stream, row_name, id);
      break;
    case OUTPUT_ORNA:
      xml_open_tag(stream, "InventoryTableRow", nullptr);
      break;
    case OUTPUT_ZVML:
      xml_open_tag(stream, "ROW", id);
      break;
    case OUTPUT_HTML:
      fputs("<TR ALIGN=CENTER>\n", stream);
      break;
    default:
      break;
  }
  return true;
}

bool Table::start_row(const wchar_t* id) {
  char* narrow = id ? wide_to_mbcs(id) : nullptr;
  bool ok = start_row(narrow);
  delete[] narrow;
  return ok;
}

bool Table::end_row() {
  if (!row_open) {
    refuse("end_row() - Row Not Open");
    return false;
  }
  row_open = false;
  table_checksum = (uint16_t)(table_checksum + row_checksum);
  if (!stream) return true;
  char text[16];
  switch (output_format) {
    case OUTPUT_TEXT:
      fputc('\n', stream);
      fflush(stream);
      break;
    case OUTPUT_XML:
      if (has_row_element) xml_close_tag(stream, row_name);
      break;
    case OUTPUT_ORNA:
      xml_close_tag(stream, "InventoryTableRow");
      break;
    case OUTPUT_ZVML:
      snprintf(text, sizeof text, "%4X", (unsigned)row_checksum);
      xml_tag_value(stream, "CHK", text);
      xml_close_tag(stream, "ROW");
      break;
    case OUTPUT_HTML:
      fputs("</TR>\n", stream);
      break;
    default:
      break;
  }
  return true;
}

// ---- Cells ----

bool Table::check_cell_position(const char* shown) {
  if (!row_open) {
    refuse("log_data(%s) - Row not open\n", shown);
    return false;
  }
  if (current_column >= column_count) {
    refuse("log_data(%s) - Column %d is beyond defined columns of %d\n", shown, current_column,
           column_count - 1);
    return false;
  }
  return true;
}

bool Table::check_cell(const char* shown, bool numeric) {
  if (!check_cell_position(shown)) return false;
  datatype t = column_type[current_column];
  if (numeric && !is_numeric(t)) {
    refuse("log_data(%s) - Column %d (%s) is NOT type INTEGER, HEX, FLOAT or BOOL\n", shown, current_column,
           column_name[current_column]);
    return false;
  }
  if (!numeric && !is_text(t)) {
    refuse("log_data(%s) - Column %d (%s) is NOT type STRING or ASCII STRING\n", shown, current_column,
           column_name[current_column]);
    return false;
  }
  return true;
}

bool Table::log_number(const number_text& value) {
  if (!check_cell(value.decimal, true)) return false;
  datatype type = column_type[current_column];
  const char* name = column_name[current_column];
  int width = column_width[current_column];
  const char* boolean = value.nonzero ? "true" : "false";
  char text[40];
  if (type == HEX)
    snprintf(text, sizeof text, output_format == OUTPUT_HTML ? "%sh" : "0x%s", value.hex);
  else
    copy_cut(text, sizeof text, type == BOOL ? boolean : value.decimal);

  if (stream) {
    switch (output_format) {
      case OUTPUT_TEXT:
        if (type == HEX)
          fprintf(stream, " %*sh |", width - 1, value.hex);
        else if (type == BOOL)
          fprintf(stream, " %-*.*s |", width, width, boolean);
        else
          fprintf(stream, " %*s |", width, value.decimal);
        break;
      case OUTPUT_XML:
        xml_tag_value(stream, name, text);
        break;
      case OUTPUT_ORNA: {
        char* orna = make_Teldrin_name(name);
        xml_named_value(stream, "INTEGER", orna, 0, value.decimal);
        delete[] orna;
        break;
      }
      case OUTPUT_ZVML:
        write_zvml_value(type == HEX ? "HEX" : type == BOOL ? "BOOL" : "DEC", text, nullptr);
        break;
      case OUTPUT_HTML:
        write_html_cell(stream, text);
        break;
      default:
        break;
    }
  }
  current_column++;
  return true;
}

void Table::write_zvml_value(const char* element, const char* text, const wchar_t* wide) {
  const char* name = column_name[current_column];
  int width = column_width[current_column];
  // The checksum is taken over the value as written: its UTF-8 form after
  // the conversion has replaced what XML cannot carry, the same for narrow
  // and wide cells, so a receiver can recompute it from the report alone.
  if (!wide && printable_ascii(text)) {
    // Printable ASCII is its own UTF-8 form: written and summed as it is.
    xml_named_value(stream, element, name, width, text);
    row_checksum = (uint16_t)(row_checksum + string_checksum(text));
    return;
  }
  wchar_t* converted = wide ? nullptr : mbcs_to_wide(text);
  const wchar_t* value = wide ? wide : converted;
  wchar_t* wide_name = mbcs_to_wide(name);
  xml_wide_named_value(stream, element, wide_name, width, value);
  delete[] wide_name;
  const char* written = wide_to_utf8(value);
  row_checksum = (uint16_t)(row_checksum + string_checksum(written));
  delete[] written;
  delete[] converted;
}

bool Table::log_data(int value) {
  number_text t;
  snprintf(t.decimal, sizeof t.decimal, "%d", value);
  snprintf(t.hex, sizeof t.hex, "%X", (unsigned)value);
  t.nonzero = value != 0;
  return log_number(t);
}

bool Table::log_data(unsigned int value) { return log_data((unsigned long)value); }

bool Table::log_data(long value) {
  number_text t;
  snprintf(t.decimal, sizeof t.decimal, "%ld", value);
  snprintf(t.hex, sizeof t.hex, "%lX", (unsigned long)value);
  t.nonzero = value != 0;
  return log_number(t);
}

bool Table::log_data(unsigned long value) {
  number_text t;
  snprintf(t.decimal, sizeof t.decimal, "%lu", value);
  snprintf(t.hex, sizeof t.hex, "%lX", value);
  t.nonzero = value != 0;
  return log_number(t);
}

bool Table::log_data(long long value) {
  number_text t;
  snprintf(t.decimal, sizeof t.decimal, "%lld", value);
  snprintf(t.hex, sizeof t.hex, "%llX", (unsigned long long)value);
  t.nonzero = value != 0;
  return log_number(t);
}

bool Table::log_data(unsigned long long value) {
  number_text t;
  snprintf(t.decimal, sizeof t.decimal, "%llu", value);
  snprintf(t.hex, sizeof t.hex, "%llX", value);
  t.nonzero = value != 0;
  return log_number(t);
}

bool Table::log_data(const char* text) { return log_text(text ? text : "", nullptr); }

bool Table::log_wide_data(const wchar_t* text) {
  if (!text) text = L"";
  char* shown = wide_to_mbcs(text);
  bool ok = log_text(shown, text);
  delete[] shown;
  return ok;
}

/// A text cell: `text` is the narrow text (for a wide cell, its multibyte
/// form, used for the messages, the text and the HTML forms); `wide` is the
/// wide text of a wide cell, else null.
bool Table::log_text(const char* text, const wchar_t* wide) {
  if (!check_cell(text ? text : "", false)) return false;
  // Masked values leave the program only masked; undeclared cells are
  // cleaned of address patterns and names met so far.
  std::string masked;
  if (mask_enabled() && text) {
    mask_kind kind = column_kind[current_column];
    masked = kind != MASK_NONE ? mask_value(kind, text) : mask_text(text);
    if (masked != text) {
      text = masked.c_str();
      wide = nullptr;
    }
  }
  char* sanitised = nullptr;
  wchar_t* wide_sanitised = nullptr;
  if (column_type[current_column] == ASCII_STRING) {
    if (wide) {
      wide_sanitised = wide_sanitised_ascii(wide);
      wide = wide_sanitised;
      sanitised = wide_to_mbcs(wide);
    } else {
      sanitised = sanitised_ascii(text);
    }
    text = sanitised;
  }
  if (stream) write_text_cell(text, wide);
  delete[] sanitised;
  delete[] wide_sanitised;
  current_column++;
  return true;
}

void Table::write_text_cell(const char* text, const wchar_t* wide) {
  const char* name = column_name[current_column];
  int width = column_width[current_column];
  bool ascii = column_type[current_column] == ASCII_STRING;
  switch (output_format) {
    case OUTPUT_TEXT:
      write_text_report_cell(stream, text, wide, width);
      break;
    case OUTPUT_XML:
      if (wide)
        xml_wide_tag_value(stream, name, wide);
      else
        xml_tag_value(stream, name, text);
      break;
    case OUTPUT_ORNA: {
      char* orna = make_Teldrin_name(name);
      if (wide) {
        wchar_t* cut = wide_cut(wide, width);
        wchar_t* wide_orna = mbcs_to_wide(orna);
        xml_wide_named_value(stream, "CHAR", wide_orna, 0, cut);
        delete[] wide_orna;
        delete[] cut;
      } else {
        size_t n = strlen(text);
        if (n > (size_t)width) n = (size_t)width;
        char* cut = new char[n + 1];
        memcpy(cut, text, n);
        cut[n] = 0;
        xml_named_value(stream, "CHAR", orna, 0, cut);
        delete[] cut;
      }
      delete[] orna;
      break;
    }
    case OUTPUT_ZVML:
      write_zvml_value(ascii ? "ASC" : "STR", text, wide);
      break;
    case OUTPUT_HTML:
      write_html_cell(stream, text);
      break;
    default:
      break;
  }
}

/// Date cells. A valid value in the checksummed form is a typed element and
/// fits any column; otherwise its text goes through the text cell writer.
template <class D>
bool Table::log_date(const D& value, const char* element, bool datetime) {
  bool valid = value.is_valid();
  const char* text = valid ? value.format() : value.altstring();
  if (datetime) printd("table: got a datetime: %s\n", text);
  if (valid && output_format == OUTPUT_ZVML) {
    if (!check_cell_position(text)) return false;
    if (datetime) printd("%s is valid\n", text);
    if (stream) write_zvml_value(element, text, nullptr);
    current_column++;
    return true;
  }
  if (!valid) printd(datetime ? "table: invalid datetime \"%s\"\n" : "table: invalid date \"%s\"\n", text);
  return log_data(text);
}

bool Table::log_data(const gathered_date& value) { return log_date(value, "DATE", false); }
bool Table::log_data(const gathered_time& value) { return log_date(value, "TIME", false); }
bool Table::log_data(const gathered_datetime& value) { return log_date(value, "DATETIME", true); }

void write_incomplete_note(FILE* report, const char* table_title, const char* reason) {
  static const Column columns[] = {{"Table", STRING, 64}, {"Reason", STRING, 128}};
  Table table(report, "Incomplete Data");
  table.heading(columns);
  table.write_row(table_title ? table_title : "", table_title ? table_title : "", reason ? reason : "");
}
