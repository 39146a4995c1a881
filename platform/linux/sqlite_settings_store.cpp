#include "platform/settings_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

#include "platform/linux/user_folders.h"

namespace quillnet {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS keys(path TEXT PRIMARY KEY COLLATE NOCASE) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS key_values("
    " key_path TEXT NOT NULL COLLATE NOCASE,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " PRIMARY KEY(key_path, name)) WITHOUT ROWID;";

constexpr char kUpsertValue[] =
    "INSERT INTO key_values(key_path, name, type, data) VALUES(?1, ?2, ?3, ?4) "
    "ON CONFLICT(key_path, name) DO UPDATE SET type = excluded.type, data = excluded.data";

// Closing any descriptor of a file drops every POSIX lock this process holds on it, SQLite's
// included. The store opens a file descriptor of its own only to create a new file, and
// holds this while doing so and while SQLite opens connections, so no connection of this
// process can have the new file open when that descriptor is closed.
std::mutex g_openMutex;

// Why a step on the store did not complete.
enum class Outcome { kDone, kBusy, kDamaged, kFailed };

Outcome FailureOf(sqlite3* db) {
  switch (sqlite3_errcode(db)) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Outcome::kBusy;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return Outcome::kDamaged;
    default:
      return Outcome::kFailed;
  }
}

struct CloseConnection {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Connection = std::unique_ptr<sqlite3, CloseConnection>;

// Finalises a prepared statement on every path out of a call.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr) != SQLITE_OK) {
      sqlite3_finalize(m_statement);
      m_statement = nullptr;
    }
  }
  ~Statement() { sqlite3_finalize(m_statement); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  explicit operator bool() const { return m_statement != nullptr; }
  sqlite3_stmt* get() const { return m_statement; }
  bool BindText(int index, const std::string& text) {
    return sqlite3_bind_text(m_statement, index, text.data(), static_cast<int>(text.size()),
                             SQLITE_TRANSIENT) == SQLITE_OK;
  }

 private:
  sqlite3_stmt* m_statement = nullptr;
};

bool Execute(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Rolls an open transaction back unless it was committed.
class Transaction {
 public:
  // "BEGIN IMMEDIATE" takes the write lock at once, so a second writer waits in the busy
  // handler instead of failing later on a lock upgrade. "BEGIN" lets the reads that follow
  // share one read lock.
  Transaction(sqlite3* db, const char* begin) : m_db(db) { m_open = Execute(m_db, begin); }
  ~Transaction() {
    if (m_open) Execute(m_db, "ROLLBACK");
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  bool IsOpen() const { return m_open; }
  bool Commit() {
    if (!m_open || !Execute(m_db, "COMMIT")) return false;
    m_open = false;
    return true;
  }

 private:
  sqlite3* m_db;
  bool m_open = false;
};

// A connection to an existing store file; SQLite never creates the file here, so that the
// store alone decides its mode.
Connection OpenDatabase(const std::string& path, int busyTimeoutMs, std::string* why = nullptr) {
  // An empty name would give SQLite a private temporary database.
  if (path.empty()) return nullptr;
  sqlite3* db = nullptr;
  int result = SQLITE_OK;
  {
    std::lock_guard lock(g_openMutex);
    result = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
  }
  Connection connection(db);
  if (result != SQLITE_OK) {
    if (why != nullptr) *why = sqlite3_errstr(result);
    return nullptr;
  }
  sqlite3_busy_timeout(db, busyTimeoutMs);
  return connection;
}

// False when the file does not exist. Otherwise narrows a file others may read to its user.
bool NarrowExistingFile(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return false;
  if ((status.st_mode & 077) != 0) ::chmod(path.c_str(), status.st_mode & 0600);
  return true;
}

// The file, made (with its folders) when missing. A new file is empty with mode 0600; an
// empty file is an empty SQLite database.
bool MakePrivateFile(const std::string& path) {
  if (path.empty()) return false;
  if (NarrowExistingFile(path)) return true;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty() && !MakePrivateFolders(folder.string())) return false;
  std::lock_guard lock(g_openMutex);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST && NarrowExistingFile(path);
  // open's mode is narrowed by the umask.
  const bool made = ::fchmod(fd, 0600) == 0;
  ::close(fd);
  return made;
}

// SQLite's quick check, inside a transaction the caller holds.
Outcome CheckFile(sqlite3* db) {
  Statement check(db, "PRAGMA quick_check");
  if (!check) return FailureOf(db);
  // A sound file gives one row, "ok"; a damaged one lists what is wrong, or fails to be read.
  int rows = 0;
  int step = SQLITE_ROW;
  while ((step = sqlite3_step(check.get())) == SQLITE_ROW) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0));
    if (++rows > 1 || text == nullptr || std::string_view(text) != "ok") return Outcome::kDamaged;
  }
  if (step != SQLITE_DONE) return FailureOf(db);
  return rows == 1 ? Outcome::kDone : Outcome::kDamaged;
}

