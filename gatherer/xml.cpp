// xml.cpp - the XML markup writer, report sections and embedded file records.
//
// Whatever arrives here (titles, paths, file contents, another run's report)
// leaves as UTF-8 that an XML 1.0 parser accepts: characters XML forbids are
// replaced on the way out, never passed through.
#include "xml.h"

#include <expat.h>

#include <cerrno>
#include <clocale>
#include <cwchar>
#include <set>
#include <string>
#include <cstring>
#include <string>

#include "getarg.h"
#include "progress.h"
#include "debug.h"
#include "mask.h"
#include "run_command.h"
#include "safe_file.h"
#include "table.h"
#include "utf8.h"

namespace {

bool xml_tag_prefix = true;
const char* attribute_id = "ID";
bool force_tag_to_uppercase = true;
bool force_tag_to_lowercase = false;
/// Element name of the open section (plain XML form only).
char* section_name = nullptr;

const uint32_t REPLACEMENT = 0xFFFD;
const size_t FILE_BLOCK = 1024;

/// A character that XML 1.0 cannot carry in any form becomes U+FFFD:
/// surrogates, U+FFFE, U+FFFF and anything beyond Unicode.
uint32_t xml_clean_char(uint32_t c) {
  if ((c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE || c == 0xFFFF || c > 0x10FFFF) return REPLACEMENT;
  return c;
}

bool is_forbidden_control(uint32_t c) { return c < 0x20 && c != '\t' && c != '\n' && c != '\r'; }

/// Wide text to UTF-8 for the report (new array, caller frees with delete[]).
/// The conversion writes forbidden controls as "?" and every character XML
/// cannot carry (surrogates, U+FFFE, U+FFFF) as U+FFFD.
char* xml_utf8(const wchar_t* text) {
  const char* out = wide_to_utf8(text ? text : L"");
  return const_cast<char*>(out);
}

/// Locale text to wide text; null stays null (caller frees with delete[]).
wchar_t* to_wide(const char* text) { return text ? mbcs_to_wide(text) : nullptr; }

/// The tag name of a narrow element name, as UTF-8 (caller frees with delete[]).
/// True when every character of the text is printable ASCII.
bool plain_ascii(const char* s) {
  for (; *s; s++)
    if (static_cast<unsigned char>(*s) < 0x20 || static_cast<unsigned char>(*s) > 0x7E) return false;
  return true;
}

/// True when printable ASCII reads as the same characters in the current
/// locale: such text then goes into the report without any conversion (its
/// multibyte, wide and UTF-8 forms are the same bytes). Checked again
/// whenever the locale changes.
bool locale_keeps_ascii() {
  static std::string checked;
  static bool keeps = false;
  const char* name = setlocale(LC_CTYPE, nullptr);
  if (!name) name = "";
  if (!checked.empty() && checked == name) return keeps;
  checked = name;
  keeps = true;
  for (int c = 0x20; c < 0x7F && keeps; c++) {
    char b = static_cast<char>(c);
    wchar_t w = 0;
    mbstate_t state;
    memset(&state, 0, sizeof state);
    keeps = mbrtowc(&w, &b, 1, &state) == 1 && w == static_cast<wchar_t>(c);
  }
  return keeps;
}

char* tag_utf8(const char* name) {
  wchar_t* wide = to_wide(name);
  wchar_t* tag = wide_make_xml_tag(wide);
  char* out = xml_utf8(tag);
  delete[] tag;
  delete[] wide;
  return out;
}

/// An escaped value as UTF-8 (caller frees with delete[]).
char* value_utf8(const wchar_t* value) {
  wchar_t* escaped = wide_make_xml_value(value);
  char* out = xml_utf8(escaped);
  delete[] escaped;
  return out;
}

/// Escaped locale text as UTF-8 (caller frees with delete[]); null is empty.
char* narrow_value_utf8(const char* value) {
  wchar_t* wide = to_wide(value ? value : "");
  char* out = value_utf8(wide);
  delete[] wide;
  return out;
}

/// The element name of an ASCII name into out, by the rules of
/// wide_make_xml_tag; false when the name is not plain ASCII or too long.
bool ascii_tag(const char* name, char* out, size_t size) {
  if (!name || !plain_ascii(name)) return false;
  size_t n = strlen(name);
  bool needs_start = !xml_tag_prefix && (n == 0 || (name[0] >= '0' && name[0] <= '9') ||
                                          name[0] == '.' || name[0] == '-');
  size_t lead = xml_tag_prefix ? 3 : (needs_start ? 1 : 0);
  if (lead + n + 1 > size) return false;
  if (xml_tag_prefix) memcpy(out, "ZV_", 3);
  if (needs_start) out[0] = '_';
  for (size_t i = 0; i < n; i++) {
    char c = name[i];
    if (c >= 'a' && c <= 'z')
      c = force_tag_to_uppercase ? static_cast<char>(c - 32) : c;
    else if (c >= 'A' && c <= 'Z')
      c = force_tag_to_lowercase ? static_cast<char>(c + 32) : c;
    else if (!((c >= '0' && c <= '9') || c == '.' || c == '-'))
      c = '_';
    out[lead + i] = c;
  }
  out[lead + n] = '\0';
  return true;
}

/// Writes plain ASCII text with XML's five special characters escaped.
void append_escaped(std::string& out, const char* s) {
  while (*s) {
    size_t n = strcspn(s, "&<>\"'");
    out.append(s, n);
    s += n;
    switch (*s) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: return;
    }
    s++;
  }
}

/// The common case of the element writers: a name, an optional identifying
/// value and width, and a text, all plain ASCII in a locale that keeps ASCII
/// as it is, written straight to the stream. False (nothing written) when
/// the texts need the general conversion. `close` adds the text and the end
/// tag; without it only the start tag is written.
bool write_ascii_element(FILE* stream, const char* name, const char* id, int width,
                         const char* value, bool close, int* result) {
  char tag[128];
  if (!ascii_tag(name, tag, sizeof tag) || (id && !plain_ascii(id)) ||
      (value && !plain_ascii(value)) || !locale_keeps_ascii())
    return false;
  // The element is put together first and written with one call: the
  // file scan writes hundreds of thousands of them.
  static std::string e;  // kept between calls: no allocation per element
  e.clear();
  e += '<';
  e += tag;
  if (id && attribute_id) {
    e += ' ';
    e += attribute_id;
    e += "=\"";
    append_escaped(e, id);
    e += '"';
    if (width != 0) {
      e += " W=\"";
      e += std::to_string(width);
      e += '"';
    }
  }
  e += '>';
  if (close) {
    if (value) append_escaped(e, value);
    e += "</";
    e += tag;
    e += '>';
  }
  e += "\r\n";
  fwrite(e.data(), 1, e.size(), stream);
  *result = ferror(stream) ? -1 : 1;
  return true;
}

/// Writes narrow locale text with the characters HTML gives meaning escaped.
void write_html_text(FILE* out, const char* text, size_t length, bool attribute) {
  for (size_t i = 0; i < length; i++) {
    char c = text[i];
    if (c == '&')
      fputs("&amp;", out);
    else if (c == '<')
      fputs("&lt;", out);
    else if (c == '>')
      fputs("&gt;", out);
    else if (c == '"' && attribute)
      fputs("&quot;", out);
    else
      fputc(c, out);
  }
}

// ---- Character streams of embedded files and imports ----

/// Receives decoded characters.
class char_sink {
 public:
  virtual ~char_sink() {}
  virtual void put(uint32_t c) = 0;
};

/// Writes characters into the report as UTF-8 that XML accepts. In a
/// character-data block a "]]>" of the file is split across two blocks so the
/// file cannot end the block early. The checksum is taken over what is
/// written: the characters after cleaning (embedded files) or the bytes of
/// their UTF-8 form (imports), never over what was read.
class xml_text_writer : public char_sink {
 public:
  enum sum_kind { SUM_CHARS, SUM_BYTES };
  xml_text_writer(FILE* out, bool cdata, sum_kind kind) : out(out), cdata(cdata), kind(kind) {}
  ~xml_text_writer() override { flush(); }

