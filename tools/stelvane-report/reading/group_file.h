// The groups of alike nodes a site declares (judging/groups.h), read from a
// file of its own or from what Slurm knows of its nodes.
#pragma once

#include <istream>
#include <string>
#include <vector>

// A group the site names, with its nodes.
struct DeclaredGroup {
  std::string name;
  std::vector<std::string> nodes;
};

// A groups file: one group a line, its name, a blank, and its nodes as a
// Slurm host list ("gen3 node[0001-0448],gpu[01-16]"); "#" begins a
// comment, blank lines are passed over. Throws ParseError naming the file
// and line for a malformed line, a name given twice, or a node in two
// groups.
std::vector<DeclaredGroup> parse_group_file(std::istream& in, const std::string& source);
std::vector<DeclaredGroup> read_group_file(const std::string& path);

// The output of `scontrol show nodes` (one record per node, on one line or
// several): the nodes grouped by their active features, a group per set of
// features ("gen3", "gen2,ib"), named as Slurm lists them. A node without
// features is in no group. Throws ParseError when no node record is found.
std::vector<DeclaredGroup> parse_slurm_nodes(std::istream& in, const std::string& source);
std::vector<DeclaredGroup> read_slurm_nodes(const std::string& path);

// The names a Slurm host list stands for, in its order: "node[01-03,7]x"
// gives node01x, node02x, node03x, node7x; several bracketed parts multiply.
// False, with `why` set, for a malformed list or one of more than
// MAX_HOST_LIST_NAMES names.
bool expand_host_list(const std::string& list, std::vector<std::string>& names, std::string& why);
inline constexpr std::size_t MAX_HOST_LIST_NAMES = 1 << 20;
