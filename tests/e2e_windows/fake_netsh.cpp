// Stands in for netsh.exe in the MSI's test (msi.sh): it appends its command line, one line a
// call, to netsh-calls.txt beside itself, so the test sees exactly what the installer asked of
// Windows Firewall. It succeeds, or fails with exit code 1 while netsh-fails.txt is there.
#include <windows.h>

#include <string>

int wmain() {
  std::wstring log(MAX_PATH, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, log.data(), static_cast<DWORD>(log.size()));
  if (length == 0 || length >= log.size()) return 1;
  log.resize(log.find_last_of(L'\\') + 1);
  const std::wstring fails = log + L"netsh-fails.txt";
  log += L"netsh-calls.txt";
  const HANDLE file = ::CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  const std::wstring line = std::wstring(::GetCommandLineW()) + L"\n";
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), text.data(), size,
                        nullptr, nullptr);
  DWORD written = 0;
  const bool ok =
      ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
      written == text.size();
  ::CloseHandle(file);
  return ok && ::GetFileAttributesW(fails.c_str()) == INVALID_FILE_ATTRIBUTES ? 0 : 1;
}
