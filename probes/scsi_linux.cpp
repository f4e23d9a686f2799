// scsi_linux.cpp - finding the devices behind the SCSI generic nodes and
// sending them commands through the version-2 header read/write interface.
//
// Only INQUIRY, READ CAPACITY and MODE SENSE are ever sent; all of them only
// read from the device.
#include "scsi_linux.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "debug.h"
#include "platform_paths.h"
#include "sysroot.h"
#include "util_string.h"

static_assert(sizeof(sg_header) == SG_HEADER_SIZE, "version-2 generic driver header");

namespace {

const unsigned long IOCTL_GET_IDLUN = 0x5382;
const unsigned long IOCTL_GET_BUS_NUMBER = 0x5386;
// Status codes as the version-2 header carries them (the status byte
// shifted right by one).
const int STATUS_CHECK_CONDITION = 0x01;
const int STATUS_COMMAND_TERMINATED = 0x11;
const int DRIVER_STATUS_SENSE = 0x08;
const int NODE_COUNT = 256;
/// Major number of the generic SCSI character devices.
const int GENERIC_SCSI_MAJOR = 21;

class system_io : public scsi_node_io {
 public:
  int open_node(const char* path, bool read_write) override {
    // Requests are written to a node opened for commands: it must be a
    // generic SCSI device, never a file or another device that a write would
    // reach. Under a system root no other node is opened at all.
    bool generic = read_write || sysroot_is_set();
    int fd = generic ? sys_open_kind(path, (read_write ? O_RDWR : O_RDONLY) | O_NONBLOCK, SYS_CHAR_DEVICE,
                                     GENERIC_SCSI_MAJOR)
                     : sys_open(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0 || !read_write) return fd;
    int flags = fcntl(fd, F_GETFL);
    if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
  }
  void close_node(int fd) override { ::close(fd); }
  int get_idlun(int fd, unsigned* dev_id, unsigned* host_unique_id) override {
    unsigned idlun[2] = {0, 0};
    if (ioctl(fd, IOCTL_GET_IDLUN, idlun) < 0) return -1;
    *dev_id = idlun[0];
    *host_unique_id = idlun[1];
    return 0;
  }
  int get_bus_number(int fd, int* bus) override { return ioctl(fd, IOCTL_GET_BUS_NUMBER, bus) < 0 ? -1 : 0; }
  ssize_t write_node(int fd, const void* data, size_t length) override { return ::write(fd, data, length); }
  ssize_t read_node(int fd, void* data, size_t length) override { return ::read(fd, data, length); }
};

scsi_node_io* installed_io = nullptr;

void node_name(char* out, int size, const char* base, int index, alphanum_t style) {
  make_device_name(out, size, platform_path::dev_dir, base, nullptr, index, style);
}

const char* without_dev_prefix(const char* path) {
  size_t n = strlen(platform_path::dev_dir);
  return strncmp(path, platform_path::dev_dir, n) == 0 ? path + n : path;
}

}  // namespace

scsi_node_io& system_node_io() {
  // Never destroyed: a scan still open at exit closes its descriptors through it.
  static system_io* io = new system_io;
  return *io;
}

void scsi_set_node_io(scsi_node_io* io) { installed_io = io; }

void sg_build_request(const unsigned char* cdb, int cdb_length, int response_length, unsigned char* out) {
  sg_header h;
  memset(&h, 0, sizeof h);
  h.pack_len = SG_HEADER_SIZE + cdb_length;
  h.reply_len = SG_HEADER_SIZE + response_length;
  memcpy(out, &h, sizeof h);
  memcpy(out + SG_HEADER_SIZE, cdb, static_cast<size_t>(cdb_length));
}

sg_reply_status sg_parse_reply(const unsigned char* reply) {
  sg_header h;
  memcpy(&h, reply, sizeof h);
  sg_reply_status s;
  s.pack_len = h.pack_len;
  s.reply_len = h.reply_len;
  s.pack_id = h.pack_id;
  s.result = h.result;
  s.target_status = h.target_status;
  s.host_status = h.host_status;
  s.driver_status = h.driver_status;
  s.other = h.other_flags;
  memcpy(s.sense, h.sense_buffer, sizeof s.sense);
  return s;
}

