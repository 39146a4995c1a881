#include "wizard/qt/sorted_rows_model.h"

namespace quillnet {

SortedRowsModel::SortedRowsModel(const ListRows& rows, QObject* parent)
    : QSortFilterProxyModel(parent), m_rows(rows) {
  setDynamicSortFilter(true);
}

Qt::SortOrder SortedRowsModel::Order() const {
  return m_sort.ascending ? Qt::AscendingOrder : Qt::DescendingOrder;
}

void SortedRowsModel::Click(int column) {
  m_sort = m_sort.Clicked(column);
  sort(m_sort.column, Order());
}

bool SortedRowsModel::lessThan(const QModelIndex& left, const QModelIndex& right) const {
  // For a descending order Qt asks with the two rows the other way round.
  return m_sort.ascending ? m_sort.ShowsBefore(m_rows, left.row(), right.row())
                          : m_sort.ShowsBefore(m_rows, right.row(), left.row());
}

}  // namespace quillnet
