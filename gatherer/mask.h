// mask.h - privacy masking: serials, UUIDs, MAC and IP addresses, host,
// domain, user and group names and home directories are replaced by stable
// tokens made from an HMAC-SHA-256 of the value under the run's key.
//
// The same value gives the same hex part whatever its kind, everywhere in
// one run and across runs with the same key file. Names met in report cells
// are remembered so that free text (collected files, the debug log) is
// cleaned of them as well as of the address and UUID patterns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

/// The kind of value a report column holds; MASK_NONE is plain data.
enum mask_kind {
  MASK_NONE = 0,
  MASK_SERIAL,
  MASK_UUID,
  MASK_MAC,
  MASK_IPV4,
  MASK_IPV6,
  /// Any address column: IPv4, IPv6 or MAC, found by pattern.
  MASK_ADDRESS,
  MASK_HOST,
  MASK_DOMAIN,
  MASK_USER,
  MASK_GROUP,
  MASK_HOME,
  MASK_KIND_COUNT
};

/// HMAC-SHA-256 of msg under key.
void hmac_sha256(const void* key, size_t key_size, const void* msg, size_t msg_size, uint8_t out[32]);
/// SHA-256 of data.
void sha256(const void* data, size_t size, uint8_t out[32]);

/// Switches masking on. key_file null: a random key for this run, never
/// written anywhere. A key file that cannot be read (or is empty) leaves
/// masking on with a random key; false then, and `why` says what failed.
bool mask_enable(const char* key_file, std::string* why = nullptr);
/// Masking on with the given key (tests).
void mask_enable_with_key(const void* key, size_t size);
/// Masking off; forgets the key and every remembered value.
void mask_disable();
bool mask_enabled();

/// Prefix of a kind's token ("serial", "mac", ...); "" for MASK_NONE.
const char* mask_kind_name(mask_kind kind);
/// The kinds masked, for the self-report: "serial uuid mac ...".
std::string mask_kinds_text();

/// The token of one value of a known kind. Names (serial, host, domain,
/// user, group, home) are tokens of the whole value and are remembered for
/// the free-text scan; address and UUID kinds are cleaned by pattern (a
/// list of addresses or one with a prefix length keeps its shape). Empty
/// text stays empty. Unchanged when masking is off.
std::string mask_value(mask_kind kind, const std::string& value);
/// Free text: every MAC, IPv4, IPv6 and UUID pattern and every name
/// remembered so far is replaced by its token. Unchanged when masking is off.
std::string mask_text(const std::string& text);
/// Copies a stream through mask_text in bounded pieces (never splitting a
/// value that fits in a piece), at most max_in bytes of it; false on a read
/// or write error.
bool mask_stream(FILE* in, FILE* out, size_t max_in = SIZE_MAX);
