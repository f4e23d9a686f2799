// gthfile.h - the container file: a 20-byte header and up to 255 items, stored or LZH-coded.
//
// Layout (all integers little-endian): header = identifier "_ZELVARN_" and a
// zero byte, creation stamp (7 bytes, UTC), 0, 2, item count; each item = type
// (1 byte), uncompressed length (4), compression flag (1), coded length (4),
// then the data. A byte-stuffed form ("_ZELVAFF_") contains no zero bytes:
// 0x00 is written as 0xFF 0x01 and 0xFF as 0xFF 0xFF. The reader takes both.
#pragma once

#include <cstdint>
#include <cstdio>

#pragma pack(push, 1)
/// A moment in UTC as stored in the container (7 bytes, packed).
struct gthStamp {
  uint8_t hour;    ///< 0..23
  uint8_t minute;  ///< 0..59
  uint8_t second;  ///< 0..60
  uint8_t day;     ///< 1..31
  uint8_t month;   ///< 1..12
  uint16_t year;   ///< full year, little-endian on disk
};
#pragma pack(pop)
static_assert(sizeof(gthStamp) == 7, "gthStamp is 7 bytes on disk");

/// Return codes of GatherFile operations.
enum gth_status {
  GTH_OK = 0,
  GTH_E_ARG = -1,        ///< null argument, no open container, index out of range
  GTH_E_OPEN = -2,       ///< container or input file cannot be opened
  GTH_E_CREATE = -3,     ///< the file to create cannot be created (or exists already)
  GTH_E_FULL = -4,       ///< 255 items already; or a temporary file cannot be created
  GTH_E_READ = -5,       ///< a header or item cannot be read (short, or runs past the end)
  GTH_E_WRITE = -6,      ///< a header or item cannot be written; byte-stuffing error
  GTH_E_NO_TYPE = -8,    ///< no item of the requested type
  GTH_E_CODER = -9,      ///< compression or expansion failed; damaged coded item
  GTH_E_FORMAT = -10,    ///< not a container file, or unstuffing failed
  GTH_E_TOO_LARGE = -11  ///< an input of 4 GiB or more (lengths are 32-bit)
};

/// Item types the program writes.
enum gth_item_type {
  GTH_ITEM_HTML_REPORT = 0,
  GTH_ITEM_ID_BLOCK = 1,
  GTH_ITEM_SYSTEM_EVENTS = 13,
  GTH_ITEM_APP_EVENTS = 14,
  GTH_ITEM_XML_REPORT = 15,
  GTH_ITEM_VERSION_STAMP = 16,
  GTH_ITEM_FILE_SCAN = 17,
  GTH_ITEM_DGML = 18,
  GTH_ITEM_SECURITY_EVENTS = 20,
  GTH_ITEM_COLLECTED_FILE = 66,
  GTH_ITEM_TEXT_REPORT = 254
};

/// What an item type holds, for listings ("XML report"); null for a type the
/// program never writes.
const char* gth_item_type_name(unsigned type);

/// One item header as read from the file.
struct gth_item_header {
  uint8_t type;
  uint32_t orig_size;  ///< uncompressed length
  uint8_t flag;        ///< 1: LZH stream, 0: stored
  uint32_t comp_size;  ///< stream length (flag 1), 0 otherwise
  int64_t offset;      ///< of the item header from the start of the file
};

class GatherFile {
 public:
  static constexpr int MAX_ITEMS = 255;
  static constexpr int HEADER_SIZE = 20;
  static constexpr int ITEM_HEADER_SIZE = 10;
  static constexpr int STAMP_RECORD_SIZE = 76;

  /// The program's one container, created on first use (get_instance) and
  /// deleted by the task that closes the container.
  static GatherFile* instance;
  /// Returns `instance`, creating it if needed.
  static GatherFile* get_instance();

  GatherFile();
  ~GatherFile();

  /// Creates a new container with 0 items and keeps it open for update. The
  /// path must not exist yet (it is never opened through a link): -3.
  int CreateFile(const char* path);
  /// Opens an existing container for update and reads its item table.
  int ReadFile(const char* path);
  /// Opens an existing container read-only (the file is never modified; a
  /// stuffed file is unstuffed into an anonymous temporary). On a damaged item
  /// the items before it stay usable: returns -5 with NumItems() of them and
  /// FirstBadItem() naming the damaged one.
  int OpenReadOnly(const char* path);
  /// Appends the whole file at `path` as one item; the header's item count is
  /// rewritten afterwards, so the container is valid after every item. A
  /// coded stream not shorter than its input is stored instead. On failure the
  /// container is cut back to where the item began and nothing is counted.
  int AddItemFile(unsigned char type, const char* path, bool compress);
  /// AddItemFile for an open regular file read from its start; `shown` names
  /// it in the log. The stream is not closed.
  int AddItemStream(unsigned char type, FILE* input, const char* shown, bool compress);
  /// Writes the expanded data of item `index` to a new file at `path`.
  int ExtractItem(int index, const char* path);
  /// Extracts the first item of `type`; -8 when there is none.
  int ExtractItem(unsigned char type, const char* path);
  /// Writes the expanded data of item `index` to `out` (not closed).
  int ExtractItemTo(int index, FILE* out);
  /// Expands item `index` without keeping the data and checks that its
  /// stream is whole: exactly the recorded size, no bits missing, no bytes
  /// left over. 0, or a negative gth_status.
  int VerifyItem(int index);
  int NumItems() const { return count_; }
  /// The item's type; 0 for an index out of range.
  unsigned char GetItemType(int index) const;
  /// Reads the header of item `index`. 0, -1 or -5.
  int GetItemHeader(int index, gth_item_header* out);
  /// Closes the file; a container written by this run is flushed to the
  /// disk first. GTH_OK, or GTH_E_WRITE when what was written may not all
  /// have reached the file.
  int CloseFile();
  /// True when one of the items is a report (HTML, XML or text).
  bool HasReportItem() const;
  /// Rewrites the closed container at `path` in byte-stuffed form: the new
  /// form is written to a fresh temporary beside it and renamed over it.
  int RemoveNulls(const char* path);
  /// Undoes the stuffing of the open stream into an anonymous temporary,
  /// which becomes the open stream (the file itself keeps its form).
  int ReplaceNulls();
  /// Appends the version stamp record (item type 16); returns the add's result.
  int AddStampInfo(const char* version);
  int GetFileStamp(gthStamp* out) const;
  static void GetCurrentDate(gthStamp* out);
  int le_to_host(int value) const;

  /// The item count the file header claims (after ReadFile/OpenReadOnly).
  int HeaderItemCount() const { return header_count_; }
  /// Index of the first item that could not be read, or -1.
  int FirstBadItem() const { return first_bad_; }
  /// Bytes behind the last counted item (an unfinished item of a killed run).
  int64_t TrailingBytes() const { return trailing_; }
  /// True when the open file was in byte-stuffed form.
  bool WasStuffed() const { return stuffed_; }

 private:
  struct Entry {
    uint8_t type;
    int64_t offset;
  };

  int OpenExisting(const char* path, bool read_only);
  int WalkItems();
  int ReadItemHeaderAt(int64_t offset, gth_item_header* out);
  int WriteItem(unsigned char type, FILE* input, uint32_t length, bool compress);
  int AppendStored(unsigned char type, FILE* input, uint32_t length);
  int UpdateHeaderCount(int count);
  int64_t FileSize();

  FILE* file_;
  Entry items_[MAX_ITEMS];
  int count_;
  gthStamp stamp_;
  int header_count_;
  int first_bad_;
  int64_t trailing_;
  bool read_only_;
  bool stuffed_;
};
