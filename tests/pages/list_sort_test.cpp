// The device list's sort rule, as both frames show it: which way each column sorts, where
// equal rows go, and what a click on a header does.
#include "pages/list_sort.h"

#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <string>
#include <vector>

#include "pages/device_list.h"

namespace quillnet {
namespace {

// Rows in the device list's columns, in the order the devices were first heard.
class Rows final : public ListRows {
 public:
  using Row = std::array<std::string, CDeviceList::kColumnCount>;
  explicit Rows(std::vector<Row> rows) : m_rows(std::move(rows)) {}

  int ColumnCount() const override { return CDeviceList::kColumnCount; }
  std::string ColumnTitle(int) const override { return {}; }
  int ColumnWidth(int) const override { return 0; }
  int RowCount() const override { return static_cast<int>(m_rows.size()); }
  std::string Cell(int row, int column) const override {
    return m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
  }
  bool IsNumeric(int column) const override { return column == CDeviceList::kCountColumn; }

 private:
  std::vector<Row> m_rows;
};

std::vector<int> Shown(const ListSort& sort, const ListRows& rows) {
  std::vector<int> order(static_cast<std::size_t>(rows.RowCount()));
  std::iota(order.begin(), order.end(), 0);
  sort.Sort(rows, order);
  return order;
}

TEST(ListSort, EachColumnSortsItsOwnWayAndEqualRowsKeepTheOrderTheyWereHeardIn) {
  const Rows rows({
      {"02:00:5e:00:00:0b", "9", "10:00:01", "locally administered", ""},
      {"02:00:5e:00:00:0a", "10", "09:59:59", "locally administered", "10.1.0.1"},
      {"00:00:bc:00:00:01", "9", "10:00:01", "Rockwell Automation", "10.0.9.1"},
      {"00:0e:8c:00:00:0c", "1", "23:00:00", "Siemens AG", ""},
  });
  struct Case {
    const char* what;
    ListSort sort;
    std::vector<int> shown;
  };
  const Case cases[] = {
      {"not sorted", {}, {0, 1, 2, 3}},
      {"MAC ascending", {CDeviceList::kMacColumn, true}, {2, 3, 1, 0}},
      {"MAC descending", {CDeviceList::kMacColumn, false}, {0, 1, 3, 2}},
      // As numbers: 10 after 9, where text would put "10" before "9".
      {"count ascending", {CDeviceList::kCountColumn, true}, {3, 0, 2, 1}},
      {"count descending", {CDeviceList::kCountColumn, false}, {1, 0, 2, 3}},
      {"time ascending", {CDeviceList::kTimeColumn, true}, {1, 0, 2, 3}},
      {"time descending", {CDeviceList::kTimeColumn, false}, {3, 0, 2, 1}},
      {"vendor ascending", {CDeviceList::kVendorColumn, true}, {2, 3, 0, 1}},
      {"vendor descending", {CDeviceList::kVendorColumn, false}, {0, 1, 3, 2}},
      // A device on this PC's networks has no relay agent: first going up, last going down.
      {"relay ascending", {CDeviceList::kRelayColumn, true}, {0, 3, 2, 1}},
      {"relay descending", {CDeviceList::kRelayColumn, false}, {1, 2, 0, 3}},
  };
  for (const Case& each : cases) {
    EXPECT_EQ(Shown(each.sort, rows), each.shown) << each.what;
    for (std::size_t at = 0; at + 1 < each.shown.size(); ++at) {
      const int upper = each.shown[at];
      const int lower = each.shown[at + 1];
      EXPECT_TRUE(each.sort.ShowsBefore(rows, upper, lower)) << each.what;
      EXPECT_FALSE(each.sort.ShowsBefore(rows, lower, upper)) << each.what;
    }
  }
}

TEST(ListSort, AClickSortsByItsColumnAscendingFirstAndASecondClickTurnsTheOrder) {
  struct Case {
    std::vector<int> clicks;
    ListSort sort;
  };
  const Case cases[] = {
      {{}, {-1, true}},
      {{1}, {1, true}},
      {{1, 1}, {1, false}},
      {{1, 1, 1}, {1, true}},
      // Another column starts ascending, whichever way the last one went.
      {{1, 1, 0}, {0, true}},
      {{1, 0, 1}, {1, true}},
  };
  for (const Case& each : cases) {
    ListSort sort;
    for (const int column : each.clicks) sort = sort.Clicked(column);
    EXPECT_EQ(sort, each.sort) << ::testing::PrintToString(each.clicks);
  }
}

}  // namespace
}  // namespace quillnet
