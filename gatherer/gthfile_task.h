// gthfile_task.h - the tasks that create, open and close the run's container.
#pragma once

#include <cstdio>

#include "task.h"

class GatherFile;

/// One class for three tasks, told apart by order: 9 creates the container
/// (with the identification block and the version stamp as items 0 and 1),
/// 10 opens an existing one when none is open, 26 closes it.
class gthfile_task : public task {
 public:
  gthfile_task(const char* name, int order);
  bool test() override;
  bool run(FILE* report) override;

  /// Writes the identification block (eight lines "<letter><value>" for
  /// C V M S U T L K) into a temporary file and adds it as item type 1.
  void add_id_block(GatherFile* file);

  /// The container's file name of this run (empty before it is made).
  static const char* container_name();

 private:
  bool create_container();
  bool open_container();
  bool close_container();
};

/// The identification block's text: eight lines, each a macro letter and its
/// value in UTF-8, control characters as blanks. A new string; the caller
/// frees it with delete[].
char* make_id_block();
