#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace quillnet {

// Value types, numbered as the Windows registry numbers them.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegDword = 4;

// An open key of the settings store, used only by the thread that calls it.
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
  // The backend's hold on the key: a connection of its own to the file, or a registry handle.
  class Handle;
  explicit SettingsKey(std::unique_ptr<Handle> handle);

  std::unique_ptr<Handle> m_handle;
};

// The per-user typed settings store: keys by path and typed values by name, both named
// case-insensitively, as in the registry. Text values (kRegSz, kRegExpandSz) are UTF-8 bytes to
// callers.
//
// On Linux it stands in for HKEY_CURRENT_USER: one SQLite file, whose path is the store's
// location. Values keep the bytes they were given.
//
// The file and the folders the store makes for it are private to the user (0600 and 0700,
// whatever the umask); an existing file that others may read is narrowed to its user when
// the store opens it.
//
// A file that is missing, unreadable, locked beyond the busy time-out or not a store at all
// makes OpenKey and CreateKey fail. A file that fails SQLite's quick check is damaged: it
// reads as missing, is never written, deleted or rewritten, and the store says so once on
// stderr.
//
// WriteValue does not lose a write to another program's lock: a write that cannot get the
// lock within the busy time-out is queued and retried, in order, on a thread of the store
// for up to the retry window; the destructor waits for the queue. A write still locked out
// then is reported on stderr.
//
// On Windows it is the registry itself. The location is a key of the current user, written
// "HKEY_CURRENT_USER" or "HKEY_CURRENT_USER\<subkey>", and key paths are taken below it; any
// other location can be neither read nor written. Names and text are UTF-16 there, so a name or
// text that is not UTF-8 is not written; text is kept with a terminating NUL, added when the
// bytes written lack one, as Windows programs expect. The registry takes or refuses each write
// at once: nothing is queued, FinishWrites has nothing to wait for, and the time-outs do not
// apply.
class SettingsStore {
 public:
  // How long a call on the caller's thread waits for another program's lock.
  static constexpr int kDefaultBusyTimeoutMs = 200;
  // How long a queued write keeps trying.
  static constexpr int kDefaultRetryWindowMs = 30000;

  enum class WriteResult {
    kWritten,  // in the file
    kQueued,   // the store's thread writes it once the lock is free
    kFailed,   // cannot be written (no file name, damaged or unwritable file or key)
  };

  // The current user's store (DefaultSettingsFilePath).
  SettingsStore();
  // The store at `filePath`: the file, or on Windows the registry key.
  explicit SettingsStore(std::string filePath, int busyTimeoutMs = kDefaultBusyTimeoutMs,
                         int retryWindowMs = kDefaultRetryWindowMs);
  // Waits until every queued write is written or has run out of time.
  ~SettingsStore();
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // The location, as given.
  const std::string& FilePath() const;

  // A write that was not saved: the value's name and why, as a phrase ("the settings file …
  // is damaged").
  struct Failure {
    std::string name;
    std::string why;
  };
  // Every write of this store that failed, at once or in the queue, oldest first.
  std::vector<Failure> Failures() const;
  // Gives the queued writes at most `limit` more; those still locked out then are dropped and
  // count as failed. Returns soon after, so a program that ends need not linger for them.
  void FinishWrites(std::chrono::milliseconds limit);

  // The key if it exists. Never creates the file or the key.
  std::unique_ptr<SettingsKey> OpenKey(const std::string& keyPath) const;
  // The key, creating the file, its folders and the key as needed.
  std::unique_ptr<SettingsKey> CreateKey(const std::string& keyPath) const;
  // Replaces (or adds) the value `name` of the key `keyPath`, creating the file, its folders
  // and the key as needed, in one transaction. Written after every write queued before it.
  WriteResult WriteValue(const std::string& keyPath, const std::string& name, std::uint32_t type,
                         std::span<const std::uint8_t> data);

 private:
  class State;
  std::unique_ptr<State> m_state;
};

// <config folder>/Varnholt/Quillnet/registry.sqlite3; "" when the user has no home folder.
// On Windows "HKEY_CURRENT_USER".
std::string DefaultSettingsFilePath();

}  // namespace quillnet
