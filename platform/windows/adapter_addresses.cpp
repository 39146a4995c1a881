#include "platform/windows/adapter_addresses.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <memory>

#include "platform/windows/wide_text.h"

namespace quillnet {
namespace {

// Microsoft's advice: start with 15 KB, enough for most machines, and retry with the size the
// call asks for, as adapters may come and go between two calls.
constexpr ULONG kFirstBufferBytes = 15 * 1024;
constexpr int kTries = 4;
constexpr ULONG kMacLength = 6;

}  // namespace

WinAdapterResult ReadWinAdapters(std::vector<WinAdapter>& adapters) {
  adapters.clear();
  constexpr ULONG kFlags =
      GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG size = kFirstBufferBytes;
  std::unique_ptr<std::uint8_t[]> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int tries = 0; tries < kTries && result == ERROR_BUFFER_OVERFLOW; ++tries) {
    buffer.reset(new (std::nothrow) std::uint8_t[size]);
    if (!buffer) return WinAdapterResult::kNoMemory;
    result = ::GetAdaptersAddresses(AF_INET, kFlags, nullptr,
                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
  }
  // No adapter with IPv4 at all is an empty list, not a failure.
  if (result == ERROR_NO_DATA) return WinAdapterResult::kOk;
  if (result == ERROR_NOT_ENOUGH_MEMORY) return WinAdapterResult::kNoMemory;
  if (result != NO_ERROR) return WinAdapterResult::kFailed;
  for (const auto* entry = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.get());
       entry != nullptr; entry = entry->Next) {
    WinAdapter adapter;
    adapter.index = static_cast<int>(entry->IfIndex);
    adapter.name = entry->FriendlyName != nullptr ? Utf8Text(entry->FriendlyName) : std::string();
    adapter.up = entry->OperStatus == IfOperStatusUp;
    adapter.loopback = entry->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
    adapter.ethernet =
        entry->IfType == IF_TYPE_ETHERNET_CSMACD || entry->IfType == IF_TYPE_IEEE80211;
    if (entry->PhysicalAddressLength == kMacLength) {
      for (ULONG i = 0; i < kMacLength; ++i) {
        adapter.mac = (adapter.mac << 8) | entry->PhysicalAddress[i];
      }
    }
    for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = entry->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const SOCKET_ADDRESS& address = unicast->Address;
      if (address.lpSockaddr == nullptr || address.lpSockaddr->sa_family != AF_INET) continue;
      const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address.lpSockaddr);
      adapter.addresses.push_back({ipv4->sin_addr.s_addr, unicast->OnLinkPrefixLength});
    }
    adapters.push_back(std::move(adapter));
  }
  return WinAdapterResult::kOk;
}

}  // namespace quillnet
