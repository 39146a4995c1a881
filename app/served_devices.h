#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "app/assignment_timing.h"
#include "app/commissioning.h"
#include "app/keep_runner.h"
#include "platform/neighbour_check.h"
#include "bootp/bootp_server.h"

namespace quillnet {

class AdapterSource;
class VendorLoader;

// What becomes of each device that `quillnet-cli serve` answers from its hosts file, decided
// here so that the CLI only says it. A device's round starts with its final answer (a BOOTP
// reply or an ack) and ends with its outcome:
// - without keep, at once for a BOOTP reply, and for an ack once kDeclineWindow has passed
//   without the device's decline;
// - with keep, once the device has been checked at its address (as a session checks it: ARP on
//   the interface it was heard on, ICMP echo behind a relay agent) and, only when it answers
//   there, been told to keep it (KeepTarget: that address, never a broadcast) and has said what
//   came of that; an ack's round not before kDeclineWindow either.
// A device that asks again during its round is answered again within it; its check goes on. A
// decline ends the round at once: the device is unanswered again, until it asks again. A reply
// that could not reach the device is said in the record once, until one reaches it.
// Each round leaves one line in the commissioning record, written once its outcome is known and
// the makers have been read; Finish writes those of the rounds still open.
// At most Settings::maxChecks devices are checked or told at once, each on a worker thread; the
// others wait their turn, and each check's window starts when it does. Every wait ends: a check
// with its window, the keep exchange within its own limits, and all of them at Finish.
class ServedDevices {
 public:
  static constexpr std::size_t kMaxChecks = 16;
  // How a device is asked whether it answers at its address; by default this system's
  // neighbour check.
  using Probe = std::function<ProbeResult(const ProbeRequest&)>;

  struct Settings {
    // The user asked that each device keep its address once it answers there.
    bool keepAddress = false;
    std::chrono::milliseconds checkWindow = timing::kCheckWindow;
    std::chrono::milliseconds checkInterval = timing::kCheckInterval;
    std::chrono::milliseconds declineWindow = timing::kDeclineWindow;
    std::size_t maxChecks = kMaxChecks;
    // The interfaces to ask on for a device heard on none the server knows.
    std::function<std::vector<int>()> fallbackInterfaces;
    // This PC's adapters, for where the keep exchange leaves from; nullptr: the system's.
    AdapterSource* adapters = nullptr;
    Probe probe;
    // The keep exchange; empty: KeepOverSystemTcp.
    KeepRunner::Keep keep;
    // The record's program column.
    std::string program = "quillnet-cli serve";
    // The record to append to; "": this user's.
    std::string recordPath;
    // The makers the record names; a line waits until they are read. nullptr: none named.
    VendorLoader* vendors = nullptr;
  };

  enum class EventKind {
    kConfirmed,      // the device answers at its address; it is being told to keep it
    kKept,           // what telling it came to: `keep`
    kNotConfirmed,   // the check's window passed without its answer
    kCannotCheck,    // the network could not be asked; `text` says why
    kCheckBrokeOff,  // the check started but could not finish; `text` says why
    kRecorded,       // its line was appended to the record, or `text` says why not
  };
  struct Event {
    EventKind kind = EventKind::kConfirmed;
    std::string mac;
    std::string ip;
    std::string text;
    std::optional<enip::MethodResult> keep;
    std::int64_t time = 0;  // seconds since 1970
  };

  explicit ServedDevices(Settings settings);
  // Ends every check and exchange under way and joins the workers; writes nothing.
  ~ServedDevices();
  ServedDevices(const ServedDevices&) = delete;
  ServedDevices& operator=(const ServedDevices&) = delete;

  // From the server's answer and decline handlers, on its thread; taken in Poll.
  void Take(const BootPServer::ReplyRecord& reply);
  void Take(const BootPServer::DeclineRecord& decline);
  // Appends to `events` what happened since the last call, in the order it happened, and writes
  // the lines that are due. `server` names the interfaces the devices were heard on.
  void Poll(const BootPServer& server, std::vector<Event>& events);
  // Ends every check and exchange under way, takes what they said, and writes the lines of the
  // rounds still open (the device answered, its outcome not known yet: not confirmed, unless it
  // was), waiting for the makers. Nothing is taken after it.
  void Finish(const BootPServer& server, std::vector<Event>& events);

  // How many devices have the outcome of their latest round, which was no decline.
  std::size_t Settled() const { return m_settled; }
  // "MAC (IP)" of the devices whose latest word was a decline.
  std::vector<std::string> Declined() const;
  // "MAC (IP)" of the devices with a settled round that did not end kept (keep asked only).
  std::vector<std::string> NotKept() const;

 private:
  enum class Stage { kNone, kOpen, kSettled, kDeclined, kNotSent, kEnded };
  struct Device {
    AssignmentFacts facts;
    Stage stage = Stage::kNone;
    std::uint64_t round = 0;
    // Its check or keep exchange is queued or under way.
    bool checking = false;
    bool confirmed = false;
    std::optional<enip::MethodResult> keep;
    // Before this its ack may still be declined.
    std::chrono::steady_clock::time_point declineEnd;
    std::shared_ptr<std::atomic<bool>> cancel;
  };
  // One device's check and, once it answers, its keep exchange.
  struct Job {
    DeviceKey key = 0;
    std::uint64_t round = 0;
    ProbeRequest request;
    enip::Target target;
    std::shared_ptr<std::atomic<bool>> cancel;
  };
  // What a worker found.
  struct Done {
    DeviceKey key = 0;
    std::uint64_t round = 0;
    std::optional<ProbeResult> probe;
    std::optional<enip::MethodResult> keep;
  };
  using Item = std::variant<BootPServer::ReplyRecord, BootPServer::DeclineRecord, Done>;

  void Put(Item item);
  void TakeReply(const BootPServer& server, const BootPServer::ReplyRecord& reply);
  void TakeDecline(const BootPServer::DeclineRecord& decline);
  void TakeDone(const Done& done, std::vector<Event>& events);
  void StartCheck(DeviceKey key, Device& device, const BootPServer::ReplyRecord& reply);
  void SetStage(DeviceKey key, Device& device, Stage stage);
  // Ends the device's round with its line: `result`, with what it said of keeping.
  void Close(DeviceKey key, Device& device, Stage stage, AssignmentResult result);
  void SettleDue();
  void WriteLines(std::vector<Event>& events, bool wait);
  void StopWorkers();
  void Work();

  const Settings m_settings;
  // Main thread only.
  std::map<DeviceKey, Device> m_devices;
  std::set<DeviceKey> m_open;
  std::size_t m_settled = 0;
  std::vector<std::pair<DeviceKey, CommissioningEntry>> m_lines;
  bool m_finished = false;

  // Shared with the server's thread and the workers.
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::vector<Item> m_inbox;
  std::deque<Job> m_jobs;
  std::size_t m_idle = 0;
  bool m_stop = false;
  std::vector<std::thread> m_workers;
};

}  // namespace quillnet
