#pragma once

#include <windows.h>

#include <string>

namespace quillnet {

// The summaries' font: 10-point Arial.
inline constexpr int kSummaryPoints = 10;

// The program's own module, which holds its resources.
HMODULE Module();

std::wstring WindowText(HWND window);

}  // namespace quillnet