  void put(uint32_t c) override {
    c = xml_clean_char(c);
    if (is_forbidden_control(c)) c = '?';
    if (kind == SUM_CHARS) sum += c;
    if (cdata) {
      if (c == '>' && brackets >= 2) write_bytes("]]><![CDATA[", 12);
      brackets = c == ']' ? brackets + 1 : 0;
    }
    encode(c);
  }
  void flush() {
    if (used) fwrite(buffer, 1, used, out);
    used = 0;
  }

  uint32_t sum = 0;

 private:
  void write_bytes(const char* bytes, size_t n) {
    if (used + n > sizeof buffer) flush();
    memcpy(buffer + used, bytes, n);
    used += n;
  }
  void write_char_bytes(const char* bytes, size_t n) {
    if (kind == SUM_BYTES)
      for (size_t i = 0; i < n; i++) sum += (unsigned char)bytes[i];
    write_bytes(bytes, n);
  }
  void encode(uint32_t c) {
    char b[4];
    size_t n;
    if (c < 0x80) {
      b[0] = (char)c;
      n = 1;
    } else if (c < 0x800) {
      b[0] = (char)(0xC0 | (c >> 6));
      b[1] = (char)(0x80 | (c & 0x3F));
      n = 2;
    } else if (c < 0x10000) {
      b[0] = (char)(0xE0 | (c >> 12));
      b[1] = (char)(0x80 | ((c >> 6) & 0x3F));
      b[2] = (char)(0x80 | (c & 0x3F));
      n = 3;
    } else {
      b[0] = (char)(0xF0 | (c >> 18));
      b[1] = (char)(0x80 | ((c >> 12) & 0x3F));
      b[2] = (char)(0x80 | ((c >> 6) & 0x3F));
      b[3] = (char)(0x80 | (c & 0x3F));
      n = 4;
    }
    write_char_bytes(b, n);
  }

  FILE* out;
  bool cdata;
  sum_kind kind;
  int brackets = 0;
  char buffer[4096];
  size_t used = 0;
};

/// UTF-16 bytes to characters. Surrogate pairs are combined, also when a
/// pair or a unit is split between two reads; lone surrogates and an odd
/// last byte become U+FFFD.
class utf16_decoder {
 public:
  explicit utf16_decoder(bool big_endian) : big_endian(big_endian) {}

