#include "measurement.h"

#include "../globals.h"

const Measurement MEASUREMENT_TABLES[MEASUREMENT_COUNT] = {
    {STREAMS, {&start_single_x, &end_single_x, &spent_single_x, &result_single_x},
     start_x, end_x, spent_x, results_x,
     results_x_temp, spent_x_temp, procname1_temp, &results_overall_x, &results_mean},
    {DESCRIPTORS, {&start_single_x1, &end_single_x1, &spent_single_x1, &result_single_x1},
     start_xx, end_xx, spent_xx, results_xx,
     results_x_tempx, spent_x_tempx, procname2_temp, &results_overall_xx, &results_meanx},
    {BYTEWISE_WRITE, {&start_single0, &end_single0, &spent_single0, &result_single0},
     start_0, end_0, spent_0, results_0,
     results_0_temp, spent_0_temp, procname3_temp, &results_overall_0, &results_mean0},
    {BYTEWISE_READ, {&start_single2, &end_single2, &spent_single2, &result_single2},
     start1, end1, spent1, results1,
     results1_temp, spent1_temp, procname4_temp, &results_overall1, &results_mean1},
    {BLOCK_READ, {&start_single, &end_single, &spent_single, &result_single},
     start0, end0, spent0, results0,
     results0_temp, spent0_temp, procname5_temp, &results_overall0, &results_mean2},
    {BLOCK_WRITE, {&start_single1, &end_single1, &spent_single1, &result_single1},
     start2, end2, spent2, results2,
     results2_temp, spent2_temp, procname6_temp, &results_overall2, &results_mean3},
};
