// quillnet-net-helper: holds cap_net_bind_service and cap_net_raw so that the Quillnet programs
// need none. It runs one job for the program that started it, over the socket pair on fd 3.
#include <unistd.h>

#include <cstring>

#include "helper/jobs.h"
#include "helper/protocol.h"

namespace {

constexpr int kRefusedStatus = 2;

int Refuse(const char* text) {
  // A person started it by hand; nothing else reads this.
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text, std::strlen(text));
  return kRefusedStatus;
}

}  // namespace

int main(int argc, char**) {
  if (argc != 1 || !quillnet::helper::IsUnixSocket(quillnet::helper::kRequestFd)) {
    return Refuse(
        "quillnet-net-helper is started by the Quillnet programs, which give it a socket on "
        "descriptor 3\n");
  }
  return quillnet::helper::Serve(quillnet::helper::kRequestFd);
}
