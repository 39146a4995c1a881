#include "cli/history.h"

#include "cli/arguments.h"
#include "cli/serving.h"
#include "platform/record_location.h"
#include "record/commissioning_record.h"

namespace quillnet::cli {

int History(const HistoryArguments& args, Output& output) {
  std::string since;
  if (!args.since.empty() && !ReadSinceDate(args.since, since)) {
    return Refuse(output, {kExitUsage, "Not a date: " + QuotedInput(args.since) +
                                           ". Give it as YYYY-MM-DD, e.g. 2026-12-09."});
  }
  const std::string path = CommissioningRecordPath();
  const RecordHistory history = ReadCommissioningRecord(path, since);
  if (!history.error.empty()) {
    output.Error("The commissioning record " + path + " cannot be read: " + history.error + ".");
    return kExitRecordUnreadable;
  }
  for (const CommissioningEntry& entry : history.entries) {
    std::string text = entry.time + "  " + entry.mac + "  " + entry.ip + "/" + entry.mask;
    if (!entry.gateway.empty()) text += " gateway " + entry.gateway;
    text += "  " + entry.protocol + " on " + entry.via + "  " + entry.result;
    if (!entry.keep.empty()) text += ", keep: " + entry.keep;
    text += "  (" + entry.program + ", " + entry.user + "@" + entry.host;
    if (!entry.maker.empty()) text += ", " + entry.maker;
    text += ")";
    output.Event("assignment", text,
                 {{"time", entry.time},     {"pc", entry.host},        {"user", entry.user},
                  {"program", entry.program}, {"mac", entry.mac},       {"vendor", entry.maker},
                  {"ip", entry.ip},         {"mask", entry.mask},      {"gateway", entry.gateway},
                  {"protocol", entry.protocol}, {"via", entry.via},     {"result", entry.result},
                  {"keep", entry.keep}});
  }
  if (history.entries.empty()) {
    output.Event("none",
                 "No assignment is recorded in " + path +
                     (since.empty() ? std::string() : " since " + since) + ".",
                 {{"file", path}});
  }
  if (history.damaged > 0) {
    output.Warning("Warning: " + std::to_string(history.damaged) +
                   (history.damaged == 1 ? " damaged line" : " damaged lines") + " of " + path +
                   " skipped.",
                   {{"damaged", history.damaged}});
  }
  return kExitSent;
}

}  // namespace quillnet::cli
