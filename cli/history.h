#pragma once

#include <string>

#include "cli/output.h"

namespace quillnet::cli {

struct HistoryArguments {
  // YYYY-MM-DD; empty: the whole record.
  std::string since;
};

// Prints the commissioning record, one line (or JSON object) per assignment, oldest first. A
// damaged line is skipped and counted in one warning. Returns kExitSent, or
// kExitRecordUnreadable when the record exists but cannot be read.
int History(const HistoryArguments& args, Output& output);

}  // namespace quillnet::cli
