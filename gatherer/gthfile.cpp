// gthfile.cpp - reading and writing the container file and its byte-stuffed form.

#include "gthfile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "clock.h"
#include "debug.h"
#include "lzh.h"
#include "safe_file.h"
#include "temp_files.h"

namespace {

const char kIdent[10] = {'_', 'Z', 'E', 'L', 'V', 'A', 'R', 'N', '_', 0};
const char kStuffedIdent[10] = {'_', 'Z', 'E', 'L', 'V', 'A', 'F', 'F', '_', 0};
const size_t kCopyBlock = 1 << 16;
const int kTempAttempts = 100;

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}

uint32_t GetLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PackStamp(const gthStamp& s, uint8_t* p) {
  p[0] = s.hour;
  p[1] = s.minute;
  p[2] = s.second;
  p[3] = s.day;
  p[4] = s.month;
  p[5] = uint8_t(s.year);
  p[6] = uint8_t(s.year >> 8);
}

void UnpackStamp(const uint8_t* p, gthStamp* s) {
  s->hour = p[0];
  s->minute = p[1];
  s->second = p[2];
  s->day = p[3];
  s->month = p[4];
  s->year = uint16_t(p[5] | p[6] << 8);
}

// Creates a fresh file for a temporary, never through a link and never over
// an existing file: when `name` is taken, "-1", "-2", ... is put before its
// extension. `name` (of `size` bytes) receives the name used. Null with errno
// set when no name could be created.
FILE* CreateTemp(const char* wanted, char* name, size_t size, const char* mode) {
  const char* dot = strrchr(wanted, '.');
  int stem = dot && dot != wanted ? int(dot - wanted) : int(strlen(wanted));
  for (int n = 0; n < kTempAttempts; n++) {
    int len = n == 0 ? snprintf(name, size, "%s", wanted)
                     : snprintf(name, size, "%.*s-%d%s", stem, wanted, n, wanted + stem);
    if (len < 0 || size_t(len) >= size) {
      errno = ENAMETOOLONG;
      return nullptr;
    }
    FILE* f = create_new_file(name, mode);
    if (f || errno != EEXIST) return f;
  }
  errno = EEXIST;
  return nullptr;
}

// Copies exactly `n` bytes. 0, GTH_E_READ when the input ends or fails
// first, GTH_E_WRITE when the output fails.
int CopyExact(FILE* in, FILE* out, uint64_t n) {
  static uint8_t buf[kCopyBlock];
  while (n > 0) {
    size_t want = n < kCopyBlock ? size_t(n) : kCopyBlock;
    size_t got = fread(buf, 1, want, in);
    if (got > 0 && fwrite(buf, 1, got, out) != got) return GTH_E_WRITE;
    n -= got;
    if (got < want) return GTH_E_READ;
  }
  return GTH_OK;
}

// A stream that discards what is written (for checking items).
ssize_t DiscardWrite(void*, const char*, size_t size) { return ssize_t(size); }

FILE* OpenDiscard() {
  cookie_io_functions_t io = {nullptr, DiscardWrite, nullptr, nullptr};
  return fopencookie(nullptr, "w", io);
}

}  // namespace

GatherFile* GatherFile::instance = nullptr;

GatherFile* GatherFile::get_instance() {
  if (!instance) instance = new GatherFile;
  return instance;
}

const char* gth_item_type_name(unsigned type) {
  switch (type) {
    case GTH_ITEM_HTML_REPORT: return "HTML report";
    case GTH_ITEM_ID_BLOCK: return "identification block";
    case GTH_ITEM_SYSTEM_EVENTS: return "system event file";
    case GTH_ITEM_APP_EVENTS: return "application event file";
    case GTH_ITEM_XML_REPORT: return "XML report";
    case GTH_ITEM_VERSION_STAMP: return "version stamp";
    case GTH_ITEM_FILE_SCAN: return "file scan output";
    case GTH_ITEM_DGML: return "DGML file";
    case GTH_ITEM_SECURITY_EVENTS: return "security event file";
    case GTH_ITEM_COLLECTED_FILE: return "collected file";
    case GTH_ITEM_TEXT_REPORT: return "text report";
    default: return nullptr;
  }
}

GatherFile::GatherFile()
    : file_(nullptr), items_(), count_(0), stamp_(), header_count_(0), first_bad_(-1),
      trailing_(0), read_only_(false), stuffed_(false) {}

GatherFile::~GatherFile() { CloseFile(); }

