#include "bootp/adapter_query.h"

#include <gtest/gtest.h>

#include "tests/support/fake_platform.h"

namespace quillnet {
namespace {

using testing::FakeAdapterSource;

struct Outputs {
  std::string ip = "old ip";
  std::string mask = "old mask";
  std::string gateway = "old gateway";
};

bool Query(FakeAdapterSource& source, Outputs& out) {
  return QueryLocalAdapter(source, out.ip, out.mask, out.gateway);
}

TEST(AdapterQuery, TakesTheFirstAdapterWithAnAddress) {
  FakeAdapterSource source;
  source.adapters = {{"eth0", {{"0.0.0.0", "0.0.0.0"}}, "0.0.0.0"},
                     {"eth1", {{"192.168.1.20", "255.255.255.0"}}, "192.168.1.1"},
                     {"eth2", {{"10.0.0.5", "255.0.0.0"}}, "10.0.0.1"}};
  Outputs out;
  EXPECT_TRUE(Query(source, out));
  EXPECT_EQ(out.ip, "192.168.1.20");
  EXPECT_EQ(out.mask, "255.255.255.0");
  EXPECT_EQ(out.gateway, "192.168.1.1");
}

TEST(AdapterQuery, LastAddressWithTheFirstMask) {
  FakeAdapterSource source;
  source.adapters = {
      {"eth0", {{"192.168.1.20", "255.255.255.0"}, {"10.0.0.5", "255.0.0.0"}}, "0.0.0.0"}};
  Outputs out;
  EXPECT_TRUE(Query(source, out));
  EXPECT_EQ(out.ip, "10.0.0.5");
  EXPECT_EQ(out.mask, "255.255.255.0");
  EXPECT_EQ(out.gateway, "0.0.0.0");
}

TEST(AdapterQuery, OnlyUnaddressedAdaptersLeaveTheLastOnesTexts) {
  FakeAdapterSource source;
  source.adapters = {{"eth0", {{"0.0.0.0", "0.0.0.0"}}, "0.0.0.0"},
                     {"eth1", {{"0.0.0.0", "255.255.0.0"}}, "0.0.0.0"}};
  Outputs out;
  EXPECT_TRUE(Query(source, out));
  EXPECT_EQ(out.ip, "0.0.0.0");
  EXPECT_EQ(out.mask, "255.255.0.0");
  EXPECT_EQ(out.gateway, "0.0.0.0");
}

TEST(AdapterQuery, FailuresLeaveTheOutputsUntouched) {
  const struct {
    AdapterQueryResult result;
    bool returned;
    const char* printed;
  } cases[] = {
      {AdapterQueryResult::kNoData, false, "No adapter information exists for the local computer\n"},
      {AdapterQueryResult::kNotSupported, false,
       "GetAdaptersInfo is not supported by the operating system running on the local "
       "computer\n"},
      {AdapterQueryResult::kFailed, true, ""},
  };
  for (const auto& c : cases) {
    FakeAdapterSource source;
    source.result = c.result;
    Outputs out;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(Query(source, out), c.returned);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.printed);
    EXPECT_EQ(out.ip, "old ip");
    EXPECT_EQ(out.mask, "old mask");
    EXPECT_EQ(out.gateway, "old gateway");
  }
}

}  // namespace
}  // namespace quillnet
