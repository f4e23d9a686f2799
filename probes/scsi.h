// scsi.h - devices reachable through the SCSI generic driver: identification,
// serial number, capacity and the abilities of CD/DVD drives.
//
// scsi_probe is the platform-neutral part (device list, cursor, command
// decoding); scsi_linux_probe (scsi_linux.h) finds the devices and carries
// the commands. The answer decoders are pure functions over the bytes a
// device returned.
#pragma once

#include <cstdint>

/// One device found.
struct scsi_device_struct {
  int host;
  int channel;
  int target;
  int lun;
  /// Byte 0 of the standard INQUIRY data, peripheral qualifier included.
  int type;
  unsigned char inquiry[255];
  /// MODE SENSE page 0x2A byte 2 (read abilities) in bits 0..7, byte 3
  /// (write abilities) in bits 8..15.
  unsigned optical_capabilities;
  bool blacklisted;
};

/// A device excluded from MODE SENSE; a null field matches anything. A list
/// ends with an entry of three nulls.
struct blacklist_t {
  const char* vendor;
  const char* model;
  const char* revision;
};

/// Peripheral type names, indexed by the type.
extern const char* const scsi_device_types[14];

// Optical ability bits of the capability word.
enum {
  OPTICAL_CDR_READ = 0x0001,
  OPTICAL_CDRW_READ = 0x0002,
  OPTICAL_DVDROM_READ = 0x0008,
  OPTICAL_DVDR_READ = 0x0010,
  OPTICAL_DVDRAM_READ = 0x0020,
  OPTICAL_CDR_WRITE = 0x0100,
  OPTICAL_CDRW_WRITE = 0x0200,
  OPTICAL_DVDR_WRITE = 0x1000,
  OPTICAL_DVDRAM_WRITE = 0x2000
};

// Answer decoders: any bytes, any length (null data with length 0 allowed).

/// The unit serial number of a page-0x80 answer into out (size > 0): the
/// byte-3 count of characters from byte 4, bounded by the bytes returned and
/// by out. Empty (and -1) when the answer is not page 0x80 or when its byte
/// 4 equals byte 4 of the standard data (a device that ignores EVPD returns
/// its standard data). Returns the length.
int scsi_decode_serial(const unsigned char* answer, int length, const unsigned char* standard,
                       int standard_length, char* out, int size);
/// READ CAPACITY(10): last logical block address and block length; false
/// when fewer than 8 bytes.
bool scsi_decode_capacity10(const unsigned char* answer, int length, uint32_t* last_lba,
                            uint32_t* block_length);
/// READ CAPACITY(16): the same with a 64-bit address; false when fewer than 12 bytes.
bool scsi_decode_capacity16(const unsigned char* answer, int length, uint64_t* last_lba,
                            uint32_t* block_length);
/// MODE SENSE(10) page 0x2A: the capability word. 0 when found; 1 when the
/// device does not report the page (the word is then 0).
int scsi_decode_mode_sense(const unsigned char* answer, int length, unsigned* capabilities);
/// An INQUIRY text field (bytes offset..offset+width-1) into out: stops at a
/// NUL, control bytes become ".", trimmed of white space at both ends.
char* scsi_inquiry_text(const unsigned char* inquiry, int length, int offset, int width, char* out,
                        int size);
/// True when vendor, model and revision match an entry, ignoring case.
bool scsi_blacklisted(const blacklist_t* table, const char* vendor, const char* model,
                      const char* revision);

class scsi_probe {
 public:
  /// The shared instance, made by a scan when there is none; counts users.
  static scsi_probe* open();
  /// From the fifth user on, discards the scan (the next open scans again).
  static void close();
  /// Discards the scan and forgets the users (tests; end of run).
  static void discard();
  /// True once a scan has found a device (until discard).
  static bool found_devices() { return ever_found; }

  virtual int get_device_count();
  /// Devices of type 5 (CD-ROM).
  virtual int get_optical_drive_count();
  virtual bool get_first();
  virtual bool get_next();
  /// Sends a command to the current device; 0 and the response length in
  /// returned_length on success, negative on failure.
  virtual int send_command(const unsigned char* cdb, int cdb_length, unsigned char* buffer,
                           int buffer_length, int* returned_length) = 0;
  virtual char* get_device_name(char* buf, int size) = 0;
  virtual int get_host();
  virtual int get_channel();
  virtual int get_target();
  virtual int get_lun();
  virtual int get_type();
  virtual char* get_type(char* buf, int size);
  virtual char* get_vendor(char* buf, int size);
  virtual char* get_model(char* buf, int size);
  virtual char* get_revision(char* buf, int size);
  virtual char* get_serial(char* buf, int size);
  virtual char* get_capacity(char* buf, int size);
  /// Reads MODE SENSE page 0x2A of a CD-ROM device: 0 on success, negative
  /// for another type, a blacklisted drive or a failed command.
  virtual int read_optical_drive_capabilities();
  virtual unsigned get_optical_drive_capabilities();
  virtual char* get_optical_cdr_capability(char* buf, int size);
  virtual char* get_optical_cdrw_capability(char* buf, int size);
  virtual char* get_optical_dvdrom_capability(char* buf, int size);
  virtual char* get_optical_dvdr_capability(char* buf, int size);
  virtual char* get_optical_dvdram_capability(char* buf, int size);
  virtual bool get_optical_cdr_read();
  virtual bool get_optical_cdr_write();
  virtual bool get_optical_cdrw_read();
  virtual bool get_optical_cdrw_write();
  virtual bool get_optical_dvdrom_read();
  virtual bool get_optical_dvdr_read();
  virtual bool get_optical_dvdr_write();
  virtual bool get_optical_dvdram_read();
  virtual bool get_optical_dvdram_write();
  /// "Write" when the write bit (mask x 256) is set, else "Read" when the
  /// read bit is set, else "".
  virtual char* generic_optical_drive_capability(unsigned mask, char* buf, int size);
  virtual ~scsi_probe();
  /// Selects the record at the cursor; false when there is none.
  virtual bool get_current();
  virtual bool is_blacklisted();
  virtual bool check_blacklist(const blacklist_t* table);

 protected:
  scsi_probe();
  scsi_probe(const scsi_probe&) = delete;
  scsi_probe& operator=(const scsi_probe&) = delete;

  int device_count;
  scsi_device_struct* devices;
  scsi_device_struct* current;
  int current_index;

 private:
  static scsi_probe* instance;
  static int use_count;
  static bool ever_found;
};
