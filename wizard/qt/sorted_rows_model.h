#pragma once

#include <QSortFilterProxyModel>

#include "pages/list_sort.h"
#include "pages/page_host.h"

namespace quillnet {

// A page's list in the order a click on a column's header chose (ListSort), the rows' own order
// until then. Qt keeps the order as rows come and change, and the selection on its row.
class SortedRowsModel final : public QSortFilterProxyModel {
 public:
  SortedRowsModel(const ListRows& rows, QObject* parent);

  const ListSort& Sort() const { return m_sort; }
  Qt::SortOrder Order() const;
  // A click on `column`'s header.
  void Click(int column);

 protected:
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

 private:
  const ListRows& m_rows;
  ListSort m_sort;
};

}  // namespace quillnet