  void feed(const unsigned char* p, size_t n, char_sink& out) {
    for (size_t i = 0; i < n; i++) {
      if (odd < 0) {
        odd = p[i];
        continue;
      }
      unsigned first = (unsigned)odd, second = p[i];
      odd = -1;
      unit(big_endian ? (first << 8 | second) : (second << 8 | first), out);
    }
  }
  void finish(char_sink& out) {
    if (high) out.put(REPLACEMENT);
    if (odd >= 0) out.put(REPLACEMENT);
    high = 0;
    odd = -1;
  }

 private:
  void unit(uint32_t u, char_sink& out) {
    if (high) {
      if (u >= 0xDC00 && u <= 0xDFFF) {
        out.put(0x10000 + ((high - 0xD800) << 10) + (u - 0xDC00));
        high = 0;
        return;
      }
      out.put(REPLACEMENT);
      high = 0;
    }
    if (u >= 0xD800 && u <= 0xDBFF)
      high = u;
    else
      out.put(u);  // a lone low surrogate is cleaned to U+FFFD by the writer
  }

  bool big_endian;
  int odd = -1;
  uint32_t high = 0;
};

/// Locale multibyte bytes to characters. The conversion state is carried from
/// one read to the next, so a character split between two reads is written
/// whole. A zero byte is a character like any other.
class mb_decoder {
 public:
  void feed(const char* p, size_t n, char_sink& out) {
    while (n > 0) {
      wchar_t wc = 0;
      size_t r = mbrtowc(&wc, p, n, &state);
      if (r == (size_t)-2) {  // the read ends inside a character
        split = true;
        return;
      }
      if (r == (size_t)-1) {
        report_invalid();
        memset(&state, 0, sizeof state);
        out.put(REPLACEMENT);
        if (split) {  // the split character was broken; retry this byte afresh
          split = false;
          continue;
        }
        p++;
        n--;
        continue;
      }
      if (r == 0) r = 1;  // a zero byte
      out.put((uint32_t)wc);
      split = false;
      p += r;
      n -= r;
    }
  }
  void finish(char_sink& out) {
    if (split) out.put(REPLACEMENT);
    split = false;
    memset(&state, 0, sizeof state);
  }

 private:
  void report_invalid() {
    if (!reported) print_error("mbcs: mbrtowc", errno);
    reported = true;
  }

  mbstate_t state = mbstate_t();
  bool split = false;
  bool reported = false;
};

/// Strict UTF-8 bytes to characters: every byte that does not belong to a
/// well-formed character gives U+FFFD.
class utf8_decoder {
 public:
  void feed(const unsigned char* p, size_t n, char_sink& out) {
    for (size_t i = 0; i < n; i++) byte(p[i], out);
  }
  void finish(char_sink& out) {
    if (need) out.put(REPLACEMENT);
    need = 0;
  }

 private:
  void byte(unsigned char b, char_sink& out) {
    if (need) {
      if ((b & 0xC0) == 0x80) {
        code = code << 6 | (b & 0x3F);
        if (--need == 0) out.put(code < minimum ? REPLACEMENT : code);
        return;
      }
      need = 0;
      out.put(REPLACEMENT);
    }
    if (b < 0x80) {
      out.put(b);
    } else if (b >= 0xC2 && b <= 0xDF) {
      start(b & 0x1F, 1, 0x80);
    } else if (b >= 0xE0 && b <= 0xEF) {
      start(b & 0x0F, 2, 0x800);
    } else if (b >= 0xF0 && b <= 0xF4) {
      start(b & 0x07, 3, 0x10000);
    } else {
      out.put(REPLACEMENT);
    }
  }
  void start(uint32_t bits, int more, uint32_t min) {
    code = bits;
    need = more;
    minimum = min;
  }

