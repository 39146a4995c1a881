#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillnet::testing {

// The key both stores' tests use, as the wizard names it.
inline constexpr char kSettingsKeyPath[] = "Software\\Varnholt\\Quillnet";

inline std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }
// Text as the wizard stores it: with its terminating NUL.
inline std::vector<std::uint8_t> Text(std::string_view text) {
  std::vector<std::uint8_t> bytes = Bytes(text);
  bytes.push_back(0);
  return bytes;
}

// A settings store location of the test's own, empty at first and removed with the object: a
// file in a temporary folder, or on Windows a key below
// HKEY_CURRENT_USER\Software\Varnholt\QuillnetTest, so that no test touches the user's own
// settings.
class SettingsLocation {
 public:
  SettingsLocation();
  ~SettingsLocation();
  SettingsLocation(const SettingsLocation&) = delete;
  SettingsLocation& operator=(const SettingsLocation&) = delete;

  // What SettingsStore is given.
  const std::string& Path() const { return m_path; }
  // Whether the store has made anything there yet.
  bool Exists() const;

 private:
  std::string m_path;
  // What the destructor removes: the temporary folder, or the key below HKEY_CURRENT_USER.
  std::string m_root;
};

}  // namespace quillnet::testing
