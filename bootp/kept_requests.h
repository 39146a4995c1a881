#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

#include "wire/dhcp.h"
#include "wire/message.h"

namespace quillnet {

// The latest request of each device, kept so that arming can answer a device that asked a
// moment before: a waiting client takes a reply to its latest request between its retries,
// which come ever further apart. Not thread-safe: its owner serialises the calls.
class KeptRequests {
 public:
  // A request is answered at once when it came at most this many seconds before the arming.
  static constexpr std::int64_t kEarlyAnswerSeconds = 60;
  // All kept requests together stay within this many bytes: each costs its bytes up to the
  // last non-zero one (the rest of the receive buffer is zero) plus kOverhead. When a new one
  // does not fit, the requests heard longest ago go first (about 10,000 devices with 300-byte
  // requests stay); a device whose request was dropped is answered at its next request.
  // Requests older than kEarlyAnswerSeconds go too.
  static constexpr std::size_t kBudget = std::size_t{4} << 20;
  static constexpr std::size_t kOverhead = 160;

  struct Kept {
    DeviceKey key = 0;
    std::int64_t time = 0;
    int interfaceIndex = 0;  // where it came in; 0 when not known
    std::uint8_t messageType = kBootpMessage;
    std::vector<std::uint8_t> bytes;  // up to the last non-zero byte
  };

  // Takes the device's latest request in place of its earlier one. Only a request that can be
  // answered at once is kept (`answerable`; see AnswersAtOnce); another only drops the earlier.
  void Store(DeviceKey key, bool answerable, std::span<const std::uint8_t> request,
             int interfaceIndex, std::uint8_t messageType, std::int64_t now);
  // The device's kept request when it came at most kEarlyAnswerSeconds before `now`.
  const Kept* Recent(DeviceKey key, std::int64_t now) const;
  // What the kept requests cost, counted as kBudget counts it.
  std::size_t Bytes() const { return m_bytes; }

  // Whether a request of this type is kept to be answered at once. In DHCP only a discover is:
  // an offer to it is harmless if it came too late, while an ack to a stale request would
  // count as accepted though the device has moved on.
  static bool AnswersAtOnce(std::uint8_t messageType) {
    return messageType == kBootpMessage || messageType == kDhcpDiscover;
  }

 private:
  using List = std::list<Kept>;
  static_assert(sizeof(Kept) + 2 * sizeof(void*) +  // the list node
                    sizeof(std::pair<const DeviceKey, List::iterator>) +
                    4 * sizeof(void*) <=  // the index node and its bucket
                kOverhead);
  void Drop(List::iterator kept);

  List m_kept;  // most recent first
  std::unordered_map<DeviceKey, List::iterator> m_byKey;
  std::size_t m_bytes = 0;
};

}  // namespace quillnet
