// Windows lets every program bind port 67 and ask SendARP: there is no quillnet-net-helper to
// find, start or check, and nothing ever needs one.
#include <winsock2.h>

#include "platform/net_helper.h"
#include "platform/process_privileges.h"

namespace quillnet {
namespace {

constexpr char kNoArpText[] =
    "SendARP, which sends ARP probes on Windows, is not supported on this system";

}  // namespace

bool NeedsNetHelper() { return false; }

bool MayBindPort(std::uint16_t) { return true; }

std::string FindNetHelper(const std::string&) { return {}; }

// Asked only when this program cannot probe by itself, which on Windows means SendARP is
// missing (Wine has none): no helper could do better.
NetHelperFailure CheckNetHelperProbes(std::string& path) {
  path.clear();
  return {WSAEOPNOTSUPP, kNoArpText};
}

std::string LastPortHelperFailure() { return {}; }

int OpenBootpSocketThroughHelper(NetHelperFailure& failure) {
  failure = {WSAEOPNOTSUPP, "there is no quillnet-net-helper on Windows, nor any need of one"};
  return -1;
}

}  // namespace quillnet
