#include "platform/probe_rounds.h"

#include <algorithm>
#include <utility>

namespace quillnet {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kCancelCheckPeriod{50};

// `from + span`, held at the clock's end instead of overflowing.
Clock::time_point Later(Clock::time_point from, std::chrono::milliseconds span) {
  const auto room = std::chrono::duration_cast<std::chrono::milliseconds>(
      Clock::time_point::max() - from);
  return span < room ? from + span : Clock::time_point::max();
}

}  // namespace

ProbeRounds::ProbeRounds(const ProbeRequest& request)
    : m_request(request), m_deadline(Later(Clock::now(), request.duration)), m_next(Clock::now()) {}

bool ProbeRounds::Over() const {
  return (m_request.cancel != nullptr && m_request.cancel->load()) || Clock::now() >= m_deadline;
}

bool ProbeRounds::RoundDue() {
  const Clock::time_point now = Clock::now();
  if (now < m_next) return false;
  if (m_request.interval.count() <= 0) {
    m_next = Clock::time_point::max();
    return true;
  }
  m_next = Later(m_next, m_request.interval);
  if (m_next <= now) m_next = Later(now, m_request.interval);
  return true;
}

std::chrono::milliseconds ProbeRounds::Wait() const {
  const Clock::time_point now = Clock::now();
  Clock::time_point wake = std::min(m_deadline, Later(now, kCancelCheckPeriod));
  // A round already due is the caller's to make; waiting for it would not wait at all.
  if (m_next > now) wake = std::min(wake, m_next);
  return std::max(std::chrono::ceil<std::chrono::milliseconds>(wake - now),
                  std::chrono::milliseconds(0));
}

ProbeResult ProbeAnswered(DeviceKey holder) {
  ProbeResult result;
  result.outcome = ProbeOutcome::kAnswered;
  result.holder = holder;
  return result;
}

ProbeResult ProbeFailed(int error, std::string reason, ProbeOutcome outcome) {
  ProbeResult result;
  result.outcome = outcome;
  result.error = error;
  result.reason = std::move(reason);
  return result;
}

bool HolderCounts(const ProbeRequest& request, DeviceKey holder,
                  const std::vector<DeviceKey>& ownMacs) {
  if (std::find(ownMacs.begin(), ownMacs.end(), holder) != ownMacs.end()) return false;
  return !request.accept || request.accept(holder);
}

void FirstFailure::Note(int code, std::string text) {
  if (error != 0) return;
  error = code;
  reason = std::move(text);
}

}  // namespace quillnet
