#pragma once

#include <string>

// Where a program runs from decides the advice it gives: one built from source finds its
// helper beside itself in the build folder, and no package installs anything there.
namespace quillnet {

// The build folder (the one holding CMakeCache.txt) that the program at `programPath` was
// built in, searched from the program's own folder upward; "" for a program outside any.
std::string BuildTreeOf(const std::string& programPath);

// `text` quoted for a POSIX shell, so that a path with blanks or quotes is copied and run as
// it stands.
std::string ShellQuoted(const std::string& text);

}  // namespace quillnet
