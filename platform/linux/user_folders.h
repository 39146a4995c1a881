#pragma once

#include <string>
#include <vector>

namespace quillnet {

// The current user's home folder: $HOME, or the password database's entry when HOME is
// unset or empty. "" when neither names one.
std::string HomeFolder();

// The base folder for the user's configuration files: $XDG_CONFIG_HOME when it is an
// absolute path, else <home>/.config.
std::string ConfigFolder();

// The base folder for the user's data files: $XDG_DATA_HOME when it is an absolute path, else
// <home>/.local/share. "" without a home folder.
std::string DataFolder();

// The user's desktop folder: XDG_DESKTOP_DIR of <config>/user-dirs.dirs, else <home>/Desktop.
// "" without a home folder.
std::string DesktopFolder();

// `path` as an absolute path: a relative one is taken against the current folder, "~" and
// "~/..." against the home folder; repeated separators become one and a trailing one goes.
// "" for an empty path or when the folder it is taken against is unknown.
std::string FullPathName(const std::string& path);

// `name` in `folder`; "" when `folder` is "".
std::string JoinPath(const std::string& folder, const std::string& name);

// Creates the folder `path` and, as needed, its missing parents, from the first missing one
// down (mode 0777 less the umask). True when `path` is a folder afterwards. `created`, when
// given, gets each folder made here, the topmost first; `why` the system's reason for a
// failure.
bool CreatePath(const std::string& path, std::vector<std::string>* created = nullptr,
                std::string* why = nullptr);

// Removes the folders `created` lists, the deepest first, each only while it is empty.
void RemoveCreatedFolders(const std::vector<std::string>& created);

// Makes `folder` and the folders above it that are missing, each readable by the user only
// (0700, whatever the umask). Folders that exist are left as they are. True when `folder` is
// a folder afterwards.
bool MakePrivateFolders(const std::string& folder);

}  // namespace quillnet
