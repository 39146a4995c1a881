#pragma once

// The makers of MAC addresses, from the IEEE registries: MA-S and the older IAB (36-bit
// prefixes), MA-M (28-bit) and MA-L (24-bit), the longest match first.
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "wire/message.h"

namespace quillnet {

// The prefix lengths of the registries, longest first.
inline constexpr int kPrefixBits[] = {36, 28, 24};
inline constexpr int kMacBits = 48;
// Bit 0x02 of the first octet: the address was set locally, not assigned by a maker.
inline constexpr DeviceKey kLocallyAdministeredBit = DeviceKey{0x02} << (kMacBits - 8);

class VendorTable {
 public:
  // One registry file's text (columns Registry, Assignment, Organization Name, Organization
  // Address; a first line naming them is skipped). The assignment's hexadecimal digits give
  // its length: 6, 7 or 9. A line that does not parse is skipped; returns how many were.
  std::size_t AddCsv(std::string_view text);
  // One prefix of `bits` (24, 28 or 36) bits; false for another length.
  bool Add(int bits, std::uint64_t prefix, std::string_view name);
  // Call once every prefix is added, before the first Find.
  void Finish();

  // The maker of the longest prefix that `key` begins with; "" when none does.
  std::string_view Find(DeviceKey key) const;
  std::size_t Size() const;

 private:
  struct Entry {
    std::uint64_t prefix;
    std::uint32_t name;
  };
  std::uint32_t NameIndex(std::string_view name);

  std::vector<Entry> m_entries[std::size(kPrefixBits)];
  // Every name once, one after the other; a name's end is where the next begins.
  std::string m_names;
  std::vector<std::uint32_t> m_nameStarts;
  // While prefixes are added: each name's index.
  std::unordered_map<std::string, std::uint32_t> m_index;
};

// Fills `table` with the registries this system has: on Linux Debian's ieee-data files in
// `folder` (/usr/share/ieee-data by default), on Windows the table built into the program.
// False, with `why` in a sentence that says how to mend it, when none could be read.
bool LoadSystemVendorTable(VendorTable& table, std::string& why,
                           const std::string& folder = "/usr/share/ieee-data");

enum class VendorStatus { kFound, kUnknown, kLocallyAdministered, kNotLoaded, kUnavailable };

struct VendorLookup {
  VendorStatus status = VendorStatus::kNotLoaded;
  // The maker's name; for the other statuses "unknown", "locally administered",
  // "not loaded yet", "registries not available".
  std::string text;
};

// The makers for a program: loaded once, on a thread of the caller's (it takes a moment), and
// looked up from any thread meanwhile, which tells "not loaded yet" until the load is done.
class Vendors {
 public:
  // Reads the system's registries; blocks until they are read.
  void Load(const std::string& folder = "/usr/share/ieee-data");
  // Takes a table made elsewhere.
  void Load(VendorTable table);
  VendorLookup Lookup(DeviceKey key) const;
  // Why the registries could not be read; "" while they are being read or were read.
  std::string Unavailable() const;

 private:
  mutable std::mutex m_mutex;
  std::shared_ptr<const VendorTable> m_table;
  std::string m_unavailable;
};

}  // namespace quillnet
