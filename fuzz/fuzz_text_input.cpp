// Untrusted text: hosts files, typed MAC and IPv4 texts, /proc/net/udp and nft's ruleset. The
// first byte picks the reader; the rest is its input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "app/firewall_check.h"
#include "cli/hosts_file.h"
#include "platform/ipv4_text.h"
#include "platform/linux/proc_net_udp.h"
#include "wire/message.h"

namespace {

using namespace quillnet;

// This PC as the rows are checked against it: one network, one address of its own.
DeviceNetwork ThisPc() {
  DeviceNetwork pc;
  pc.pcNetworks = {{"10.0.0.1", "255.255.255.0"}};
  std::uint32_t own = 0;
  ReadIpv4Text("10.0.0.1", own);
  pc.own = {{own, "eth0"}};
  return pc;
}

void HostsFile(std::string_view text) {
  static const DeviceNetwork kPc = ThisPc();
  const cli::HostsFile file = cli::ParseHostsFile(text, "f", kPc);
  if (file.refusal && !file.rows.empty()) std::abort();
  if (!file.refusal && file.rows.empty()) std::abort();
  std::set<DeviceKey> keys;
  std::set<std::string> ips;
  for (const cli::HostRow& row : file.rows) {
    DeviceKey key = 0;
    std::uint32_t address = 0;
    // Every row that passes is one the engine reads back exactly.
    if (!ParseMacText(row.macText, key) || key != row.key || key == 0) std::abort();
    if (!ReadIpv4Text(row.addresses.ipAddress, address, LeadingZeros::kRefuse) ||
        Ipv4Text(address) != row.addresses.ipAddress) {
      std::abort();
    }
    if (!keys.insert(key).second || !ips.insert(row.addresses.ipAddress).second) std::abort();
  }
}

void TypedTexts(std::string_view text) {
  DeviceKey key = 0;
  if (ParseMacText(text, key) && ParseMacKey(FormatMacAddress(key)) != key) std::abort();
  std::uint32_t address = 0;
  if (ReadIpv4Text(text, address, LeadingZeros::kRefuse) && Ipv4Text(address) != text) std::abort();
  // What the wizard reads is what it shows once the leading zeros are gone, and what it sends.
  if (ReadIpv4Text(text, address)) {
    std::uint32_t again = 0;
    const std::string shown = NormalizedIpv4Text(std::string(text));
    if (!ReadIpv4Text(shown, again, LeadingZeros::kRefuse) || again != address) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 4) {
    case 0:
      HostsFile(text);
      break;
    case 1:
      TypedTexts(text);
      break;
    case 2:
      for (const UdpSocketRow& row : ParseProcNetUdp(text)) (void)row;
      (void)SocketInodeOfLink(text);
      break;
    default:
      (void)NftFirewallFindings(text);
      break;
  }
  return 0;
}
