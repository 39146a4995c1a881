#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct sqlite3;

namespace quillnet {

// Value types, numbered as the Windows registry numbers them.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegDword = 4;

// An open key of the settings store. It holds its own connection to the file.
class SettingsKey {
 public:
  ~SettingsKey();
  SettingsKey(const SettingsKey&) = delete;
  SettingsKey& operator=(const SettingsKey&) = delete;

  // The type and bytes of the value `name`. False when it is missing or cannot be read.
  bool QueryValue(const std::string& name, std::uint32_t& type,
                  std::vector<std::uint8_t>& data) const;
  // Replaces (or adds) the value `name` in one transaction. False when the store could not
  // be written; its earlier contents are then unchanged.
  bool SetValue(const std::string& name, std::uint32_t type, std::span<const std::uint8_t> data);

 private:
  friend class SettingsStore;
  SettingsKey(sqlite3* db, std::string path);

  sqlite3* m_db;
  std::string m_path;
};

// The per-user typed settings store that stands in for HKEY_CURRENT_USER: one SQLite file
// holding keys by path (case-insensitive, as in the registry) and typed values by name.
// A file that is missing, unreadable, locked beyond the busy time-out or not a store at all
// makes OpenKey and CreateKey fail; such a file is never deleted or rewritten.
class SettingsStore {
 public:
  static constexpr int kDefaultBusyTimeoutMs = 5000;

  // The current user's store (DefaultSettingsFilePath).
  SettingsStore();
  // The store in `filePath`. `busyTimeoutMs` is how long a call waits for another writer.
  explicit SettingsStore(std::string filePath, int busyTimeoutMs = kDefaultBusyTimeoutMs);

  const std::string& FilePath() const { return m_filePath; }

  // The key if it exists. Never creates the file or the key.
  std::unique_ptr<SettingsKey> OpenKey(const std::string& keyPath) const;
  // The key, creating the file, its folders and the key as needed.
  std::unique_ptr<SettingsKey> CreateKey(const std::string& keyPath) const;

 private:
  std::string m_filePath;
  int m_busyTimeoutMs;
};

// <config folder>/Varnholt/Quillnet/registry.sqlite3; "" when the user has no home folder.
std::string DefaultSettingsFilePath();

}  // namespace quillnet
