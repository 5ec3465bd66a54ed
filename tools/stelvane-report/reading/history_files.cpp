#include "reading/history_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "reading/history_index.h"

namespace {

// A file that says nothing usable is named, counted and passed over.
void leave_out(const std::string& problem, History& history, std::ostream& notes) {
  notes << "stelvane-report: history: left out: " << problem << "\n";
  ++history.skipped;
}

// What one file says, or why it is left out.
IndexedFile read_entry(const std::string& path, const std::string& name, const struct stat& entry,
                       const Summarize& summarize) {
  IndexedFile file;
  file.name = name;
  file.size = entry.st_size;
  file.mtime_ns = static_cast<long long>(entry.st_mtim.tv_sec) * 1000000000LL + entry.st_mtim.tv_nsec;
  try {
    const ResultFile result = read_result_file(path);
    if (!result.complete)
      file.problem = path + " stops part way: " + result.truncation;
    else
      file.run = summarize.run(result);
  } catch (const ParseError& error) {
    file.problem = error.what();
  }
  return file;
}

// The result files of a folder, by name.
std::map<std::string, struct stat> result_files_in(const std::string& folder, std::ostream& notes) {
  std::map<std::string, struct stat> found;
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) {
    notes << "stelvane-report: history: " << folder << ": cannot be read: " << std::strerror(errno) << "\n";
    return found;
  }
  while (const dirent* item = readdir(listing)) {
    const std::string name = item->d_name;
    struct stat entry {};
    if (stamp_of(name).time_stamp.empty() || stat((folder + "/" + name).c_str(), &entry) != 0 ||
        !S_ISREG(entry.st_mode))
      continue;
    found.emplace(name, entry);
  }
  closedir(listing);
  return found;
}

class FolderReader {
 public:
  FolderReader(const std::string& folder, const Summarize& summarize, History& history, std::ostream& notes)
      : folder_(folder), summarize_(summarize), history_(history), notes_(notes) {}

  void read() {
    const std::map<std::string, struct stat> files = result_files_in(folder_, notes_);
    std::map<std::string, IndexedFile> known = indexed();
    std::vector<IndexedFile> changed;
    std::vector<std::string> gone;
    for (const auto& [name, entry] : known)
      if (files.count(name) == 0) gone.push_back(name);
    for (const auto& [name, entry] : files) {
      const auto found = known.find(name);
      if (found != known.end() && same_file(found->second, entry)) {
        take(found->second);
        continue;
      }
      changed.push_back(read_entry(folder_ + "/" + name, name, entry, summarize_));
      take(changed.back());
    }
    std::string why;
    if (index_ && !index_->update(changed, gone, why))
      notes_ << "stelvane-report: history: cannot update the index in " << folder_ << ": " << why << "\n";
  }

 private:
  // The index's entries by name; none when it cannot be kept.
  std::map<std::string, IndexedFile> indexed() {
    std::map<std::string, IndexedFile> by_name;
    const std::string path = folder_ + "/" + HISTORY_INDEX_NAME;
    std::string why;
    std::vector<IndexedFile> entries;
    index_ = HistoryIndex::open(path, summarize_.rule, false, why);
    if (index_ && !index_->entries(entries)) {
      // Damaged: made anew, and nothing read from it kept (its files' entries
      // may have been read before its nodes failed to be).
      entries.clear();
      index_ = HistoryIndex::open(path, summarize_.rule, true, why);
    }
    if (!index_) {
      notes_ << "stelvane-report: history: cannot keep an index in " << folder_ << " (" << why
             << "); every file is read\n";
      return by_name;
    }
    for (IndexedFile& entry : entries) by_name.emplace(entry.name, std::move(entry));
    return by_name;
  }

  static bool same_file(const IndexedFile& indexed, const struct stat& entry) {
    return indexed.size == entry.st_size &&
           indexed.mtime_ns == static_cast<long long>(entry.st_mtim.tv_sec) * 1000000000LL + entry.st_mtim.tv_nsec;
  }

  void take(const IndexedFile& file) {
    if (!file.problem.empty()) return leave_out(file.problem, history_, notes_);
    RunSummary run = file.run;
    run.source = folder_ + "/" + file.name;
    run.stamp = stamp_of(file.name);
    history_.runs.push_back(std::move(run));
  }

  const std::string folder_;
  const Summarize& summarize_;
  History& history_;
  std::ostream& notes_;
  std::unique_ptr<HistoryIndex> index_;
};

}  // namespace

History read_history(const std::vector<std::string>& paths, const Summarize& summarize, std::ostream& notes) {
  History history;
  for (const std::string& path : paths) {
    struct stat entry {};
    if (stat(path.c_str(), &entry) == 0 && S_ISDIR(entry.st_mode)) {
      FolderReader(path, summarize, history, notes).read();
      continue;
    }
    const IndexedFile file = read_entry(path, path, entry, summarize);
    if (!file.problem.empty()) {
      leave_out(file.problem, history, notes);
      continue;
    }
    history.runs.push_back(file.run);
  }
  return history;
}
