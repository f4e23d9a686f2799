// net_link_linux.h - the routing netlink layer (one dump conversation per
// buffer), the link record parser and the name tables that turn kernel codes
// into words.
//
// The parsers work on bytes only: a buffer can be filled by the socket or by
// a caller (recorded answers, fuzz input) with the socket left at -1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

/// One routing netlink conversation, owned by whoever opened it.
struct netlink_buffer {
  int socket = -1;                   ///< -1 or less when not open
  std::vector<unsigned char> data;   ///< received datagram (grows to the largest one)
  uint32_t sequence = 0;             ///< of the last request; 0 before any request
  size_t received = 0;               ///< bytes of the last datagram
  size_t offset = 0;                 ///< next unread message
  int request = 0;                   ///< type of the request sent (names it in the log)
  int ended = 0;                     ///< once the dump ended: its last result (1 or negative)
  std::string record;                ///< a capture's record the received datagrams are kept in
  FILE* replay = nullptr;            ///< a replayed record the messages come from instead
  uint64_t replay_offset = 0;        ///< bytes of it read so far
};

/// Message types and sizes of the routing netlink protocol.
enum {
  NL_HEADER_SIZE = 16,
  NL_MSG_ERROR = 2,
  NL_MSG_DONE = 3,
  RTNL_NEW_LINK = 16,
  RTNL_GET_LINK = 18,
  RTNL_NEW_ADDR = 20,
  RTNL_GET_ADDR = 22,
  RTNL_NEW_ROUTE = 24,
  RTNL_GET_ROUTE = 26,
};

/// A new buffer with a routing netlink socket; null on failure.
netlink_buffer* netlink_open();
/// A buffer for one dump of `type` and `family`: in a replay, the recorded
/// answers of the capture (null when it holds none); otherwise a socket
/// whose answers a capture keeps in the record of that dump.
netlink_buffer* netlink_open_dump(int type, int family);
/// The record of a dump in a capture: "netlink-link-inet" and so on.
std::string netlink_record_name(int type, int family);
/// The next message of a recorded dump (the datagrams as received, one after
/// the other) into the buffer, as one datagram: 0, 1 at the record's end, -1
/// when the record is damaged (a message cut short or of an impossible
/// length), with what is wrong in `why`.
int netlink_record_next(FILE* record, netlink_buffer* buffer, std::string* why);
/// True when every message of a record is whole; what is wrong in `why`.
bool netlink_record_check(FILE* record, std::string* why);
/// Closes the socket and frees the buffer; tolerates null.
void netlink_close(netlink_buffer* buffer);
/// Sends one dump request; 0 or the negative send result.
int netlink_send_message(netlink_buffer* buffer, int type, int family);
/// Receives one whole datagram from the kernel (datagrams from other senders
/// are dropped); 0, or negative on error or end of stream.
int netlink_receive_message(netlink_buffer* buffer);
/// 0 when the message has the expected type, 1 for the end of the dump, -1
/// otherwise (an error message is logged with the request's name).
int netlink_validate_message(const unsigned char* message, size_t length, int expected_type,
                             int request);
/// Sends the request when none was sent on this buffer, then makes sure an
/// unread message is in the buffer. 0 or negative.
int netlink_get_message(netlink_buffer* buffer, int type, int family);
/// The body (after the header) of the next message of our dump: 0 with *body
/// and *length set, 1 at the end of the dump, negative on error or on a
/// malformed message. Messages with another sequence number are skipped.
int netlink_next_body(netlink_buffer* buffer, int request, int family, int expected,
                      const unsigned char** body, size_t* length);

/// One attribute inside a message body.
struct rtnl_attr {
  int type;
  const unsigned char* data;
  size_t length;
};
/// The attribute at *pos of area[0..size): false when no whole attribute is
/// left (a length below 4 or beyond the area ends the walk). Advances *pos.
bool rtnl_next_attr(const unsigned char* area, size_t size, size_t* pos, rtnl_attr* out);
/// The first 32-bit word of an attribute (0 when shorter).
uint32_t rtnl_attr_u32(const rtnl_attr& a);
/// Copies an attribute's text (up to its first NUL) cut to size - 1.
void rtnl_attr_text(const rtnl_attr& a, char* out, size_t size);

/// Counters kept from the kernel's statistics, in its order.
enum { RTNL_STAT_COUNT = 23, RTNL_STAT_REPORTED = 10 };

/// One interface.
struct rtnl_link_info {
  int32_t index;
  char name[17];
  char type[24];  // "uknown type 65533": an unknown number whole
  char address[25];
  uint32_t mtu;
  char flags[131];  // every flag word set fits whole
  /// rx packets, tx packets, rx bytes, tx bytes, rx errors, tx errors, rx
  /// dropped, tx dropped, multicast, collisions, then detail counters. The
  /// 64-bit statistics are taken when the kernel gives them.
  uint64_t stats[RTNL_STAT_COUNT];
};

/// Parses a new-link message body into a cleared record; 0, or -1 when the
/// body is shorter than its fixed part.
int rtnl_parse_link(const unsigned char* body, size_t length, rtnl_link_info* record);
/// The next link of the dump: 0 when filled, 1 at the end, negative on error
/// (a message too short for its fixed body is skipped).
int rtnl_next_link(netlink_buffer* buffer, rtnl_link_info* record);

/// Name tables: each writes into out (cut to size - 1) and returns out.
char* rtnl_link_type(int type, char* out, size_t size);
char* rtnl_link_flags(unsigned flags, char* out, size_t size);
char* rtnl_link_address(const unsigned char* bytes, size_t length, char* out, size_t size);
char* rtnl_format_address(int family, const unsigned char* bytes, size_t length, char* out,
                          size_t size);
