#pragma once

#include <chrono>

namespace quillnet {

// Waits until `socket` has something to read or `deadline` passes, through interruptions by
// signals: 1 when it has, 0 when the deadline came first, -1 with errno set when the wait
// failed.
int WaitReadable(int socket, std::chrono::steady_clock::time_point deadline);

}  // namespace quillnet
