#pragma once

#include "wizard/bootp_wizard_sheet.h"

namespace quillnet {

// The wizard's interior pages: Listen, Set IP, Assign IP and Install.
InteriorPages MakeInteriorPages();

}  // namespace quillnet
