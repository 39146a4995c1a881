// Linux only: the ARP frames the neighbour check sends on its packet socket and how it reads
// the frames it hears.
#include "platform/linux/packet_neighbour_check.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/winsock_errors.h"
#include "tests/platform/fake_packet_socket.h"
#include "tests/support/requests.h"
#include "wire/arp.h"

namespace quillnet {
namespace {

using testing::FakePacketSocketApi;
using testing::Ip;

constexpr DeviceKey kOurMacA = 0x02005e000002;
constexpr DeviceKey kOurMacB = 0x02005e000005;
constexpr DeviceKey kDevice = 0x0080f4aabbcc;
constexpr DeviceKey kStranger = 0x0080f4ddeeff;
const std::uint32_t kAddress = Ip(10, 0, 0, 7);

// An ARP reply in which `mac` says it holds `ip`.
std::vector<std::uint8_t> Claim(DeviceKey mac, std::uint32_t ip) {
  const ArpFrame frame = BuildArpReply(mac, ip, kOurMacA);
  return {frame.begin(), frame.end()};
}

std::vector<std::uint8_t> Probe(DeviceKey mac, std::uint32_t ip) {
  const auto frame = BuildArpProbe(mac, ip);
  return {frame.begin(), frame.end()};
}

class PacketNeighbourCheckTest : public ::testing::Test {
 protected:
  PacketNeighbourCheckTest() { api.macs = {{2, kOurMacA}, {5, kOurMacB}}; }

  ProbeRequest Request() const {
    ProbeRequest request;
    request.interfaces = {2, 5};
    request.ip = kAddress;
    // Any holder but the stranger, so this host's own MACs are left out by the probe itself.
    request.accept = [](DeviceKey holder) { return holder != kStranger; };
    request.duration = std::chrono::milliseconds(100);
    request.interval = std::chrono::milliseconds(30);
    return request;
  }

  // Every frame sent was the probe of its interface's MAC for the address.
  static void ExpectOnlyProbes(const FakePacketSocketApi& fake) {
    for (const auto& frame : fake.sent()) {
      EXPECT_EQ(frame.bytes, Probe(fake.macs.at(frame.interfaceIndex), kAddress))
          << "on interface " << frame.interfaceIndex;
    }
  }

  // Probes through `sockets`.
  static ProbeResult Check(FakePacketSocketApi& sockets, const ProbeRequest& request) {
    PacketNeighbourCheck check(sockets);
    return check.Probe(request);
  }

