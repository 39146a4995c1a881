#include "pages/device_list.h"

#include <algorithm>
#include <iterator>
#include <tuple>

#include "bootp/bootp_server.h"

namespace quillnet {
namespace {

constexpr const char* kColumnTitles[] = {"MAC Address", "Count", "Last Request Time", "Vendor",
                                         "Relay Agent"};
// Wide enough for each header with the sort arrow beside it, and for the widest value; a
// maker's name longer than its column is cut short, and the list scrolls sideways to the relay
// agent.
constexpr int kColumnWidths[] = {78, 44, 82, 120, 72};
static_assert(std::size(kColumnTitles) == CDeviceList::kColumnCount);
static_assert(std::size(kColumnWidths) == CDeviceList::kColumnCount);

}  // namespace

std::string CDeviceList::ColumnTitle(int column) const {
  return column >= 0 && column < kColumnCount ? kColumnTitles[column] : std::string();
}

int CDeviceList::ColumnWidth(int column) const {
  return column >= 0 && column < kColumnCount ? kColumnWidths[column] : 0;
}

std::string CDeviceList::Cell(int row, int column) const {
  if (row < 0 || row >= RowCount()) return {};
  const Row& entry = m_rows[static_cast<std::size_t>(row)];
  switch (column) {
    case kMacColumn:
      return entry.mac;
    case kCountColumn:
      return entry.count;
    case kTimeColumn:
      return entry.time;
    case kVendorColumn:
      return entry.vendor;
    case kRelayColumn:
      return entry.relay;
    default:
      return {};
  }
}

bool CDeviceList::IsVendorMac(const std::string& macText) {
  return std::any_of(std::begin(kVendorPrefixes), std::end(kVendorPrefixes),
                     [&](const char* prefix) { return macText.starts_with(prefix); });
}

bool CDeviceList::Passes(const std::string& mac, bool valid) const {
  if (m_vendorOnly && !IsVendorMac(mac)) return false;
  return !m_validOnly || valid;
}

void CDeviceList::Reset(const BootPServer& server, bool vendorOnly, bool validOnly,
                        PageHost& host, int listId) {
  m_rows.clear();
  m_revision = 0;
  m_vendorOnly = vendorOnly;
  m_validOnly = validOnly;
  host.ListReset(listId);
  Refresh(server, host, listId);
}

std::string CDeviceList::VendorText(DeviceKey key, bool& pending) const {
  if (!m_vendors) return {};
  const VendorLookup vendor = m_vendors(key);
  // Until the registries are read the cell stays empty, and is filled in then.
  if (vendor.status == VendorStatus::kNotLoaded) {
    pending = true;
    return {};
  }
  return vendor.text;
}

void CDeviceList::RefreshVendors(PageHost& host, int listId) {
  if (!m_vendorsPending || !m_vendors) return;
  bool pending = false;
  for (std::size_t index = 0; index < m_rows.size() && !pending; ++index) {
    Row& row = m_rows[index];
    std::string vendor = VendorText(row.key, pending);
    if (pending || vendor == row.vendor) continue;
    row.vendor = std::move(vendor);
    host.ListRowChanged(listId, static_cast<int>(index), kVendorColumn, kVendorColumn);
  }
  m_vendorsPending = pending;
}

void CDeviceList::Refresh(const BootPServer& server, PageHost& host, int listId) {
  RefreshVendors(host, listId);
  if (!server.IsTableUpdated()) return;
  std::vector<BootPServer::DeviceRow> changed;
  m_revision = server.GetChangedRows(m_revision, changed);
  if (changed.empty()) return;
  std::sort(changed.begin(), changed.end(),
            [](const BootPServer::DeviceRow& a, const BootPServer::DeviceRow& b) {
              return a.row < b.row;
            });

  // Rows already listed get their cells rewritten; new ones are collected with the position
  // they take among the present rows. Table rows only ever pass a filter from some point on
  // (validity does not go back), so the present rows stay in table order.
  struct Insertion {
    std::size_t before;
    Row row;
  };
  std::vector<Insertion> insertions;
  for (const BootPServer::DeviceRow& device : changed) {
    if (device.macText.empty() || !Passes(device.macText, device.valid)) continue;
    const int tableRow = device.row;
    Row fresh{tableRow,
              device.key,
              device.macText,
              std::to_string(device.count),
              BootPServer::RequestTimeText(device.lastTime),
              {},
              BootPServer::RelayText(device.relay)};
    const auto at = std::lower_bound(m_rows.begin(), m_rows.end(), tableRow,
                                     [](const Row& row, int key) { return row.tableRow < key; });
    const auto position = static_cast<std::size_t>(at - m_rows.begin());
    if (at != m_rows.end() && at->tableRow == tableRow) {
      // A listed row keeps its maker: its MAC address does not change.
      int first = kColumnCount;
      int last = -1;
      for (const auto& [column, cell, text] :
           {std::tuple{kCountColumn, &at->count, &fresh.count},
            std::tuple{kTimeColumn, &at->time, &fresh.time},
            std::tuple{kRelayColumn, &at->relay, &fresh.relay}}) {
        if (*cell == *text) continue;
        *cell = *text;
        first = std::min(first, static_cast<int>(column));
        last = std::max(last, static_cast<int>(column));
      }
      if (last >= 0) host.ListRowChanged(listId, static_cast<int>(position), first, last);
    } else {
      fresh.vendor = VendorText(fresh.key, m_vendorsPending);
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
    std::vector<Row> run;
    run.reserve(count);
    for (std::size_t each = first; each < end; ++each) run.push_back(std::move(insertions[each].row));
    m_rows.insert(m_rows.begin() + static_cast<std::ptrdiff_t>(at),
                  std::make_move_iterator(run.begin()), std::make_move_iterator(run.end()));
    host.ListRowsInserted(listId, static_cast<int>(at), static_cast<int>(count));
    shift += count;
    first = end;
  }
}

}  // namespace quillnet
