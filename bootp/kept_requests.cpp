#include "bootp/kept_requests.h"

#include <iterator>

namespace quillnet {

void KeptRequests::Store(DeviceKey key, bool answerable, std::span<const std::uint8_t> request,
                         int interfaceIndex, std::uint8_t messageType, std::int64_t now) {
  if (const auto found = m_byKey.find(key); found != m_byKey.end()) Drop(found->second);
  if (answerable) {
    std::size_t length = request.size();
    while (length > 0 && request[length - 1] == 0) --length;
    m_kept.push_front(
        {key, now, interfaceIndex, messageType, {request.begin(), request.begin() + length}});
    m_byKey[key] = m_kept.begin();
    m_bytes += length + kOverhead;
  }
  while (!m_kept.empty() &&
         (m_bytes > kBudget || now - m_kept.back().time > kEarlyAnswerSeconds)) {
    Drop(std::prev(m_kept.end()));
  }
}

void KeptRequests::Drop(List::iterator kept) {
  m_bytes -= kept->bytes.size() + kOverhead;
  m_byKey.erase(kept->key);
  m_kept.erase(kept);
}

const KeptRequests::Kept* KeptRequests::Recent(DeviceKey key, std::int64_t now) const {
  const auto found = m_byKey.find(key);
  if (found == m_byKey.end()) return nullptr;
  return now - found->second->time <= kEarlyAnswerSeconds ? &*found->second : nullptr;
}

}  // namespace quillnet
