// system_text_fuzz.cpp - the kernel text files, account files, crontab and
// tool outputs of the system probes on arbitrary lines: the first byte picks
// the processor count, every line goes through every parser, and every text
// field must end inside its buffer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include "cpu.h"
#include "modules_linux.h"
#include "net_files_linux.h"
#include "ps_probe.h"
#include "resources_linux.h"
#include "schedule_linux.h"
#include "software_linux.h"
#include "users_linux.h"

namespace {

template <size_t N>
void check(const char (&field)[N]) {
  if (strnlen(field, N) >= N) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  int processors = data[0] % 40;
  std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  rpm_record_reader rpm;
  deb_status_reader status;
  timer_list_parser timers;
  bool heading = true;
  module_record_reader modules;
  cpuinfo_cpuid stated;
  bool stating = true;
  const std::set<std::string> loaded = {"a_b"};
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    const char* l = line.c_str();  // stops at an embedded NUL like a C reader
    start = end + 1;

    if (stating) stating = stated.feed(line);
    int32_t a, b, c, d;
    for (int32_t leaf : {0, 1, 4}) stated.cpuid(leaf, a, b, c, d);
    std::string name;
    uint64_t counters[RTNL_STAT_REPORTED];
    if (parse_net_dev_line(l, &name, counters) && (name.empty() || name.size() > 16)) __builtin_trap();
    rtnl_addr_info address;
    if (parse_if_inet6_line(l, &address, &name)) check(address.local), check(address.netmask);
    rtnl_route_info route;
    for (auto parse : {parse_net_route_line, parse_ipv6_route_line})
      if (parse(l, &route, &name)) check(route.destination), check(route.gateway), check(route.netmask);
    interrupt_entry irq;
    if (parse_interrupt_line(l, processors, irq) && irq.counts.size() != static_cast<size_t>(processors))
      __builtin_trap();
    check(irq.name), check(irq.type), check(irq.device);
    if (count_interrupt_processors(l) < 1) __builtin_trap();
    dma_entry dma;
    parse_dma_line(l, dma);
    check(dma.name);
    range_entry range;
    parse_range_line(l, range);
    check(range.range), check(range.description);
    loaded_module module;
    parse_loaded_module_line(l, module);
    check(module.name), check(module.dependants);
    passwd_entry pw;
    parse_passwd_line(l, pw);
    check(pw.name), check(pw.home), check(pw.shell);
    group_entry group;
    parse_group_line(l, group);
    check(group.name), check(group.members);
    crontab_entry cron;
    parse_crontab_line(l, cron);
    check(cron.minute), check(cron.hour), check(cron.row_name);
    parse_crontab_line(l, cron, "owner");
    if (heading) timers.set_heading(l);
    heading = false;
    std::string unit, activates, next, last;
    if (timers.parse(l, unit, activates, next, last) && unit.size() < 7) __builtin_trap();
    check(cron.minute), check(cron.hour), check(cron.day), check(cron.month), check(cron.weekday);
    check(cron.user), check(cron.command), check(cron.row_name);
    process_entry ps;
    parse_ps_line(l, ps);
    check(ps.name), check(ps.user), check(ps.cpu), check(ps.mem), check(ps.stat);
    if (parse_proc_stat(l, ps) && (ps.pid <= 0 || !ps.stat[0])) __builtin_trap();
    check(ps.name), check(ps.stat);
    unsigned long uid;
    parse_proc_status_uid(l, &uid);
    package_record deb;
    if (parse_deb_line(l, "amd64", deb) && (deb.name.empty() || deb.size.empty())) __builtin_trap();
    if (status.feed(l) && deb_record_from_fields(status.fields, "amd64", deb) && deb.name.empty())
      __builtin_trap();
    if (rpm.feed(l) && rpm.record.size.size() > 79) __builtin_trap();
    std::wstring wide(line.begin(), line.end());
    if (modules.feed(wide.c_str())) {
      mark_loaded(modules.record, loaded);
      if (modules.record.description.size() > 79) __builtin_trap();
    }
  }
  return 0;
}