  uint32_t code = 0;
  uint32_t minimum = 0;
  int need = 0;
};

/// How many bytes the next read may take under a limit (0: no limit).
/// True when `file` has more to read after a copy stopped at its limit
/// (reads one byte of it).
bool more_after_limit(FILE* file, unsigned limit, unsigned long long done) {
  return limit && done >= limit && fgetc(file) != EOF;
}

/// The note closing an embedded file that was cut at its bound.
std::string cut_note(unsigned limit) {
  return "\n---> FILE CUT AT " + std::to_string(limit) + " BYTES <---\n";
}

size_t read_size(unsigned limit, unsigned long long done) {
  if (!limit) return FILE_BLOCK;
  if (done >= limit) return 0;
  unsigned long long left = limit - done;
  return left < FILE_BLOCK ? (size_t)left : FILE_BLOCK;
}

/// Copies a file into an open character-data block; returns its checksum.
uint32_t copy_file_as_cdata(FILE* report, FILE* file, unsigned limit) {
  xml_text_writer writer(report, true, xml_text_writer::SUM_CHARS);
  utf16_decoder* utf16 = nullptr;
  mb_decoder mb;
  utf8_decoder utf8;
  bool ascii = codeset_is_ascii();  // then the file is read as UTF-8
  unsigned char block[FILE_BLOCK];
  unsigned long long done = 0;
  bool first = true;
  size_t want;
  while ((want = read_size(limit, done)) > 0) {
    size_t n = fread(block, 1, want, file);
    if (n == 0) break;
    console_progress((unsigned long)((done + n) >> 10), "KiB");
    if (first && n >= 2 && ((block[0] == 0xFF && block[1] == 0xFE) || (block[0] == 0xFE && block[1] == 0xFF)))
      utf16 = new utf16_decoder(block[0] == 0xFE);
    first = false;
    done += n;
    if (utf16)
      utf16->feed(block, n, writer);
    else if (ascii)
      utf8.feed(block, n, writer);
    else
      mb.feed((const char*)block, n, writer);
  }
  if (utf16) {
    utf16->finish(writer);
    delete utf16;
  } else if (ascii) {
    utf8.finish(writer);
  } else {
    mb.finish(writer);
  }
  if (more_after_limit(file, limit, done))
    for (char c : cut_note(limit)) writer.put(static_cast<unsigned char>(c));
  writer.flush();
  return writer.sum;
}

/// Copies a file's bytes as they are (text form) or escaped (HTML form).
void copy_file_bytes(FILE* report, FILE* file, unsigned limit, bool html) {
  char block[FILE_BLOCK];
  unsigned long long done = 0;
  size_t want;
  while ((want = read_size(limit, done)) > 0) {
    size_t n = fread(block, 1, want, file);
    if (n == 0) break;
    done += n;
    console_progress((unsigned long)(done >> 10), "KiB");
    if (html)
      write_html_text(report, block, n, false);
    else
      fwrite(block, 1, n, report);
  }
  if (more_after_limit(file, limit, done)) fputs(cut_note(limit).c_str(), report);
}

bool log_file_as_text(FILE* report, const char* path, FILE* source, unsigned limit, bool html) {
  FILE* file = source ? source : open_regular_file(path, "rb");
  if (!file) {
    print_error(path, errno);
    return false;
  }
  if (html) {
    fputs("<H3>", report);
    html_write_text(report, path, false);
    fputs("</H3>\n<PRE>\n", report);
  }
  fputs("\n---> FILE: ", report);
  if (html) {
    html_write_text(report, path, false);
  } else {
    wchar_t* shown = displayable_wide(path);
    char* text = wide_to_mbcs(shown);
    fputs(text, report);
    delete[] text;
    delete[] shown;
  }
  fputs(" <---\n", report);
  copy_file_bytes(report, file, limit, html);
  fputs("---> END OF FILE <---\n", report);
  fflush(report);
  if (!source) fclose(file);
  if (html) fputs("</PRE>\n", report);
  return true;
}

// ---- Import of another run's checksummed report ----

/// Why the last import was refused, for the import task's console status.
char import_refusal[256];

struct well_formed_check {
  XML_Parser parser;
  bool doctype;
};

void XMLCALL refuse_doctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  well_formed_check* check = static_cast<well_formed_check*>(data);
  check->doctype = true;
  XML_StopParser(check->parser, XML_FALSE);
}

/// Parses the whole file: an import is copied into the report only when it is
/// well-formed XML, so nothing in it (a stray "]]>", an end tag of the
/// report, an unclosed comment, a second declaration) can break the report.
/// A document type declaration is refused too: its entities would not
/// survive the copy. On refusal `message` gets the parser's words.
bool is_well_formed(FILE* file, char* message, size_t size) {
  long start = ftell(file);
  if (start < 0 || fseek(file, 0, SEEK_SET) != 0) {
    snprintf(message, size, "%s", strerror(errno));
    return false;
  }
  well_formed_check check = {XML_ParserCreate(nullptr), false};
  if (!check.parser) {
    snprintf(message, size, "out of memory");
    return false;
  }
  XML_SetUserData(check.parser, &check);
  XML_SetStartDoctypeDeclHandler(check.parser, refuse_doctype);
  bool ok = true;
  static char block[4096];
  for (;;) {
    size_t n = fread(block, 1, sizeof block, file);
    bool last = n < sizeof block;
    if (last && ferror(file)) {
      snprintf(message, size, "%s", strerror(errno));
      ok = false;
      break;
    }
    if (XML_Parse(check.parser, block, (int)n, last) != XML_STATUS_OK) {
      if (check.doctype)
        snprintf(message, size, "a document type declaration at line %lu",
                 (unsigned long)XML_GetCurrentLineNumber(check.parser));
      else
        snprintf(message, size, "%s at line %lu", XML_ErrorString(XML_GetErrorCode(check.parser)),
                 (unsigned long)XML_GetCurrentLineNumber(check.parser));
      ok = false;
      break;
    }
    if (last) break;
  }
  XML_ParserFree(check.parser);
  clearerr(file);
  if (fseek(file, start, SEEK_SET) != 0 && ok) {
    snprintf(message, size, "%s", strerror(errno));
    ok = false;
  }
  return ok;
}

/// Refuses the import of `path` unless the file is well-formed; the reason
/// goes to the debug log and is kept for the console.
bool check_import(FILE* file, const char* path) {
  char message[200];
  if (is_well_formed(file, message, sizeof message)) return true;
  printd("xml: %s is not well-formed XML: %s\n", path, message);
  snprintf(import_refusal, sizeof import_refusal, "Not well-formed: %s", message);
  return false;
}

const char* const XML_DECLARATION_PATTERN = "<?xml version=\"%16[^\"]\" encoding=\"%16[^\"]\"";
const size_t LINE_BUFFER = 1024;

