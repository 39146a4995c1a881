#include "pages/list_sort.h"

#include <algorithm>
#include <charconv>
#include <string>

namespace quillnet {
namespace {

// A numeric cell's value; 0 for a cell that does not start with a number.
long long Number(const std::string& cell) {
  long long value = 0;
  std::from_chars(cell.data(), cell.data() + cell.size(), value);
  return value;
}

}  // namespace

ListSort ListSort::Clicked(int clicked) const {
  return {clicked, clicked == column ? !ascending : true};
}

bool ListSort::ShowsBefore(const ListRows& rows, int left, int right) const {
  if (column >= 0) {
    const std::string a = rows.Cell(left, column);
    const std::string b = rows.Cell(right, column);
    if (rows.IsNumeric(column)) {
      const long long x = Number(a);
      const long long y = Number(b);
      if (x != y) return ascending == (x < y);
    } else if (a != b) {
      return ascending == (a < b);
    }
  }
  return left < right;
}

void ListSort::Sort(const ListRows& rows, std::vector<int>& order) const {
  std::sort(order.begin(), order.end(),
            [&](int left, int right) { return ShowsBefore(rows, left, right); });
}

}  // namespace quillnet
