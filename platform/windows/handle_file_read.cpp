// Reads a file whole, in binary: no C runtime text mode, which would turn CR LF into LF and end
// the text at the first Ctrl+Z.
#include <windows.h>

#include <algorithm>
#include <cerrno>

#include "platform/file_read.h"
#include "platform/windows/wide_text.h"

namespace quillnet {
namespace {

// The POSIX reason for a Windows error, as file_read.h promises.
int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_DRIVE:
      return ENOENT;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    default:
      return EIO;
  }
}

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

int ReadFileUpTo(const std::string& path, std::size_t limit, std::string& text,
                 const ReadLimits& /*limits*/) {
  text.clear();
  const std::wstring wide = WideText(path);
  if (wide.empty()) return ENOENT;
  // A folder opens only with FILE_FLAG_BACKUP_SEMANTICS, so it is told apart here first.
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return EISDIR;
  }
  // Others may go on writing the file while it is read, as on Linux.
  const FileHandle file(::CreateFileW(wide.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return ErrnoOf(::GetLastError());
  constexpr std::size_t kChunk = 64 * 1024;
  while (text.size() < limit) {
    const std::size_t size = text.size();
    text.resize(std::min(size + kChunk, limit));
    DWORD got = 0;
    const BOOL read = ::ReadFile(file.get(), text.data() + size,
                                 static_cast<DWORD>(text.size() - size), &got, nullptr);
    text.resize(size + (read ? got : 0));
    if (!read) {
      const DWORD error = ::GetLastError();
      // A pipe whose writer is gone has simply ended.
      if (error == ERROR_BROKEN_PIPE) break;
      text.clear();
      return ErrnoOf(error);
    }
    if (got == 0) break;
  }
  return 0;
}

}  // namespace quillnet
