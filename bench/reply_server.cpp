// The server side of bench/reply_latency.sh: a BootPServer on this machine's sockets whose
// receive loop runs on a worker thread and which is armed again for the same device each time
// it has answered, until it has answered COUNT times or TIMEOUT seconds have passed.
//
//   reply_server MAC IP MASK GATEWAY COUNT TIMEOUT
//
// Writes "armed <n>" to standard output (flushed) each time the server is armed, so a client
// sends each request only once the server is ready for it. Exit status: 0 all answered and
// sent, 4 the server could not start, 5 a reply was not sent, 6 time-out or interruption,
// 2 bad arguments.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "bootp/bootp_server.h"

namespace {

std::atomic<bool> g_interrupted{false};
extern "C" void OnSignal(int) { g_interrupted = true; }

struct Progress {
  std::mutex mutex;
  std::condition_variable changed;
  int answered = 0;
  int notSent = 0;
  bool done = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: %s MAC IP MASK GATEWAY COUNT TIMEOUT_SECONDS\n", argv[0]);
    return 2;
  }
  const std::string mac = argv[1];
  const std::string ip = argv[2];
  const std::string mask = argv[3];
  const std::string gateway = argv[4];
  const int count = std::atoi(argv[5]);
  const double timeoutSeconds = std::atof(argv[6]);
  if (count <= 0 || timeoutSeconds <= 0) {
    std::fprintf(stderr, "COUNT and TIMEOUT_SECONDS must be positive\n");
    return 2;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  quillnet::BootPServer server;
  if (!server.Start()) {
    std::string text;
    server.GetMessageText(text);
    std::fprintf(stderr, "%s\n", text.c_str());
    return 4;
  }

  Progress progress;
  std::atomic<bool> stop{false};
  server.Arm(mac, ip, mask, gateway);
  std::printf("armed 0\n");
  std::fflush(stdout);

  std::thread worker([&] {
    while (!stop) {
      server.ServiceOneRequest();
      if (server.IsArmed()) continue;
      // Answered: count it and arm again before telling the client, so its next request
      // always finds the server armed.
      const bool sent = server.WasReplySent();
      int answered = 0;
      {
        std::lock_guard lock(progress.mutex);
        answered = ++progress.answered;
        if (!sent) ++progress.notSent;
        progress.done = answered >= count;
      }
      if (answered >= count) {
        progress.changed.notify_all();
        return;
      }
      server.Arm(mac, ip, mask, gateway);
      std::printf("armed %d\n", answered);
      std::fflush(stdout);
    }
  });

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  {
    std::unique_lock lock(progress.mutex);
    // Short waits so a signal is noticed without relying on it interrupting the wait.
    while (!progress.done && !g_interrupted && std::chrono::steady_clock::now() < deadline) {
      progress.changed.wait_for(lock, std::chrono::milliseconds(50));
    }
  }
  stop = true;
  server.Stop();
  worker.join();

  std::string message;
  server.GetMessageText(message);
  std::lock_guard lock(progress.mutex);
  std::fprintf(stderr, "reply_server: answered %d of %d, %d not sent%s%s\n", progress.answered,
               count, progress.notSent, message.empty() ? "" : "; last message: ",
               message.c_str());
  if (progress.notSent > 0) return 5;
  return progress.done ? 0 : 6;
}
