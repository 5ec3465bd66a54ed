// An index of a history folder: per result file, what it said of each node
// (its RunSummary), or why it was left out, with the file's size and
// modification time when read. The files stay the source of truth: an entry
// whose file changed or went is read again or dropped, and an index that is
// missing, of another format or damaged is built anew from the files, so
// deleting it never loses anything.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "reading/run_summary.h"

// What the index holds for one file.
struct IndexedFile {
  std::string name;        // within the folder
  long long size = 0;
  long long mtime_ns = 0;
  std::string problem;     // why it was left out; empty for a run
  RunSummary run;          // when no problem
};

class HistoryIndex {
 public:
  // Opens the index at `path` of summaries made under `rule`, made anew when
  // it is missing, of another format or rule or damaged, or when `anew`;
  // null, with `why` set, when it cannot be kept there.
  static std::unique_ptr<HistoryIndex> open(const std::string& path, const std::string& rule, bool anew,
                                            std::string& why);
  ~HistoryIndex();
  HistoryIndex(const HistoryIndex&) = delete;
  HistoryIndex& operator=(const HistoryIndex&) = delete;

  // Every entry; false when the index could not be read whole (damaged).
  bool entries(std::vector<IndexedFile>& files);
  // Replaces the entries of these names: `changed` written, `gone` dropped.
  // False, with `why` set, when the index could not be written.
  bool update(const std::vector<IndexedFile>& changed, const std::vector<std::string>& gone, std::string& why);

 private:
  explicit HistoryIndex(struct sqlite3* db) : db_(db) {}
  struct sqlite3* db_;
};
