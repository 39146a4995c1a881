#include "platform/settings_store.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/windows/wide_text.h"

namespace quillnet {
namespace {

constexpr std::string_view kCurrentUser = "HKEY_CURRENT_USER";

// Text values are UTF-8 to callers and UTF-16 in the registry.
bool IsText(std::uint32_t type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// Nothing when `text` is not UTF-8, so that the registry never holds other than what was
// given.
std::optional<std::wstring> StrictWideText(std::string_view text) {
  std::wstring wide = WideText(text);
  if (Utf8Text(wide) != text) return std::nullopt;
  return wide;
}

// The bytes a value is stored with: text as UTF-16 ending in a NUL; nothing when the text is
// not UTF-8.
std::optional<std::vector<BYTE>> StoredBytes(std::uint32_t type,
                                             std::span<const std::uint8_t> data) {
  if (!IsText(type)) return std::vector<BYTE>(data.begin(), data.end());
  std::optional<std::wstring> wide =
      StrictWideText({reinterpret_cast<const char*>(data.data()), data.size()});
  if (!wide) return std::nullopt;
  if (wide->empty() || wide->back() != L'\0') wide->push_back(L'\0');
  std::vector<BYTE> bytes(wide->size() * sizeof(wchar_t));
  std::memcpy(bytes.data(), wide->data(), bytes.size());
  return bytes;
}

LSTATUS SetValue(HKEY key, const std::string& name, std::uint32_t type,
                 std::span<const std::uint8_t> data) {
  const std::optional<std::wstring> wideName = StrictWideText(name);
  const std::optional<std::vector<BYTE>> bytes = StoredBytes(type, data);
  if (!wideName || !bytes) return ERROR_NO_UNICODE_TRANSLATION;
  if (bytes->size() > MAXDWORD) return ERROR_INVALID_DATA;
  return ::RegSetValueExW(key, wideName->c_str(), 0, type, bytes->data(),
                          static_cast<DWORD>(bytes->size()));
}

// Closes the key on every path out of a call.
class OpenedKey {
 public:
  OpenedKey() = default;
  ~OpenedKey() {
    if (m_key != nullptr) ::RegCloseKey(m_key);
  }
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;

  HKEY* Out() { return &m_key; }
  HKEY get() const { return m_key; }
  HKEY release() { return std::exchange(m_key, nullptr); }

 private:
  HKEY m_key = nullptr;
};

}  // namespace

class SettingsKey::Handle {
 public:
  explicit Handle(HKEY key) : key(key) {}
  ~Handle() { ::RegCloseKey(key); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  const HKEY key;
};

SettingsKey::SettingsKey(std::unique_ptr<Handle> handle) : m_handle(std::move(handle)) {}

SettingsKey::~SettingsKey() = default;

bool SettingsKey::QueryValue(const std::string& name, std::uint32_t& type,
                             std::vector<std::uint8_t>& data) const {
  const std::optional<std::wstring> wideName = StrictWideText(name);
  if (!wideName) return false;
  DWORD storedType = 0;
  std::vector<BYTE> bytes;
  LSTATUS result = ERROR_MORE_DATA;
  // Another program may make the value longer between asking its size and reading it.
  for (int attempt = 0; attempt < 4 && result == ERROR_MORE_DATA; ++attempt) {
    DWORD size = 0;
    result = ::RegQueryValueExW(m_handle->key, wideName->c_str(), nullptr, &storedType, nullptr,
                                &size);
    if (result != ERROR_SUCCESS) return false;
    bytes.resize(size);
    result = ::RegQueryValueExW(m_handle->key, wideName->c_str(), nullptr, &storedType,
                                bytes.data(), &size);
    bytes.resize(std::min<std::size_t>(size, bytes.size()));
  }
  if (result != ERROR_SUCCESS) return false;
  type = storedType;
  if (!IsText(storedType)) {
    data.assign(bytes.begin(), bytes.end());
    return true;
  }
  // Other programs may store text without its NUL or with an odd byte count; a last half unit
  // is no character and is left out.
  std::wstring wide(bytes.size() / sizeof(wchar_t), L'\0');
  std::memcpy(wide.data(), bytes.data(), wide.size() * sizeof(wchar_t));
  const std::string text = Utf8Text(wide);
  data.assign(text.begin(), text.end());
  return true;
}

bool SettingsKey::SetValue(const std::string& name, std::uint32_t type,
                           std::span<const std::uint8_t> data) {
  return quillnet::SetValue(m_handle->key, name, type, data) == ERROR_SUCCESS;
}

class SettingsStore::State {
 public:
  explicit State(std::string location) : filePath(std::move(location)) {
    const std::string_view text = filePath;
    const auto sameLetter = [](char expected, char given) {
      return (given >= 'a' && given <= 'z' ? given - 'a' + 'A' : given) == expected;
    };
    if (text.size() < kCurrentUser.size() ||
        !std::equal(kCurrentUser.begin(), kCurrentUser.end(), text.begin(), sameLetter)) {
      return;
    }
    std::string_view rest = text.substr(kCurrentUser.size());
    if (!rest.empty() && rest.front() != '\\') return;
    while (!rest.empty() && rest.front() == '\\') rest.remove_prefix(1);
    while (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
    m_root = std::string(rest);
    m_valid = true;
  }

  // Opens the key `keyPath` below the location for reading and, where allowed, writing.
  LSTATUS Open(const std::string& keyPath, bool create, OpenedKey& key) const {
    const std::optional<std::wstring> subkey =
        m_valid ? StrictWideText(Subkey(keyPath)) : std::nullopt;
    if (!subkey) return ERROR_INVALID_NAME;
    constexpr REGSAM kReadWrite = KEY_QUERY_VALUE | KEY_SET_VALUE;
    if (create) {
      return ::RegCreateKeyExW(HKEY_CURRENT_USER, subkey->c_str(), 0, nullptr,
                               REG_OPTION_NON_VOLATILE, kReadWrite, nullptr, key.Out(), nullptr);
    }
    const LSTATUS result =
        ::RegOpenKeyExW(HKEY_CURRENT_USER, subkey->c_str(), 0, kReadWrite, key.Out());
    // A key the user may only read still reads; its writes fail.
    if (result != ERROR_ACCESS_DENIED) return result;
    return ::RegOpenKeyExW(HKEY_CURRENT_USER, subkey->c_str(), 0, KEY_QUERY_VALUE, key.Out());
  }

  WriteResult Write(const std::string& keyPath, const std::string& name, std::uint32_t type,
                    std::span<const std::uint8_t> data) {
    OpenedKey key;
    LSTATUS result = Open(keyPath, true, key);
    if (result == ERROR_SUCCESS) result = SetValue(key.get(), name, type, data);
    if (result == ERROR_SUCCESS) return WriteResult::kWritten;
    std::string why;
    if (!m_valid) {
      why = "the settings location \"" + filePath + "\" is not a key of " +
            std::string(kCurrentUser);
    } else {
      std::string reason = SystemErrorText(static_cast<unsigned long>(result));
      if (reason.empty()) reason = "error " + std::to_string(result);
      why = "the registry key " + std::string(kCurrentUser) + "\\" + Subkey(keyPath) +
            " could not be written (" + reason + ")";
    }
    std::lock_guard lock(m_mutex);
    m_failures.push_back({name, std::move(why)});
    return WriteResult::kFailed;
  }

  std::vector<Failure> Failures() const {
    std::lock_guard lock(m_mutex);
    return m_failures;
  }

  const std::string filePath;

 private:
  std::string Subkey(const std::string& keyPath) const {
    if (m_root.empty()) return keyPath;
    return keyPath.empty() ? m_root : m_root + "\\" + keyPath;
  }

  // The location's key below HKEY_CURRENT_USER; "" for HKEY_CURRENT_USER itself.
  std::string m_root;
  bool m_valid = false;
  mutable std::mutex m_mutex;
  std::vector<Failure> m_failures;
};

SettingsStore::SettingsStore() : SettingsStore(DefaultSettingsFilePath()) {}

SettingsStore::SettingsStore(std::string filePath, int, int)
    : m_state(std::make_unique<State>(std::move(filePath))) {}

SettingsStore::~SettingsStore() = default;

const std::string& SettingsStore::FilePath() const { return m_state->filePath; }

void SettingsStore::FinishWrites(std::chrono::milliseconds) {}

std::vector<SettingsStore::Failure> SettingsStore::Failures() const { return m_state->Failures(); }

std::unique_ptr<SettingsKey> SettingsStore::OpenKey(const std::string& keyPath) const {
  OpenedKey key;
  if (m_state->Open(keyPath, false, key) != ERROR_SUCCESS) return nullptr;
  return std::unique_ptr<SettingsKey>(
      new SettingsKey(std::make_unique<SettingsKey::Handle>(key.release())));
}

std::unique_ptr<SettingsKey> SettingsStore::CreateKey(const std::string& keyPath) const {
  OpenedKey key;
  if (m_state->Open(keyPath, true, key) != ERROR_SUCCESS) return nullptr;
  return std::unique_ptr<SettingsKey>(
      new SettingsKey(std::make_unique<SettingsKey::Handle>(key.release())));
}

SettingsStore::WriteResult SettingsStore::WriteValue(const std::string& keyPath,
                                                     const std::string& name, std::uint32_t type,
                                                     std::span<const std::uint8_t> data) {
  return m_state->Write(keyPath, name, type, data);
}

std::string DefaultSettingsFilePath() { return std::string(kCurrentUser); }

}  // namespace quillnet
