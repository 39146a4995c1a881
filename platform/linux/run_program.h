#pragma once

#include <string>
#include <vector>

namespace quillnet {

// How a program is found and what it is given.
enum class ProgramLookup {
  // `program` is run as named, from an empty environment: nothing of the caller's PATH or
  // environment reaches it, as a program run with privileges must not be picked by them.
  kExactPath,
  // `program` is looked up in PATH and given the caller's environment.
  kSearchPath,
};

// Runs `program` with `arguments` (no shell: each is one argument, whatever it holds), its
// standard input and error on /dev/null, and collects its standard output. True when it ran
// and exited with 0.
bool RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                ProgramLookup lookup, std::string& output);

}  // namespace quillnet
