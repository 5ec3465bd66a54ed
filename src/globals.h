// The run state: every table, figure, stream and buffer of a run is a
// process-wide global that lives from before main() until after it returns.
// Entry r of a per-rank table or stream pool belongs to rank r. A worker rank
// writes only its own entries; rank 0 only reads entry [i] of a report from
// rank i. Nothing here is reset during a run.
#pragma once

#include <mpi.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "sizes.h"

// ---- Run identity, set once after MPI_Init -------------------------------
extern int iproc;                        // this rank in MPI_COMM_WORLD
extern int nproc;                        // ranks in MPI_COMM_WORLD ("Thread(s): ")
extern char proc_name[PROC_NAME_BYTES];  // this node's processor name
extern int nameLength;                   // characters in proc_name, no terminator

// ---- Report output (rank 0 only) ------------------------------------------
extern std::ofstream fout;                     // the result file
extern char resultfile[RESULT_NAME_BYTES];     // the result file's name
extern char filepath[RESULT_PATH_BYTES];       // its full path (bounded copy)
extern char* newbuffer;                        // working directory at start, or null

// ---- Message buffers shared by all measurements ---------------------------
extern int iprocs[MAX_RANKS];                  // worker: [own rank] = own rank
extern int iprocs_temp[MAX_RANKS];             // rank 0: received iprocs
extern char proc_name_temp[PROC_NAME_BYTES];   // rank 0: received processor name
extern MPI_Status status;                      // filled by every receive
extern int tag;                                // tag of every result message: 0

// ---- File handling through streams ----------------------------------------
extern double start_single_x, end_single_x, spent_single_x, result_single_x;
extern std::ofstream fout_temp_x;
extern std::ifstream fin_temp_x;
extern double start_x[MAX_RANKS], end_x[MAX_RANKS], spent_x[MAX_RANKS], results_x[MAX_RANKS];
extern std::ofstream fout_temp_x_m[MAX_RANKS];
extern std::ifstream fin_temp_x_m[MAX_RANKS];
extern char filename[SCRATCH_NAME_BYTES];      // worker's scratch name
extern double results_x_temp[MAX_RANKS], spent_x_temp[MAX_RANKS];
extern std::string procname1_temp[MAX_RANKS];
extern double results_overall_x, results_mean;

// ---- File handling through descriptors ------------------------------------
extern double start_single_x1, end_single_x1, spent_single_x1, result_single_x1;
extern int handle;                             // descriptor of the current cycle
extern double start_xx[MAX_RANKS], end_xx[MAX_RANKS], spent_xx[MAX_RANKS], results_xx[MAX_RANKS];
extern int handle0[MAX_RANKS];                 // worker: [own rank] = descriptor
extern char filenamex[SCRATCH_NAME_BYTES];     // worker's scratch name
extern double results_x_tempx[MAX_RANKS], spent_x_tempx[MAX_RANKS];
extern std::string procname2_temp[MAX_RANKS];
extern double results_overall_xx, results_meanx;

// ---- Byte-wise write and read ----------------------------------------------
extern double start_single0, end_single0, spent_single0, result_single0;  // write
extern double start_single2, end_single2, spent_single2, result_single2;  // read
extern std::ofstream fout_temp;
extern std::ifstream fin_data;
extern std::uint64_t position;                 // second-pass length of rank 0
extern char char8;                             // target of every byte read on rank 0
extern double start_0[MAX_RANKS], end_0[MAX_RANKS], spent_0[MAX_RANKS], results_0[MAX_RANKS];
extern double start1[MAX_RANKS], end1[MAX_RANKS], spent1[MAX_RANKS], results1[MAX_RANKS];
extern std::ofstream fout_temp1[MAX_RANKS];
extern std::ifstream fin_data1[MAX_RANKS];
extern char bytewise_filename[SCRATCH_NAME_BYTES];  // worker's byte-wise file, reused by the block share
extern double results_0_temp[MAX_RANKS], spent_0_temp[MAX_RANKS];
extern std::string procname3_temp[MAX_RANKS];
extern double results_overall_0, results_mean0;
extern double results1_temp[MAX_RANKS], spent1_temp[MAX_RANKS];
extern std::string procname4_temp[MAX_RANKS];
extern double results_overall1, results_mean1;

// ---- Block read and write --------------------------------------------------
extern double start_single, end_single, spent_single, result_single;      // read
extern double start_single1, end_single1, spent_single1, result_single1;  // write
extern std::ifstream fin_datah;
extern std::ofstream fout_data;
extern char* buffer;                           // rank 0's block buffer while it lives
extern double start0[MAX_RANKS], end0[MAX_RANKS], spent0[MAX_RANKS], results0[MAX_RANKS];
extern double start2[MAX_RANKS], end2[MAX_RANKS], spent2[MAX_RANKS], results2[MAX_RANKS];
extern std::ifstream fin_data1h[MAX_RANKS];
extern std::ofstream fout_data1[MAX_RANKS];
extern char block_filename[SCRATCH_NAME_BYTES];  // worker's block output name
extern double results0_temp[MAX_RANKS], spent0_temp[MAX_RANKS];
extern std::string procname5_temp[MAX_RANKS];
extern double results_overall0, results_mean2;
extern double results2_temp[MAX_RANKS], spent2_temp[MAX_RANKS];
extern std::string procname6_temp[MAX_RANKS];
extern double results_overall2, results_mean3;
