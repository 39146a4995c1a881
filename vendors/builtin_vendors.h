#pragma once

// The makers' table built into the Windows programs, generated from the IEEE registries by
// make_vendor_table.py: every name once, and per prefix length the prefixes in ascending order
// beside the index of their maker's name.
#include <cstdint>
#include <span>
#include <string_view>

namespace quillnet::builtin_vendors {

struct PrefixList {
  std::span<const std::uint32_t> narrow;  // prefixes of 24 and 28 bits
  std::span<const std::uint64_t> wide;    // prefixes of 36 bits
  std::span<const std::uint16_t> names;
};

// The names one after the other; NameStarts() gives where each begins.
std::string_view Names();
std::span<const std::uint32_t> NameStarts();
PrefixList Prefixes36();
PrefixList Prefixes28();
PrefixList Prefixes24();

}  // namespace quillnet::builtin_vendors
