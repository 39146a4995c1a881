// Linux's side of doctor's checks: the UDP sockets of /proc and the process's capabilities.
#include <gtest/gtest.h>
#include <sys/capability.h>

#include "cli/doctor.h"
#include "platform/linux/proc_net_udp.h"
#include "platform/process_privileges.h"

namespace quillnet::cli {
namespace {


TEST(Doctor, ReadsTheUdpSocketsOfProc) {
  // As Linux 6.1 prints them: dnsmasq on 0.0.0.0:67 (0x43), a client on 68, one broken line.
  const auto rows = ParseProcNetUdp(
      "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
      "timeout inode ref pointer drops\n"
      "  313: 00000000:0043 00000000:0000 07 00000000:00000000 00:00000000 00000000   105"
      "        0 48213 2 0000000000000000 0\n"
      "  314: 0100007F:0044 00000000:0000 07 00000000:00000000 00:00000000 00000000     0"
      "        0 48999 2 0000000000000000 0\n"
      "  315: 00000000:zz44 00000000:0000 07 00000000:00000000 00:00000000 00000000     0\n");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].localPort, 67);
  EXPECT_EQ(rows[0].uid, 105u);
  EXPECT_EQ(rows[0].inode, 48213u);
  EXPECT_EQ(rows[1].localPort, 68);
  EXPECT_EQ(SocketInodeOfLink("socket:[48213]"), 48213u);
  EXPECT_EQ(SocketInodeOfLink("pipe:[48213]"), 0u);
  EXPECT_EQ(SocketInodeOfLink("socket:[48213"), 0u);
}

// Sets or clears CAP_NET_RAW in this process's effective set; false when it may not.
bool SetRawEffective(cap_flag_value_t value) {
  cap_t process = ::cap_get_proc();
  cap_value_t raw = CAP_NET_RAW;
  const bool ok = process != nullptr && ::cap_set_flag(process, CAP_EFFECTIVE, 1, &raw, value) == 0 &&
                  ::cap_set_proc(process) == 0;
  ::cap_free(process);
  return ok;
}

TEST(Doctor, SeesWhetherThisProcessMaySendArpProbes) {
  if (!SetRawEffective(CAP_SET)) {
    EXPECT_FALSE(ProcessHasRawCapability()) << "CAP_NET_RAW is not even permitted";
    GTEST_SKIP() << "raising CAP_NET_RAW needs it in the permitted set (CI runs as root)";
  }
  EXPECT_TRUE(ProcessHasRawCapability());
  // Permitted but not effective does not count: the socket would be refused.
  ASSERT_TRUE(SetRawEffective(CAP_CLEAR));
  const bool withoutIt = ProcessHasRawCapability();
  ASSERT_TRUE(SetRawEffective(CAP_SET));
  EXPECT_FALSE(withoutIt);
}

}  // namespace
}  // namespace quillnet::cli
