#include "cli/hosts_file.h"

#include <algorithm>
#include <cctype>
#include <unordered_map>

namespace quillnet::cli {
namespace {

constexpr std::size_t kFieldsWithoutGateway = 3;
constexpr std::size_t kFieldsWithGateway = 4;

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

HostsFile ParseHostsFile(std::string_view text, const std::string& name,
                         const LocalNetwork& local) {
  HostsFile file;
  std::unordered_map<DeviceKey, int> lineByMac;
  std::unordered_map<std::string, int> lineByIp;
  const auto refuse = [&](int line, const std::string& why) {
    file.rows.clear();
    file.warnings.clear();
    file.refusal = Refusal{kExitRefused, name + " line " + std::to_string(line) + ": " + why};
    return file;
  };

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

    HostRow row;
    row.line = line;
    std::string warning;
    if (auto refusal = ReadRow(fields, local, row, warning)) {
      return refuse(line, refusal->text);
    }
    if (!warning.empty()) {
      file.warnings.push_back(name + " line " + std::to_string(line) + ": " + warning);
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
  if (file.rows.empty()) {
    file.refusal = Refusal{kExitRefused, name + " lists no device."};
  }
  return file;
}

}  // namespace quillnet::cli
