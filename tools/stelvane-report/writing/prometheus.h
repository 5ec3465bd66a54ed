// The verdict of one run as metrics, in the text format that node_exporter's
// textfile collector reads: per node and measurement its figure in base
// units, its ratio to its peers and the line that judged it; per node its
// verdict; and the run's start, the text format taking no time stamps of its
// own. Few series per node (19), since a cluster has thousands of nodes.
//
// Node names come from the result file and are untrusted: in a label value
// a backslash, a double quote and a line break are escaped, and bytes that
// are not UTF-8 are written as \xNN text, so that every name gives one
// valid, distinct label.
#pragma once

#include <ostream>
#include <string>

#include "judging/verdict.h"

// The metrics of a judged run.
void write_prometheus(std::ostream& out, const JudgedRun& run);

// Writes them to `path` as a whole: into a temporary file in the same
// folder, then renamed into place, so that a collector never reads half a
// file. False, with `why` set, when it could not.
bool write_prometheus_file(const std::string& path, const JudgedRun& run, std::string& why);

// A label value as the text format takes it.
std::string label_value(const std::string& text);

// Seconds since the epoch of a run's start, from its stamp (local time and
// zone name); NaN when the zone is not one this system knows.
double run_start_seconds(const RunStamp& stamp);
