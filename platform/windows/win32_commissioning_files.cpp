// The commissioning record's files on Windows: LockFileEx for the writers' lock,
// FlushFileBuffers, the local application data folder, and who is writing.
#include <windows.h>
#include <shlobj.h>

#include <thread>

#include "platform/locked_append.h"
#include "platform/machine_identity.h"
#include "platform/record_location.h"
#include "platform/windows/wide_text.h"

namespace quillnet {
namespace {

std::string Reason(DWORD error) {
  const std::string text = SystemErrorText(error);
  return text.empty() ? "error " + std::to_string(error) : text;
}

// How often a caller waiting for the lock tries again.
constexpr std::chrono::milliseconds kLockRetry{10};
// The writers lock one byte far beyond any record's end: a lock on Windows also keeps readers
// out of its range, and the record stays readable (by history, by a spreadsheet) meanwhile.
constexpr DWORD kLockOffsetHigh = 0x40000000;

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : m_handle(handle) {}
  ~FileHandle() {
    if (m_handle != INVALID_HANDLE_VALUE) ::CloseHandle(m_handle);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return m_handle; }

 private:
  HANDLE m_handle;
};

}  // namespace

std::string AppendLocked(const std::string& path, const AppendComposer& compose,
                         std::chrono::milliseconds lockLimit) {
  // Without FILE_WRITE_DATA every write goes to the end of the file.
  const FileHandle file(::CreateFileW(WideText(path).c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return Reason(::GetLastError());
  OVERLAPPED lockPlace{};
  lockPlace.OffsetHigh = kLockOffsetHigh;
  const auto deadline = std::chrono::steady_clock::now() + lockLimit;
  while (!::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                       &lockPlace)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) return Reason(error);
    if (std::chrono::steady_clock::now() >= deadline) {
      return "another program has held the file locked for " +
             std::to_string(lockLimit.count() / 1000) + " s";
    }
    std::this_thread::sleep_for(kLockRetry);
  }
  const auto result = [&]() -> std::string {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size)) return Reason(::GetLastError());
    const auto length = static_cast<std::uint64_t>(size.QuadPart);
    char tail[2] = {};
    const DWORD tailSize = length < sizeof tail ? static_cast<DWORD>(length) : sizeof tail;
    if (tailSize > 0) {
      OVERLAPPED place{};
      const std::uint64_t offset = length - tailSize;
      place.Offset = static_cast<DWORD>(offset);
      place.OffsetHigh = static_cast<DWORD>(offset >> 32);
      DWORD got = 0;
      if (!::ReadFile(file.get(), tail, tailSize, &got, &place) || got != tailSize) {
        return Reason(::GetLastError());
      }
    }
    const std::string bytes = compose(length, std::string_view(tail, tailSize));
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr)) {
      return Reason(::GetLastError());
    }
    if (written != bytes.size()) {
      return "only " + std::to_string(written) + " of " + std::to_string(bytes.size()) +
             " bytes were written";
    }
    if (!::FlushFileBuffers(file.get())) return Reason(::GetLastError());
    return {};
  }();
  ::UnlockFileEx(file.get(), 0, 1, 0, &lockPlace);
  return result;
}

std::string CommissioningRecordPath() {
  PWSTR folder = nullptr;
  std::wstring path;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder))) {
    path = folder;
  }
  ::CoTaskMemFree(folder);
  if (path.empty()) return {};
  return Utf8Text(path + L"\\Varnholt\\Quillnet\\commissioning.csv");
}

std::string MakeParentFolders(const std::string& path) {
  const std::wstring wide = WideText(path);
  const std::size_t separator = wide.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return {};
  const std::wstring folder = wide.substr(0, separator);
  const int error = ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  if (error != ERROR_SUCCESS && error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
    return Utf8Text(folder) + ": " + Reason(static_cast<DWORD>(error));
  }
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return Utf8Text(folder) + ": " + Reason(ERROR_DIRECTORY);
  }
  return {};
}

std::string PcHostName() {
  wchar_t name[256] = {};
  DWORD size = static_cast<DWORD>(std::size(name));
  if (!::GetComputerNameExW(ComputerNameDnsHostname, name, &size)) return {};
  return Utf8Text(std::wstring_view(name, size));
}

std::string CurrentUserName() {
  wchar_t name[257] = {};
  DWORD size = static_cast<DWORD>(std::size(name));
  if (!::GetUserNameW(name, &size) || size == 0) return {};
  return Utf8Text(std::wstring_view(name, size - 1));
}

}  // namespace quillnet
