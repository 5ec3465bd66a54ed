#include "judging/groups.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <unordered_set>

#include "judging/robust.h"

namespace {

// Each source's key and its words, in the order of GroupSource.
struct SourceWords {
  const char* key;
  const char* name;
};
constexpr SourceWords SOURCE_WORDS[] = {
    {"declared", "declared"}, {"learned", "learned from the kept runs"}, {"seen", "seen in this run"}};

}  // namespace

const char* group_source_name(GroupSource source) { return SOURCE_WORDS[static_cast<int>(source)].name; }
const char* group_source_key(GroupSource source) { return SOURCE_WORDS[static_cast<int>(source)].key; }

int Grouping::of(const std::string& node) const {
  const auto found = group_of.find(node);
  return found == group_of.end() ? -1 : found->second;
}

bool Grouping::trivial(std::size_t nodes) const {
  return groups.empty() ||
         (groups.size() == 1 && group_of.size() == nodes && groups.front().source != GroupSource::declared);
}

namespace {

// The fewest nodes next to a place that each side is read by.
constexpr std::size_t NEAR_NODES = 8;

// A place that splits a set of nodes in one measurement: the nodes below it
// and how clearly it splits them.
struct Split {
  double separation = 0;           // of the sides' medians, in spreads
  int measurement = -1;
  std::vector<std::size_t> lower;  // indices into the nodes
};

// Sorted values, and what tells quickly how clearly a cut splits them.
class SortedLevels {
 public:
  explicit SortedLevels(std::vector<double> sorted) : sorted_(std::move(sorted)), sums_(1, 0.0), squares_(1, 0.0) {
    for (double value : sorted_) {
      sums_.push_back(sums_.back() + value);
      squares_.push_back(squares_.back() + value * value);
    }
  }
  std::size_t size() const { return sorted_.size(); }
  double gap_at(std::size_t cut) const { return sorted_[cut] - sorted_[cut - 1]; }
  double median(std::size_t from, std::size_t to) const {
    const std::size_t count = to - from, middle = from + count / 2;
    return count % 2 ? sorted_[middle] : (sorted_[middle - 1] + sorted_[middle]) / 2.0;
  }
  // The pooled standard deviation of [from, cut) and [cut, to); `trimmed`,
  // each side of TRIM_FROM nodes or more without its node furthest from its
  // median.
  double pooled_deviation(std::size_t from, std::size_t cut, std::size_t to, bool trimmed) const {
    const Side low = side(from, cut, trimmed), high = side(cut, to, trimmed);
    return std::sqrt(std::max(0.0, low.squares + high.squares) / (low.count + high.count - 2));
  }
  // The pooled robust standard deviation of [from, cut) and [cut, to).
  double pooled_robust_deviation(std::size_t from, std::size_t cut, std::size_t to) const {
    const double low = median(from, cut), high = median(cut, to);
    std::vector<double> distances;
    for (std::size_t i = from; i < to; ++i) distances.push_back(std::fabs(sorted_[i] - (i < cut ? low : high)));
    return MAD_TO_SIGMA * median_of(distances);
  }

