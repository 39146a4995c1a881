#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace quillnet {

// What to append, given the file's size and its last bytes (at most two; fewer in a shorter
// file), as seen under the lock.
using AppendComposer = std::function<std::string(std::uint64_t size, std::string_view tail)>;

// Appends to the file at `path`, which is made when missing (its folder must exist): takes an
// exclusive lock that every caller of this function honours (flock, LockFileEx), waiting at
// most `lockLimit` for it; asks `compose` for the bytes; writes them with one appending write;
// flushes the file to the disk (fsync, FlushFileBuffers); unlocks. Returns "" or why it failed,
// as the system says it ("Permission denied").
std::string AppendLocked(const std::string& path, const AppendComposer& compose,
                         std::chrono::milliseconds lockLimit);

}  // namespace quillnet