bool sg_status_ok(const sg_reply_status& s) {
  if (s.target_status == 0 && s.host_status == 0 && s.driver_status == 0) return true;
  if (s.target_status == STATUS_CHECK_CONDITION || s.target_status == STATUS_COMMAND_TERMINATED ||
      s.driver_status == DRIVER_STATUS_SENSE)
    return (s.sense[2] & 0x0F) == 1;
  return false;
}

scsi_linux_probe* scsi_linux_probe::open() {
  scsi_linux_probe* p = new scsi_linux_probe(installed_io ? *installed_io : system_node_io());
  p->scan();
  return p;
}

scsi_linux_probe::scsi_linux_probe(scsi_node_io& node_io)
    : io(node_io), transports(nullptr), current_transport(nullptr), alphabetic(false) {}

scsi_linux_probe::~scsi_linux_probe() {
  for (int i = 0; transports && i < device_count; ++i)
    if (transports[i].fd >= 0) io.close_node(transports[i].fd);
  delete[] transports;
}

void scsi_linux_probe::scan() {
  char path[64];
  int count = 0;
  printd("scsi: counting /dev/sg\n");
  for (int pass = 0; pass < 2 && count == 0; ++pass) {
    alphabetic = pass == 1;
    if (alphabetic) printd("scsi: no sg devices found, trying sga-z\n");
    for (int i = 0; i < NODE_COUNT; ++i) {
      node_name(path, sizeof path, "sg", i, alphabetic ? ALPHABETIC : NUMERIC);
      int fd = io.open_node(path, false);
      if (fd < 0) continue;
      printd("scsi: found %s\n", path);
      ++count;
      io.close_node(fd);
    }
  }
  printd("scsi: device_count = %d\n", count);
  if (count == 0) return;

  devices = new scsi_device_struct[count]();
  transports = new transport_struct[count]();
  for (int i = 0; i < count; ++i) transports[i].fd = -1;
  // Only records whose node opened for commands count: a node that opens
  // for reading but not for writing leaves no record behind.
  int filled = 0;
  for (int i = 0; i < NODE_COUNT && filled < count; ++i) {
    node_name(path, sizeof path, "sg", i, alphabetic ? ALPHABETIC : NUMERIC);
    int fd = io.open_node(path, true);
    if (fd < 0) {
      if (errno != ENODEV && errno != ENOENT && errno != ENXIO) print_error(path, errno);
      continue;
    }
    transport_struct& t = transports[filled];
    scsi_device_struct& d = devices[filled];
    snprintf(t.generic_path, sizeof t.generic_path, "%s", path);
    t.fd = fd;
    if (io.get_idlun(fd, &t.dev_id, &t.host_unique_id) == 0) {
      d.target = t.dev_id & 0xFF;
      d.lun = (t.dev_id >> 8) & 0xFF;
      d.channel = (t.dev_id >> 16) & 0xFF;
    } else {
      print_error("scsi: SCSI_IOCTL_GET_IDLUN", errno);
    }
    if (io.get_bus_number(fd, &t.bus) == 0)
      d.host = t.bus;
    else
      print_error("scsi: SCSI_IOCTL_GET_BUS_NUMBER", errno);
    device_count = ++filled;
    current_index = filled - 1;
    get_current();
    static const unsigned char inquiry[6] = {0x12, 0, 0, 0, 0xFF, 0};
    int returned = 0;
    if (send_command(inquiry, sizeof inquiry, d.inquiry, sizeof d.inquiry, &returned) >= 0) d.type = d.inquiry[0];
  }
  map_class_devices();
  current_index = 0;
  get_current();
}

