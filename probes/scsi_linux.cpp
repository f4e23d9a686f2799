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

#include "capture.h"
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
  static scsi_replay_io* replay = new scsi_replay_io;
  static scsi_recording_io* recording = new scsi_recording_io(*io);
  static scsi_recording_io* recording_replay = new scsi_recording_io(*replay);
  if (capture_active()) return replay_active() ? *recording_replay : *recording;
  if (replay_active()) return *replay;
  return *io;
}

namespace {

/// Largest answer a record may hold for one command.
const unsigned long RECORD_ANSWER_LIMIT = 1u << 20;

std::string hex_of(const void* data, size_t length) {
  static const char digits[] = "0123456789abcdef";
  const unsigned char* p = static_cast<const unsigned char*>(data);
  std::string out;
  out.reserve(length * 2);
  for (size_t i = 0; i < length; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

bool bytes_of(const std::string& hex, std::vector<unsigned char>* out) {
  out->clear();
  if (hex.size() % 2) return false;
  for (size_t i = 0; i < hex.size(); i += 2) {
    int v = 0;
    for (int k = 0; k < 2; ++k) {
      char c = hex[i + k];
      int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (d < 0) return false;
      v = v * 16 + d;
    }
    out->push_back(static_cast<unsigned char>(v));
  }
  return true;
}

/// A whole decimal number of at most `max`.
bool number_of(const std::string& text, unsigned long max, unsigned long* out) {
  if (text.empty() || text.size() > 10) return false;
  unsigned long long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v > max) return false;
  *out = static_cast<unsigned long>(v);
  return true;
}

std::vector<std::string> words_of(const std::string& line) {
  std::vector<std::string> words;
  size_t at = 0;
  for (;;) {
    size_t blank = line.find(' ', at);
    words.push_back(line.substr(at, blank == std::string::npos ? std::string::npos : blank - at));
    if (blank == std::string::npos) return words;
    at = blank + 1;
  }
}

/// Reads one line of a record into `r`.
bool parse_record_line(const std::string& line, scsi_record* r) {
  std::vector<std::string> w = words_of(line);
  unsigned long a = 0, b = 0;
  bool error = w.size() == 3 && w[1] == "error" && number_of(w[2], 4095, &a) && a > 0;
  if (w[0] == "idlun") {
    if (error) return r->idlun_error = static_cast<int>(a), true;
    if (w.size() != 3 || !number_of(w[1], 0xFFFFFFFFul, &a) || !number_of(w[2], 0xFFFFFFFFul, &b)) return false;
    r->idlun_error = 0;
    r->dev_id = static_cast<unsigned>(a);
    r->host_unique_id = static_cast<unsigned>(b);
    return true;
  }
  if (w[0] == "bus") {
    if (error) return r->bus_error = static_cast<int>(a), true;
    if (w.size() != 2 || !number_of(w[1], 0x7FFFFFFFul, &a)) return false;
    r->bus_error = 0;
    r->bus = static_cast<int>(a);
    return true;
  }
  std::vector<unsigned char> cdb;
  if (w[0] != "command" || (w.size() != 4 && w.size() != 5) || !bytes_of(w[1], &cdb) || cdb.empty() ||
      cdb.size() > 16 || !number_of(w[2], RECORD_ANSWER_LIMIT, &a))
    return false;
  scsi_record::answer answer;
  if (w.size() == 5) {
    if (w[3] != "error" || !number_of(w[4], 4095, &b) || b == 0) return false;
    answer.error = static_cast<int>(b);
  } else if (!bytes_of(w[3], &answer.reply) || answer.reply.size() != SG_HEADER_SIZE + a) {
    return false;
  }
  r->answers.emplace(w[1] + " " + w[2], answer);
  return true;
}

}  // namespace

bool scsi_parse_record(const std::string& text, scsi_record* out, std::string* why) {
  *out = scsi_record();
  size_t at = 0;
  for (int number = 1; at < text.size(); ++number) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos || !parse_record_line(text.substr(at, end - at), out)) {
      *why = "line " + std::to_string(number);
      return false;
    }
    at = end + 1;
  }
  return true;
}

std::string scsi_record_name(const char* path) {
  std::string name = without_dev_prefix(path ? path : "");
  if (name.empty() || name == path || name.find('/') != std::string::npos || name[0] == '.') return "";
  return "scsi-" + name;
}

void scsi_recording_io::keep(int fd, const std::string& line) {
  auto it = record_of.find(fd);
  if (it == record_of.end()) return;
  std::string text = line + "\n";
  capture_append_record(it->second.c_str(), text.data(), text.size());
}

int scsi_recording_io::open_node(const char* path, bool read_write) {
  int fd = inner.open_node(path, read_write);
  std::string name = scsi_record_name(path);
  if (fd >= 0 && !name.empty()) record_of[fd] = name;
  return fd;
}

void scsi_recording_io::close_node(int fd) {
  record_of.erase(fd);
  pending.erase(fd);
  inner.close_node(fd);
}

