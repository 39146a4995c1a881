#pragma once

#include "platform/linux/packet_socket.h"
#include "platform/neighbour_check.h"

namespace quillnet {

// Linux's neighbour check. By ARP: RFC 5227 probes for the address go out of each interface on
// a packet socket, and an ARP request or reply from the address that arrives on one of them
// names its holder. By echo: ICMP echo requests, and the first reply from the address. Refused
// either socket, it has quillnet-net-helper ask instead; when the helper cannot, the reason
// says why and how to fix it.
class PacketNeighbourCheck final : public NeighbourCheck {
 public:
  explicit PacketNeighbourCheck(PacketSocketApi& sockets) : m_sockets(sockets) {}

 protected:
  ProbeResult WhoAnswers(const ProbeRequest& request) override;
  ProbeResult AnswersEcho(const ProbeRequest& request) override;

 private:
  PacketSocketApi& m_sockets;
};

}  // namespace quillnet
