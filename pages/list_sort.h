#pragma once

#include <vector>

#include "pages/page_host.h"

namespace quillnet {

// The order a list's rows are shown in once the user has clicked a column's header, the same in
// every frame. A numeric column (ListRows::IsNumeric: the request count) sorts by its numbers'
// values, 10 after 9; any other by its text, byte by byte: the MAC address, the relay agent,
// and the time of the last request, whose "HH:MM:SS" sorts as the day runs. Rows whose cells
// are equal keep the rows' own order (the order the devices were first heard in) whichever way
// the list is sorted, so the order never depends on the clicks that came before.
struct ListSort {
  // -1: not sorted; the rows' own order.
  int column = -1;
  bool ascending = true;

  // After a click on `clicked`'s header: sorted by it, ascending at first, the other way on a
  // second click.
  ListSort Clicked(int clicked) const;
  // Whether row `left` of `rows` is shown above row `right`.
  bool ShowsBefore(const ListRows& rows, int left, int right) const;
  // Puts the row numbers in `order` in the order they are shown.
  void Sort(const ListRows& rows, std::vector<int>& order) const;

  bool operator==(const ListSort&) const = default;
};

}  // namespace quillnet
