#pragma once

#include <cstddef>
#include <string>

namespace quillnet {

// Reads the file at `path` (UTF-8) into `text`, byte for byte and at most `limit` bytes, so
// that a caller can refuse a larger one (or a device such as /dev/zero) without reading it
// all. Returns 0, or why it failed as a POSIX errno value (ENOENT, EISDIR, EACCES ...), which
// callers put in words the same way on every system; `text` is then empty.
int ReadFileUpTo(const std::string& path, std::size_t limit, std::string& text);

}  // namespace quillnet
