#include "wizard/win32/sorted_rows.h"

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
  if (m_sort.column < 0) return;
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
  if (m_sort.column >= firstColumn && m_sort.column <= lastColumn) m_dirty = true;
}

void SortedRows::Reset() {
  m_count = m_rows != nullptr ? m_rows->RowCount() : 0;
  m_order.clear();
  m_position.clear();
  m_dirty = m_sort.column >= 0;
  Resort();
}

void SortedRows::SortBy(int column) {
  m_sort = m_sort.Clicked(column);
  m_dirty = true;
  Resort();
}

bool SortedRows::Resort() {
  if (!m_dirty || m_rows == nullptr || m_sort.column < 0) return false;
  m_dirty = false;
  std::vector<int> order(static_cast<std::size_t>(m_count));
  std::iota(order.begin(), order.end(), 0);
  m_sort.Sort(*m_rows, order);
  if (order == m_order) return false;
  m_order = std::move(order);
  m_position.assign(static_cast<std::size_t>(m_count), 0);
  for (std::size_t view = 0; view < m_order.size(); ++view) {
    m_position[static_cast<std::size_t>(m_order[view])] = static_cast<int>(view);
  }
  return true;
}

}  // namespace quillnet
