#include "platform/file_read.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace quillnet {
namespace {

// How often a read that waits looks at its limits.
constexpr std::chrono::milliseconds kLimitCheckPeriod{50};

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

// Waits until `fd` can be read, or a limit is reached: 0, EINTR or ETIMEDOUT.
int WaitReadable(int fd, const ReadLimits& limits) {
  for (;;) {
    if (limits.cancel != nullptr && limits.cancel->load()) return EINTR;
    const auto now = std::chrono::steady_clock::now();
    if (now >= limits.deadline) return ETIMEDOUT;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(limits.deadline - now);
    const auto wait = std::min<std::chrono::milliseconds>(left, kLimitCheckPeriod);
    pollfd entry{fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(wait.count()));
    if (ready > 0) return 0;
    if (ready < 0 && errno != EINTR) return errno;
  }
}

}  // namespace

int ReadFileUpTo(const std::string& path, std::size_t limit, std::string& text,
                 const ReadLimits& limits) {
  text.clear();
  // Without O_NONBLOCK, opening a FIFO waits for a writer, for ever if none comes.
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.get() < 0) return errno;
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) return errno;
  if (S_ISDIR(status.st_mode)) return EISDIR;
  const bool waits = !S_ISREG(status.st_mode);
  // A FIFO opened before its writer reads as ended until the writer comes; Linux's poll
  // reports nothing on it until a writer has written or gone, so each end of the FIFO is
  // believed only once the writer was seen. A pipe, or a FIFO whose writer came first,
  // shows its writer by being empty (EAGAIN) instead of ended.
  bool writerSeen = !S_ISFIFO(status.st_mode);
  constexpr std::size_t kChunk = 64 * 1024;
  while (text.size() < limit) {
    const std::size_t size = text.size();
    text.resize(std::min(size + kChunk, limit));
    const ssize_t got = ::read(file.get(), text.data() + size, text.size() - size);
    const int readError = errno;
    text.resize(size + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    if (got > 0) writerSeen = true;
    if (got == 0 && writerSeen) break;
    if (got > 0 || (got < 0 && readError == EINTR)) continue;
    int error = got == 0 ? EAGAIN : readError;
    if (waits && (error == EAGAIN || error == EWOULDBLOCK)) {
      writerSeen = writerSeen || got < 0;
      error = WaitReadable(file.get(), limits);
      // Data, or a writer that came and went: the next read tells which.
      if (error == 0) writerSeen = true;
    }
    if (error != 0) {
      text.clear();
      return error;
    }
  }
  return 0;
}

}  // namespace quillnet
