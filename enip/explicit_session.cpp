#include "enip/explicit_session.h"

#include <thread>

namespace quillnet::enip {
namespace {

// The context every request carries, which the device echoes.
constexpr SenderContext kContext = {'q', 'u', 'i', 'l', 'l', 'n', 'e', 't'};

}  // namespace

ExplicitSession::ExplicitSession(TcpClient& tcp, const std::atomic<bool>* cancel,
                                 const Timing& timing)
    : m_tcp(tcp), m_cancel(cancel), m_timing(timing), m_context(kContext) {}

ExplicitSession::~ExplicitSession() { Close(); }

TcpLimits ExplicitSession::ReplyLimits() const {
  return {m_cancel, std::chrono::steady_clock::now() + m_timing.replyLimit};
}

std::string ExplicitSession::FailureText(int error) const {
  switch (error) {
    case kWsaEintr: return "cancelled";
    case tcp_error::kTimedOut:
      return "no reply in " + std::to_string(m_timing.replyLimit.count() / 1000) + " s";
    case kWsaEconnreset:
    case tcp_error::kConnectionAborted: return "the device closed the connection";
    default: return "error " + WinsockCodeText(error);
  }
}

ExplicitSession::OpenResult ExplicitSession::Open(const Target& target, std::string& why) {
  Close();
  const auto deadline = std::chrono::steady_clock::now() + m_timing.connectLimit;
  const TcpEndpoints endpoints{target.address, kPort, target.source, target.interfaceIndex};
  int error = 0;
  for (;;) {
    error = m_tcp.Connect(endpoints, {m_cancel, deadline}, m_handle);
    if (error == 0) break;
    if (error == kWsaEintr || Cancelled()) return OpenResult::kCancelled;
    // A device that has not opened its port yet refuses or stays silent, and its address may
    // not be reachable for a moment; anything else (a local address or interface that is not
    // there) does not come right by waiting.
    if (error != kWsaEconnrefused && error != tcp_error::kTimedOut &&
        error != kWsaEhostunreach && error != kWsaEnetunreach && error != kWsaEconnreset &&
        error != tcp_error::kConnectionAborted) {
      why = "cannot connect from this PC: error " + WinsockCodeText(error);
      return OpenResult::kFailed;
    }
    auto pauseEnd = std::chrono::steady_clock::now() + m_timing.retryPause;
    if (pauseEnd >= deadline) {
      why = error == kWsaEconnrefused
                ? "connection refused"
                : "no answer in " + std::to_string(m_timing.connectLimit.count() / 1000) + " s";
      return error == kWsaEconnrefused ? OpenResult::kRefused : OpenResult::kSilent;
    }
    while (std::chrono::steady_clock::now() < pauseEnd) {
      if (Cancelled()) return OpenResult::kCancelled;
      std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
          pauseEnd - std::chrono::steady_clock::now(), std::chrono::milliseconds(20)));
    }
  }
  EncapsulationHeader header;
  std::vector<std::uint8_t> data;
  if (!Exchange(RegisterSessionRequest(m_context), header, data, why) ||
      !ParseRegisterSessionReply(header, data, m_context, m_session, why)) {
    Close();
    return Cancelled() ? OpenResult::kCancelled : OpenResult::kFailed;
  }
  return OpenResult::kOpen;
}

bool ExplicitSession::Request(std::uint8_t service, std::uint8_t attribute,
                              std::span<const std::uint8_t> data, CipReply& reply,
                              std::string& why) {
  if (m_handle == kInvalidTcpHandle) {
    why = "no session";
    return false;
  }
  EncapsulationHeader header;
  std::vector<std::uint8_t> replyData;
  return Exchange(SendRRDataRequest(m_session, m_context, CipRequest(service, attribute, data)),
                  header, replyData, why) &&
         ParseSendRRDataReply(header, replyData, m_session, m_context, service, reply, why);
}

void ExplicitSession::Close() {
  if (m_handle == kInvalidTcpHandle) return;
  if (m_session != 0) {
    // No reply comes to it; a device that does not take it drops the session with the
    // connection anyway.
    const auto message = UnRegisterSessionRequest(m_session, m_context);
    m_tcp.Send(m_handle, message, ReplyLimits());
  }
  m_tcp.Close(m_handle);
  m_handle = kInvalidTcpHandle;
  m_session = 0;
}

bool ExplicitSession::ReceiveExactly(std::span<std::uint8_t> buffer, const TcpLimits& limits,
                                     std::string& why) {
  while (!buffer.empty()) {
    std::size_t received = 0;
    if (const int error = m_tcp.Receive(m_handle, buffer, received, limits); error != 0) {
      why = FailureText(error);
      return false;
    }
    if (received == 0) {
      why = "the device closed the connection";
      return false;
    }
    buffer = buffer.subspan(received);
  }
  return true;
}

bool ExplicitSession::Exchange(std::span<const std::uint8_t> request,
                               EncapsulationHeader& header, std::vector<std::uint8_t>& data,
                               std::string& why) {
  const TcpLimits limits = ReplyLimits();
  if (const int error = m_tcp.Send(m_handle, request, limits); error != 0) {
    why = FailureText(error);
    return false;
  }
  std::array<std::uint8_t, kHeaderSize> headerBytes{};
  if (!ReceiveExactly(headerBytes, limits, why)) return false;
  DecodeHeader(headerBytes, header);
  if (header.length > kMaxReplyData) {
    why = "a reply of " + std::to_string(header.length) + " bytes";
    return false;
  }
  data.assign(header.length, 0);
  return ReceiveExactly(data, limits, why);
}

}  // namespace quillnet::enip