 private:
  static constexpr std::size_t TRIM_FROM = 8;
  struct Side {
    double squares;  // of the distances from its mean
    double count;
  };
  Side side(std::size_t from, std::size_t to, bool trimmed) const {
    double sum = sums_[to] - sums_[from], squares = squares_[to] - squares_[from], count = to - from;
    if (trimmed && to - from >= TRIM_FROM) {
      // Sorted: the node furthest from the median is at one end.
      const double centre = median(from, to);
      const double furthest = centre - sorted_[from] > sorted_[to - 1] - centre ? sorted_[from] : sorted_[to - 1];
      sum -= furthest;
      squares -= furthest * furthest;
      count -= 1;
    }
    return {squares - sum * sum / count, count};
  }
  std::vector<double> sorted_, sums_, squares_;
};

// How clearly a cut splits the levels, in spreads; 0 when it does not
// qualify. Each side is read by its `near` nodes next to the cut, so that a
// third kind further off does not hide two kinds that meet there. The gap
// must stand out from the sides' whole spread; their medians, from their
// spread without the node furthest out of each, so that one slow node does
// not hide its kind. The quick tests first: the robust spread is only worked
// out where the gap stands out from the standard one.
double separation_at(const SortedLevels& levels, std::size_t cut, std::size_t smallest) {
  const std::size_t near =
      std::min({cut, levels.size() - cut, std::max({smallest, levels.size() / 4, NEAR_NODES})});
  const std::size_t from = cut - near, to = cut + near;
  const double apart = levels.median(cut, to) - levels.median(from, cut);
  const double whole = levels.pooled_deviation(from, cut, to, false);
  double spread = levels.pooled_deviation(from, cut, to, true);
  if (apart < -std::log(KIND_STEP) || levels.gap_at(cut) < whole || apart < KIND_SEPARATION * spread) return 0;
  const double robust = levels.pooled_robust_deviation(from, cut, to);
  if (levels.gap_at(cut) < robust) return 0;
  spread = std::max(spread, robust);
  const double separation = spread > 0 ? apart / spread : INFINITY;
  return separation >= KIND_SEPARATION ? separation : 0;
}

// The clearest qualifying split of `members` in measurement m; none (an
// empty lower side) when no place qualifies.
Split clearest_split(const std::vector<NodeLevel>& nodes, const std::vector<std::size_t>& members, int m,
                     std::size_t smallest) {
  std::vector<std::pair<double, std::size_t>> placed;  // log level, index
  for (std::size_t i : members)
    if (nodes[i].level[m] > 0) placed.push_back({std::log(nodes[i].level[m]), i});
  std::sort(placed.begin(), placed.end());
  std::vector<double> sorted;
  for (const auto& entry : placed) sorted.push_back(entry.first);
  const SortedLevels levels(std::move(sorted));
  Split best;
  for (std::size_t cut = smallest; cut + smallest <= levels.size(); ++cut) {
    const double separation = separation_at(levels, cut, smallest);
    if (separation <= best.separation) continue;
    best.separation = separation;
    best.measurement = m;
    best.lower.clear();
    for (std::size_t k = 0; k < cut; ++k) best.lower.push_back(placed[k].second);
  }
  return best;
}

// Splits `members` as long as a place qualifies; appends the kinds found,
// fastest first.
void split_into(const std::vector<NodeLevel>& nodes, const std::vector<std::size_t>& members,
                const bool judged[MEASUREMENT_COUNT], std::size_t smallest,
                std::vector<std::vector<std::size_t>>& kinds) {
  Split best;
  for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
    if (!judged[m]) continue;
    Split split = clearest_split(nodes, members, m, smallest);
    if (split.separation > best.separation) best = std::move(split);
  }
  if (best.lower.empty()) {
    kinds.push_back(members);
    return;
  }
  const std::unordered_set<std::size_t> lower(best.lower.begin(), best.lower.end());
  std::vector<std::size_t> low_side, high_side, unplaced;
  for (std::size_t i : members) {
    if (!(nodes[i].level[best.measurement] > 0))
      unplaced.push_back(i);
    else
      (lower.count(i) ? low_side : high_side).push_back(i);
  }
  // A node with no level where they split (failed there) joins the larger side.
  std::vector<std::size_t>& larger = low_side.size() > high_side.size() ? low_side : high_side;
  larger.insert(larger.end(), unplaced.begin(), unplaced.end());
  split_into(nodes, high_side, judged, smallest, kinds);
  split_into(nodes, low_side, judged, smallest, kinds);
}

}  // namespace

Grouping kinds_of(const std::vector<NodeLevel>& nodes, const bool judged[MEASUREMENT_COUNT], GroupSource source) {
  const std::size_t smallest =
      std::max<std::size_t>(MIN_KIND_NODES, static_cast<std::size_t>(std::ceil(MIN_KIND_SHARE * nodes.size())));
  std::vector<std::size_t> everyone(nodes.size());
  std::iota(everyone.begin(), everyone.end(), 0);
  std::vector<std::vector<std::size_t>> kinds;
  split_into(nodes, everyone, judged, smallest, kinds);
  Grouping grouping;
  if (kinds.size() < 2) return grouping;
  for (std::size_t k = 0; k < kinds.size(); ++k) {
    grouping.groups.push_back({"kind " + std::to_string(k + 1), source});
    for (std::size_t i : kinds[k]) grouping.group_of[nodes[i].node] = static_cast<int>(k);
  }
  return grouping;
}

Grouping declared_grouping(const std::vector<DeclaredGroup>& declared, const std::vector<std::string>& run_nodes) {
  std::unordered_map<std::string, std::size_t> named;  // node: its declared group
  for (std::size_t g = 0; g < declared.size(); ++g)
    for (const std::string& node : declared[g].nodes) named.emplace(node, g);
  // The groups that hold a node of the run, in the order declared.
  std::vector<int> index(declared.size(), -1);
  for (const std::string& node : run_nodes) {
    const auto found = named.find(node);
    if (found != named.end()) index[found->second] = 0;
  }
  Grouping grouping;
  for (std::size_t g = 0; g < declared.size(); ++g)
    if (index[g] == 0) {
      index[g] = static_cast<int>(grouping.groups.size());
      grouping.groups.push_back({declared[g].name, GroupSource::declared});
    }
  for (const std::string& node : run_nodes) {
    const auto found = named.find(node);
    if (found != named.end()) grouping.group_of[node] = index[found->second];
  }
  return grouping;
}
