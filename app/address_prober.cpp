#include "app/address_prober.h"

#include <utility>

namespace quillnet {

AddressProber::AddressProber(NeighbourCheck& check)
    : m_check(check), m_thread([this] { Run(); }) {}

AddressProber::~AddressProber() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
    m_cancel = true;
  }
  m_changed.notify_all();
  m_thread.join();
}

std::uint64_t AddressProber::Start(ProbeRequest request, Done done) {
  std::uint64_t generation = 0;
  {
    std::lock_guard lock(m_mutex);
    generation = ++m_generation;
    m_pending = std::move(request);
    m_pendingDone = std::move(done);
    m_cancel = true;
  }
  m_changed.notify_all();
  return generation;
}

void AddressProber::Cancel() {
  std::unique_lock lock(m_mutex);
  ++m_generation;
  m_pending.reset();
  m_pendingDone = nullptr;
  m_cancel = true;
  m_changed.notify_all();
  m_changed.wait(lock, [this] { return !m_delivering; });
}

std::uint64_t AddressProber::Generation() const {
  std::lock_guard lock(m_mutex);
  return m_generation;
}

void AddressProber::Run() {
  std::unique_lock lock(m_mutex);
  while (true) {
    m_changed.wait(lock, [this] { return m_stop || m_pending.has_value(); });
    if (m_stop) return;
    ProbeRequest request = std::move(*m_pending);
    m_pending.reset();
    Done done = std::move(m_pendingDone);
    const std::uint64_t generation = m_generation;
    m_cancel = false;
    request.cancel = &m_cancel;
    lock.unlock();
    const ProbeResult result = m_check.Probe(request);
    lock.lock();
    // A probe that was replaced or cancelled meanwhile has nothing to say.
    if (generation != m_generation || m_stop || !done) continue;
    m_delivering = true;
    lock.unlock();
    done(generation, result);
    lock.lock();
    m_delivering = false;
    m_changed.notify_all();
  }
}

}  // namespace quillnet
