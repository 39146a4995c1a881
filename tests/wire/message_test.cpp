#include "wire/message.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "tests/support/requests.h"

namespace quillnet {
namespace {

using testing::Request;

std::uint32_t NetworkOrder(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  const std::uint8_t bytes[4] = {a, b, c, d};
  std::uint32_t value = 0;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

// A request as a device on the bench sent it, written out field by field.
std::vector<std::uint8_t> GoldenRequest() {
  std::vector<std::uint8_t> bytes = {
      0x01,                    // op: boot request
      0x01,                    // htype: Ethernet
      0x06,                    // hlen
      0x00,                    // hops
      0x56, 0xf3, 0xea, 0x22,  // xid
      0x00, 0x04,              // secs
      0x00, 0x00,              // flags
      0x00, 0x00, 0x00, 0x00,  // ciaddr: none
      0x00, 0x00, 0x00, 0x00,  // yiaddr
      0x00, 0x00, 0x00, 0x00,  // siaddr
      0x00, 0x00, 0x00, 0x00,  // giaddr
      0x02, 0x00, 0x5e, 0x10, 0x20, 0x30,  // chaddr: the MAC address ...
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0,        // ... and ten bytes of padding
  };
  bytes.resize(kSnameOffset + kSnameSize + kFileSize, 0);  // sname, file: empty
  const std::uint8_t vendor[] = {99, 130, 83, 99, 255};    // cookie, End
  bytes.insert(bytes.end(), std::begin(vendor), std::end(vendor));
  bytes.resize(kMinRequestLength, 0);  // rest of the vendor area
  return bytes;
}

TEST(BootpMessage, GoldenRequestBecomesGoldenReply) {
  const std::vector<std::uint8_t> request = GoldenRequest();
  ASSERT_EQ(request.size(), 300u);
  std::array<std::uint8_t, kMessageBufferSize> buffer{};
  std::copy(request.begin(), request.end(), buffer.begin());

  const RequestVerdict verdict = ClassifyRequest(buffer, request.size());
  EXPECT_TRUE(verdict.accepted);
  EXPECT_TRUE(verdict.valid);
  EXPECT_EQ(verdict.key, 0x02005E102030u);

  BuildReply(buffer, NetworkOrder(192, 168, 1, 50), NetworkOrder(255, 255, 255, 0),
             NetworkOrder(192, 168, 1, 1));

  std::vector<std::uint8_t> expected = request;
  expected.resize(kMessageBufferSize, 0);  // the whole buffer is the reply
  expected[0] = 0x02;                      // op: boot reply
  const std::uint8_t yiaddr[] = {192, 168, 1, 50};
  std::copy(std::begin(yiaddr), std::end(yiaddr), expected.begin() + 16);
  const std::uint8_t vendor[] = {
      99, 130, 83, 99,          // magic cookie
      1, 4, 255, 255, 255, 0,   // Subnet Mask option
      3, 4, 192, 168, 1, 1,     // Router option
      255,                      // End
  };
  std::copy(std::begin(vendor), std::end(vendor), expected.begin() + 236);

  EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.end()), expected);
}

TEST(BootpMessage, ReplyKeepsEverythingButItsOwnFields) {
  std::array<std::uint8_t, kMessageBufferSize> buffer{};
  for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<std::uint8_t>(i * 7 + 1);
  const auto before = buffer;
  BuildReply(buffer, NetworkOrder(10, 0, 0, 9), NetworkOrder(255, 0, 0, 0), 0);
  for (std::size_t i = 0; i < buffer.size(); ++i) {
    const bool rewritten = i == kOpOffset || (i >= kYiaddrOffset && i < kYiaddrOffset + 4) ||
                           (i >= kVendOffset && i < kReplyVendorEnd);
    if (!rewritten) {
      EXPECT_EQ(buffer[i], before[i]) << "byte " << i;
    }
  }
  EXPECT_EQ(buffer[kEndOptionOffset], 255);
  EXPECT_EQ(buffer[kRouterOptionOffset + 2], 0);  // gateway 0.0.0.0
}

struct ClassifyCase {
  const char* name;
  Request request;
  bool accepted;
  bool valid;
};

Request With(void (*change)(Request&)) {
  Request request;
  change(request);
  return request;
}

TEST(BootpMessage, ClassifiesRequests) {
  const ClassifyCase cases[] = {
      {"299 bytes is too short", Request{}.WithLength(299), false, false},
      {"300 bytes is enough", Request{}.WithLength(300), true, true},
      {"longer datagrams fit the buffer", Request{}.WithLength(1024), true, true},
      {"op 2 is a reply", With([](Request& r) { r.op = 2; }), false, false},
      {"hlen 16", With([](Request& r) { r.hlen = 16; }), false, false},
      {"htype 0 is known", With([](Request& r) { r.htype = 0; }), true, true},
      {"htype 8 names an address",
       With([](Request& r) { r.htype = 8; r.ciaddr[0] = 10; }), true, true},
      {"sname wins over htype 8", With([](Request& r) { r.htype = 8; r.sname = "abc"; }), true,
       false},
      {"ciaddr set with htype 1",
       With([](Request& r) {
         r.ciaddr[0] = 192; r.ciaddr[1] = 168; r.ciaddr[2] = 0; r.ciaddr[3] = 10;
       }),
       true, false},
      {"only the last ciaddr byte set", With([](Request& r) { r.ciaddr[3] = 1; }), true, false},
  };
  for (const ClassifyCase& c : cases) {
    std::array<std::uint8_t, kMessageBufferSize> buffer{};
    const auto bytes = c.request.Bytes();
    std::copy(bytes.begin(), bytes.end(), buffer.begin());
    const RequestVerdict verdict = ClassifyRequest(buffer, bytes.size());
    EXPECT_EQ(verdict.accepted, c.accepted) << c.name;
    if (c.accepted) {
      EXPECT_EQ(verdict.valid, c.valid) << c.name;
      EXPECT_EQ(verdict.key, 0x02005E102030u) << c.name;
    }
  }
}

TEST(BootpMessage, LengthBeyondTheBufferIsDropped) {
  std::array<std::uint8_t, kMessageBufferSize> buffer{};
  const auto bytes = Request{}.Bytes();
  std::copy(bytes.begin(), bytes.end(), buffer.begin());
  EXPECT_FALSE(ClassifyRequest(buffer, kMessageBufferSize + 1).accepted);
  EXPECT_FALSE(ClassifyRequest(std::span(buffer).first(299), 300).accepted);
}

TEST(BootpMessage, MacTextRoundTrip) {
  EXPECT_EQ(FormatMacAddress(0x02005E102030), "02:00:5e:10:20:30");
  EXPECT_EQ(FormatMacAddress(0), "00:00:00:00:00:00");
  EXPECT_EQ(FormatMacAddress(0xFFFFFFFFFFFF), "ff:ff:ff:ff:ff:ff");
  for (const DeviceKey key : {DeviceKey{1}, DeviceKey{0x02005E102030}, DeviceKey{0xA1B2C3D4E5F6},
                              DeviceKey{0xFFFFFFFFFFFF}}) {
    EXPECT_EQ(ParseMacKey(FormatMacAddress(key)), key);
  }
}

TEST(BootpMessage, ParsesMacTexts) {
  const struct {
    const char* text;
    DeviceKey key;
  } cases[] = {
      {"02:00:5e:10:20:30", 0x02005E102030},
      {"02:00:5E:10:20:30", 0x02005E102030},
      {"02005E102030", 0x02005E102030},
      {"02-00-5e-10-20-30", 0},
      {"", 0},
      {"02::00", 0},       // the second colon is read as a digit
      {"02:", 0},          // nothing after the colon
      {"0g", 0},
      {"1:2:3", 0x123},
      {"10000000000000001", 1},  // seventeen digits wrap around
  };
  for (const auto& c : cases) EXPECT_EQ(ParseMacKey(c.text), c.key) << '"' << c.text << '"';
}

TEST(BootpMessage, ReadsOnlyStrictMacTexts) {
  const struct {
    const char* text;
    bool read;
  } cases[] = {
      {"02:00:5e:10:20:30", true},  {"02:00:5E:10:20:30", true}, {"02-00-5e-10-20-30", true},
      {"2:0:5e:10:20:30", false},   {"abc", false},              {"02005E102030", false},
      {"02:00-5e:10:20:30", false}, {"02:00:5e:10:20:3g", false}, {"02:00:5e:10:20:30:", false},
      {"02:00:5e:10:20", false},    {"02.00.5e.10.20.30", false}, {"", false},
  };
  for (const auto& c : cases) {
    DeviceKey key = 7;
    EXPECT_EQ(ParseMacText(c.text, key), c.read) << '"' << c.text << '"';
    EXPECT_EQ(key, c.read ? DeviceKey{0x02005E102030} : DeviceKey{7}) << '"' << c.text << '"';
  }
}

TEST(BootpMessage, ReplyAddressesAreReadBackFromTheReply) {
  std::array<std::uint8_t, kMessageBufferSize> buffer{};
  const auto bytes = Request{}.Bytes();
  std::copy(bytes.begin(), bytes.end(), buffer.begin());
  BuildReply(buffer, NetworkOrder(10, 0, 0, 5), NetworkOrder(255, 255, 255, 0),
             NetworkOrder(10, 0, 0, 1));
  const ReplyAddresses read = ReadReplyAddresses(buffer);
  EXPECT_EQ(read.ipAddress, NetworkOrder(10, 0, 0, 5));
  EXPECT_EQ(read.subnetMask, NetworkOrder(255, 255, 255, 0));
  EXPECT_EQ(read.defaultGateway, NetworkOrder(10, 0, 0, 1));
  EXPECT_EQ(ReadDeviceKey(buffer), DeviceKey{0x02005E102030});
  // Too short to hold the fields: nothing is read past the end.
  EXPECT_EQ(ReadReplyAddresses(std::span(buffer).first(kMinRequestLength - 1)).ipAddress, 0u);
  EXPECT_EQ(ReadDeviceKey(std::span(buffer).first(kChaddrOffset)), DeviceKey{0});
}

}  // namespace
}  // namespace quillnet
