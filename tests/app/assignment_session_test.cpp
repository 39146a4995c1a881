// The assignment that the Assign IP page and `quillnet-cli assign` both show: how it ends for
// each kind of device, on fake sockets and a fake network.
#include "app/assignment_session.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "app/address_prober.h"
#include "platform/winsock_errors.h"
#include "tests/support/fake_platform.h"
#include "tests/support/requests.h"
#include "wire/dhcp.h"

namespace quillnet {
namespace {

using Kind = AssignmentSession::EventKind;
using testing::Ip;
using testing::Request;

constexpr DeviceKey kDevice = 0x02005E102030;
constexpr int kInterface = 4;
constexpr std::uint32_t kBroadcast = 0xFFFFFFFFu;

// What the device does, in order.
enum class Step {
  kBootp,         // a BOOTP request
  kDiscover,      // DHCPDISCOVER
  kRequest,       // DHCPREQUEST for the given address, naming this PC
  kRequestOther,  // DHCPREQUEST naming another server
  kDecline,       // DHCPDECLINE of the given address
};

std::vector<std::uint8_t> Message(Step step) {
  Request device;
  device.mac = kDevice;
  switch (step) {
    case Step::kBootp:
      return device.Bytes();
    case Step::kDiscover:
      return device.WithOptions({53, 1, kDhcpDiscover});
    case Step::kRequest:
      return device.WithOptions({53, 1, kDhcpRequest, 50, 4, 192, 168, 1, 50, 54, 4, 192, 168, 1, 2});
    case Step::kRequestOther:
      return device.WithOptions({53, 1, kDhcpRequest, 50, 4, 192, 168, 1, 50, 54, 4, 192, 168, 1, 254});
    case Step::kDecline:
      return device.WithOptions({53, 1, kDhcpDecline, 50, 4, 192, 168, 1, 50});
  }
  return {};
}

enum class Network {
  kAnswers,   // the device answers ARP at its address once it has made its last request
  kSilent,    // nobody answers
  kNoProbes,  // ARP probes cannot be made (no capability)
  kBreaks,    // hearing the probes' answers fails once they are out
};

struct Path {
  const char* name;
  std::vector<Step> steps;
  Network network;
  std::vector<Kind> events;
  int window = 400;  // ms after each answer; 0: unchecked
  bool sends = true;  // an interface takes the replies
};

void PrintTo(const Path& path, std::ostream* out) { *out << path.name; }

class AssignmentSessionTest : public ::testing::TestWithParam<Path> {};

TEST_P(AssignmentSessionTest, EndsAsTheDeviceLeadsIt) {
  const Path& path = GetParam();
  testing::FakeSocketApi sockets;
  testing::FakeRouteSource routes;
  if (path.sends) routes.rows = {{kBroadcast, kBroadcast, Ip(192, 168, 1, 2), kInterface}};
  testing::FakeNeighbourCheck neighbours;
  switch (path.network) {
    case Network::kNoProbes:
      neighbours.Refuse(kWsaEacces, "this program lacks the CAP_NET_RAW capability");
      break;
    case Network::kBreaks:
      neighbours.BreakOffNext(kWsaEnetdown, "receiving ARP frames failed");
      break;
    case Network::kAnswers:
    case Network::kSilent:
      break;
  }
  BootPServer server(sockets, routes);
  ASSERT_TRUE(server.Start());
  AddressProber prober(neighbours);
  AssignmentSession::Settings settings;
  settings.checkWindow = std::chrono::milliseconds(path.window);
  settings.checkInterval = std::chrono::milliseconds(50);
  AssignmentSession session(server, prober, settings);
  ASSERT_TRUE(session.Arm(FormatMacAddress(kDevice), "192.168.1.50", "255.255.255.0", ""));

  std::vector<AssignmentSession::Event> events;
  for (const Step step : path.steps) {
    if (session.Ended()) break;
    sockets.Push(Message(step), kInterface);
    server.ServiceOneRequest();
    ASSERT_TRUE(server.WaitForReplies(std::chrono::seconds(5)));
    session.Poll(events);
  }
  if (path.network == Network::kAnswers) neighbours.AnswerProbes({{Ip(192, 168, 1, 50), kDevice}});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!session.Ended() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    session.Poll(events);
  }
  ASSERT_TRUE(session.Ended()) << "the session never ended";
  std::vector<Kind> kinds;
  for (const auto& event : events) kinds.push_back(event.kind);
  EXPECT_EQ(kinds, path.events);
  // The device was asked for at its new address on the interface it was heard on.
  for (const auto& question : neighbours.questions()) {
    EXPECT_EQ(question.interfaces, std::vector<int>{kInterface});
    EXPECT_EQ(question.ip, Ip(192, 168, 1, 50));
  }
  // However it ended, the server is no longer armed for the device.
  EXPECT_FALSE(server.IsArmed());
  server.Stop();
}

const Path kPaths[] = {
    {"bootp_answers_arp", {Step::kBootp}, Network::kAnswers, {Kind::kSent, Kind::kConfirmed}},
    // bootpc: takes the reply, configures nothing.
    {"bootp_silent", {Step::kBootp}, Network::kSilent, {Kind::kSent, Kind::kNotConfirmed}},
    // It restarted during the check: answered again, and then found.
    {"asks_again", {Step::kBootp, Step::kBootp}, Network::kAnswers,
     {Kind::kSent, Kind::kSent, Kind::kConfirmed}},
    {"dhcp_accepts", {Step::kDiscover, Step::kRequest}, Network::kAnswers,
     {Kind::kSent, Kind::kSent, Kind::kAccepted, Kind::kConfirmed}},
    // udhcpc finding another holder after its ack.
    {"dhcp_declines", {Step::kDiscover, Step::kRequest, Step::kDecline}, Network::kSilent,
     {Kind::kSent, Kind::kSent, Kind::kAccepted, Kind::kDeclined}},
    {"other_server", {Step::kDiscover, Step::kRequestOther}, Network::kSilent,
     {Kind::kSent, Kind::kOtherServer}},
    // Not even the offer can leave: nothing is reported as sent.
    {"not_sent", {Step::kDiscover}, Network::kSilent, {Kind::kNotSent}, 400, false},
    {"no_probes", {Step::kBootp}, Network::kNoProbes, {Kind::kSent, Kind::kCannotCheck}},
    {"probe_breaks", {Step::kBootp}, Network::kBreaks, {Kind::kSent, Kind::kCheckBrokeOff}},
    {"unchecked", {Step::kBootp}, Network::kSilent, {Kind::kSent}, 0},
    // A device that never keeps its address.
    {"asks_too_often",
     std::vector<Step>(AssignmentSession::kMaxAnswers + 1, Step::kBootp),
     Network::kSilent,
     [] {
       std::vector<Kind> kinds(AssignmentSession::kMaxAnswers + 1, Kind::kSent);
       kinds.push_back(Kind::kAskedTooOften);
       return kinds;
     }(),
     5000},
};

INSTANTIATE_TEST_SUITE_P(Paths, AssignmentSessionTest, ::testing::ValuesIn(kPaths),
                         [](const ::testing::TestParamInfo<Path>& info) {
                           return std::string(info.param.name);
                         });

// A device that asked just before the arming is answered at once; that answer missing it is
// no verdict, its next request decides.
TEST(AssignmentSession, AnAnswerAtOnceThatMissesWaitsForTheNextRequest) {
  testing::FakeSocketApi sockets;
  testing::FakeRouteSource routes;
  routes.rows = {{kBroadcast, kBroadcast, Ip(192, 168, 1, 2), kInterface}};
  testing::FakeNeighbourCheck neighbours;
  neighbours.AnswerProbes({{Ip(192, 168, 1, 50), kDevice}});
  BootPServer server(sockets, routes);
  ASSERT_TRUE(server.Start());
  sockets.Push(Message(Step::kBootp), kInterface);
  server.ServiceOneRequest();
  // The PC's address on the device's interface is gone when the answer at once leaves.
  sockets.sendErrorByAddress = {{Ip(192, 168, 1, 2), kWsaEnetunreach}};
  AddressProber prober(neighbours);
  AssignmentSession session(server, prober, {});
  ASSERT_TRUE(session.Arm(FormatMacAddress(kDevice), "192.168.1.50", "255.255.255.0", ""));
  ASSERT_TRUE(server.WaitForReplies(std::chrono::seconds(5)));
  std::vector<AssignmentSession::Event> events;
  session.Poll(events);
  EXPECT_TRUE(events.empty());
  EXPECT_FALSE(session.Ended());
  // It is back, and the device asks again.
  sockets.sendErrorByAddress.clear();
  sockets.Push(Message(Step::kBootp), kInterface);
  server.ServiceOneRequest();
  ASSERT_TRUE(server.WaitForReplies(std::chrono::seconds(5)));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!session.Ended() && std::chrono::steady_clock::now() < deadline) session.Poll(events);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, Kind::kSent);
  EXPECT_FALSE(events[0].reply.early);
  EXPECT_EQ(events[1].kind, Kind::kConfirmed);
  server.Stop();
}

}  // namespace
}  // namespace quillnet
