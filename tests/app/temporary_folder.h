#pragma once

#include <filesystem>
#include <random>
#include <string>

namespace quillnet::testing {

// A folder of its own under the system's temporary folder, removed again with the object.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::random_device random;
    m_path = std::filesystem::temp_directory_path() /
             ("quillnet-test-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(m_path);
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  std::string File(const std::string& name) const { return (m_path / name).string(); }

 private:
  std::filesystem::path m_path;
};

}  // namespace quillnet::testing
