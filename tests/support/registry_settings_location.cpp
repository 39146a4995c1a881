#include "tests/support/settings_location.h"

#include <windows.h>

#include <atomic>

#include "platform/windows/wide_text.h"

namespace quillnet::testing {
namespace {

constexpr char kTestsKey[] = "Software\\Varnholt\\QuillnetTest";

}  // namespace

SettingsLocation::SettingsLocation() {
  // Tests run in parallel, each in a process of its own, and a test may use several locations.
  static std::atomic<int> count{0};
  m_root = std::string(kTestsKey) + "\\" + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(++count);
  m_path = "HKEY_CURRENT_USER\\" + m_root;
}

SettingsLocation::~SettingsLocation() {
  ::RegDeleteTreeW(HKEY_CURRENT_USER, WideText(m_root).c_str());
  // Only once no other test's key is left in it.
  ::RegDeleteKeyW(HKEY_CURRENT_USER, WideText(kTestsKey).c_str());
}

bool SettingsLocation::Exists() const {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, WideText(m_root).c_str(), 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  ::RegCloseKey(key);
  return true;
}

}  // namespace quillnet::testing
