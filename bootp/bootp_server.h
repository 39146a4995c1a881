#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "bootp/message.h"
#include "platform/network_info.h"
#include "platform/socket_api.h"

namespace quillnet {

// The BOOTP server of one run: the listening socket on port 67, the table of devices heard,
// and the one armed reply. Every operation takes the server's lock, so the worker thread
// that calls ServiceOneRequest and the user-interface thread that reads the table and arms
// the server may call it at the same time. The blocking receive runs without the lock.
class BootPServer {
 public:
  static constexpr std::uint16_t kServerPort = 67;
  static constexpr std::uint16_t kClientPort = 68;
  // The table keeps this many devices; later new devices are not recorded.
  static constexpr std::size_t kMaxRows = 65536;

  using Clock = std::function<std::int64_t()>;
  // Receives a failure that needs the user's attention (text, caption). Called on the
  // worker thread without the server's lock held.
  using ErrorHandler = std::function<void(const std::string& text, const std::string& caption)>;

  // On this machine's sockets and routes.
  BootPServer();
  // On the given sockets and routes; `clock` gives the seconds since 1970 (the system
  // clock when empty).
  BootPServer(SocketApi& sockets, RouteSource& routes, Clock clock = {});
  virtual ~BootPServer();

  BootPServer(const BootPServer&) = delete;
  BootPServer& operator=(const BootPServer&) = delete;

  // Sockets and receive step.
  bool IsStarted() const;
  bool Start();
  bool IsRunning() const;
  // Receives one datagram (blocking), records an accepted request and answers it when the
  // server is armed for its device.
  void ServiceOneRequest();
  void GetMessageText(std::string& text) const;
  // Ends the run of the server: wakes a receive blocked in ServiceOneRequest, which then
  // returns without a report, and closes the listening socket. Join the worker after this
  // and before destroying the server.
  void Stop();

  // Request table.
  void RecordRequest(DeviceKey key, bool valid);
  bool IsTableUpdated() const;
  int GetRequestCount() const;
  std::string GetMacText(int row) const;
  int GetCount(int row) const;
  bool IsValid(int row) const;
  std::string GetLastRequestTimeText(int row) const;

  // Arming and the reply.
  bool Arm(std::string macText, std::string ipAddress, std::string subnetMask,
           std::string defaultGateway);
  bool Disarm();
  bool IsArmed() const;
  // Whether the last answer left through at least one interface.
  bool WasReplySent() const;

  void SetErrorHandler(ErrorHandler handler);

 private:
  struct RowState {
    std::int32_t count = 0;
    bool valid = false;
    std::int64_t lastTime = 0;
  };
  struct PendingError {
    std::string text;
    std::string caption;
  };

  // These run with m_mutex held.
  bool SetUpSocket(SocketHandle& socket);
  bool CloseSocket(SocketHandle& socket);
  void RecordRequestLocked(DeviceKey key, bool valid);
  void Answer(std::span<std::uint8_t> buffer, PendingError& pending);
  bool SendReply(std::span<const std::uint8_t> message, PendingError& pending);
  bool ServeRoute(std::uint32_t interfaceAddress, std::span<const std::uint8_t> message,
                  std::string& failure);
  const RowState* RowAt(int row) const;
  void Report(const PendingError& pending) const;

  SocketApi& m_sockets;
  RouteSource& m_routes;
  Clock m_clock;

  mutable std::mutex m_mutex;
  std::vector<std::string> m_macTexts;
  SocketHandle m_socket = kInvalidSocket;
  bool m_winsockReady = false;
  int m_startupError = 0;
  std::string m_message;
  bool m_started = false;
  // A receive is under way on m_socket; Stop leaves the close to the receiving thread.
  bool m_receiving = false;
  bool m_armed = false;
  bool m_replySent = false;
  DeviceKey m_targetKey = 0;
  std::string m_targetMac;
  std::string m_targetIp;
  std::string m_targetMask;
  std::string m_targetGateway;
  std::vector<DeviceKey> m_keys;
  std::vector<RowState> m_rowStates;
  // Hash index beside the ordered rows: device key to row index.
  std::unordered_map<DeviceKey, std::size_t> m_rowByKey;
  bool m_tableUpdated = false;
  ErrorHandler m_errorHandler;
};

}  // namespace quillnet
