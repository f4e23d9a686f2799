// scsi_linux.h - the device scan over the SCSI generic nodes and the command
// transport through the generic driver's version-2 header interface.
#pragma once

#include <sys/types.h>

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

/// The real nodes under the system root.
scsi_node_io& system_node_io();

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
