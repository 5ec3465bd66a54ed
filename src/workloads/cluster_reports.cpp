#include "cluster_reports.h"

#include "../cluster/exchange.h"
#include "../result_file.h"
#include "layouts.h"

namespace {

TransferTotals totals_of(const Measurement& write, const Measurement& read) {
  return {*write.total, *write.single, *write.average, *read.total, *read.single, *read.average};
}

// Receives and prints every worker's first measurement, then every worker's
// second, then the summary; the summary always gives writing before reading.
void transfer_collection_report(const char* heading, const Measurement& first, const Measurement& second,
                                const Measurement& write, const Measurement& read,
                                const TransferSummaryLayout& layout) {
  tee(multi_rank_heading(heading));
  collect_from_workers(first);
  collect_from_workers(second);
  tee(transfer_summary(layout, totals_of(write, read)));
}

}  // namespace

void bytewise_collection_report() {
  transfer_collection_report(BYTEWISE_HEADING, bytewise_write_measurement, bytewise_read_measurement,
                             bytewise_write_measurement, bytewise_read_measurement, BYTEWISE_SUMMARY);
}

void block_collection_report() {
  transfer_collection_report(BLOCK_HEADING, block_read_measurement, block_write_measurement,
                             block_write_measurement, block_read_measurement, BLOCK_SUMMARY);
}
