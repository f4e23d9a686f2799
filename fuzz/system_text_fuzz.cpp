// system_text_fuzz.cpp - the kernel text files, account files, crontab,
// locale source files and tool outputs of the system probes on arbitrary
// lines: the first byte picks the processor count, every line goes through
// every parser, and every text field must end inside its buffer.
#include <algorithm>
#include <set>

#include "cpu.h"
#include "fuzz_support.h"
#include "modules_linux.h"
#include "net_files_linux.h"
#include "ps_probe.h"
#include "regional_linux.h"
#include "resources_linux.h"
#include "schedule_linux.h"
#include "software_linux.h"
#include "users_linux.h"

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
  locale_source_reader locale_source;
  bool locale_open = true;
  size_t longest = 0;
  for_each_line(text, [&](const std::string& line) {
    const char* l = line.c_str();  // stops at an embedded NUL like a C reader

    if (stating) stating = stated.feed(line);
    if (locale_open) locale_open = locale_source.feed(line);
    longest = std::max(longest, line.size());
    if (locale_source.language.size() > longest || locale_source.territory.size() > longest) __builtin_trap();
    if (locale_name_codeset(line).empty()) __builtin_trap();
    int32_t a, b, c, d;
    for (int32_t leaf : {0, 1, 4}) stated.cpuid(leaf, a, b, c, d);
    std::string name;
    uint64_t counters[RTNL_STAT_REPORTED];
    if (parse_net_dev_line(l, &name, counters) && (name.empty() || name.size() > 16)) __builtin_trap();
    rtnl_addr_info address;
    if (parse_if_inet6_line(l, &address, &name)) check_fits(address.local), check_fits(address.netmask);
    rtnl_route_info route;
    for (auto parse : {parse_net_route_line, parse_ipv6_route_line})
      if (parse(l, &route, &name)) check_fits(route.destination), check_fits(route.gateway), check_fits(route.netmask);
    interrupt_entry irq;
    if (parse_interrupt_line(l, processors, irq) && irq.counts.size() != static_cast<size_t>(processors))
      __builtin_trap();
    check_fits(irq.name), check_fits(irq.type), check_fits(irq.device);
    if (count_interrupt_processors(l) < 1) __builtin_trap();
    dma_entry dma;
    parse_dma_line(l, dma);
    check_fits(dma.name);
    range_entry range;
    parse_range_line(l, range);
    check_fits(range.range), check_fits(range.description);
    loaded_module module;
    parse_loaded_module_line(l, module);
    check_fits(module.name), check_fits(module.dependants);
    passwd_entry pw;
    parse_passwd_line(l, pw);
    check_fits(pw.name), check_fits(pw.home), check_fits(pw.shell);
    group_entry group;
    parse_group_line(l, group);
    check_fits(group.name), check_fits(group.members);
    crontab_entry cron;
    parse_crontab_line(l, cron);
    check_fits(cron.minute), check_fits(cron.hour), check_fits(cron.row_name);
    parse_crontab_line(l, cron, "owner");
    if (heading) timers.set_heading(l);
    heading = false;
    std::string unit, activates, next, last;
    if (timers.parse(l, unit, activates, next, last) && unit.size() < 7) __builtin_trap();
    check_fits(cron.minute), check_fits(cron.hour), check_fits(cron.day), check_fits(cron.month);
    check_fits(cron.weekday), check_fits(cron.user), check_fits(cron.command), check_fits(cron.row_name);
    process_entry ps;
    parse_ps_line(l, ps);
    check_fits(ps.name), check_fits(ps.user), check_fits(ps.cpu), check_fits(ps.mem), check_fits(ps.stat);
    if (parse_proc_stat(l, ps) && (ps.pid <= 0 || !ps.stat[0])) __builtin_trap();
    check_fits(ps.name), check_fits(ps.stat);
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
  });
  return 0;
}
