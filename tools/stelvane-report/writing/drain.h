// What an administrator does with the slow and failed nodes: a list of
// Slurm commands that drain them (printed, never run) and one Slurm
// host-list expression of them. A node name comes from the result file, so
// it is untrusted: only a name made of letters, digits, ".", "_" and "-"
// goes into a command or an expression; any other is left out, with a note.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "judging/verdict.h"
#include "reading/result_reader.h"

// Whether a node name can stand in a command line and a host list as it is.
bool plain_node_name(const std::string& name);

// "node[001-003,017],login2": the names, sorted, numbered ones in ranges.
std::string host_list(std::vector<std::string> names);

// The slow and failed nodes whose names are plain, worst first; the others
// go to `left_out`.
std::vector<const NodeVerdict*> nodes_to_drain(const Verdicts& verdicts, std::vector<std::string>& left_out);

// The slow and failed nodes with plain names as one Slurm host list.
std::string drain_host_list(const Verdicts& verdicts);

// One line per slow or failed node of each file:
//   scontrol update nodename=NODE state=drain reason="stelvane-mpi: ..."
// and, on `notes`, one line per node left out.
void write_drain(std::ostream& out, std::ostream& notes, const std::vector<JudgedRun>& runs);
