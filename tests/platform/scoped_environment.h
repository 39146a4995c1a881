#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace quillnet::testing {

// Sets or unsets environment variables for as long as it lives; each goes back to what it was.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ~ScopedEnvironment() {
    for (const auto& [name, value] : m_saved) Apply(name, value);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  // std::nullopt unsets the variable.
  void Set(const std::string& name, const std::optional<std::string>& value) {
    if (!m_saved.contains(name)) {
      const char* old = std::getenv(name.c_str());
      m_saved[name] = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
    }
    Apply(name, value);
  }

 private:
  static void Apply(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
  std::map<std::string, std::optional<std::string>> m_saved;
};

}  // namespace quillnet::testing
