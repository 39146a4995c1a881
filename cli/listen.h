#pragma once

#include <atomic>

#include "cli/output.h"

namespace quillnet::cli {

// `listen`: one line per change of the table of devices heard, until `interrupted`.
int Listen(Output& output, const std::atomic<bool>& interrupted);

}  // namespace quillnet::cli