  FakePacketSocketApi api;
};

TEST_F(PacketNeighbourCheckTest, AnsweredByTheAcceptedDevice) {
  api.onSend = [&](const FakePacketSocketApi::Frame& frame) {
    if (frame.interfaceIndex == 5) api.Push(5, Claim(kDevice, kAddress));
  };
  const ProbeResult result = Check(api, Request());
  EXPECT_EQ(result.outcome, ProbeOutcome::kAnswered);
  EXPECT_EQ(result.holder, kDevice);
  ASSERT_GE(api.sent().size(), 2u);
  EXPECT_EQ(api.sent()[0].interfaceIndex, 2);
  EXPECT_EQ(api.sent()[1].interfaceIndex, 5);
  ExpectOnlyProbes(api);
  EXPECT_TRUE(api.openSockets().empty());
}

TEST_F(PacketNeighbourCheckTest, OneInterfaceFailingLeavesTheOthersAsking) {
  api.sendErrorByInterface[2] = kWsaEnetdown;
  api.onSend = [&](const FakePacketSocketApi::Frame&) { api.Push(5, Claim(kDevice, kAddress)); };
  const ProbeResult result = Check(api, Request());
  EXPECT_EQ(result.outcome, ProbeOutcome::kAnswered);
  EXPECT_EQ(result.holder, kDevice);
}

TEST_F(PacketNeighbourCheckTest, FramesThatDoNotNameAnAcceptedHolderLeaveItSilent) {
  const struct {
    const char* name;
    int interfaceIndex;
    std::vector<std::uint8_t> frame;
  } cases[] = {
      {"a holder accept refuses", 2, Claim(kStranger, kAddress)},
      {"this host's own MAC", 2, Claim(kOurMacB, kAddress)},
      {"an interface not asked", 9, Claim(kDevice, kAddress)},
      {"another address", 2, Claim(kDevice, Ip(10, 0, 0, 8))},
      {"a probe for the address", 5, Probe(kDevice, kAddress)},
      {"not ARP", 5, std::vector<std::uint8_t>(60, 0x45)},
  };
  for (const auto& c : cases) {
    FakePacketSocketApi fake;
    fake.macs = api.macs;
    fake.Push(c.interfaceIndex, c.frame);
    const ProbeResult result = Check(fake, Request());
    EXPECT_EQ(result.outcome, ProbeOutcome::kSilent) << c.name;
    EXPECT_EQ(result.holder, 0u) << c.name;
    // A round at the start and at most one per 30 ms of the 100 ms after it.
    const auto sent = fake.sent();
    EXPECT_GE(sent.size(), 2u) << c.name;
    EXPECT_LE(sent.size(), 8u) << c.name;
    ExpectOnlyProbes(fake);
    EXPECT_TRUE(fake.openSockets().empty()) << c.name;
  }
}

TEST_F(PacketNeighbourCheckTest, CancelEndsTheProbeAfterItsFirstRound) {
  std::atomic<bool> cancel = false;
  api.onSend = [&](const FakePacketSocketApi::Frame&) { cancel = true; };
  ProbeRequest request = Request();
  request.duration = std::chrono::seconds(2);
  request.interval = std::chrono::milliseconds(10);
  request.cancel = &cancel;
  const ProbeResult result = Check(api, request);
  EXPECT_EQ(result.outcome, ProbeOutcome::kSilent);
  EXPECT_EQ(api.sent().size(), 2u);
  EXPECT_TRUE(api.openSockets().empty());
}

TEST_F(PacketNeighbourCheckTest, NotPossibleAndBrokeOffSayWhy) {
  const std::string noCapability =
      "this program lacks the CAP_NET_RAW capability, which ARP probes need";
  const struct {
    const char* name;
    int openError;
    std::vector<int> interfaces;
    int sendErrorOn5;
    int receiveError;
    int error;
    std::string reason;
    ProbeOutcome outcome = ProbeOutcome::kNotPossible;
  } cases[] = {
      {"EPERM", 10001, {2, 5}, 0, 0, 10001, noCapability},
      {"EACCES", kWsaEacces, {2, 5}, 0, 0, kWsaEacces, noCapability},
      {"other open failure", kWsaEinval, {2}, 0, 0, kWsaEinval,
       "opening the ARP socket failed 10022 (00002726)"},
      {"no interface", 0, {}, 0, 0, 0, "no interface to send ARP probes on"},
      {"no interface works", 0, {7, 5}, kWsaEnetdown, 0, kWsaEinval,
       "reading the MAC address of interface 7 failed 10022 (00002726)"},
      // The probes went out: the check was under way when it broke off.
      {"receive failure", 0, {2}, 0, kWsaEnetdown, kWsaEnetdown,
       "receiving ARP frames failed 10050 (00002742)", ProbeOutcome::kBrokeOff},
  };
  for (const auto& c : cases) {
    FakePacketSocketApi fake;
    fake.macs = api.macs;
    fake.openError = c.openError;
    if (c.sendErrorOn5 != 0) fake.sendErrorByInterface[5] = c.sendErrorOn5;
    if (c.receiveError != 0) fake.PushError(c.receiveError);
    ProbeRequest request = Request();
    request.interfaces = c.interfaces;
    const ProbeResult result = Check(fake, request);
    EXPECT_EQ(result.outcome, c.outcome) << c.name;
    EXPECT_EQ(result.error, c.error) << c.name;
    EXPECT_EQ(result.reason, c.reason) << c.name;
    EXPECT_EQ(fake.opens(), c.interfaces.empty() ? 0 : 1) << c.name;
    EXPECT_TRUE(fake.openSockets().empty()) << c.name;
  }
}

// Behind a router: an echo request every interval, and the first reply from the address ends
// the probe, naming no holder; a device that never answers is asked through the whole duration.
TEST_F(PacketNeighbourCheckTest, EchoAsksEveryIntervalUntilTheAddressAnswers) {
  ProbeRequest request = Request();
  request.echo = true;
  request.interfaces.clear();
  request.accept = [](DeviceKey) {
    ADD_FAILURE() << "an echo reply names no holder to accept";
    return false;
  };
  api.echoAnsweredFrom = 2;
  const ProbeResult answered = Check(api, request);
  EXPECT_EQ(answered.outcome, ProbeOutcome::kAnswered);
  EXPECT_EQ(answered.holder, 0u);
  EXPECT_EQ(api.echoes(), (std::vector<std::uint32_t>{kAddress, kAddress}));
  EXPECT_TRUE(api.sent().empty()) << "ARP does not pass the router";
  EXPECT_TRUE(api.openSockets().empty());

  FakePacketSocketApi silent;
  EXPECT_EQ(Check(silent, request).outcome, ProbeOutcome::kSilent);
  // A request at the start and at most one per 30 ms of the 100 ms after it.
  EXPECT_GE(silent.echoes().size(), 2u);
  EXPECT_LE(silent.echoes().size(), 4u);
  EXPECT_TRUE(silent.openSockets().empty());
}

TEST_F(PacketNeighbourCheckTest, EchoNotPossibleAndBrokeOffSayWhy) {
  const struct {
    const char* name;
    int openError;
    int sendError;
    int receiveError;
    int error;
    std::string reason;
    ProbeOutcome outcome = ProbeOutcome::kNotPossible;
  } cases[] = {
      {"EPERM", 10001, 0, 0, 10001,
       "this program may not send ICMP echo requests, which reach a device behind a router: it "
       "lacks the CAP_NET_RAW capability, and its group is not in net.ipv4.ping_group_range"},
      {"no echo on this system", kWsaEopnotsupp, 0, 0, kWsaEopnotsupp,
       "ICMP echo requests, which reach a device behind a router, cannot be sent on this "
       "system"},
      {"other open failure", kWsaEinval, 0, 0, kWsaEinval,
       "opening the ICMP socket failed 10022 (00002726)"},
      {"the first request", 0, kWsaEnetunreach, 0, kWsaEnetunreach,
       "sending an ICMP echo request failed 10051 (00002743)"},
      {"receive failure", 0, 0, kWsaEnetdown, kWsaEnetdown,
       "receiving ICMP echo replies failed 10050 (00002742)", ProbeOutcome::kBrokeOff},
  };
  for (const auto& c : cases) {
    FakePacketSocketApi fake;
    fake.echoOpenError = c.openError;
    fake.echoSendError = c.sendError;
    fake.echoReceiveError = c.receiveError;
    ProbeRequest request = Request();
    request.echo = true;
    const ProbeResult result = Check(fake, request);
    EXPECT_EQ(result.outcome, c.outcome) << c.name;
    EXPECT_EQ(result.error, c.error) << c.name;
    EXPECT_EQ(result.reason, c.reason) << c.name;
    EXPECT_TRUE(fake.openSockets().empty()) << c.name;
  }
}

}  // namespace
}  // namespace quillnet
