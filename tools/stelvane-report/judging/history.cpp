#include "judging/history.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

RunSummary summarize(const ResultFile& file, const Verdicts& verdicts, bool by_kind) {
  RunSummary run;
  run.source = file.source;
  run.stamp = file.stamp;
  std::copy(std::begin(verdicts.judged), std::end(verdicts.judged), run.judged);
  for (const NodeVerdict& verdict : verdicts.nodes) {
    RunSummary::Node& node = run.nodes.emplace_back();
    node.name = verdict.node;
    node.workers = verdict.workers;
    node.verdict = verdict.by_peers;
    const double* ratios = by_kind ? verdict.ratios : verdict.fleet_ratios;
    std::copy(ratios, ratios + MEASUREMENT_COUNT, node.ratios);
    std::copy(std::begin(verdict.figures), std::end(verdict.figures), node.figures);
  }
  return run;
}

std::string peer_rule_text() {
  char text[256];
  std::snprintf(text, sizeof text, "peer line %g %g %g %g %d %g %d", LOW_RATIO_FLOOR, LOW_RATIO_CEILING, LOW_SPREADS,
                MAD_TO_SIGMA, SLOW_MEASUREMENTS, MIN_JUDGED_SECONDS, MIN_COMPARED_NODES);
  return text;
}

std::vector<const NodeHistories::Point*> NodeHistories::window(const std::vector<Point>& points, int workers) const {
  std::vector<const Point*> chosen;
  for (auto point = points.rbegin(); point != points.rend() && chosen.size() < HISTORY_WINDOW; ++point)
    if (point->workers == workers) chosen.push_back(&*point);
  std::reverse(chosen.begin(), chosen.end());
  return chosen;
}

std::vector<double> NodeHistories::ratios_in(const std::vector<const Point*>& points, int m, bool counted_only) {
  std::vector<double> ratios;
  for (const Point* point : points)
    if ((!counted_only || point->counts[m]) && std::isfinite(point->ratios[m])) ratios.push_back(point->ratios[m]);
  return ratios;
}

std::vector<NodeLevel> NodeHistories::levels(const RunSummary& run) const {
  std::vector<NodeLevel> levels;
  for (const RunSummary::Node& node : run.nodes) {
    NodeLevel& level = levels.emplace_back();
    level.node = node.name;
    std::fill(std::begin(level.level), std::end(level.level), NO_FIGURE);
    const auto found = points_.find(node.name);
    if (found == points_.end()) continue;
    const std::vector<const Point*> points = window(found->second, node.workers);
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
      std::vector<double> ratios;
      for (const Point* point : points)
        if (point->judged[m] && std::isfinite(point->ratios[m])) ratios.push_back(point->ratios[m]);
      if (static_cast<int>(ratios.size()) >= MIN_HISTORY_RUNS) level.level[m] = median_of(ratios);
    }
  }
  return levels;
}

HeldRun NodeHistories::take(const RunSummary& fleet, const RunSummary& run, bool trend) {
  std::vector<std::vector<const Point*>> windows(run.nodes.size());
  for (std::size_t i = 0; i < run.nodes.size(); ++i) {
    const auto found = points_.find(run.nodes[i].name);
    if (found != points_.end()) windows[i] = window(found->second, run.nodes[i].workers);
  }
  HeldRun held;
  held.normals = normals_of(windows, trend);
  run_to_run(windows, held.run_to_run);
  for (std::size_t i = 0; i < run.nodes.size(); ++i) take_change(fleet.nodes[i], windows[i], held.normals[i]);
  // Each node's level against the nodes that kept their usual figures, where
  // enough did: a fall of half the nodes moves the median node with it.
  const RunSummary levels = against_unchanged(fleet, held.normals);
  for (std::size_t i = 0; i < run.nodes.size(); ++i) hold(levels, levels.nodes[i], windows[i], held.normals[i]);
  remember(levels, run, held.normals);
  return held;
}

