// Which package owns a file, asked of the real dpkg database.
#include "platform/linux/package_owner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace quillnet {
namespace {

TEST(PackageOwner, NamesTheOwnerOfExactlyThatFile) {
  if (::access("/usr/bin/dpkg-query", X_OK) != 0) GTEST_SKIP() << "dpkg-query is not installed";
  const struct {
    const char* path;
    const char* owner;
  } cases[] = {
      {"/usr/bin/dpkg", "dpkg"},
      {"/usr/bin/quillnet-no-such-program", ""},
      // A pattern in the name matches only itself, never dpkg's other programs.
      {"/usr/bin/dpkg*", ""},
      {"/usr/bin/dpkg-quer?", ""},
      // Debian 12 lists coreutils' ls as /bin/ls, and /bin leads to /usr/bin.
      {"/usr/bin/ls", "coreutils"},
  };
  for (const auto& c : cases) EXPECT_EQ(OwningPackage(c.path), c.owner) << c.path;
  // Without the program there is no package manager whose files need guarding.
  EXPECT_EQ(OwningPackage("/usr/bin/dpkg", "/nonexistent/dpkg-query"), "");
}

}  // namespace
}  // namespace quillnet
