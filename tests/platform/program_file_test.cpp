#include "platform/program_file.h"

#include <gtest/gtest.h>

#include <string>

namespace quillnet {
namespace {

// The command is pasted into a shell as it stands: one grant of both capabilities, with the
// path a single argument whatever it holds.
TEST(ProgramFile, CapabilityCommandGrantsBothAndQuotesThePath) {
  const struct {
    std::string path;
    std::string command;
  } cases[] = {
      {"/usr/bin/quillnet", "sudo setcap cap_net_bind_service,cap_net_raw=+ep '/usr/bin/quillnet'"},
      {"/home/a b/it's $(x)", "sudo setcap cap_net_bind_service,cap_net_raw=+ep '/home/a b/it'\\''s $(x)'"},
  };
  for (const auto& c : cases) EXPECT_EQ(CapabilityCommand(c.path), c.command) << c.path;
}

}  // namespace
}  // namespace quillnet
