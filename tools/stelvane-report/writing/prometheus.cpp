#include "writing/prometheus.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <sstream>

#include "writing/drain.h"
#include "writing/units.h"

namespace {

// The metric of a measurement's figure, by its unit: a figure in files/s is
// a different quantity from one in bytes/s.
const char* figure_metric(int m) {
  switch (m) {
    case STREAMS:
    case DESCRIPTORS: return "stelvane_node_file_handling_files_per_second";
    case BYTEWISE_WRITE:
    case BYTEWISE_READ: return "stelvane_node_bytewise_accesses_per_second";
    default: return "stelvane_node_block_bytes_per_second";
  }
}

void family(std::ostream& out, const char* name, const char* help) {
  out << "# HELP " << name << " " << help << "\n# TYPE " << name << " gauge\n";
}

// Length of the UTF-8 sequence at text[at], 0 when it is not one. Overlong
// forms, surrogates and code points past U+10FFFF are not UTF-8 either: a
// collector refuses a file that holds them.
std::size_t utf8_length(const std::string& text, std::size_t at) {
  const unsigned char lead = text[at];
  const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i)
    if ((static_cast<unsigned char>(text[at + i]) >> 6) != 0x2) return 0;
  const unsigned char second = length > 1 ? text[at + 1] : 0;
  const bool overlong = (length == 2 && lead < 0xC2) || (lead == 0xE0 && second < 0xA0) || (lead == 0xF0 && second < 0x90);
  const bool surrogate = lead == 0xED && second >= 0xA0;
  const bool too_high = lead > 0xF4 || (lead == 0xF4 && second >= 0x90);
  return overlong || surrogate || too_high ? 0 : length;
}

std::string node_labels(const NodeVerdict& node) { return "node=\"" + label_value(node.node) + "\""; }

void write_node(std::ostream& out, const NodeVerdict& node, const char* metric, int m, double value,
                const std::string& more = "") {
  if (std::isnan(value)) return;
  out << metric << "{" << node_labels(node) << ",measurement=\"" << MEASUREMENTS[m].key << "\"" << more << "} "
      << exact_text(value) << "\n";
}

std::string group_label(const Verdicts& verdicts, const NodeVerdict& node) {
  if (verdicts.groups.empty()) return "";
  return ",group=\"" + (node.group < 0 ? std::string() : label_value(verdicts.groups[node.group].group.name)) + "\"";
}

// Per group: its nodes, where it came from and whether it stands apart; its
// median over the largest group's in each measurement. Nothing for a run of
// one kind.
void write_groups(std::ostream& out, const Verdicts& verdicts) {
  if (verdicts.groups.empty()) return;
  family(out, "stelvane_group_nodes", "Nodes of the group; source: declared, learned or seen; apart: 1 for a group "
                                      "found, not declared, that is not the largest (never drained whole).");
  for (const GroupReport& group : verdicts.groups)
    out << "stelvane_group_nodes{group=\"" << label_value(group.group.name) << "\",source=\""
        << group_source_key(group.group.source) << "\",apart=\"" << group.apart << "\"} " << group.nodes.size() << "\n";
  family(out, "stelvane_group_ratio", "The group's median figure over the largest group's.");
  for (const GroupReport& group : verdicts.groups)
    for (int m = 0; m < MEASUREMENT_COUNT; ++m)
      if (std::isfinite(group.to_largest[m]))
        out << "stelvane_group_ratio{group=\"" << label_value(group.group.name) << "\",measurement=\""
            << MEASUREMENTS[m].key << "\"} " << exact_text(group.to_largest[m]) << "\n";
}

// The cluster's change against its kept runs and its line, per judged
// measurement; a shared fall's nodes and how far they fell. Nothing without
// a history.
void write_history_findings(std::ostream& out, const Verdicts& verdicts) {
  const ClusterChange& cluster = verdicts.cluster;
  if (cluster.known_anywhere()) {
    family(out, "stelvane_cluster_change_ratio",
           "The median node's figure over its usual one in the kept runs: the whole cluster's change.");
    for (int m = 0; m < MEASUREMENT_COUNT; ++m)
      if (cluster.known(m))
        out << "stelvane_cluster_change_ratio{measurement=\"" << MEASUREMENTS[m].key << "\"} "
            << exact_text(cluster.change[m]) << "\n";
    family(out, "stelvane_cluster_change_line_ratio",
           "The cluster's change below which it is named as fallen as a whole, in a judged measurement.");
    for (int m = 0; m < MEASUREMENT_COUNT; ++m)
      if (cluster.known(m) && verdicts.judged[m])
        out << "stelvane_cluster_change_line_ratio{measurement=\"" << MEASUREMENTS[m].key << "\"} "
            << exact_text(cluster.line[m]) << "\n";
  }
  if (verdicts.falls.empty()) return;
  family(out, "stelvane_shared_fall_nodes",
         "Nodes that fell below their own normals together, by fall (its nodes as a host list) and cause.");
  for (const SharedFall& fall : verdicts.falls)
    out << "stelvane_shared_fall_nodes{nodes=\"" << label_value(host_list(fall.nodes)) << "\",cause=\""
        << cause_key(fall.cause) << "\"} " << fall.nodes.size() << "\n";
}

}  // namespace