int GatherFile::CloseFile() {
  if (!file_) return GTH_OK;
  bool ok = fflush(file_) == 0 && !ferror(file_);
  if (ok && !read_only_ && fsync(fileno(file_)) != 0) ok = false;
  if (fclose(file_) != 0) ok = false;
  file_ = nullptr;
  return ok ? GTH_OK : GTH_E_WRITE;
}

bool GatherFile::HasReportItem() const {
  for (int i = 0; i < count_; i++) {
    unsigned char type = GetItemType(i);
    if (type == GTH_ITEM_HTML_REPORT || type == GTH_ITEM_XML_REPORT || type == GTH_ITEM_TEXT_REPORT)
      return true;
  }
  return false;
}

int GatherFile::le_to_host(int value) const {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return int(__builtin_bswap32(uint32_t(value)));
#else
  return value;
#endif
}

void GatherFile::GetCurrentDate(gthStamp* out) {
  struct tm tm;
  memset(&tm, 0, sizeof tm);
  clock_utc(clock_now(), &tm);
  out->hour = uint8_t(tm.tm_hour);
  out->minute = uint8_t(tm.tm_min);
  out->second = uint8_t(tm.tm_sec);
  out->day = uint8_t(tm.tm_mday);
  out->month = uint8_t(tm.tm_mon + 1);
  out->year = uint16_t(tm.tm_year + 1900);
}

int GatherFile::GetFileStamp(gthStamp* out) const {
  if (out) *out = stamp_;
  return 0;
}

unsigned char GatherFile::GetItemType(int index) const {
  return index >= 0 && index < count_ ? items_[index].type : 0;
}

int64_t GatherFile::FileSize() {
  struct stat st;
  if (!file_ || fflush(file_) != 0 || fstat(fileno(file_), &st) != 0) return -1;
  return int64_t(st.st_size);
}

// ---- creating and opening ----

int GatherFile::CreateFile(const char* path) {
  if (!path) return GTH_E_ARG;
  CloseFile();
  FILE* f = create_new_file(path, "w+b");
  if (!f) {
    print_error(path, errno);
    return GTH_E_CREATE;
  }
  count_ = header_count_ = 0;
  first_bad_ = -1;
  trailing_ = 0;
  read_only_ = stuffed_ = false;
  uint8_t head[HEADER_SIZE] = {};
  memcpy(head, kIdent, sizeof kIdent);
  GetCurrentDate(&stamp_);
  PackStamp(stamp_, head + 10);
  head[17] = 0;
  head[18] = 2;
  head[19] = 0;
  if (fwrite(head, 1, sizeof head, f) != sizeof head || fflush(f) != 0) {
    printd("gthfile: fwrite filehead failed\n");
    fclose(f);
    unlink(path);
    return GTH_E_WRITE;
  }
  file_ = f;
  return GTH_OK;
}

int GatherFile::ReadFile(const char* path) {
  int rc = OpenExisting(path, false);
  if (rc == GTH_E_READ) {  // an updatable container must be whole
    CloseFile();
    count_ = 0;
  }
  return rc;
}

int GatherFile::OpenReadOnly(const char* path) { return OpenExisting(path, true); }

int GatherFile::OpenExisting(const char* path, bool read_only) {
  if (!path) return GTH_E_ARG;
  CloseFile();
  printd("gthfile: ReadFile %s\n", path);
  count_ = header_count_ = 0;
  first_bad_ = -1;
  trailing_ = 0;
  read_only_ = read_only;
  stuffed_ = false;
  file_ = read_only ? open_regular_file(path, "rb") : open_for_update_nofollow(path);
  if (!file_) {
    print_error(path, errno);
    return GTH_E_OPEN;
  }
  uint8_t head[HEADER_SIZE];
  size_t got = fread(head, 1, sizeof head, file_);
  if (got != sizeof head) {
    printd("gthfile: fread head, rc = %u\n", unsigned(got));
    CloseFile();
    return GTH_E_READ;
  }
  if (memcmp(head, kStuffedIdent, 9) == 0) {
    int rc = ReplaceNulls();
    printd("gthfile: ReplaceNulls, rc = %d\n", rc);
    if (rc != GTH_OK) {
      CloseFile();
      return GTH_E_FORMAT;
    }
    stuffed_ = true;
    if (fread(head, 1, sizeof head, file_) != sizeof head) {
      CloseFile();
      return GTH_E_READ;
    }
  }
  printd("gthfile: head.ident = %9.9s\n", reinterpret_cast<const char*>(head));
  if (memcmp(head, kIdent, sizeof kIdent) != 0) {
    CloseFile();
    return GTH_E_FORMAT;
  }
  UnpackStamp(head + 10, &stamp_);
  header_count_ = head[19];
  printd("gthfile: Items is %d\n", header_count_);
  return WalkItems();
}

