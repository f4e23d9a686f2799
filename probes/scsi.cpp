// scsi.cpp - the device list and cursor, and the decoding of the answers to
// INQUIRY, READ CAPACITY and MODE SENSE.
#include "scsi.h"

#include <cstring>
#include <strings.h>

#include "debug.h"
#include "scsi_linux.h"
#include "util_capacity.h"
#include "util_string.h"

const char* const scsi_device_types[14] = {
    "Disk",     "Tape",    "Printer",         "Processor",       "Write-Once", "CD-ROM", "Scanner",
    "Magneto-Optical", "Changer", "Communications", "unknown-type-10", "unknown-type 11", "RAID",
    "Enclosure"};

namespace {

const blacklist_t mode_sense_blacklist[] = {{"OEM", "CD-ROM F522E", "1.00"}, {nullptr, nullptr, nullptr}};

uint32_t be32(const unsigned char* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

char* empty(char* buf, int size) {
  if (buf && size > 0) buf[0] = '\0';
  return buf;
}

char* copy_text(const char* text, char* buf, int size) {
  if (!buf || size <= 0) return buf;
  snprintf(buf, static_cast<size_t>(size), "%s", text);
  return buf;
}

bool field_matches(const char* wanted, const char* value) {
  return !wanted || strcasecmp(wanted, value) == 0;
}

}  // namespace

int scsi_decode_serial(const unsigned char* answer, int length, const unsigned char* standard,
                       int standard_length, char* out, int size) {
  if (!out || size <= 0) return -1;
  out[0] = '\0';
  if (!answer || length < 5 || answer[1] != 0x80) return -1;
  if (standard && standard_length > 4 && answer[4] == standard[4]) {
    printd("scsi: This device appears to ignore the EVPD bit\n");
    return -1;
  }
  int n = answer[3];
  if (n > length - 4) n = length - 4;
  if (n > size - 1) n = size - 1;
  int k = 0;
  for (; k < n && answer[4 + k]; ++k) {
    unsigned char c = answer[4 + k];
    out[k] = (c < 32 || c == 127) ? '.' : static_cast<char>(c);
  }
  out[k] = '\0';
  return k;
}

bool scsi_decode_capacity10(const unsigned char* answer, int length, uint32_t* last_lba,
                            uint32_t* block_length) {
  if (!answer || length < 8) return false;
  *last_lba = be32(answer);
  *block_length = be32(answer + 4);
  return true;
}

bool scsi_decode_capacity16(const unsigned char* answer, int length, uint64_t* last_lba,
                            uint32_t* block_length) {
  if (!answer || length < 12) return false;
  *last_lba = (uint64_t(be32(answer)) << 32) | be32(answer + 4);
  *block_length = be32(answer + 8);
  return true;
}

int scsi_decode_mode_sense(const unsigned char* answer, int length, unsigned* capabilities) {
  *capabilities = 0;
  int page;
  if (answer && length > 8 && answer[8] == 0x2A) {
    page = 8;
  } else if (answer && length > 4 && answer[0] != 0 && answer[4] == 0x2A) {
    page = 4;
  } else {
    printd("scsi: device appears not to support CD Capabilities\n");
    return 1;
  }
  if (page + 3 >= length) return 1;
  *capabilities = answer[page + 2] + answer[page + 3] * 256u;
  printd("scsi: capabilities = %08x\n", *capabilities);
  return 0;
}

char* scsi_inquiry_text(const unsigned char* inquiry, int length, int offset, int width, char* out,
                        int size) {
  if (!out || size <= 0) return out;
  int k = 0;
  for (int i = offset; inquiry && i < offset + width && i < length && k < size - 1; ++i) {
    unsigned char c = inquiry[i];
    if (!c) break;
    out[k++] = (c < 32 || c == 127) ? '.' : static_cast<char>(c);
  }
  out[k] = '\0';
  trim_whitespace(out);
  return out;
}

bool scsi_blacklisted(const blacklist_t* table, const char* vendor, const char* model,
                      const char* revision) {
  printd("scsi: checking blacklist for '%s' '%s '%s'\n", vendor, model, revision);
  for (const blacklist_t* e = table; e && (e->vendor || e->model || e->revision); ++e) {
    bool match = field_matches(e->vendor, vendor) && field_matches(e->model, model) &&
                 field_matches(e->revision, revision);
    printd("scsi: %smatch for '%s' '%s' '%s'\n", match ? "" : "no ", e->vendor ? e->vendor : "",
           e->model ? e->model : "", e->revision ? e->revision : "");
    if (match) {
      printd("scsi: %s %s %s blacklisted\n", vendor, model, revision);
      return true;
    }
  }
  return false;
}

// --- the shared instance --------------------------------------------------

scsi_probe* scsi_probe::instance = nullptr;
int scsi_probe::use_count = 0;
bool scsi_probe::ever_found = false;

namespace {
// Closes the descriptors of a scan still open when the program ends.
struct scan_cleanup {
  ~scan_cleanup() { scsi_probe::discard(); }
} at_exit_cleanup;
}  // namespace

scsi_probe* scsi_probe::open() {
  ++use_count;
  printd("scsi: use_count = %d\n", use_count);
  if (!instance) instance = scsi_linux_probe::open();
  if (instance->get_device_count() > 0) ever_found = true;
  return instance;
}

void scsi_probe::close() {
  if (instance && use_count >= 5) {
    printd("scsi: cleaning up ...\n");
    delete instance;
    instance = nullptr;
  }
}

void scsi_probe::discard() {
  delete instance;
  instance = nullptr;
  use_count = 0;
  ever_found = false;
}

scsi_probe::scsi_probe() : device_count(0), devices(nullptr), current(nullptr), current_index(0) {}

scsi_probe::~scsi_probe() { delete[] devices; }

int scsi_probe::get_device_count() { return device_count; }

int scsi_probe::get_optical_drive_count() {
  int n = 0;
  for (int i = 0; i < device_count; ++i) n += devices[i].type == 5;
  return n;
}

bool scsi_probe::get_first() {
  current_index = 0;
  return get_current();
}

bool scsi_probe::get_next() {
  if (current_index < device_count) ++current_index;
  return get_current();
}

bool scsi_probe::get_current() {
  current = current_index >= 0 && current_index < device_count ? &devices[current_index] : nullptr;
  printd("scsi: device %d of %d, current = %p\n", current_index, device_count, static_cast<void*>(current));
  return current != nullptr;
}

int scsi_probe::get_host() { return current ? current->host : 0; }
int scsi_probe::get_channel() { return current ? current->channel : 0; }
int scsi_probe::get_target() { return current ? current->target : 0; }
int scsi_probe::get_lun() { return current ? current->lun : 0; }
int scsi_probe::get_type() { return current ? current->type : 0; }

char* scsi_probe::get_type(char* buf, int size) {
  int type = get_type();
  if (type >= 0 && type < 14) return copy_text(scsi_device_types[type], buf, size);
  return format_string(buf, size, "unknown-type-%d", type);
}

char* scsi_probe::get_vendor(char* buf, int size) {
  return current ? scsi_inquiry_text(current->inquiry, sizeof current->inquiry, 8, 8, buf, size) : empty(buf, size);
}
char* scsi_probe::get_model(char* buf, int size) {
  return current ? scsi_inquiry_text(current->inquiry, sizeof current->inquiry, 16, 16, buf, size)
                 : empty(buf, size);
}
char* scsi_probe::get_revision(char* buf, int size) {
  return current ? scsi_inquiry_text(current->inquiry, sizeof current->inquiry, 32, 4, buf, size)
                 : empty(buf, size);
}

char* scsi_probe::get_serial(char* buf, int size) {
  empty(buf, size);
  if (!current || !buf || size <= 0) return buf;
  static const unsigned char cdb[6] = {0x12, 0x01, 0x80, 0, 0xFF, 0};
  unsigned char answer[255] = {};
  int returned = 0;
  printd("scsi: INQUIRY EVPD=1 PAGE CODE = 80\n");
  if (send_command(cdb, sizeof cdb, answer, sizeof answer, &returned) < 0) return buf;
  scsi_decode_serial(answer, returned, current->inquiry, sizeof current->inquiry, buf, size);
  return buf;
}

char* scsi_probe::get_capacity(char* buf, int size) {
  empty(buf, size);
  if (!current || current->type != 0) return buf;
  static const unsigned char cdb10[10] = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  unsigned char answer[32] = {};
  int returned = 0;
  printd("scsi: READ CAPACITY\n");
  uint32_t last32, block_length;
  if (send_command(cdb10, sizeof cdb10, answer, 8, &returned) < 0 ||
      !scsi_decode_capacity10(answer, returned, &last32, &block_length))
    return buf;
  printd("scsi:\tlba         : %u\nscsi:\tsector_size : %u\n", last32, block_length);
  uint64_t last = last32;
  if (last32 == 0xFFFFFFFFu) {
    // 2 TiB or more: the 32-bit answer is saturated; the 16-byte command
    // carries the whole address.
    static const unsigned char cdb16[16] = {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0};
    memset(answer, 0, sizeof answer);
    printd("scsi: READ CAPACITY(16)\n");
    if (send_command(cdb16, sizeof cdb16, answer, 32, &returned) < 0 ||
        !scsi_decode_capacity16(answer, returned, &last, &block_length))
      return buf;
    printd("scsi:\tlba         : %llu\nscsi:\tsector_size : %u\n", static_cast<unsigned long long>(last),
           block_length);
  }
  uint64_t blocks = last == UINT64_MAX ? last : last + 1;
  return calculate_storage_capacity64(blocks, block_length, buf, size, 1000);
}

int scsi_probe::read_optical_drive_capabilities() {
  if (!current) return -1;
  current->optical_capabilities = 0;
  if (current->type != 5) return -1;
  if (check_blacklist(mode_sense_blacklist)) return -1;
  static const unsigned char cdb[10] = {0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, 24, 0};
  unsigned char answer[24] = {};
  int returned = 0;
  printd("scsi: MODE SENSE\n");
  int rc = send_command(cdb, sizeof cdb, answer, sizeof answer, &returned);
  if (rc < 0) return rc;
  scsi_decode_mode_sense(answer, returned, &current->optical_capabilities);
  return 0;
}

unsigned scsi_probe::get_optical_drive_capabilities() { return current ? current->optical_capabilities : 0; }

char* scsi_probe::generic_optical_drive_capability(unsigned mask, char* buf, int size) {
  unsigned caps = get_optical_drive_capabilities();
  if (caps & (mask << 8)) return copy_text("Write", buf, size);
  if (caps & mask) return copy_text("Read", buf, size);
  return empty(buf, size);
}

char* scsi_probe::get_optical_cdr_capability(char* buf, int size) {
  return generic_optical_drive_capability(OPTICAL_CDR_READ, buf, size);
}
char* scsi_probe::get_optical_cdrw_capability(char* buf, int size) {
  return generic_optical_drive_capability(OPTICAL_CDRW_READ, buf, size);
}
char* scsi_probe::get_optical_dvdrom_capability(char* buf, int size) {
  return get_optical_dvdrom_read() ? copy_text("Read", buf, size) : empty(buf, size);
}
char* scsi_probe::get_optical_dvdr_capability(char* buf, int size) {
  return generic_optical_drive_capability(OPTICAL_DVDR_READ, buf, size);
}
char* scsi_probe::get_optical_dvdram_capability(char* buf, int size) {
  return generic_optical_drive_capability(OPTICAL_DVDRAM_READ, buf, size);
}

bool scsi_probe::get_optical_cdr_read() { return get_optical_drive_capabilities() & OPTICAL_CDR_READ; }
bool scsi_probe::get_optical_cdr_write() { return get_optical_drive_capabilities() & OPTICAL_CDR_WRITE; }
bool scsi_probe::get_optical_cdrw_read() { return get_optical_drive_capabilities() & OPTICAL_CDRW_READ; }
bool scsi_probe::get_optical_cdrw_write() { return get_optical_drive_capabilities() & OPTICAL_CDRW_WRITE; }
bool scsi_probe::get_optical_dvdrom_read() { return get_optical_drive_capabilities() & OPTICAL_DVDROM_READ; }
bool scsi_probe::get_optical_dvdr_read() { return get_optical_drive_capabilities() & OPTICAL_DVDR_READ; }
bool scsi_probe::get_optical_dvdr_write() { return get_optical_drive_capabilities() & OPTICAL_DVDR_WRITE; }
bool scsi_probe::get_optical_dvdram_read() { return get_optical_drive_capabilities() & OPTICAL_DVDRAM_READ; }
bool scsi_probe::get_optical_dvdram_write() { return get_optical_drive_capabilities() & OPTICAL_DVDRAM_WRITE; }

bool scsi_probe::is_blacklisted() { return current && current->blacklisted; }

bool scsi_probe::check_blacklist(const blacklist_t* table) {
  char vendor[9], model[17], revision[5];
  get_vendor(vendor, sizeof vendor);
  get_model(model, sizeof model);
  get_revision(revision, sizeof revision);
  return scsi_blacklisted(table, vendor, model, revision);
}
