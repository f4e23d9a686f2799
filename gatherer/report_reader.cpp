// report_reader.cpp - streaming reader and checker of finished reports.
//
// The tokenizer pulls bytes from a 64 KiB buffer and calls the structure
// methods (start, end, text, character data, comment) as it goes. The
// structure part follows the element nesting with one frame per open
// element and re-adds the checksums the way the writers add them:
//   cell     sum of the value's UTF-8 bytes, each a signed byte (16-bit)
//   row      sum of its cells, written "%4X"; table: sum of its rows, "%4X"
//   section  sum of its tables and embedded files (32-bit), "%8X"
//   file     sum of the code points of its character data (32-bit), "%8X"
//   import   sum of the bytes between the two import comments, 42 if 0
//   report   sum of its sections and imports, "%8X"
#include "report_reader.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const size_t BUFFER_SIZE = 64 * 1024;
const size_t MAX_NAME = 4096;
const size_t MAX_ATTRIBUTE = 1 << 20;
const size_t MAX_VALUE = 16 << 20;
const size_t MAX_COMMENT_KEPT = 8192;
const size_t MAX_DEPTH = 256;
const size_t MAX_ATTRIBUTES = 32;
const size_t MAX_CELLS = 256;
const size_t MAX_IMPORTS = 16;

enum frame_kind {
  F_OTHER,
  F_ROOT,
  F_VERSION,
  F_SECTION,
  F_TABLE,
  F_COLS,
  F_ROW,
  F_CELL,
  F_CHK,
  F_ROWS,
  F_FILE,
  F_XML_SECTION,
  F_XML_TABLE,
  F_XML_PENDING,  // a plain-XML element under a table: a row or a cell, not known yet
  F_XML_ROW,
  F_XML_CELL,
  F_ORNA_TABLE,
  F_ORNA_ROW,
  F_ORNA_CELL
};

struct attribute {
  std::string name, value;
};

/// Byte classes of the text scanner: 1 ends a plain run ('<', '&', control).
unsigned char special[256];
bool special_ready = false;

void init_special() {
  if (special_ready) return;
  for (int c = 0; c < 0x20; c++) special[c] = (c == '\t' || c == '\n' || c == '\r') ? 0 : 1;
  special[(unsigned char)'<'] = 1;
  special[(unsigned char)'&'] = 1;
  special_ready = true;
}

bool is_space(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool is_name_char(int c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == ':' ||
         c == '.' || c == '-' || c >= 0x80;
}

bool is_name_start(int c) { return is_name_char(c) && !(c >= '0' && c <= '9') && c != '.' && c != '-'; }

void append_utf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += (char)c;
  } else if (c < 0x800) {
    out += (char)(0xC0 | (c >> 6));
    out += (char)(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += (char)(0xE0 | (c >> 12));
    out += (char)(0x80 | ((c >> 6) & 0x3F));
    out += (char)(0x80 | (c & 0x3F));
  } else {
    out += (char)(0xF0 | (c >> 18));
    out += (char)(0x80 | ((c >> 12) & 0x3F));
    out += (char)(0x80 | ((c >> 6) & 0x3F));
    out += (char)(0x80 | (c & 0x3F));
  }
}

/// The narrow cell checksum: bytes as signed values, modulo 65536.
uint16_t cell_sum(const char* p, size_t n) {
  uint16_t sum = 0;
  for (size_t i = 0; i < n; i++) sum = (uint16_t)(sum + (uint16_t)(signed char)p[i]);
  return sum;
}

/// Reads a checksum element's text: blanks, then upper-case hex digits.
bool parse_hex(const std::string& text, uint32_t* out) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') i++;
  if (i == text.size() || text.size() - i > 8) return false;
  uint32_t v = 0;
  for (; i < text.size(); i++) {
    char c = text[i];
    int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
    if (d < 0) return false;
    v = v << 4 | (uint32_t)d;
  }
  *out = v;
  return true;
}

bool parse_count(const std::string& text, unsigned long* out) {
  if (text.empty() || text.size() > 9) return false;
  unsigned long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (unsigned long)(c - '0');
  }
  *out = v;
  return true;
}

/// A canonical decimal integer that fits in 64 bits: "0", "-12", never "007".
bool is_integer_text(const std::string& s) {
  size_t i = s.size() > 0 && s[0] == '-' ? 1 : 0;
  size_t digits = s.size() - i;
  if (digits == 0 || digits > 18) return false;
  if (s[i] == '0' && digits > 1) return false;
  if (s[i] == '0' && i == 1) return false;  // "-0"
  for (size_t k = i; k < s.size(); k++)
    if (s[k] < '0' || s[k] > '9') return false;
  return true;
}

std::string hex_text(uint32_t v, int width) {
  char b[16];
  snprintf(b, sizeof b, "%*X", width, (unsigned)v);
  return b;
}

std::string strip_prefix(const std::string& tag) {
  return tag.compare(0, 3, "ZV_") == 0 ? tag.substr(3) : tag;
}

}  // namespace

struct report_reader::impl {
  explicit impl(report_handler& h) : handler(h) { init_special(); }

  report_handler& handler;
  bool force = false;