// Records each counted item's offset and type, checking that its header and
// data lie inside the file; stops at the first that does not.
int GatherFile::WalkItems() {
  int64_t size = FileSize();
  if (size < 0) return GTH_E_READ;
  int64_t offset = HEADER_SIZE;
  for (int i = 0; i < header_count_; i++) {
    gth_item_header h;
    int rc = ReadItemHeaderAt(offset, &h);
    uint64_t data = h.flag ? h.comp_size : h.orig_size;
    if (rc != GTH_OK || uint64_t(offset) + ITEM_HEADER_SIZE + data > uint64_t(size)) {
      printd("gthfile: item %d at offset %lld cannot be read\n", i, (long long)offset);
      first_bad_ = i;
      return GTH_E_READ;
    }
    printd("gthfile: Item %d Offset is %lld\n", i, (long long)offset);
    items_[count_].type = h.type;
    items_[count_].offset = offset;
    count_++;
    offset += ITEM_HEADER_SIZE + int64_t(data);
  }
  trailing_ = size - offset;
  return GTH_OK;
}

int GatherFile::ReadItemHeaderAt(int64_t offset, gth_item_header* out) {
  uint8_t h[ITEM_HEADER_SIZE];
  if (fseeko(file_, off_t(offset), SEEK_SET) != 0) return GTH_E_READ;
  size_t got = fread(h, 1, sizeof h, file_);
  if (got != sizeof h) {
    printd("gthfile: fread item, rc = %u\n", unsigned(got));
    return GTH_E_READ;
  }
  out->type = h[0];
  out->orig_size = uint32_t(le_to_host(int(GetLe32(h + 1))));
  out->flag = h[5];
  out->comp_size = uint32_t(le_to_host(int(GetLe32(h + 6))));
  out->offset = offset;
  return GTH_OK;
}

int GatherFile::GetItemHeader(int index, gth_item_header* out) {
  if (!file_ || !out || index < 0 || index >= count_) return GTH_E_ARG;
  return ReadItemHeaderAt(items_[index].offset, out);
}

// ---- adding items ----

int GatherFile::AddItemFile(unsigned char type, const char* path, bool compress) {
  if (!file_ || !path || read_only_) return GTH_E_ARG;
  if (count_ >= MAX_ITEMS) return GTH_E_FULL;
  printd("gthfile: AddItemFile id %#02x c %d filename %s\n", type, compress ? 1 : 0, path);
  FILE* input = open_regular_file(path, "rb");
  if (!input) {
    print_error(path, errno);
    return GTH_E_OPEN;
  }
  int rc = AddItemStream(type, input, path, compress);
  fclose(input);
  return rc;
}

int GatherFile::AddItemStream(unsigned char type, FILE* input, const char* shown, bool compress) {
  if (!file_ || !input || read_only_) return GTH_E_ARG;
  if (count_ >= MAX_ITEMS) return GTH_E_FULL;
  const char* path = shown ? shown : "(stream)";
  struct stat st;
  if (fstat(fileno(input), &st) != 0) {
    print_error(path, errno);
    return GTH_E_OPEN;
  }
  if (uint64_t(st.st_size) > UINT32_MAX) {
    printd("gthfile: %s is 4 GiB or more, lengths are 32-bit: not added\n", path);
    return GTH_E_TOO_LARGE;
  }
  if (!S_ISREG(st.st_mode)) return GTH_E_OPEN;
  if (fseeko(file_, 0, SEEK_END) != 0) return GTH_E_WRITE;
  int64_t start = int64_t(ftello(file_));
  int rc = start < 0 ? GTH_E_WRITE : WriteItem(type, input, uint32_t(st.st_size), compress);
  if (rc == GTH_OK) rc = UpdateHeaderCount(count_ + 1);
  if (rc != GTH_OK) {
    // Nothing of a failed item stays: the file is cut back to where it began.
    if (start >= 0) {
      fflush(file_);
      if (ftruncate(fileno(file_), off_t(start)) != 0) print_error("ftruncate", errno);
    }
    UpdateHeaderCount(count_);
    return rc;
  }
  items_[count_].type = type;
  items_[count_].offset = start;
  count_++;
  printd("gthfile: item added\n");
  return GTH_OK;
}

