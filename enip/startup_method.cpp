#include "enip/startup_method.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "platform/ipv4_text.h"

namespace quillnet::enip {

std::string StartupMethodName(std::uint32_t method) {
  switch (method) {
    case static_cast<std::uint32_t>(StartupMethod::kStored): return "stored configuration";
    case static_cast<std::uint32_t>(StartupMethod::kBootp): return "BOOTP";
    case static_cast<std::uint32_t>(StartupMethod::kDhcp): return "DHCP";
    default: return "method " + std::to_string(method);
  }
}

std::optional<StartupMethod> ParseStartupMethod(std::string_view word) {
  if (word == "stored") return StartupMethod::kStored;
  if (word == "bootp") return StartupMethod::kBootp;
  if (word == "dhcp") return StartupMethod::kDhcp;
  return std::nullopt;
}

std::uint32_t WithMethod(std::uint32_t control, StartupMethod method) {
  return (control & kDnsEnabled) | static_cast<std::uint32_t>(method);
}

std::string GeneralStatusName(std::uint8_t status) {
  switch (status) {
    case 0x08: return "service not supported";
    case 0x09: return "invalid attribute value";
    case 0x0C: return "object state conflict";
    case 0x0E: return "attribute not settable";
    case 0x10: return "device state conflict";
    case 0x14: return "attribute not supported";
    default: return {};
  }
}

std::string MethodOutcomeWord(MethodOutcome outcome, bool keep) {
  switch (outcome) {
    case MethodOutcome::kDone: return keep ? "kept" : "done";
    case MethodOutcome::kNoDevice: return "no device";
    case MethodOutcome::kRefused: return "refused";
    case MethodOutcome::kOtherAddress: return "another address";
    case MethodOutcome::kReadBackDiffers: return "read-back differs";
    case MethodOutcome::kFailed: return "failed";
    case MethodOutcome::kCancelled: return "cancelled";
  }
  return "failed";
}

namespace {

enum class Operation { kKeep, kRead, kSet };

// What a device that did not keep its address does next.
constexpr const char* kAsksAgain = ": it will ask for an address again at its next start-up.";

// Builds the result's text as each outcome is reached.
class Sequence {
 public:
  Sequence(TcpClient& tcp, const Target& target, const std::atomic<bool>* cancel,
           const Timing& timing, Operation operation)
      : m_session(tcp, cancel, timing),
        m_device("the device at " + Ipv4Text(target.address)),
        m_operation(operation),
        m_target(target) {}

  bool Open() {
    std::string why;
    switch (m_session.Open(m_target, why)) {
      case ExplicitSession::OpenResult::kOpen: return true;
      case ExplicitSession::OpenResult::kRefused:
      case ExplicitSession::OpenResult::kSilent:
        return End(MethodOutcome::kNoDevice,
                   "No EtherNet/IP device answers at " + Ipv4Text(m_target.address) + " (" +
                       why + ")" + Consequence(true));
      case ExplicitSession::OpenResult::kCancelled: return Cancelled();
      case ExplicitSession::OpenResult::kFailed: return Failed(why);
    }
    return Failed(why);
  }

  // Reads an attribute of at least `size` bytes into `data`.
  bool Get(std::uint8_t attribute, std::size_t size, const char* what,
           std::vector<std::uint8_t>& data) {
    CipReply reply;
    std::string why;
    if (!m_session.Request(kGetAttributeSingle, attribute, {}, reply, why)) return Failed(why);
    if (reply.generalStatus != 0) return Refused(reply.generalStatus, what);
    if (reply.data.size() < size) {
      return Failed(std::string(what) + ": " + std::to_string(reply.data.size()) + " bytes");
    }
    data = std::move(reply.data);
    return true;
  }

  bool ReadControl(std::uint32_t& control) {
    std::vector<std::uint8_t> data;
    if (!Get(kConfigurationControl, kConfigurationControlSize, "to read its start-up method",
             data)) {
      return false;
    }
    control = ReadU32(data, 0);
    m_result.configurationControl = control;
    return true;
  }

  // Goes on only when attribute 5 holds the address the device was reached at.
  bool CheckAddress() {
    std::vector<std::uint8_t> data;
    if (!Get(kInterfaceConfiguration, kInterfaceAddressesSize, "to read its address", data)) {
      return false;
    }
    // A UDINT: its most significant byte is the address's first.
    const std::array<std::uint8_t, 4> bytes = {
        data[kInterfaceAddressOffset + 3], data[kInterfaceAddressOffset + 2],
        data[kInterfaceAddressOffset + 1], data[kInterfaceAddressOffset]};
    std::memcpy(&m_result.reportedAddress, bytes.data(), bytes.size());
    if (m_result.reportedAddress == m_target.address) return true;
    return End(MethodOutcome::kOtherAddress,
               Capitalized(m_device) + " reports another address, " +
                   Ipv4Text(m_result.reportedAddress) +
                   ", in its TCP/IP Interface object: its start-up method was left as it is" +
                   Consequence(false));
  }

