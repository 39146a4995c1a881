// What becomes of the devices `serve` answers: when each one's outcome is known, what its line in
// the record says, and, with keep, that only a device found at its address is told, at that
// address, with a bounded number of checks at once that all end.
#include "app/served_devices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <set>
#include <thread>

#include "platform/ipv4_text.h"
#include "tests/app/temporary_folder.h"
#include "tests/support/fake_platform.h"
#include "tests/support/requests.h"
#include "wire/dhcp.h"

namespace quillnet {
namespace {

using Kind = ServedDevices::EventKind;
using namespace std::chrono_literals;
using testing::Ip;

constexpr int kInterface = 4;

// The device numbered `n` and its address 192.168.1.(100 + n).
std::string MacOf(int n) { return FormatMacAddress(0x02005E100000 + n); }
std::string IpOf(int n) { return "192.168.1." + std::to_string(100 + n); }

BootPServer::ReplyRecord Reply(int n, std::uint8_t type = kBootpMessage) {
  BootPServer::ReplyRecord reply;
  reply.macText = MacOf(n);
  reply.ipAddress = IpOf(n);
  reply.subnetMask = "255.255.255.0";
  reply.defaultGateway = "0.0.0.0";
  reply.interfaces = 1;
  reply.reachedDevice = true;
  reply.final = type == kBootpMessage || type == kDhcpAck;
  reply.heardInterface = kInterface;
  reply.messageType = type;
  return reply;
}

BootPServer::DeclineRecord Decline(int n) {
  BootPServer::DeclineRecord decline;
  decline.macText = MacOf(n);
  decline.ipAddress = IpOf(n);
  return decline;
}

// A network whose devices answer the check as the test says, each check ending when it is
// cancelled if it is held; and devices that keep whatever they are told.
class Network {
 public:
  // Devices that answer at their address; the others are silent.
  std::set<std::string> answering;
  // Checks wait until released or cancelled.
  bool hold = false;

  ServedDevices::Probe Probe() {
    return [this](const ProbeRequest& request) {
      std::unique_lock lock(m_mutex);
      m_requests.push_back(request);
      ++m_running;
      m_peak = std::max(m_peak, m_running);
      m_changed.notify_all();
      // It ends when cancelled, as the real probe does: the flag is looked at every few ms.
      const auto limit = std::chrono::steady_clock::now() + 10s;
      while (hold && !request.cancel->load() && std::chrono::steady_clock::now() < limit) {
        m_changed.wait_for(lock, 5ms);
      }
      --m_running;
      ProbeResult result;
      if (!request.cancel->load() && answering.count(Ipv4Text(request.ip)) != 0) {
        result.outcome = ProbeOutcome::kAnswered;
        result.holder = 1;
      }
      return result;
    };
  }
  KeepRunner::Keep Keep() {
    return [this](const enip::Target& target, const std::atomic<bool>*) {
      std::lock_guard lock(m_mutex);
      m_told.push_back(target);
      return enip::MethodResult{enip::MethodOutcome::kDone,
                                "The device keeps " + Ipv4Text(target.address) + "."};
    };
  }
  void Release() {
    std::lock_guard lock(m_mutex);
    hold = false;
    m_changed.notify_all();
  }
  bool WaitRunning(std::size_t count) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, 10s, [&] { return m_running == count; });
  }
  bool WaitRequests(std::size_t count) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, 10s, [&] { return m_requests.size() == count; });
  }
  std::vector<ProbeRequest> Requests() {
    std::lock_guard lock(m_mutex);
    return m_requests;
  }
  std::vector<enip::Target> Told() {
    std::lock_guard lock(m_mutex);
    return m_told;
  }
  std::size_t Peak() {
    std::lock_guard lock(m_mutex);
    return m_peak;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<ProbeRequest> m_requests;
  std::vector<enip::Target> m_told;
  std::size_t m_running = 0;
  std::size_t m_peak = 0;
};