int GatherFile::AppendStored(unsigned char type, FILE* input, uint32_t length) {
  uint8_t h[ITEM_HEADER_SIZE] = {type};
  PutLe32(h + 1, length);
  if (fwrite(h, 1, sizeof h, file_) != sizeof h) {
    printd("gthfile: fwrite item failed\n");
    return GTH_E_WRITE;
  }
  int rc = CopyExact(input, file_, length);
  if (rc == GTH_E_READ) {
    printd("gthfile: input ended before its recorded length\n");
    return GTH_E_OPEN;
  }
  return rc;
}

// Appends item header and data at the end of the container; the caller
// counts the item or cuts it off.
int GatherFile::WriteItem(unsigned char type, FILE* input, uint32_t length, bool compress) {
  if (!compress) {
    int rc = AppendStored(type, input, length);
    return rc == GTH_OK && fflush(file_) != 0 ? GTH_E_WRITE : rc;
  }

  // The stream goes to a temporary first: its length belongs in the item
  // header that precedes it.
  char wanted[32], name[64];
  snprintf(wanted, sizeof wanted, "%lX.tmp", (unsigned long)clock_now());
  FILE* tmp;
  {
    temp_files_hold_signals hold;
    tmp = CreateTemp(wanted, name, sizeof name, "w+b");
    if (tmp) temp_files_add(name, -1);
  }
  if (!tmp) {
    print_error(wanted, errno);
    return GTH_E_FULL;
  }
  printd("gthfile: tmpName %s\n", name);
  LzH* coder = new LzH;
  LzwComp rec = {length, 0};
  int lrc = coder->Encode(input, tmp, &rec);
  delete coder;
  int rc = GTH_OK;
  if (lrc != LZH_OK) {
    printd("gthfile: compression failed\n");
    rc = lrc == LZH_E_TOO_LARGE ? GTH_E_TOO_LARGE : GTH_E_CODER;
  } else if (rec.comp_size >= rec.orig_size) {
    // Not shorter: stored as it is (equal lengths would read back as stored
    // bytes anyway).
    rc = fseeko(input, 0, SEEK_SET) == 0 ? AppendStored(type, input, rec.orig_size) : GTH_E_READ;
  } else {
    uint8_t h[ITEM_HEADER_SIZE] = {type};
    PutLe32(h + 1, rec.orig_size);
    h[5] = 1;
    PutLe32(h + 6, rec.comp_size);
    if (fwrite(h, 1, sizeof h, file_) != sizeof h) {
      printd("gthfile: fwrite item failed\n");
      rc = GTH_E_WRITE;
    } else if (fseeko(tmp, 0, SEEK_SET) != 0) {
      rc = GTH_E_CODER;
    } else {
      rc = CopyExact(tmp, file_, rec.comp_size);
      if (rc == GTH_E_READ) rc = GTH_E_CODER;
    }
  }
  fclose(tmp);
  unlink(name);
  temp_files_forget(name);
  if (rc == GTH_OK && fflush(file_) != 0) rc = GTH_E_WRITE;
  return rc;
}

// Rewrites the count byte of the header in place and flushes.
int GatherFile::UpdateHeaderCount(int count) {
  uint8_t head[HEADER_SIZE];
  if (fseeko(file_, 0, SEEK_SET) != 0) return GTH_E_READ;
  size_t got = fread(head, 1, sizeof head, file_);
  if (got != sizeof head) {
    printd("gthfile: fread headF returned %u\n", unsigned(got));
    return GTH_E_READ;
  }
  head[19] = uint8_t(count);
  if (fseeko(file_, 0, SEEK_SET) != 0) return GTH_E_WRITE;
  size_t put = fwrite(head, 1, sizeof head, file_);
  if (put != sizeof head || fflush(file_) != 0) {
    printd("gthfile: write headF returned %u\n", unsigned(put));
    return GTH_E_WRITE;
  }
  header_count_ = count;
  return GTH_OK;
}

