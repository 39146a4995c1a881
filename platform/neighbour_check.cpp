#include "platform/neighbour_check.h"

#include "platform/probe_rounds.h"

namespace quillnet {
namespace {

constexpr char kNoInterfaceText[] = "no interface to send ARP probes on";

}  // namespace

ProbeResult NeighbourCheck::Probe(const ProbeRequest& request) {
  if (request.echo) return AnswersEcho(request);
  if (request.interfaces.empty()) return ProbeFailed(0, kNoInterfaceText);
  return WhoAnswers(request);
}

}  // namespace quillnet
