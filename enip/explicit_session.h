#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include "enip/encapsulation.h"
#include "platform/tcp_client.h"

namespace quillnet::enip {

// The device to talk to: its address, and where the connection leaves from (network byte
// order; 0 and 0: as the routes choose).
struct Target {
  std::uint32_t address = 0;
  std::uint32_t source = 0;
  int interfaceIndex = 0;
};

// How long each step may take. A device opens its port some time after it takes an address,
// so connecting is retried until connectLimit.
struct Timing {
  std::chrono::milliseconds connectLimit{10000};
  std::chrono::milliseconds replyLimit{5000};
  std::chrono::milliseconds retryPause{200};
};

// One EtherNet/IP session with a device: TCP to port 44818, RegisterSession, requests to the
// TCP/IP Interface object, UnRegisterSession. Every wait is bounded by Timing and ends when
// `cancel` is set.
class ExplicitSession {
 public:
  enum class OpenResult { kOpen, kRefused, kSilent, kCancelled, kFailed };

  ExplicitSession(TcpClient& tcp, const std::atomic<bool>* cancel, const Timing& timing = {});
  ~ExplicitSession();
  ExplicitSession(const ExplicitSession&) = delete;
  ExplicitSession& operator=(const ExplicitSession&) = delete;

  // Connects, retrying refusals and silence until the connect limit, and registers a session.
  // kRefused: the last attempt was refused; kSilent: it got no answer in time;
  // kFailed: no connection could be tried from here, or the session was not registered (`why`
  // says why).
  OpenResult Open(const Target& target, std::string& why);
  // One Get_Attribute_Single or Set_Attribute_Single; false with `why` when no well-formed
  // reply came (a reply with a general status other than 0 is a reply).
  bool Request(std::uint8_t service, std::uint8_t attribute, std::span<const std::uint8_t> data,
               CipReply& reply, std::string& why);
  // UnRegisterSession (which has no reply), then closes the connection.
  void Close();

  bool Cancelled() const { return m_cancel != nullptr && m_cancel->load(); }

 private:
  TcpLimits ReplyLimits() const;
  bool Exchange(std::span<const std::uint8_t> request, EncapsulationHeader& header,
                std::vector<std::uint8_t>& data, std::string& why);
  bool ReceiveExactly(std::span<std::uint8_t> buffer, const TcpLimits& limits, std::string& why);
  std::string FailureText(int error) const;

  TcpClient& m_tcp;
  const std::atomic<bool>* m_cancel;
  Timing m_timing;
  TcpHandle m_handle = kInvalidTcpHandle;
  std::uint32_t m_session = 0;
  SenderContext m_context{};
};

}  // namespace quillnet::enip