int GatherFile::AddStampInfo(const char* version) {
  uint8_t record[STAMP_RECORD_SIZE] = {};
  PutLe32(record, STAMP_RECORD_SIZE);
  record[4] = 1;
  gthStamp now;
  GetCurrentDate(&now);
  PackStamp(now, record + 5);
  if (version) memcpy(record + 12, version, strnlen(version, 64));  // not terminated at 64
  char name[64];
  FILE* f;
  {
    temp_files_hold_signals hold;
    f = CreateTemp("ZVSTAMP.TMP", name, sizeof name, "w+b");
    if (f) temp_files_add(name, -1);
  }
  if (!f) {
    print_error("ZVSTAMP.TMP", errno);
    return GTH_E_FULL;
  }
  // Added from the stream that wrote it: the name is never opened again.
  bool written = fwrite(record, 1, sizeof record, f) == sizeof record && fflush(f) == 0 &&
                 fseeko(f, 0, SEEK_SET) == 0;
  int rc = written ? AddItemStream(GTH_ITEM_VERSION_STAMP, f, name, true) : GTH_E_WRITE;
  fclose(f);
  unlink(name);
  temp_files_forget(name);
  return rc;
}

// ---- extracting ----

int GatherFile::ExtractItemTo(int index, FILE* out) {
  if (!file_ || !out || index < 0 || index >= count_) return GTH_E_ARG;
  gth_item_header h;
  if (ReadItemHeaderAt(items_[index].offset, &h) != GTH_OK) return GTH_E_READ;
  if (h.flag == 0) {
    int rc = CopyExact(file_, out, h.orig_size);
    if (rc == GTH_OK && fflush(out) != 0) rc = GTH_E_WRITE;
    return rc == GTH_E_WRITE ? GTH_E_CODER : rc;
  }
  // A coded stream cannot produce more than 48 bytes per byte; a larger
  // recorded size marks a damaged item and would only yield made-up bytes.
  if (h.flag != 1 || h.orig_size > LzH::MaxExpansion(h.comp_size)) return GTH_E_CODER;
  LzH* coder = new LzH;
  LzwComp rec = {h.orig_size, h.comp_size};
  int rc = coder->Decode(file_, out, &rec);
  delete coder;
  return rc == LZH_OK ? GTH_OK : GTH_E_CODER;
}

int GatherFile::ExtractItem(int index, const char* path) {
  if (!file_ || !path || index < 0 || index >= count_) return GTH_E_ARG;
  gth_item_header h;
  if (ReadItemHeaderAt(items_[index].offset, &h) != GTH_OK) return GTH_E_READ;
  FILE* out = create_new_file(path, "wb");
  if (!out) {
    print_error(path, errno);
    return GTH_E_CREATE;
  }
  int rc = ExtractItemTo(index, out);
  if (fclose(out) != 0 && rc == GTH_OK) rc = GTH_E_CODER;
  if (rc != GTH_OK) unlink(path);
  return rc;
}

int GatherFile::ExtractItem(unsigned char type, const char* path) {
  if (!file_ || !path) return GTH_E_ARG;
  for (int i = 0; i < count_; i++)
    if (items_[i].type == type) return ExtractItem(i, path);
  return GTH_E_NO_TYPE;
}

int GatherFile::VerifyItem(int index) {
  if (!file_ || index < 0 || index >= count_) return GTH_E_ARG;
  gth_item_header h;
  if (ReadItemHeaderAt(items_[index].offset, &h) != GTH_OK) return GTH_E_READ;
  if (h.flag > 1) return GTH_E_CODER;
  if (h.flag == 0 || h.orig_size == h.comp_size) return GTH_OK;  // inside the file: checked on opening
  if (h.orig_size > LzH::MaxExpansion(h.comp_size)) return GTH_E_CODER;
  FILE* sink = OpenDiscard();
  if (!sink) return GTH_E_CODER;
  LzH* coder = new LzH;
  LzwComp rec = {h.orig_size, h.comp_size};
  int rc = coder->Decode(file_, sink, &rec);
  bool whole = !coder->InputRanShort() && (coder->BitsUsed() + 7) / 8 == h.comp_size;
  delete coder;
  fclose(sink);
  return rc == LZH_OK && whole ? GTH_OK : GTH_E_CODER;
}

// ---- byte stuffing ----

