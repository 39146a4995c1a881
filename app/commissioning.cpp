#include "app/commissioning.h"

#include "app/assignment_session.h"
#include "platform/record_location.h"
#include "record/commissioning_record.h"

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

std::string RecordAssignment(const AssignmentSession& session, const std::string& program,
                             const VendorLookup& maker, const std::string& path) {
  CommissioningEntry entry = session.RecordEntry(program);
  entry.maker = RecordedMaker(maker);
  return AppendCommissioningRecord(entry, path.empty() ? CommissioningRecordPath() : path);
}

}  // namespace quillnet