/// Where the content after the declaration begins in the first line, or -1
/// when the line is no acceptable declaration. The declaration and the line
/// end right after it are skipped; anything else on the line is content.
long declaration_end(const char* line, size_t length, const char* wanted_encoding) {
  char version[17] = "", encoding[17] = "";
  printd("xml: is this a processing instruction? [%s]\n", line);
  int m = sscanf(line, XML_DECLARATION_PATTERN, version, encoding);
  if (m != 2 || strcmp(version, "1.0") != 0 || strcmp(encoding, wanted_encoding) != 0) {
    printd("xml: this is not a valid zvml file. m = %d, xmlver = [%s], xmlenc = [%s]\n", m < 0 ? 0 : m,
           version, encoding);
    // The console says which part of the declaration was refused.
    if (m != 2)
      snprintf(import_refusal, sizeof import_refusal,
               "Not imported: line 1 is no <?xml version=\"1.0\" encoding=\"%s\"?>", wanted_encoding);
    else if (strcmp(version, "1.0") != 0)
      snprintf(import_refusal, sizeof import_refusal, "Not imported: XML version %.16s, 1.0 expected",
               console_text(version).c_str());
    else
      snprintf(import_refusal, sizeof import_refusal, "Not imported: encoding %.16s, %s expected",
               console_text(encoding).c_str(), wanted_encoding);
    return -1;
  }
  const char* end = strstr(line, "?>");
  if (!end) {
    printd("xml: the XML declaration does not end on its first line\n");
    snprintf(import_refusal, sizeof import_refusal, "Not imported: the XML declaration does not end on line 1");
    return -1;
  }
  size_t pos = (size_t)(end - line) + 2;
  if (pos < length && line[pos] == '\r') pos++;
  if (pos < length && line[pos] == '\n') pos++;
  return (long)pos;
}

/// Writes the opening comment; "--" may not appear inside a comment.
void write_import_comment(FILE* report, const char* path) {
  wchar_t* wide = to_wide(path);
  wchar_t* escaped = wide_make_xml_value(wide);
  size_t n = wcslen(escaped);
  wchar_t* safe = new wchar_t[2 * n + 1];
  size_t k = 0;
  for (size_t i = 0; i < n; i++) {
    if (escaped[i] == L'-' && k > 0 && safe[k - 1] == L'-') safe[k++] = L' ';
    safe[k++] = escaped[i];
  }
  safe[k] = 0;
  char* text = xml_utf8(safe);
  fprintf(report, "<!-- import %s -->\r\n", text);
  delete[] text;
  delete[] safe;
  delete[] escaped;
  delete[] wide;
}

/// A byte's hex dump under the debug log's conventions.
void dump_first_line(const void* data, size_t length) {
  print_hexdump("XMLPI", data, (int)length, "xml:");
}

/// Imports a UTF-8 report whose first bytes (up to three) are already read.
/// The checksum is the sum of the file's bytes after its declaration.
bool import_utf8(FILE* report, FILE* file, const char* path, const unsigned char* kept, size_t kept_count,
                 uint32_t& sum) {
  static char line[LINE_BUFFER];
  memcpy(line, kept, kept_count);
  size_t length = kept_count + fread(line + kept_count, 1, LINE_BUFFER - 1 - kept_count, file);
  line[length] = 0;
  const char* newline = (const char*)memchr(line, '\n', length);
  size_t first_line = newline ? (size_t)(newline - line) + 1 : length;
  dump_first_line(line, first_line);
  char saved = line[first_line];
  line[first_line] = 0;
  long start = declaration_end(line, first_line, "UTF-8");
  line[first_line] = saved;
  if (start < 0 || !check_import(file, path)) return false;

  write_import_comment(report, path);
  xml_text_writer writer(report, false, xml_text_writer::SUM_BYTES);
  utf8_decoder decoder;
  const unsigned char* rest = (const unsigned char*)line + start;
  size_t rest_length = length - (size_t)start;
  for (;;) {
    decoder.feed(rest, rest_length, writer);
    rest_length = fread(line, 1, LINE_BUFFER, file);
    if (rest_length == 0) break;
    rest = (const unsigned char*)line;
  }
  decoder.finish(writer);
  writer.flush();
  sum = writer.sum;
  return true;
}

/// Collects decoded characters of a UTF-16 report's first line.
class wide_line : public char_sink {
 public:
  void put(uint32_t c) override {
    if (length < LINE_BUFFER) text[length++] = c;
  }
  uint32_t text[LINE_BUFFER];
  size_t length = 0;
};

