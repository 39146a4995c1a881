#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "enip/startup_method.h"
#include "record/commissioning_record.h"
#include "vendors/vendor_table.h"

namespace quillnet {

class AssignmentSession;
class BootPServer;

// The maker as the commissioning record names it: the registries' name, "unknown" or
// "locally administered"; "" when the registries could not be read.
std::string RecordedMaker(const VendorLookup& maker);

// One assignment as the session and `serve` know it, for its line in the record.
struct AssignmentFacts {
  std::string mac;
  std::string ip;
  std::string mask;
  std::string gateway;  // "" for none
  // The type of the last reply that reached the device (kBootpMessage, a DHCP type); none
  // when none did.
  std::optional<std::uint8_t> replyType;
  // Where the device was reached (RecordedVia).
  std::string via;
  AssignmentResult result = AssignmentResult::kCancelled;
  // The user asked that the device keep its address; `keep`: what telling it came to, none
  // while it was not told (it was not confirmed, or the run ended first).
  bool keepAsked = false;
  std::optional<enip::MethodOutcome> keep;
};

// Where a device was reached, as the record names it: "relay agent A" behind a relay agent,
// else the name of the interface it was heard on ("interface N" when `server` no longer
// knows its name); "" when neither is known.
std::string RecordedVia(const BootPServer& server, const std::string& relay, int interfaceIndex);

// The assignment's line, `program` having made it: BOOTP or DHCP by its last reply, 0.0.0.0
// for no gateway, the keep outcome's word ("not tried" when it was asked for but the device
// was not told). The maker is the caller's to add.
CommissioningEntry AssignmentEntry(const std::string& program, const AssignmentFacts& facts);

// Appends `entry` with the device's maker to this user's commissioning record (or the one at
// `path`). Returns "" or, in a sentence, why the line could not be written: the assignment
// stands either way.
std::string RecordEntry(CommissioningEntry entry, const VendorLookup& maker,
                        const std::string& path = {});

// Appends the line of the assignment that `session` made, for `program`, with the device's
// maker, as RecordEntry.
std::string RecordAssignment(const AssignmentSession& session, const std::string& program,
                             const VendorLookup& maker, const std::string& path = {});

}  // namespace quillnet
