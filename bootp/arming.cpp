#include "bootp/arming.h"

namespace quillnet {

bool Arming::Arm(DeviceKey key, const Assignment& addresses) {
  if (IsArmed()) return false;
  m_phase = Phase::kWaiting;
  ++m_generation;
  m_key = key;
  m_addresses = addresses;
  // A caller that looks after this arming must not see the previous answer's result.
  m_replySent = false;
  m_verdict = Verdict::kNone;
  return true;
}

bool Arming::Disarm() {
  const bool wasArmed = IsArmed();
  m_phase = Phase::kIdle;
  return wasArmed;
}

void Arming::Rows(DeviceKey key, PolicyRows& rows) const {
  if (key != m_key) return;
  switch (m_phase) {
    case Phase::kIdle:
      return;
    case Phase::kWaiting:
    case Phase::kQueued:
    case Phase::kServing:
      rows.armed = &m_addresses;
      rows.firstAnswer = m_phase == Phase::kWaiting;
      return;
    case Phase::kRefused:
      rows.watched = &m_addresses;
      return;
  }
}

Arming::Answer Arming::Answered(bool final, bool early) {
  if (!final) return Answer::kStep;
  // The answer at arming leaves the arming waiting: it may have come too late for the device,
  // whose next request is then the one that counts.
  if (early) return Answer::kEarly;
  if (m_phase != Phase::kWaiting) return Answer::kAgain;
  // Once decided, the answer goes out even if Disarm comes before it is sent.
  m_phase = Phase::kQueued;
  return Answer::kFirst;
}

void Arming::Sent(std::uint64_t arming, Answer answer, bool ack, bool reachedDevice) {
  // A new arming made while the answer waited is for a new answer.
  if (arming != m_generation || answer == Answer::kStep) return;
  m_replySent = reachedDevice;
  if (answer == Answer::kFirst && m_phase == Phase::kQueued) m_phase = Phase::kServing;
  if (ack && reachedDevice && m_verdict == Verdict::kNone) m_verdict = Verdict::kAccepted;
}

void Arming::Declined() {
  if (m_phase == Phase::kIdle) return;
  m_phase = Phase::kRefused;
  m_verdict = Verdict::kDeclined;
}

void Arming::TookOtherServer() {
  if (m_phase == Phase::kIdle) return;
  m_phase = Phase::kRefused;
  m_verdict = Verdict::kOtherServer;
}

}  // namespace quillnet