bool KeyExists(sqlite3* db, const std::string& keyPath) {
  Statement query(db, "SELECT 1 FROM keys WHERE path = ?1");
  return query && query.BindText(1, keyPath) && sqlite3_step(query.get()) == SQLITE_ROW;
}

bool BindValue(Statement& statement, const std::string& keyPath, const std::string& name,
               std::uint32_t type, std::span<const std::uint8_t> data) {
  return statement.BindText(1, keyPath) && statement.BindText(2, name) &&
         sqlite3_bind_int64(statement.get(), 3, type) == SQLITE_OK &&
         sqlite3_bind_blob(statement.get(), 4,
                           data.empty() ? "" : static_cast<const void*>(data.data()),
                           static_cast<int>(data.size()), SQLITE_TRANSIENT) == SQLITE_OK;
}

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 1'000'000'000));
}

}  // namespace

// What the store shares with its writer thread. Every write and every check opens a
// connection of its own, so no connection is ever used by two threads.
class SettingsStore::State {
 public:
  struct Value {
    std::string keyPath;
    std::string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    Clock::time_point deadline;
  };

  State(std::string filePath, int busyTimeoutMs, int retryWindowMs)
      : filePath(std::move(filePath)), busyTimeoutMs(busyTimeoutMs), retryWindowMs(retryWindowMs) {}

  ~State() {
    {
      std::lock_guard lock(m_mutex);
      m_stopping = true;
    }
    m_wake.notify_one();
    if (m_writer.joinable()) m_writer.join();
  }

  void ReportDamaged() {
    if (m_damageReported.exchange(true)) return;
    std::fprintf(stderr,
                 "Quillnet: the settings file %s is damaged; it is left as it is and the "
                 "default settings are used.\n",
                 filePath.c_str());
  }