void scsi_linux_probe::map_class_devices() {
  static const struct {
    const char* name;
    alphanum_t style;
    int count;
  } classes[] = {{"sd", ALPHABETIC, 128}, {"scd", NUMERIC, 256}, {"sr", NUMERIC, 256},
                 {"nst", NUMERIC, 32},    {"nosst", NUMERIC, 32}, {"sch", NUMERIC, 256}};
  char path[64];
  for (const auto& c : classes) {
    for (int i = 0; i < c.count; ++i) {
      node_name(path, sizeof path, c.name, i, c.style);
      int fd = io.open_node(path, false);
      if (fd < 0) continue;
      unsigned dev_id = 0, unique = 0;
      int bus = 0;
      if (io.get_idlun(fd, &dev_id, &unique) == 0) {
        if (io.get_bus_number(fd, &bus) != 0) bus = 0;
        for (int k = 0; k < device_count; ++k) {
          transport_struct& t = transports[k];
          if (t.bus == bus && t.dev_id == dev_id && t.host_unique_id == unique) {
            snprintf(t.mapped_path, sizeof t.mapped_path, "%s", path);
            printd("scsi: %s maps to %s\n", t.generic_path, path);
          }
        }
      }
      io.close_node(fd);
    }
  }
}

bool scsi_linux_probe::get_current() {
  bool found = scsi_probe::get_current();
  current_transport = found ? &transports[current_index] : nullptr;
  return found;
}

char* scsi_linux_probe::get_device_name(char* buf, int size) {
  if (!buf || size <= 0) return buf;
  const char* path = "";
  if (current_transport)
    path = current_transport->mapped_path[0] ? current_transport->mapped_path : current_transport->generic_path;
  snprintf(buf, static_cast<size_t>(size), "%s", without_dev_prefix(path));
  return buf;
}

int scsi_linux_probe::send_command(const unsigned char* cdb, int cdb_length, unsigned char* buffer,
                                   int buffer_length, int* returned_length) {
  if (returned_length) *returned_length = 0;
  // A command goes to an open node or nowhere.
  if (!current_transport || current_transport->fd < 0 || !cdb || cdb_length <= 0 || cdb_length > 16 ||
      buffer_length < 0 || (buffer_length > 0 && !buffer))
    return -1;
  int fd = current_transport->fd;
  std::vector<unsigned char> request(SG_HEADER_SIZE + cdb_length);
  sg_build_request(cdb, cdb_length, buffer_length, request.data());
  ssize_t rc = io.write_node(fd, request.data(), request.size());
  printd("scsi: write, rc = %d\n", static_cast<int>(rc));
  if (rc < 0) {
    print_error("scsi: write", errno);
    return -1;
  }
  if (static_cast<size_t>(rc) != request.size()) {
    printd("scsi: short write, %d of %d\n", static_cast<int>(rc), static_cast<int>(request.size()));
    return -1;
  }
  std::vector<unsigned char> reply(SG_HEADER_SIZE + buffer_length);
  rc = io.read_node(fd, reply.data(), reply.size());
  printd("scsi: read, rc = %d\n", static_cast<int>(rc));
  if (rc < 0) {
    print_error("scsi: read", errno);
    return -1;
  }
  if (static_cast<size_t>(rc) != reply.size()) {
    printd("scsi: short read, %d of %d\n", static_cast<int>(rc), static_cast<int>(reply.size()));
    return -1;
  }
  sg_reply_status s = sg_parse_reply(reply.data());
  printd("scsi:\tpack_len: %d\nscsi:\treply_len: %d\nscsi:\tpack_id: %d\nscsi:\tresult: %d\n"
         "scsi:\ttarget_status: %d\nscsi:\thost_status: %d\nscsi:\tdriver_status: %d\nscsi:\tother: %d\n",
         s.pack_len, s.reply_len, s.pack_id, s.result, s.target_status, s.host_status, s.driver_status,
         s.other);
  print_hexdump("RESPONSE", reply.data() + SG_HEADER_SIZE, buffer_length, "scsi: ");
  if (!sg_status_ok(s)) return -1;
  if (buffer_length > 0) memcpy(buffer, reply.data() + SG_HEADER_SIZE, static_cast<size_t>(buffer_length));
  if (returned_length) *returned_length = buffer_length;
  return 0;
}
