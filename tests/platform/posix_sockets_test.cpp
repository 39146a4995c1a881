// Linux's sockets only: a signal, and the errno values behind the Winsock codes.
#include <gtest/gtest.h>

#include <net/if.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "tests/platform/loopback_sockets.h"

namespace quillnet {

int LoopbackInterfaceIndex() { return static_cast<int>(if_nametoindex("lo")); }

namespace {

std::atomic<int> g_signalsHandled{0};
void CountSignal(int) { g_signalsHandled.fetch_add(1); }

// The system call a thread of this process is blocked in; -1 when it cannot be read.
long BlockedSystemCall(pid_t thread) {
  std::ifstream file("/proc/self/task/" + std::to_string(thread) + "/syscall");
  long number = -1;
  return file >> number ? number : -1;
}

TEST_F(LoopbackSockets, SignalDoesNotEndABlockedReceive) {
#ifndef SYS_recvmmsg
  GTEST_SKIP() << "recvmmsg is no system call of its own here";
#else
  // No SA_RESTART: the kernel ends the blocked recvmmsg with EINTR.
  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = CountSignal;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

  std::atomic<pid_t> receiverThread{0};
  std::size_t received = 0;
  int error = -1;
  std::thread blocked([&] {
    receiverThread = gettid();
    error = Receive(1, received);
  });
  // Signal the thread once it is blocked in the receive, and wait for the handler to run.
  const int handledBefore = g_signalsHandled.load();
  bool signalled = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    if (!signalled && receiverThread != 0 &&
        BlockedSystemCall(receiverThread) == SYS_recvmmsg) {
      ASSERT_EQ(pthread_kill(blocked.native_handle(), SIGUSR1), 0);
      signalled = true;
    }
    if (g_signalsHandled.load() > handledBefore) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const bool handled = g_signalsHandled.load() > handledBefore;
  // The datagram also ends the receive when the signal never came, so the thread is joined.
  EXPECT_EQ(SendOf(300), 0);
  blocked.join();
  sigaction(SIGUSR1, &previous, nullptr);

  ASSERT_TRUE(handled) << "the receiving thread was not seen blocked in recvmmsg";
  EXPECT_EQ(error, 0);
  ASSERT_EQ(received, 1u);
  EXPECT_EQ(datagrams[0].length, 300u);
#endif
}

TEST(WinsockErrors, MapsErrnoToWinsockCodes) {
  EXPECT_EQ(WinsockErrorFromErrno(EADDRINUSE), 10048);
  EXPECT_EQ(WinsockErrorFromErrno(EACCES), 10013);
  EXPECT_EQ(WinsockErrorFromErrno(EMSGSIZE), 10040);
  EXPECT_EQ(WinsockErrorFromErrno(ECONNRESET), 10054);
  EXPECT_EQ(WinsockErrorFromErrno(ENETUNREACH), 10051);
  EXPECT_EQ(WinsockErrorFromErrno(EHOSTUNREACH), 10065);
  EXPECT_EQ(WinsockErrorFromErrno(EAGAIN), 10035);
  EXPECT_EQ(WinsockErrorFromErrno(EPERM), 10000 + EPERM);
}

}  // namespace
}  // namespace quillnet
