// net_conf_fuzz.cpp - hosts, resolver and filter-rule lines of any bytes:
// every field stays within its length.
#include "fuzz_support.h"
#include "net_conf_linux.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  const char* text = line.c_str();  // up to the first NUL, as a read line would be

  hosts_entry host;
  if (parse_hosts_line(text, &host) && host.names.empty()) abort();
  if (host.address.size() > 63) abort();
  for (const std::string& name : host.names)
    if (name.empty() || name.size() > 127) abort();

  std::vector<std::string> values;
  resolv_option option = parse_resolv_line(text, &values);
  if (option == RESOLV_NONE && !values.empty()) abort();
  for (const std::string& v : values)
    if (v.empty() || v.size() > 127) abort();

  iptables_rule rule;
  if (parse_iptables_rule(text, &rule)) {
    for (const std::string* s : {&rule.target, &rule.protocol, &rule.options, &rule.input, &rule.output})
      if (s->size() > 31) abort();
    if (rule.source.size() > 63 || rule.destination.size() > 63 || rule.filter.size() > 127) abort();
  }
  return 0;
}
