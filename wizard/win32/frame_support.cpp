#include "wizard/win32/frame_support.h"

#include <algorithm>

namespace quillnet {

HMODULE Module() { return ::GetModuleHandleW(nullptr); }

std::wstring WindowText(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = ::GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(copied, 0)));
  return text;
}

}  // namespace quillnet
