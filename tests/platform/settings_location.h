#pragma once

#include <string>

namespace quillnet::testing {

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
