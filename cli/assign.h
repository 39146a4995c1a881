#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "cli/arguments.h"
#include "cli/output.h"

namespace quillnet::cli {

struct AssignArguments {
  std::string mac;
  AddressTexts addresses;
  std::optional<double> timeoutSeconds;
  double confirmSeconds = 5;
  bool force = false;
  // Once the device answers at its address, tell it to keep it (EtherNet/IP).
  bool keep = false;
};

// `assign`: checks the addresses and whether the IP address is in use, answers the device's
// next request and checks that the device answers there. Returns the exit code.
int Assign(const AssignArguments& args, Output& output, const std::atomic<bool>& interrupted);

}  // namespace quillnet::cli
