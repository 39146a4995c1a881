// The server side of bench/reply_latency.sh and of the route-following end-to-end test: a
// BootPServer on this machine's sockets and routes, armed for the same device again each time
// it has answered, until it has answered COUNT times or TIMEOUT seconds have passed. Every
// answer comes from a server of its own, so the message it reports is that reply's alone; the
// route source is the process's, kept from start to end.
//
//   reply_server MAC IP MASK GATEWAY COUNT TIMEOUT
//
// Writes to standard output, flushed: "armed <n>" each time a server is armed, so a client
// sends each request only once the server is ready for it, and after each answer
// "answered <n> sent <0|1> message <the server's message text>". Exit status: 0 all answered
// and sent, 4 the server could not start, 5 a reply was not sent, 6 time-out or interruption,
// 2 bad arguments.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "bootp/bootp_server.h"

namespace {

std::atomic<bool> g_interrupted{false};
extern "C" void OnSignal(int) { g_interrupted = true; }

using Deadline = std::chrono::steady_clock::time_point;

enum class Outcome { kAnswered, kStartFailed, kStopped };

struct Arming {
  std::string mac, ip, mask, gateway;
};

// Arms a new server, waits for its answer, stops it and reports the answer.
Outcome ServeOne(const Arming& arming, int number, Deadline deadline, bool& sent) {
  quillnet::BootPServer server;
  if (!server.Start()) {
    std::string text;
    server.GetMessageText(text);
    std::fprintf(stderr, "%s\n", text.c_str());
    return Outcome::kStartFailed;
  }
  std::mutex mutex;
  std::condition_variable changed;
  bool answered = false;
  server.SetAnswerHandler([&](const quillnet::BootPServer::ReplyRecord& record) {
    if (!record.armed) return;
    std::lock_guard lock(mutex);
    answered = true;
    changed.notify_all();
  });
  server.Arm(arming.mac, arming.ip, arming.mask, arming.gateway);
  server.Listen();
  std::printf("armed %d\n", number);
  std::fflush(stdout);
  {
    std::unique_lock lock(mutex);
    // Short waits so a signal is noticed without relying on it interrupting the wait.
    while (!answered && !g_interrupted && std::chrono::steady_clock::now() < deadline) {
      changed.wait_for(lock, std::chrono::milliseconds(50));
    }
  }
  server.Stop();
  if (!answered) return Outcome::kStopped;

  sent = server.WasReplySent();
  std::string message;
  server.GetMessageText(message);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  std::printf("answered %d sent %d message %s\n", number + 1, sent ? 1 : 0, message.c_str());
  std::fflush(stdout);
  return Outcome::kAnswered;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: %s MAC IP MASK GATEWAY COUNT TIMEOUT_SECONDS\n", argv[0]);
    return 2;
  }
  const Arming arming{argv[1], argv[2], argv[3], argv[4]};
  const int count = std::atoi(argv[5]);
  const double timeoutSeconds = std::atof(argv[6]);
  if (count <= 0 || timeoutSeconds <= 0) {
    std::fprintf(stderr, "COUNT and TIMEOUT_SECONDS must be positive\n");
    return 2;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  const Deadline deadline = std::chrono::steady_clock::now() +
                            std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                std::chrono::duration<double>(timeoutSeconds));
  int answered = 0;
  int notSent = 0;
  while (answered < count) {
    bool sent = false;
    const Outcome outcome = ServeOne(arming, answered, deadline, sent);
    if (outcome == Outcome::kStartFailed) return 4;
    if (outcome == Outcome::kStopped) break;
    ++answered;
    if (!sent) ++notSent;
  }

  std::fprintf(stderr, "reply_server: answered %d of %d, %d not sent\n", answered, count,
               notSent);
  if (notSent > 0) return 5;
  return answered == count ? 0 : 6;
}
