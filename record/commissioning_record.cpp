#include "record/commissioning_record.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <system_error>

#include "csv/csv.h"
#include "platform/file_read.h"
#include "platform/local_time.h"
#include "platform/locked_append.h"
#include "platform/machine_identity.h"
#include "platform/record_location.h"

namespace quillnet {
namespace {

// How long a writer waits for another one that holds the lock: far longer than one line's
// write and flush.
constexpr std::chrono::milliseconds kLockLimit{10000};
// A record of a million lines is about 150 MB.
constexpr std::size_t kReadLimit = std::size_t{1} << 30;

// 2026-12-09T08:15:00+01:00
constexpr std::size_t kTimeLength = 25;
constexpr std::size_t kDateLength = 10;

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar (H. Hinnant's
// days_from_civil).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

bool Digits(std::string_view text, std::size_t offset, std::size_t count, int& value) {
  if (offset + count > text.size()) return false;
  value = 0;
  for (std::size_t index = offset; index < offset + count; ++index) {
    if (text[index] < '0' || text[index] > '9') return false;
    value = value * 10 + (text[index] - '0');
  }
  return true;
}

bool IsDate(std::string_view text) {
  int year = 0, month = 0, day = 0;
  return text.size() >= kDateLength && Digits(text, 0, 4, year) && text[4] == '-' &&
         Digits(text, 5, 2, month) && text[7] == '-' && Digits(text, 8, 2, day) && month >= 1 &&
         month <= 12 && day >= 1 && day <= 31;
}

// The form IsoLocalTime writes.
bool IsRecordTime(std::string_view text) {
  int value = 0;
  return text.size() == kTimeLength && IsDate(text) && text[10] == 'T' &&
         Digits(text, 11, 2, value) && text[13] == ':' && Digits(text, 14, 2, value) &&
         text[16] == ':' && Digits(text, 17, 2, value) && (text[19] == '+' || text[19] == '-') &&
         Digits(text, 20, 2, value) && text[22] == ':' && Digits(text, 23, 2, value);
}

std::string OneLine(std::string_view value) {
  std::string line(value);
  for (char& character : line) {
    if (character == '\r' || character == '\n') character = ' ';
  }
  return CsvField(line);
}

}  // namespace

std::string AssignmentResultText(AssignmentResult result) {
  switch (result) {
    case AssignmentResult::kConfirmed: return "confirmed";
    case AssignmentResult::kNotConfirmed: return "not confirmed";
    case AssignmentResult::kDeclined: return "declined";
    case AssignmentResult::kAnotherServer: return "another server";
    case AssignmentResult::kNotSent: return "not sent";
    case AssignmentResult::kCancelled: return "cancelled";
  }
  return "not sent";
}

std::string IsoLocalTime(std::int64_t seconds) {
  const std::string local = FormatLocalTime(seconds, "%Y-%m-%dT%H:%M:%S");
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!Digits(local, 0, 4, year) || !Digits(local, 5, 2, month) || !Digits(local, 8, 2, day) ||
      !Digits(local, 11, 2, hour) || !Digits(local, 14, 2, minute) ||
      !Digits(local, 17, 2, second)) {
    return local;
  }
  // The local clock read as if it were UTC, less the instant, is the zone's offset.
  const std::int64_t asUtc =
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
      hour * 3600 + minute * 60 + second;
  const std::int64_t offset = (asUtc - seconds) / 60;
  const std::int64_t magnitude = offset < 0 ? -offset : offset;
  char zone[8];
  std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+',
                static_cast<int>(magnitude / 60), static_cast<int>(magnitude % 60));
  return local + zone;
}

CommissioningEntry NewCommissioningEntry(std::string program) {
  CommissioningEntry entry;
  entry.time = IsoLocalTime(CurrentUnixTime());
  entry.host = PcHostName();
  entry.user = CurrentUserName();
  entry.program = std::move(program);
  return entry;
}

std::string FormatRecordLine(const CommissioningEntry& entry) {
  const std::string_view columns[] = {entry.time,    entry.host,    entry.user,  entry.program,
                                      entry.mac,     entry.maker,   entry.ip,    entry.mask,
                                      entry.gateway, entry.protocol, entry.via,  entry.result,
                                      entry.keep};
  static_assert(std::size(columns) == kRecordColumns);
  std::string line;
  for (std::size_t index = 0; index < kRecordColumns; ++index) {
    if (index > 0) line += ',';
    line += OneLine(columns[index]);
  }
  return line + std::string(kLineEnd);
}

std::string RecordAppendBytes(const CommissioningEntry& entry, std::uint64_t size,
                              std::string_view tail) {
  std::string bytes;
  if (size == 0) {
    bytes.append(kByteOrderMark).append(kRecordHeader).append(kLineEnd);
  } else if (!tail.ends_with('\n')) {
    // The quote makes the torn line's last field malformed: it never reads as a record, even
    // when it was torn right after a comma.
    bytes.append("\"").append(kLineEnd);
  }
  return bytes.append(FormatRecordLine(entry));
}

std::string AppendCommissioningRecord(const CommissioningEntry& entry, const std::string& path) {
  const std::string failed = "The commissioning record could not be written";
  if (path.empty()) return failed + ": this user has no folder for it.";
  if (const std::string why = MakeParentFolders(path); !why.empty()) {
    return failed + " (" + why + ").";
  }
  const std::string why = AppendLocked(
      path,
      [&entry](std::uint64_t size, std::string_view tail) {
        return RecordAppendBytes(entry, size, tail);
      },
      kLockLimit);
  return why.empty() ? std::string() : failed + " to " + path + ": " + why + ".";
}

bool ReadSinceDate(std::string_view text, std::string& date) {
  if (text.size() != kDateLength || !IsDate(text)) return false;
  date = text;
  return true;
}

RecordHistory ParseCommissioningRecord(std::string_view text, std::string_view since) {
  RecordHistory history;
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  std::vector<std::string> fields;
  bool first = true;
  while (!text.empty()) {
    // A record's line never holds a line break: each physical line is read on its own, so
    // that a torn one never takes the next with it.
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    const bool header = first && line == kRecordHeader;
    first = false;
    if (header || line.empty()) continue;
    // Every line is written with its line end: one without it was torn.
    if (end == std::string_view::npos) {
      ++history.damaged;
      continue;
    }
    std::string_view rest = line;
    if (!ReadCsvRecord(rest, fields) || !rest.empty() || fields.size() != kRecordColumns ||
        !IsRecordTime(fields[0])) {
      ++history.damaged;
      continue;
    }
    if (!since.empty() && std::string_view(fields[0]).substr(0, kDateLength) < since) continue;
    history.entries.push_back({std::move(fields[0]), std::move(fields[1]), std::move(fields[2]),
                               std::move(fields[3]), std::move(fields[4]), std::move(fields[5]),
                               std::move(fields[6]), std::move(fields[7]), std::move(fields[8]),
                               std::move(fields[9]), std::move(fields[10]),
                               std::move(fields[11]), std::move(fields[12])});
  }
  return history;
}

RecordHistory ReadCommissioningRecord(const std::string& path, std::string_view since) {
  std::string text;
  const int error = ReadFileUpTo(path, kReadLimit, text);
  if (error == ENOENT) return {};
  if (error != 0) {
    RecordHistory history;
    history.error = "The commissioning record " + path + " could not be read: " +
                    std::generic_category().message(error) + ".";
    return history;
  }
  return ParseCommissioningRecord(text, since);
}

}  // namespace quillnet
