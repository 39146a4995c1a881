#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "enip/startup_method.h"

namespace quillnet {

// enip::KeepAddress over this system's TCP: what is run where no other exchange is given.
enip::MethodResult KeepOverSystemTcp(const enip::Target& target, const std::atomic<bool>* cancel);

// Tells a device, on a thread of its own, to keep the address it was just given (EtherNet/IP):
// the exchange may take seconds (the device opens its port late), and neither a page nor a
// subcommand waits for it. Destruction cancels an exchange under way and joins the thread.
class KeepRunner {
 public:
  // What is run; by default KeepOverSystemTcp.
  using Keep = std::function<enip::MethodResult(const enip::Target&, const std::atomic<bool>*)>;

  explicit KeepRunner(Keep keep = {});
  ~KeepRunner();
  KeepRunner(const KeepRunner&) = delete;
  KeepRunner& operator=(const KeepRunner&) = delete;

  // Starts the exchange with `target`; once per runner.
  void Start(const enip::Target& target);
  // The result once the exchange has ended; none before.
  std::optional<enip::MethodResult> Result() const;
  // Cancels an exchange under way and waits for it to end: its result, as Result gives it
  // after that.
  std::optional<enip::MethodResult> Stop();

 private:
  Keep m_keep;
  std::atomic<bool> m_cancel{false};
  bool m_started = false;
  mutable std::mutex m_mutex;
  std::optional<enip::MethodResult> m_result;
  std::thread m_thread;
};

}  // namespace quillnet
