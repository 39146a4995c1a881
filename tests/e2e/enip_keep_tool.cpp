// Runs one start-up method operation against a device, as the programs will:
//   e2e_enip_keep keep IP [--from ADDRESS] [--interface INDEX]
//   e2e_enip_keep read IP
//   e2e_enip_keep set IP stored|bootp|dhcp
// Prints the outcome's word on the first line and its text on the second; exits 0 when the
// operation ran (whatever its outcome), 2 on a usage error.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "enip/startup_method.h"
#include "platform/ipv4_text.h"
#include "platform/tcp_client.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: e2e_enip_keep keep IP [--from ADDRESS] [--interface INDEX]\n"
               "       e2e_enip_keep read IP\n"
               "       e2e_enip_keep set IP stored|bootp|dhcp\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quillnet;
  if (argc < 3) return Usage();
  const std::string_view operation = argv[1];
  enip::Target target;
  if (!ReadIpv4Text(argv[2], target.address, LeadingZeros::kRefuse)) return Usage();
  std::optional<enip::StartupMethod> method;
  for (int index = 3; index < argc; ++index) {
    const std::string_view argument = argv[index];
    if (argument == "--from" && index + 1 < argc) {
      if (!ReadIpv4Text(argv[++index], target.source, LeadingZeros::kRefuse)) return Usage();
    } else if (argument == "--interface" && index + 1 < argc) {
      target.interfaceIndex = std::atoi(argv[++index]);
    } else if (operation == "set" && !method) {
      method = enip::ParseStartupMethod(argument);
      if (!method) return Usage();
    } else {
      return Usage();
    }
  }
  enip::MethodResult result;
  if (operation == "keep") {
    result = enip::KeepAddress(SystemTcpClient(), target, nullptr);
  } else if (operation == "read") {
    result = enip::ReadStartupMethod(SystemTcpClient(), target, nullptr);
  } else if (operation == "set" && method) {
    result = enip::SetStartupMethod(SystemTcpClient(), target, *method, nullptr);
  } else {
    return Usage();
  }
  std::printf("%s\n%s\n", enip::MethodOutcomeWord(result.outcome, operation == "keep").c_str(),
              result.text.c_str());
  return 0;
}
