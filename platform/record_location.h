#pragma once

#include <string>

namespace quillnet {

// The user's commissioning record: $XDG_STATE_HOME/quillnet/commissioning.csv (XDG_STATE_HOME
// when it is an absolute path, else ~/.local/state) on Linux,
// %LOCALAPPDATA%\Varnholt\Quillnet\commissioning.csv on Windows. "" when the system names no
// such folder for this user.
std::string CommissioningRecordPath();

// Makes the folder that holds the file `path`, and the folders above it, where they are missing
// (on Linux readable by the user only, as the XDG rules ask). Returns "" or why it failed.
std::string MakeParentFolders(const std::string& path);

}  // namespace quillnet
