// What stelvane-report prints: a text summary, JSON, CSV or an HTML page.
#pragma once

#include <ostream>
#include <vector>

#include "result_reader.h"

void write_text(std::ostream& out, const std::vector<ResultFile>& files);
void write_json(std::ostream& out, const std::vector<ResultFile>& files);
void write_csv(std::ostream& out, const std::vector<ResultFile>& files);
void write_html(std::ostream& out, const std::vector<ResultFile>& files);

// A figure as the benchmark prints it: six significant digits, nan for a
// failed measurement.
std::string figure_text(double value);
