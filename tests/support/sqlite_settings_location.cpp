#include "tests/support/settings_location.h"

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace quillnet::testing {

SettingsLocation::SettingsLocation() {
  std::random_device random;
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() /
      ("quillnet-test-" + std::to_string(random()) + std::to_string(random()));
  std::filesystem::create_directories(root);
  m_root = root.string();
  // Below folders that do not exist yet, as the user's own store is at first.
  m_path = (root / "Varnholt/Quillnet/registry.sqlite3").string();
}

SettingsLocation::~SettingsLocation() {
  std::error_code ignored;
  std::filesystem::remove_all(m_root, ignored);
}

bool SettingsLocation::Exists() const { return std::filesystem::exists(m_path); }

}  // namespace quillnet::testing
