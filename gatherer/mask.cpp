// mask.cpp - the tokens of privacy masking and the free-text scanner.
#include "mask.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "safe_file.h"

namespace {

// ---- SHA-256 ----

const uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

struct sha256_state {
  uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  uint8_t block[64];
  size_t used = 0;
  uint64_t total = 0;

  void compress() {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
      w[i] = (uint32_t)block[4 * i] << 24 | (uint32_t)block[4 * i + 1] << 16 | (uint32_t)block[4 * i + 2] << 8 |
             block[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
      uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 64; ++i) {
      uint32_t t1 = hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + K[i] + w[i];
      uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      hh = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += hh;
  }
  void update(const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    total += size;
    while (size > 0) {
      size_t n = 64 - used < size ? 64 - used : size;
      memcpy(block + used, p, n);
      used += n, p += n, size -= n;
      if (used == 64) {
        compress();
        used = 0;
      }
    }
  }
  void finish(uint8_t out[32]) {
    uint64_t bits = total * 8;
    uint8_t pad = 0x80;
    update(&pad, 1);
    uint8_t zero = 0;
    while (used != 56) update(&zero, 1);
    uint8_t length[8];
    for (int i = 0; i < 8; ++i) length[i] = (uint8_t)(bits >> (56 - 8 * i));
    update(length, 8);
    for (int i = 0; i < 8; ++i)
      for (int j = 0; j < 4; ++j) out[4 * i + j] = (uint8_t)(h[i] >> (24 - 8 * j));
  }
};

// ---- The run's key and what it has masked ----

bool enabled = false;
std::vector<uint8_t> key;
/// Names met in cells, by value: their tokens, for the free-text scan.
std::map<std::string, std::string> known;
/// Longest remembered name, to bound the scan's look at each position.
size_t longest_known = 0;
/// First bytes of remembered names: most words are passed over at once.
bool known_first[256];

const char* const KIND_NAMES[MASK_KIND_COUNT] = {"",     "serial", "uuid", "mac",  "ip",   "ip6",
                                                 "addr", "host",   "domain", "user", "group", "home"};

/// Account and group names every system has: not personal, and too common
/// in free text (paths, messages) to be replaced there. Cells of user and
/// group columns are masked all the same.
const std::set<std::string> COMMON_NAMES = {
    "root",  "bin",     "daemon", "adm",     "lp",      "sync",    "shutdown", "halt",   "mail",
    "news",  "uucp",    "operator", "games", "ftp",     "nobody",  "sys",      "man",    "proxy",
    "backup", "list",   "irc",    "gnats",   "sshd",    "wheel",   "users",    "tty",    "disk",
    "kmem",  "dialout", "audio",  "video",   "staff",   "plugdev", "utmp",     "input",  "render",
    "cdrom", "floppy",  "tape",   "sudo",    "mem",     "kvm",     "lock",     "dbus",   "polkitd",
    "systemd-journal", "systemd-network", "systemd-resolve", "systemd-timesync", "messagebus",
    "www-data", "nogroup", "localhost", "localhost.localdomain", "localdomain", "(none)",
    // What firmware writes where it has no serial or UUID.
    "Unknown", "None", "Not Specified", "Not Available", "Not Present", "Default string",
    "To Be Filled By O.E.M.", "To be filled by O.E.M.", "System Serial Number", "0123456789"};

std::string hex_of(const uint8_t* p, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

void digest(const std::string& value, uint8_t out[32]) {
  hmac_sha256(key.data(), key.size(), value.data(), value.size(), out);
}

bool is_alnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// ---- Tokens of the pattern kinds ----

std::string mac_token(const uint8_t mac[6]) {
  char canonical[18];
  snprintf(canonical, sizeof canonical, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
           mac[5]);
  uint8_t d[32];
  digest(canonical, d);
  // The group and locally-administered bits of the first octet stay: they
  // tell a virtual or multicast address from a vendor's.
  d[0] = static_cast<uint8_t>((d[0] & 0xFC) | (mac[0] & 0x03));
  char out[24];
  snprintf(out, sizeof out, "mac-%02x:%02x:%02x:%02x:%02x:%02x", d[0], d[1], d[2], d[3], d[4], d[5]);
  return out;
}

std::string ipv4_token(const uint8_t a[4]) {
  char canonical[16];
  snprintf(canonical, sizeof canonical, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
  uint8_t d[32];
  digest(canonical, d);
  return "ip-" + std::to_string(a[0]) + ".x.x." + hex_of(d, 3);
}

std::string ipv6_token(const uint8_t a[16]) {
  char canonical[INET6_ADDRSTRLEN];
  if (!inet_ntop(AF_INET6, a, canonical, sizeof canonical)) return "ip6-x";
  uint8_t d[32];
  digest(canonical, d);
  char head[8];
  snprintf(head, sizeof head, "%x", (unsigned)(a[0] << 8 | a[1]));
  return std::string("ip6-") + head + ":x:" + hex_of(d, 3);
}

std::string uuid_token(const std::string& uuid) {
  std::string canonical;
  for (char c : uuid) canonical += lower(c);
  uint8_t d[32];
  digest(canonical, d);
  return "uuid-" + hex_of(d, 3);
}

/// Addresses that say nothing about a machine stay: unspecified, loopback,
/// multicast and broadcast (netmasks among them).
bool ipv4_is_public_knowledge(const uint8_t a[4]) { return a[0] == 0 || a[0] == 127 || a[0] >= 224; }
bool ipv6_is_public_knowledge(const uint8_t a[16]) {
  static const uint8_t loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  static const uint8_t any[16] = {};
  return memcmp(a, loopback, 16) == 0 || memcmp(a, any, 16) == 0 || a[0] == 0xFF;
}

// ---- Pattern matchers: each returns the length matched at p, or 0 ----

/// 8-4-4-4-12 hex digits.
size_t match_uuid(const char* p, size_t left) {
  static const int groups[5] = {8, 4, 4, 4, 12};
  size_t i = 0;
  for (int g = 0; g < 5; ++g) {
    if (g > 0) {
      if (i >= left || p[i] != '-') return 0;
      ++i;
    }
    for (int k = 0; k < groups[g]; ++k, ++i)
      if (i >= left || hex_value(p[i]) < 0) return 0;
  }
  if (i < left && (is_alnum(p[i]) || p[i] == '-')) return 0;
  return i;
}

/// Six hex pairs joined by ":" or by "-".
size_t match_mac(const char* p, size_t left, uint8_t mac[6]) {
  if (left < 17) return 0;
  char sep = p[2];
  if (sep != ':' && sep != '-') return 0;
  for (int k = 0; k < 6; ++k) {
    int hi = hex_value(p[3 * k]), lo = hex_value(p[3 * k + 1]);
    if (hi < 0 || lo < 0) return 0;
    if (k < 5 && p[3 * k + 2] != sep) return 0;
    mac[k] = static_cast<uint8_t>(hi << 4 | lo);
  }
  // Part of something longer (an eight-byte identifier, an IPv6 address).
  if (left > 17 && (is_alnum(p[17]) || p[17] == sep)) return 0;
  return 17;
}

size_t match_ipv4(const char* p, size_t left, uint8_t a[4]) {
  size_t i = 0;
  for (int k = 0; k < 4; ++k) {
    if (k > 0) {
      if (i >= left || p[i] != '.') return 0;
      ++i;
    }
    unsigned v = 0;
    size_t digits = 0;
    while (i < left && p[i] >= '0' && p[i] <= '9' && digits < 4) v = v * 10 + (unsigned)(p[i++] - '0'), ++digits;
    if (digits == 0 || digits > 3 || v > 255) return 0;
    a[k] = static_cast<uint8_t>(v);
  }
  // A fifth number (a version "1.2.3.4.5") or letters right after.
  if (i < left && (is_alnum(p[i]) || (p[i] == '.' && i + 1 < left && p[i + 1] >= '0' && p[i + 1] <= '9')))
    return 0;
  return i;
}

size_t match_ipv6(const char* p, size_t left, uint8_t a[16]) {
  size_t n = 0;
  while (n < left && n < INET6_ADDRSTRLEN && (hex_value(p[n]) >= 0 || p[n] == ':' || p[n] == '.')) ++n;
  if (n < left && is_alnum(p[n])) return 0;
  // A sentence's full stop or a list's colon after the address.
  while (n > 0 && (p[n - 1] == '.' || (p[n - 1] == ':' && !(n >= 2 && p[n - 2] == ':')))) --n;
  std::string candidate(p, n);
  size_t colons = 0;
  for (char c : candidate) colons += c == ':';
  bool compressed = candidate.find("::") != std::string::npos;
  if (colons < 2 || (colons < 7 && !compressed)) return 0;
  // Eight pairs of digits are an eight-byte identifier (a WWN), not an address.
  if (!compressed && candidate.size() == 23) return 0;
  if (inet_pton(AF_INET6, candidate.c_str(), a) != 1) return 0;
  return n;
}

/// A token made by this run must not be masked again (the debug log sees
/// cells after they were masked).
bool after_token_prefix(const std::string& text, size_t i) {
  for (const char* prefix : {"mac-", "ip6-", "ip-"}) {
    size_t n = strlen(prefix);
    if (i >= n && text.compare(i - n, n, prefix) == 0) return true;
  }
  return false;
}

/// Inside a longer run of hex groups ("50:01:43:80:..."): a piece of it is
/// no value of its own. A word before the colon ("HWaddr:") does not count.
bool inside_hex_groups(const char* s, size_t i) {
  if (i < 2 || s[i - 1] != ':') return false;
  size_t k = i - 1;
  while (k > 0 && is_alnum(s[k - 1])) {
    if (hex_value(s[k - 1]) < 0) return false;
    --k;
  }
  return k < i - 1;
}

void remember(const std::string& value, const std::string& token) {
  // Bounded: past this many names, cells are still masked, but free text is
  // cleaned of the first ones only.
  const size_t MAX_KNOWN = 65536;
  if (value.size() < 3 || COMMON_NAMES.count(value) || known.size() >= MAX_KNOWN) return;
  if (!known.emplace(value, token).second) return;
  if (value.size() > longest_known) longest_known = value.size();
  known_first[static_cast<unsigned char>(value[0])] = true;
}

std::string name_token(mask_kind kind, const std::string& value) {
  uint8_t d[32];
  digest(value, d);
  std::string token = std::string(KIND_NAMES[kind]) + "-" + hex_of(d, 3);
  remember(value, token);
  return token;
}

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n"), e = s.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

/// The key file's bytes: a regular file, at most 4096 bytes used.
bool read_key_file(const char* path, std::vector<uint8_t>& out, std::string* why) {
  FILE* f = open_regular_file(path, "rb");
  if (!f) {
    if (why) *why = errno == EINVAL ? "not a regular file" : strerror(errno);
    return false;
  }
  uint8_t buf[4096];
  size_t n = fread(buf, 1, sizeof buf, f);
  bool bad = ferror(f) != 0;
  fclose(f);
  if (bad || n == 0) {
    if (why) *why = bad ? "read error" : "empty key file";
    return false;
  }
  out.assign(buf, buf + n);
  return true;
}

bool random_key(std::vector<uint8_t>& out) {
  out.assign(32, 0);
  size_t got = 0;
  while (got < out.size()) {
    ssize_t n = getrandom(out.data() + got, out.size() - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

void sha256(const void* data, size_t size, uint8_t out[32]) {
  sha256_state s;
  s.update(data, size);
  s.finish(out);
}

void hmac_sha256(const void* k, size_t key_size, const void* msg, size_t msg_size, uint8_t out[32]) {
  uint8_t block[64] = {};
  if (key_size > 64)
    sha256(k, key_size, block);
  else if (key_size)
    memcpy(block, k, key_size);
  uint8_t pad[64];
  for (int i = 0; i < 64; ++i) pad[i] = block[i] ^ 0x36;
  sha256_state inner;
  inner.update(pad, 64);
  inner.update(msg, msg_size);
  uint8_t inner_digest[32];
  inner.finish(inner_digest);
  for (int i = 0; i < 64; ++i) pad[i] = block[i] ^ 0x5c;
  sha256_state outer;
  outer.update(pad, 64);
  outer.update(inner_digest, 32);
  outer.finish(out);
}

bool mask_enable(const char* key_file, std::string* why) {
  mask_disable();
  enabled = true;
  if (key_file && read_key_file(key_file, key, why)) return true;
  if (!random_key(key)) {
    // No randomness at all: a key nobody can guess is not to be had, but the
    // values still never leave in clear.
    key.assign(32, 0);
    uint64_t mix[3] = {static_cast<uint64_t>(getpid()), static_cast<uint64_t>(time(nullptr)),
                       reinterpret_cast<uintptr_t>(&mix)};
    sha256(mix, sizeof mix, key.data());
  }
  return key_file == nullptr;
}

void mask_enable_with_key(const void* k, size_t size) {
  mask_disable();
  enabled = true;
  const uint8_t* p = static_cast<const uint8_t*>(k);
  key.assign(p, p + size);
}

void mask_disable() {
  enabled = false;
  std::fill(key.begin(), key.end(), 0);
  key.clear();
  known.clear();
  longest_known = 0;
  memset(known_first, 0, sizeof known_first);
}

bool mask_enabled() { return enabled; }

const char* mask_kind_name(mask_kind kind) {
  return kind > MASK_NONE && kind < MASK_KIND_COUNT ? KIND_NAMES[kind] : "";
}

std::string mask_kinds_text() {
  if (!enabled) return "off";
  std::string out = "on:";
  for (int k = MASK_SERIAL; k < MASK_KIND_COUNT; ++k)
    if (k != MASK_ADDRESS) out += std::string(" ") + KIND_NAMES[k];
  return out;
}

std::string mask_value(mask_kind kind, const std::string& value) {
  if (!enabled || kind <= MASK_NONE || kind >= MASK_KIND_COUNT) return value;
  std::string v = trimmed(value);
  if (v.empty()) return value;
  switch (kind) {
    case MASK_MAC:
    case MASK_IPV4:
    case MASK_IPV6:
    case MASK_ADDRESS:
      return mask_text(value);
    case MASK_UUID: {
      std::string out = mask_text(value);
      return out != value || COMMON_NAMES.count(v) ? out : uuid_token(v);
    }
    case MASK_USER:
    case MASK_GROUP:
      if (v.find_first_of(", ") != std::string::npos) {
        // A list of members: each name is masked, the separators stay.
        std::string out, name;
        for (char c : value + ",") {
          if (c != ',' && c != ' ') {
            name += c;
            continue;
          }
          if (!name.empty()) out += COMMON_NAMES.count(name) ? name : name_token(kind, name);
          name.clear();
          out += c;
        }
        out.pop_back();
        return out;
      }
      return COMMON_NAMES.count(v) ? value : name_token(kind, v);
    case MASK_HOST:
    case MASK_DOMAIN: {
      // A name server or a host given by its address keeps the address token.
      uint8_t a[16];
      if (inet_pton(AF_INET, v.c_str(), a) == 1 || inet_pton(AF_INET6, v.c_str(), a) == 1) return mask_text(value);
      if (COMMON_NAMES.count(v)) return value;
      // The domain of a full name is met alone in free text too.
      size_t dot = v.find('.');
      if (kind == MASK_HOST && dot != std::string::npos && v.find('.', dot + 1) != std::string::npos)
        name_token(MASK_DOMAIN, v.substr(dot + 1));
      return name_token(kind, v);
    }
    default:
      if (COMMON_NAMES.count(v)) return value;
      return name_token(kind, v);
  }
}

std::string mask_text(const std::string& text) {
  if (!enabled) return text;
  std::string out;
  out.reserve(text.size());
  const char* s = text.c_str();
  size_t size = text.size();
  size_t i = 0;
  while (i < size) {
    bool word_start = i == 0 || !is_alnum(s[i - 1]);
    if (!word_start) {
      out += s[i++];
      continue;
    }
    size_t left = size - i;
    // Remembered names first, longest first.
    if (known_first[static_cast<unsigned char>(s[i])]) {
      size_t best = 0;
      const std::string* token = nullptr;
      for (size_t n = std::min(longest_known, left); n >= 3 && !token; --n) {
        if (n < left && is_alnum(s[i + n]) && is_alnum(s[i + n - 1])) continue;
        auto it = known.find(std::string(s + i, n));
        if (it != known.end()) best = n, token = &it->second;
      }
      if (token) {
        out += *token;
        i += best;
        continue;
      }
    }
    bool prefixed = (i > 0 && s[i - 1] == '-' && after_token_prefix(text, i)) || (i > 0 && s[i - 1] == '.') ||
                    inside_hex_groups(s, i);
    if (!prefixed && (hex_value(s[i]) >= 0 || s[i] == ':')) {
      uint8_t a[16];
      size_t n;
      if ((n = match_uuid(s + i, left)) != 0) {
        out += uuid_token(std::string(s + i, n));
        i += n;
        continue;
      }
      if ((n = match_mac(s + i, left, a)) != 0) {
        bool blank = true;
        for (int k = 0; k < 6; ++k) blank = blank && (a[k] == 0 || a[k] == 0xFF);
        out += blank ? std::string(s + i, n) : mac_token(a);
        i += n;
        continue;
      }
      if ((n = match_ipv4(s + i, left, a)) != 0) {
        out += ipv4_is_public_knowledge(a) ? std::string(s + i, n) : ipv4_token(a);
        i += n;
        continue;
      }
      if ((n = match_ipv6(s + i, left, a)) != 0) {
        out += ipv6_is_public_knowledge(a) ? std::string(s + i, n) : ipv6_token(a);
        i += n;
        continue;
      }
    }
    // Not a value: the whole word (or the one other byte) passes.
    if (!is_alnum(s[i])) {
      out += s[i++];
      continue;
    }
    while (i < size && is_alnum(s[i])) out += s[i++];
  }
  return out;
}

bool mask_stream(FILE* in, FILE* out, size_t max_in) {
  // Pieces end at a line end, or, in a very long line, after a byte no value
  // can contain; the rest waits for the next piece.
  const size_t PIECE = 65536;
  std::string pending;
  std::vector<char> block(PIECE);
  bool at_end = false;
  while (!at_end || !pending.empty()) {
    if (!at_end && pending.size() < PIECE) {
      size_t want = std::min(PIECE - pending.size(), max_in);
      size_t n = want ? fread(block.data(), 1, want, in) : 0;
      max_in -= n;
      if (n == 0) at_end = true;
      pending.append(block.data(), n);
      if (ferror(in)) return false;
      if (!at_end) continue;
    }
    size_t cut = pending.size();
    if (!at_end) {
      size_t nl = pending.rfind('\n');
      if (nl != std::string::npos) {
        cut = nl + 1;
      } else {
        size_t k = pending.size();
        while (k > 0 && (is_alnum(pending[k - 1]) || strchr(":.-/", pending[k - 1]))) --k;
        if (k > 0) cut = k;
      }
    }
    std::string masked = mask_text(pending.substr(0, cut));
    if (fwrite(masked.data(), 1, masked.size(), out) != masked.size()) return false;
    pending.erase(0, cut);
  }
  return !ferror(out);
}
