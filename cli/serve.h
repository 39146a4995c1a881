#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "cli/output.h"

namespace quillnet::cli {

struct ServeArguments {
  std::string hostsPath;
  bool once = false;
  std::optional<double> timeoutSeconds;
};

// `serve`: answers every device of the hosts file with its own row until `interrupted`, the
// time-out, or with --once until each has been answered. Returns the exit code.
int Serve(const ServeArguments& args, Output& output, const std::atomic<bool>& interrupted);

}  // namespace quillnet::cli
