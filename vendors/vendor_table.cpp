#include "vendors/vendor_table.h"

#include <algorithm>
#include <charconv>

#include "csv/csv.h"

namespace quillnet {
namespace {

constexpr std::size_t kRegistryColumns = 4;
constexpr std::size_t kAssignmentColumn = 1;
constexpr std::size_t kNameColumn = 2;

int LengthIndex(int bits) {
  for (std::size_t index = 0; index < std::size(kPrefixBits); ++index) {
    if (kPrefixBits[index] == bits) return static_cast<int>(index);
  }
  return -1;
}

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::uint32_t VendorTable::NameIndex(std::string_view name) {
  const auto [found, added] =
      m_index.try_emplace(std::string(name), static_cast<std::uint32_t>(m_nameStarts.size()));
  if (added) {
    m_nameStarts.push_back(static_cast<std::uint32_t>(m_names.size()));
    m_names += name;
  }
  return found->second;
}

bool VendorTable::Add(int bits, std::uint64_t prefix, std::string_view name) {
  const int index = LengthIndex(bits);
  if (index < 0 || prefix >> bits != 0) return false;
  m_entries[index].push_back({prefix, NameIndex(name)});
  return true;
}

std::size_t VendorTable::AddCsv(std::string_view text) {
  std::size_t skipped = 0;
  std::vector<std::string> fields;
  bool first = true;
  while (!text.empty()) {
    const bool parsed = ReadCsvRecord(text, fields);
    if (first && parsed && !fields.empty() && fields[0] == "Registry") {
      first = false;
      continue;
    }
    first = false;
    if (!parsed || fields.size() != kRegistryColumns) {
      ++skipped;
      continue;
    }
    const std::string_view digits = Trimmed(fields[kAssignmentColumn]);
    std::uint64_t prefix = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), prefix, 16);
    const std::string_view name = Trimmed(fields[kNameColumn]);
    if (error != std::errc() || end != digits.data() + digits.size() || name.empty() ||
        !Add(static_cast<int>(digits.size()) * 4, prefix, name)) {
      ++skipped;
    }
  }
  return skipped;
}

void VendorTable::Finish() {
  for (auto& entries : m_entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.prefix < b.prefix; });
    // A prefix listed twice keeps its first maker.
    entries.erase(std::unique(entries.begin(), entries.end(),
                              [](const Entry& a, const Entry& b) { return a.prefix == b.prefix; }),
                  entries.end());
    entries.shrink_to_fit();
  }
  m_index = {};
}

std::string_view VendorTable::Find(DeviceKey key) const {
  for (std::size_t index = 0; index < std::size(kPrefixBits); ++index) {
    const std::uint64_t prefix = (key & ((DeviceKey{1} << kMacBits) - 1)) >>
                                 (kMacBits - kPrefixBits[index]);
    const auto& entries = m_entries[index];
    const auto found = std::lower_bound(
        entries.begin(), entries.end(), prefix,
        [](const Entry& entry, std::uint64_t value) { return entry.prefix < value; });
    if (found == entries.end() || found->prefix != prefix) continue;
    const std::size_t start = m_nameStarts[found->name];
    const std::size_t end =
        found->name + 1 < m_nameStarts.size() ? m_nameStarts[found->name + 1] : m_names.size();
    return std::string_view(m_names).substr(start, end - start);
  }
  return {};
}

std::size_t VendorTable::Size() const {
  std::size_t size = 0;
  for (const auto& entries : m_entries) size += entries.size();
  return size;
}

void Vendors::Load(const std::string& folder) {
  VendorTable table;
  std::string why;
  if (!LoadSystemVendorTable(table, why, folder)) {
    std::lock_guard lock(m_mutex);
    m_unavailable = why;
    return;
  }
  Load(std::move(table));
}

void Vendors::Load(VendorTable table) {
  table.Finish();
  auto loaded = std::make_shared<const VendorTable>(std::move(table));
  std::lock_guard lock(m_mutex);
  m_table = std::move(loaded);
  m_unavailable.clear();
}

VendorLookup Vendors::Lookup(DeviceKey key) const {
  if ((key & kLocallyAdministeredBit) != 0) {
    return {VendorStatus::kLocallyAdministered, "locally administered"};
  }
  std::shared_ptr<const VendorTable> table;
  {
    std::lock_guard lock(m_mutex);
    if (!m_unavailable.empty()) return {VendorStatus::kUnavailable, "registries not available"};
    table = m_table;
  }
  if (!table) return {VendorStatus::kNotLoaded, "not loaded yet"};
  const std::string_view name = table->Find(key);
  if (name.empty()) return {VendorStatus::kUnknown, "unknown"};
  return {VendorStatus::kFound, std::string(name)};
}

std::string Vendors::Unavailable() const {
  std::lock_guard lock(m_mutex);
  return m_unavailable;
}

}  // namespace quillnet
