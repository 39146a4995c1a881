#pragma once

#include <windows.h>

#include <functional>

namespace quillnet {

// Decodes the compressed picture (JPEG, PNG ...) stored as resource `id` of `type` in `module`
// with the Windows Imaging Component, into a bitmap that the caller owns (DeleteObject), of the
// size `size` gives for the stored pixel size; null when it is missing or cannot be decoded.
// COM must be up on the calling thread.
HBITMAP LoadPictureResource(HMODULE module, int id, const wchar_t* type,
                            const std::function<SIZE(SIZE stored)>& size);

}  // namespace quillnet