void NodeHistories::run_to_run(const std::vector<std::vector<const Point*>>& windows,
                               double (&spreads)[MEASUREMENT_COUNT]) {
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    std::vector<double> of_nodes;
    for (const std::vector<const Point*>& points : windows) {
      const std::vector<double> ratios = ratios_in(points, m, false);
      if (static_cast<int>(ratios.size()) < MIN_HISTORY_RUNS) continue;
      const double spread = centre_of(ratios).spread;
      if (!std::isnan(spread)) of_nodes.push_back(spread);
    }
    spreads[m] = of_nodes.empty() ? NO_FIGURE : std::max(OWN_SPREAD_FLOOR, median_of(of_nodes));
  }
}

std::vector<OwnNormal> NodeHistories::normals_of(const std::vector<std::vector<const Point*>>& windows,
                                                 bool trend) const {
  std::vector<OwnNormal> normals(windows.size());
  std::vector<double> spreads[MEASUREMENT_COUNT];  // of the nodes with a normal, before any floor
  for (std::size_t i = 0; i < windows.size(); ++i) {
    OwnNormal& own = normals[i];
    if (trend)
      for (const Point* point : windows[i]) {
        std::vector<double>& ratios = own.earlier.emplace_back(point->ratios, point->ratios + MEASUREMENT_COUNT);
        for (int m = 0; m < MEASUREMENT_COUNT; ++m)
          if (!point->judged[m]) ratios[m] = NO_FIGURE;
      }
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
      const std::vector<double> ratios = ratios_in(windows[i], m, true);
      own.runs[m] = static_cast<int>(ratios.size());
      if (!own.known(m)) continue;
      const Centre centre = centre_of(ratios);
      own.normal[m] = centre.median;
      own.spread[m] = centre.spread;
      if (!std::isnan(centre.spread)) spreads[m].push_back(centre.spread);
    }
  }
  // No node is taken to be steadier than the median node, nor than the floor.
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    const double floor = std::max(OWN_SPREAD_FLOOR, median_of(spreads[m]));
    for (OwnNormal& own : normals)
      if (own.known(m)) own.spread[m] = std::max(std::isnan(own.spread[m]) ? 0.0 : own.spread[m], floor);
  }
  return normals;
}

void NodeHistories::take_change(const RunSummary::Node& node, const std::vector<const Point*>& earlier,
                                OwnNormal& own) {
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    if (!own.known(m)) continue;
    std::vector<double> usual;
    for (const Point* point : earlier)
      if (point->counts[m] && std::isfinite(point->figures[m])) usual.push_back(point->figures[m]);
    own.change[m] = node.figures[m] / median_of(usual);
  }
}

void NodeHistories::hold(const RunSummary& run, const RunSummary::Node& node, const std::vector<const Point*>& earlier,
                         OwnNormal& own) {
  int lows = 0;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    if (!own.known(m) || !(own.normal[m] > 0)) continue;
    own.line[m] = own.normal[m] * (1.0 - OWN_LOW_SPREADS * own.spread[m]);
    if (!run.judged[m]) continue;
    own.ratio[m] = node.ratios[m];
    own.deviation[m] = node.ratios[m] / own.normal[m];
    // Low against its level, and slower than its usual figure too where it
    // has one: a node that kept its figures while most others got faster is
    // behind them, not fallen.
    const bool slower = std::isnan(own.change[m]) || own.change[m] < 1.0 - OWN_LOW_SPREADS * own.spread[m];
    own.low[m] = node.ratios[m] < own.line[m] && slower;  // false for NaN: failed, or not compared
    lows += own.low[m];
  }
  own.low_run = lows >= SLOW_MEASUREMENTS;
  own.recent_low_runs = own.low_run;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) own.recent_lows[m] = own.low[m];
  for (std::size_t k = 0; k + 1 < RECENT_RUNS && k < earlier.size(); ++k) {
    const Point& before = *earlier[earlier.size() - 1 - k];
    own.recent_low_runs += before.low_run;
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) own.recent_lows[m] += before.low[m];
  }
}

