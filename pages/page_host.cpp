#include "pages/page_host.h"

#include <algorithm>

namespace quillnet {
namespace {

constexpr int kMaxPart = 255;
constexpr std::size_t kPartDigits = 3;

}  // namespace

std::string IpEntry::Text() const {
  if (std::none_of(parts.begin(), parts.end(), [](const auto& part) { return part.has_value(); })) {
    return {};
  }
  std::string text;
  for (std::size_t index = 0; index < parts.size(); ++index) {
    if (index > 0) text += '.';
    if (parts[index]) text += std::to_string(*parts[index]);
  }
  return text;
}

IpEntry IpEntry::FromText(const std::string& text) {
  IpEntry entry;
  std::size_t start = 0;
  for (std::size_t index = 0; index < entry.parts.size() && start <= text.size(); ++index) {
    const std::size_t dot = std::min(text.find('.', start), text.size());
    int value = 0;
    std::size_t digits = 0;
    for (std::size_t at = start; at < dot && digits < kPartDigits; ++at, ++digits) {
      if (text[at] < '0' || text[at] > '9') break;
      value = value * 10 + (text[at] - '0');
    }
    if (digits > 0) entry.parts[index] = std::min(value, kMaxPart);
    start = dot + 1;
  }
  return entry;
}

}  // namespace quillnet
