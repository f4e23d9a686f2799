// report_fixture.h - test fixture for code that writes report text: a UTF-8
// locale and cleared checksums before each test, and afterwards the output
// switches and checksums as they are at program start, so tests do not leak
// state into each other when the unit binary runs as one process.
#pragma once

#include <gtest/gtest.h>

#include <clocale>

#include "table.h"
#include "xml.h"

/// Puts the report writer's global state back as at program start.
inline void reset_report_state() {
  Table::set_output_format(OUTPUT_XML);
  Table::set_output_format(OUTPUT_TEXT);
  section_checksum = 0;
  output_checksum = 0;
}

class ReportWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setlocale(LC_ALL, "C.UTF-8");
    section_checksum = 0;
    output_checksum = 0;
  }
  void TearDown() override { reset_report_state(); }
};
