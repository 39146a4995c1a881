#pragma once

#include <chrono>

// How long the checks of an assignment take, for the wizard and `quillnet-cli` alike.
namespace quillnet::timing {

// How long after a reply the device is asked whether it answers at its address, while it may
// still ask again. A client that did not take the reply asks again within its retry interval:
// bootpc waits 4, 8, 14, then 21 s between its tries, and ISC dhclient backs off to at most
// 15 s randomised by up to half, so 22.5 s. 30 s covers both with room to spare, so a device
// that has not asked again by then took the reply; and it still ends the wizard's page while
// the user watches it. `assign --confirm` sets its own.
inline constexpr std::chrono::milliseconds kCheckWindow{30000};
// How often the device is asked through the window: it may take seconds to set up its address.
inline constexpr std::chrono::milliseconds kCheckInterval{500};

// The look for another holder of an address before it is given is short, so that the Set IP
// page answers at once and `assign` starts waiting at once: a holder answers a probe within
// milliseconds.
inline constexpr std::chrono::milliseconds kInUseProbe{300};
inline constexpr std::chrono::milliseconds kInUseProbeInterval{100};

// A DHCP client checks the address it was acked before it uses it (RFC 2131 section 4.4.1; the
// RFC 5227 probes take up to 7 seconds) and declines it when another device answers there.
// Until this has passed since its ack, a DHCP device's answer may still be undone.
inline constexpr std::chrono::milliseconds kDeclineWindow{10000};

}  // namespace quillnet::timing
