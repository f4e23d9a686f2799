// scsi_linux.h - the device scan over the SCSI generic nodes and the command
// transport through the generic driver's version-2 header interface.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "scsi.h"

/// The operations on device nodes the scan and the transport need. The
/// system one acts on the nodes under the system root; tests put a fake
/// device in its place.
class scsi_node_io {
 public:
  virtual ~scsi_node_io() = default;
  /// Opens a node (platform path) non-blocking, read-only, or read-write
  /// with the non-blocking flag then cleared. A read-write open is refused
  /// for anything but a character device. Returns a descriptor or -1 (errno set).
  virtual int open_node(const char* path, bool read_write) = 0;
  virtual void close_node(int fd) = 0;
  /// SCSI_IOCTL_GET_IDLUN: 0, or -1 with errno set.
  virtual int get_idlun(int fd, unsigned* dev_id, unsigned* host_unique_id) = 0;
  /// SCSI_IOCTL_GET_BUS_NUMBER: 0, or -1 with errno set.
  virtual int get_bus_number(int fd, int* bus) = 0;
  virtual ssize_t write_node(int fd, const void* data, size_t length) = 0;
  virtual ssize_t read_node(int fd, void* data, size_t length) = 0;
};

/// The nodes of the system being reported: the real ones under the system
/// root; in a capture, the real ones with their answers kept; in a replay,
/// the capture's records.
scsi_node_io& system_node_io();

/// What a capture keeps of one node, in its record "scsi-NAME" (NAME the
/// node's name under /dev), one line each:
///   idlun DEV_ID HOST_UNIQUE_ID    or  idlun error ERRNO
///   bus NUMBER                     or  bus error ERRNO
///   command CDB LENGTH REPLY       or  command CDB LENGTH error ERRNO
/// CDB and REPLY in hexadecimal; REPLY is the generic driver's header (its
/// statuses and sense bytes) and LENGTH bytes of answer.
struct scsi_record {
  int idlun_error = -1;  ///< -1: never asked
  unsigned dev_id = 0, host_unique_id = 0;
  int bus_error = -1;
  int bus = 0;
  struct answer {
    int error = 0;
    std::vector<unsigned char> reply;
  };
  /// By command: "CDB LENGTH"; the first answer of each is kept.
  std::map<std::string, answer> answers;
};
/// Reads a record; false, with the line at fault in `why`, unless every
/// line is whole and valid.
bool scsi_parse_record(const std::string& text, scsi_record* out, std::string* why);
/// The record of a node's path ("" for a path that names none).
std::string scsi_record_name(const char* path);

/// Node operations that pass every call to `inner` and keep each answer in
/// the capture's records.
class scsi_recording_io : public scsi_node_io {
 public:
  explicit scsi_recording_io(scsi_node_io& inner_io) : inner(inner_io) {}
  int open_node(const char* path, bool read_write) override;
  void close_node(int fd) override;
  int get_idlun(int fd, unsigned* dev_id, unsigned* host_unique_id) override;
  int get_bus_number(int fd, int* bus) override;
  ssize_t write_node(int fd, const void* data, size_t length) override;
  ssize_t read_node(int fd, void* data, size_t length) override;

 private:
  void keep(int fd, const std::string& line);
  scsi_node_io& inner;
  std::map<int, std::string> record_of;  ///< open descriptor: its record
  std::map<int, std::string> pending;    ///< descriptor: CDB of the command written
};

/// Node operations answered from the records of the capture being replayed:
/// a node without a record does not open, and nothing is sent anywhere.
class scsi_replay_io : public scsi_node_io {
 public:
  int open_node(const char* path, bool read_write) override;
  void close_node(int fd) override;
  int get_idlun(int fd, unsigned* dev_id, unsigned* host_unique_id) override;
  int get_bus_number(int fd, int* bus) override;
  ssize_t write_node(int fd, const void* data, size_t length) override;
  ssize_t read_node(int fd, void* data, size_t length) override;

 private:
  struct open_record {
    scsi_record record;
    std::string pending;
  };
  std::map<int, open_record> open;
};

/// Replaces the node operations of later scans (null: the system's). For tests.
void scsi_set_node_io(scsi_node_io* io);

/// Size of the version-2 generic driver header.
enum { SG_HEADER_SIZE = 36 };

/// The fields of a version-2 header.
struct sg_reply_status {
  int pack_len, reply_len, pack_id, result;
  int target_status, host_status, driver_status, other;
  unsigned char sense[16];
};
/// Builds the request: header (pack_len, reply_len for `response_length`
/// bytes of answer) followed by the CDB. out must hold SG_HEADER_SIZE + cdb_length.
void sg_build_request(const unsigned char* cdb, int cdb_length, int response_length, unsigned char* out);
/// Reads the header of a reply of at least SG_HEADER_SIZE bytes.
sg_reply_status sg_parse_reply(const unsigned char* reply);
/// True when the command succeeded: all three statuses 0, or a CHECK
/// CONDITION / COMMAND TERMINATED / driver sense whose sense key is 1
/// (an error the device recovered from).
bool sg_status_ok(const sg_reply_status& s);

class scsi_linux_probe : public scsi_probe {
 public:
  /// Scans the generic nodes through the current node operations.
  static scsi_linux_probe* open();
  ~scsi_linux_probe() override;

  int send_command(const unsigned char* cdb, int cdb_length, unsigned char* buffer, int buffer_length,
                   int* returned_length) override;
  char* get_device_name(char* buf, int size) override;
  bool get_current() override;

 private:
  /// One generic node: its path, mapped class device, descriptor and ids.
  struct transport_struct {
    char generic_path[64];
    char mapped_path[64];
    int fd;
    unsigned dev_id;
    unsigned host_unique_id;
    int bus;
  };

  explicit scsi_linux_probe(scsi_node_io& io);
  void scan();
  void map_class_devices();

  scsi_node_io& io;
  transport_struct* transports;
  transport_struct* current_transport;
  bool alphabetic;
};
