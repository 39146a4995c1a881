// The answer policy as a table: a request and what the server holds for its device in, the
// answer out; and the few bytes a relay agent needs of the answer.
#include "bootp/answer_policy.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "tests/support/fake_platform.h"
#include "tests/support/requests.h"

namespace quillnet {
namespace {

using testing::Ip;
using Kind = PolicyAnswer::Kind;

const Assignment kArmed{Ip(10, 0, 0, 9), Ip(255, 0, 0, 0), Ip(10, 0, 0, 1)};
const Assignment kListed{Ip(10, 0, 0, 20), Ip(255, 0, 0, 0), 0};
const std::uint32_t kThisServer = Ip(10, 0, 0, 2);
const std::uint32_t kOtherServer = Ip(10, 0, 0, 3);
constexpr std::array<std::uint8_t, 4> kNone{};

std::vector<std::uint8_t> Message(std::vector<std::uint8_t> options,
                                  std::array<std::uint8_t, 4> ciaddr = kNone) {
  testing::Request request;
  std::copy(ciaddr.begin(), ciaddr.end(), request.ciaddr);
  return options.empty() ? request.Bytes() : request.WithOptions(std::move(options));
}

std::vector<std::uint8_t> Asking(std::uint8_t type, std::uint32_t address, std::uint32_t server) {
  std::vector<std::uint8_t> options = {53, 1, type};
  auto put = [&](std::uint8_t code, std::uint32_t value) {
    if (value == 0) return;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
    options.insert(options.end(), {code, 4, bytes[0], bytes[1], bytes[2], bytes[3]});
  };
  put(kOptionRequestedAddress, address);
  put(kOptionServerId, server);
  return Message(options);
}

PolicyAnswer Reply(std::uint8_t type, const Assignment& addresses, bool armed) {
  PolicyAnswer answer;
  answer.kind = Kind::kReply;
  answer.type = type;
  answer.addresses = addresses;
  answer.armed = armed;
  answer.final = type == kBootpMessage || type == kDhcpAck;
  return answer;
}

PolicyAnswer Word(Kind kind, const Assignment& addresses, bool armed, std::uint32_t other = 0) {
  PolicyAnswer answer;
  answer.kind = kind;
  answer.addresses = addresses;
  answer.armed = armed;
  answer.otherServer = other;
  return answer;
}

TEST(AnswerPolicy, AnswersEachKindOfRequestForTheArmedListedAndUnknownDevice) {
  enum class Holds { kNothing, kArmed, kListed, kBoth, kWatched };
  struct Case {
    const char* name;
    std::vector<std::uint8_t> request;
    Holds holds;
    PolicyAnswer expected;
  };
  const std::uint32_t armedIp = kArmed.ipAddress;
  const Case cases[] = {
      {"BOOTP from a device nobody chose", Message({}), Holds::kNothing, {}},
      {"BOOTP from the armed device", Message({}), Holds::kArmed,
       Reply(kBootpMessage, kArmed, true)},
      {"BOOTP from a listed device", Message({}), Holds::kListed,
       Reply(kBootpMessage, kListed, false)},
      {"the arming wins over the list", Message({}), Holds::kBoth,
       Reply(kBootpMessage, kArmed, true)},
      {"discover", Asking(kDhcpDiscover, 0, 0), Holds::kArmed, Reply(kDhcpOffer, kArmed, true)},
      {"discover from a device nobody chose", Asking(kDhcpDiscover, 0, 0), Holds::kNothing, {}},
      {"selecting this server's offer", Asking(kDhcpRequest, armedIp, kThisServer),
       Holds::kArmed, Reply(kDhcpAck, kArmed, true)},
      {"rebooting with the address", Asking(kDhcpRequest, armedIp, 0), Holds::kArmed,
       Reply(kDhcpAck, kArmed, true)},
      {"renewing it in ciaddr", Message({53, 1, kDhcpRequest}, {10, 0, 0, 9}), Holds::kArmed,
       Reply(kDhcpAck, kArmed, true)},
      {"asking for another address", Asking(kDhcpRequest, Ip(10, 0, 0, 77), 0), Holds::kArmed,
       Reply(kDhcpNak, kArmed, true)},
      {"a listed device's request", Asking(kDhcpRequest, kListed.ipAddress, kThisServer),
       Holds::kListed, Reply(kDhcpAck, kListed, false)},
      {"the armed device took another server's offer",
       Asking(kDhcpRequest, armedIp, kOtherServer), Holds::kArmed,
       Word(Kind::kOtherServer, kArmed, true, kOtherServer)},
      {"a listed device took another server's offer",
       Asking(kDhcpRequest, kListed.ipAddress, kOtherServer), Holds::kListed, {}},
      {"declining the address", Asking(kDhcpDecline, armedIp, kThisServer), Holds::kArmed,
       Word(Kind::kDecline, kArmed, true)},
      {"declining without naming it", Asking(kDhcpDecline, 0, 0), Holds::kArmed,
       Word(Kind::kDecline, kArmed, true)},
      {"declining another address", Asking(kDhcpDecline, Ip(10, 0, 0, 77), 0), Holds::kArmed,
       {}},
      {"declining again after the assignment ended", Asking(kDhcpDecline, armedIp, 0),
       Holds::kWatched, Word(Kind::kDecline, kArmed, true)},
      {"nothing is answered after it ended", Asking(kDhcpDiscover, 0, 0), Holds::kWatched, {}},
      {"a listed device declines", Asking(kDhcpDecline, kListed.ipAddress, 0), Holds::kListed,
       Word(Kind::kDecline, kListed, false)},
      {"release", Asking(kDhcpRelease, 0, kThisServer), Holds::kArmed, {}},
      {"inform", Asking(kDhcpInform, 0, 0), Holds::kArmed, {}},
  };
  const std::uint32_t serverIds[] = {Ip(192, 168, 1, 2), kThisServer};
  for (const Case& c : cases) {
    PolicyRows rows;
    rows.serverIds = serverIds;
    rows.firstAnswer = true;
    if (c.holds == Holds::kArmed || c.holds == Holds::kBoth) rows.armed = &kArmed;
    if (c.holds == Holds::kListed || c.holds == Holds::kBoth) rows.listed = &kListed;
    if (c.holds == Holds::kWatched) rows.watched = &kArmed;
    const PolicyRequest request{c.request, ReadDeviceKey(c.request),
                                ReadDhcpOptions(c.request, c.request.size())};
    EXPECT_EQ(Decide(request, rows), c.expected) << c.name;
  }
}

TEST(AnswerPolicy, TakesRequestsThatPassedAtMostSixteenRelays) {
  std::vector<std::uint8_t> request = Message({});
  for (const auto& [hops, taken] : {std::pair{0, true}, {16, true}, {17, false}, {255, false}}) {
    request[kHopsOffset] = static_cast<std::uint8_t>(hops);
    EXPECT_EQ(TakesRequest(request), taken) << hops;
  }
}

TEST(AnswerPolicy, ANakThroughARelayAsksItToBroadcast) {
  for (const bool relayed : {false, true}) {
    std::vector<std::uint8_t> request = Asking(kDhcpRequest, Ip(10, 0, 0, 77), 0);
    request.resize(kMessageBufferSize);
    if (relayed) request[kGiaddrOffset] = 10;
    std::array<std::uint8_t, kMessageBufferSize> reply{};
    for (const std::uint8_t type : {kDhcpNak, kDhcpOffer}) {
      ASSERT_EQ(WriteAnswer(request, Reply(type, kArmed, true), reply), kDhcpReplyLength);
      EXPECT_EQ(reply[kFlagsOffset], relayed && type == kDhcpNak ? kBroadcastFlagByte : 0)
          << relayed << " " << int{type};
      EXPECT_EQ(RelayOf(reply), RelayOf(request));
    }
    // A BOOTP reply is the request rewritten, giaddr and all, over the whole buffer.
    EXPECT_EQ(WriteAnswer(request, Reply(kBootpMessage, kArmed, true), reply), kMessageBufferSize);
    EXPECT_EQ(RelayOf(reply), RelayOf(request));
  }
}

}  // namespace
}  // namespace quillnet
