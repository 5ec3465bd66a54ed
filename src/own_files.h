// The entries at the names this program writes. Every name is predictable
// and the directory may be writable by others, so an entry found at one of
// them is input: the program replaces only a regular file of its own user
// with a single link (a leftover of an earlier run) and opens every file it
// writes with an exclusive create that follows no link. Anything else stays
// where it is, and the measurement (or the result file) that needed the name
// fails with the reason.
#pragma once

#include <ios>
#include <string>

// Stream open modes that create a new file and never follow a link: the
// create fails when any entry, a dangling link included, holds the name.
inline constexpr std::ios_base::openmode EXCLUSIVE_OUTPUT =
    std::ios_base::out | std::ios_base::binary | std::ios_base::__noreplace;
inline constexpr std::ios_base::openmode EXCLUSIVE_TEXT_OUTPUT =
    std::ios_base::out | std::ios_base::trunc | std::ios_base::__noreplace;

// What is at `name`, when it is not ours to replace: "" for nothing there or
// a regular file of this user with one link; otherwise what is there and
// that it stays: "a symbolic link, not a file this program made; left alone".
std::string foreign_entry(const char* name);

// Makes `name` free for an exclusive create: removes a leftover of this
// user's; leaves anything else alone and says on standard error, as rank
// `rank` on `processor`, what is there.
void clear_own_leftover(int rank, const char* processor, const char* name);
