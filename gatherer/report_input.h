// report_input.h - the report of a container (or a loose report file) as a
// stream: the container's report item is expanded by a child process into a
// pipe, so nothing of it is held in memory or written to disk. Also reads the
// container's identification block and its collected files.
#pragma once

#include <string>
#include <vector>

#include "report_reader.h"

/// The machine a container names in its identification block.
struct machine_identity {
  std::string host, vendor, model, serial, uuid, taken;  ///< taken: local date and time of the run
  bool known() const { return !vendor.empty() || !model.empty() || !serial.empty() || !uuid.empty(); }
};

/// Two identities name different machines when both are known and any of
/// vendor, model, serial number or UUID differs.
bool different_machines(const machine_identity& a, const machine_identity& b);

class report_input {
 public:
  report_input() = default;
  ~report_input();
  report_input(const report_input&) = delete;
  report_input& operator=(const report_input&) = delete;

  /// Opens FILE: a container (by its identifier) or a loose report. False
  /// with error() set when it cannot be read or holds no report.
  bool open(const std::string& path);
  bool is_container() const { return container_; }
  /// After a failed open: the file is a container without an XML report
  /// (a text or HTML report, or none).
  bool no_report() const { return no_report_; }
  const machine_identity& identity() const { return identity_; }
  const std::string& error() const { return error_; }

  /// Starts streaming the report; returns a descriptor to read to its end,
  /// or -1 with error() set. Call finish() afterwards.
  int start_report();
  /// Waits for the expansion: false with error() set when the container's
  /// report stream was damaged.
  bool finish();

  /// Collected files of the container (item type 66): index list.
  std::vector<int> collected_items() const;
  /// Streams item `index` like the report.
  int start_item(int index);

 private:
  bool container_ = false;
  bool no_report_ = false;
  std::string path_;
  std::string error_;
  machine_identity identity_;
  struct state;
  state* st_ = nullptr;
  int fd_ = -1;
  int child_ = -1;
  int report_index_ = -1;
  int streaming_ = -1;
};
