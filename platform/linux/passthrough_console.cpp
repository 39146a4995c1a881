#include "platform/console.h"

#include <poll.h>
#include <unistd.h>

namespace quillnet {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void UseUtf8Console() {}

bool StandardOutputReaderGone() {
  // A pipe's writing end reports POLLERR once no reader is left; files and terminals never.
  pollfd entry{STDOUT_FILENO, 0, 0};
  return ::poll(&entry, 1, 0) == 1 && (entry.revents & POLLERR) != 0;
}

}  // namespace quillnet
