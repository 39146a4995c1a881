// The socket pair between a program and its helper, over a SOCK_SEQPACKET pair as the programs
// make it.
#include "helper/channel.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>

namespace quillnet::helper {
namespace {

class NetHelperChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    std::array<int, 2> ends{};
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends.data()), 0);
    m_program = ends[0];
    m_helper = ends[1];
    ASSERT_EQ(::pipe(m_pipe.data()), 0);
  }
  void TearDown() override {
    for (const int fd : {m_program, m_helper, m_pipe[0], m_pipe[1]}) {
      if (fd >= 0) ::close(fd);
    }
  }
  static void Close(int& fd) {
    ::close(fd);
    fd = -1;
  }

  int m_program = -1;
  int m_helper = -1;
  std::array<int, 2> m_pipe{-1, -1};  // a descriptor to pass, and a way to see it is the same
};

TEST_F(NetHelperChannel, TheBoundSocketRidesAlongWithItsReply) {
  ASSERT_TRUE(SendReply(m_helper, {ReplyKind::kSocket, 0, 0}, m_pipe[1]));
  Close(m_pipe[1]);
  Reply reply;
  int passed = -1;
  ASSERT_TRUE(ReceiveReply(m_program, reply, passed));
  EXPECT_EQ(reply.kind, ReplyKind::kSocket);
  ASSERT_GE(passed, 0);
  // A helper started later must not inherit it.
  EXPECT_NE(::fcntl(passed, F_GETFD) & FD_CLOEXEC, 0);
  // The very file sent: what is written to the copy comes out of the pipe.
  ASSERT_EQ(::write(passed, "x", 1), 1);
  ::close(passed);
  char byte = 0;
  EXPECT_EQ(::read(m_pipe[0], &byte, 1), 1);
  EXPECT_EQ(byte, 'x');
}

TEST_F(NetHelperChannel, RepliesThatDoNotFitTheirDescriptorAreRefusedAndNothingLeaks) {
  // The number the next descriptor gets: a refused one that stayed open would take it.
  const int lowest = ::dup(m_program);
  ::close(lowest);
  Reply reply;
  int passed = -1;

  ASSERT_TRUE(SendReply(m_helper, {ReplyKind::kSocket, 0, 0}));
  EXPECT_FALSE(ReceiveReply(m_program, reply, passed));
  EXPECT_EQ(passed, -1);

  ASSERT_TRUE(SendReply(m_helper, {ReplyKind::kClaim, 0, 0x02005e880002}, m_pipe[1]));
  EXPECT_FALSE(ReceiveReply(m_program, reply, passed));
  EXPECT_EQ(passed, -1);
  const int next = ::dup(m_program);
  EXPECT_EQ(next, lowest);
  ::close(next);

  const std::array<std::uint8_t, 3> stray{1, 2, 3};
  ASSERT_EQ(::send(m_helper, stray.data(), stray.size(), 0), 3);
  EXPECT_FALSE(ReceiveReply(m_program, reply, passed));

  ASSERT_TRUE(SendReply(m_helper, {ReplyKind::kClaim, 0, 0x02005e880002}));
  ASSERT_TRUE(ReceiveReply(m_program, reply, passed));
  EXPECT_EQ(reply.mac, 0x02005e880002u);
  Close(m_helper);
  EXPECT_FALSE(ReceiveReply(m_program, reply, passed));
}

TEST_F(NetHelperChannel, TheHelperTellsNothingWaitingFromACancelAndFromACallerGone) {
  Request request;
  EXPECT_TRUE(ReceiveRequest(m_helper, request, true));
  EXPECT_EQ(request.kind, RequestKind::kRefused);

  const Request probe{RequestKind::kProbeArp, 2, 0x0700000A, 5000, 500};
  ASSERT_TRUE(SendRequest(m_program, probe));
  ASSERT_TRUE(ReceiveRequest(m_helper, request));
  EXPECT_EQ(EncodeRequest(request), EncodeRequest(probe));

  const std::array<std::uint8_t, kRequestSize + 4> tooLong{};
  ASSERT_EQ(::send(m_program, tooLong.data(), tooLong.size(), 0),
            static_cast<ssize_t>(tooLong.size()));
  ASSERT_TRUE(ReceiveRequest(m_helper, request, true));
  EXPECT_EQ(request.kind, RequestKind::kRefused);

  ASSERT_TRUE(SendRequest(m_program, {RequestKind::kCancel, 0, 0, 0, 0}));
  ASSERT_TRUE(ReceiveRequest(m_helper, request, true));
  EXPECT_EQ(request.kind, RequestKind::kCancel);

  // A caller gone: the receive says so, and an answer to it fails.
  Close(m_program);
  EXPECT_FALSE(ReceiveRequest(m_helper, request, true));
  EXPECT_FALSE(SendReply(m_helper, {ReplyKind::kProbeEnd, 0, 0}));
}

}  // namespace
}  // namespace quillnet::helper
