// net_conf_linux.h - the text sources of the network probe: hosts file lines,
// resolver configuration lines and packet-filter rule lines. Pure functions
// over one line each.
#pragma once

#include <string>
#include <vector>

/// One hosts line: the address and its host names.
struct hosts_entry {
  std::string address;             ///< at most 63 characters
  std::vector<std::string> names;  ///< each at most 127 characters
};

/// Splits a hosts line (already trimmed). False for a line that holds no
/// host name. The first name is always taken; later ones stop at a token that
/// begins with "#".
bool parse_hosts_line(const char* line, hosts_entry* entry);

enum resolv_option { RESOLV_NONE = 0, RESOLV_SEARCH = 1, RESOLV_NAMESERVER = 2 };

/// A resolver line (already trimmed): the option it sets and its values
/// (each at most 127 characters), by the same token rule as the hosts file.
resolv_option parse_resolv_line(const char* line, std::vector<std::string>* values);

/// One line of a verbose, numbered chain listing.
struct iptables_rule {
  long long number, packets, bytes;
  std::string target, protocol, options, input, output;  ///< each at most 31
  std::string source, destination;                       ///< each at most 63
  std::string filter;                                    ///< at most 127
};

/// Splits a rule line. Counts keep their leading digits (a unit suffix is
/// dropped; no digits give 0). False for a line without any token.
bool parse_iptables_rule(const char* line, iptables_rule* rule);
