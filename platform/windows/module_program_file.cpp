#include <windows.h>

#include <string>

#include "platform/program_file.h"
#include "platform/windows/wide_text.h"

namespace quillnet {

std::string RunningProgramPath() {
  // Long paths (\\?\ prefixed) may exceed MAX_PATH; the buffer grows until the path fits.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return Utf8Text(path);
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

std::string CapabilityCommand(const std::string& /*programPath*/) { return {}; }

}  // namespace quillnet
