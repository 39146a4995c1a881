#pragma once

#include <string>

namespace quillnet {

// The current user's home folder: $HOME, or the password database's entry when HOME is
// unset or empty. "" when neither names one.
std::string HomeFolder();

// The base folder for the user's configuration files: $XDG_CONFIG_HOME when it is an
// absolute path, else <home>/.config.
std::string ConfigFolder();

// Makes `folder` and the folders above it that are missing, each readable by the user only
// (0700, whatever the umask). Folders that exist are left as they are. True when `folder` is
// a folder afterwards.
bool MakePrivateFolders(const std::string& folder);

}  // namespace quillnet
