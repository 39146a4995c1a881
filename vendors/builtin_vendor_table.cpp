// Windows has no registry files: the table generated at build time is carried in the program.
#include "vendors/builtin_vendors.h"
#include "vendors/vendor_table.h"

namespace quillnet {
namespace {

void AddList(VendorTable& table, int bits, const builtin_vendors::PrefixList& list) {
  const std::string_view names = builtin_vendors::Names();
  const auto starts = builtin_vendors::NameStarts();
  for (std::size_t index = 0; index < list.names.size(); ++index) {
    const std::size_t name = list.names[index];
    const std::size_t end = name + 1 < starts.size() ? starts[name + 1] : names.size();
    const std::uint64_t prefix = list.wide.empty() ? list.narrow[index] : list.wide[index];
    table.Add(bits, prefix, names.substr(starts[name], end - starts[name]));
  }
}

}  // namespace

bool LoadSystemVendorTable(VendorTable& table, std::string& /*why*/,
                           const std::string& /*folder*/) {
  AddList(table, 36, builtin_vendors::Prefixes36());
  AddList(table, 28, builtin_vendors::Prefixes28());
  AddList(table, 24, builtin_vendors::Prefixes24());
  return true;
}

}  // namespace quillnet
