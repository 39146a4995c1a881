#pragma once

#include <string>

namespace quillnet {

// The program that tells which installed package owns a file.
inline constexpr char kPackageQueryProgram[] = "dpkg-query";

// The package that owns the file at `path` (an absolute path), as `queryProgram -S <path>`
// tells it; several are joined with ", ". The file's names through linked folders (/bin for
// /usr/bin) are asked too. "" when no package owns it, or when the program cannot be run (a
// system without dpkg has no package to protect).
std::string OwningPackage(const std::string& path,
                          const std::string& queryProgram = kPackageQueryProgram);

}  // namespace quillnet
