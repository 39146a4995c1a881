#include "wizard/qt/rows_model.h"

#include "wizard/qt/frame_support.h"

namespace quillnet {

RowsModel::RowsModel(const ListRows& rows, QObject* parent)
    : QAbstractTableModel(parent), m_rows(rows), m_count(rows.RowCount()) {}

int RowsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : m_count;
}

int RowsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : m_rows.ColumnCount();
}

QVariant RowsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= m_count) return {};
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  return Text(m_rows.Cell(index.row(), index.column()));
}

QVariant RowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return Text(m_rows.ColumnTitle(section));
}

void RowsModel::Inserted(int first, int count) {
  beginInsertRows(QModelIndex(), first, first + count - 1);
  m_count += count;
  endInsertRows();
}

void RowsModel::Changed(int row, int firstColumn, int lastColumn) {
  emit dataChanged(index(row, firstColumn), index(row, lastColumn));
}

void RowsModel::Reset() {
  beginResetModel();
  m_count = m_rows.RowCount();
  endResetModel();
}

}  // namespace quillnet
