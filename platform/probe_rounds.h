#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "platform/neighbour_check.h"

// What every neighbour check shares, whichever way its system asks: when a probe asks and
// ends, which answer counts, and how it says it could not ask.
namespace quillnet {

inline constexpr char kNoEchoText[] =
    "ICMP echo requests, which reach a device behind a router, cannot be sent on this system";

// The rounds of one probe, from its start: one at once and then every interval (none after
// the first when the interval is not positive), until the duration passes or cancel is set.
class ProbeRounds {
 public:
  // Starts now; the request must outlive the rounds.
  explicit ProbeRounds(const ProbeRequest& request);

  // The duration has passed, or cancel is set.
  bool Over() const;
  // Whether a round is due; each time it is, the next one is planned. A late round does not
  // make up for the ones missed: at most one round per interval.
  bool RoundDue();
  // How long to wait for an answer before looking again: until the next round, the end, or
  // the next look at cancel, whichever comes first.
  std::chrono::milliseconds Wait() const;

 private:
  using Clock = std::chrono::steady_clock;
  const ProbeRequest& m_request;
  const Clock::time_point m_deadline;
  Clock::time_point m_next;
};

ProbeResult ProbeAnswered(DeviceKey holder);
ProbeResult ProbeFailed(int error, std::string reason,
                        ProbeOutcome outcome = ProbeOutcome::kNotPossible);

// Whether `holder`, which said it holds the address, ends the probe: not one of this PC's own
// MAC addresses on the asked interfaces (this PC answering for an address of its own, heard on
// another of its interfaces on the same network, is not a device holding it), and taken by
// the request's `accept`.
bool HolderCounts(const ProbeRequest& request, DeviceKey holder,
                  const std::vector<DeviceKey>& ownMacs);

// The first of the failures met while asking on several interfaces: what a probe that could
// ask on none of them says.
struct FirstFailure {
  int error = 0;
  std::string reason;
  void Note(int code, std::string text);
  ProbeResult Result() const { return ProbeFailed(error, reason); }
};

}  // namespace quillnet