  // Makes the file and the key as needed and writes `value`, if any, all in one transaction
  // that waits at most `budgetMs` for other programs' locks. Keeps the connection in `kept`
  // when asked to.
  Outcome Write(const std::string& keyPath, const Value* value, int budgetMs,
                Connection* kept = nullptr, std::string* why = nullptr) {
    if (!MakePrivateFile(filePath)) {
      if (why != nullptr) *why = filePath.empty() ? "the user has no home folder" : std::strerror(errno);
      return Outcome::kFailed;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(budgetMs);
    Connection db = OpenDatabase(filePath, budgetMs, why);
    if (!db) return Outcome::kFailed;
    std::string reason;
    const Outcome outcome = WriteInTransaction(db.get(), keyPath, value, deadline, reason);
    if (why != nullptr) *why = reason;
    if (outcome == Outcome::kDamaged) ReportDamaged();
    if (outcome == Outcome::kDone && kept != nullptr) {
      sqlite3_busy_timeout(db.get(), busyTimeoutMs);
      *kept = std::move(db);
    }
    return outcome;
  }

  WriteResult WriteOrQueue(Value value) {
    std::unique_lock lock(m_mutex);
    // Once a write waits in the queue, later ones queue behind it to keep their order.
    if (m_queue.empty()) {
      std::string why;
      switch (const Outcome outcome = Write(value.keyPath, &value, busyTimeoutMs, nullptr, &why)) {
        case Outcome::kDone:
          return WriteResult::kWritten;
        case Outcome::kBusy:
          break;
        case Outcome::kDamaged:
        case Outcome::kFailed:
          m_failures.push_back({value.name, FailureText(outcome, why)});
          return WriteResult::kFailed;
      }
    }
    value.deadline = Clock::now() + std::chrono::milliseconds(retryWindowMs);
    m_queue.push_back(std::move(value));
    if (!m_writer.joinable()) m_writer = std::thread([this] { RunWriter(); });
    m_wake.notify_one();
    return WriteResult::kQueued;
  }

  // Waits up to `limit` for the queue to empty; then drops what is still queued, as failed.
  void FinishWrites(std::chrono::milliseconds limit) {
    std::unique_lock lock(m_mutex);
    m_idle.wait_for(lock, limit, [this] { return m_queue.empty(); });
    if (m_queue.empty()) return;
    m_dropping = true;
    m_idle.wait(lock, [this] { return m_queue.empty(); });
    m_dropping = false;
  }

  std::vector<SettingsStore::Failure> Failures() {
    std::lock_guard lock(m_mutex);
    return m_failures;
  }

  const std::string filePath;
  const int busyTimeoutMs;
  const int retryWindowMs;

 private:
  std::string FailureText(Outcome outcome, const std::string& why) const {
    switch (outcome) {
      case Outcome::kDamaged:
        return "the settings file " + filePath + " is damaged";
      case Outcome::kBusy:
        return "another program kept the settings file " + filePath + " locked";
      case Outcome::kDone:
      case Outcome::kFailed:
        break;
    }
    return "the settings file " + filePath + " could not be written (" + why + ")";
  }

  static Outcome WriteInTransaction(sqlite3* db, const std::string& keyPath, const Value* value,
                                    Clock::time_point deadline, std::string& why) {
    // SQLite's message is read before the transaction rolls back, which replaces it.
    const auto failed = [db, &why] {
      why = sqlite3_errmsg(db);
      return FailureOf(db);
    };
    Transaction transaction(db, "BEGIN IMMEDIATE");
    if (!transaction.IsOpen()) return failed();
    // Checked under the write lock, so nothing is written to a damaged file.
    if (const Outcome check = CheckFile(db); check != Outcome::kDone) {
      why = sqlite3_errmsg(db);
      return check;
    }
    if (!Execute(db, kSchema)) return failed();
    Statement insertKey(db, "INSERT OR IGNORE INTO keys(path) VALUES(?1)");
    if (!insertKey || !insertKey.BindText(1, keyPath) ||
        sqlite3_step(insertKey.get()) != SQLITE_DONE) {
      return failed();
    }
    if (value != nullptr) {
      Statement upsert(db, kUpsertValue);
      if (!upsert || !BindValue(upsert, keyPath, value->name, value->type, value->data) ||
          sqlite3_step(upsert.get()) != SQLITE_DONE) {
        return failed();
      }
    }
    // Committing may wait for readers to finish; that wait counts against the same budget.
    sqlite3_busy_timeout(db, MillisecondsUntil(deadline));
    if (!transaction.Commit()) return failed();
    return Outcome::kDone;
  }

  void RunWriter() {
    std::unique_lock lock(m_mutex);
    for (;;) {
      m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
      if (m_queue.empty()) return;
      // Stays queued while it is written, so that later writes keep queueing behind it.
      const Value value = m_queue.front();
      lock.unlock();
      std::string why;
      const Outcome outcome = Retry(value, why);
      lock.lock();
      if (outcome != Outcome::kDone) m_failures.push_back({value.name, FailureText(outcome, why)});
      m_queue.pop_front();
      if (m_queue.empty()) m_idle.notify_all();
    }
  }

  bool Dropping() {
    std::lock_guard lock(m_mutex);
    return m_dropping;
  }

  Outcome Retry(const Value& value, std::string& why) {
    for (;;) {
      // SQLite's busy handler does the waiting, a busy time-out at a time, so that dropping
      // the queue ends the wait soon.
      const int budget = std::min(busyTimeoutMs, MillisecondsUntil(value.deadline));
      switch (const Outcome outcome = Write(value.keyPath, &value, budget, nullptr, &why)) {
        case Outcome::kDone:
        case Outcome::kDamaged:  // reported as such
          return outcome;
        case Outcome::kFailed:
          std::fprintf(stderr, "Quillnet: the setting \"%s\" could not be saved in %s.\n",
                       value.name.c_str(), filePath.c_str());
          return outcome;
        case Outcome::kBusy:
          break;
      }
      if (Clock::now() >= value.deadline || Dropping()) {
        std::fprintf(stderr,
                     "Quillnet: the setting \"%s\" was not saved in %s: another program kept "
                     "the file locked.\n",
                     value.name.c_str(), filePath.c_str());
        return Outcome::kBusy;
      }
      // SQLite gives up at once on some lock conflicts; do not spin on them.
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  std::atomic<bool> m_damageReported{false};
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::condition_variable m_idle;
  std::deque<Value> m_queue;
  bool m_stopping = false;
  bool m_dropping = false;
  std::vector<SettingsStore::Failure> m_failures;
  std::thread m_writer;
};

class SettingsKey::Handle {
 public:
  Handle(Connection db, std::string path) : db(std::move(db)), path(std::move(path)) {}

  const Connection db;
  const std::string path;
};

SettingsKey::SettingsKey(std::unique_ptr<Handle> handle) : m_handle(std::move(handle)) {}

SettingsKey::~SettingsKey() = default;

bool SettingsKey::QueryValue(const std::string& name, std::uint32_t& type,
                             std::vector<std::uint8_t>& data) const {
  Statement query(m_handle->db.get(),
                  "SELECT type, data FROM key_values WHERE key_path = ?1 AND name = ?2");
  if (!query || !query.BindText(1, m_handle->path) || !query.BindText(2, name) ||
      sqlite3_step(query.get()) != SQLITE_ROW) {
    return false;
  }
  const sqlite3_int64 storedType = sqlite3_column_int64(query.get(), 0);
  if (storedType < 0 || storedType > 0xFFFFFFFF) return false;
  const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(query.get(), 1));
  const int size = sqlite3_column_bytes(query.get(), 1);
  type = static_cast<std::uint32_t>(storedType);
  data.assign(bytes, bytes + (bytes != nullptr ? size : 0));
  return true;
}

bool SettingsKey::SetValue(const std::string& name, std::uint32_t type,
                           std::span<const std::uint8_t> data) {
  sqlite3* db = m_handle->db.get();
  Transaction transaction(db, "BEGIN IMMEDIATE");
  if (!transaction.IsOpen()) return false;
  Statement upsert(db, kUpsertValue);
  if (!upsert || !BindValue(upsert, m_handle->path, name, type, data) ||
      sqlite3_step(upsert.get()) != SQLITE_DONE) {
    return false;
  }
  return transaction.Commit();
}

SettingsStore::SettingsStore() : SettingsStore(DefaultSettingsFilePath()) {}

SettingsStore::SettingsStore(std::string filePath, int busyTimeoutMs, int retryWindowMs)
    : m_state(std::make_unique<State>(std::move(filePath), busyTimeoutMs, retryWindowMs)) {}

SettingsStore::~SettingsStore() = default;

const std::string& SettingsStore::FilePath() const { return m_state->filePath; }

void SettingsStore::FinishWrites(std::chrono::milliseconds limit) { m_state->FinishWrites(limit); }

std::vector<SettingsStore::Failure> SettingsStore::Failures() const { return m_state->Failures(); }

std::unique_ptr<SettingsKey> SettingsStore::OpenKey(const std::string& keyPath) const {
  if (!NarrowExistingFile(m_state->filePath)) return nullptr;
  Connection db = OpenDatabase(m_state->filePath, m_state->busyTimeoutMs);
  if (!db) return nullptr;
  {
    // One read lock for the check and the look-up: a locked store costs one busy wait.
    Transaction read(db.get(), "BEGIN");
    const Outcome check = read.IsOpen() ? CheckFile(db.get()) : FailureOf(db.get());
    if (check == Outcome::kDamaged) m_state->ReportDamaged();
    if (check != Outcome::kDone || !KeyExists(db.get(), keyPath)) return nullptr;
  }
  return std::unique_ptr<SettingsKey>(
      new SettingsKey(std::make_unique<SettingsKey::Handle>(std::move(db), keyPath)));
}

std::unique_ptr<SettingsKey> SettingsStore::CreateKey(const std::string& keyPath) const {
  Connection db;
  if (m_state->Write(keyPath, nullptr, m_state->busyTimeoutMs, &db) != Outcome::kDone) {
    return nullptr;
  }
  return std::unique_ptr<SettingsKey>(
      new SettingsKey(std::make_unique<SettingsKey::Handle>(std::move(db), keyPath)));
}

SettingsStore::WriteResult SettingsStore::WriteValue(const std::string& keyPath,
                                                     const std::string& name, std::uint32_t type,
                                                     std::span<const std::uint8_t> data) {
  return m_state->WriteOrQueue({keyPath, name, type, {data.begin(), data.end()}, {}});
}

std::string DefaultSettingsFilePath() {
  const std::string config = ConfigFolder();
  return config.empty() ? std::string() : config + "/Varnholt/Quillnet/registry.sqlite3";
}

}  // namespace quillnet
