// postbox_task.h - collects the files that other tools leave in the
// directory "POSTBOX" beside the program.
#pragma once

#include <cstdio>

#include "task.h"

class postbox_task : public task {
 public:
  postbox_task();
  /// Fails with "Directory not found" when there is no postbox directory.
  bool run(FILE* report) override;
  /// Stores every regular file of `dir` (in name order) by its kind; returns
  /// the number added and sets the status text to the counts.
  int add_from_postbox(const char* dir, FILE* report);

 private:
  char status[64];
};