/// Imports a UTF-16 little-endian report whose byte-order mark is read.
/// The checksum is the sum of the bytes written for the characters after its
/// declaration, as for a UTF-8 report.
bool import_utf16(FILE* report, FILE* file, const char* path, uint32_t& sum) {
  static unsigned char raw[2 * LINE_BUFFER];
  utf16_decoder decoder(false);
  wide_line head;
  size_t n = fread(raw, 1, 2 * (LINE_BUFFER - 1), file);
  decoder.feed(raw, n, head);
  size_t first_line = head.length;
  for (size_t i = 0; i < head.length; i++)
    if (head.text[i] == '\n') {
      first_line = i + 1;
      break;
    }
  static char line[LINE_BUFFER];
  for (size_t i = 0; i < first_line; i++) line[i] = head.text[i] && head.text[i] < 0x80 ? (char)head.text[i] : '?';
  line[first_line] = 0;
  dump_first_line(line, first_line);
  long start = declaration_end(line, first_line, "UTF-16");
  if (start < 0 || !check_import(file, path)) return false;

  write_import_comment(report, path);
  xml_text_writer writer(report, false, xml_text_writer::SUM_BYTES);
  for (size_t i = (size_t)start; i < head.length; i++) writer.put(head.text[i]);
  while ((n = fread(raw, 1, sizeof raw, file)) > 0) decoder.feed(raw, n, writer);
  decoder.finish(writer);
  writer.flush();
  sum = writer.sum;
  return true;
}

}  // namespace

// ---- Switches ----

void xml_set_tag_prefix(bool on) { xml_tag_prefix = on; }
void xml_set_attribute_id(const char* name) { attribute_id = name; }
void xml_set_tag_uppercase(bool on) { force_tag_to_uppercase = on; }
void xml_set_tag_lowercase(bool on) { force_tag_to_lowercase = on; }
bool xml_get_tag_prefix() { return xml_tag_prefix; }
const char* xml_get_attribute_id() { return attribute_id; }
bool xml_get_tag_uppercase() { return force_tag_to_uppercase; }
bool xml_get_tag_lowercase() { return force_tag_to_lowercase; }

const char* data_tag = "GATHERED_DATA";
const char* version_tag = "GATHERER_VERSION";
uint32_t section_checksum = 0;
uint32_t output_checksum = 0;

// ---- Builders ----

wchar_t* wide_make_xml_tag(const wchar_t* text) {
  size_t n = text ? wcslen(text) : 0;
  // Without the prefix an empty name or one starting with a digit, "." or "-"
  // would not be an XML name; such a name gets a leading "_".
  bool needs_start = !xml_tag_prefix && (n == 0 || (text[0] >= L'0' && text[0] <= L'9') ||
                                          text[0] == L'.' || text[0] == L'-');
  size_t lead = xml_tag_prefix ? 3 : (needs_start ? 1 : 0);
  wchar_t* out = new wchar_t[lead + n + 1];
  if (xml_tag_prefix) wcscpy(out, L"ZV_");
  if (needs_start) out[0] = L'_';
  for (size_t i = 0; i < n; i++) {
    wchar_t c = text[i];
    if (c >= L'a' && c <= L'z')
      c = force_tag_to_uppercase ? (wchar_t)(c - 32) : c;
    else if (c >= L'A' && c <= L'Z')
      c = force_tag_to_lowercase ? (wchar_t)(c + 32) : c;
    else if (!((c >= L'0' && c <= L'9') || c == L'.' || c == L'-'))
      c = L'_';
    out[lead + i] = c;
  }
  out[lead + n] = 0;
  return out;
}

wchar_t* wide_make_xml_value(const wchar_t* text) {
  if (!text) text = L"";
  size_t size = 1;
  for (const wchar_t* p = text; *p; p++) {
    switch (*p) {
      case L'&': size += 5; break;
      case L'<':
      case L'>': size += 4; break;
      case L'"':
      case L'\'': size += 6; break;
      default: size += 1;
    }
  }
  wchar_t* out = new wchar_t[size];
  wchar_t* q = out;
  for (const wchar_t* p = text; *p; p++) {
    const wchar_t* escape = nullptr;
    switch (*p) {
      case L'&': escape = L"&amp;"; break;
      case L'<': escape = L"&lt;"; break;
      case L'>': escape = L"&gt;"; break;
      case L'"': escape = L"&quot;"; break;
      case L'\'': escape = L"&apos;"; break;
      default: *q++ = *p;
    }
    if (escape) {
      wcscpy(q, escape);
      q += wcslen(escape);
    }
  }
  *q = 0;
  return out;
}

// ---- Writers ----

int xml_file_heading(FILE* stream) {
  return fputs("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n", stream);
}

int xml_open_wide_tag(FILE* stream, const char* name, const wchar_t* value) {
  char* tag = tag_utf8(name);
  int r;
  if (value && attribute_id) {
    char* v = value_utf8(value);
    r = fprintf(stream, "<%s %s=\"%s\">\r\n", tag, attribute_id, v);
    delete[] v;
  } else {
    r = fprintf(stream, "<%s>\r\n", tag);
  }
  delete[] tag;
  return r;
}

int xml_open_tag(FILE* stream, const char* name, const char* value) {
  if (!(value && attribute_id)) return xml_open_wide_tag(stream, name, nullptr);
  int fast;
  if (write_ascii_element(stream, name, value, 0, nullptr, false, &fast)) return fast;
  char* tag = tag_utf8(name);
  char* v = narrow_value_utf8(value);
  int r = fprintf(stream, "<%s %s=\"%s\">\r\n", tag, attribute_id, v);
  delete[] v;
  delete[] tag;
  return r;
}

int xml_close_wide_tag(FILE* stream, const char* name) {
  char* tag = tag_utf8(name);
  int r = fprintf(stream, "</%s>\r\n", tag);
  delete[] tag;
  return r;
}

int xml_close_tag(FILE* stream, const char* name) { return xml_close_wide_tag(stream, name); }

