#pragma once

#include <string>

#include "vendors/vendor_table.h"

namespace quillnet {

class AssignmentSession;

// The maker as the commissioning record names it: the registries' name, "unknown" or
// "locally administered"; "" when the registries could not be read.
std::string RecordedMaker(const VendorLookup& maker);

// Appends the line of the assignment that `session` made, for `program`, with the device's
// maker, to this user's commissioning record (or the one at `path`). Returns "" or, in a
// sentence, why the line could not be written: the assignment stands either way.
std::string RecordAssignment(const AssignmentSession& session, const std::string& program,
                             const VendorLookup& maker, const std::string& path = {});

}  // namespace quillnet
