#pragma once

#include <cstdint>

// What this process may do on the network by itself, without quillnet-net-helper.
namespace quillnet {

// Whether this process may bind a port below 1024: its effective capabilities hold
// cap_net_bind_service (root has it), or the system lets everyone bind `port`.
bool MayBindPort(std::uint16_t port);

// Whether this process may send ARP probes itself: on Linux, its effective capabilities hold
// cap_net_raw (root has it) for the raw packet socket.
bool ProcessHasRawCapability();

}  // namespace quillnet