int GatherFile::RemoveNulls(const char* path) {
  if (!path) return GTH_E_ARG;
  FILE* in = open_regular_file(path, "rb");
  if (!in) {
    print_error(path, errno);
    return GTH_E_FULL;
  }
  uint8_t head[HEADER_SIZE];
  size_t got = fread(head, 1, sizeof head, in);
  if (got != sizeof head) {
    printd("gthfile: fread filehead rc = %u\n", unsigned(got));
    fclose(in);
    return GTH_E_READ;
  }
  if (memcmp(head, kIdent, sizeof kIdent) != 0) {  // not a container, or stuffed already
    fclose(in);
    return GTH_E_FORMAT;
  }
  std::string wanted = std::string(path) + ".tmp";
  char name[4096];
  FILE* out;
  {
    temp_files_hold_signals hold;
    out = CreateTemp(wanted.c_str(), name, sizeof name, "wb");
    if (out) temp_files_add(name, -1);
  }
  if (!out) {
    print_error(wanted.c_str(), errno);
    fclose(in);
    return GTH_E_FULL;
  }
  // The original stays untouched until the stuffed copy is complete.
  memcpy(head, kStuffedIdent, sizeof kStuffedIdent);
  static uint8_t buf[kCopyBlock], stuffed[2 * kCopyBlock];
  memcpy(buf, head, sizeof head);
  size_t n = sizeof head;
  bool ok = true;
  for (;;) {
    size_t k = 0;
    for (size_t i = 0; i < n; i++) {
      uint8_t b = buf[i];
      if (b == 0x00) {
        stuffed[k++] = 0xFF;
        stuffed[k++] = 0x01;
      } else if (b == 0xFF) {
        stuffed[k++] = 0xFF;
        stuffed[k++] = 0xFF;
      } else {
        stuffed[k++] = b;
      }
    }
    if (k && fwrite(stuffed, 1, k, out) != k) {
      ok = false;
      break;
    }
    n = fread(buf, 1, sizeof buf, in);
    if (n == 0) break;
  }
  if (ferror(in)) ok = false;
  fclose(in);
  if (fflush(out) != 0 || fsync(fileno(out)) != 0) ok = false;
  if (fclose(out) != 0) ok = false;
  if (ok && rename(name, path) != 0) {
    print_error(path, errno);
    ok = false;
  }
  if (!ok) {
    printd("gthfile: fwrite filehead, rc = %u\n", 0u);
    unlink(name);
  }
  temp_files_forget(name);
  return ok ? GTH_OK : GTH_E_WRITE;
}

int GatherFile::ReplaceNulls() {
  if (!file_) return GTH_E_ARG;
  FILE* tmp = tmpfile();
  if (!tmp) {
    print_error("tmpfile", errno);
    return GTH_E_FULL;
  }
  if (fseeko(file_, 0, SEEK_SET) != 0) {
    fclose(tmp);
    return GTH_E_READ;
  }
  static uint8_t buf[kCopyBlock], plain[kCopyBlock];
  bool escape = false;
  int64_t pos = 0;
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, file_)) > 0) {
    size_t k = 0;
    for (size_t i = 0; i < n; i++) {
      uint8_t b = buf[i];
      pos++;
      if (escape) {
        escape = false;
        if (b == 0x01) {
          plain[k++] = 0x00;
        } else if (b == 0xFF) {
          plain[k++] = 0xFF;
        } else {
          printd("gtfile: byte stuffing error offset %#08llx, value %#02x followed 0xff\n",
                 (unsigned long long)pos, b);
          fclose(tmp);
          return GTH_E_WRITE;
        }
      } else if (b == 0xFF) {
        escape = true;
      } else if (b == 0x00) {
        // Stuffing leaves no zero byte: the file is refused here, before
        // anything more of it is expanded.
        printd("gthfile: zero byte in stuffed form at offset %#08llx\n", (unsigned long long)pos);
        fclose(tmp);
        return GTH_E_FORMAT;
      } else {
        plain[k++] = b;
      }
    }
    if (fwrite(plain, 1, k, tmp) != k) {
      fclose(tmp);
      return GTH_E_WRITE;
    }
  }
  if (ferror(file_) || escape) {  // a read error, or 0xFF as the last byte
    fclose(tmp);
    return GTH_E_WRITE;
  }
  CloseFile();
  uint8_t head[HEADER_SIZE];
  if (fseeko(tmp, 0, SEEK_SET) != 0 || fread(head, 1, sizeof head, tmp) != sizeof head) {
    fclose(tmp);
    return GTH_E_READ;
  }
  printd("gthfile: writing signature %s\n", kIdent);
  if (fseeko(tmp, 0, SEEK_SET) != 0 || fwrite(kIdent, 1, sizeof kIdent, tmp) != sizeof kIdent ||
      fflush(tmp) != 0 || fseeko(tmp, 0, SEEK_SET) != 0) {
    fclose(tmp);
    return GTH_E_WRITE;
  }
  file_ = tmp;
  return GTH_OK;
}
