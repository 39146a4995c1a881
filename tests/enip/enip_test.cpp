#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "enip/encapsulation.h"
#include "enip/startup_method.h"
#include "platform/ipv4_text.h"
#include "tests/enip/fake_tcp_client.h"

namespace quillnet::enip {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::FakeTcpClient;

constexpr SenderContext kOurContext = {'q', 'u', 'i', 'l', 'l', 'n', 'e', 't'};
constexpr std::uint32_t kSession = 0x04030201;

TEST(EnipMessages, RequestsAreTheBytesTheProtocolGives) {
  const Bytes data = {0x10, 0x00, 0x00, 0x00};
  const Bytes set = SendRRDataRequest(kSession, kOurContext,
                                      CipRequest(kSetAttributeSingle, kConfigurationControl, data));
  const Bytes expected = {
      0x6F, 0x00,                                      // command SendRRData
      0x1C, 0x00,                                      // 28 data bytes follow the header
      0x01, 0x02, 0x03, 0x04,                          // session handle
      0x00, 0x00, 0x00, 0x00,                          // status
      'q', 'u', 'i', 'l', 'l', 'n', 'e', 't',          // sender context
      0x00, 0x00, 0x00, 0x00,                          // options
      0x00, 0x00, 0x00, 0x00,                          // interface handle 0
      0x05, 0x00,                                      // timeout, seconds
      0x02, 0x00,                                      // item count
      0x00, 0x00, 0x00, 0x00,                          // Null Address item, length 0
      0xB2, 0x00, 0x0C, 0x00,                          // Unconnected Data item, 12 bytes
      0x10, 0x03, 0x20, 0xF5, 0x24, 0x01, 0x30, 0x03,  // Set_Attribute_Single, class 0xF5,
                                                       // instance 1, attribute 3
      0x10, 0x00, 0x00, 0x00,                          // the value: method 0, DNS enabled
  };
  EXPECT_EQ(set, expected);

  const Bytes registerSession = RegisterSessionRequest(kOurContext);
  const Bytes expectedRegister = {
      0x65, 0x00, 0x04, 0x00,  0,   0,   0,   0,   0,   0,   0, 0,
      'q',  'u',  'i',  'l',  'l', 'n', 'e', 't', 0,   0,   0, 0,
      0x01, 0x00,              // protocol version 1
      0x00, 0x00,              // option flags 0
  };
  EXPECT_EQ(registerSession, expectedRegister);
}

// A SendRRData reply holding `cip` in its Unconnected Data item.
Bytes Reply(const Bytes& cip, std::uint32_t session = kSession, std::uint32_t status = 0) {
  Bytes data = {0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0xB2, 0};
  data.push_back(static_cast<std::uint8_t>(cip.size()));
  data.push_back(0);
  data.insert(data.end(), cip.begin(), cip.end());
  Bytes message(kHeaderSize);
  EncapsulationHeader header;
  header.command = kSendRRData;
  header.length = static_cast<std::uint16_t>(data.size());
  header.session = session;
  header.status = status;
  header.context = kOurContext;
  EncodeHeader(header, message);
  message.insert(message.end(), data.begin(), data.end());
  return message;
}

bool Parse(const Bytes& message, CipReply& reply, std::string& why) {
  EncapsulationHeader header;
  if (!DecodeHeader(message, header)) return false;
  const std::span<const std::uint8_t> data = std::span(message).subspan(kHeaderSize);
  return ParseSendRRDataReply(header, data, kSession, kOurContext, kGetAttributeSingle, reply,
                              why);
}

TEST(EnipMessages, RepliesAreTakenOnlyWhenEveryLengthHolds) {
  CipReply reply;
  std::string why;
  ASSERT_TRUE(Parse(Reply({0x8E, 0, 0, 0, 0x11, 0, 0, 0}), reply, why)) << why;
  EXPECT_EQ(reply.generalStatus, 0);
  EXPECT_EQ(reply.data, (Bytes{0x11, 0, 0, 0}));
  // Additional status words are skipped; a refusal is a reply.
  ASSERT_TRUE(Parse(Reply({0x8E, 0, 0x0E, 1, 0xAA, 0xBB}), reply, why)) << why;
  EXPECT_EQ(reply.generalStatus, 0x0E);
  EXPECT_TRUE(reply.data.empty());

  Bytes itemTooLong = Reply({0x8E, 0, 0, 0});
  itemTooLong[kHeaderSize + 14] = 0xFF;  // the Unconnected Data item's length
  Bytes manyItems = Reply({0x8E, 0, 0, 0});
  manyItems[kHeaderSize + kItemCountOffset] = 0xFF;
  Bytes headerLies = Reply({0x8E, 0, 0, 0});
  headerLies.pop_back();
  const struct {
    const char* what;
    Bytes message;
  } malformed[] = {
      {"an item longer than the reply", itemTooLong},
      {"more items than bytes", manyItems},
      {"fewer bytes than the header says", headerLies},
      {"additional status beyond the reply", Reply({0x8E, 0, 0, 9, 0, 0})},
      {"a CIP reply shorter than its header", Reply({0x8E, 0, 0})},
      {"a reply to another service", Reply({0x90, 0, 0, 0})},
      {"another session", Reply({0x8E, 0, 0, 0}, kSession + 1)},
      {"an encapsulation status", Reply({0x8E, 0, 0, 0}, kSession, 0x64)},
      {"no Unconnected Data item", [] {
         Bytes message = Reply({0x8E, 0, 0, 0});
         message[kHeaderSize + 12] = 0xB1;
         return message;
       }()},
  };
  for (const auto& entry : malformed) {
    EXPECT_FALSE(Parse(entry.message, reply, why)) << entry.what;
    EXPECT_FALSE(why.empty()) << entry.what;
  }
}

// The bytes a device sends for the keep sequence: RegisterSession, then the replies to
// Get 3, Get 5, Set 3, Get 3.
Bytes DeviceScript(std::uint32_t control, const char* address, std::uint32_t readBack) {
  Bytes script(kHeaderSize);
  EncapsulationHeader header;
  header.command = kRegisterSession;
  header.length = kRegisterDataSize;
  header.session = kSession;
  header.context = kOurContext;
  EncodeHeader(header, script);
  script.insert(script.end(), {1, 0, 0, 0});
  auto append = [&script](const Bytes& cip) {
    const Bytes reply = Reply(cip);
    script.insert(script.end(), reply.begin(), reply.end());
  };
  auto u32 = [](std::uint32_t value) {
    return Bytes{static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                 static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  };
  Bytes get3 = {0x8E, 0, 0, 0};
  const Bytes value = u32(control);
  get3.insert(get3.end(), value.begin(), value.end());
  append(get3);
  std::uint32_t ip = 0;
  ReadIpv4Text(address, ip);
  const auto* octets = reinterpret_cast<const std::uint8_t*>(&ip);
  append({0x8E, 0, 0, 0, octets[3], octets[2], octets[1], octets[0], 0, 0xFF, 0xFF, 0xFF, 0,
          0, 0, 0});
  append({0x90, 0, 0, 0});
  Bytes back = {0x8E, 0, 0, 0};
  const Bytes backValue = u32(readBack);
  back.insert(back.end(), backValue.begin(), backValue.end());
  append(back);
  return script;
}

Target TargetAt(const char* address) {
  Target target;
  ReadIpv4Text(address, target.address);
  return target;
}

constexpr Timing kFast{std::chrono::milliseconds(500), std::chrono::milliseconds(50),
                       std::chrono::milliseconds(0)};

TEST(KeepAddress, ADeviceThatOpensItsPortLateIsWaitedForAndKeepsItsDns) {
  FakeTcpClient tcp;
  tcp.connectResults = {kWsaEconnrefused, kWsaEconnrefused, tcp_error::kTimedOut};
  tcp.incoming = DeviceScript(0x12, "10.1.2.3", 0x10);
  const MethodResult result = KeepAddress(tcp, TargetAt("10.1.2.3"), nullptr, kFast);
  EXPECT_EQ(result.outcome, MethodOutcome::kDone) << result.text;
  EXPECT_EQ(result.text, "The device keeps 10.1.2.3: it now starts with its stored configuration, not DHCP.");
  EXPECT_EQ(tcp.connects, 4);
  EXPECT_EQ(tcp.lastEndpoints.port, kPort);
  // RegisterSession, four requests, UnRegisterSession; the set keeps DNS and clears the rest.
  ASSERT_EQ(tcp.sent.size(), 6u);
  EXPECT_EQ(Bytes(tcp.sent[3].end() - 4, tcp.sent[3].end()), (Bytes{0x10, 0, 0, 0}));
  EXPECT_EQ(tcp.sent[5][kCommandOffset], kUnRegisterSession);
  EXPECT_EQ(tcp.closes, 1);
}

TEST(KeepAddress, EachWayOfNotKeepingIsSaid) {
  struct Case {
    const char* what;
    Bytes script;
    bool closeAtEnd;
    MethodOutcome outcome;
    std::string text;
    std::size_t requests;  // sent, RegisterSession and UnRegisterSession included
  };
  Bytes truncated = DeviceScript(0x01, "10.1.2.3", 0);
  truncated.resize(kHeaderSize + kRegisterDataSize + kHeaderSize + 5);
  Bytes oversize = DeviceScript(0x01, "10.1.2.3", 0);
  oversize[kHeaderSize + kRegisterDataSize + kLengthOffset + 1] = 0x40;  // 0x4018 bytes claimed
  const Case cases[] = {
      {"another address in attribute 5", DeviceScript(0x01, "10.1.2.9", 0), false,
       MethodOutcome::kOtherAddress,
       "The device at 10.1.2.3 reports another address, 10.1.2.9, in its TCP/IP Interface "
       "object: its start-up method was left as it is: it may ask for an address again at its "
       "next start-up.",
       4},
      {"a read-back that differs", DeviceScript(0x01, "10.1.2.3", 0x01), false,
       MethodOutcome::kReadBackDiffers,
       "The device at 10.1.2.3 took the start-up method stored configuration but reads back "
       "BOOTP: it may ask for an address again at its next start-up.",
       6},
      {"a connection closed within a reply", truncated, true, MethodOutcome::kFailed,
       "The exchange with the device at 10.1.2.3 failed (the device closed the connection): "
       "it may ask for an address again at its next start-up.",
       3},
      {"a reply longer than any attribute", oversize, false, MethodOutcome::kFailed,
       "The exchange with the device at 10.1.2.3 failed (a reply of 16408 bytes): it may ask "
       "for an address again at its next start-up.",
       3},
      {"a device that stops answering", Bytes(truncated.begin(), truncated.begin() + 28),
       false, MethodOutcome::kFailed,
       "The exchange with the device at 10.1.2.3 failed (no reply in 0 s): it may ask for an "
       "address again at its next start-up.",
       3},
  };
  for (const Case& entry : cases) {
    FakeTcpClient tcp;
    tcp.incoming = entry.script;
    tcp.closeAtEnd = entry.closeAtEnd;
    const MethodResult result = KeepAddress(tcp, TargetAt("10.1.2.3"), nullptr, kFast);
    EXPECT_EQ(result.outcome, entry.outcome) << entry.what;
    EXPECT_EQ(result.text, entry.text) << entry.what;
    EXPECT_EQ(tcp.sent.size(), entry.requests) << entry.what;
    EXPECT_EQ(tcp.closes, 1) << entry.what;
  }
}

TEST(KeepAddress, RefusalsAreNamedAndUnknownOnesNumbered) {
  for (const auto& [status, said] :
       {std::pair<std::uint8_t, std::string>{0x0C, "object state conflict (general status 0x0C)"},
        {0x10, "device state conflict (general status 0x10)"},
        {0x1F, "general status 0x1F"}}) {
    FakeTcpClient tcp;
    Bytes script = DeviceScript(0x01, "10.1.2.3", 0);
    // The Set's reply is the third SendRRData reply; its general status byte:
    const std::size_t register_ = kHeaderSize + kRegisterDataSize;
    const std::size_t get3 = kHeaderSize + 16 + 8;
    const std::size_t get5 = kHeaderSize + 16 + 16;
    script[register_ + get3 + get5 + kHeaderSize + 16 + kReplyStatusOffset] = status;
    tcp.incoming = script;
    const MethodResult result = KeepAddress(tcp, TargetAt("10.1.2.3"), nullptr, kFast);
    EXPECT_EQ(result.outcome, MethodOutcome::kRefused);
    EXPECT_EQ(result.generalStatus, status);
    EXPECT_EQ(result.text, "The device at 10.1.2.3 refused to set its start-up method: " + said +
                               ": it will ask for an address again at its next start-up.");
  }
}

TEST(KeepAddress, NoDeviceWithinTheLimitAndACancelEndsTheWait) {
  FakeTcpClient refused;
  refused.connectAfterScript = kWsaEconnrefused;
  MethodResult result = KeepAddress(refused, TargetAt("10.1.2.3"), nullptr, kFast);
  EXPECT_EQ(result.outcome, MethodOutcome::kNoDevice);
  EXPECT_EQ(result.text,
            "No EtherNet/IP device answers at 10.1.2.3 (connection refused): it will ask for an "
            "address again at its next start-up.");
  EXPECT_GT(refused.connects, 1);
  EXPECT_TRUE(refused.sent.empty());

  // A whole connect limit that a cancel cuts short.
  FakeTcpClient silent;
  silent.connectAfterScript = tcp_error::kTimedOut;
  std::atomic<bool> cancel{false};
  const Timing slow{std::chrono::milliseconds(600000), std::chrono::milliseconds(50),
                    std::chrono::milliseconds(10)};
  std::thread canceller([&cancel] { cancel = true; });
  result = KeepAddress(silent, TargetAt("10.1.2.3"), &cancel, slow);
  canceller.join();
  EXPECT_EQ(result.outcome, MethodOutcome::kCancelled);
  EXPECT_TRUE(silent.sent.empty());
}

}  // namespace
}  // namespace quillnet::enip
