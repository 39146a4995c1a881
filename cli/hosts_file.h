#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bootp/message.h"
#include "cli/arguments.h"

namespace quillnet::cli {

// One device of a hosts file and the addresses it is to be given.
struct HostRow {
  DeviceKey key = 0;
  std::string macText;  // the engine's lower-case colon form
  AddressTexts addresses;
  int line = 0;
};

struct HostsFile {
  std::vector<HostRow> rows;
  // The subnet warnings of rows that pass ("<name> line <n>: WARNING: ...").
  std::vector<std::string> warnings;
  // Set when the file is refused as a whole; `rows` is then empty.
  std::optional<Refusal> refusal;
};

// Reads a hosts file: lines "MAC,IP,MASK[,GATEWAY]", an optional header line whose first field
// is "MAC", "#" comments and blank lines; blanks around fields are ignored. Every row is
// checked as `assign` checks its arguments, and no MAC address nor IP address may appear
// twice; one bad row refuses the whole file, naming `name` and the row's line number.
HostsFile ParseHostsFile(std::string_view text, const std::string& name,
                         const LocalNetwork& local);

}  // namespace quillnet::cli
