#include "platform/linux/package_owner.h"

#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/linux/run_program.h"

namespace quillnet {
namespace {

// dpkg-query reads its argument as a shell pattern; a folder name with '*' or '?' must match
// only itself.
std::string LiteralPattern(const std::string& path) {
  std::string pattern;
  for (const char character : path) {
    if (character == '*' || character == '?' || character == '[' || character == ']' ||
        character == '\\') {
      pattern += '\\';
    }
    pattern += character;
  }
  return pattern;
}

// "pkg1, pkg2: /path" lines; diversion lines name no owner.
std::string OwnersFromOutput(std::string_view output) {
  std::string owners;
  while (!output.empty()) {
    const std::size_t end = std::min(output.find('\n'), output.size());
    const std::string_view line = output.substr(0, end);
    output.remove_prefix(std::min(end + 1, output.size()));
    if (line.starts_with("diversion by ")) continue;
    const std::size_t colon = line.find(": ");
    if (colon == std::string_view::npos || colon == 0) continue;
    if (!owners.empty()) owners += ", ";
    owners += line.substr(0, colon);
  }
  return owners;
}

std::string QueryOwner(const std::string& path, const std::string& queryProgram) {
  std::string output;
  // Exit status 0: a package owns it.
  if (!RunProgram(queryProgram, {"-S", LiteralPattern(path)}, ProgramLookup::kSearchPath,
                  output)) {
    return {};
  }
  return OwnersFromOutput(output);
}

// The folder's real path, with the name after it; "" when the folder does not resolve.
std::string RealFolderPath(const std::string& path) {
  const std::size_t cut = path.rfind('/');
  if (cut == std::string::npos) return {};
  char* folder = ::realpath(cut == 0 ? "/" : path.substr(0, cut).c_str(), nullptr);
  if (folder == nullptr) return {};
  std::string real(folder);
  std::free(folder);
  return (real == "/" ? "" : real) + path.substr(cut);
}

}  // namespace

std::string OwningPackage(const std::string& path, const std::string& queryProgram) {
  // dpkg knows a file by the path its package names: a folder reached through a link (/bin
  // to /usr/bin on a merged /usr) hides the owner, so the file's other names are asked too.
  std::vector<std::string> names{path};
  if (const std::string real = RealFolderPath(path); !real.empty()) {
    names.push_back(real);
    // /usr/bin/x may be known to dpkg as /bin/x where /bin leads to /usr/bin.
    if (real.starts_with("/usr/")) {
      const std::string alias = real.substr(4);
      if (RealFolderPath(alias) == real) names.push_back(alias);
    }
  }
  for (std::size_t index = 0; index < names.size(); ++index) {
    bool asked = false;
    for (std::size_t before = 0; before < index; ++before) asked = asked || names[before] == names[index];
    if (asked) continue;
    if (std::string owner = QueryOwner(names[index], queryProgram); !owner.empty()) return owner;
  }
  return {};
}

}  // namespace quillnet
