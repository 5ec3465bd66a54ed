#include "measurement.h"

#include "../globals.h"

const Measurement streams_measurement = {
    "file handling through streams", results_x, spent_x, results_x_temp, spent_x_temp,
    procname1_temp, &results_overall_x, &results_mean, &result_single_x,
    file_handling_worker_lines, " Secs."};

const Measurement descriptors_measurement = {
    "file handling through descriptors", results_xx, spent_xx, results_x_tempx, spent_x_tempx,
    procname2_temp, &results_overall_xx, &results_meanx, &result_single_x1,
    file_handling_worker_lines, " Secs."};

const Measurement bytewise_write_measurement = {
    "byte-wise write", results_0, spent_0, results_0_temp, spent_0_temp,
    procname3_temp, &results_overall_0, &results_mean0, &result_single0,
    transfer_worker_lines, " Secs. to Write."};

const Measurement bytewise_read_measurement = {
    "byte-wise read", results1, spent1, results1_temp, spent1_temp,
    procname4_temp, &results_overall1, &results_mean1, &result_single2,
    transfer_worker_lines, " Secs. to Read."};

const Measurement block_read_measurement = {
    "block read", results0, spent0, results0_temp, spent0_temp,
    procname5_temp, &results_overall0, &results_mean2, &result_single,
    transfer_worker_lines, " Secs. to Read."};

const Measurement block_write_measurement = {
    "block write", results2, spent2, results2_temp, spent2_temp,
    procname6_temp, &results_overall2, &results_mean3, &result_single1,
    transfer_worker_lines, " Secs. to Write."};
