#pragma once

#include <cstdint>

#include "bootp/answer_policy.h"
#include "wire/message.h"

namespace quillnet {

// The server's arming for one device, from Arm to Disarm: whether the device's requests are
// answered, whether the answer that the arming waits for is still to come, and what the device
// said of its address. Pure: no sockets, threads or clock. The server feeds it the events as
// they happen, under its own lock, and gives the answer policy what it holds.
//
// The phases:
//   idle       not armed (at first, and after Disarm): the device is only recorded;
//   waiting    armed: the next final answer (a BOOTP reply or an ack) is the arming's own;
//   queued     that answer is decided and waits for its send; it still counts as armed, so
//              that nobody arms anew before it has gone out;
//   serving    the answer went out; the device's further requests are answered again with
//              the same addresses (it rebooted, or the answer came too late for it);
//   refused    the device declined the address, or took another server's offer: nothing more
//              is answered, but a later decline still counts.
class Arming {
 public:
  // What the device itself said of its address, in DHCP.
  enum class Verdict {
    kNone,      // nothing (yet), or the device speaks BOOTP
    kAccepted,  // an ack for the address reached the interface it asked on
    kDeclined,  // it declined the address, also after the ack
    kOtherServer,  // it took another DHCP server's offer
  };
  // How an answer to the armed device counts.
  enum class Answer {
    kFirst,  // the final answer the arming waits for
    kEarly,  // the answer at once, at arming, to the request the device made before it
    kStep,   // an offer or a nak: the device has still to ask for its address
    kAgain,  // a final answer after the first: the device asked again
  };

  // False, changing nothing, while armed (waiting or queued). A new arming forgets what the
  // last one came to.
  bool Arm(DeviceKey key, const Assignment& addresses);
  // Whether it was armed. A decided answer still goes out (see Sent).
  bool Disarm();

  // What the policy is given of the device `key`: the armed assignment while its requests are
  // answered, the watched one once it refused, nothing for another device or when idle.
  void Rows(DeviceKey key, PolicyRows& rows) const;
  // The policy answered the armed device: `final` for a BOOTP reply or an ack, `early` for
  // the answer at arming. How the answer counts; a first answer ends the waiting.
  Answer Answered(bool final, bool early);
  // An answer to the arming `arming` went out, or failed; `reachedDevice`: a copy left where
  // the device can have it. Answers to an earlier arming, and steps, change nothing.
  void Sent(std::uint64_t arming, Answer answer, bool ack, bool reachedDevice);
  // The armed device declined the address, or took another server's offer.
  void Declined();
  void TookOtherServer();

  bool IsArmed() const { return m_phase == Phase::kWaiting || m_phase == Phase::kQueued; }
  // Counts the armings; 0 before the first.
  std::uint64_t Generation() const { return m_generation; }
  // Whether the last answer to this arming left through the interface the device asked on.
  bool ReplySent() const { return m_replySent; }
  Verdict GetVerdict() const { return m_verdict; }
  // The device and addresses of the last arming.
  DeviceKey Key() const { return m_key; }
  const Assignment& Addresses() const { return m_addresses; }

 private:
  enum class Phase { kIdle, kWaiting, kQueued, kServing, kRefused };

  Phase m_phase = Phase::kIdle;
  std::uint64_t m_generation = 0;
  DeviceKey m_key = 0;
  Assignment m_addresses;
  bool m_replySent = false;
  Verdict m_verdict = Verdict::kNone;
};

}  // namespace quillnet
