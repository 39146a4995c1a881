#include "cli/startup.h"

#include "cli/arguments.h"
#include "cli/serving.h"
#include "enip/startup_method.h"
#include "platform/ipv4_text.h"

namespace quillnet::cli {

int Startup(const StartupArguments& args, Output& output, const std::atomic<bool>& interrupted) {
  enip::Target target;
  if (!ReadIpv4Text(args.ip, target.address, LeadingZeros::kRefuse) || target.address == 0) {
    return Refuse(output, {kExitUsage, "Not an IP address: " + QuotedInput(args.ip) +
                                           ". Give four numbers 0-255 separated by dots."});
  }
  std::optional<enip::StartupMethod> method;
  if (!args.method.empty()) {
    method = enip::ParseStartupMethod(args.method);
    if (!method) {
      return Refuse(output, {kExitUsage, "Not a start-up method: " + QuotedInput(args.method) +
                                             ". Give stored, bootp or dhcp."});
    }
  }
  const enip::MethodResult result =
      method ? enip::SetStartupMethod(SystemTcpClient(), target, *method, &interrupted)
             : enip::ReadStartupMethod(SystemTcpClient(), target, &interrupted);
  const bool done = result.outcome == enip::MethodOutcome::kDone;
  const nlohmann::json fields = {
      {"ip", args.ip},
      {"method", enip::StartupMethodName(result.configurationControl & enip::kMethodMask)},
      {"dns", (result.configurationControl & enip::kDnsEnabled) != 0}};
  if (!done) {
    output.Error(result.text);
    return kExitNotKept;
  }
  output.Event("startup", result.text, fields);
  return kExitSent;
}

}  // namespace quillnet::cli
