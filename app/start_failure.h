#pragma once

#include <string>

namespace quillnet {

class BootPServer;

// Why the server could not start, with what this PC can tell that fixes it: decided once, for
// the wizard's Failure page and for `quillnet-cli`, which each say it in their own words.
struct StartFailure {
  enum class Kind {
    kNone,        // it started, or its message is not of a failed start
    kPortInUse,   // another program holds UDP port 67
    // The system refused the port to this program, where any program may bind it: another
    // program holds it exclusively, or the system keeps it for itself.
    kPortRefused,
    // The port needs a privilege, and quillnet-net-helper, which holds it, could not open the
    // port either.
    kNeedsHelper,
    kOther,  // any other failure: the server's message says it
  };
  Kind kind = Kind::kNone;
  std::string message;  // the server's own text
  // kPortInUse, kPortRefused: who holds the port, "name (pid N)" each; "" when none was found.
  std::string holders;
  // kNeedsHelper: what quillnet-net-helper says it lacks; "" when it could not be asked.
  std::string helperFailure;
};

// What the server's last start came to; kNone while it has not failed.
StartFailure DiagnoseStart(const BootPServer& server);

}  // namespace quillnet
