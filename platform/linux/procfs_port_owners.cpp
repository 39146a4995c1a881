// Who holds a UDP port, from /proc: the port's sockets in /proc/net/udp and udp6, and the
// processes whose descriptors name them.
#include "platform/port_owners.h"

#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/linux/build_tree.h"
#include "platform/linux/proc_net_udp.h"
#include "platform/program_file.h"

namespace quillnet {
namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream stream(path);
  std::ostringstream text;
  text << stream.rdbuf();
  return text.str();
}

// The whitespace-separated fields of one line.
std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t at = 0;
  while (at < line.size()) {
    const std::size_t start = line.find_first_not_of(" \t", at);
    if (start == std::string_view::npos) break;
    const std::size_t end = std::min(line.find_first_of(" \t", start), line.size());
    fields.push_back(line.substr(start, end - start));
    at = end;
  }
  return fields;
}

template <typename Number>
bool ReadNumber(std::string_view text, Number& value, int base) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// Columns of /proc/net/udp: "sl local_address rem_address st tx_queue:rx_queue tr:tm->when
// retrnsmt uid timeout inode ...".
constexpr std::size_t kLocalAddressField = 1;
constexpr std::size_t kUidField = 7;
constexpr std::size_t kInodeField = 9;

}  // namespace

std::vector<UdpSocketRow> ParseProcNetUdp(std::string_view text) {
  std::vector<UdpSocketRow> rows;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::vector<std::string_view> fields = Fields(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (fields.size() <= kInodeField) continue;
    const std::string_view local = fields[kLocalAddressField];
    const std::size_t colon = local.rfind(':');
    UdpSocketRow row;
    if (colon == std::string_view::npos || !ReadNumber(local.substr(colon + 1), row.localPort, 16) ||
        !ReadNumber(fields[kUidField], row.uid, 10) ||
        !ReadNumber(fields[kInodeField], row.inode, 10)) {
      continue;
    }
    rows.push_back(row);
  }
  return rows;
}

std::uint64_t SocketInodeOfLink(std::string_view link) {
  constexpr std::string_view kPrefix = "socket:[";
  std::uint64_t inode = 0;
  if (!link.starts_with(kPrefix) || !link.ends_with(']')) return 0;
  link.remove_prefix(kPrefix.size());
  link.remove_suffix(1);
  return ReadNumber(link, inode, 10) ? inode : 0;
}

std::vector<PortOwner> FindUdpPortOwners(std::uint16_t port) {
  std::vector<PortOwner> owners;
  for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
    for (const UdpSocketRow& row : ParseProcNetUdp(ReadFile(table))) {
      if (row.localPort == port && row.inode != 0) owners.push_back({row.inode, row.uid, 0, {}});
    }
  }
  if (owners.empty()) return owners;

  // Each process's open descriptors name the sockets it holds; another user's are hidden
  // without root, and a process may end while it is read: both are skipped.
  std::error_code error;
  for (const auto& process : std::filesystem::directory_iterator("/proc", error)) {
    int pid = 0;
    if (!ReadNumber(process.path().filename().native(), pid, 10)) continue;
    std::error_code fdError;
    for (const auto& fd : std::filesystem::directory_iterator(process.path() / "fd", fdError)) {
      std::error_code linkError;
      const std::uint64_t inode =
          SocketInodeOfLink(std::filesystem::read_symlink(fd.path(), linkError).native());
      for (PortOwner& owner : owners) {
        if (inode == 0 || owner.inode != inode || owner.pid != 0) continue;
        owner.pid = pid;
        owner.name = ReadFile(process.path() / "comm");
        if (owner.name.ends_with('\n')) owner.name.pop_back();
      }
    }
  }
  return owners;
}

std::string UnseenPortOwnerText(const PortOwner& owner) {
  // The doctor of the same build, where the program runs from one: a build is on no PATH.
  std::string doctor = "quillnet-cli";
  if (const std::string build = BuildTreeOf(RunningProgramPath()); !build.empty()) {
    const std::string cli = build + "/cli/quillnet-cli";
    if (::access(cli.c_str(), X_OK) == 0) doctor = ShellQuoted(cli);
  }
  return "a process of user " + std::to_string(owner.uid) +
         " that this user cannot see (sudo " + doctor + " doctor names it)";
}

}  // namespace quillnet
