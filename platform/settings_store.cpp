#include "platform/settings_store.h"

#include <sqlite3.h>

#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/user_folders.h"

namespace quillnet {
namespace {

constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS keys(path TEXT PRIMARY KEY COLLATE NOCASE) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS key_values("
    " key_path TEXT NOT NULL COLLATE NOCASE,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " PRIMARY KEY(key_path, name)) WITHOUT ROWID;";

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
  explicit Transaction(sqlite3* db) : m_db(db) {
    // IMMEDIATE takes the write lock at once, so a second writer waits in the busy handler
    // instead of failing later on a lock upgrade.
    m_open = Execute(m_db, "BEGIN IMMEDIATE");
  }
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

sqlite3* OpenDatabase(const std::string& path, int flags, int busyTimeoutMs) {
  // An empty name would give SQLite a private temporary database.
  if (path.empty()) return nullptr;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, busyTimeoutMs);
  return db;
}

bool KeyExists(sqlite3* db, const std::string& keyPath) {
  Statement query(db, "SELECT 1 FROM keys WHERE path = ?1");
  return query && query.BindText(1, keyPath) && sqlite3_step(query.get()) == SQLITE_ROW;
}

}  // namespace

SettingsKey::SettingsKey(sqlite3* db, std::string path) : m_db(db), m_path(std::move(path)) {}

SettingsKey::~SettingsKey() { sqlite3_close(m_db); }

bool SettingsKey::QueryValue(const std::string& name, std::uint32_t& type,
                             std::vector<std::uint8_t>& data) const {
  Statement query(m_db, "SELECT type, data FROM key_values WHERE key_path = ?1 AND name = ?2");
  if (!query || !query.BindText(1, m_path) || !query.BindText(2, name) ||
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
  Transaction transaction(m_db);
  if (!transaction.IsOpen()) return false;
  Statement insert(m_db,
                   "INSERT INTO key_values(key_path, name, type, data) VALUES(?1, ?2, ?3, ?4) "
                   "ON CONFLICT(key_path, name) DO UPDATE SET type = excluded.type, "
                   "data = excluded.data");
  if (!insert || !insert.BindText(1, m_path) || !insert.BindText(2, name) ||
      sqlite3_bind_int64(insert.get(), 3, type) != SQLITE_OK ||
      sqlite3_bind_blob(insert.get(), 4, data.empty() ? "" : static_cast<const void*>(data.data()),
                        static_cast<int>(data.size()), SQLITE_TRANSIENT) != SQLITE_OK ||
      sqlite3_step(insert.get()) != SQLITE_DONE) {
    return false;
  }
  return transaction.Commit();
}

SettingsStore::SettingsStore() : SettingsStore(DefaultSettingsFilePath()) {}

SettingsStore::SettingsStore(std::string filePath, int busyTimeoutMs)
    : m_filePath(std::move(filePath)), m_busyTimeoutMs(busyTimeoutMs) {}

std::unique_ptr<SettingsKey> SettingsStore::OpenKey(const std::string& keyPath) const {
  sqlite3* db = OpenDatabase(m_filePath, SQLITE_OPEN_READWRITE, m_busyTimeoutMs);
  if (db == nullptr) return nullptr;
  if (!KeyExists(db, keyPath)) {
    sqlite3_close(db);
    return nullptr;
  }
  return std::unique_ptr<SettingsKey>(new SettingsKey(db, keyPath));
}

std::unique_ptr<SettingsKey> SettingsStore::CreateKey(const std::string& keyPath) const {
  if (m_filePath.empty()) return nullptr;
  const std::filesystem::path folder = std::filesystem::path(m_filePath).parent_path();
  if (!folder.empty()) {
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
  }
  sqlite3* db = OpenDatabase(m_filePath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                             m_busyTimeoutMs);
  if (db == nullptr) return nullptr;
  bool created = false;
  {
    Transaction transaction(db);
    if (transaction.IsOpen() && Execute(db, kSchema)) {
      Statement insert(db, "INSERT OR IGNORE INTO keys(path) VALUES(?1)");
      created = insert && insert.BindText(1, keyPath) && sqlite3_step(insert.get()) == SQLITE_DONE &&
                transaction.Commit();
    }
  }
  if (!created) {
    sqlite3_close(db);
    return nullptr;
  }
  return std::unique_ptr<SettingsKey>(new SettingsKey(db, keyPath));
}

std::string DefaultSettingsFilePath() {
  const std::string config = ConfigFolder();
  return config.empty() ? std::string() : config + "/Varnholt/Quillnet/registry.sqlite3";
}

}  // namespace quillnet
