// The table of devices heard: rows in the order first heard, the rows changed since a
// revision, a full table, and the relay agent each device last asked through.
#include "bootp/request_table.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/fake_platform.h"

namespace quillnet {
namespace {

TEST(RequestTable, ChangedRowsAreThoseRecordedSinceARevision) {
  RequestTable table;
  auto changedSince = [&](std::uint64_t since, std::uint64_t& now) {
    std::vector<int> rows;
    now = table.ChangedRows(since, rows);
    return rows;
  };
  std::uint64_t first = 0;
  EXPECT_TRUE(changedSince(0, first).empty());
  for (DeviceKey mac : {0x02005E000001, 0x02005E000002, 0x02005E000003}) table.Record(mac, true);
  std::uint64_t second = 0;
  EXPECT_EQ(changedSince(first, second), (std::vector<int>{2, 1, 0}));
  // Rows heard again move to the front, once each, however often they were heard.
  table.Record(0x02005E000001, true);
  table.Record(0x02005E000002, false);
  table.Record(0x02005E000001, true);
  std::uint64_t third = 0;
  EXPECT_EQ(changedSince(second, third), (std::vector<int>{0, 1}));
  EXPECT_EQ(changedSince(0, third), (std::vector<int>{0, 1, 2}));
  std::uint64_t fourth = 0;
  EXPECT_TRUE(changedSince(third, fourth).empty());
  EXPECT_EQ(third, fourth);
}

TEST(RequestTable, FullTableRecordsNoNewDeviceButKeepsCounting) {
  RequestTable table;
  for (DeviceKey key = 1; key <= RequestTable::kMaxRows; ++key) table.Record(key, true);
  ASSERT_EQ(table.Size(), 65536);
  EXPECT_FALSE(table.Record(RequestTable::kMaxRows + 1, true));
  EXPECT_EQ(table.Size(), 65536);
  EXPECT_TRUE(table.Record(RequestTable::kMaxRows, false));
  EXPECT_EQ(table.Count(65535), 2);
  EXPECT_EQ(table.MacText(65535), "00:00:00:01:00:00");
  EXPECT_FALSE(table.Record(0, true));
}

TEST(RequestTable, KeepsTheRelayOfEachDevicesLatestRequest) {
  RequestTable table;
  const std::uint32_t relay = testing::Ip(10, 89, 0, 1);
  RequestTable::Heard relayed;
  relayed.relay = relay;
  table.Record(0x02005E000001, relayed);
  table.Record(0x02005E000002, true);
  EXPECT_EQ(table.At(0).relay, relay);
  EXPECT_EQ(table.RelayOf(0x02005E000001), relay);
  EXPECT_EQ(table.At(1).relay, 0u);
  // The device moved to this PC's own network: its latest request says so.
  table.Record(0x02005E000001, true);
  EXPECT_EQ(table.RelayOf(0x02005E000001), 0u);
  EXPECT_EQ(table.At(7).relay, 0u);
  EXPECT_EQ(table.RelayOf(0x02005E000009), 0u);
}

}  // namespace
}  // namespace quillnet
