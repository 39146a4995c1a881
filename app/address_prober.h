#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/neighbour_check.h"

namespace quillnet {

// Runs probes of the neighbour check one after another on a thread of its own, so that the
// user interface never waits for the network. Start never blocks: it ends a probe under way
// (its result is then dropped) and the new one follows.
class AddressProber {
 public:
  // Called on the prober's thread with the result of a probe that was not replaced or
  // cancelled; `generation` is what Start returned for it.
  using Done = std::function<void(std::uint64_t generation, const ProbeResult& result)>;

  explicit AddressProber(NeighbourCheck& check);
  // Cancels the probe under way and waits for the thread.
  ~AddressProber();

  AddressProber(const AddressProber&) = delete;
  AddressProber& operator=(const AddressProber&) = delete;

  // `request.cancel` is the prober's own. Returns the generation of this probe.
  std::uint64_t Start(ProbeRequest request, Done done);
  // Drops the probe under way and any waiting one; once it returns, no result of theirs is
  // being delivered or will be, so whoever receives them may go.
  void Cancel();
  // The generation of the latest Start; results of earlier ones are stale.
  std::uint64_t Generation() const;

 private:
  void Run();

  NeighbourCheck& m_check;
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::optional<ProbeRequest> m_pending;
  Done m_pendingDone;
  std::uint64_t m_generation = 0;
  bool m_stop = false;
  bool m_delivering = false;
  std::atomic<bool> m_cancel{false};
  std::thread m_thread;
};

}  // namespace quillnet
