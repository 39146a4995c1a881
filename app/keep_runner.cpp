#include "app/keep_runner.h"

#include <utility>

namespace quillnet {

enip::MethodResult KeepOverSystemTcp(const enip::Target& target, const std::atomic<bool>* cancel) {
  return enip::KeepAddress(SystemTcpClient(), target, cancel);
}

KeepRunner::KeepRunner(Keep keep) : m_keep(std::move(keep)) {
  if (!m_keep) m_keep = KeepOverSystemTcp;
}

KeepRunner::~KeepRunner() { Stop(); }

std::optional<enip::MethodResult> KeepRunner::Stop() {
  m_cancel = true;
  if (m_thread.joinable()) m_thread.join();
  return Result();
}

void KeepRunner::Start(const enip::Target& target) {
  if (m_started) return;
  m_started = true;
  m_thread = std::thread([this, target] {
    enip::MethodResult result = m_keep(target, &m_cancel);
    std::lock_guard lock(m_mutex);
    m_result = std::move(result);
  });
}

std::optional<enip::MethodResult> KeepRunner::Result() const {
  std::lock_guard lock(m_mutex);
  return m_result;
}

}  // namespace quillnet
