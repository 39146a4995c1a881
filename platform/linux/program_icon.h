#pragma once

#include <string_view>

namespace quillnet {

// The program's icon (48 x 48 PNG), which launchers of an installed copy show.
std::string_view ProgramIconPng();

}  // namespace quillnet
