#include "pages/device_list_model.h"

#include <algorithm>
#include <string>
#include <tuple>

#include "bootp/bootp_server.h"
#include "wizard/dialog_template.h"

namespace quillnet {

int CDeviceListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CDeviceListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant CDeviceListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != kSortRole) return {};
  const Row& row = m_rows[static_cast<std::size_t>(index.row())];
  switch (index.column()) {
    case kMacColumn:
      return row.mac;
    case kCountColumn:
      return role == kSortRole ? QVariant(row.count.toInt()) : QVariant(row.count);
    case kTimeColumn:
      return row.time;
    default:
      return {};
  }
}

QVariant CDeviceListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case kMacColumn:
      return QStringLiteral("MAC Address");
    case kCountColumn:
      return QStringLiteral("Count");
    case kTimeColumn:
      return QStringLiteral("Last Request Time");
    default:
      return {};
  }
}

bool CDeviceListModel::IsVendorMac(const std::string& macText) {
  return std::any_of(std::begin(kVendorPrefixes), std::end(kVendorPrefixes),
                     [&](const char* prefix) { return macText.starts_with(prefix); });
}

bool CDeviceListModel::Passes(const BootPServer& server, int tableRow,
                              const std::string& mac) const {
  if (m_vendorOnly && !IsVendorMac(mac)) return false;
  return !m_validOnly || server.IsValid(tableRow);
}

void CDeviceListModel::Reset(const BootPServer& server, bool vendorOnly, bool validOnly) {
  beginResetModel();
  m_rows.clear();
  m_revision = 0;
  m_vendorOnly = vendorOnly;
  m_validOnly = validOnly;
  endResetModel();
  Refresh(server);
}

void CDeviceListModel::Refresh(const BootPServer& server) {
  if (!server.IsTableUpdated()) return;
  std::vector<int> changed;
  m_revision = server.GetChangedRows(m_revision, changed);
  if (changed.empty()) return;
  std::sort(changed.begin(), changed.end());

  // Rows already listed get their cells rewritten; new ones are collected with the position
  // they take among the present rows. Table rows only ever pass a filter from some point on
  // (validity does not go back), so the present rows stay in table order.
  struct Insertion {
    std::size_t before;
    Row row;
  };
  std::vector<Insertion> insertions;
  for (const int tableRow : changed) {
    const std::string mac = server.GetMacText(tableRow);
    if (mac.empty() || !Passes(server, tableRow, mac)) continue;
    Row fresh{tableRow, Latin1(mac), QString::number(server.GetCount(tableRow)),
              Latin1(server.GetLastRequestTimeText(tableRow))};
    const auto at = std::lower_bound(m_rows.begin(), m_rows.end(), tableRow,
                                     [](const Row& row, int key) { return row.tableRow < key; });
    const auto position = static_cast<std::size_t>(at - m_rows.begin());
    if (at != m_rows.end() && at->tableRow == tableRow) {
      int first = kColumnCount;
      int last = -1;
      for (const auto& [column, cell, text] :
           {std::tuple{kCountColumn, &at->count, &fresh.count},
            std::tuple{kTimeColumn, &at->time, &fresh.time}}) {
        if (*cell == *text) continue;
        *cell = *text;
        first = std::min(first, static_cast<int>(column));
        last = std::max(last, static_cast<int>(column));
      }
      if (last >= 0) {
        const int row = static_cast<int>(position);
        emit dataChanged(index(row, first), index(row, last));
      }
    } else {
      insertions.push_back({position, std::move(fresh)});
    }
  }

  // Insert in runs: rows that land between the same two present rows go in at once.
  std::size_t shift = 0;
  for (std::size_t first = 0; first < insertions.size();) {
    std::size_t end = first + 1;
    while (end < insertions.size() && insertions[end].before == insertions[first].before) ++end;
    const std::size_t at = insertions[first].before + shift;
    const auto count = end - first;
    beginInsertRows(QModelIndex(), static_cast<int>(at), static_cast<int>(at + count - 1));
    std::vector<Row> run;
    run.reserve(count);
    for (std::size_t each = first; each < end; ++each) run.push_back(std::move(insertions[each].row));
    m_rows.insert(m_rows.begin() + static_cast<std::ptrdiff_t>(at),
                  std::make_move_iterator(run.begin()), std::make_move_iterator(run.end()));
    endInsertRows();
    shift += count;
    first = end;
  }
}

}  // namespace quillnet
