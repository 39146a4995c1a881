// What listen and serve say of the requests the server dropped: as they come, a line a second
// at most in a flood, every one counted by the end, and a full table once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "cli/output.h"
#include "cli/serving.h"
#include "tests/support/fake_platform.h"
#include "tests/support/requests.h"

namespace quillnet::cli {
namespace {

using ::testing::HasSubstr;
using testing::Ip;

std::vector<std::string> Lines(const std::ostringstream& stream) {
  std::vector<std::string> lines;
  std::istringstream text(stream.str());
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  return lines;
}

TEST(NoticeReporter, SaysAFloodOnceASecondCountsItWholeAndAFullTableOnce) {
  testing::FakeSocketApi sockets;
  testing::FakeRouteSource routes;
  BootPServer server(sockets, routes);
  ASSERT_TRUE(server.Start());
  std::ostringstream out;
  std::ostringstream err;
  Output output(false, out, err);
  NoticeReporter notices(output, server);

  const auto relayed = [&](DeviceKey mac) {
    testing::Request request;
    request.mac = mac;
    std::vector<std::uint8_t> bytes = request.Bytes();
    const std::uint32_t loopback = Ip(127, 0, 0, 1);
    std::memcpy(&bytes[kGiaddrOffset], &loopback, kAddressSize);
    sockets.Push(bytes);
    server.ServiceOneRequest();
  };
  relayed(0x02005E000001);
  notices.Poll();
  relayed(0x02005E000002);
  relayed(0x02005E000003);
  notices.Poll();  // within the second: nothing new is said yet
  ASSERT_EQ(Lines(err).size(), 1u) << err.str();
  EXPECT_EQ(Lines(err)[0],
            "Warning: dropped a request from 02:00:5e:00:00:01 that names 127.0.0.1, a loopback "
            "address, as its relay agent: no reply may go there.");

  constexpr DeviceKey kFirst = 0x02005E100000;
  // One more device than the table holds, taken a batch at a time.
  for (DeviceKey i = 0; i <= BootPServer::kMaxRows; ++i) {
    testing::Request request;
    request.mac = kFirst + i;
    sockets.Push(request.Bytes());
    if (i % BootPServer::kReceiveBatch == 0) server.ServiceOneRequest();
  }
  notices.Poll();
  notices.Flush();
  notices.Flush();
  // The rest of the flood comes within a second or after it, so before or after the table.
  const std::vector<std::string> lines = Lines(err);
  ASSERT_EQ(lines.size(), 3u) << err.str();
  EXPECT_THAT(std::vector(lines.begin() + 1, lines.end()),
              ::testing::UnorderedElementsAre(
                  "Warning: 65536 devices have been heard, as many as the table holds: further "
                  "devices are not listed.",
                  HasSubstr("dropped 2 requests that name no relay agent a reply may go to; the "
                            "last, from 02:00:5e:00:00:03, named 127.0.0.1, a loopback address. "
                            "(3 so far)")));
  EXPECT_TRUE(out.str().empty());
  server.Stop();
}

}  // namespace
}  // namespace quillnet::cli
