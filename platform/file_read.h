#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

namespace quillnet {

// When a read that waits (on a pipe whose writer is slow) gives up.
struct ReadLimits {
  const std::atomic<bool>* cancel = nullptr;  // set: give up (EINTR)
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
};

// Reads the file at `path` (UTF-8) into `text`, byte for byte and at most `limit` bytes, so
// that a caller can refuse a larger one (or a device such as /dev/zero) without reading it
// all. A pipe or FIFO is read until its writer closes it, never waiting past `limits`: EINTR
// when cancelled, ETIMEDOUT at the deadline; a FIFO whose writer has not come yet is waited
// for within the same limits (the open itself never blocks). Returns 0,
// or why it failed as a POSIX errno value (ENOENT, EISDIR, EACCES ...), which callers put in
// words the same way on every system; `text` is then empty.
int ReadFileUpTo(const std::string& path, std::size_t limit, std::string& text,
                 const ReadLimits& limits = {});

}  // namespace quillnet
