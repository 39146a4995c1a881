#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <cstdint>
#include <vector>

namespace quillnet {

class BootPServer;

// The Listen page's list: the devices of the server's request table that pass the filters, in
// table order (the order in which they were first heard), with their request count and the
// time of their last request.
//
// A refresh only inserts rows and rewrites the cells that changed, so a view keeps its
// selection and scroll position, and a selected device stays selected when a device heard
// earlier is inserted above it. A refresh costs time in proportion to the rows the server
// changed since the last one.
class CDeviceListModel : public QAbstractTableModel {
 public:
  enum Column { kMacColumn, kCountColumn, kTimeColumn, kColumnCount };
  // What a column sorts by: the count as a number, the other columns as their text.
  static constexpr int kSortRole = Qt::UserRole;

  // MAC prefixes of the maker's devices, tested in this order.
  static constexpr const char* kVendorPrefixes[] = {"0a:5c:31:", "0a:5c:32:"};

  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Brings the rows up to date with the server's table.
  void Refresh(const BootPServer& server);
  // Removes every row and refills the list from the whole table under the new filters.
  void Reset(const BootPServer& server, bool vendorOnly, bool validOnly);

  static bool IsVendorMac(const std::string& macText);

 private:
  struct Row {
    int tableRow = 0;
    QString mac;
    QString count;
    QString time;
  };

  bool Passes(const BootPServer& server, int tableRow, const std::string& mac) const;

  std::vector<Row> m_rows;
  // The server's table revision that the rows reflect.
  std::uint64_t m_revision = 0;
  bool m_vendorOnly = false;
  bool m_validOnly = true;
};

}  // namespace quillnet