std::string label_value(const std::string& text) {
  std::string value;
  for (std::size_t at = 0; at < text.size();) {
    const char c = text[at];
    const std::size_t length = utf8_length(text, at);
    if (c == '\\') value += "\\\\";
    else if (c == '"') value += "\\\"";
    else if (c == '\n') value += "\\n";
    else if (length > 0) value.append(text, at, length);
    if (length == 0) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\\\x%02x", static_cast<unsigned char>(c));
      value += escaped;
    }
    at += length == 0 ? 1 : length;
  }
  return value;
}

double run_start_seconds(const RunStamp& stamp) {
  std::tm parts{};
  const char* end = strptime(stamp.time_stamp.c_str(), "%Y-%m-%dT%H:%M:%S", &parts);
  if (stamp.time_stamp.empty() || end == nullptr || *end != '\0') return NO_FIGURE;
  if (stamp.time_zone == "UTC" || stamp.time_zone == "GMT") return static_cast<double>(timegm(&parts));
  // Another zone is known by its abbreviation only: the one this system's
  // own zone has, in winter or in summer, as on the cluster that ran it.
  tzset();
  for (int summer : {0, 1})
    if (stamp.time_zone == tzname[summer]) {
      parts.tm_isdst = summer;
      return static_cast<double>(mktime(&parts));
    }
  return NO_FIGURE;
}

void write_prometheus(std::ostream& out, const JudgedRun& run) {
  const ResultFile& file = *run.file;
  const Verdicts& verdicts = run.verdicts;
  const double started = run_start_seconds(file.stamp);
  if (!std::isnan(started)) {
    family(out, "stelvane_run_start_timestamp_seconds", "When the judged run started, from its result file's name.");
    out << "stelvane_run_start_timestamp_seconds " << exact_text(started) << "\n";
  }
  family(out, "stelvane_run_ranks", "Ranks of the judged run.");
  out << "stelvane_run_ranks " << file.ranks << "\n";
  family(out, "stelvane_run_history_runs", "Earlier runs each node was held against (0 without a history).");
  out << "stelvane_run_history_runs " << std::max(run.history_runs, 0) << "\n";
  family(out, "stelvane_nodes", "Nodes of the judged run with each verdict.");
  const VerdictCounts counts(verdicts);
  for (Verdict verdict : {Verdict::ok, Verdict::suspect, Verdict::slow, Verdict::failed})
    out << "stelvane_nodes{verdict=\"" << verdict_name(verdict) << "\"} " << counts[verdict] << "\n";

  write_groups(out, verdicts);
  write_history_findings(out, verdicts);
  family(out, "stelvane_node_verdict",
         "1 for the node's verdict: ok, suspect, slow or failed; cause: its probable cause; group: the group it was "
         "judged in, when the run was judged in groups.");
  for (const NodeVerdict& node : verdicts.nodes)
    out << "stelvane_node_verdict{" << node_labels(node) << ",verdict=\"" << verdict_name(node.verdict)
        << "\",cause=\"" << cause_key(node.cause.cause) << "\"" << group_label(verdicts, node) << "} 1\n";
  const char* const figure_help[] = {"The node's file-handling rate (median of its ranks).",
                                     "The node's byte-wise rate (median of its ranks).",
                                     "The node's block transfer rate (median of its ranks)."};
  for (int kind = 0; kind < 3; ++kind) {
    const int first = kind * 2;  // streams, bytewise_write, block_read: each kind's pair
    family(out, figure_metric(first), figure_help[kind]);
    for (const NodeVerdict& node : verdicts.nodes)
      for (int m = first; m < first + 2; ++m) write_node(out, node, figure_metric(m), m, node.figures[m]);
  }
  family(out, "stelvane_node_ratio", "The node's figure over the median of the other nodes it is compared with.");
  for (const NodeVerdict& node : verdicts.nodes)
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) write_node(out, node, "stelvane_node_ratio", m, node.ratios[m]);
  family(out, "stelvane_node_low_line_ratio",
         "The ratio below which the node is low in a judged measurement: its own normal's line where it has one, "
         "else its peers'.");
  for (const NodeVerdict& node : verdicts.nodes)
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
      if (!verdicts.judged[m]) continue;
      const bool own = node.own.known(m);
      write_node(out, node, "stelvane_node_low_line_ratio", m, own ? node.own.line[m] : node.lines[m],
                 own ? ",line=\"own_normal\"" : ",line=\"peers\"");
    }
}

bool write_prometheus_file(const std::string& path, const JudgedRun& run, std::string& why) {
  std::ostringstream text;
  write_prometheus(text, run);
  const std::string body = text.str();
  const std::size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  // A name the collector passes over (it reads *.prom only) until renamed.
  std::string temporary = folder + (slash == std::string::npos ? "/" : "") + "." + name + ".XXXXXX";
  const int descriptor = mkstemp(temporary.data());
  if (descriptor < 0) {
    why = std::strerror(errno);
    return false;
  }
  std::size_t written = 0;
  while (written < body.size()) {
    const ssize_t step = write(descriptor, body.data() + written, body.size() - written);
    if (step < 0 && errno == EINTR) continue;
    if (step <= 0) break;
    written += static_cast<std::size_t>(step);
  }
  const bool whole = written == body.size() && fchmod(descriptor, 0644) == 0 && fsync(descriptor) == 0;
  const int saved = errno;
  if (close(descriptor) != 0 || !whole || rename(temporary.c_str(), path.c_str()) != 0) {
    why = std::strerror(whole ? errno : saved);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}
