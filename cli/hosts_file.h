#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/arguments.h"
#include "platform/file_read.h"
#include "wire/message.h"

namespace quillnet::cli {

// One device of a hosts file and the addresses it is to be given.
struct HostRow {
  DeviceKey key = 0;
  std::string macText;  // the engine's lower-case colon form
  AddressTexts addresses;
  int line = 0;
};

// The most a hosts file may hold: a bench's list is far smaller, and a path such as /dev/zero
// must not be read until memory runs out.
inline constexpr std::size_t kMaxHostsFileBytes = 16 * 1024 * 1024;
inline constexpr std::size_t kMaxHostsFileRows = 65536;

struct HostsFile {
  std::vector<HostRow> rows;
  // The subnet warnings of rows that pass ("<name> line <n>: WARNING: ..."): the first ten of
  // each kind, then one line that counts the rest.
  std::vector<std::string> warnings;
  // Set when the file is refused as a whole; `rows` is then empty.
  std::optional<Refusal> refusal;
};

// Reads the file at `path` into `text`, at most kMaxHostsFileBytes + 1 bytes so that
// ParseHostsFile can refuse a larger one. A refusal says why the file cannot be read. A pipe
// that gives no end is given up when `cancel` is set (exit 6) or at `deadline`.
std::optional<Refusal> ReadHostsFile(const std::string& path, std::string& text,
                                     const ReadLimits& limits = {});

// Reads a hosts file: lines "MAC,IP,MASK[,GATEWAY]", an optional header line whose first field
// is "MAC", "#" comments and blank lines; blanks around fields are ignored. The text is UTF-8,
// with or without a byte order mark, or UTF-16 with or without one, as spreadsheets export it;
// lines end in LF, CR LF or CR alone. Every row is checked as `assign` checks its arguments,
// for a device not heard yet (`pc`: this PC's networks and addresses; an address of this PC is
// refused), and no MAC address nor IP address may appear twice; one bad row refuses the whole
// file, naming `name` and the row's line number. So does a text above kMaxHostsFileBytes or
// with more than kMaxHostsFileRows rows.
HostsFile ParseHostsFile(std::string_view text, const std::string& name, const DeviceNetwork& pc);

}  // namespace quillnet::cli
