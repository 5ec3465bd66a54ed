#include "reading/history_index.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cmath>

namespace {

// What the entries mean: a summary depends on the rule that judged it, so an
// index made under another rule, or of an older layout, is made anew.
std::string format_text(const std::string& rule) { return "stelvane-report history index 3; " + rule; }

const char* const SCHEMA =
    "CREATE TABLE format(text TEXT NOT NULL);"
    "CREATE TABLE files(id INTEGER PRIMARY KEY, name BLOB UNIQUE NOT NULL, size INTEGER NOT NULL,"
    " mtime_ns INTEGER NOT NULL, problem TEXT, judged INTEGER NOT NULL);"
    "CREATE TABLE nodes(file INTEGER NOT NULL, name BLOB NOT NULL, workers INTEGER NOT NULL,"
    " verdict INTEGER NOT NULL, r0 REAL, r1 REAL, r2 REAL, r3 REAL, r4 REAL, r5 REAL,"
    " f0 REAL, f1 REAL, f2 REAL, f3 REAL, f4 REAL, f5 REAL);"
    "CREATE INDEX nodes_of_file ON nodes(file);";

// A prepared statement, finalized when it goes.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { ok_ = sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) == SQLITE_OK; }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool ok() const { return ok_; }
  sqlite3_stmt* get() { return statement_; }
  void bind_text(int column, const std::string& text) {
    sqlite3_bind_blob(statement_, column, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  std::string blob(int column) {
    const void* bytes = sqlite3_column_blob(statement_, column);
    return bytes ? std::string(static_cast<const char*>(bytes), sqlite3_column_bytes(statement_, column)) : "";
  }
  // SQLite keeps NaN as NULL.
  double real(int column) {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL ? NAN : sqlite3_column_double(statement_, column);
  }
  int step() { return sqlite3_step(statement_); }
  bool run() {
    const int status = sqlite3_step(statement_);
    sqlite3_reset(statement_);
    return status == SQLITE_DONE;
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
  bool ok_ = false;
};

bool has_format(sqlite3* db, const std::string& rule) {
  Statement read(db, "SELECT text FROM format");
  return read.ok() && read.step() == SQLITE_ROW && read.blob(0) == format_text(rule) && read.step() == SQLITE_DONE;
}

bool make_schema(sqlite3* db, const std::string& rule) {
  if (sqlite3_exec(db, SCHEMA, nullptr, nullptr, nullptr) != SQLITE_OK) return false;
  Statement write(db, "INSERT INTO format(text) VALUES (?)");
  if (!write.ok()) return false;
  const std::string text = format_text(rule);
  sqlite3_bind_text(write.get(), 1, text.c_str(), -1, SQLITE_TRANSIENT);
  return write.run();
}

sqlite3* open_database(const std::string& path, std::string& why) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    why = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, 10000);  // another report reading the same folder
  return db;
}

}  // namespace

std::unique_ptr<HistoryIndex> HistoryIndex::open(const std::string& path, const std::string& rule, bool anew,
                                                 std::string& why) {
  sqlite3* db = open_database(path, why);
  if (db == nullptr) return nullptr;
  if (!anew && has_format(db, rule)) return std::unique_ptr<HistoryIndex>(new HistoryIndex(db));
  // Empty, of another format, or damaged: made anew from the files.
  sqlite3_close(db);
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) unlink((path + suffix).c_str());
  db = open_database(path, why);
  if (db == nullptr) return nullptr;
  if (!make_schema(db, rule)) {
    why = sqlite3_errmsg(db);
    sqlite3_close(db);
    unlink(path.c_str());
    return nullptr;
  }
  return std::unique_ptr<HistoryIndex>(new HistoryIndex(db));
}

HistoryIndex::~HistoryIndex() { sqlite3_close(db_); }