class ServedDevicesTest : public ::testing::Test {
 protected:
  ServedDevicesTest() : m_server(m_sockets, m_routes) {
    m_adapters.adapters = {{"eth0", {{"192.168.1.2", "255.255.255.0"}}, "0.0.0.0", kInterface}};
  }

  ServedDevices::Settings Settings(bool keep) {
    ServedDevices::Settings settings;
    settings.keepAddress = keep;
    settings.checkWindow = 5s;
    settings.declineWindow = 300ms;
    settings.maxChecks = 3;
    settings.fallbackInterfaces = [] { return std::vector<int>{7}; };
    settings.adapters = &m_adapters;
    settings.probe = m_network.Probe();
    settings.keep = m_network.Keep();
    settings.recordPath = m_folder.File("commissioning.csv");
    return settings;
  }

  // Polls until `done`, at most 10 s.
  template <typename Condition>
  bool PollUntil(ServedDevices& served, Condition done) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      served.Poll(m_server, m_events);
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }

  std::vector<std::pair<Kind, std::string>> Said() const {
    std::vector<std::pair<Kind, std::string>> said;
    for (const auto& event : m_events) said.emplace_back(event.kind, event.mac);
    return said;
  }

  std::vector<CommissioningEntry> Lines() const {
    return ReadCommissioningRecord(m_folder.File("commissioning.csv")).entries;
  }

  testing::TemporaryFolder m_folder;
  testing::FakeSocketApi m_sockets;
  testing::FakeRouteSource m_routes;
  testing::FakeAdapterSource m_adapters;
  BootPServer m_server;
  Network m_network;
  std::vector<ServedDevices::Event> m_events;
};

// Without keep nothing is checked: a BOOTP reply is its outcome at once; an ack once the
// device has had its time to decline. A decline undoes the answer, and the next answer starts
// a round of its own.
TEST_F(ServedDevicesTest, WithoutKeepAnAnswerCountsOnceItCanNoLongerBeDeclined) {
  ServedDevices served(Settings(false));
  served.Take(Reply(1));
  served.Take(Reply(2, kDhcpOffer));
  served.Take(Reply(2, kDhcpAck));
  served.Poll(m_server, m_events);
  EXPECT_EQ(served.Settled(), 1u);
  served.Take(Decline(2));
  served.Poll(m_server, m_events);
  EXPECT_EQ(served.Declined(), std::vector<std::string>{MacOf(2) + " (" + IpOf(2) + ")"});
  served.Take(Reply(2, kDhcpAck));
  ASSERT_TRUE(PollUntil(served, [&] { return served.Settled() == 2; }));
  EXPECT_TRUE(served.Declined().empty());
  served.Finish(m_server, m_events);

  EXPECT_TRUE(m_network.Requests().empty());
  EXPECT_TRUE(served.NotKept().empty());
  const std::vector<CommissioningEntry> lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].program, "quillnet-cli serve");
  EXPECT_EQ(lines[0].mac, MacOf(1));
  EXPECT_EQ(lines[0].ip, IpOf(1));
  EXPECT_EQ(lines[0].protocol, "BOOTP");
  EXPECT_EQ(lines[0].via, "if4");
  EXPECT_EQ(lines[0].result, "not confirmed");
  EXPECT_EQ(lines[0].keep, "");
  EXPECT_EQ(lines[1].result, "declined");
  EXPECT_EQ(lines[2].protocol, "DHCP");
  EXPECT_EQ(lines[2].result, "not confirmed");
  for (const auto& event : m_events) {
    EXPECT_EQ(event.kind, Kind::kRecorded);
    EXPECT_EQ(event.text, "");
  }
}

