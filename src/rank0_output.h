// Rank 0's output: the result file, the tee that writes every report block to
// the console and then to the result file, and the closing lines.
#pragma once

#include "report_lines.h"

// Builds the result-file name from the local time and the processor name,
// creates or empties the file, and writes the banner to both streams.
void open_result_file_and_write_banner();

// Writes a block to std::cout, then to the result file; every line ends with
// std::endl. A failed result file is remembered, never reported as saved.
void tee(const ReportBlock& block);

// Two blank lines on each stream, closes the result file, tells the user where
// it is (or, on standard error, why it is not), and waits for one character
// when `wait_for_key`.
void end_of_run(bool wait_for_key);
