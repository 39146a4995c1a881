#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "cli/output.h"

namespace quillnet::cli {

struct ServeArguments {
  std::string hostsPath;
  bool once = false;
  // Once each device answers at its address, tell it to keep it (EtherNet/IP).
  bool keep = false;
  std::optional<double> timeoutSeconds;
};

// `serve`: answers every device of the hosts file with its own row until `interrupted`, the
// time-out, or with --once until each has been answered (with --keep: until what became of
// telling it to keep its address is known). Each answer leaves its line in the commissioning
// record. Returns the exit code.
int Serve(const ServeArguments& args, Output& output, const std::atomic<bool>& interrupted);

}  // namespace quillnet::cli
