#include "app/start_failure.h"

#include "bootp/bootp_server.h"
#include "platform/net_helper.h"
#include "platform/port_owners.h"
#include "platform/winsock_errors.h"

namespace quillnet {

StartFailure DiagnoseStart(const BootPServer& server) {
  StartFailure failure;
  server.GetMessageText(failure.message);
  const int error = server.GetStartError();
  if (failure.message.empty() || error == 0) return failure;
  const auto holders = [] { return PortHoldersText(FindUdpPortOwners(BootPServer::kServerPort)); };
  if (error == kWsaEaddrinuse) {
    failure.kind = StartFailure::Kind::kPortInUse;
    failure.holders = holders();
  } else if (error == kWsaEacces && !NeedsNetHelper()) {
    failure.kind = StartFailure::Kind::kPortRefused;
    failure.holders = holders();
  } else if (error == kWsaEacces) {
    // Refused the port, the program asked quillnet-net-helper, which says what it lacks.
    failure.kind = StartFailure::Kind::kNeedsHelper;
    failure.helperFailure = LastPortHelperFailure();
  } else {
    failure.kind = StartFailure::Kind::kOther;
  }
  return failure;
}

}  // namespace quillnet
