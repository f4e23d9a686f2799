// net_link_linux.cpp - routing netlink conversations and the interface records.
#include "net_link_linux.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>

#include "capture.h"
#include "debug.h"
#include "sysroot.h"
#include "util_string.h"

namespace {

/// Smallest receive buffer; a datagram announced larger grows it.
const size_t NETLINK_MIN_BUFFER = 32768;
const int NETLINK_RECEIVE_SECONDS = 10;
/// Largest message of a record: far more than any the kernel sends.
const uint32_t NETLINK_RECORD_MESSAGE_LIMIT = 1u << 20;

uint32_t get_u32(const unsigned char* p) {
  uint32_t v;
  memcpy(&v, p, sizeof v);
  return v;
}

uint16_t get_u16(const unsigned char* p) {
  uint16_t v;
  memcpy(&v, p, sizeof v);
  return v;
}

const char* request_name(int request) {
  switch (request) {
    case RTNL_GET_LINK: return "RTM_GETLINK";
    case RTNL_GET_ADDR: return "RTM_GETADDR";
    case RTNL_GET_ROUTE: return "RTM_GETROUTE";
  }
  return "RTM_GET";
}

}  // namespace

netlink_buffer* netlink_open() {
  netlink_buffer* buffer = new netlink_buffer;
  buffer->data.assign(NETLINK_MIN_BUFFER, 0);
  buffer->socket = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (buffer->socket < 0) {
    print_error("net: socket", errno);
    netlink_close(buffer);
    return nullptr;
  }
  // Port id 0: the kernel picks one unique to this socket.
  sockaddr_nl local;
  memset(&local, 0, sizeof local);
  local.nl_family = AF_NETLINK;
  bind(buffer->socket, reinterpret_cast<sockaddr*>(&local), sizeof local);
  // The kernel answers at once; a receive that waits this long ends the dump
  // rather than the run.
  timeval limit = {NETLINK_RECEIVE_SECONDS, 0};
  setsockopt(buffer->socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  return buffer;
}

std::string netlink_record_name(int type, int family) {
  const char* kind = type == RTNL_GET_LINK ? "link" : type == RTNL_GET_ADDR ? "addr" : type == RTNL_GET_ROUTE ? "route" : "";
  const char* name = family == AF_INET ? "inet" : family == AF_INET6 ? "inet6" : "";
  if (!*kind) return "netlink-" + std::to_string(type) + "-" + (*name ? name : std::to_string(family));
  return std::string("netlink-") + kind + "-" + (*name ? name : std::to_string(family));
}

int netlink_record_next(FILE* record, netlink_buffer* buffer, std::string* why) {
  unsigned char header[NL_HEADER_SIZE];
  size_t got = fread(header, 1, sizeof header, record);
  if (got == 0 && !ferror(record)) return 1;
  std::string where = " at offset " + std::to_string(static_cast<unsigned long long>(buffer->replay_offset));
  if (got < sizeof header) {
    *why = "message header cut short" + where;
    return -1;
  }
  uint32_t length = get_u32(header);
  if (length < NL_HEADER_SIZE || length > NETLINK_RECORD_MESSAGE_LIMIT) {
    *why = "message length " + std::to_string(length) + where;
    return -1;
  }
  if (buffer->data.size() < length) buffer->data.resize(length);
  memcpy(buffer->data.data(), header, sizeof header);
  size_t body = length - NL_HEADER_SIZE;
  if (fread(buffer->data.data() + NL_HEADER_SIZE, 1, body, record) != body) {
    *why = "message of " + std::to_string(length) + " bytes cut short" + where;
    return -1;
  }
  // The padding to the next message; the record may end without it.
  unsigned char pad[3];
  size_t padding = (4 - length % 4) % 4;
  if (padding && fread(pad, 1, padding, record) != padding && ferror(record)) {
    *why = "record unreadable" + where;
    return -1;
  }
  buffer->replay_offset += length + padding;
  buffer->received = length;
  buffer->offset = 0;
  return 0;
}

bool netlink_record_check(FILE* record, std::string* why) {
  netlink_buffer buffer;
  int got;
  while ((got = netlink_record_next(record, &buffer, why)) == 0) {
  }
  return got == 1;
}

netlink_buffer* netlink_open_dump(int type, int family) {
  std::string name = netlink_record_name(type, family);
  if (!replay_active()) {
    netlink_buffer* buffer = netlink_open();
    if (buffer && capture_active()) buffer->record = name;
    return buffer;
  }
  FILE* record = sys_fopen(replay_record_path(name.c_str()).c_str(), "rb");
  if (!record) return nullptr;
  netlink_buffer* buffer = new netlink_buffer;
  buffer->replay = record;
  if (capture_active()) buffer->record = name;
  buffer->request = type;
  // The answers carry the sequence number of the capturing run's request.
  std::string why;
  int got = netlink_record_next(record, buffer, &why);
  buffer->sequence = got == 0 ? get_u32(buffer->data.data() + 8) : 1;
  if (got == 0 && !buffer->record.empty())
    capture_append_record(buffer->record.c_str(), buffer->data.data(), buffer->received);
  if (buffer->sequence == 0) buffer->sequence = 1;
  if (got < 0) printd("net: %s: %s\n", name.c_str(), why.c_str());
  if (got != 0) buffer->received = 0;
  printd("net: %s replayed\n", name.c_str());
  return buffer;
}

void netlink_close(netlink_buffer* buffer) {
  if (!buffer) return;
  if (buffer->replay) fclose(buffer->replay);
  if (buffer->socket >= 0 && close(buffer->socket) != 0) print_error("net: close", errno);
  delete buffer;
}

int netlink_send_message(netlink_buffer* buffer, int type, int family) {
  buffer->received = 0;
  buffer->offset = 0;
  buffer->sequence++;
  if (buffer->sequence == 0) buffer->sequence = 1;
  buffer->request = type;
  unsigned char message[20];
  memset(message, 0, sizeof message);
  nlmsghdr header;
  memset(&header, 0, sizeof header);
  header.nlmsg_len = sizeof message;
  header.nlmsg_type = static_cast<uint16_t>(type);
  header.nlmsg_flags = NLM_F_REQUEST | NLM_F_ROOT | NLM_F_ATOMIC;
  header.nlmsg_seq = buffer->sequence;
  memcpy(message, &header, sizeof header);
  message[NL_HEADER_SIZE] = static_cast<unsigned char>(family);
  sockaddr_nl kernel;
  memset(&kernel, 0, sizeof kernel);
  kernel.nl_family = AF_NETLINK;
  ssize_t sent = sendto(buffer->socket, message, sizeof message, 0,
                        reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
  if (sent < 0) {
    int e = errno;
    print_error("net: sendto", e);
    return e ? -e : -1;
  }
  return 0;
}

int netlink_receive_message(netlink_buffer* buffer) {
  if (buffer->replay) {
    std::string why;
    int got = netlink_record_next(buffer->replay, buffer, &why);
    if (got < 0) printd("net: recorded answer: %s\n", why.c_str());
    if (got != 0) return -1;
    if (!buffer->record.empty()) capture_append_record(buffer->record.c_str(), buffer->data.data(), buffer->received);
    return 0;
  }
  // Bytes handed over by a caller: their end ends the dump.
  if (buffer->socket < 0) return -1;
  for (;;) {
    // The datagram's length first, so that no datagram is ever cut.
    ssize_t announced = recv(buffer->socket, nullptr, 0, MSG_PEEK | MSG_TRUNC);
    if (announced < 0) {
      if (errno == EINTR) continue;
      print_error("net: recvmsg", errno);
      return -1;
    }
    if (static_cast<size_t>(announced) > buffer->data.size())
      buffer->data.resize(static_cast<size_t>(announced));
    sockaddr_nl sender;
    memset(&sender, 0, sizeof sender);
    iovec io = {buffer->data.data(), buffer->data.size()};
    msghdr msg;
    memset(&msg, 0, sizeof msg);
    msg.msg_name = &sender;
    msg.msg_namelen = sizeof sender;
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    ssize_t n = recvmsg(buffer->socket, &msg, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      print_error("net: recvmsg", errno);
      return -1;
    }
    if (n == 0) {
      printd("net: EOF on socket %d\n", buffer->socket);
      return -1;
    }
    if (msg.msg_flags & MSG_TRUNC) {
      printd("net: datagram of more than %zu bytes cut\n", buffer->data.size());
      return -1;
    }
    if (sender.nl_pid != 0) {
      printd("net: datagram from port %u ignored\n", static_cast<unsigned>(sender.nl_pid));
      continue;
    }
    buffer->received = static_cast<size_t>(n);
    buffer->offset = 0;
    if (!buffer->record.empty()) capture_append_record(buffer->record.c_str(), buffer->data.data(), buffer->received);
    return 0;
  }
}

int netlink_validate_message(const unsigned char* message, size_t length, int expected_type,
                             int request) {
  if (length < NL_HEADER_SIZE) return -1;
  int type = get_u16(message + 4);
  if (type == expected_type) return 0;
  if (type == NL_MSG_ERROR) {
    int code = 0;
    if (length >= NL_HEADER_SIZE + 4) {
      int32_t raw;
      memcpy(&raw, message + NL_HEADER_SIZE, sizeof raw);
      code = raw < 0 ? -raw : raw;
    }
    printd("net: %s: %s\n", request_name(request), strerror(code));
    return -1;
  }
  if (type == NL_MSG_DONE) {
    printd("net: Done processing messages\n");
    return 1;
  }
  printd("net: incorrect message type 0x%02x\n", static_cast<unsigned>(type));
  return -1;
}

int netlink_get_message(netlink_buffer* buffer, int type, int family) {
  if (buffer->sequence == 0) {
    int sent = netlink_send_message(buffer, type, family);
    if (sent < 0) return sent;
  }
  if (buffer->offset >= buffer->received) return netlink_receive_message(buffer);
  return 0;
}

namespace {

int netlink_next_message(netlink_buffer* buffer, int request, int family, int expected,
                         const unsigned char** body, size_t* length) {
  for (;;) {
    int got = netlink_get_message(buffer, request, family);
    if (got < 0) return got;
    size_t left = buffer->received - buffer->offset;
    const unsigned char* message = buffer->data.data() + buffer->offset;
    uint32_t message_length = left >= NL_HEADER_SIZE ? get_u32(message) : 0;
    if (message_length < NL_HEADER_SIZE || message_length > left) {
      printd("net: malformed message of length %u at offset %zu\n",
             static_cast<unsigned>(message_length), buffer->offset);
      buffer->offset = buffer->received;
      return -1;
    }
    size_t step = (static_cast<size_t>(message_length) + 3) & ~static_cast<size_t>(3);
    buffer->offset += step < left ? step : left;
    if (get_u32(message + 8) != buffer->sequence) {
      printd("net: message of sequence %u ignored\n", static_cast<unsigned>(get_u32(message + 8)));
      continue;
    }
    int valid = netlink_validate_message(message, message_length, expected, request);
    if (valid != 0) return valid;
    *body = message + NL_HEADER_SIZE;
    *length = message_length - NL_HEADER_SIZE;
    return 0;
  }
}

}  // namespace

int netlink_next_body(netlink_buffer* buffer, int request, int family, int expected,
                      const unsigned char** body, size_t* length) {
  // A dump that ended stays ended: asking again never waits on the socket.
  if (buffer->ended) return buffer->ended;
  int result = netlink_next_message(buffer, request, family, expected, body, length);
  if (result != 0) buffer->ended = result;
  return result;
}

bool rtnl_next_attr(const unsigned char* area, size_t size, size_t* pos, rtnl_attr* out) {
  if (*pos >= size || size - *pos < 4) return false;
  const unsigned char* a = area + *pos;
  size_t length = get_u16(a);
  if (length < 4 || length > size - *pos) return false;
  out->type = get_u16(a + 2) & 0x3FFF;
  out->data = a + 4;
  out->length = length - 4;
  *pos += (length + 3) & ~static_cast<size_t>(3);
  return true;
}

uint32_t rtnl_attr_u32(const rtnl_attr& a) { return a.length >= 4 ? get_u32(a.data) : 0; }

void rtnl_attr_text(const rtnl_attr& a, char* out, size_t size) {
  if (!size) return;
  size_t n = 0;
  while (n < a.length && n + 1 < size && a.data[n]) n++;
  memcpy(out, a.data, n);
  out[n] = '\0';
}

int rtnl_parse_link(const unsigned char* body, size_t length, rtnl_link_info* record) {
  memset(record, 0, sizeof *record);
  // ifinfomsg: family, pad, type (16), index (32), flags (32), change mask (32).
  const size_t fixed = 16;
  if (length < fixed) return -1;
  record->index = static_cast<int32_t>(get_u32(body + 4));
  rtnl_link_type(get_u16(body + 2), record->type, sizeof record->type);
  rtnl_link_flags(get_u32(body + 8), record->flags, sizeof record->flags);
  bool have_stats64 = false;
  size_t pos = fixed;
  rtnl_attr a;
  while (rtnl_next_attr(body, length, &pos, &a)) {
    switch (a.type) {
      case 1:  // hardware address
        rtnl_link_address(a.data, a.length, record->address, sizeof record->address);
        break;
      case 3:  // name
        rtnl_attr_text(a, record->name, sizeof record->name);
        break;
      case 4:  // MTU
        record->mtu = rtnl_attr_u32(a);
        break;
      case 7:  // 32-bit statistics
        if (!have_stats64)
          for (size_t i = 0; i < RTNL_STAT_COUNT && (i + 1) * 4 <= a.length; i++)
            record->stats[i] = get_u32(a.data + i * 4);
        break;
      case 23:  // 64-bit statistics: counters that do not wrap at 4 GiB
        have_stats64 = true;
        for (size_t i = 0; i < RTNL_STAT_COUNT; i++) {
          uint64_t v = 0;
          if ((i + 1) * 8 <= a.length) memcpy(&v, a.data + i * 8, sizeof v);
          record->stats[i] = v;
        }
        break;
    }
  }
  return 0;
}

int rtnl_next_link(netlink_buffer* buffer, rtnl_link_info* record) {
  const unsigned char* body;
  size_t length;
  memset(record, 0, sizeof *record);
  // A message shorter than its fixed body is skipped: the dump goes on, and
  // only its end (or an error) ends it, for good.
  for (;;) {
    int got = netlink_next_body(buffer, RTNL_GET_LINK, AF_INET, RTNL_NEW_LINK, &body, &length);
    if (got != 0) return got;
    if (rtnl_parse_link(body, length, record) == 0) return 0;
    printd("net: link message of %zu bytes skipped\n", length);
  }
}

namespace {

struct code_name {
  int code;
  const char* name;
};

const code_name rtnl_type_names[] = {
    {0, "unspec"},     {1, "ether"},      {2, "eether"},    {3, "ax25"},      {4, "pronet"},
    {5, "chaos"},      {6, "tr"},         {7, "arcnet"},    {8, "atalk"},     {15, "dlci"},
    {19, "atm"},       {23, "metricom"},  {24, "ieee1394"}, {256, "slip"},    {257, "cslip"},
    {258, "slip6"},    {259, "cslip6"},   {260, "rsrvd"},   {264, "adapt"},   {270, "rose"},
    {271, "x25"},      {272, "hwx25"},    {512, "ppp"},     {513, "hdlc"},    {516, "lapb"},
    {517, "ddcmp"},    {518, "rawhdlc"},  {768, "ipip"},    {769, "tunnel6"}, {770, "frad"},
    {771, "skip"},     {772, "loopback"}, {773, "ltalk"},   {774, "fddi"},    {775, "bif"},
    {776, "sit"},      {777, "ip/ddp"},   {778, "gre"},     {779, "pimreg"},  {780, "hippi"},
    {781, "ash"},      {782, "econet"},   {783, "irda"},    {784, "fcpp"},    {785, "fcal"},
    {786, "fcpl"},     {787, "fcfb0"},    {788, "fcfb1"},   {789, "fcfb2"},   {790, "fcfb3"},
    {791, "fcfb4"},    {792, "fcfb5"},    {793, "fcfb6"},   {794, "fcfb7"},   {795, "fcfb8"},
    {796, "fcfb9"},    {797, "fcfb10"},   {798, "fcfb11"},  {799, "fcfb12"},  {800, "tr"},
    {801, "ieee802.11"}, {65534, "none"}, {65535, "void"},
};

struct flag_name {
  unsigned bit;
  const char* name;
};

const flag_name rtnl_flag_names[] = {
    {0x1, "UP"},          {0x40, "RUNNING"},   {0x8, "LOOPBACK"},  {0x2, "BROADCAST"},
    {0x10, "POINTOPOINT"}, {0x1000, "MULTICAST"}, {0x80, "NOARP"},  {0x200, "ALLMULTI"},
    {0x100, "PROMISC"},   {0x400, "MASTER"},   {0x800, "SLAVE"},   {0x4, "DEBUG"},
    {0x8000, "DYNAMIC"},  {0x4000, "AUTOMEDIA"}, {0x2000, "PORTSEL"}, {0x20, "NOTRAILERS"},
};

}  // namespace

char* rtnl_link_type(int type, char* out, size_t size) {
  for (const code_name& entry : rtnl_type_names)
    if (entry.code == type) return format_string(out, static_cast<int>(size), "%s", entry.name);
  return format_string(out, static_cast<int>(size), "uknown type %d", type);
}

char* rtnl_link_flags(unsigned flags, char* out, size_t size) {
  if (!size) return out;
  out[0] = '\0';
  for (const flag_name& entry : rtnl_flag_names) {
    if (!(flags & entry.bit)) continue;
    if (out[0]) append_string(out, static_cast<unsigned>(size), " ");
    append_string(out, static_cast<unsigned>(size), entry.name);
  }
  return out;
}

char* rtnl_link_address(const unsigned char* bytes, size_t length, char* out, size_t size) {
  if (!size) return out;
  static const char digits[] = "0123456789abcdef";
  size_t n = 0;
  for (size_t i = 0; i < length; i++) {
    size_t need = i ? 3 : 2;
    if (n + need + 1 > size) break;
    if (i) out[n++] = ':';
    out[n++] = digits[bytes[i] >> 4];
    out[n++] = digits[bytes[i] & 15];
  }
  out[n] = '\0';
  return out;
}

char* rtnl_format_address(int family, const unsigned char* bytes, size_t length, char* out,
                          size_t size) {
  if (!size) return out;
  char text[INET6_ADDRSTRLEN];
  if ((family == AF_INET && length >= 4) || (family == AF_INET6 && length >= 16)) {
    if (inet_ntop(family, bytes, text, sizeof text)) return format_string(out, static_cast<int>(size), "%s", text);
    out[0] = '\0';
    return out;
  }
  if (family == AF_INET || family == AF_INET6) {  // too short to be an address
    out[0] = '\0';
    return out;
  }
  return rtnl_link_address(bytes, length, out, size);
}
