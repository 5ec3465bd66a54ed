// What the page's parts share: its escaping and colours, and the pictures
// drawn in html_charts.cpp.
#pragma once

#include <ostream>
#include <string>

#include "judging/verdict.h"

// Text as it may stand in the page's markup and attributes.
std::string escaped(const std::string& text);

// The colour class of a ratio, as the heat maps and the comparison show it.
const char* heat_class(double ratio, bool failed);

// Every node against the others, worst first: with its key, a table with
// names and numbers for a small cluster, else a compact map of cells.
void write_heat_map(std::ostream& out, const Verdicts& verdicts);

// The workers' figures in measurement m, with their median, the nodes'
// median line and rank 0's own figure.
void write_chart(std::ostream& out, int m, const MeasurementFigures& figures, const Verdicts& verdicts);

// A small trend of a node's ratio against its own normal, in the measurement
// it lies furthest below it.
void write_trend(std::ostream& out, const NodeVerdict& node, const bool judged[MEASUREMENT_COUNT]);