// With keep, a device is told only once it answers at its address, at that address, from the
// interface it was heard on; a silent one is never told, and does not count as kept.
TEST_F(ServedDevicesTest, WithKeepOnlyADeviceFoundAtItsAddressIsToldThere) {
  m_network.answering = {IpOf(1)};
  ServedDevices::Settings settings = Settings(true);
  settings.checkWindow = 200ms;
  ServedDevices served(std::move(settings));
  served.Take(Reply(1));
  served.Take(Reply(2));
  ASSERT_TRUE(PollUntil(served, [&] { return served.Settled() == 2; }));
  served.Finish(m_server, m_events);

  std::vector<std::pair<Kind, std::string>> said = Said();
  // The two devices' checks run side by side: each device's own events are in order.
  std::vector<std::pair<Kind, std::string>> first, second;
  std::copy_if(said.begin(), said.end(), std::back_inserter(first),
               [](const auto& event) { return event.second == MacOf(1); });
  std::copy_if(said.begin(), said.end(), std::back_inserter(second),
               [](const auto& event) { return event.second == MacOf(2); });
  EXPECT_EQ(first, (std::vector<std::pair<Kind, std::string>>{
                       {Kind::kConfirmed, MacOf(1)}, {Kind::kKept, MacOf(1)},
                       {Kind::kRecorded, MacOf(1)}}));
  EXPECT_EQ(second, (std::vector<std::pair<Kind, std::string>>{
                        {Kind::kNotConfirmed, MacOf(2)}, {Kind::kRecorded, MacOf(2)}}));

  const std::vector<ProbeRequest> requests = m_network.Requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const ProbeRequest& request : requests) {
    EXPECT_FALSE(request.echo);
    EXPECT_EQ(request.interfaces, std::vector<int>{kInterface});
    // Only the device itself confirms its address.
    const DeviceKey device = ParseMacKey(MacOf(request.ip == Ip(192, 168, 1, 101) ? 1 : 2));
    EXPECT_TRUE(request.accept(device));
    EXPECT_FALSE(request.accept(device + 1));
  }
  const std::vector<enip::Target> told = m_network.Told();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].address, Ip(192, 168, 1, 101));
  EXPECT_EQ(told[0].interfaceIndex, kInterface);
  EXPECT_EQ(told[0].source, Ip(192, 168, 1, 2));

  EXPECT_EQ(served.NotKept(), std::vector<std::string>{MacOf(2) + " (" + IpOf(2) + ")"});
  std::vector<CommissioningEntry> lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  std::sort(lines.begin(), lines.end(),
            [](const auto& a, const auto& b) { return a.mac < b.mac; });
  EXPECT_EQ(lines[0].result, "confirmed");
  EXPECT_EQ(lines[0].keep, "kept");
  EXPECT_EQ(lines[1].result, "not confirmed");
  EXPECT_EQ(lines[1].keep, "not tried");
}

// Behind a relay agent the device is asked with ICMP echo and told through the routes; a
// device heard on no interface is asked on the fallback's; a check that cannot be made is said.
TEST_F(ServedDevicesTest, WhereADeviceIsCheckedAndToldFollowsWhereItWasHeard) {
  m_network.answering = {IpOf(1)};
  ServedDevices served(Settings(true));
  BootPServer::ReplyRecord relayed = Reply(1);
  relayed.relay = "10.9.0.1";
  relayed.heardInterface = 0;
  served.Take(relayed);
  ASSERT_TRUE(PollUntil(served, [&] { return served.Settled() == 1; }));
  served.Finish(m_server, m_events);
  const std::vector<ProbeRequest> requests = m_network.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0].echo);
  const std::vector<enip::Target> told = m_network.Told();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].interfaceIndex, 0);
  EXPECT_EQ(told[0].source, 0u);
  EXPECT_EQ(Lines().at(0).via, "relay agent 10.9.0.1");

  ServedDevices::Settings settings = Settings(true);
  settings.probe = [](const ProbeRequest& request) {
    ProbeResult result;
    result.outcome = ProbeOutcome::kNotPossible;
    result.reason = "no capability on " + std::to_string(request.interfaces.at(0));
    return result;
  };
  ServedDevices unheard(std::move(settings));
  BootPServer::ReplyRecord reply = Reply(2);
  reply.heardInterface = 0;
  unheard.Take(reply);
  m_events.clear();
  ASSERT_TRUE(PollUntil(unheard, [&] { return unheard.Settled() == 1; }));
  ASSERT_FALSE(m_events.empty());
  EXPECT_EQ(m_events[0].kind, Kind::kCannotCheck);
  EXPECT_EQ(m_events[0].text, "no capability on 7");
  EXPECT_EQ(m_network.Told().size(), 1u);
}