int xml_wide_tag_value(FILE* stream, const char* name, const wchar_t* value) {
  char* tag = tag_utf8(name);
  char* v = value_utf8(value);
  int r = fprintf(stream, "<%s>%s</%s>\r\n", tag, v, tag);
  delete[] v;
  delete[] tag;
  return r;
}

int xml_tag_value(FILE* stream, const char* name, const char* value) {
  int fast;
  if (write_ascii_element(stream, name, nullptr, 0, value ? value : "", true, &fast)) return fast;
  char* tag = tag_utf8(name);
  char* v = narrow_value_utf8(value);
  int r = fprintf(stream, "<%s>%s</%s>\r\n", tag, v, tag);
  delete[] v;
  delete[] tag;
  return r;
}

namespace {

/// Writes one element line from converted texts: the id attribute (and its
/// width) only when `id` is given, that is when rows carry an id attribute.
int write_element(FILE* stream, const char* tag, const char* id, int width, const char* value) {
  if (!id) return fprintf(stream, "<%s>%s</%s>\r\n", tag, value, tag);
  if (width != 0)
    return fprintf(stream, "<%s %s=\"%s\" W=\"%d\">%s</%s>\r\n", tag, attribute_id, id, width, value, tag);
  return fprintf(stream, "<%s %s=\"%s\">%s</%s>\r\n", tag, attribute_id, id, value, tag);
}

}  // namespace

int xml_wide_named_value(FILE* stream, const char* name, const wchar_t* id, int width,
                         const wchar_t* value) {
  char* tag = tag_utf8(name);
  char* v = value_utf8(value);
  char* i = attribute_id ? value_utf8(id) : nullptr;
  int r = write_element(stream, tag, i, width, v);
  delete[] i;
  delete[] v;
  delete[] tag;
  return r;
}

int xml_named_value(FILE* stream, const char* name, const char* id, int width, const char* value) {
  int fast;
  if (write_ascii_element(stream, name, attribute_id ? (id ? id : "") : nullptr, width,
                          value ? value : "", true, &fast))
    return fast;
  char* tag = tag_utf8(name);
  char* v = narrow_value_utf8(value);
  char* i = attribute_id ? narrow_value_utf8(id) : nullptr;
  int r = write_element(stream, tag, i, width, v);
  delete[] i;
  delete[] v;
  delete[] tag;
  return r;
}

void html_write_text(FILE* stream, const char* text, bool attribute) {
  if (!text) return;
  // The page declares UTF-8; control characters are shown as "?".
  wchar_t* wide = displayable_wide(text);
  size_t n = wcslen(wide);
  for (size_t i = 0; i < n; i++) {
    wchar_t c = wide[i];
    if (c == L'&')
      fputs("&amp;", stream);
    else if (c == L'<')
      fputs("&lt;", stream);
    else if (c == L'>')
      fputs("&gt;", stream);
    else if (c == L'"' && attribute)
      fputs("&quot;", stream);
    else if (c < 0x80)
      fputc((int)c, stream);
    else {
      wchar_t one[2] = {c, 0};
      char* utf8 = xml_utf8(one);
      fputs(utf8, stream);
      delete[] utf8;
    }
  }
  delete[] wide;
}

const char* xml_import_refusal() { return import_refusal; }

// ---- Sections ----

namespace {
/// The HTML anchors written: one per section, a few dozen in a run.
std::set<std::string> html_anchors;
}  // namespace

bool html_anchor_written(const char* name) { return name && html_anchors.count(name) > 0; }
void html_forget_anchors() { html_anchors.clear(); }

void start_section(FILE* stream, const char* name) {
  if (!name) name = "";
  printd("schema: section %s\n", name);
  section_checksum = 0;
  if (!stream) return;
  switch (Table::get_output_format()) {
    case OUTPUT_TEXT: {
      size_t n = strlen(name) + 4;
      fputc('\n', stream);
      for (size_t i = 0; i < n; i++) fputc('=', stream);
      fprintf(stream, "\n  %s  \n", name);
      for (size_t i = 0; i < n; i++) fputc('=', stream);
      fputc('\n', stream);
      break;
    }
    case OUTPUT_XML:
      delete[] section_name;
      section_name = new char[strlen(name) + 1];
      strcpy(section_name, name);
      xml_open_tag(stream, name, nullptr);
      break;
    case OUTPUT_ZVML:
      xml_open_tag(stream, "SECTION", name);
      break;
    case OUTPUT_HTML:
      html_anchors.insert(name);
      fputs("<a name=\"", stream);
      html_write_text(stream, name, true);
      fputs("\"><H2>", stream);
      html_write_text(stream, name, false);
      fputs("</H2></a>\n", stream);
      break;
    default:
      break;
  }
  fflush(stream);
}

void end_section(FILE* stream) {
  // Limits hit by commands of the section that no probe reported.
  command_write_pending(stream);
  printd("schema: end section\n");
  output_checksum += section_checksum;
  if (!stream) return;
  switch (Table::get_output_format()) {
    case OUTPUT_TEXT:
      fputc('\n', stream);
      break;
    case OUTPUT_XML:
      if (section_name) xml_close_tag(stream, section_name);
      delete[] section_name;
      section_name = nullptr;
      break;
    case OUTPUT_ZVML: {
      char text[16];
      snprintf(text, sizeof text, "%8X", (unsigned)section_checksum);
      xml_tag_value(stream, "CHK", text);
      xml_close_tag(stream, "SECTION");
      break;
    }
    default:
      return;
  }
  fflush(stream);
}

