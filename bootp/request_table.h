#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "wire/dhcp.h"
#include "wire/message.h"

namespace quillnet {

// The devices heard: one row per MAC address, in the order they were first heard, with what
// their latest request said. Not thread-safe: its owner serialises the calls.
class RequestTable {
 public:
  // The table keeps this many devices; later new devices are not recorded.
  static constexpr std::size_t kMaxRows = 65536;
  // The interfaces a device was last heard on, most recent first.
  static constexpr std::size_t kHeardInterfaces = 4;

  // One row as one look at the table sees it.
  struct Snapshot {
    int row = -1;  // its index, in the order the devices were first heard
    DeviceKey key = 0;
    std::string macText;
    int count = 0;
    bool valid = false;
    std::int64_t lastTime = 0;  // seconds since 1970
    std::uint8_t messageType = kBootpMessage;
    std::uint32_t relay = 0;  // network byte order; 0 when it asked directly
  };

  // What one request said of its device.
  struct Heard {
    bool valid = false;
    std::int64_t time = 0;  // seconds since 1970
    int interfaceIndex = 0;  // where it came in; 0 when not known
    std::uint8_t messageType = kBootpMessage;
    std::uint32_t relay = 0;  // giaddr, network byte order: the relay agent it came through
  };

  // Records a request of `key`; false when it has no row and none can be made (key 0, or the
  // table is full).
  bool Record(DeviceKey key, const Heard& heard);
  // Record with a request heard directly, at `time`.
  bool Record(DeviceKey key, bool valid, std::int64_t time = 0);

  bool IsUpdated() const { return m_updated; }
  int Size() const { return static_cast<int>(m_keys.size()); }
  bool Contains(DeviceKey key) const { return m_rowByKey.contains(key); }

  // The row's fields; empty, 0 or false for a row that does not exist.
  std::string MacText(int row) const;
  int Count(int row) const;
  bool IsValid(int row) const;
  std::int64_t LastTime(int row) const;
  std::uint8_t MessageType(int row) const;
  // The whole row; a snapshot with row -1 for a row that does not exist.
  Snapshot At(int row) const;

  // The table's revision grows with every recorded request. Puts the rows recorded after
  // revision `since` into `rows` (each once, most recent first; every row for 0) and returns
  // the current revision. Costs time in proportion to the rows returned.
  std::uint64_t ChangedRows(std::uint64_t since, std::vector<int>& rows) const;
  // The indexes of the interfaces the device was last heard on, most recent first.
  std::vector<int> HeardInterfaces(DeviceKey key) const;
  // The relay agent of the device's latest request; 0 when it came directly or was not heard.
  std::uint32_t RelayOf(DeviceKey key) const;

 private:
  struct Row {
    std::int32_t count = 0;
    bool valid = false;
    std::int64_t lastTime = 0;
    std::uint8_t messageType = kBootpMessage;
    std::uint32_t relay = 0;
    // The revision of the row's last change, and its neighbours in the list of rows ordered by
    // that revision (-1 at either end).
    std::uint64_t revision = 0;
    std::int32_t newer = -1;
    std::int32_t older = -1;
    std::array<std::int32_t, kHeardInterfaces> interfaces{};  // 0: none
  };
  const Row* Find(int row) const;

  std::vector<DeviceKey> m_keys;
  std::vector<std::string> m_macTexts;
  std::vector<Row> m_rows;
  // Hash index beside the ordered rows: device key to row index.
  std::unordered_map<DeviceKey, std::size_t> m_rowByKey;
  std::uint64_t m_revision = 0;
  std::int32_t m_newestRow = -1;
  bool m_updated = false;
};

}  // namespace quillnet
