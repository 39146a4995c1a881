#include "bootp/reply_sender.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "bootp/answer_policy.h"
#include "wire/dhcp.h"
#include "bootp/server_text.h"
#include "platform/ipv4_text.h"

namespace quillnet {
namespace {

constexpr std::uint32_t kBroadcastAddress = 0xFFFFFFFFu;
constexpr std::uint32_t kHostMask = 0xFFFFFFFFu;
constexpr std::uint8_t kLoopbackBytes[4] = {127, 0, 0, 1};

constexpr char kNoInterfaceText[] =
    "No network interface could send the reply. Connect this PC to the device's network "
    "and give it an IPv4 address.\n";
constexpr char kRouteQueryFailedText[] = "Insufficient buffer for GetIpForwardTable";
constexpr char kRouteQueryFailedCaption[] = "Error before send";

std::uint32_t LoopbackAddress() {
  std::uint32_t address = 0;
  static_assert(sizeof kLoopbackBytes == sizeof address);
  std::memcpy(&address, kLoopbackBytes, sizeof address);
  return address;
}

// The limited-broadcast host route of one interface, whose next hop is that interface's own
// address; loopback's row is none.
bool IsInterfaceRow(const RouteRow& row) {
  return row.dest == kBroadcastAddress && row.mask == kHostMask && row.nextHop != LoopbackAddress();
}

// The copy of a DHCP reply that leaves from `source` names it as the server identifier.
std::span<const std::uint8_t> Named(std::span<const std::uint8_t> reply, std::uint8_t messageType,
                                    std::uint32_t source,
                                    std::array<std::uint8_t, kDhcpMaxReplyLength>& room) {
  if (messageType == kBootpMessage || reply.size() > room.size()) return reply;
  std::copy(reply.begin(), reply.end(), room.begin());
  SetDhcpServerId(room, source);
  return std::span(room).first(reply.size());
}

// Why a reply cannot go to a relay agent, in words where the code has a plain meaning.
std::string RelayFailureText(int error, const std::string& relay) {
  switch (error) {
    case kWsaEnetunreach:
    case kWsaEhostunreach:
      return "this PC has no route to " + relay +
             ". Give it a route to the device's network through the router that relays its "
             "requests.\n";
    case kWsaEacces:
      return "the system refuses to send to " + relay +
             " (a broadcast address, or a firewall rule that rejects it).\n";
    default:
      return WithCode("Sendto error", error);
  }
}

}  // namespace

ReplySender::ReplySender(SocketApi& sockets, RouteSource& routes)
    : m_sockets(sockets), m_routes(routes) {}

std::optional<ReplySender::LinkState> ReplySender::LinkStateOf(int index) const {
  std::vector<RouteRow> rows;
  if (m_routes.QueryRoutes(rows) != RouteQueryResult::kOk) return std::nullopt;
  LinkState state;
  state.up = std::any_of(rows.begin(), rows.end(), [&](const RouteRow& row) {
    return IsInterfaceRow(row) && row.interfaceIndex == index;
  });
  state.name = m_routes.InterfaceName(index);
  return state;
}

ReplySender::Routes ReplySender::QueryRoutes() const {
  Routes result;
  std::vector<RouteRow> rows;
  switch (m_routes.QueryRoutes(rows)) {
    case RouteQueryResult::kOk:
      break;
    case RouteQueryResult::kNoMemory:
      result.outOfMemory = true;
      rows.clear();
      break;
    case RouteQueryResult::kFailed:
      // Rows the query did not return cannot be trusted; none is served.
      result.failureText = kRouteQueryFailedText;
      result.failureCaption = kRouteQueryFailedCaption;
      rows.clear();
      break;
  }
  for (const RouteRow& row : rows) {
    if (IsInterfaceRow(row)) result.interfaces.push_back({row.nextHop, row.interfaceIndex});
  }
  return result;
}

ReplySender::Outcome ReplySender::Send(SocketHandle socket, const Routes& routes,
                                       std::span<const std::uint8_t> reply,
                                       std::uint8_t messageType, int deviceInterface) {
  if (const std::uint32_t relay = RelayOf(reply); relay != 0) {
    return ToRelay(socket, routes, reply, messageType, relay);
  }
  return Broadcast(socket, routes, reply, messageType, deviceInterface);
}

ReplySender::Outcome ReplySender::Broadcast(SocketHandle socket, const Routes& routes,
                                            std::span<const std::uint8_t> reply,
                                            std::uint8_t messageType, int deviceInterface) {
  Outcome outcome;
  std::size_t failures = 0;
  bool deviceRowFound = false;
  bool indexesKnown = false;
  std::string deviceFailure;
  std::vector<bool> failedRoutes(routes.interfaces.size(), false);
  for (std::size_t i = 0; i < routes.interfaces.size(); ++i) {
    const Interface& route = routes.interfaces[i];
    indexesKnown = indexesKnown || route.index != 0;
    const bool deviceRow = deviceInterface != 0 && route.index == deviceInterface;
    deviceRowFound = deviceRowFound || deviceRow;
    std::array<std::uint8_t, kDhcpMaxReplyLength> named{};
    if (const int error =
            m_sockets.SendFrom(socket, Named(reply, messageType, route.address, named),
                               route.address, route.index, kBroadcastAddress, kClientPort);
        error == 0) {
      ++outcome.interfaces;
      if (deviceRow) outcome.reachedDevice = true;
    } else {
      failedRoutes[i] = true;
      std::string failure = WithCode("Sendto error", error);
      if (deviceRow) deviceFailure = failure;
      // A failure on one interface does not stop the others; the text keeps the first.
      if (++failures == 1) outcome.message = std::move(failure);
    }
  }
  // Named only once every copy has left.
  for (std::size_t i = 0; i < routes.interfaces.size(); ++i) {
    if (!failedRoutes[i]) outcome.interfaceNames.push_back(NameOf(routes.interfaces[i]));
  }
  // Where the interface the device asked on, or the interfaces of the rows, are not known,
  // any copy may have reached it.
  if (deviceInterface == 0 || !indexesKnown) {
    deviceInterface = 0;
    outcome.reachedDevice = outcome.interfaces > 0;
  }
  if (routes.interfaces.empty()) {
    outcome.message = kNoInterfaceText;
  } else if (!outcome.reachedDevice && deviceInterface != 0) {
    // Copies on the other interfaces go into other networks; the device got nothing.
    const std::string name = m_routes.InterfaceName(deviceInterface);
    outcome.message = "The reply could not be sent through " + name + ", where the device asked: " +
                      (deviceRowFound ? deviceFailure
                                      : name + " has no IPv4 address or is down. Give this PC "
                                               "an address on the device's network.\n");
  }
  return outcome;
}

ReplySender::Outcome ReplySender::ToRelay(SocketHandle socket, const Routes& routes,
                                          std::span<const std::uint8_t> reply,
                                          std::uint8_t messageType, std::uint32_t relay) {
  Outcome outcome;
  outcome.relay = relay;
  const std::string relayText = Ipv4Text(relay);
  std::uint32_t source = 0;
  if (const int error = m_sockets.SourceToward(relay, kServerPort, source); error != 0) {
    outcome.message = "The reply could not be sent to the relay agent " + relayText +
                      ", through which the device asked: " + RelayFailureText(error, relayText);
    return outcome;
  }
  outcome.source = source;
  std::array<std::uint8_t, kDhcpMaxReplyLength> named{};
  // The routes choose the interface, as for any datagram to that address.
  if (const int error = m_sockets.SendFrom(socket, Named(reply, messageType, source, named),
                                           source, 0, relay, kServerPort);
      error != 0) {
    outcome.message = "The reply could not be sent to the relay agent " + relayText + ": " +
                      RelayFailureText(error, relayText);
    return outcome;
  }
  outcome.interfaces = 1;
  outcome.reachedDevice = true;
  const auto route = std::find_if(routes.interfaces.begin(), routes.interfaces.end(),
                                  [&](const Interface& row) { return row.address == source; });
  outcome.interfaceNames.push_back(route != routes.interfaces.end() ? NameOf(*route)
                                                                     : Ipv4Text(source));
  return outcome;
}

const std::string& ReplySender::NameOf(const Interface& route) {
  const std::uint64_t key = std::uint64_t{static_cast<std::uint32_t>(route.index)} << 32 |
                            route.address;
  auto found = m_names.find(key);
  if (found == m_names.end()) {
    found = m_names
                .emplace(key, route.index != 0 ? m_routes.InterfaceName(route.index)
                                               : Ipv4Text(route.address))
                .first;
  }
  return found->second;
}

}  // namespace quillnet