bool HistoryIndex::entries(std::vector<IndexedFile>& files) {
  files.clear();
  std::vector<long long> ids;
  Statement list(db_, "SELECT id, name, size, mtime_ns, problem, judged FROM files ORDER BY id");
  if (!list.ok()) return false;
  int status;
  while ((status = list.step()) == SQLITE_ROW) {
    IndexedFile& file = files.emplace_back();
    ids.push_back(sqlite3_column_int64(list.get(), 0));
    file.name = list.blob(1);
    file.size = sqlite3_column_int64(list.get(), 2);
    file.mtime_ns = sqlite3_column_int64(list.get(), 3);
    file.problem = list.blob(4);
    const int judged = sqlite3_column_int(list.get(), 5);
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) file.run.judged[m] = judged >> m & 1;
  }
  if (status != SQLITE_DONE) return false;
  Statement nodes(db_, "SELECT file, name, workers, verdict, r0, r1, r2, r3, r4, r5, f0, f1, f2, f3, f4, f5 FROM nodes"
                         " ORDER BY file, rowid");
  if (!nodes.ok()) return false;
  std::size_t at = 0;
  while ((status = nodes.step()) == SQLITE_ROW) {
    const long long id = sqlite3_column_int64(nodes.get(), 0);
    while (at < ids.size() && ids[at] < id) ++at;
    if (at == ids.size() || ids[at] != id) continue;
    RunSummary::Node& node = files[at].run.nodes.emplace_back();
    node.name = nodes.blob(1);
    node.workers = sqlite3_column_int(nodes.get(), 2);
    const int verdict = sqlite3_column_int(nodes.get(), 3);
    node.verdict = verdict >= 0 && verdict <= static_cast<int>(Verdict::failed) ? static_cast<Verdict>(verdict)
                                                                                 : Verdict::failed;
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
      node.ratios[m] = nodes.real(4 + m);
      node.figures[m] = nodes.real(4 + MEASUREMENT_COUNT + m);
    }
  }
  return status == SQLITE_DONE;
}

bool HistoryIndex::update(const std::vector<IndexedFile>& changed, const std::vector<std::string>& gone,
                          std::string& why) {
  if (changed.empty() && gone.empty()) return true;
  auto failed = [&] {
    why = sqlite3_errmsg(db_);
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  };
  if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) return failed();
  Statement drop_nodes(db_, "DELETE FROM nodes WHERE file = (SELECT id FROM files WHERE name = ?)");
  Statement drop_file(db_, "DELETE FROM files WHERE name = ?");
  Statement add_file(db_, "INSERT INTO files(name, size, mtime_ns, problem, judged) VALUES (?, ?, ?, ?, ?)");
  Statement add_node(db_, "INSERT INTO nodes VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  if (!drop_nodes.ok() || !drop_file.ok() || !add_file.ok() || !add_node.ok()) return failed();
  auto drop = [&](const std::string& name) {
    drop_nodes.bind_text(1, name);
    drop_file.bind_text(1, name);
    return drop_nodes.run() && drop_file.run();
  };
  for (const std::string& name : gone)
    if (!drop(name)) return failed();
  for (const IndexedFile& file : changed) {
    if (!drop(file.name)) return failed();
    add_file.bind_text(1, file.name);
    sqlite3_bind_int64(add_file.get(), 2, file.size);
    sqlite3_bind_int64(add_file.get(), 3, file.mtime_ns);
    if (file.problem.empty())
      sqlite3_bind_null(add_file.get(), 4);
    else
      add_file.bind_text(4, file.problem);
    int judged = 0;  // measurement m in bit m
    for (int m = 0; m < MEASUREMENT_COUNT; ++m) judged |= file.run.judged[m] << m;
    sqlite3_bind_int(add_file.get(), 5, judged);
    if (!add_file.run()) return failed();
    const sqlite3_int64 id = sqlite3_last_insert_rowid(db_);
    for (const RunSummary::Node& node : file.run.nodes) {
      sqlite3_bind_int64(add_node.get(), 1, id);
      add_node.bind_text(2, node.name);
      sqlite3_bind_int(add_node.get(), 3, node.workers);
      sqlite3_bind_int(add_node.get(), 4, static_cast<int>(node.verdict));
      for (int m = 0; m < MEASUREMENT_COUNT; ++m) {
        sqlite3_bind_double(add_node.get(), 5 + m, node.ratios[m]);
        sqlite3_bind_double(add_node.get(), 5 + MEASUREMENT_COUNT + m, node.figures[m]);
      }
      if (!add_node.run()) return failed();
    }
  }
  if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) return failed();
  return true;
}
