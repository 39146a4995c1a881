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
// Spreadsheets write one at the start of a UTF-8 CSV export, and a UTF-16 one at the start of
// a "Unicode text" export.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";
// Enough of a file's start to tell UTF-16 without a mark by its zero bytes.
constexpr std::size_t kEncodingSample = 64;

void AppendUtf8(std::string& text, char32_t code) {
  if (code < 0x80) {
    text += static_cast<char>(code);
  } else if (code < 0x800) {
    text += static_cast<char>(0xC0 | (code >> 6));
    text += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    text += static_cast<char>(0xE0 | (code >> 12));
    text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | (code >> 18));
    text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// UTF-16 in UTF-8; a lone surrogate becomes U+FFFD, which no field can hold, so the row it is
// in is refused rather than read as something else.
std::string Utf8FromUtf16(std::string_view bytes, bool bigEndian) {
  std::string text;
  text.reserve(bytes.size() / 2);
  const auto unit = [&](std::size_t at) {
    const auto first = static_cast<unsigned char>(bytes[at]);
    const auto second = static_cast<unsigned char>(bytes[at + 1]);
    return static_cast<char16_t>(bigEndian ? first << 8 | second : second << 8 | first);
  };
  for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) {
    const char16_t code = unit(at);
    if (code >= 0xD800 && code <= 0xDBFF && at + 3 < bytes.size()) {
      const char16_t low = unit(at + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(text, 0x10000 + ((char32_t{code} - 0xD800) << 10) + (low - 0xDC00));
        at += 2;
        continue;
      }
    }
    AppendUtf8(text, code >= 0xD800 && code <= 0xDFFF ? char32_t{0xFFFD} : char32_t{code});
  }
  return text;
}

// The text of a hosts file in UTF-8: as it is, or from UTF-16 with or without its byte order
// mark. Without a mark, UTF-16 shows as a zero byte beside each ASCII character.
std::string DecodedText(std::string_view bytes) {
  if (bytes.starts_with(kUtf16LeMark)) return Utf8FromUtf16(bytes.substr(2), false);
  if (bytes.starts_with(kUtf16BeMark)) return Utf8FromUtf16(bytes.substr(2), true);
  const std::string_view sample = bytes.substr(0, kEncodingSample);
  if (sample.size() >= 2 && sample.size() % 2 == 0) {
    std::size_t evenZeros = 0;
    std::size_t oddZeros = 0;
    for (std::size_t i = 0; i < sample.size(); ++i) {
      if (sample[i] == '\0') ++(i % 2 == 0 ? evenZeros : oddZeros);
    }
    const std::size_t pairs = sample.size() / 2;
    if (oddZeros == pairs && evenZeros == 0) return Utf8FromUtf16(bytes, false);
    if (evenZeros == pairs && oddZeros == 0) return Utf8FromUtf16(bytes, true);
  }
  std::string text(bytes);
  if (std::string_view(text).starts_with(kByteOrderMark)) text.erase(0, kByteOrderMark.size());
  return text;
}

// "1 field", "3 fields".
std::string FieldsText(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " field" : " fields");
}

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
                               const DeviceNetwork& where, HostRow& row,
                               std::vector<std::string>& warnings) {
  if (fields.size() != kFieldsWithoutGateway && fields.size() != kFieldsWithGateway) {
    // A spreadsheet in a locale whose decimal mark is the comma writes semicolons.
    if (fields.size() == 1 && fields.front().find(';') != std::string::npos) {
      return Refusal{kExitRefused,
                     "expected MAC,IP,MASK or MAC,IP,MASK,GATEWAY; the fields are separated by "
                     "semicolons; use commas."};
    }
    return Refusal{kExitRefused, "expected MAC,IP,MASK or MAC,IP,MASK,GATEWAY, found " +
                                     FieldsText(fields.size()) + "."};
  }
  if (auto refusal = ReadMacArgument(fields[0], row.key)) {
    return Refusal{kExitRefused, refusal->text};
  }
  row.macText = FormatMacAddress(row.key);
  row.addresses = {fields[1], fields[2],
                   fields.size() == kFieldsWithGateway ? fields[3] : std::string()};
  return CheckAddresses(row.addresses, where, warnings);
}

}  // namespace

std::optional<Refusal> ReadHostsFile(const std::string& path, std::string& text,
                                     const ReadLimits& limits) {
  text.clear();
  // One byte past the bound is enough to know the file is too large.
  const int error = ReadFileUpTo(path, kMaxHostsFileBytes + 1, text, limits);
  if (error == 0) return std::nullopt;
  const std::string quoted = QuotedInput(path, kQuotedPathCharacters);
  if (error == EINTR) {
    return Refusal{kExitTimeout, "Interrupted while reading the hosts file " + quoted + "."};
  }
  if (error == ETIMEDOUT) {
    return Refusal{kExitTimeout, "The hosts file " + quoted +
                                     " cannot be read: it did not end before the time-out."};
  }
  return Refusal{kExitUsage,
                 "The hosts file " + quoted + " cannot be read: " + ReadFailure(error) + "."};
}

HostsFile ParseHostsFile(std::string_view bytes, const std::string& name, const DeviceNetwork& pc) {
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
  if (bytes.size() > kMaxHostsFileBytes) {
    return refuseFile(" is larger than 16 MiB, the most a hosts file may hold.");
  }
  const std::string decoded = DecodedText(bytes);
  const std::string_view text = decoded;

  std::unordered_map<DeviceKey, int> lineByMac;
  std::unordered_map<std::string, int> lineByIp;
  // Each warning text with the number of rows that had it, in the order first seen.
  std::vector<std::pair<std::string, std::size_t>> warningCounts;
  bool firstRow = true;
  int line = 0;
  for (std::size_t start = 0; start <= text.size();) {
    // CR LF, LF and a lone CR (old Mac spreadsheets) each end a line.
    const std::size_t end = std::min(text.find_first_of("\r\n", start), text.size());
    const std::string_view content = Trimmed(text.substr(start, end - start));
    start = end + (text.substr(end).starts_with("\r\n") ? 2 : 1);
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
    std::vector<std::string> warnings;
    if (auto refusal = ReadRow(fields, pc, row, warnings)) {
      return refuse(line, refusal->text);
    }
    for (const std::string& warning : warnings) {
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
