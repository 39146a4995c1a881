#include "platform/linux/program_copy.h"

#include <fcntl.h>
#include <sys/capability.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string_view>
#include <system_error>

#include "platform/linux/user_folders.h"

namespace quillnet {
namespace {

constexpr mode_t kProgramMode = 0755;
constexpr std::size_t kCopyBlockSize = 64 * 1024;

// An open file, closed with the object.
class FileHandle {
 public:
  explicit FileHandle(int fd) : m_fd(fd) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  int Fd() const { return m_fd; }
  bool IsOpen() const { return m_fd >= 0; }
  bool Close() {
    const int fd = m_fd;
    m_fd = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int m_fd;
};

// A new file beside `target`, under a hidden name of its own, that takes the target's place
// only through Replace; otherwise it is removed again.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& target)
      : m_target(target),
        m_path(TemporaryName(target)),
        m_file(m_path.empty() ? -1 : ::mkostemp(m_path.data(), O_CLOEXEC)) {
    if (!m_file.IsOpen()) m_path.clear();
  }
  ~TemporaryFile() {
    if (!m_path.empty()) ::unlink(m_path.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  int Fd() const { return m_file.Fd(); }
  bool IsOpen() const { return m_file.IsOpen(); }

  // On disk first, so that a crash cannot leave the target renamed over with an empty file.
  bool Replace() {
    if (::fsync(m_file.Fd()) != 0 || !m_file.Close()) return false;
    if (::rename(m_path.c_str(), m_target.c_str()) != 0) return false;
    m_path.clear();
    return true;
  }

 private:
  // "<folder>/.<name>.XXXXXX" for mkostemp; "" for a target without a folder.
  static std::string TemporaryName(const std::string& target) {
    const std::size_t cut = target.rfind('/');
    if (cut == std::string::npos || cut + 1 == target.size()) return {};
    return target.substr(0, cut + 1) + "." + target.substr(cut + 1) + ".XXXXXX";
  }

  std::string m_target;
  std::string m_path;
  FileHandle m_file;
};

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool CopyBytes(int from, int to) {
  std::array<char, kCopyBlockSize> block{};
  for (;;) {
    const ssize_t read = ::read(from, block.data(), block.size());
    if (read < 0 && errno == EINTR) continue;
    if (read < 0) return false;
    if (read == 0) return true;
    if (!WriteAll(to, block.data(), static_cast<std::size_t>(read))) return false;
  }
}

// The system's text for the failure that has just happened; a short write sets no errno.
void SetReason(std::string* why) {
  if (why != nullptr) *why = std::generic_category().message(errno != 0 ? errno : EIO);
}

// Permitted alone is not enough: the programs do not raise their capabilities, so only an
// effective one takes hold at exec.
bool FileHoldsCapability(const std::string& path, cap_value_t capability) {
  cap_t capabilities = ::cap_get_file(path.c_str());
  if (capabilities == nullptr) return false;
  cap_flag_value_t permitted = CAP_CLEAR;
  cap_flag_value_t effective = CAP_CLEAR;
  const bool read = ::cap_get_flag(capabilities, capability, CAP_PERMITTED, &permitted) == 0 &&
                    ::cap_get_flag(capabilities, capability, CAP_EFFECTIVE, &effective) == 0;
  ::cap_free(capabilities);
  return read && permitted == CAP_SET && effective == CAP_SET;
}

bool IsSameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A value of a string key, with the escapes desktop entries define.
std::string EscapeValue(std::string_view text) {
  std::string escaped;
  for (const char character : text) {
    switch (character) {
      case '\\': escaped += "\\\\"; break;
      case '\n': escaped += "\\n"; break;
      case '\t': escaped += "\\t"; break;
      case '\r': escaped += "\\r"; break;
      default: escaped += character;
    }
  }
  return escaped;
}

// One argument of Exec: in double quotes when it holds a character the format reserves, with
// '"', '`', '$' and '\' escaped inside them; '%' doubled, as it starts the field codes.
std::string ExecArgument(std::string_view argument) {
  constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
  constexpr std::string_view kEscapedInQuotes = "\"`$\\";
  const bool quote = argument.find_first_of(kReserved) != std::string_view::npos;
  std::string result = quote ? "\"" : "";
  for (const char character : argument) {
    if (character == '%') {
      result += "%%";
      continue;
    }
    if (quote && kEscapedInQuotes.find(character) != std::string_view::npos) result += '\\';
    result += character;
  }
  if (quote) result += '"';
  return result;
}

}  // namespace

bool ReplaceFile(const std::string& target, const std::string& contents, unsigned mode,
                 std::string* why) {
  errno = 0;
  TemporaryFile file(target);
  const bool written = file.IsOpen() && WriteAll(file.Fd(), contents.data(), contents.size()) &&
                       ::fchmod(file.Fd(), static_cast<mode_t>(mode)) == 0 && file.Replace();
  // Before the temporary file's removal can change errno.
  if (!written) SetReason(why);
  return written;
}

bool CopyProgramFile(const std::string& source, const std::string& target, std::string* why) {
  errno = 0;
  const FileHandle input(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat from {};
  if (!input.IsOpen() || ::fstat(input.Fd(), &from) != 0) {
    SetReason(why);
    return false;
  }
  if (!S_ISREG(from.st_mode)) {
    if (why != nullptr) *why = source + " is not a program file";
    return false;
  }
  // Onto itself there is nothing to install; it fails like any copy that cannot be made.
  struct stat existing {};
  if (::stat(target.c_str(), &existing) == 0 && IsSameFile(existing, from)) {
    if (why != nullptr) *why = target + " is the program that is running";
    return false;
  }
  TemporaryFile copy(target);
  const bool copied = copy.IsOpen() && CopyBytes(input.Fd(), copy.Fd()) &&
                      ::fchmod(copy.Fd(), kProgramMode) == 0 && copy.Replace();
  if (!copied) SetReason(why);
  return copied;
}

bool HasPortCapability(const std::string& path) {
  return FileHoldsCapability(path, CAP_NET_BIND_SERVICE);
}

bool FileHasRawCapability(const std::string& path) { return FileHoldsCapability(path, CAP_NET_RAW); }

std::string DesktopEntryText(const ShellLink& link) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=" + EscapeValue(link.name) + "\n"
         "Comment=" + EscapeValue(link.description) + "\n"
         "Exec=" + EscapeValue(ExecArgument(link.target)) + "\n"
         "Icon=" + EscapeValue(link.icon) + "\n"
         "Categories=" + EscapeValue(link.categories) + "\n";
}

bool SaveShellLink(const ShellLink& link, const std::string& file, bool executable) {
  const std::size_t cut = file.rfind('/');
  if (cut == std::string::npos) return false;
  const std::string folder = cut == 0 ? "/" : file.substr(0, cut);
  constexpr unsigned kExecutableMode = 0755;
  constexpr unsigned kPlainMode = 0644;
  return MakePrivateFolders(folder) &&
         ReplaceFile(file, DesktopEntryText(link), executable ? kExecutableMode : kPlainMode);
}

}  // namespace quillnet
