#include "platform/local_time.h"

#include <time.h>

namespace quillnet {

std::int64_t CurrentUnixTime() { return static_cast<std::int64_t>(::time(nullptr)); }

std::string FormatLocalTime(std::int64_t seconds, const char* format) {
  const time_t value = static_cast<time_t>(seconds);
  tm local{};
  if (::localtime_r(&value, &local) == nullptr) return {};
  char text[64] = {};
  const std::size_t length = ::strftime(text, sizeof text, format, &local);
  return std::string(text, length);
}

}  // namespace quillnet
