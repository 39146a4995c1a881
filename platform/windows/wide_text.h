#pragma once

#include <string>
#include <string_view>

// Texts cross into the Windows API as UTF-16 and come back as UTF-8, the program's one
// encoding.
namespace quillnet {

// UTF-8 to UTF-16; bytes that are not UTF-8 become U+FFFD.
std::wstring WideText(std::string_view text);
// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf8Text(std::wstring_view text);

// The system's message for a Win32 or Winsock error code, in UTF-8 without the trailing line
// break; "" when it has none.
std::string SystemErrorText(unsigned long code);

}  // namespace quillnet
