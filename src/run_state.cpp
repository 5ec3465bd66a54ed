// Definitions of the run state declared in globals.h. All of it is built
// before main() runs, in the order written here, and destroyed after main()
// returns in the reverse order; destroying a stream closes its file.
#include "globals.h"

#include <unistd.h>

// The working directory is captured before anything else, and so before
// MPI_Init: getcwd allocates the text itself and it is never freed.
char* newbuffer = getcwd(nullptr, 0);

int iproc = 0;
int nproc = 0;
char proc_name[PROC_NAME_BYTES] = {};
int nameLength = 0;

std::ofstream fout;
char resultfile[RESULT_NAME_BYTES] = {};
char filepath[RESULT_PATH_BYTES] = {};

int iprocs[MAX_RANKS] = {};
int iprocs_temp[MAX_RANKS] = {};
char proc_name_temp[PROC_NAME_BYTES] = {};
MPI_Status status;
int tag = 0;

double start_single_x = 0.0, end_single_x = 0.0, spent_single_x = 0.0, result_single_x = 0.0;
std::ofstream fout_temp_x;
std::ifstream fin_temp_x;
double start_x[MAX_RANKS] = {}, end_x[MAX_RANKS] = {}, spent_x[MAX_RANKS] = {}, results_x[MAX_RANKS] = {};
std::ofstream fout_temp_x_m[MAX_RANKS];
std::ifstream fin_temp_x_m[MAX_RANKS];
char filename[SCRATCH_NAME_BYTES] = {};
double results_x_temp[MAX_RANKS] = {}, spent_x_temp[MAX_RANKS] = {};
std::string procname1_temp[MAX_RANKS];
double results_overall_x = 0.0, results_mean = 0.0;

double start_single_x1 = 0.0, end_single_x1 = 0.0, spent_single_x1 = 0.0, result_single_x1 = 0.0;
int handle = 0;
double start_xx[MAX_RANKS] = {}, end_xx[MAX_RANKS] = {}, spent_xx[MAX_RANKS] = {}, results_xx[MAX_RANKS] = {};
int handle0[MAX_RANKS] = {};
char filenamex[SCRATCH_NAME_BYTES] = {};
double results_x_tempx[MAX_RANKS] = {}, spent_x_tempx[MAX_RANKS] = {};
std::string procname2_temp[MAX_RANKS];
double results_overall_xx = 0.0, results_meanx = 0.0;

double start_single0 = 0.0, end_single0 = 0.0, spent_single0 = 0.0, result_single0 = 0.0;
double start_single2 = 0.0, end_single2 = 0.0, spent_single2 = 0.0, result_single2 = 0.0;
std::ofstream fout_temp;
std::ifstream fin_data;
std::uint64_t position = 0;
char char8 = 0;
double start_0[MAX_RANKS] = {}, end_0[MAX_RANKS] = {}, spent_0[MAX_RANKS] = {}, results_0[MAX_RANKS] = {};
double start1[MAX_RANKS] = {}, end1[MAX_RANKS] = {}, spent1[MAX_RANKS] = {}, results1[MAX_RANKS] = {};
std::ofstream fout_temp1[MAX_RANKS];
std::ifstream fin_data1[MAX_RANKS];
char bytewise_filename[SCRATCH_NAME_BYTES] = {};
double results_0_temp[MAX_RANKS] = {}, spent_0_temp[MAX_RANKS] = {};
std::string procname3_temp[MAX_RANKS];
double results_overall_0 = 0.0, results_mean0 = 0.0;
double results1_temp[MAX_RANKS] = {}, spent1_temp[MAX_RANKS] = {};
std::string procname4_temp[MAX_RANKS];
double results_overall1 = 0.0, results_mean1 = 0.0;

double start_single = 0.0, end_single = 0.0, spent_single = 0.0, result_single = 0.0;
double start_single1 = 0.0, end_single1 = 0.0, spent_single1 = 0.0, result_single1 = 0.0;
std::ifstream fin_datah;
std::ofstream fout_data;
char* buffer = nullptr;
double start0[MAX_RANKS] = {}, end0[MAX_RANKS] = {}, spent0[MAX_RANKS] = {}, results0[MAX_RANKS] = {};
double start2[MAX_RANKS] = {}, end2[MAX_RANKS] = {}, spent2[MAX_RANKS] = {}, results2[MAX_RANKS] = {};
std::ifstream fin_data1h[MAX_RANKS];
std::ofstream fout_data1[MAX_RANKS];
char block_filename[SCRATCH_NAME_BYTES] = {};
double results0_temp[MAX_RANKS] = {}, spent0_temp[MAX_RANKS] = {};
std::string procname5_temp[MAX_RANKS];
double results_overall0 = 0.0, results_mean2 = 0.0;
double results2_temp[MAX_RANKS] = {}, spent2_temp[MAX_RANKS] = {};
std::string procname6_temp[MAX_RANKS];
double results_overall2 = 0.0, results_mean3 = 0.0;