// Many devices answered at once are checked a few at a time, and every check ends: a decline
// ends its own at once, Finish all the others, and every device still gets its line.
TEST_F(ServedDevicesTest, ChecksAreBoundedAndAllEnd) {
  m_network.hold = true;
  constexpr int kDevices = 40;
  ServedDevices served(Settings(true));
  for (int n = 1; n <= kDevices; ++n) served.Take(Reply(n, kDhcpAck));
  served.Poll(m_server, m_events);
  ASSERT_TRUE(m_network.WaitRunning(3));
  // The device whose check runs first declines: its check ends, and its line says so.
  const std::string first = Ipv4Text(m_network.Requests().front().ip);
  const int declining = std::stoi(first.substr(first.rfind('.') + 1)) - 100;
  served.Take(Decline(declining));
  served.Poll(m_server, m_events);
  // The next device takes its place.
  EXPECT_TRUE(m_network.WaitRequests(4));
  EXPECT_TRUE(m_network.WaitRunning(3));
  EXPECT_EQ(served.Declined().size(), 1u);

  const auto started = std::chrono::steady_clock::now();
  served.Finish(m_server, m_events);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  EXPECT_EQ(m_network.Peak(), 3u);
  EXPECT_EQ(m_network.Requests().size(), 4u);
  EXPECT_TRUE(m_network.Told().empty());
  EXPECT_EQ(served.Settled(), 0u);
  const std::vector<CommissioningEntry> lines = Lines();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kDevices));
  for (const CommissioningEntry& line : lines) {
    const bool declined = line.mac == MacOf(declining);
    EXPECT_EQ(line.result, declined ? "declined" : "not confirmed") << line.mac;
    EXPECT_EQ(line.keep, "not tried") << line.mac;
  }
}

// A reply that cannot reach the device is recorded once until one reaches it; a device that
// asks again during its round is within it; a record that cannot be written is only said.
TEST_F(ServedDevicesTest, EachRoundHasOneLineAndAnUnwritableRecordIsOnlySaid) {
  ServedDevices served(Settings(false));
  BootPServer::ReplyRecord missed = Reply(1, kDhcpOffer);
  missed.reachedDevice = false;
  served.Take(missed);
  served.Take(missed);
  served.Take(Reply(1, kDhcpOffer));
  served.Take(missed);
  served.Take(Reply(2, kDhcpAck));
  served.Take(Reply(2, kDhcpAck));
  ASSERT_TRUE(PollUntil(served, [&] { return served.Settled() == 1; }));
  served.Finish(m_server, m_events);
  const std::vector<CommissioningEntry> lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].result, "not sent");
  EXPECT_EQ(lines[0].protocol, "");
  EXPECT_EQ(lines[1].result, "not sent");
  EXPECT_EQ(lines[2].mac, MacOf(2));

  ServedDevices::Settings settings = Settings(false);
  // A folder where the file should be.
  settings.recordPath = m_folder.Path().string();
  ServedDevices unwritable(std::move(settings));
  unwritable.Take(Reply(3));
  m_events.clear();
  unwritable.Poll(m_server, m_events);
  EXPECT_EQ(unwritable.Settled(), 1u);
  ASSERT_EQ(m_events.size(), 1u);
  EXPECT_EQ(m_events[0].kind, Kind::kRecorded);
  EXPECT_NE(m_events[0].text.find("could not be written"), std::string::npos) << m_events[0].text;
}

}  // namespace
}  // namespace quillnet