void NodeHistories::remember(const RunSummary& fleet, const RunSummary& run, const std::vector<OwnNormal>& normals) {
  for (std::size_t i = 0; i < run.nodes.size(); ++i) {
    const RunSummary::Node& node = run.nodes[i];
    Point& point = points_[node.name].emplace_back();
    point.workers = node.workers;
    std::copy(std::begin(fleet.nodes[i].ratios), std::end(fleet.nodes[i].ratios), point.ratios);
    std::copy(std::begin(fleet.nodes[i].figures), std::end(fleet.nodes[i].figures), point.figures);
    point.low_run = normals[i].low_run;
    const bool usable = !point.low_run && node.verdict != Verdict::slow && node.verdict != Verdict::failed;
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
      point.judged[m] = run.judged[m];
      point.low[m] = normals[i].low[m];
      point.counts[m] = usable && run.judged[m] && !point.low[m];
    }
  }
}

namespace {

Verdict verdict_by_own_normal(const OwnNormal& own) {
  if (own.low_in().empty()) return Verdict::ok;
  return own.lasting() >= LOW_RUNS_TO_SLOW ? Verdict::slow : Verdict::suspect;
}

// Sets each node's own normal, the peer line held to how far the nodes
// stray from run to run, each node's verdict from both lines and its cause.
void hold_against_own_normals(Verdicts& verdicts, HeldRun held) {
  std::copy(std::begin(held.run_to_run), std::end(held.run_to_run), verdicts.run_to_run);
  hold_peer_lines_to_history(verdicts);
  for (std::size_t i = 0; i < verdicts.nodes.size(); ++i) {
    NodeVerdict& node = verdicts.nodes[i];
    node.own = std::move(held.normals[i]);
    node.by_own_normal = verdict_by_own_normal(node.own);
    node.verdict = worse_of(node.by_peers, node.by_own_normal);
    node.cause = probable_cause(node, verdicts.judged);
  }
  find_shared_falls(verdicts);
  order_worst_first(verdicts);
}

// A run in the order they are held: a history run, or judged run `judged`.
struct Placed {
  const RunSummary* summary;
  int judged;  // index into the judged runs; -1 for a history run
};

}  // namespace

void judge_against_history(std::vector<JudgedRun>& judged, const std::vector<RunSummary>& history,
                           const std::vector<DeclaredGroup>* declared) {
  std::vector<RunSummary> judged_summaries;
  for (const JudgedRun& run : judged) judged_summaries.push_back(summarize(*run.file, run.verdicts));

  std::vector<Placed> order;
  for (const RunSummary& run : history) {
    // The benchmark's file names are one per run: a stamped name met again is the same run.
    const bool is_judged = std::any_of(judged_summaries.begin(), judged_summaries.end(), [&](const RunSummary& other) {
      return !run.stamp.time_stamp.empty() && !run.source.empty() && file_name_of(other.source) == file_name_of(run.source);
    });
    if (!is_judged) order.push_back({&run, -1});
  }
  for (std::size_t i = 0; i < judged.size(); ++i) order.push_back({&judged_summaries[i], static_cast<int>(i)});
  order_by_start(order, [](const Placed& run) -> const RunStamp& { return run.summary->stamp; });

  NodeHistories histories;
  std::vector<const RunSummary*> taken;
  int held = 0;
  for (const Placed& run : order) {
    const std::vector<NodeLevel> levels = histories.levels(*run.summary);
    const Grouping grouping = history_grouping(*run.summary, levels, declared);
    const RunSummary fleet = against_reference(*run.summary, grouping, levels);
    if (run.judged < 0) {
      histories.take(fleet, judged_by_kind(*run.summary, grouping), false);
    } else {
      JudgedRun& target = judged[run.judged];
      target.history_runs = held;
      if (!grouping.trivial(target.verdicts.nodes.size()) || !target.verdicts.groups.empty())
        judge_by_kind(target.verdicts, grouping);
      HeldRun against_history =
          histories.take(fleet, summarize(*target.file, target.verdicts, true), true);
      target.verdicts.cluster = cluster_change(against_history.normals, *run.summary, taken);
      hold_against_own_normals(target.verdicts, std::move(against_history));
    }
    taken.push_back(run.summary);
    ++held;
  }
}
