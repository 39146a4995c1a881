#include "wizard/win32/sorted_rows.h"

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <utility>

namespace quillnet {

int SortedRows::RowAt(int viewIndex) const {
  if (viewIndex < 0 || viewIndex >= m_count) return -1;
  return m_order.empty() ? viewIndex : m_order[static_cast<std::size_t>(viewIndex)];
}

int SortedRows::ViewIndexOf(int row) const {
  if (row < 0 || row >= m_count) return -1;
  return m_position.empty() ? row : m_position[static_cast<std::size_t>(row)];
}

void SortedRows::Inserted(int first, int count) {
  m_count += count;
  if (m_sortColumn < 0) return;
  // The rows below moved down; the new ones are shown last until the order is made anew.
  for (int& row : m_order) {
    if (row >= first) row += count;
  }
  for (int row = first; row < first + count; ++row) m_order.push_back(row);
  m_position.assign(static_cast<std::size_t>(m_count), 0);
  for (std::size_t view = 0; view < m_order.size(); ++view) {
    m_position[static_cast<std::size_t>(m_order[view])] = static_cast<int>(view);
  }
  m_dirty = true;
}

void SortedRows::Changed(int /*row*/, int firstColumn, int lastColumn) {
  if (m_sortColumn >= firstColumn && m_sortColumn <= lastColumn) m_dirty = true;
}

void SortedRows::Reset() {
  m_count = m_rows != nullptr ? m_rows->RowCount() : 0;
  m_order.clear();
  m_position.clear();
  m_dirty = m_sortColumn >= 0;
  Resort();
}

void SortedRows::SortBy(int column) {
  m_ascending = column == m_sortColumn ? !m_ascending : true;
  m_sortColumn = column;
  m_dirty = true;
  Resort();
}

bool SortedRows::Less(int left, int right) const {
  const std::string a = m_rows->Cell(left, m_sortColumn);
  const std::string b = m_rows->Cell(right, m_sortColumn);
  if (m_rows->IsNumeric(m_sortColumn)) {
    const long long x = std::atoll(a.c_str());
    const long long y = std::atoll(b.c_str());
    if (x != y) return m_ascending ? x < y : x > y;
  } else if (a != b) {
    return m_ascending ? a < b : a > b;
  }
  // Equal keys keep the rows' own order, whichever way the list is sorted.
  return left < right;
}

bool SortedRows::Resort() {
  if (!m_dirty || m_rows == nullptr || m_sortColumn < 0) return false;
  m_dirty = false;
  std::vector<int> order(static_cast<std::size_t>(m_count));
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [this](int left, int right) { return Less(left, right); });
  if (order == m_order) return false;
  m_order = std::move(order);
  m_position.assign(static_cast<std::size_t>(m_count), 0);
  for (std::size_t view = 0; view < m_order.size(); ++view) {
    m_position[static_cast<std::size_t>(m_order[view])] = static_cast<int>(view);
  }
  return true;
}

}  // namespace quillnet
