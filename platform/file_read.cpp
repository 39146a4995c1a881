#include "platform/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace quillnet {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : m_fd(fd) {}
  ~FileDescriptor() {
    if (m_fd >= 0) ::close(m_fd);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return m_fd; }

 private:
  int m_fd;
};

}  // namespace

int ReadFileUpTo(const std::string& path, std::size_t limit, std::string& text) {
  text.clear();
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return errno;
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) return errno;
  if (S_ISDIR(status.st_mode)) return EISDIR;
  constexpr std::size_t kChunk = 64 * 1024;
  while (text.size() < limit) {
    const std::size_t size = text.size();
    text.resize(std::min(size + kChunk, limit));
    const ssize_t got = ::read(file.get(), text.data() + size, text.size() - size);
    text.resize(size + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    if (got == 0) break;
    if (got < 0 && errno != EINTR) {
      const int error = errno;
      text.clear();
      return error;
    }
  }
  return 0;
}

}  // namespace quillnet
