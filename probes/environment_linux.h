// environment_linux.h - the environment the gatherer was started with.
#pragma once

#include <cstdio>
#include <string>

#include "probe.h"

/// Splits "NAME=value" at the first "="; an entry without one has an empty value.
void split_environment_entry(const char* entry, std::string& name, std::string& value);

/// The task "ENVIRONMENT": the section with the table "Shell variables".
class environment_probe : public probe_task {
 public:
  environment_probe();
  bool run(FILE* report) override;
};
