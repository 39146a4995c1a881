#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/assignment_timing.h"
#include "app/keep_runner.h"
#include "bootp/bootp_server.h"
#include "record/commissioning_record.h"

namespace quillnet {

class AddressProber;
struct ProbeResult;

// One assignment of addresses to one device, as the wizard's Assign IP page and
// `quillnet-cli assign` make it: the server is armed for the device, its answers and the
// device's own word (a DHCP decline, another server's offer taken) are taken in the order they
// happened, and after each answer the network is asked, for a window of time, whether the
// device answers at its new address. The front ends only show what Poll reports.
//
// How it ends, for each kind of device:
// - it takes the reply and answers ARP there (ICMP echo when it asked through a relay agent:
//   ARP does not pass the router): kConfirmed;
// - it takes the reply and stays silent (a BOOTP device that configures nothing): kNotConfirmed
//   when the window has passed since the last answer;
// - it asks again (it rebooted, or an answer at once came too late for it): it is answered
//   again with the same addresses and the window starts anew; after kMaxAnswers answers it is
//   taken as a device that does not keep its address (kAskedTooOften);
// - it declines the address, or takes another DHCP server's offer: kDeclined, kOtherServer;
// - a reply does not leave through the interface it asked on: kNotSent;
// - it never asks: the session waits; the front end decides how long (the user, --timeout).
// Once confirmed, a device may be told to keep its address (EtherNet/IP), when the user asked
// for it: only then, only at the address just given and confirmed, through the interface it
// was heard on (routed, behind a relay agent). The session ends when the device has said
// whether it keeps it (kKept), within the exchange's own limits.
// Meanwhile the interface the device was heard on is watched: when it can no longer reach the
// device (its link went down, or it lost its address), kLinkDown says so at once, and kLinkUp
// when it is back; a check under way then starts its window anew, since the device could not
// be asked while the link was gone.
// The session keeps the server armed until it ends, or until it is destroyed.
class AssignmentSession {
 public:
  // Answers to one arming past this many mean a device that does not keep its address.
  static constexpr int kMaxAnswers = 8;

  struct Settings {
    // After each answer, how long to ask whether the device answers at its address; 0: the
    // first answer ends the session unchecked.
    std::chrono::milliseconds checkWindow = timing::kCheckWindow;
    // How often it is asked within the window.
    std::chrono::milliseconds checkInterval = timing::kCheckInterval;
    // The interfaces to ask on when the device was heard on none the server knows.
    std::function<std::vector<int>()> fallbackInterfaces;
    // How often the link toward the device is looked at.
    std::chrono::milliseconds linkCheckInterval{500};
    // This PC's adapters. With them, addresses armed for a device whose network is not known
    // yet (it was not heard) are checked again against the network it asks on, and what that
    // check adds is said (kWarning) before the first answer that reaches it.
    AdapterSource* adapters = nullptr;
    // Arms the server with the addresses Arm is given; empty: BootPServer::Arm. The wizard
    // arms through its shared state.
    std::function<bool()> armServer;
    // The user asked that the device keep its address once it is confirmed.
    bool keepAddress = false;
    // How that is asked; empty: enip::KeepAddress over this system's TCP.
    KeepRunner::Keep keep;
  };

  enum class EventKind {
    kSent,           // a reply (offer, nak, ack or BOOTP reply) reached the device: `reply`
    kAccepted,       // its first ack: the device said itself that it took the address
    kNotSent,        // ends: a reply did not leave where the device asked; `text` says why
    kDeclined,       // ends: the device reports the address as in use by another device
    kOtherServer,    // ends: it took another DHCP server's offer; `text` names the server
    kConfirmed,      // ends, unless it is to keep its address: it answers at its address
    kKeeping,        // it is being told to keep its address
    kKept,           // ends: what telling it came to (KeepResult); `text` says it
    kNotConfirmed,   // ends: the window passed without that answer
    kCannotCheck,    // ends: the network cannot be asked; `text` says why
    kCheckBrokeOff,  // ends: the check started but could not finish; `text` says why
    kAskedTooOften,  // ends: it asked again after each of kMaxAnswers answers; `text`
    kLinkDown,       // the interface toward the device cannot reach it; `text` names it
    kLinkUp,         // it can again; `text` names it
    kWarning,        // advice on the addresses, for the network the device asked on: `text`
  };
  struct Event {
    EventKind kind = EventKind::kSent;
    BootPServer::ReplyRecord reply;  // kSent, kAccepted
    std::string text;
    std::int64_t time = 0;  // seconds since 1970: when a link event was seen
  };

