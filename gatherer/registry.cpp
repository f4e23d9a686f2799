// registry.cpp - constructs every task, probe group and probe of the system.
//
// The registry keeps tasks sorted by order and, for equal orders, in the order
// they are made here; so the statements below are the run order, one row per
// task (a group's rows are followed by its member probes, in member order).
// The objects live for the whole process.
#include "probe.h"
#include "task.h"

void register_tasks() {
  static bool registered = false;
  if (registered) return;
  registered = true;

  // order 22
  new probe_list_task();  // "List Probes"
}
