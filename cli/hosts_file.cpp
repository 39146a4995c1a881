#include "cli/hosts_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "platform/file_read.h"
#include "platform/ipv4_text.h"

namespace quillnet::cli {
namespace {

constexpr std::size_t kFieldsWithoutGateway = 3;
constexpr std::size_t kFieldsWithGateway = 4;
// Past this many rows with the same warning, one line counts the rest.
constexpr std::size_t kWarningsShown = 10;
// Spreadsheets write one at the start of a UTF-8 CSV export.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Why a file cannot be opened or read, for a person.
std::string ReadFailure(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return "it does not exist";
    case EISDIR:
      return "it is a directory";
    case EACCES:
    case EPERM:
      return "permission denied";
    default: {
      std::string reason = std::generic_category().message(error);
      if (!reason.empty()) reason[0] = static_cast<char>(std::tolower(reason[0]));
      return reason;
    }
  }
}

std::string_view Trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::vector<std::string> SplitFields(std::string_view line) {
  std::vector<std::string> fields;
  for (std::size_t start = 0;;) {
    const std::size_t comma = line.find(',', start);
    fields.emplace_back(Trimmed(line.substr(start, comma - start)));
    if (comma == std::string_view::npos) return fields;
    start = comma + 1;
  }
}

bool IsHeader(const std::vector<std::string>& fields) {
  constexpr std::string_view kHeader = "mac";
  return std::ranges::equal(fields.front(), kHeader, [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == b;
  });
}

// Checks one row's fields; the refusal's text does not name the line yet.
std::optional<Refusal> ReadRow(const std::vector<std::string>& fields,
                               const LocalNetwork& local, HostRow& row,
                               std::string& warning) {
  if (fields.size() != kFieldsWithoutGateway && fields.size() != kFieldsWithGateway) {
    return Refusal{kExitRefused, "expected MAC,IP,MASK or MAC,IP,MASK,GATEWAY, found " +
                                     std::to_string(fields.size()) + " fields."};
  }
  if (auto refusal = ReadMacArgument(fields[0], row.key)) {
    return Refusal{kExitRefused, refusal->text};
  }
  row.macText = FormatMacAddress(row.key);
  row.addresses = {fields[1], fields[2],
                   fields.size() == kFieldsWithGateway ? fields[3] : std::string()};
  return CheckAddresses(row.addresses, local, warning);
}

}  // namespace

std::optional<Refusal> ReadHostsFile(const std::string& path, std::string& text) {
  text.clear();
  const auto refuse = [&path](int error) {
    return Refusal{kExitUsage,
                   "The hosts file '" + path + "' cannot be read: " + ReadFailure(error) + "."};
  };
  // One byte past the bound is enough to know the file is too large.
  if (const int error = ReadFileUpTo(path, kMaxHostsFileBytes + 1, text); error != 0) {
    return refuse(error);
  }
  return std::nullopt;
}

HostsFile ParseHostsFile(std::string_view text, const std::string& name,
                         const LocalNetwork& local, const std::vector<OwnAddress>& own) {
  HostsFile file;
  const auto refuseFile = [&](const std::string& why) {
    file.rows.clear();
    file.warnings.clear();
    file.refusal = Refusal{kExitRefused, name + why};
    return file;
  };
  const auto refuse = [&](int line, const std::string& why) {
    return refuseFile(" line " + std::to_string(line) + ": " + why);
  };
  if (text.size() > kMaxHostsFileBytes) {
    return refuseFile(" is larger than 16 MiB, the most a hosts file may hold.");
  }
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());

  std::unordered_map<DeviceKey, int> lineByMac;
  std::unordered_map<std::string, int> lineByIp;
  // Each warning text with the number of rows that had it, in the order first seen.
  std::vector<std::pair<std::string, std::size_t>> warningCounts;
  bool firstRow = true;
  int line = 0;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view content = Trimmed(text.substr(start, end - start));
    start = end + 1;
    ++line;
    if (content.empty() || content.front() == '#') continue;

    const std::vector<std::string> fields = SplitFields(content);
    const bool header = firstRow && IsHeader(fields);
    firstRow = false;
    if (header) continue;

    if (file.rows.size() == kMaxHostsFileRows) {
      return refuse(line, "a hosts file may list at most 65536 devices.");
    }
    HostRow row;
    row.line = line;
    std::string warning;
    if (auto refusal = ReadRow(fields, local, row, warning)) {
      return refuse(line, refusal->text);
    }
    std::uint32_t ip = 0;
    ReadIpv4Text(row.addresses.ipAddress, ip, LeadingZeros::kRefuse);
    if (const std::string holder = InterfaceWith(own, ip); !holder.empty()) {
      return refuse(line, "IP address " + row.addresses.ipAddress +
                              " is in use by this PC's interface " + holder +
                              ". Give the device another address.");
    }
    if (!warning.empty()) {
      auto counted = std::ranges::find(warningCounts, warning,
                                       &std::pair<std::string, std::size_t>::first);
      if (counted == warningCounts.end()) counted = warningCounts.insert(counted, {warning, 0});
      if (++counted->second <= kWarningsShown) {
        file.warnings.push_back(name + " line " + std::to_string(line) + ": " + warning);
      }
    }
    if (const auto [at, added] = lineByMac.emplace(row.key, line); !added) {
      return refuse(line, "MAC address " + row.macText + " is listed on line " +
                              std::to_string(at->second) + " already.");
    }
    if (const auto [at, added] = lineByIp.emplace(row.addresses.ipAddress, line); !added) {
      return refuse(line, "IP address " + row.addresses.ipAddress + " is listed on line " +
                              std::to_string(at->second) + " already.");
    }
    file.rows.push_back(std::move(row));
  }
  if (file.rows.empty()) return refuseFile(" lists no device.");
  for (const auto& [warning, count] : warningCounts) {
    if (count > kWarningsShown) {
      file.warnings.push_back(name + ": ... and " + std::to_string(count - kWarningsShown) +
                              " more rows with the same warning.");
    }
  }
  return file;
}

}  // namespace quillnet::cli
