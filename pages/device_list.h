#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pages/page_host.h"
#include "vendors/vendor_table.h"

namespace quillnet {

class BootPServer;

// The Listen page's list: the devices of the server's request table that pass the filters, in
// table order (the order in which they were first heard), with their request count, the time
// of their last request, their maker (from the first half of the MAC address) and the relay
// agent it came through (empty for a device on one of this PC's networks).
//
// A refresh only inserts rows and rewrites the cells that changed, and tells the list control
// which, so that the control keeps its selection and scroll position, and a selected device
// stays selected when a device heard earlier is inserted above it. A refresh costs time in
// proportion to the rows the server changed since the last one.
class CDeviceList final : public ListRows {
 public:
  // The maker comes after what tells the devices apart as they ask, so that those stay in
  // sight; its names may be long.
  enum Column { kMacColumn, kCountColumn, kTimeColumn, kVendorColumn, kRelayColumn, kColumnCount };
  // Who made a device; "" until the makers are known.
  using VendorLookupFn = std::function<VendorLookup(DeviceKey)>;

  // MAC prefixes of the maker's devices, tested in this order.
  static constexpr const char* kVendorPrefixes[] = {"0a:5c:31:", "0a:5c:32:"};

  int ColumnCount() const override { return kColumnCount; }
  std::string ColumnTitle(int column) const override;
  int ColumnWidth(int column) const override;
  int RowCount() const override { return static_cast<int>(m_rows.size()); }
  std::string Cell(int row, int column) const override;
  bool IsNumeric(int column) const override { return column == kCountColumn; }

  // Where the makers' names come from; none: the column stays empty.
  void SetVendors(VendorLookupFn lookup) { m_vendors = std::move(lookup); }
  // Brings the rows up to date with the server's table and tells `host`'s list `listId`. Once
  // the makers' registries are read, the names of the rows listed before come too.
  void Refresh(const BootPServer& server, PageHost& host, int listId);
  // Removes every row and refills the list from the whole table under the new filters.
  void Reset(const BootPServer& server, bool vendorOnly, bool validOnly, PageHost& host,
             int listId);

  static bool IsVendorMac(const std::string& macText);

 private:
  struct Row {
    int tableRow = 0;
    DeviceKey key = 0;
    std::string mac;
    std::string count;
    std::string time;
    std::string vendor;
    std::string relay;
  };
  // The maker's name as the cell shows it; whether it is known yet.
  std::string VendorText(DeviceKey key, bool& pending) const;
  // Rewrites the makers' names of rows listed while the registries were being read.
  void RefreshVendors(PageHost& host, int listId);

  bool Passes(const std::string& mac, bool valid) const;

  std::vector<Row> m_rows;
  // The server's table revision that the rows reflect.
  std::uint64_t m_revision = 0;
  bool m_vendorOnly = false;
  bool m_validOnly = true;
  VendorLookupFn m_vendors;
  // Rows were listed before the makers were known.
  bool m_vendorsPending = false;
};

}  // namespace quillnet
