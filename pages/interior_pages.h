#pragma once

#include "wizard/bootp_wizard_sheet.h"

namespace quillnet {

// The wizard's interior pages: Listen, Set IP and Assign IP.
InteriorPages MakeInteriorPages();

}  // namespace quillnet
