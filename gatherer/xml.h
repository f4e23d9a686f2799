// xml.h - the XML markup writer, report sections and embedded file records.
//
// Elements are written as UTF-8 with CR LF line ends whatever the locale's
// encoding is. Four process-wide switches, set by Table::set_output_format,
// shape tag names and the identifying attribute. Sections frame the tables of
// one probe and carry the section checksum of the checksummed form.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cwchar>

// Switches. At program start: prefix on, attribute "ID", upper case on,
// lower case off.
void xml_set_tag_prefix(bool on);
/// The identifying attribute's name; null means none. The text is not copied.
void xml_set_attribute_id(const char* name);
void xml_set_tag_uppercase(bool on);
void xml_set_tag_lowercase(bool on);
bool xml_get_tag_prefix();
const char* xml_get_attribute_id();
bool xml_get_tag_uppercase();
bool xml_get_tag_lowercase();

/// Root and version element names of the report frame.
extern const char* data_tag;     // "GATHERED_DATA"
extern const char* version_tag;  // "GATHERER_VERSION"

/// Sum of the table checksums (and embedded file checksums) of the open section.
extern uint32_t section_checksum;
/// Sum of the closed sections' checksums and of imported reports.
extern uint32_t output_checksum;

/// A tag name made from any text (new array, caller frees with delete[];
/// empty text for null).
wchar_t* wide_make_xml_tag(const wchar_t* text);
/// The text with XML's five special characters escaped (new array, caller
/// frees with delete[]; empty text for null).
wchar_t* wide_make_xml_value(const wchar_t* text);

/// Writes the XML declaration line.
int xml_file_heading(FILE* stream);
/// Start tag; with a value and an attribute name set, the value goes into the
/// identifying attribute. Narrow texts are in the locale's encoding.
int xml_open_tag(FILE* stream, const char* name, const char* value);
int xml_open_wide_tag(FILE* stream, const char* name, const wchar_t* value);
int xml_close_tag(FILE* stream, const char* name);
int xml_close_wide_tag(FILE* stream, const char* name);
/// Element with text content.
int xml_tag_value(FILE* stream, const char* name, const char* value);
int xml_wide_tag_value(FILE* stream, const char* name, const wchar_t* value);
/// Element with the identifying attribute, a width attribute when width is
/// not 0, and text content. Null id and value are written as empty text.
int xml_named_value(FILE* stream, const char* name, const char* id, int width, const char* value);
int xml_wide_named_value(FILE* stream, const char* name, const wchar_t* id, int width,
                         const wchar_t* value);

/// Writes locale text into an HTML report with "&", "<" and ">" escaped (and
/// the double quote inside an attribute value), so a text shows as it is.
void html_write_text(FILE* stream, const char* text, bool attribute);

/// Opens a section in the current output format and clears section_checksum.
void start_section(FILE* stream, const char* name);
/// Whether an HTML section anchor of that name has been written in this run
/// (the report's table of contents must not point nowhere).
bool html_anchor_written(const char* name);
/// Forgets the anchors written (a new HTML report begins).
void html_forget_anchors();
/// Closes the section opened last and adds its checksum to output_checksum.
void end_section(FILE* stream);

/// The most bytes of one file embedded in the report (16 MiB).
const unsigned EMBED_LIMIT = 16u << 20;
/// Embeds a text file in the report in the current output format: the file
/// `path` (opened and closed here) or, when `source` is given, that open
/// stream (not closed here); `path` is the name shown. At most `limit` bytes
/// of the file are embedded (EMBED_LIMIT when 0 or more); a file cut there
/// ends with the line "---> FILE CUT AT <limit> BYTES <---" in its record. In the XML forms the file's
/// checksum is added to section_checksum. False for a null report or path, in
/// the ORNA form, and for an unreadable file in the text and HTML forms.
bool log_file(FILE* report, const char* path, FILE* source = nullptr, unsigned limit = 0);
/// The XML record of a file; returns the file's checksum (0 when unreadable).
unsigned xml_log_file(FILE* report, const char* path, FILE* source = nullptr, unsigned limit = 0);
/// Imports a checksummed report written by another run into the current
/// checksummed report and adds the import checksum to output_checksum.
/// False when the report is null, the format is not the checksummed form, or
/// the file is unreadable or not such a report.
bool log_zvml_file(FILE* report, const char* path);
/// Why the last import was refused when its file is not well-formed XML (the
/// parser's message, for the import task's console status); "" otherwise.
const char* xml_import_refusal();
/// The import itself; returns the import checksum (42 for an accepted file
/// with nothing after its declaration), 0 for a rejected or unreadable file.
unsigned xml_log_zvml_file(FILE* report, const char* path);
