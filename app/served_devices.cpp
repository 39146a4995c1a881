#include "app/served_devices.h"

#include <algorithm>
#include <utility>

#include "app/device_probes.h"
#include "app/vendor_loader.h"
#include "bootp/adapter_query.h"
#include "platform/neighbour_check.h"
#include "platform/ipv4_text.h"
#include "platform/local_time.h"
#include "wire/dhcp.h"

namespace quillnet {
namespace {

using Clock = std::chrono::steady_clock;

std::string RowText(const AssignmentFacts& facts) { return facts.mac + " (" + facts.ip + ")"; }

// What a reply gave the device, for its line; the type of a reply that reached it.
AssignmentFacts FactsOf(const BootPServer& server, const BootPServer::ReplyRecord& reply,
                        bool keepAsked) {
  AssignmentFacts facts;
  facts.mac = reply.macText;
  facts.ip = reply.ipAddress;
  facts.mask = reply.subnetMask;
  facts.gateway = reply.defaultGateway;
  if (reply.reachedDevice) facts.replyType = reply.messageType;
  facts.via = RecordedVia(server, reply.relay, reply.heardInterface);
  facts.keepAsked = keepAsked;
  return facts;
}

}  // namespace

ServedDevices::ServedDevices(Settings settings) : m_settings(std::move(settings)) {}

ServedDevices::~ServedDevices() { StopWorkers(); }

void ServedDevices::Take(const BootPServer::ReplyRecord& reply) { Put(reply); }

void ServedDevices::Take(const BootPServer::DeclineRecord& decline) { Put(decline); }

void ServedDevices::Put(Item item) {
  std::lock_guard lock(m_mutex);
  m_inbox.push_back(std::move(item));
}

void ServedDevices::Poll(const BootPServer& server, std::vector<Event>& events) {
  if (m_finished) return;
  std::vector<Item> items;
  {
    std::lock_guard lock(m_mutex);
    items.swap(m_inbox);
  }
  for (const Item& item : items) {
    if (const auto* reply = std::get_if<BootPServer::ReplyRecord>(&item)) {
      TakeReply(server, *reply);
    } else if (const auto* decline = std::get_if<BootPServer::DeclineRecord>(&item)) {
      TakeDecline(*decline);
    } else {
      TakeDone(std::get<Done>(item), events);
    }
  }
  SettleDue();
  WriteLines(events, false);
}

void ServedDevices::Finish(const BootPServer& server, std::vector<Event>& events) {
  if (m_finished) return;
  // Whatever a check or an exchange said before it was cut short counts.
  StopWorkers();
  Poll(server, events);
  m_finished = true;
  const std::set<DeviceKey> open = m_open;
  for (const DeviceKey key : open) {
    Device& device = m_devices[key];
    Close(key, device, Stage::kEnded,
          device.confirmed ? AssignmentResult::kConfirmed : AssignmentResult::kNotConfirmed);
  }
  WriteLines(events, true);
}

void ServedDevices::TakeReply(const BootPServer& server, const BootPServer::ReplyRecord& reply) {
  const DeviceKey key = ParseMacKey(reply.macText);
  Device& device = m_devices[key];
  if (!reply.reachedDevice) {
    // A round under way goes on: the device may still use what reached it. Otherwise the
    // failure is recorded once, until a reply reaches the device again.
    if (device.stage == Stage::kOpen || device.stage == Stage::kNotSent) return;
    device.facts = FactsOf(server, reply, m_settings.keepAddress);
    device.confirmed = false;
    device.keep.reset();
    Close(key, device, Stage::kNotSent, AssignmentResult::kNotSent);
    return;
  }
  if (device.stage == Stage::kNotSent) SetStage(key, device, Stage::kNone);
  // An offer or a nak is a step on the way; only an answer that gives the address counts.
  if (!reply.final) return;
  const bool ack = reply.messageType == kDhcpAck;
  const Clock::time_point declineEnd = ack ? Clock::now() + m_settings.declineWindow
                                           : Clock::now();
  if (device.stage == Stage::kOpen) {
    // It asked again during its round, and was answered again within it.
    device.facts.replyType = reply.messageType;
    device.declineEnd = std::max(device.declineEnd, declineEnd);
    return;
  }
  device.facts = FactsOf(server, reply, m_settings.keepAddress);
  device.confirmed = false;
  device.keep.reset();
  device.declineEnd = declineEnd;
  ++device.round;
  SetStage(key, device, Stage::kOpen);
  if (m_settings.keepAddress) StartCheck(key, device, reply);
}

void ServedDevices::StartCheck(DeviceKey key, Device& device,
                               const BootPServer::ReplyRecord& reply) {
  Job job;
  job.key = key;
  job.round = device.round;
  std::uint32_t ip = 0;
  ReadIpv4Text(reply.ipAddress, ip);
  // The interface it was heard on, or its relay agent: where it is checked and told.
  DeviceNetwork where;
  if (reply.heardInterface != 0) where.interfaces.push_back(reply.heardInterface);
  where.relay = reply.relay;
  job.request = BuildProbe(ProbePurpose::kConfirm, ip, key, where, m_settings.fallbackInterfaces,
                           m_settings.checkWindow, m_settings.checkInterval);
  job.target = KeepTarget(
      ip, where, m_settings.adapters != nullptr ? *m_settings.adapters : SystemAdapterSource());
  job.cancel = std::make_shared<std::atomic<bool>>(false);
  std::lock_guard lock(m_mutex);
  // Once the run ends, a device answered last goes unchecked.
  if (m_stop) return;
  device.cancel = job.cancel;
  device.checking = true;
  m_jobs.push_back(std::move(job));
  // A worker more while the jobs outnumber the idle ones, up to the bound.
  if (m_jobs.size() > m_idle && m_workers.size() < std::max<std::size_t>(m_settings.maxChecks, 1)) {
    m_workers.emplace_back([this] { Work(); });
  }
  m_wake.notify_one();
}

void ServedDevices::TakeDecline(const BootPServer::DeclineRecord& decline) {
  const DeviceKey key = ParseMacKey(decline.macText);
  const auto found = m_devices.find(key);
  // A decline of an address this run never gave is none of its assignments.
  if (found == m_devices.end() || found->second.round == 0) return;
  Device& device = found->second;
  if (device.stage == Stage::kDeclined || device.stage == Stage::kNotSent) return;
  if (device.cancel) *device.cancel = true;
  device.facts.ip = decline.ipAddress;
  Close(key, device, Stage::kDeclined, AssignmentResult::kDeclined);
}

void ServedDevices::TakeDone(const Done& done, std::vector<Event>& events) {
  const auto found = m_devices.find(done.key);
  if (found == m_devices.end()) return;
  Device& device = found->second;
  // A round that ended meanwhile (a decline) has nothing more to hear.
  if (device.stage != Stage::kOpen || done.round != device.round) return;
  Event event;
  event.mac = device.facts.mac;
  event.ip = device.facts.ip;
  event.time = CurrentUnixTime();
  if (done.keep) {
    device.keep = done.keep;
    device.checking = false;
    event.kind = EventKind::kKept;
    event.text = done.keep->text;
    event.keep = done.keep;
    events.push_back(std::move(event));
    return;
  }
  const ProbeResult& probe = *done.probe;
  switch (probe.outcome) {
    case ProbeOutcome::kAnswered:
      // It is told to keep its address next, by the same worker.
      device.confirmed = true;
      event.kind = EventKind::kConfirmed;
      break;
    case ProbeOutcome::kSilent:
      device.checking = false;
      event.kind = EventKind::kNotConfirmed;
      break;
    case ProbeOutcome::kNotPossible:
      device.checking = false;
      event.kind = EventKind::kCannotCheck;
      event.text = probe.reason;
      break;
    case ProbeOutcome::kBrokeOff:
      device.checking = false;
      event.kind = EventKind::kCheckBrokeOff;
      event.text = probe.reason;
      break;
  }
  events.push_back(std::move(event));
}

void ServedDevices::SetStage(DeviceKey key, Device& device, Stage stage) {
  if (device.stage == Stage::kSettled) --m_settled;
  if (stage == Stage::kSettled) ++m_settled;
  if (stage == Stage::kOpen) {
    m_open.insert(key);
  } else {
    m_open.erase(key);
  }
  device.stage = stage;
}

void ServedDevices::Close(DeviceKey key, Device& device, Stage stage, AssignmentResult result) {
  SetStage(key, device, stage);
  device.checking = false;
  device.cancel.reset();
  AssignmentFacts facts = device.facts;
  facts.result = result;
  if (device.keep) facts.keep = device.keep->outcome;
  m_lines.emplace_back(key, AssignmentEntry(m_settings.program, facts));
}

void ServedDevices::SettleDue() {
  const Clock::time_point now = Clock::now();
  std::vector<DeviceKey> due;
  for (const DeviceKey key : m_open) {
    const Device& device = m_devices[key];
    if (!device.checking && now >= device.declineEnd) due.push_back(key);
  }
  for (const DeviceKey key : due) {
    Device& device = m_devices[key];
    Close(key, device, Stage::kSettled,
          device.confirmed ? AssignmentResult::kConfirmed : AssignmentResult::kNotConfirmed);
  }
}

void ServedDevices::WriteLines(std::vector<Event>& events, bool wait) {
  if (m_lines.empty()) return;
  VendorLoader* const vendors = m_settings.vendors;
  if (vendors != nullptr && !vendors->Loaded()) {
    if (!wait) return;
    vendors->WaitLoaded();
  }
  for (auto& [key, entry] : m_lines) {
    Event event;
    event.kind = EventKind::kRecorded;
    event.mac = entry.mac;
    event.ip = entry.ip;
    event.time = CurrentUnixTime();
    event.text = RecordEntry(std::move(entry), vendors != nullptr ? vendors->Lookup(key)
                                                                  : VendorLookup{},
                             m_settings.recordPath);
    events.push_back(std::move(event));
  }
  m_lines.clear();
}

std::vector<std::string> ServedDevices::Declined() const {
  std::vector<std::string> rows;
  for (const auto& [key, device] : m_devices) {
    if (device.stage == Stage::kDeclined) rows.push_back(RowText(device.facts));
  }
  return rows;
}

std::vector<std::string> ServedDevices::NotKept() const {
  std::vector<std::string> rows;
  if (!m_settings.keepAddress) return rows;
  for (const auto& [key, device] : m_devices) {
    if (device.stage == Stage::kSettled &&
        (!device.keep || device.keep->outcome != enip::MethodOutcome::kDone)) {
      rows.push_back(RowText(device.facts));
    }
  }
  return rows;
}

void ServedDevices::StopWorkers() {
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
    // A job that never started has nothing to say; those under way end at once.
    m_jobs.clear();
    workers.swap(m_workers);
  }
  for (const DeviceKey key : m_open) {
    const auto found = m_devices.find(key);
    if (found != m_devices.end() && found->second.cancel) *found->second.cancel = true;
  }
  m_wake.notify_all();
  for (std::thread& worker : workers) worker.join();
}

void ServedDevices::Work() {
  const Probe probe =
      m_settings.probe ? m_settings.probe
                       : [](const ProbeRequest& request) {
                           return SystemNeighbourCheck().Probe(request);
                         };
  const KeepRunner::Keep keep = m_settings.keep ? m_settings.keep : KeepOverSystemTcp;
  std::unique_lock lock(m_mutex);
  for (;;) {
    ++m_idle;
    m_wake.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
    --m_idle;
    if (m_stop) return;
    Job job = std::move(m_jobs.front());
    m_jobs.pop_front();
    lock.unlock();
    const std::atomic<bool>* cancel = job.cancel.get();
    job.request.cancel = cancel;
    // A device that declined while its check waited is not asked.
    std::optional<ProbeResult> result;
    if (!*cancel) result = probe(job.request);
    // A cut-short check found nothing; an answer that came first still counts.
    if (result && (!*cancel || result->outcome == ProbeOutcome::kAnswered)) {
      Put(Done{job.key, job.round, result, std::nullopt});
      if (result->outcome == ProbeOutcome::kAnswered && !*cancel) {
        Put(Done{job.key, job.round, std::nullopt, keep(job.target, cancel)});
      }
    }
    lock.lock();
  }
}

}  // namespace quillnet
