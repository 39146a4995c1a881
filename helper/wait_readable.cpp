#include "helper/wait_readable.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace quillnet {

int WaitReadable(int socket, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const int wait =
        static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INT_MAX));
    pollfd entry{socket, POLLIN, 0};
    const int ready = ::poll(&entry, 1, wait);
    if (ready < 0 && errno == EINTR) continue;
    return ready < 0 ? -1 : ready;
  }
}

}  // namespace quillnet