  // ---- input ----
  int fd = -1;
  const char* mem = nullptr;
  size_t mem_size = 0;
  std::vector<char> own;
  const char* buf = nullptr;
  size_t pos = 0, len = 0;
  bool at_end = false;
  uint32_t sum_before = 0;  // byte sum of everything before buf[0]
  unsigned long lines_before = 0;
  size_t summed_to = 0;  // sum_cached holds the bytes buf[0..summed_to)
  uint32_t sum_cached = 0;
  size_t counted_to = 0;  // lines_cached counts the line ends in buf[0..counted_to)
  unsigned long lines_cached = 0;

  // ---- result ----
  report_status status = REPORT_OK;
  std::string first_error;
  unsigned long mismatch_count = 0;
  unsigned long checked = 0;
  unsigned long rows = 0;
  report_form form = REPORT_UNKNOWN;
  report_identity identity;
  bool stop = false;

  // ---- tokenizer state ----
  std::vector<std::string> stack;  // open element names
  bool root_seen = false, root_closed = false;
  std::string name;
  std::vector<attribute> attrs;
  size_t attr_count = 0;
  std::string comment;

  // ---- structure state ----
  struct frame {
    frame_kind kind;
  };
  std::vector<frame> frames;
  struct level {  // one per report: the outer one and one per open import
    uint32_t output_sum = 0;
    uint32_t import_start = 0;
    std::string import_path;
    bool root_open = false;
    bool chk_seen = false;
  };
  std::vector<level> levels;
  std::string section, table;
  uint32_t section_sum = 0;
  bool section_chk = false;
  uint16_t table_sum = 0;
  unsigned long table_rows = 0;
  bool table_rows_seen = false, table_chk = false;
  unsigned long cols = 0;
  bool cols_seen = false;
  std::vector<std::string> first_names;  // column names of the table's first full row
  bool first_names_set = false;
  uint16_t row_sum = 0;
  bool row_chk = false;
  report_row row;
  bool collecting = false;  // text goes to `text`
  std::string text;
  uint16_t text_sum = 0;
  bool text_is_integer = false;
  std::string cell_name;
  // embedded file
  std::string file_name;
  uint32_t file_sum = 0;
  uint64_t file_bytes = 0;
  bool file_chk = false;
  uint32_t utf8_code = 0;
  int utf8_need = 0;
  // plain XML form: a pending element under a table
  std::string pending_name, pending_id;
  bool pending_has_id = false;
  bool in_summary = false;  // the system summary table: identity source
  unsigned long orna_rows = 0;
  int import_crlf = -1;  // after an import comment: 0 expecting CR, 1 expecting LF

  // ================= input =================

