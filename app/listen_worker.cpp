#include "app/listen_worker.h"

#include <chrono>
#include <thread>

#include "bootp/bootp_server.h"

namespace quillnet {
namespace {

// Without a server there is nothing to wait in; the loop looks again after this pause.
constexpr auto kNoServerPause = std::chrono::milliseconds(1);

void Ended(ListenWorkerFlags& flags) {
  flags.ready = false;
  flags.running = false;
}

}  // namespace

void ListenThreadProc(ListenWorkerFlags& flags) {
  BootPServer* server = flags.server;
  // Started unless it listens: a server whose start failed (port 67 was taken) is started
  // again, so the page's next visit finds it listening or says why it is not.
  if (server != nullptr && !server->IsRunning() && !server->Start()) {
    Ended(flags);
    return;
  }
  flags.running = true;
  flags.ready = true;
  while (!flags.stop) {
    server = flags.server;
    if (server == nullptr) {
      std::this_thread::sleep_for(kNoServerPause);
      continue;
    }
    // Blocks in the receive until a datagram arrives or the server is stopped; then takes
    // every datagram waiting, so the next pass follows at once.
    server->ServiceOneRequest();
    // A server that no longer listens receives nothing more; ending here lets the page's
    // next visit start it again instead of leaving a loop that spins on a closed socket.
    if (!server->IsRunning()) break;
  }
  Ended(flags);
}

}  // namespace quillnet
