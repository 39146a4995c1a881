#pragma once

#include <QAbstractTableModel>

#include "pages/page_host.h"

namespace quillnet {

// The rows of a page's list as Qt's views read them. The page has changed its rows already
// when it tells of a change, so the model keeps the row count the views have been told.
class RowsModel final : public QAbstractTableModel {
 public:
  RowsModel(const ListRows& rows, QObject* parent);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  void Inserted(int first, int count);
  void Changed(int row, int firstColumn, int lastColumn);
  void Reset();

 private:
  const ListRows& m_rows;
  int m_count;
};

}  // namespace quillnet
