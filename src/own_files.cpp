#include "own_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "failures.h"
#include "report_lines.h"

namespace {

std::string kind_of(const struct stat& entry) {
  switch (entry.st_mode & S_IFMT) {
    case S_IFLNK: return "a symbolic link";
    case S_IFDIR: return "a directory";
    case S_IFIFO: return "a FIFO";
    case S_IFSOCK: return "a socket";
    case S_IFCHR: return "a character device";
    case S_IFBLK: return "a block device";
    default: return "a regular file";
  }
}

// What an entry lstat() described is, when it is not ours to replace; ""
// when it is.
std::string kind_if_foreign(const struct stat& entry) {
  if (!S_ISREG(entry.st_mode)) return kind_of(entry);
  if (entry.st_uid != geteuid()) return line("a regular file of user ", entry.st_uid);
  // A file this program made has one name; a second is a hard link that
  // someone else planted to a file of ours.
  if (entry.st_nlink != 1) return line("a regular file with ", entry.st_nlink, " links");
  return "";
}

std::string described_foreign(const struct stat& entry) {
  const std::string kind = kind_if_foreign(entry);
  return kind.empty() ? kind : kind + ", not a file this program made; left alone";
}

}  // namespace

std::string foreign_entry(const char* name) {
  struct stat entry {};
  if (lstat(name, &entry) != 0) return "";  // nothing there, or nothing we can see: the open will say
  return described_foreign(entry);
}

void clear_own_leftover(int rank, const char* processor, const char* name) {
  struct stat entry {};
  if (lstat(name, &entry) != 0) return;  // nothing to clear
  const std::string foreign = described_foreign(entry);
  if (!foreign.empty()) {
    write_error_line(line(rank_prefix(rank, processor), ": \"", name, "\" is ", foreign));
    return;
  }
  // Removing a name never follows a link: if the entry changed since it was
  // looked at, only the new entry's name goes, and the exclusive create
  // that follows refuses whatever takes its place.
  if (unlink(name) != 0 && errno != ENOENT)
    write_error_line(line(rank_prefix(rank, processor), ": \"", name, "\" could not be removed: ",
                          std::strerror(errno)));
}
