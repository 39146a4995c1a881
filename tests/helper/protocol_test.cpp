#include "helper/protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillnet::helper {
namespace {

// 10.0.0.7 as it stands in memory in network byte order.
constexpr std::uint32_t kAddress = 0x0700000A;

std::vector<std::uint8_t> Bytes(RequestKind kind, std::uint32_t index, std::uint32_t address,
                                std::uint32_t durationMs, std::uint32_t intervalMs) {
  const RequestBytes bytes =
      EncodeRequest({kind, static_cast<int>(index), address, durationMs, intervalMs});
  return {bytes.begin(), bytes.end()};
}

TEST(NetHelperProtocol, ParseRequestTakesOnlyRequestsWithinBounds) {
  const auto probe = [](std::uint32_t index, std::uint32_t address, std::uint32_t duration,
                        std::uint32_t interval) {
    return Bytes(RequestKind::kProbeArp, index, address, duration, interval);
  };
  auto reserved = probe(2, kAddress, 5000, 500);
  reserved[kRequestReservedOffset + 1] = 1;
  auto shortRequest = probe(2, kAddress, 5000, 500);
  shortRequest.pop_back();
  auto longRequest = probe(2, kAddress, 5000, 500);
  longRequest.push_back(0);
  auto unknown = Bytes(RequestKind::kOpenBootpSocket, 0, 0, 0, 0);
  unknown[kRequestKindOffset] = 9;

  struct Case {
    std::string name;
    std::vector<std::uint8_t> bytes;
    RequestKind kind;
  };
  const std::vector<Case> cases = {
      {"open", Bytes(RequestKind::kOpenBootpSocket, 0, 0, 0, 0), RequestKind::kOpenBootpSocket},
      {"open with a field set", Bytes(RequestKind::kOpenBootpSocket, 1, 0, 0, 0),
       RequestKind::kRefused},
      {"cancel", Bytes(RequestKind::kCancel, 0, 0, 0, 0), RequestKind::kCancel},
      {"cancel with a field set", Bytes(RequestKind::kCancel, 0, 0, 0, 500), RequestKind::kRefused},
      {"probe", probe(2, kAddress, 5000, 500), RequestKind::kProbeArp},
      {"shortest probe, fastest interval", probe(1, kAddress, 1, 50), RequestKind::kProbeArp},
      {"a day, slowest interval", probe(0x7FFFFFFF, kAddress, 86'400'000, 10'000),
       RequestKind::kProbeArp},
      {"interface 0", probe(0, kAddress, 5000, 500), RequestKind::kRefused},
      {"echo", Bytes(RequestKind::kProbeEcho, 0, kAddress, 5000, 500), RequestKind::kProbeEcho},
      {"echo naming an interface", Bytes(RequestKind::kProbeEcho, 2, kAddress, 5000, 500),
       RequestKind::kRefused},
      {"echo to 255.255.255.255", Bytes(RequestKind::kProbeEcho, 0, 0xFFFFFFFF, 5000, 500),
       RequestKind::kRefused},
      {"echo under 50 ms apart", Bytes(RequestKind::kProbeEcho, 0, kAddress, 5000, 49),
       RequestKind::kRefused},
      {"interface past int", probe(0x80000000, kAddress, 5000, 500), RequestKind::kRefused},
      {"address 0.0.0.0", probe(2, 0, 5000, 500), RequestKind::kRefused},
      {"address 255.255.255.255", probe(2, 0xFFFFFFFF, 5000, 500), RequestKind::kRefused},
      {"duration 0", probe(2, kAddress, 0, 500), RequestKind::kRefused},
      {"duration past a day", probe(2, kAddress, 86'400'001, 500), RequestKind::kRefused},
      {"interval under 50 ms", probe(2, kAddress, 5000, 49), RequestKind::kRefused},
      {"interval past 10 s", probe(2, kAddress, 5000, 10'001), RequestKind::kRefused},
      {"reserved byte set", reserved, RequestKind::kRefused},
      {"one byte short", shortRequest, RequestKind::kRefused},
      {"one byte long", longRequest, RequestKind::kRefused},
      {"unknown kind", unknown, RequestKind::kRefused},
      {"empty", {}, RequestKind::kRefused},
  };
  for (const Case& c : cases) {
    const Request request = ParseRequest(c.bytes);
    EXPECT_EQ(request.kind, c.kind) << c.name;
    if (request.kind == RequestKind::kProbeArp || request.kind == RequestKind::kProbeEcho) {
      EXPECT_EQ(request.address, kAddress) << c.name;
      EXPECT_EQ(Bytes(request.kind, static_cast<std::uint32_t>(request.interfaceIndex),
                      request.address, request.durationMs, request.intervalMs),
                c.bytes)
          << c.name;
    }
  }
}

TEST(NetHelperProtocol, RepliesReadBackAndStrayBytesAreRefused) {
  const Reply claim = ParseReply(EncodeReply({ReplyKind::kClaim, 0, 0x02005e880002}));
  EXPECT_EQ(claim.kind, ReplyKind::kClaim);
  EXPECT_EQ(claim.mac, 0x02005e880002u);
  const Reply failed = ParseReply(EncodeReply({ReplyKind::kFailed, 98, 0}));
  EXPECT_EQ(failed.kind, ReplyKind::kFailed);
  EXPECT_EQ(failed.error, 98);

  // A failure without its code, a socket with a MAC, padding set: none is a reply.
  EXPECT_EQ(ParseReply(EncodeReply({ReplyKind::kFailed, 0, 0})).kind, ReplyKind::kRefused);
  EXPECT_EQ(ParseReply(EncodeReply({ReplyKind::kSocket, 0, 1})).kind, ReplyKind::kRefused);
  EXPECT_EQ(ParseReply(EncodeReply({ReplyKind::kEchoReply, 0, 0})).kind, ReplyKind::kEchoReply);
  EXPECT_EQ(ParseReply(EncodeReply({ReplyKind::kEchoReply, 0, 1})).kind, ReplyKind::kRefused);
  ReplyBytes padded = EncodeReply({ReplyKind::kProbeEnd, 0, 0});
  padded[kReplyPaddingOffset] = 1;
  EXPECT_EQ(ParseReply(padded).kind, ReplyKind::kRefused);
}

}  // namespace
}  // namespace quillnet::helper