int scsi_recording_io::get_idlun(int fd, unsigned* dev_id, unsigned* host_unique_id) {
  int rc = inner.get_idlun(fd, dev_id, host_unique_id);
  int e = errno;
  keep(fd, rc == 0 ? "idlun " + std::to_string(*dev_id) + " " + std::to_string(*host_unique_id)
                   : "idlun error " + std::to_string(e > 0 && e < 4096 ? e : EIO));
  errno = e;
  return rc;
}

int scsi_recording_io::get_bus_number(int fd, int* bus) {
  int rc = inner.get_bus_number(fd, bus);
  int e = errno;
  keep(fd, rc == 0 && *bus >= 0 ? "bus " + std::to_string(*bus) : "bus error " + std::to_string(e > 0 && e < 4096 ? e : EIO));
  errno = e;
  return rc;
}

ssize_t scsi_recording_io::write_node(int fd, const void* data, size_t length) {
  ssize_t rc = inner.write_node(fd, data, length);
  pending.erase(fd);
  if (rc == static_cast<ssize_t>(length) && length > SG_HEADER_SIZE && length <= SG_HEADER_SIZE + 16)
    pending[fd] = hex_of(static_cast<const unsigned char*>(data) + SG_HEADER_SIZE, length - SG_HEADER_SIZE);
  return rc;
}

ssize_t scsi_recording_io::read_node(int fd, void* data, size_t length) {
  ssize_t rc = inner.read_node(fd, data, length);
  int e = errno;
  auto it = pending.find(fd);
  if (it != pending.end() && length >= SG_HEADER_SIZE && length - SG_HEADER_SIZE <= RECORD_ANSWER_LIMIT) {
    std::string line = "command " + it->second + " " + std::to_string(length - SG_HEADER_SIZE);
    if (rc == static_cast<ssize_t>(length))
      line += " " + hex_of(data, length);
    else
      line += " error " + std::to_string(rc < 0 && e > 0 && e < 4096 ? e : EIO);
    keep(fd, line);
    pending.erase(it);
  }
  errno = e;
  return rc;
}

int scsi_replay_io::open_node(const char* path, bool) {
  std::string name = scsi_record_name(path);
  int fd = name.empty() || !replay_active() ? -1 : sys_open(replay_record_path(name.c_str()).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    errno = ENOENT;
    return -1;
  }
  std::string text, why;
  char chunk[4096];
  for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0 && text.size() < (4u << 20);) text.append(chunk, n);
  open_record& r = open[fd];
  if (!scsi_parse_record(text, &r.record, &why)) {
    printd("scsi: %s: %s\n", name.c_str(), why.c_str());
    open.erase(fd);
    ::close(fd);
    errno = EIO;
    return -1;
  }
  return fd;
}

void scsi_replay_io::close_node(int fd) {
  if (open.erase(fd)) ::close(fd);
}

int scsi_replay_io::get_idlun(int fd, unsigned* dev_id, unsigned* host_unique_id) {
  auto it = open.find(fd);
  const scsi_record* r = it == open.end() ? nullptr : &it->second.record;
  if (!r || r->idlun_error != 0) {
    errno = r && r->idlun_error > 0 ? r->idlun_error : ENOTTY;
    return -1;
  }
  *dev_id = r->dev_id;
  *host_unique_id = r->host_unique_id;
  return 0;
}

int scsi_replay_io::get_bus_number(int fd, int* bus) {
  auto it = open.find(fd);
  const scsi_record* r = it == open.end() ? nullptr : &it->second.record;
  if (!r || r->bus_error != 0) {
    errno = r && r->bus_error > 0 ? r->bus_error : ENOTTY;
    return -1;
  }
  *bus = r->bus;
  return 0;
}

ssize_t scsi_replay_io::write_node(int fd, const void* data, size_t length) {
  auto it = open.find(fd);
  if (it == open.end() || length <= SG_HEADER_SIZE || length > SG_HEADER_SIZE + 16) {
    errno = EIO;
    return -1;
  }
  it->second.pending = hex_of(static_cast<const unsigned char*>(data) + SG_HEADER_SIZE, length - SG_HEADER_SIZE);
  return static_cast<ssize_t>(length);
}

ssize_t scsi_replay_io::read_node(int fd, void* data, size_t length) {
  auto it = open.find(fd);
  if (it == open.end() || it->second.pending.empty() || length < SG_HEADER_SIZE) {
    errno = EIO;
    return -1;
  }
  std::string key = it->second.pending + " " + std::to_string(length - SG_HEADER_SIZE);
  it->second.pending.clear();
  auto answer = it->second.record.answers.find(key);
  if (answer == it->second.record.answers.end() || answer->second.error) {
    errno = answer == it->second.record.answers.end() ? EIO : answer->second.error;
    return -1;
  }
  if (answer->second.reply.size() != length) {
    errno = EIO;
    return -1;
  }
  memcpy(data, answer->second.reply.data(), length);
  return static_cast<ssize_t>(length);
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
