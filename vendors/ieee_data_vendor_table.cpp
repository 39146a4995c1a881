// Linux: Debian's ieee-data package holds the registries as CSV files.
#include <cerrno>

#include "platform/file_read.h"
#include "vendors/vendor_table.h"

namespace quillnet {
namespace {

// oui.csv is about 3 MB; a file far beyond that is not a registry.
constexpr std::size_t kRegistryLimit = 64 * 1024 * 1024;
// The older IAB's prefixes are 36 bits long, as MA-S's.
constexpr const char* kRegistryFiles[] = {"oui36.csv", "iab.csv", "mam.csv", "oui.csv"};

}  // namespace

bool LoadSystemVendorTable(VendorTable& table, std::string& why, const std::string& folder) {
  bool any = false;
  for (const char* name : kRegistryFiles) {
    std::string text;
    if (ReadFileUpTo(folder + "/" + name, kRegistryLimit, text) != 0) continue;
    table.AddCsv(text);
    any = true;
  }
  if (!any) {
    why = "The IEEE registries are not in " + folder +
          ": install them with \"apt install ieee-data\" (as root).";
  }
  return any;
}

}  // namespace quillnet