  bool Write(std::uint32_t control) {
    std::array<std::uint8_t, kConfigurationControlSize> data{};
    WriteU32(data, 0, control);
    CipReply reply;
    std::string why;
    if (!m_session.Request(kSetAttributeSingle, kConfigurationControl, data, reply, why)) {
      return Failed(why);
    }
    if (reply.generalStatus != 0) return Refused(reply.generalStatus, "to set its start-up method");
    return true;
  }

  bool VerifyReadBack(std::uint32_t written) {
    std::uint32_t control = 0;
    if (!ReadControl(control)) return false;
    if ((control & kMethodMask) == (written & kMethodMask)) return true;
    return End(MethodOutcome::kReadBackDiffers,
               Capitalized(m_device) + " took the start-up method " +
                   StartupMethodName(written & kMethodMask) + " but reads back " +
                   StartupMethodName(control & kMethodMask) + Consequence(false));
  }

  MethodResult Done(std::string text) {
    m_result.outcome = MethodOutcome::kDone;
    m_result.text = std::move(text);
    return Take();
  }

  MethodResult Take() {
    m_session.Close();
    return std::move(m_result);
  }

  const std::string& Device() const { return m_device; }

 private:
  static std::string Capitalized(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
  }

  // How the sentence ends: for a device that was to keep its address, that it will ask again.
  std::string Consequence(bool certain) const {
    if (m_operation != Operation::kKeep) return ".";
    return certain ? kAsksAgain : ": it may ask for an address again at its next start-up.";
  }

  bool End(MethodOutcome outcome, std::string text) {
    m_result.outcome = outcome;
    m_result.text = std::move(text);
    return false;
  }

  bool Cancelled() {
    return End(MethodOutcome::kCancelled,
               "Cancelled before " + m_device + " had answered" + Consequence(false));
  }

  bool Failed(const std::string& why) {
    if (m_session.Cancelled()) return Cancelled();
    return End(MethodOutcome::kFailed, "The exchange with " + m_device + " failed (" + why + ")" +
                                           Consequence(false));
  }

  bool Refused(std::uint8_t status, const char* what) {
    m_result.generalStatus = status;
    char code[8];
    std::snprintf(code, sizeof code, "0x%02X", status);
    const std::string name = GeneralStatusName(status);
    return End(MethodOutcome::kRefused,
               Capitalized(m_device) + " refused " + what + ": " +
                   (name.empty() ? "general status " + std::string(code)
                                 : name + " (general status " + code + ")") +
                   Consequence(m_operation == Operation::kKeep));
  }

  ExplicitSession m_session;
  std::string m_device;
  Operation m_operation;
  Target m_target;
  MethodResult m_result;
};

}  // namespace

MethodResult KeepAddress(TcpClient& tcp, const Target& target, const std::atomic<bool>* cancel,
                         const Timing& timing) {
  Sequence sequence(tcp, target, cancel, timing, Operation::kKeep);
  std::uint32_t control = 0;
  if (!sequence.Open() || !sequence.ReadControl(control) || !sequence.CheckAddress()) {
    return sequence.Take();
  }
  const std::uint32_t wanted = WithMethod(control, StartupMethod::kStored);
  if (!sequence.Write(wanted) || !sequence.VerifyReadBack(wanted)) return sequence.Take();
  const std::uint32_t before = control & kMethodMask;
  return sequence.Done("The device keeps " + Ipv4Text(target.address) +
                       ": it now starts with its stored configuration" +
                       (before == static_cast<std::uint32_t>(StartupMethod::kStored)
                            ? " (as before)."
                            : ", not " + StartupMethodName(before) + "."));
}

MethodResult ReadStartupMethod(TcpClient& tcp, const Target& target,
                               const std::atomic<bool>* cancel, const Timing& timing) {
  Sequence sequence(tcp, target, cancel, timing, Operation::kRead);
  std::uint32_t control = 0;
  if (!sequence.Open() || !sequence.ReadControl(control)) return sequence.Take();
  std::string text = "The device at " + Ipv4Text(target.address) + " starts with " +
                     StartupMethodName(control & kMethodMask);
  return sequence.Done(text + ((control & kDnsEnabled) != 0 ? " (DNS enabled)." : "."));
}

MethodResult SetStartupMethod(TcpClient& tcp, const Target& target, StartupMethod method,
                              const std::atomic<bool>* cancel, const Timing& timing) {
  Sequence sequence(tcp, target, cancel, timing, Operation::kSet);
  std::uint32_t control = 0;
  if (!sequence.Open() || !sequence.ReadControl(control)) return sequence.Take();
  const std::uint32_t wanted = WithMethod(control, method);
  if (!sequence.Write(wanted) || !sequence.VerifyReadBack(wanted)) return sequence.Take();
  return sequence.Done("The device at " + Ipv4Text(target.address) + " now starts with " +
                       StartupMethodName(static_cast<std::uint32_t>(method)) + ".");
}

}  // namespace quillnet::enip
