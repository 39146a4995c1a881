#pragma once

#include <atomic>

namespace quillnet {

class BootPServer;

// What the Listen page and the thread that runs the server's receive loop share. One set per
// run of the wizard, kept by the shared state (CBootpWizardInfo), which also owns the thread.
struct ListenWorkerFlags {
  // The server the worker services; null stops its calls into the server.
  std::atomic<BootPServer*> server{nullptr};
  // Set only by the shared state when it ends the run.
  std::atomic<bool> stop{false};
  // Set by the page just before it starts a worker; cleared by the worker when it ends, so a
  // later visit of the page starts a new one.
  std::atomic<bool> running{false};
  // Set by the worker once the server listens; cleared with `running`.
  std::atomic<bool> ready{false};
};

// The worker's body: starts the server unless it listens already, then receives and answers
// one batch of requests after another. It ends when `flags.stop` is set, when the server fails
// to start, or when the server no longer listens (it was stopped); then `running` and `ready`
// are false, and the next worker tries to start the server again.
void ListenThreadProc(ListenWorkerFlags& flags);

}  // namespace quillnet
