#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/network_info.h"
#include "platform/socket_api.h"

namespace quillnet {

// Sends a reply through the server's listening socket. A reply to a device on one of this
// PC's networks is broadcast to port 68 once per interface, from that interface's address: the
// device has no address yet, and the PC cannot know which network it is on. A reply whose
// giaddr is set goes to the relay agent named there, by unicast to its port 67, from this
// PC's address toward it, and nowhere else (RFC 951 §7, RFC 2131 §4.1). A DHCP reply names
// the address it leaves from as its server identifier.
//
// One thread sends at a time: the server hands a batch of replies to one sender only.
class ReplySender {
 public:
  static constexpr std::uint16_t kServerPort = 67;
  static constexpr std::uint16_t kClientPort = 68;

  // One interface a reply leaves through: its limited-broadcast row.
  struct Interface {
    std::uint32_t address = 0;
    int index = 0;
  };
  // The interfaces of one look at the routes, for a batch of replies.
  struct Routes {
    std::vector<Interface> interfaces;
    // A failure of the look that needs the user's attention; empty when none.
    std::string failureText;
    std::string failureCaption;
    // The look ran out of memory; said on standard output by the reply that needed it.
    bool outOfMemory = false;
  };
  // What sending one reply came to.
  struct Outcome {
    std::size_t interfaces = 0;  // the copies that left
    std::vector<std::string> interfaceNames;  // where they left, in the order sent
    // A copy left where the device can have it: through the interface it asked on (any, where
    // that is not known), or to its relay agent.
    bool reachedDevice = false;
    std::uint32_t relay = 0;   // the relay agent it went to; 0 for a broadcast
    std::uint32_t source = 0;  // the address it left from toward the relay
    std::string message;  // why a copy did not leave, as the message text says it; or empty
  };

  // Whether an interface can send now: it is up and has an address, so it has its
  // limited-broadcast row; and its name.
  struct LinkState {
    bool up = false;
    std::string name;
  };

  ReplySender(SocketApi& sockets, RouteSource& routes);

  // The interfaces a reply leaves through now: each interface's limited-broadcast row, as
  // `doctor` shows them too.
  Routes QueryRoutes() const;
  // The interface's name, asked for once and kept: asking the system takes longer than a send.
  const std::string& NameOf(const Interface& route);
  // Safe from any thread; none when the routes cannot be read.
  std::optional<LinkState> LinkStateOf(int index) const;
  // `deviceInterface`: where the request came in, 0 when not known.
  Outcome Send(SocketHandle socket, const Routes& routes, std::span<const std::uint8_t> reply,
               std::uint8_t messageType, int deviceInterface);

 private:
  Outcome Broadcast(SocketHandle socket, const Routes& routes,
                    std::span<const std::uint8_t> reply, std::uint8_t messageType,
                    int deviceInterface);
  Outcome ToRelay(SocketHandle socket, const Routes& routes, std::span<const std::uint8_t> reply,
                  std::uint8_t messageType, std::uint32_t relay);

  SocketApi& m_sockets;
  RouteSource& m_routes;
  std::unordered_map<std::uint64_t, std::string> m_names;  // by index and address
};

}  // namespace quillnet
