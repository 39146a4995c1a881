#pragma once

#include <cstdint>
#include <string>

namespace quillnet {

// Seconds since 1970-01-01 00:00 UTC, now.
std::int64_t CurrentUnixTime();

// `seconds` as local time through strftime's `format`; at most 63 characters.
std::string FormatLocalTime(std::int64_t seconds, const char* format);

}  // namespace quillnet
