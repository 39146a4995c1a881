#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The adapters IP Helper reports, reduced to what the route rows, the adapter list and the ARP
// probes need. No Windows header: the files that include this one compile their own.
namespace quillnet {

struct WinAdapter {
  int index = 0;     // IPv4 interface index, as IP_PKTINFO and the route table give it
  std::string name;  // the friendly name ("Ethernet 2"), UTF-8
  bool up = false;
  bool loopback = false;
  // Ethernet or Wi-Fi: broadcast-capable, and reached by ARP.
  bool ethernet = false;
  std::uint64_t mac = 0;  // low 48 bits, first byte most significant; 0 when it has none
  struct Address {
    std::uint32_t address = 0;  // network byte order
    int prefixLength = 0;
  };
  std::vector<Address> addresses;  // IPv4, in the order Windows lists them
};

enum class WinAdapterResult { kOk, kNoMemory, kFailed };

// Every adapter with IPv4 enabled, in the order Windows lists them.
WinAdapterResult ReadWinAdapters(std::vector<WinAdapter>& adapters);

}  // namespace quillnet
