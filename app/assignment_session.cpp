#include "app/assignment_session.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <variant>

#include "app/address_prober.h"
#include "app/commissioning.h"
#include "app/device_probes.h"
#include "bootp/adapter_query.h"
#include "platform/ipv4_text.h"
#include "platform/local_time.h"

namespace quillnet {

// What the server's threads and the prober's thread hand over, in the order it happened. The
// handlers hold it by a shared pointer: one may still run after the session is gone.
struct AssignmentSession::Inbox {
  struct ProbeDone {
    std::uint64_t generation = 0;
    ProbeResult result;
  };
  using Item = std::variant<BootPServer::ReplyRecord, BootPServer::DeclineRecord, ProbeDone>;

  std::mutex mutex;
  std::uint64_t arming = 0;  // the arming whose records count
  std::vector<Item> items;

  void Put(Item item) {
    std::lock_guard lock(mutex);
    items.push_back(std::move(item));
  }
  std::vector<Item> TakeAll() {
    std::lock_guard lock(mutex);
    return std::exchange(items, {});
  }
};

AssignmentSession::AssignmentSession(BootPServer& server, AddressProber& prober,
                                     Settings settings)
    : m_server(server),
      m_prober(prober),
      m_settings(std::move(settings)),
      m_inbox(std::make_shared<Inbox>()) {}

AssignmentSession::~AssignmentSession() {
  End();
  m_server.SetAnswerHandler({});
  m_server.SetDeclineHandler({});
}

bool AssignmentSession::Arm(const std::string& macText, const std::string& ipAddress,
                            const std::string& subnetMask, const std::string& defaultGateway) {
  m_macText = macText;
  m_device = ParseMacKey(macText);
  m_ipAddress = ipAddress;
  m_subnetMask = subnetMask;
  m_defaultGateway = defaultGateway;
  if (m_settings.adapters != nullptr) {
    const DeviceNetwork where = LocateDevice(&m_server, m_device, *m_settings.adapters);
    m_recheck = !where.network.has_value();
    if (m_recheck) {
      m_warningsAtArming =
          CheckDeviceAddresses(ipAddress, subnetMask, defaultGateway, where).warnings;
    }
  }
  {
    // Only this session arms while it lives, so the next arming is its own; the handlers are
    // in place before it, as an answer at once may go out before Arm returns.
    std::lock_guard lock(m_inbox->mutex);
    m_inbox->arming = m_server.GetArming() + 1;
  }
  m_server.SetAnswerHandler([inbox = m_inbox](const BootPServer::ReplyRecord& reply) {
    if (!reply.armed) return;
    std::lock_guard lock(inbox->mutex);
    if (reply.arming == inbox->arming) inbox->items.emplace_back(reply);
  });
  m_server.SetDeclineHandler([inbox = m_inbox](const BootPServer::DeclineRecord& decline) {
    if (!decline.armed) return;
    std::lock_guard lock(inbox->mutex);
    if (decline.arming == inbox->arming) inbox->items.emplace_back(decline);
  });
  m_armed = m_settings.armServer ? m_settings.armServer()
                                 : m_server.Arm(macText, ipAddress, subnetMask, defaultGateway);
  if (!m_armed) m_ended = true;
  return m_armed;
}

void AssignmentSession::Poll(std::vector<Event>& events) {
  if (m_keeper) {
    // The assignment is over; only the device's word on keeping its address is awaited.
    if (std::optional<enip::MethodResult> result = m_keeper->Result()) {
      m_keepResult = std::move(result);
      events.push_back({EventKind::kKept, {}, m_keepResult->text});
      End();
    }
    return;
  }
  for (Inbox::Item& item : m_inbox->TakeAll()) {
    if (m_ended) break;
    if (const auto* reply = std::get_if<BootPServer::ReplyRecord>(&item)) {
      Take(*reply, events);
    } else if (const auto* decline = std::get_if<BootPServer::DeclineRecord>(&item)) {
      Take(*decline, events);
    } else {
      const auto& done = std::get<Inbox::ProbeDone>(item);
      TakeProbe(done.generation, done.result, events);
    }
  }
  if (!m_ended) WatchLink(events);
  if (m_ended || !m_checking || std::chrono::steady_clock::now() < m_windowEnd) return;
  // The window passed without another request: the device kept the reply, and has not
  // answered at its address (yet).
  if (!m_cannotCheck.empty()) {
    Finish(EventKind::kCannotCheck, m_cannotCheck, events);
  } else {
    Finish(EventKind::kNotConfirmed, {}, events);
  }
}

void AssignmentSession::StopWaiting(std::chrono::milliseconds limit, std::vector<Event>& events) {
  m_server.Disarm();
  m_server.WaitForReplies(limit);
  Poll(events);
}

void AssignmentSession::End() {
  StopAnswering();
  m_ended = true;
  if (m_keeper) {
    // An exchange under way is cancelled; what it came to, cancelled or done before the
    // cancel, is the assignment's.
    if (std::optional<enip::MethodResult> result = m_keeper->Stop(); result && !m_keepResult) {
      m_keepResult = std::move(result);
    }
    m_keeper.reset();
  }
}

void AssignmentSession::StopAnswering() {
  if (m_armed) m_server.Disarm();
  m_armed = false;
  m_checking = false;
  m_prober.Cancel();
}

void AssignmentSession::Take(const BootPServer::ReplyRecord& reply, std::vector<Event>& events) {
  if (!reply.reachedDevice) {
    // An answer at once that missed is no verdict: the device asks again, and the answer to
    // that request decides.
    if (reply.early) return;
    Finish(EventKind::kNotSent,
           reply.failure.empty() ? "no interface sent it" : reply.failure, events);
    return;
  }
  Recheck(reply, events);
  m_lastType = reply.messageType;
  m_anyReply = true;
  events.push_back({EventKind::kSent, reply, {}});
  if (reply.messageType == kDhcpOffer) m_offered = true;
  if (!reply.final) return;
  if (reply.messageType == kDhcpAck && !m_accepted) {
    m_accepted = true;
    events.push_back({EventKind::kAccepted, reply, {}});
  }
  if (++m_answers > kMaxAnswers) {
    Finish(EventKind::kAskedTooOften,
           m_macText + " asked again after each of " + std::to_string(kMaxAnswers) +
               " replies with " + m_ipAddress +
               ": it does not keep the address. Check the device, then try again.",
           events);
    return;
  }
  if (m_settings.checkWindow.count() <= 0) {
    // Unchecked: the answer is the end.
    End();
    return;
  }
  m_lastEarly = reply.early;
  m_lastRelay = reply.relay;
  StartCheck();
}

void AssignmentSession::Recheck(const BootPServer::ReplyRecord& reply,
                                std::vector<Event>& events) {
  if (!m_recheck || m_settings.adapters == nullptr) return;
  m_recheck = false;
  const DeviceNetwork where =
      LocateDevice(reply.heardInterface, reply.relay, *m_settings.adapters);
  for (std::string& warning :
       CheckDeviceAddresses(m_ipAddress, m_subnetMask, m_defaultGateway, where).warnings) {
    if (std::find(m_warningsAtArming.begin(), m_warningsAtArming.end(), warning) ==
        m_warningsAtArming.end()) {
      events.push_back({EventKind::kWarning, {}, std::move(warning)});
    }
  }
}

void AssignmentSession::Take(const BootPServer::DeclineRecord& decline,
                             std::vector<Event>& events) {
  if (decline.otherServer.empty()) {
    Finish(EventKind::kDeclined, {}, events);
    return;
  }
  std::string text;
  m_server.GetMessageText(text);
  Finish(EventKind::kOtherServer, text, events);
}

void AssignmentSession::TakeProbe(std::uint64_t generation, const ProbeResult& result,
                                  std::vector<Event>& events) {
  if (generation != m_probeGeneration || !m_checking) return;
  const std::string& reason = result.reason;
  switch (result.outcome) {
    case ProbeOutcome::kAnswered:
      Finish(EventKind::kConfirmed, {}, events);
      return;
    case ProbeOutcome::kNotPossible:
      m_cannotCheck = reason;
      // After an answer at once the window still tells whether the device asks again;
      // otherwise the answer counts, unchecked.
      if (!m_lastEarly) Finish(EventKind::kCannotCheck, reason, events);
      return;
    case ProbeOutcome::kBrokeOff:
      Finish(EventKind::kCheckBrokeOff, reason, events);
      return;
    case ProbeOutcome::kSilent:
      // The window ends in Poll.
      return;
  }
}

void AssignmentSession::StartCheck() {
  m_checking = true;
  m_cannotCheck.clear();
  m_windowEnd = std::chrono::steady_clock::now() + m_settings.checkWindow;
  std::uint32_t ip = 0;
  ReadIpv4Text(m_ipAddress, ip);
  DeviceNetwork where;
  where.interfaces = m_server.GetHeardInterfaces(m_device);
  where.relay = m_lastRelay;
  // One probe through the whole window; a new answer replaces the probe under way.
  ProbeRequest request =
      BuildProbe(ProbePurpose::kConfirm, ip, m_device, where, m_settings.fallbackInterfaces,
                 m_settings.checkWindow, m_settings.checkInterval);
  m_probeGeneration = m_prober.Start(
      std::move(request), [inbox = m_inbox](std::uint64_t generation, const ProbeResult& result) {
        inbox->Put(Inbox::ProbeDone{generation, result});
      });
}

void AssignmentSession::WatchLink(std::vector<Event>& events) {
  const auto now = std::chrono::steady_clock::now();
  if (now < m_nextLinkCheck) return;
  m_nextLinkCheck = now + m_settings.linkCheckInterval;
  // A relay agent's device is reached through a router, whose own link is not ours to watch.
  if (!m_server.GetRelayOf(m_device).empty()) return;
  const std::vector<int> heard = m_server.GetHeardInterfaces(m_device);
  if (heard.empty()) return;
  const std::optional<ReplySender::LinkState> state = m_server.GetLinkState(heard.front());
  if (!state || state->up != m_linkDown) return;
  m_linkDown = !state->up;
  m_linkName = state->name;
  events.push_back({m_linkDown ? EventKind::kLinkDown : EventKind::kLinkUp, {}, m_linkName,
                    CurrentUnixTime()});
  // The device could not be asked while the link was gone: it gets its whole window.
  if (!m_linkDown && m_checking) StartCheck();
}

void AssignmentSession::Finish(EventKind kind, std::string text, std::vector<Event>& events) {
  m_end = kind;
  events.push_back({kind, {}, std::move(text)});
  if (kind == EventKind::kConfirmed && m_settings.keepAddress) {
    StartKeeping(events);
    return;
  }
  End();
}

void AssignmentSession::StartKeeping(std::vector<Event>& events) {
  // Nothing more is answered or asked; the session goes on only for the device's word.
  StopAnswering();
  std::uint32_t ip = 0;
  ReadIpv4Text(m_ipAddress, ip);
  DeviceNetwork where;
  where.interfaces = m_server.GetHeardInterfaces(m_device);
  where.relay = m_lastRelay;
  const enip::Target target = KeepTarget(
      ip, where, m_settings.adapters != nullptr ? *m_settings.adapters : SystemAdapterSource());
  m_keeper = std::make_unique<KeepRunner>(m_settings.keep);
  m_keeper->Start(target);
  events.push_back({EventKind::kKeeping, {}, {}});
}

CommissioningEntry AssignmentSession::RecordEntry(const std::string& program) const {
  AssignmentFacts facts;
  facts.mac = m_macText;
  facts.ip = m_ipAddress;
  facts.mask = m_subnetMask;
  facts.gateway = m_defaultGateway;
  if (m_anyReply) facts.replyType = m_lastType;
  const std::vector<int> heard = m_server.GetHeardInterfaces(m_device);
  facts.via = RecordedVia(m_server, m_lastRelay, heard.empty() ? 0 : heard.front());
  facts.result = Answered() ? AssignmentResult::kNotConfirmed : AssignmentResult::kCancelled;
  if (m_end) {
    switch (*m_end) {
      case EventKind::kConfirmed:
        facts.result = AssignmentResult::kConfirmed;
        break;
      case EventKind::kDeclined:
        facts.result = AssignmentResult::kDeclined;
        break;
      case EventKind::kOtherServer:
        facts.result = AssignmentResult::kAnotherServer;
        break;
      case EventKind::kNotSent:
        facts.result = AssignmentResult::kNotSent;
        break;
      default:
        facts.result = AssignmentResult::kNotConfirmed;
        break;
    }
  }
  facts.keepAsked = m_settings.keepAddress;
  if (m_keepResult) facts.keep = m_keepResult->outcome;
  return AssignmentEntry(program, facts);
}

}  // namespace quillnet