  AssignmentSession(BootPServer& server, AddressProber& prober, Settings settings);
  // Ends the session: disarms the server, drops the check under way.
  ~AssignmentSession();

  AssignmentSession(const AssignmentSession&) = delete;
  AssignmentSession& operator=(const AssignmentSession&) = delete;

  // Arms the server for the device; false when it cannot be armed (armed already, or a text
  // does not read as an address), and nothing is sent.
  bool Arm(const std::string& macText, const std::string& ipAddress,
           const std::string& subnetMask, const std::string& defaultGateway);
  // Appends to `events` what happened since the last call, in the order it happened.
  void Poll(std::vector<Event>& events);
  // Stops answering (the server is disarmed) without ending the session, then takes what went
  // out meanwhile: a request taken just before still has its answer, which is checked as any.
  void StopWaiting(std::chrono::milliseconds limit, std::vector<Event>& events);
  // Disarms the server and drops the check; no event follows.
  void End();

  bool Ended() const { return m_ended; }
  // The device answered at its new address.
  bool Confirmed() const { return m_end == EventKind::kConfirmed; }
  const std::string& MacText() const { return m_macText; }
  // A final answer (BOOTP reply or ack) reached the device.
  bool Answered() const { return m_answers > 0; }
  // The device accepted the address with its ack.
  bool Accepted() const { return m_accepted; }
  // A DHCP offer reached the device.
  bool Offered() const { return m_offered; }
  // What telling the device to keep its address came to; none while it was not told, or has
  // not answered.
  const std::optional<enip::MethodResult>& KeepResult() const { return m_keepResult; }

  // The assignment as the commissioning record keeps it, `program` having made it: what it
  // came to (an assignment ended before it came to anything was cancelled), BOOTP or DHCP,
  // the interface or relay agent, the keep outcome. The maker is the caller's to add.
  CommissioningEntry RecordEntry(const std::string& program) const;

 private:
  struct Inbox;
  void Take(const BootPServer::ReplyRecord& reply, std::vector<Event>& events);
  // Checks the addresses against the network the device asked on, once it is known.
  void Recheck(const BootPServer::ReplyRecord& reply, std::vector<Event>& events);
  void Take(const BootPServer::DeclineRecord& decline, std::vector<Event>& events);
  void TakeProbe(std::uint64_t generation, const ProbeResult& result, std::vector<Event>& events);
  void StartCheck();
  void WatchLink(std::vector<Event>& events);
  void Finish(EventKind kind, std::string text, std::vector<Event>& events);
  // Disarms the server and drops the check.
  void StopAnswering();
  // After the confirmation: tells the device to keep its address.
  void StartKeeping(std::vector<Event>& events);

  BootPServer& m_server;
  AddressProber& m_prober;
  const Settings m_settings;
  std::shared_ptr<Inbox> m_inbox;
  std::string m_macText;
  DeviceKey m_device = 0;
  std::string m_ipAddress;
  std::string m_subnetMask;
  std::string m_defaultGateway;
  // The device's network was not known at arming: its first answer tells it. The warnings the
  // check gave then, against all of this PC's networks, were said already.
  bool m_recheck = false;
  std::vector<std::string> m_warningsAtArming;
  bool m_armed = false;
  bool m_ended = false;
  int m_answers = 0;
  bool m_accepted = false;
  bool m_offered = false;
  bool m_checking = false;
  // The latest answer was the answer at once: without a way to check, the window still shows
  // whether the device asks again.
  bool m_lastEarly = false;
  // The relay agent the latest answer went to; "" when it was broadcast.
  std::string m_lastRelay;
  std::chrono::steady_clock::time_point m_windowEnd;
  std::uint64_t m_probeGeneration = 0;
  std::string m_cannotCheck;
  bool m_linkDown = false;
  std::string m_linkName;
  // What ended the session, for the record; none while it runs or when the caller ended it.
  std::optional<EventKind> m_end;
  // The type of the last reply that reached the device.
  std::uint8_t m_lastType = 0;
  bool m_anyReply = false;
  std::unique_ptr<KeepRunner> m_keeper;
  std::optional<enip::MethodResult> m_keepResult;
  std::chrono::steady_clock::time_point m_nextLinkCheck;
};

}  // namespace quillnet
