// The commissioning record's files on Linux: flock for the writers' lock, fsync, the XDG state
// folder, and who is writing.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/linux/user_folders.h"
#include "platform/locked_append.h"
#include "platform/machine_identity.h"
#include "platform/record_location.h"

namespace quillnet {
namespace {

std::string Reason(int error) { return std::system_category().message(error); }

// How often a caller waiting for the lock tries again.
constexpr std::chrono::milliseconds kLockRetry{10};

class Descriptor {
 public:
  explicit Descriptor(int fd) : m_fd(fd) {}
  ~Descriptor() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return m_fd; }

 private:
  int m_fd;
};

}  // namespace

std::string AppendLocked(const std::string& path, const AppendComposer& compose,
                         std::chrono::milliseconds lockLimit) {
  const Descriptor file(::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
  if (file.get() < 0) return Reason(errno);
  const auto deadline = std::chrono::steady_clock::now() + lockLimit;
  while (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return Reason(errno);
    if (std::chrono::steady_clock::now() >= deadline) {
      return "another program has held the file locked for " +
             std::to_string(lockLimit.count() / 1000) + " s";
    }
    std::this_thread::sleep_for(kLockRetry);
  }
  // The lock goes with the descriptor when it is closed.
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) return Reason(errno);
  const auto size = static_cast<std::uint64_t>(status.st_size);
  char tail[2] = {};
  const std::size_t tailSize = size < sizeof tail ? size : sizeof tail;
  if (tailSize > 0 && ::pread(file.get(), tail, tailSize, static_cast<off_t>(size - tailSize)) !=
                          static_cast<ssize_t>(tailSize)) {
    return Reason(errno);
  }
  const std::string bytes = compose(size, std::string_view(tail, tailSize));
  ssize_t written = 0;
  do {
    written = ::write(file.get(), bytes.data(), bytes.size());
  } while (written < 0 && errno == EINTR);
  if (written < 0) return Reason(errno);
  if (static_cast<std::size_t>(written) != bytes.size()) {
    return "only " + std::to_string(written) + " of " + std::to_string(bytes.size()) +
           " bytes were written";
  }
  if (::fsync(file.get()) != 0) return Reason(errno);
  return {};
}

std::string CommissioningRecordPath() {
  std::string state;
  if (const char* value = std::getenv("XDG_STATE_HOME"); value != nullptr && value[0] == '/') {
    state = value;
  } else {
    const std::string home = HomeFolder();
    if (home.empty()) return {};
    state = home + "/.local/state";
  }
  return state + "/quillnet/commissioning.csv";
}

std::string MakeParentFolders(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return {};
  const std::string folder = path.substr(0, slash);
  for (std::size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
    const std::string part = folder.substr(0, end);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return part + ": " + Reason(errno);
    if (end == std::string::npos) break;
  }
  struct stat status {};
  if (::stat(folder.c_str(), &status) != 0) return folder + ": " + Reason(errno);
  if (!S_ISDIR(status.st_mode)) return folder + ": " + Reason(ENOTDIR);
  return {};
}

std::string PcHostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::string CurrentUserName() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  if (size <= 0) size = 16384;
  std::vector<char> buffer(static_cast<std::size_t>(size));
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_name != nullptr) {
    return found->pw_name;
  }
  if (const char* user = std::getenv("USER"); user != nullptr) return user;
  return std::to_string(::geteuid());
}

}  // namespace quillnet
