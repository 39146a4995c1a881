#pragma once

#include <windows.h>

namespace quillnet {

// Decodes the compressed picture (JPEG, PNG ...) stored as resource `id` of `type` in `module`
// with the Windows Imaging Component, into a bitmap of its stored pixel size that the caller
// owns (DeleteObject); null when it is missing or cannot be decoded. COM must be up on the
// calling thread.
HBITMAP LoadPictureResource(HMODULE module, int id, const wchar_t* type);

}  // namespace quillnet
