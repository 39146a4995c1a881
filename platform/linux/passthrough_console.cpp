#include "platform/console.h"

namespace quillnet {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void UseUtf8Console() {}

}  // namespace quillnet
