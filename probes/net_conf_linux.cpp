// net_conf_linux.cpp - hosts, resolver and packet-filter rule lines.
#include "net_conf_linux.h"

#include <cstdlib>
#include <cstring>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

/// The next blank-separated token of *p, cut to max characters; false at the
/// end of the line.
bool next_token(const char** p, std::string* token, size_t max) {
  const char* s = *p;
  while (*s && is_blank(*s)) s++;
  if (!*s) {
    *p = s;
    return false;
  }
  const char* start = s;
  while (*s && !is_blank(*s)) s++;
  size_t n = static_cast<size_t>(s - start);
  token->assign(start, n < max ? n : max);
  *p = s;
  return true;
}

/// Tokens after the keyword or address: the first always, later ones until
/// one begins with "#".
void take_values(const char* p, std::vector<std::string>* values) {
  std::string token;
  while (next_token(&p, &token, 127)) {
    if (!values->empty() && token[0] == '#') break;
    values->push_back(token);
  }
}

long long leading_number(const std::string& token) {
  // Digits only, decimal: "12K" is 12, "abc" is 0.
  const char* s = token.c_str();
  bool negative = *s == '-';
  if (*s == '-' || *s == '+') s++;
  long long v = 0;
  for (; *s >= '0' && *s <= '9'; s++) {
    if (v > (0x7FFFFFFFFFFFFFFFLL - 9) / 10) break;
    v = v * 10 + (*s - '0');
  }
  return negative ? -v : v;
}

}  // namespace

bool parse_hosts_line(const char* line, hosts_entry* entry) {
  entry->address.clear();
  entry->names.clear();
  const char* p = line;
  if (!next_token(&p, &entry->address, 63)) return false;
  if (entry->address[0] == '#') return false;  // a comment, however indented
  take_values(p, &entry->names);
  return !entry->names.empty();
}

resolv_option parse_resolv_line(const char* line, std::vector<std::string>* values) {
  values->clear();
  const char* p = line;
  std::string keyword;
  if (!next_token(&p, &keyword, 16)) return RESOLV_NONE;
  resolv_option option = keyword == "search" ? RESOLV_SEARCH
                         : keyword == "nameserver" ? RESOLV_NAMESERVER
                                                   : RESOLV_NONE;
  if (option != RESOLV_NONE) take_values(p, values);
  return option;
}

bool parse_iptables_rule(const char* line, iptables_rule* rule) {
  *rule = iptables_rule();
  const char* p = line;
  std::string tokens[10];
  static const size_t limits[10] = {255, 255, 255, 31, 31, 31, 31, 31, 63, 63};
  int count = 0;
  while (count < 10 && next_token(&p, &tokens[count], limits[count])) {
    count++;
    // The target column is padded to nine places even when a rule has no
    // target: then more than one blank follows the byte count, and the
    // columns after it keep their own places.
    if (count == 3) {
      size_t blanks = 0;
      while (is_blank(p[blanks])) blanks++;
      if (blanks > 1 && p[blanks]) tokens[count++].clear();
    }
  }
  if (count == 0) return false;
  rule->number = leading_number(tokens[0]);
  rule->packets = leading_number(tokens[1]);
  rule->bytes = leading_number(tokens[2]);
  rule->target = tokens[3];
  rule->protocol = tokens[4];
  rule->options = tokens[5];
  rule->input = tokens[6];
  rule->output = tokens[7];
  rule->source = tokens[8];
  rule->destination = tokens[9];
  while (*p && is_blank(*p)) p++;
  size_t n = strlen(p);
  while (n && is_blank(p[n - 1])) n--;
  rule->filter.assign(p, n < 127 ? n : 127);
  return true;
}
