#pragma once

#include <vector>

#include "pages/list_sort.h"
#include "pages/page_host.h"

namespace quillnet {

// An owner-data list view's rows in the order a click on a column's header chose (ListSort);
// the order of `rows` until then. The selection is kept by row of `rows`, so that it stays on its
// device as rows are inserted above it or the order changes.
class SortedRows {
 public:
  void Attach(const ListRows* rows) { m_rows = rows; Reset(); }
  const ListRows* Rows() const { return m_rows; }
  // The row of `rows` shown at `viewIndex`.
  int RowAt(int viewIndex) const;
  // Where row `row` of `rows` is shown; -1 when it is not.
  int ViewIndexOf(int row) const;
  int Count() const { return m_count; }
  // The rows `first` to `first + count - 1` are new; rows from `first` on moved down.
  void Inserted(int first, int count);
  // The cells of `row` changed: it may move when the list is sorted by one of them.
  void Changed(int row, int firstColumn, int lastColumn);
  void Reset();
  // A click on `column`'s header.
  void SortBy(int column);
  const ListSort& Sort() const { return m_sort; }
  // Sorted anew when a change may have moved a row; false when the order stood.
  bool Resort();
  // A change may have moved a row.
  bool NeedsResort() const { return m_dirty; }
  // A resort is queued behind the changes under way.
  bool resortQueued = false;

 private:
  const ListRows* m_rows = nullptr;
  int m_count = 0;
  ListSort m_sort;
  bool m_dirty = false;
  // View index → row, and back; empty while unsorted.
  std::vector<int> m_order;
  std::vector<int> m_position;
};

}  // namespace quillnet
