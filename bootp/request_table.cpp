#include "bootp/request_table.h"

#include <algorithm>
#include <limits>

namespace quillnet {

bool RequestTable::Record(DeviceKey key, bool valid, std::int64_t time) {
  Heard heard;
  heard.valid = valid;
  heard.time = time;
  return Record(key, heard);
}

bool RequestTable::Record(DeviceKey key, const Heard& heard) {
  if (key == 0) return false;
  auto found = m_rowByKey.find(key);
  if (found == m_rowByKey.end()) {
    if (m_keys.size() >= kMaxRows) return false;
    found = m_rowByKey.emplace(key, m_keys.size()).first;
    m_keys.push_back(key);
    m_macTexts.push_back(FormatMacAddress(key));
    m_rows.emplace_back();
  }
  m_updated = true;
  const auto index = static_cast<std::int32_t>(found->second);
  Row& row = m_rows[found->second];
  if (heard.valid) row.valid = true;
  if (row.count < std::numeric_limits<std::int32_t>::max()) ++row.count;
  row.lastTime = heard.time;
  row.messageType = heard.messageType;
  row.relay = heard.relay;
  row.revision = ++m_revision;
  if (heard.interfaceIndex != 0) {
    // Most recent first, each interface once.
    auto end = std::find(row.interfaces.begin(), row.interfaces.end(), heard.interfaceIndex);
    if (end == row.interfaces.end()) --end;
    std::copy_backward(row.interfaces.begin(), end, end + 1);
    row.interfaces.front() = heard.interfaceIndex;
  }
  if (index != m_newestRow) {
    // Move the row to the newest end of the revision list.
    if (row.older != -1) m_rows[static_cast<std::size_t>(row.older)].newer = row.newer;
    if (row.newer != -1) m_rows[static_cast<std::size_t>(row.newer)].older = row.older;
    row.newer = -1;
    row.older = m_newestRow;
    if (m_newestRow != -1) m_rows[static_cast<std::size_t>(m_newestRow)].newer = index;
    m_newestRow = index;
  }
  return true;
}

const RequestTable::Row* RequestTable::Find(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= m_rows.size()) return nullptr;
  return &m_rows[static_cast<std::size_t>(row)];
}

std::string RequestTable::MacText(int row) const {
  return Find(row) != nullptr ? m_macTexts[static_cast<std::size_t>(row)] : std::string();
}

int RequestTable::Count(int row) const {
  const Row* state = Find(row);
  return state != nullptr ? state->count : 0;
}

bool RequestTable::IsValid(int row) const {
  const Row* state = Find(row);
  return state != nullptr && state->valid;
}

std::int64_t RequestTable::LastTime(int row) const {
  const Row* state = Find(row);
  return state != nullptr ? state->lastTime : 0;
}

std::uint8_t RequestTable::MessageType(int row) const {
  const Row* state = Find(row);
  return state != nullptr ? state->messageType : kBootpMessage;
}

RequestTable::Snapshot RequestTable::At(int row) const {
  const Row* state = Find(row);
  if (state == nullptr) return {};
  const auto index = static_cast<std::size_t>(row);
  return {row,          m_keys[index],        m_macTexts[index], state->count,
          state->valid, state->lastTime, state->messageType, state->relay};
}

std::uint64_t RequestTable::ChangedRows(std::uint64_t since, std::vector<int>& rows) const {
  for (std::int32_t index = m_newestRow;
       index != -1 && m_rows[static_cast<std::size_t>(index)].revision > since;
       index = m_rows[static_cast<std::size_t>(index)].older) {
    rows.push_back(index);
  }
  return m_revision;
}

std::vector<int> RequestTable::HeardInterfaces(DeviceKey key) const {
  std::vector<int> interfaces;
  const auto found = m_rowByKey.find(key);
  if (found == m_rowByKey.end()) return interfaces;
  for (const std::int32_t index : m_rows[found->second].interfaces) {
    if (index != 0) interfaces.push_back(index);
  }
  return interfaces;
}

std::uint32_t RequestTable::RelayOf(DeviceKey key) const {
  const auto found = m_rowByKey.find(key);
  return found != m_rowByKey.end() ? m_rows[found->second].relay : 0;
}

}  // namespace quillnet
