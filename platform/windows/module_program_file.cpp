#include <windows.h>

#include <algorithm>
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

// The MSI records its install folder for the programs (packaging/windows/quillnet.wxs.in), in
// the 64-bit view of the machine's registry.
std::string InstalledProgramFolder() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Varnholt\\Quillnet\\Installer", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
    return {};
  }
  std::wstring folder(MAX_PATH, L'\0');
  DWORD type = 0;
  DWORD size = static_cast<DWORD>(folder.size() * sizeof(wchar_t));
  LSTATUS result = ::RegQueryValueExW(key, L"InstallFolder", nullptr, &type,
                                      reinterpret_cast<BYTE*>(folder.data()), &size);
  if (result == ERROR_MORE_DATA) {
    folder.resize(size / sizeof(wchar_t) + 1);
    size = static_cast<DWORD>(folder.size() * sizeof(wchar_t));
    result = ::RegQueryValueExW(key, L"InstallFolder", nullptr, &type,
                                reinterpret_cast<BYTE*>(folder.data()), &size);
  }
  ::RegCloseKey(key);
  if (result != ERROR_SUCCESS || type != REG_SZ) return {};
  folder.resize(size / sizeof(wchar_t));
  folder.resize(folder.find(L'\0') == std::wstring::npos ? folder.size() : folder.find(L'\0'));
  return Utf8Text(folder);
}

bool IsFileInFolder(const std::string& path, const std::string& folder) {
  std::wstring file = WideText(path);
  std::wstring prefix = WideText(folder);
  if (prefix.empty()) return false;
  std::replace(file.begin(), file.end(), L'/', L'\\');
  std::replace(prefix.begin(), prefix.end(), L'/', L'\\');
  if (prefix.back() != L'\\') prefix += L'\\';
  return file.size() > prefix.size() && file.find(L'\\', prefix.size()) == std::wstring::npos &&
         ::CompareStringOrdinal(file.data(), static_cast<int>(prefix.size()), prefix.data(),
                                static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

std::string CapabilityCommand(const std::string& /*programPath*/) { return {}; }

}  // namespace quillnet
