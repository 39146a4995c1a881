// The server side of bench/early_answer.sh: how soon arming answers a device that asked a
// while ago. A BootPServer on this machine's sockets and routes listens until the device has
// asked, waits until WAIT_SECONDS after that first request, then is armed for it.
//
//   early_answer_server kept|fresh MAC IP MASK GATEWAY WAIT_SECONDS
//
// kept:  the server that heard the device is armed, so it answers the device's kept request
//        at once.
// fresh: that server is stopped and a new one, which has heard nothing, is armed in its place,
//        so the device is answered at its next request, as if no request had been kept.
//
// After the armed answer it goes on serving until SIGTERM or SIGINT, so a later reply (the
// device did not take the first) still shows. Writes to standard output, flushed, with times
// in CLOCK_REALTIME nanoseconds so that a shell on the same machine can compare its own:
//   listening                               the first server listens
//   heard <ns>                              the device's first request was recorded
//   request <ns>                            each later request before the arming
//   armed <ns>                              just before Arm
//   reply <ns> armed <0|1> interfaces <n>   each reply, once sent or attempted
//   answered <ns> sent <0|1>                the first reply to the arming
// Exit status: 0 answered and sent, 2 bad arguments, 4 a server could not start, 5 the
// answer was not sent, 6 the device was not heard or not answered in time, or interruption
// before the answer.
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bootp/bootp_server.h"

namespace {

std::atomic<bool> g_interrupted{false};
extern "C" void OnSignal(int) { g_interrupted = true; }

// Bounds on a device that never asks and a reply that never comes, so a run cannot hang.
constexpr auto kHeardLimit = std::chrono::seconds(60);
constexpr auto kAnswerLimit = std::chrono::seconds(120);
// How often the table is read for the device's requests: the times they are printed with
// are this late at most, and a signal is noticed within it.
constexpr auto kPollInterval = std::chrono::milliseconds(1);

std::int64_t RealtimeNs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// Serializes the output lines of the main and the worker thread.
std::mutex g_outputMutex;
void PrintLine(const std::string& line) {
  std::lock_guard lock(g_outputMutex);
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// The first armed reply, handed from the worker's answer handler to the main thread.
struct AnswerWatch {
  std::mutex mutex;
  std::condition_variable changed;
  bool answered = false;
};

// A started server with its worker thread.
class RunningServer {
 public:
  explicit RunningServer(AnswerWatch& watch) : m_watch(watch) {}
  ~RunningServer() { Stop(); }
  RunningServer(const RunningServer&) = delete;
  RunningServer& operator=(const RunningServer&) = delete;

  bool Start() {
    if (!m_server.Start()) {
      std::string text;
      m_server.GetMessageText(text);
      std::fprintf(stderr, "%s\n", text.c_str());
      return false;
    }
    m_server.SetAnswerHandler([this](const quillnet::BootPServer::ReplyRecord& record) {
      const std::int64_t now = RealtimeNs();
      PrintLine("reply " + std::to_string(now) + " armed " + (record.armed ? "1" : "0") +
                " interfaces " + std::to_string(record.interfaces));
      if (!record.armed) return;
      std::lock_guard lock(m_watch.mutex);
      if (m_watch.answered) return;
      m_watch.answered = true;
      PrintLine("answered " + std::to_string(now) + " sent " + (record.interfaces > 0 ? "1" : "0"));
      m_sent = record.interfaces > 0;
      m_watch.changed.notify_all();
    });
    m_server.Listen();
    return true;
  }

  void Stop() { m_server.Stop(); }

  // The device's row in the table, or -1 while it has not been heard.
  int FindRow(quillnet::DeviceKey key, std::uint64_t& since) {
    std::vector<quillnet::BootPServer::DeviceRow> rows;
    since = m_server.GetChangedRows(since, rows);
    for (const quillnet::BootPServer::DeviceRow& row : rows) {
      if (row.key == key) return row.row;
    }
    return -1;
  }

  quillnet::BootPServer& server() { return m_server; }
  // Read under the watch's mutex once it says answered.
  bool sent() const { return m_sent; }

 private:
  AnswerWatch& m_watch;
  quillnet::BootPServer m_server;
  bool m_sent = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7 || (std::strcmp(argv[1], "kept") != 0 && std::strcmp(argv[1], "fresh") != 0)) {
    std::fprintf(stderr, "usage: %s kept|fresh MAC IP MASK GATEWAY WAIT_SECONDS\n", argv[0]);
    return 2;
  }
  const bool fresh = std::strcmp(argv[1], "fresh") == 0;
  const std::string mac = argv[2];
  const quillnet::DeviceKey key = quillnet::ParseMacKey(mac);
  const double waitSeconds = std::atof(argv[6]);
  if (key == 0 || waitSeconds < 0) {
    std::fprintf(stderr, "MAC must be a MAC address and WAIT_SECONDS not negative\n");
    return 2;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  AnswerWatch watch;
  auto running = std::make_unique<RunningServer>(watch);
  if (!running->Start()) return 4;
  PrintLine("listening");

  const auto heardDeadline = std::chrono::steady_clock::now() + kHeardLimit;
  std::uint64_t since = 0;
  int row = -1;
  while ((row = running->FindRow(key, since)) < 0) {
    if (g_interrupted || std::chrono::steady_clock::now() >= heardDeadline) return 6;
    std::this_thread::sleep_for(kPollInterval);
  }
  const auto heard = std::chrono::steady_clock::now();
  PrintLine("heard " + std::to_string(RealtimeNs()));

  // The device's retries until the arming show which request an early answer replies to.
  const auto armAt = heard + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                 std::chrono::duration<double>(waitSeconds));
  int requests = running->server().GetCount(row);
  for (auto now = heard; now < armAt; now = std::chrono::steady_clock::now()) {
    if (g_interrupted) return 6;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(armAt - now,
                                                                              kPollInterval));
    for (const int count = running->server().GetCount(row); requests < count; ++requests) {
      PrintLine("request " + std::to_string(RealtimeNs()));
    }
  }

  if (fresh) {
    running.reset();
    running = std::make_unique<RunningServer>(watch);
    if (!running->Start()) return 4;
  }
  PrintLine("armed " + std::to_string(RealtimeNs()));
  running->server().Arm(mac, argv[3], argv[4], argv[5]);

  const auto answerDeadline = std::chrono::steady_clock::now() + kAnswerLimit;
  bool answered = false;
  bool sent = false;
  {
    std::unique_lock lock(watch.mutex);
    while (!watch.answered && !g_interrupted &&
           std::chrono::steady_clock::now() < answerDeadline) {
      watch.changed.wait_for(lock, std::chrono::milliseconds(50));
    }
    answered = watch.answered;
    sent = running->sent();
  }
  if (answered) {
    while (!g_interrupted && std::chrono::steady_clock::now() < answerDeadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  running->Stop();
  if (!answered) return 6;
  return sent ? 0 : 5;
}
