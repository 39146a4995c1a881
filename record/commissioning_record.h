#pragma once

// The commissioning record: one CSV line per assignment, appended to a per-user file that a
// spreadsheet opens as it is (UTF-8 with a byte order mark, RFC 4180 quoting, CR LF), and read
// back for the history.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillnet {

enum class AssignmentResult { kConfirmed, kNotConfirmed, kDeclined, kAnotherServer, kNotSent, kCancelled };

// "confirmed", "not confirmed", "declined", "another server", "not sent", "cancelled".
std::string AssignmentResultText(AssignmentResult result);

// One assignment, every column as text in the order of the file.
struct CommissioningEntry {
  std::string time;  // ISO 8601 local time with its UTC offset: 2026-12-09T08:15:00+01:00
  std::string host;  // this PC's host name
  std::string user;
  std::string program;  // "quillnet", "quillnet-cli assign", ...
  std::string mac;
  std::string maker;
  std::string ip;
  std::string mask;
  std::string gateway;
  std::string protocol;  // "BOOTP" or "DHCP"
  std::string via;       // the interface, or the relay agent's address
  std::string result;    // AssignmentResultText
  std::string keep;      // the keep outcome's word, "" when it was not asked for
};

inline constexpr std::size_t kRecordColumns = 13;
// The first line of a new record, after the byte order mark.
inline constexpr std::string_view kRecordHeader =
    "Time,PC,User,Program,MAC address,Maker,IP address,Subnet mask,Gateway,Protocol,"
    "Interface or relay agent,Result,Keep address";
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
inline constexpr std::string_view kLineEnd = "\r\n";

// `seconds` since 1970 as local time with its offset from UTC, to the second.
std::string IsoLocalTime(std::int64_t seconds);

// An entry with the time (now), this PC's host name and the user filled in.
CommissioningEntry NewCommissioningEntry(std::string program);

// The entry as one line of the file, CR LF included. A line break inside a value becomes a
// space: one assignment is always one line.
std::string FormatRecordLine(const CommissioningEntry& entry);

// What one appending write adds to a record of `size` bytes whose last bytes are `tail`: the
// byte order mark and the header first in a new file; after a line that a crash left without
// its line end, a quote and a line end first, so that the new line never runs into it and the
// torn one reads as damaged.
std::string RecordAppendBytes(const CommissioningEntry& entry, std::uint64_t size,
                              std::string_view tail);

// Appends the entry to the record at `path` (made with its folders when missing) with one
// write under the writers' lock, flushed to the disk. Returns "" or, in a sentence for the page
// or the CLI, why the line could not be written; the assignment stands either way.
std::string AppendCommissioningRecord(const CommissioningEntry& entry, const std::string& path);

struct RecordHistory {
  std::vector<CommissioningEntry> entries;
  // Lines that are not a record's line (torn by a crash, edited by hand): skipped.
  std::size_t damaged = 0;
  // The file could not be read (a missing file is an empty record, not an error).
  std::string error;
};

// A DATE as `--since` takes it: YYYY-MM-DD. False for anything else.
bool ReadSinceDate(std::string_view text, std::string& date);

// The record's text read back: every line in order, those dated before `since` (YYYY-MM-DD,
// "" for all) left out, damaged ones (not 13 fields, no time of the written form, no line
// end) counted and skipped.
RecordHistory ParseCommissioningRecord(std::string_view text, std::string_view since = {});
// The record at `path` read back.
RecordHistory ReadCommissioningRecord(const std::string& path, std::string_view since = {});

}  // namespace quillnet