  bool refill() {
    if (at_end) return false;
    // Account for the buffer being left.
    sum_before += sum_upto(len);
    lines_before += lines_upto(len);
    summed_to = counted_to = 0;
    sum_cached = 0;
    lines_cached = 0;
    pos = len = 0;
    if (mem) {
      if (mem_size == 0) {
        at_end = true;
        return false;
      }
      buf = mem;
      len = mem_size;
      mem_size = 0;
      return true;
    }
    for (;;) {
      ssize_t n = ::read(fd, own.data(), BUFFER_SIZE);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        fail(REPORT_READ_ERROR, std::string("cannot be read: ") + strerror(errno));
        at_end = true;
        return false;
      }
      if (n == 0) {
        at_end = true;
        return false;
      }
      buf = own.data();
      len = (size_t)n;
      return true;
    }
  }

  uint32_t sum_upto(size_t end) {
    uint32_t s = sum_cached;
    for (size_t i = summed_to; i < end; i++) s += (unsigned char)buf[i];
    sum_cached = s;
    summed_to = end;
    return s;
  }

  /// Byte sum of everything read before the current position.
  uint32_t sum_here() { return sum_before + sum_upto(pos); }

  unsigned long lines_upto(size_t end) {
    for (size_t i = counted_to; i < end;) {
      const void* nl = memchr(buf + i, '\n', end - i);
      if (!nl) break;
      lines_cached++;
      i = (size_t)((const char*)nl - buf) + 1;
    }
    counted_to = end;
    return lines_cached;
  }

  unsigned long line_here() { return lines_before + 1 + lines_upto(pos); }

  int get() {
    if (pos == len && !refill()) return -1;
    return (unsigned char)buf[pos++];
  }
  int peek() {
    if (pos == len && !refill()) return -1;
    return (unsigned char)buf[pos];
  }

  // ================= errors =================

  std::string where() {
    std::string w = "line " + std::to_string(line_here());
    if (!levels.empty() && !levels.back().import_path.empty()) w += ", import \"" + levels.back().import_path + "\"";
    if (!section.empty()) w += ": section \"" + section + "\"";
    if (!table.empty()) w += (section.empty() ? ": " : ", ") + std::string("table \"") + table + "\"";
    return w;
  }

  void fail(report_status s, const std::string& message) {
    if (status == REPORT_OK || (status == REPORT_BAD_CHECKSUM && s != REPORT_BAD_CHECKSUM)) {
      if (first_error.empty() || status == REPORT_OK) first_error = message;
      status = s;
    }
    stop = true;
  }

  bool malformed(const std::string& what) {
    bool cut = at_end && pos == len && status != REPORT_READ_ERROR && what.find("ends") == std::string::npos;
    fail(REPORT_NOT_WELL_FORMED,
         where() + ": not well-formed: " + (cut ? "the report ends early (cut short?): " : "") + what);
    return false;
  }

  /// A checksum or count that does not add up: reported once, and reading
  /// goes on only with force.
  void mismatch(const std::string& what) {
    mismatch_count++;
    if (status == REPORT_OK) {
      status = REPORT_BAD_CHECKSUM;
      first_error = what;
    }
    if (!force) stop = true;
  }

  void compare(const char* what, bool parsed, uint32_t recorded, uint32_t actual,
               int width, const std::string& place) {
    if (!parsed) {
      mismatch(place + ": " + what + " checksum \"" + text + "\" is not a checksum");
      return;
    }
    if (recorded != actual) {
      mismatch(place + ": " + what + " checksum " + hex_text(recorded, width) + " does not match (the " +
               (std::string(what) == "row" ? "cells" : std::string(what) == "table" ? "rows"
                : std::string(what) == "section"                                   ? "tables and files"
                : std::string(what) == "file"                                      ? "characters"
                                                                                    : "sections and imports") +
               " add up to " + hex_text(actual, width) + ")");
      return;
    }
    checked++;
  }

  // ================= tokenizer =================

  report_status run() {
    own.resize(BUFFER_SIZE);
    levels.push_back(level());
    bool first = true;
    while (!stop) {
      int c = get();
      if (c < 0) break;
      if (first && c == 0xEF) {  // a UTF-8 byte-order mark
        if (get() != 0xBB || get() != 0xBF) return finish_malformed("a broken byte-order mark");
        first = false;
        continue;
      }
      first = false;
      if (c == '<') {
        markup();
      } else {
        pos--;
        text_run();
      }
    }
    if (!stop) {
      if (!stack.empty()) malformed("the report ends inside element \"" + stack.back() + "\" (cut short?)");
      else if (!root_seen) malformed("no report element");
    }
    if (!stop && !levels.empty() && levels.size() > 1) malformed("an import is not ended");
    if (!stop && form == REPORT_ZVML && !levels[0].chk_seen)
      mismatch(where() + ": the report has no checksum of its own");
    return status;
  }

  report_status finish_malformed(const std::string& what) {
    malformed(what);
    return status;
  }

  /// Text between markup: decoded into `text` when collecting, else it must
  /// be white space.
  void text_run() {
    for (;;) {
      if (pos == len && !refill()) return;
      size_t start = pos;
      while (pos < len && !special[(unsigned char)buf[pos]]) pos++;
      if (pos > start) take_text(buf + start, pos - start);
      if (stop) return;
      if (pos == len) continue;
      unsigned char c = (unsigned char)buf[pos];
      if (c == '<') return;
      if (c == '&') {
        pos++;
        std::string decoded;
        if (!entity(decoded)) return;
        take_text(decoded.data(), decoded.size());
        if (stop) return;
        continue;
      }
      malformed("control character " + std::to_string(c) + " in text");
      return;
    }
  }

  /// Reads an entity reference after '&' and appends its character.
  bool entity(std::string& out) {
    char ref[12];
    size_t n = 0;
    for (;;) {
      int c = get();
      if (c < 0) return malformed("the report ends inside an entity reference");
      if (c == ';') break;
      if (n + 1 >= sizeof ref) return malformed("an unknown entity reference");
      ref[n++] = (char)c;
    }
    ref[n] = 0;
    if (!strcmp(ref, "amp")) out += '&';
    else if (!strcmp(ref, "lt")) out += '<';
    else if (!strcmp(ref, "gt")) out += '>';
    else if (!strcmp(ref, "quot")) out += '"';
    else if (!strcmp(ref, "apos")) out += '\'';
    else if (ref[0] == '#') {
      bool hex = ref[1] == 'x';
      const char* digits = ref + (hex ? 2 : 1);
      if (!*digits) return malformed("an empty character reference");
      uint32_t v = 0;
      for (const char* d = digits; *d; d++) {
        int k = (*d >= '0' && *d <= '9') ? *d - '0'
                : hex && (*d | 0x20) >= 'a' && (*d | 0x20) <= 'f' ? (*d | 0x20) - 'a' + 10
                                                                   : -1;
        if (k < 0) return malformed("a bad character reference");
        v = v * (hex ? 16 : 10) + (uint32_t)k;
        if (v > 0x10FFFF) return malformed("a character reference out of range");
      }
      bool ok = v == 9 || v == 10 || v == 13 || (v >= 0x20 && v < 0xD800) || (v >= 0xE000 && v <= 0xFFFD) ||
                v >= 0x10000;
      if (!ok) return malformed("a character reference to a character XML does not allow");
      append_utf8(out, v);
    } else {
      return malformed(std::string("the unknown entity \"&") + ref + ";\"");
    }
    return true;
  }

  void markup() {
    int c = get();
    if (c < 0) {
      malformed("the report ends inside markup");
    } else if (c == '/') {
      end_tag();
    } else if (c == '?') {
      processing_instruction();
    } else if (c == '!') {
      c = get();
      if (c == '-') {
        if (get() != '-') {
          malformed("a broken comment");
          return;
        }
        comment_body();
      } else if (c == '[') {
        const char* want = "CDATA[";
        for (const char* w = want; *w; w++)
          if (get() != *w) {
            malformed("a broken character-data block");
            return;
          }
        cdata_body();
      } else {
        malformed("a document type or other declaration (not accepted)");
      }
    } else if (is_name_start(c)) {
      pos--;
      start_tag();
    } else {
      malformed("a \"<\" that starts no markup");
    }
  }

  bool read_name(std::string& out) {
    out.clear();
    for (;;) {
      int c = peek();
      if (c < 0 || !is_name_char(c)) break;
      if (out.size() >= MAX_NAME) return malformed("a name longer than " + std::to_string(MAX_NAME) + " bytes");
      out += (char)c;
      pos++;
    }
    if (out.empty()) return malformed("a missing name");
    return true;
  }

  void skip_space() {
    for (;;) {
      int c = peek();
      if (c < 0 || !is_space(c)) return;
      pos++;
    }
  }

  void start_tag() {
    if (!read_name(name)) return;
    attr_count = 0;
    bool empty = false;
    for (;;) {
      int before = peek();
      skip_space();
      int c = get();
      if (c < 0) {
        malformed("the report ends inside a start tag");
        return;
      }
      if (c == '>') break;
      if (c == '/') {
        if (get() != '>') {
          malformed("a broken empty-element tag");
          return;
        }
        empty = true;
        break;
      }
      if (!is_space(before)) {
        malformed("attributes not separated by white space");
        return;
      }
      pos--;
      if (attr_count == MAX_ATTRIBUTES) {
        malformed("too many attributes");
        return;
      }
      if (attrs.size() <= attr_count) attrs.resize(attr_count + 1);
      attribute& a = attrs[attr_count];
      if (!read_name(a.name)) return;
      for (size_t i = 0; i < attr_count; i++)
        if (attrs[i].name == a.name) {
          malformed("the attribute \"" + a.name + "\" twice");
          return;
        }
      skip_space();
      if (get() != '=') {
        malformed("an attribute without a value");
        return;
      }
      skip_space();
      int quote = get();
      if (quote != '"' && quote != '\'') {
        malformed("an attribute value without quotes");
        return;
      }
      a.value.clear();
      for (;;) {
        c = get();
        if (c < 0) {
          malformed("the report ends inside an attribute value");
          return;
        }
        if (c == quote) break;
        if (c == '<') {
          malformed("a \"<\" in an attribute value");
          return;
        }
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
          malformed("control character " + std::to_string(c) + " in an attribute value");
          return;
        }
        if (c == '&') {
          if (!entity(a.value)) return;
        } else {
          a.value += (char)c;
        }
        if (a.value.size() > MAX_ATTRIBUTE) {
          malformed("an attribute value longer than 1 MiB");
          return;
        }
      }
      attr_count++;
    }
    if (stack.empty()) {
      if (root_seen) {
        malformed("a second top-level element \"" + name + "\"");
        return;
      }
      root_seen = true;
    }
    if (stack.size() >= MAX_DEPTH) {
      malformed("elements nested deeper than " + std::to_string(MAX_DEPTH));
      return;
    }
    stack.push_back(name);
    on_start();
    if (empty && !stop) end_element();
  }

  void end_tag() {
    if (!read_name(name)) return;
    skip_space();
    if (get() != '>') {
      malformed("a broken end tag");
      return;
    }
    if (stack.empty() || stack.back() != name) {
      malformed("the end tag \"" + name + "\" where " +
                (stack.empty() ? std::string("no element is open") : "\"" + stack.back() + "\" is open"));
      return;
    }
    end_element();
  }

  void end_element() {
    on_end();
    stack.pop_back();
    if (stack.empty()) root_closed = true;
  }

  void processing_instruction() {
    std::string target;
    if (!read_name(target)) return;
    if (target == "xml" && root_seen) {
      malformed("an XML declaration inside the report");
      return;
    }
    int prev = 0;
    for (;;) {
      int c = get();
      if (c < 0) {
        malformed("the report ends inside a processing instruction");
        return;
      }
      if (prev == '?' && c == '>') return;
      prev = c;
    }
  }

  void comment_body() {
    uint32_t at = 0;
    // The byte sum before "<!--": an import ends right there.
    at = sum_here() - (uint32_t)('<' + '!' + '-' + '-');
    comment.clear();
    int dashes = 0;
    for (;;) {
      int c = get();
      if (c < 0) {
        malformed("the report ends inside a comment");
        return;
      }
      if (dashes >= 2) {
        if (c != '>') {
          malformed("\"--\" inside a comment");
          return;
        }
        break;
      }
      if (c == '-') {
        dashes++;
        continue;
      }
      if (comment.size() < MAX_COMMENT_KEPT)
        comment.append((size_t)dashes, '-') += (char)c;
      dashes = 0;
    }
    on_comment(at);
  }

  void cdata_body() {
    if (stack.empty()) {
      malformed("a character-data block outside the report element");
      return;
    }
    int brackets = 0;
    for (;;) {
      if (pos == len && !refill()) {
        malformed("the report ends inside a character-data block");
        return;
      }
      // Fast scan to the next ']'.
      size_t start = pos;
      if (brackets == 0) {
        const void* hit = memchr(buf + pos, ']', len - pos);
        size_t end = hit ? (size_t)((const char*)hit - buf) : len;
        if (end > start) {
          if (!take_cdata(buf + start, end - start)) return;
        }
        pos = end;
        if (!hit) continue;
      }
      int c = get();
      if (c < 0) {
        malformed("the report ends inside a character-data block");
        return;
      }
      if (c == ']') {
        brackets++;
        continue;
      }
      if (c == '>' && brackets >= 2) {
        if (brackets > 2) {
          std::string extra((size_t)brackets - 2, ']');
          if (!take_cdata(extra.data(), extra.size())) return;
        }
        return;
      }
      if (brackets) {
        std::string held((size_t)brackets, ']');
        brackets = 0;
        if (!take_cdata(held.data(), held.size())) return;
      }
      pos--;
    }
  }

  // ================= structure =================

  frame_kind top() const { return frames.empty() ? F_OTHER : frames.back().kind; }

  const std::string* attr(const char* wanted) const {
    for (size_t i = 0; i < attr_count; i++)
      if (attrs[i].name == wanted) return &attrs[i].value;
    return nullptr;
  }

  /// Only these attributes may stand on a checksummed-form element.
  bool only_attrs(bool id, bool width) {
    for (size_t i = 0; i < attr_count; i++) {
      const std::string& n = attrs[i].name;
      if ((id && n == "ID") || (width && n == "W")) continue;
      return malformed("the attribute \"" + n + "\" on \"" + name + "\"");
    }
    if (width) {
      const std::string* w = attr("W");
      unsigned long v;
      if (w && !parse_count(*w, &v)) return malformed("the width \"" + *w + "\" of a cell");
    }
    return true;
  }

  void push(frame_kind k) { frames.push_back({k}); }

  void begin_text(bool integer) {
    collecting = true;
    text.clear();
    text_sum = 0;
    text_is_integer = integer;
  }

  void take_text(const char* p, size_t n) {
    if (import_crlf >= 0) {
      // The import's bytes begin after the line end of its comment.
      size_t i = 0;
      while (i < n && import_crlf >= 0) {
        char want = import_crlf == 0 ? '\r' : '\n';
        if (p[i] != want) {
          import_crlf = -1;
          break;
        }
        levels.back().import_start += (unsigned char)want;
        import_crlf = import_crlf == 0 ? 1 : -1;
        i++;
      }
    }
    if (collecting) {
      if (text.size() + n > MAX_VALUE) {
        malformed("a value longer than 16 MiB");
        return;
      }
      text.append(p, n);
      text_sum = (uint16_t)(text_sum + cell_sum(p, n));
      return;
    }
    for (size_t i = 0; i < n; i++)
      if (!is_space((unsigned char)p[i])) {
        if (stack.empty()) malformed("text outside the report element");
        else malformed("text where only elements may stand (in \"" + stack.back() + "\")");
        return;
      }
  }

  bool take_cdata(const char* p, size_t n) {
    import_crlf = -1;
    if (top() == F_FILE) {
      // Sum the code points as written.
      for (size_t i = 0; i < n; i++) {
        unsigned char b = (unsigned char)p[i];
        if (utf8_need) {
          utf8_code = utf8_code << 6 | (b & 0x3F);
          if (--utf8_need == 0) file_sum += utf8_code;
          continue;
        }
        if (b < 0x80) file_sum += b;
        else if (b >= 0xF0) utf8_code = b & 0x07, utf8_need = 3;
        else if (b >= 0xE0) utf8_code = b & 0x0F, utf8_need = 2;
        else if (b >= 0xC0) utf8_code = b & 0x1F, utf8_need = 1;
        else file_sum += 0xFFFD;  // a stray continuation byte
      }
      file_bytes += n;
      if (!handler.file_text(p, n)) halt();
      return !stop;
    }
    if (collecting) {
      take_text(p, n);
      return !stop;
    }
    return malformed("a character-data block in \"" + stack.back() + "\"");
  }

  void halt() {
    if (status == REPORT_OK) status = REPORT_STOPPED;
    stop = true;
  }

  void on_start() {
    import_crlf = -1;
    frame_kind parent = top();
    if (collecting && parent != F_XML_PENDING) {
      malformed("the element \"" + name + "\" inside a value");
      return;
    }
    switch (parent) {
      case F_OTHER:
        if (frames.empty()) {
          start_root();
          return;
        }
        push(F_OTHER);
        return;
      case F_ROOT:
        start_in_root();
        return;
      case F_SECTION:
        if (section_chk) return (void)malformed("the element \"" + name + "\" after the section checksum");
        if (name == "TABLE") {
          if (!only_attrs(true, false)) return;
          const std::string* id = attr("ID");
          table = id ? *id : "";
          table_sum = 0;
          table_rows = 0;
          table_rows_seen = table_chk = cols_seen = false;
          first_names_set = false;
          in_summary = section == "SYSTEM SUMMARY" && table == "System Summary";
          push(F_TABLE);
        } else if (name == "FILE") {
          start_file();
        } else if (name == "CHK") {
          if (section_chk) return (void)malformed("a second section checksum");
          push(F_CHK);
          begin_text(false);
        } else {
          malformed("the element \"" + name + "\" in a section");
        }
        return;
      case F_TABLE:
        if (table_chk) return (void)malformed("the element \"" + name + "\" after the table checksum");
        if (name == "COLS") {
          if (!only_attrs(false, false)) return;
          if (cols_seen) return (void)malformed("a second column count");
          push(F_COLS);
          begin_text(false);
        } else if (name == "ROW") {
          if (!only_attrs(true, false)) return;
          if (!cols_seen) return (void)malformed("a row before the column count");
          if (table_rows_seen) return (void)malformed("a row after the row count");
          begin_row(attr("ID"));
          row_sum = 0;
          row_chk = false;
          push(F_ROW);
        } else if (name == "ROWS") {
          if (!only_attrs(false, false)) return;
          push(F_ROWS);
          begin_text(false);
        } else if (name == "CHK") {
          if (!only_attrs(false, false)) return;
          if (!table_rows_seen) return (void)malformed("a table checksum before the row count");
          push(F_CHK);
          begin_text(false);
        } else {
          malformed("the element \"" + name + "\" in a table");
        }
        return;
      case F_ROW:
        if (row_chk) return (void)malformed("the element \"" + name + "\" after the row checksum");
        if (name == "CHK") {
          if (!only_attrs(false, false)) return;
          push(F_CHK);
          begin_text(false);
          return;
        }
        if (name == "DEC" || name == "HEX" || name == "BOOL" || name == "STR" || name == "ASC" || name == "DATE" ||
            name == "TIME" || name == "DATETIME") {
          if (!only_attrs(true, true)) return;
          const std::string* id = attr("ID");
          cell_name = id ? *id : "";
          push(F_CELL);
          begin_text(name == "DEC");
          return;
        }
        malformed("the element \"" + name + "\" in a row");
        return;
      case F_FILE:
        if (name == "CHK" && !file_chk) {
          if (!only_attrs(false, false)) return;
          push(F_CHK);
          begin_text(false);
          return;
        }
        malformed("the element \"" + name + "\" in an embedded file");
        return;
      case F_XML_SECTION:
        if (name == "ZV_FILE") {
          start_file();
          return;
        }
        table = strip_prefix(name);
        push(F_XML_TABLE);
        return;
      case F_XML_TABLE:
        if (name == "ZV_FILE") {
          start_file();
          return;
        }
        pending_name = name;
        {
          const std::string* id = attr("ID");
          pending_has_id = id != nullptr;
          pending_id = id ? *id : "";
        }
        push(F_XML_PENDING);
        begin_text(false);
        return;
      case F_XML_PENDING:
        // Its first child element makes it a row.
        collecting = false;
        frames.back().kind = F_XML_ROW;
        begin_row(pending_has_id ? &pending_id : nullptr);
        [[fallthrough]];
      case F_XML_ROW:
        cell_name = strip_prefix(name);
        push(F_XML_CELL);
        begin_text(false);
        return;
      case F_ORNA_TABLE:
        if (name != "InventoryTableRow") return (void)malformed("the element \"" + name + "\" in a table");
        begin_row(nullptr);
        row.id = std::to_string(++orna_rows);
        push(F_ORNA_ROW);
        return;
      case F_ORNA_ROW: {
        if (name != "INTEGER" && name != "CHAR") return (void)malformed("the element \"" + name + "\" in a row");
        const std::string* id = attr("name");
        cell_name = id ? *id : "";
        push(F_ORNA_CELL);
        begin_text(name == "INTEGER");
        return;
      }
      default:
        malformed("the element \"" + name + "\" inside \"" + stack[stack.size() - 2] + "\"");
        return;
    }
  }

  void start_root() {
    if (name == "GATHERED_DATA") {
      // ZVML or ORNA: told apart by the first table or section.
    } else if (name == "ZV_GATHERED_DATA") {
      form = REPORT_XML;
    } else {
      malformed("\"" + name + "\" is not a report element");
      return;
    }
    levels.back().root_open = true;
    push(F_ROOT);
  }

  void start_in_root() {
    level& lv = levels.back();
    if (lv.chk_seen) return (void)malformed("the element \"" + name + "\" after the report checksum");
    if (name == "GATHERER_VERSION" || name == "ZV_GATHERER_VERSION") {
      push(F_VERSION);
      begin_text(false);
      return;
    }
    if (form == REPORT_XML) {
      if (name == "ZV_FILE") {
        start_file();
        return;
      }
      section = strip_prefix(name);
      table.clear();
      push(F_XML_SECTION);
      return;
    }
    if (name == "SECTION" && form != REPORT_ORNA) {
      if (!only_attrs(true, false)) return;
      form = REPORT_ZVML;
      const std::string* id = attr("ID");
      section = id ? *id : "";
      table.clear();
      section_sum = 0;
      section_chk = false;
      push(F_SECTION);
      return;
    }
    if (name == "InventoryTable" && form != REPORT_ZVML) {
      form = REPORT_ORNA;
      const std::string* id = attr("name");
      table = id ? *id : "";
      section.clear();
      orna_rows = 0;
      push(F_ORNA_TABLE);
      return;
    }
    if (name == "FILE" && form != REPORT_ORNA) {
      form = REPORT_ZVML;
      start_file();
      return;
    }
    if (name == "GATHERED_DATA" && levels.size() > 1 && !lv.root_open) {
      lv.root_open = true;
      push(F_ROOT);
      return;
    }
    if (name == "CHK" && form != REPORT_ORNA) {
      if (!only_attrs(false, false)) return;
      form = REPORT_ZVML;
      push(F_CHK);
      begin_text(false);
      return;
    }
    malformed("the element \"" + name + "\" in the report element");
  }

  void start_file() {
    const std::string* id = attr("ID");
    if (!id) id = attr("name");
    file_name = id ? *id : "";
    file_sum = 0;
    file_bytes = 0;
    file_chk = false;
    utf8_need = 0;
    push(F_FILE);
    if (!handler.file_begin(section, file_name)) halt();
  }

  void begin_row(const std::string* id) {
    row.section = &section;
    row.table = &table;
    row.import = &levels.back().import_path;
    row.id = id ? *id : "";
    row.cell_count = 0;
    row.line = line_here();
  }

  void add_cell(bool integer) {
    if (row.cell_count >= MAX_CELLS) {
      malformed("a row of more than " + std::to_string(MAX_CELLS) + " cells");
      return;
    }
    if (row.cells.size() <= row.cell_count) row.cells.resize(row.cell_count + 1);
    report_cell& c = row.cells[row.cell_count++];
    c.name = cell_name;
    c.value.swap(text);
    c.integer = integer && is_integer_text(c.value);
  }

  std::string row_place() {
    return where() + ", row \"" + row.id + "\"";
  }

  void on_end() {
    frame_kind k = top();
    frames.pop_back();
    frame_kind parent = top();
    bool had_text = collecting;
    collecting = false;
    switch (k) {
      case F_CELL:
        row_sum = (uint16_t)(row_sum + text_sum);
        add_cell(text_is_integer);
        return;
      case F_XML_CELL:
        add_cell(true);
        return;
      case F_ORNA_CELL:
        add_cell(text_is_integer);
        return;
      case F_XML_PENDING:
        // No child element: a cell directly in the table (a table without
        // row elements); a repeated column name starts the next row.
        if (had_text) {
          std::string n = strip_prefix(pending_name);
          bool repeat = false;
          for (size_t i = 0; i < row.cell_count; i++)
            if (row.cells[i].name == n) repeat = true;
          if (repeat && row.cell_count) deliver();
          if (stop) return;
          if (row.cell_count == 0) begin_row(nullptr);
          cell_name = n;
          add_cell(true);
          open_xml_rows = true;
        }
        return;
      case F_XML_ROW:
      case F_ORNA_ROW:
        deliver();
        return;
      case F_XML_TABLE:
        if (open_xml_rows && row.cell_count) deliver();
        open_xml_rows = false;
        row.cell_count = 0;
        table.clear();
        return;
      case F_ORNA_TABLE:
        table.clear();
        return;
      case F_XML_SECTION:
        section.clear();
        return;
      case F_COLS:
        if (!parse_count(text, &cols)) return (void)malformed("the column count \"" + text + "\"");
        cols_seen = true;
        return;
      case F_ROWS: {
        unsigned long n;
        if (!parse_count(text, &n)) return (void)malformed("the row count \"" + text + "\"");
        table_rows_seen = true;
        if (n != table_rows)
          mismatch(where() + ": row count " + text + " does not match the " + std::to_string(table_rows) +
                   " rows");
        else
          checked++;
        return;
      }
      case F_CHK:
        end_checksum(parent);
        return;
      case F_ROW: {
        if (!row_chk) return (void)malformed("a row without its checksum (" + row_place() + ")");
        table_rows++;
        if (row.cell_count > cols) return (void)malformed("a row of more cells than the table has columns (" +
                                                           row_place() + ")");
        if (row.cell_count == cols && cols) {
          if (first_names_set && first_names.size() != cols) first_names_set = false;
          if (!first_names_set) {
            first_names.resize(cols);
            for (size_t i = 0; i < cols; i++) first_names[i] = row.cells[i].name;
            first_names_set = true;
          } else {
            for (size_t i = 0; i < cols; i++)
              if (row.cells[i].name != first_names[i]) {
                mismatch(row_place() + ": column " + std::to_string(i) + " is named \"" + row.cells[i].name +
                         "\", in the table's first row \"" + first_names[i] + "\"");
                if (stop) return;
              }
          }
        }
        deliver();
        return;
      }
      case F_TABLE:
        if (!table_chk) return (void)malformed("a table without its checksum");
        section_sum += table_sum;
        table.clear();
        in_summary = false;
        return;
      case F_SECTION:
        if (!section_chk) return (void)malformed("a section without its checksum");
        levels.back().output_sum += section_sum;
        section.clear();
        return;
      case F_FILE:
        if (utf8_need) file_sum += 0xFFFD;
        utf8_need = 0;
        if (form == REPORT_ZVML && !file_chk) return (void)malformed("an embedded file without its checksum");
        if (parent == F_SECTION) section_sum += file_sum;
        if (!handler.file_end(file_sum, file_bytes)) halt();
        return;
      case F_ROOT:
        if (form == REPORT_ZVML && !levels.back().chk_seen) mismatch(where() + ": the report has no checksum");
        return;
      default:
        return;
    }
  }

  bool open_xml_rows = false;

  void end_checksum(frame_kind parent) {
    uint32_t recorded = 0;
    bool parsed = parse_hex(text, &recorded);
    switch (parent) {
      case F_ROW:
        row_chk = true;
        compare("row", parsed, recorded, row_sum, 4, row_place());
        table_sum = (uint16_t)(table_sum + row_sum);
        return;
      case F_TABLE:
        table_chk = true;
        compare("table", parsed, recorded, table_sum, 4, where());
        return;
      case F_SECTION:
        section_chk = true;
        compare("section", parsed, recorded, section_sum, 8, where());
        return;
      case F_FILE:
        file_chk = true;
        if (utf8_need) file_sum += 0xFFFD;
        utf8_need = 0;
        compare("file", parsed, recorded, file_sum, 8, where() + ", embedded file \"" + file_name + "\"");
        return;
      case F_ROOT: {
        level& lv = levels.back();
        lv.chk_seen = true;
        compare("report", parsed, recorded, lv.output_sum, 8, where() + ": the whole report:");
        return;
      }
      default:
        return;
    }
  }

  void deliver() {
    if (stop) return;
    // Unique member names: a repeated column name gets "_2", "_3", ...
    for (size_t i = 0; i < row.cell_count; i++) {
      report_cell& c = row.cells[i];
      c.key = c.name;
      for (int n = 2;; n++) {
        bool taken = false;
        for (size_t j = 0; j < i && !taken; j++) taken = row.cells[j].key == c.key;
        if (!taken) break;
        c.key = c.name + "_" + std::to_string(n);
      }
    }
    if (in_summary && levels.size() == 1) {
      for (size_t i = 0; i < row.cell_count; i++) {
        const report_cell& c = row.cells[i];
        if (c.name == "System Vendor") identity.vendor = c.value;
        else if (c.name == "System Model") identity.model = c.value;
        else if (c.name == "System Serial Number") identity.serial = c.value;
        else if (c.name == "UUID") identity.uuid = c.value;
      }
    }
    rows++;
    if (!handler.row(row)) halt();
    row.cell_count = 0;
  }

  void on_comment(uint32_t sum_before_comment) {
    std::string c = comment;
    size_t a = c.find_first_not_of(' '), b = c.find_last_not_of(' ');
    c = a == std::string::npos ? "" : c.substr(a, b - a + 1);
    if (top() != F_ROOT) return;
    if (c.compare(0, 7, "import ") == 0) {
      if (levels.size() > MAX_IMPORTS) {
        malformed("imports nested deeper than " + std::to_string(MAX_IMPORTS));
        return;
      }
      if (levels.back().chk_seen) return (void)malformed("an import after the report checksum");
      level lv;
      lv.import_path = c.substr(7);
      for (const char* e : {"&lt;", "&gt;", "&quot;", "&apos;", "&amp;"}) {
        const char* plain = e[1] == 'l' ? "<" : e[1] == 'g' ? ">" : e[1] == 'q' ? "\"" : e[2] == 'p' ? "'" : "&";
        for (size_t at = 0; (at = lv.import_path.find(e, at)) != std::string::npos; at++)
          lv.import_path.replace(at, strlen(e), plain);
      }
      lv.import_start = sum_here();
      levels.push_back(lv);
      import_crlf = 0;
    } else if (c == "end of import") {
      if (levels.size() < 2) return (void)malformed("an end of import without its start");
      level inner = levels.back();
      if (inner.root_open && !inner.chk_seen && form == REPORT_ZVML)
        return (void)malformed("an import ends inside its report");
      levels.pop_back();
      uint32_t sum = sum_before_comment - inner.import_start;
      if (sum == 0) sum = 42;
      levels.back().output_sum += sum;
    }
  }
};

// The root frame of an import closes before its end comment; an inner
// report's root being closed is recorded through chk_seen and the stack.

report_reader::report_reader(report_handler& handler) : p(new impl(handler)) {}
report_reader::~report_reader() { delete p; }
void report_reader::set_force(bool force) { p->force = force; }

report_status report_reader::read_fd(int fd) {
  p->fd = fd;
  return p->run();
}

report_status report_reader::read_memory(const char* data, size_t size) {
  p->mem = data;
  p->mem_size = size;
  return p->run();
}

const std::string& report_reader::error() const { return p->first_error; }
unsigned long report_reader::mismatches() const { return p->mismatch_count; }
report_form report_reader::form() const { return p->form; }
const report_identity& report_reader::identity() const { return p->identity; }
unsigned long report_reader::checksums_checked() const { return p->checked; }
unsigned long report_reader::rows_read() const { return p->rows; }

const char* report_form_name(report_form form) {
  switch (form) {
    case REPORT_ZVML:
      return "checksummed XML";
    case REPORT_XML:
      return "XML";
    case REPORT_ORNA:
      return "ORNA";
    default:
      return "unknown";
  }
}
