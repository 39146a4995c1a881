// Drives the commissioning record as the programs will, for record_processes.py:
//   record_tool append PATH COUNT TAG         waits for a line on stdin, the maker (UTF-8, "\n"
//                                             for a line break), then appends COUNT lines
//                                             (MAC 02:00:NN:NN:NN:NN, program TAG)
//   record_tool read PATH [DATE]              prints "entries N damaged M", then each
//                                             entry's program, MAC and maker
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "record/commissioning_record.h"

int main(int argc, char** argv) {
  using namespace quillnet;
  const std::string operation = argc > 2 ? argv[1] : "";
  if (operation == "append" && argc == 5) {
    const long count = std::strtol(argv[3], nullptr, 10);
    const std::string tag = argv[4];
    // Read from stdin, not the command line, whose text Windows hands over in its code page.
    std::string line;
    std::getline(std::cin, line);
    if (line.ends_with('\r')) line.pop_back();
    std::string maker;
    for (std::size_t index = 0; index < line.size(); ++index) {
      if (line.compare(index, 2, "\\n") == 0) {
        maker += '\n';
        ++index;
      } else {
        maker += line[index];
      }
    }
    for (long index = 0; index < count; ++index) {
      CommissioningEntry entry = NewCommissioningEntry(tag);
      char mac[32];
      std::snprintf(mac, sizeof mac, "02:00:%02lx:%02lx:%02lx:%02lx", index >> 24 & 0xFF,
                    index >> 16 & 0xFF, index >> 8 & 0xFF, index & 0xFF);
      entry.mac = mac;
      entry.maker = maker;
      entry.ip = "10.0.0." + std::to_string(index % 250 + 2);
      entry.mask = "255.255.255.0";
      entry.gateway = "0.0.0.0";
      entry.protocol = "BOOTP";
      entry.via = "eth0";
      entry.result = AssignmentResultText(AssignmentResult::kConfirmed);
      entry.keep = "kept";
      if (const std::string why = AppendCommissioningRecord(entry, argv[2]); !why.empty()) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
      }
    }
    return 0;
  }
  if (operation == "read" && (argc == 3 || argc == 4)) {
    std::string since;
    if (argc == 4 && !ReadSinceDate(argv[3], since)) return 2;
    const RecordHistory history = ReadCommissioningRecord(argv[2], since);
    if (!history.error.empty()) {
      std::fprintf(stderr, "%s\n", history.error.c_str());
      return 1;
    }
    std::printf("entries %zu damaged %zu\n", history.entries.size(), history.damaged);
    for (const CommissioningEntry& entry : history.entries) {
      std::printf("%s %s %s\n", entry.program.c_str(), entry.mac.c_str(), entry.maker.c_str());
    }
    return 0;
  }
  std::fprintf(stderr, "usage: record_tool append PATH COUNT TAG | read PATH [DATE]\n");
  return 2;
}