// ---- Embedded files ----

unsigned xml_log_file(FILE* report, const char* path, FILE* source, unsigned limit) {
  if (!report || !path) return 0;
  wchar_t* wide_path = to_wide(path);
  char* shown = value_utf8(wide_path);
  delete[] wide_path;
  // The plain and the lower-case XML forms name the file in a "name"
  // attribute and write no checksum.
  bool lower = force_tag_to_lowercase;
  bool plain_xml = xml_tag_prefix || lower;
  if (lower)
    fprintf(report, "<file name=\"%s\">\r\n", shown);
  else if (plain_xml)
    fprintf(report, "<ZV_FILE name=\"%s\">\r\n", shown);
  else if (attribute_id)
    fprintf(report, "<FILE %s=\"%s\">\r\n", attribute_id, shown);
  else
    fputs("<FILE>\r\n", report);
  delete[] shown;

  uint32_t sum = 0;
  FILE* file = source ? source : open_regular_file(path, "rb");
  if (file) {
    fputs("<![CDATA[", report);
    sum = copy_file_as_cdata(report, file, limit);
    if (!source) fclose(file);
    fputs("]]>\r\n", report);
  } else {
    print_error(path, errno);
  }
  if (plain_xml) {
    fputs(lower ? "</file>\r\n" : "</ZV_FILE>\r\n", report);
  } else {
    char text[16];
    snprintf(text, sizeof text, "%8X", (unsigned)sum);
    xml_tag_value(report, "CHK", text);
    fputs("</FILE>\r\n", report);
  }
  fflush(report);
  return sum;
}

static bool log_file_unmasked(FILE* report, const char* path, FILE* source, unsigned limit) {
  switch (Table::get_output_format()) {
    case OUTPUT_TEXT:
      return log_file_as_text(report, path, source, limit, false);
    case OUTPUT_HTML:
      return log_file_as_text(report, path, source, limit, true);
    case OUTPUT_XML:
    case OUTPUT_ZVML:
      section_checksum += xml_log_file(report, path, source, limit);
      return true;
    default:
      return false;
  }
}

/// Under "-mask" an embedded file (and its name) goes through the free-text
/// scanner first, by way of an unnamed temporary file; the checksum is that
/// of the masked text. At most `limit` bytes of the source are read.
static bool log_masked_file(FILE* report, const char* path, FILE* source, unsigned limit) {
  FILE* raw = source ? source : open_regular_file(path, "rb");
  if (!raw) print_error(path, errno);
  FILE* masked = tmpfile();
  if (!masked) {
    print_error("xml: tmpfile", errno);
    if (!source && raw) fclose(raw);
    return false;
  }
  if (raw && !mask_stream(raw, masked, limit)) print_error(path, errno);
  if (!source && raw) fclose(raw);
  fflush(masked);
  rewind(masked);
  bool ok = log_file_unmasked(report, mask_text(path).c_str(), masked, limit);
  fclose(masked);
  return ok;
}

bool log_file(FILE* report, const char* path, FILE* source, unsigned limit) {
  if (!report || !path) return false;
  if (limit == 0 || limit > EMBED_LIMIT) limit = EMBED_LIMIT;
  if (mask_enabled()) return log_masked_file(report, path, source, limit);
  return log_file_unmasked(report, path, source, limit);
}

unsigned xml_log_zvml_file(FILE* report, const char* path) {
  import_refusal[0] = 0;
  printd("xml: reading zvml file %s\n", path ? path : "");
  if (!report || !path) return 0;
  FILE* file = open_regular_file(path, "rb");
  if (!file) {
    print_error(path, errno);
    return 0;
  }
  unsigned char head[3] = {0, 0, 0};
  size_t n = fread(head, 1, 2, file);
  printd("xml: bom? %02x %02x\n", head[0], head[1]);
  uint32_t sum = 0;
  bool accepted;
  if (n == 2 && head[0] == 0xFF && head[1] == 0xFE) {
    printd("xml: UTF-16 file with BOM found\n");
    accepted = import_utf16(report, file, path, sum);
  } else {
    if (n == 2) n += fread(head + 2, 1, 1, file);
    if (n == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) {
      printd("xml: UTF-8 file with BOM found\n");
      n = 0;
    }
    accepted = import_utf8(report, file, path, head, n, sum);
  }
  fclose(file);
  if (!accepted) return 0;
  fputs("<!-- end of import -->\r\n", report);
  fflush(report);
  // A receiver tells an accepted empty import from a failed one by this value.
  return sum ? sum : 42;
}

bool log_zvml_file(FILE* report, const char* path) {
  if (!report) {
    printd("table: output file not open for zvml file\n");
    return false;
  }
  if (Table::get_output_format() != OUTPUT_ZVML) {
    printd("table: not importing %s for format %d\n", path ? path : "", (int)Table::get_output_format());
    return false;
  }
  unsigned sum = xml_log_zvml_file(report, path);
  output_checksum += sum;
  return sum != 0;
}
