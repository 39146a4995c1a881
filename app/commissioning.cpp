#include "app/commissioning.h"

#include "app/assignment_session.h"
#include "bootp/bootp_server.h"
#include "platform/record_location.h"
#include "wire/dhcp.h"

namespace quillnet {

std::string RecordedMaker(const VendorLookup& maker) {
  switch (maker.status) {
    case VendorStatus::kFound:
    case VendorStatus::kUnknown:
    case VendorStatus::kLocallyAdministered:
      return maker.text;
    case VendorStatus::kNotLoaded:
    case VendorStatus::kUnavailable:
      break;
  }
  return {};
}

std::string RecordedVia(const BootPServer& server, const std::string& relay, int interfaceIndex) {
  if (!relay.empty()) return "relay agent " + relay;
  if (interfaceIndex == 0) return {};
  const std::optional<ReplySender::LinkState> link = server.GetLinkState(interfaceIndex);
  return link ? link->name : "interface " + std::to_string(interfaceIndex);
}

CommissioningEntry AssignmentEntry(const std::string& program, const AssignmentFacts& facts) {
  CommissioningEntry entry = NewCommissioningEntry(program);
  entry.mac = facts.mac;
  entry.ip = facts.ip;
  entry.mask = facts.mask;
  entry.gateway = facts.gateway.empty() ? "0.0.0.0" : facts.gateway;
  if (facts.replyType) entry.protocol = *facts.replyType == kBootpMessage ? "BOOTP" : "DHCP";
  entry.via = facts.via;
  entry.result = AssignmentResultText(facts.result);
  if (facts.keepAsked) {
    // Asked for, but the device was not confirmed, or the exchange was cut short.
    entry.keep = facts.keep ? enip::MethodOutcomeWord(*facts.keep, true) : "not tried";
  }
  return entry;
}

std::string RecordEntry(CommissioningEntry entry, const VendorLookup& maker,
                        const std::string& path) {
  entry.maker = RecordedMaker(maker);
  return AppendCommissioningRecord(entry, path.empty() ? CommissioningRecordPath() : path);
}

std::string RecordAssignment(const AssignmentSession& session, const std::string& program,
                             const VendorLookup& maker, const std::string& path) {
  return RecordEntry(session.RecordEntry(program), maker, path);
}

}  // namespace quillnet
