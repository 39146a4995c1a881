#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/record_location.h"
#include "record/commissioning_record.h"

namespace quillnet {
namespace {

std::string Contents(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

class RecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    m_folder = std::filesystem::temp_directory_path() /
               ("quillnet-record-" + std::to_string(now));
  }
  void TearDown() override { std::filesystem::remove_all(m_folder); }

  static CommissioningEntry Entry(const char* time, const char* maker) {
    return {time,   "plant-pc", "anna",  "quillnet", "00:00:bc:12:34:56",
            maker,  "10.0.0.5", "255.255.255.0", "10.0.0.1", "DHCP",
            "eth0", AssignmentResultText(AssignmentResult::kNotConfirmed), ""};
  }

  std::filesystem::path m_folder;
};

TEST_F(RecordTest, LinesAreAppendedAsASpreadsheetReadsThem) {
  const std::filesystem::path path = m_folder / "state" / "quillnet" / "commissioning.csv";
  ASSERT_EQ(AppendCommissioningRecord(Entry("2026-12-01T08:00:00+01:00", "Rockwell Automation"),
                                      path.string()),
            "");
  ASSERT_EQ(AppendCommissioningRecord(
                Entry("2026-12-09T23:59:59-05:30", "Cisco Systems, Inc \"Q\"\r\nSoci\xC3\xA9t\xC3\xA9"),
                path.string()),
            "");
  EXPECT_EQ(Contents(path),
            "\xEF\xBB\xBF"
            "Time,PC,User,Program,MAC address,Maker,IP address,Subnet mask,Gateway,Protocol,"
            "Interface or relay agent,Result,Keep address\r\n"
            "2026-12-01T08:00:00+01:00,plant-pc,anna,quillnet,00:00:bc:12:34:56,Rockwell "
            "Automation,10.0.0.5,255.255.255.0,10.0.0.1,DHCP,eth0,not confirmed,\r\n"
            "2026-12-09T23:59:59-05:30,plant-pc,anna,quillnet,00:00:bc:12:34:56,\"Cisco Systems, "
            "Inc \"\"Q\"\"  Soci\xC3\xA9t\xC3\xA9\",10.0.0.5,255.255.255.0,10.0.0.1,DHCP,eth0,not "
            "confirmed,\r\n");

  RecordHistory history = ReadCommissioningRecord(path.string());
  ASSERT_EQ(history.entries.size(), 2u);
  EXPECT_EQ(history.damaged, 0u);
  EXPECT_EQ(history.entries[1].maker, "Cisco Systems, Inc \"Q\"  Soci\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(history.entries[1].result, "not confirmed");
  // --since compares the date as it was recorded.
  history = ReadCommissioningRecord(path.string(), "2026-12-09");
  ASSERT_EQ(history.entries.size(), 1u);
  EXPECT_EQ(history.entries[0].time, "2026-12-09T23:59:59-05:30");
  // A record not written yet is empty, not an error.
  history = ReadCommissioningRecord((m_folder / "none.csv").string());
  EXPECT_TRUE(history.entries.empty());
  EXPECT_EQ(history.error, "");
}

TEST_F(RecordTest, DamagedLinesAreSkippedAndCountedAndNeverRunInto) {
  std::filesystem::create_directories(m_folder);
  const std::filesystem::path path = m_folder / "commissioning.csv";
  ASSERT_EQ(AppendCommissioningRecord(Entry("2026-12-01T08:00:00+01:00", "A"), path.string()), "");
  {
    std::ofstream file(path, std::ios::binary | std::ios::app);
    // Edited by hand: a wrong time, a missing column, a stray quote; then a line a crash tore
    // right after a comma, which has all its columns.
    file << "yesterday,pc,u,p,m,k,i,s,g,BOOTP,eth0,confirmed,\r\n"
            "2026-12-01T08:00:00+01:00,pc,u,p,m,k,i,s,g,BOOTP,eth0,confirmed\r\n"
            "2026-12-01T08:00:00+01:00,pc,u,p,m,k\"x,i,s,g,BOOTP,eth0,confirmed,\r\n"
            "2026-12-01T08:00:00+01:00,pc,u,p,m,k,i,s,g,BOOTP,eth0,confirmed,";
  }
  RecordHistory history = ReadCommissioningRecord(path.string());
  EXPECT_EQ(history.entries.size(), 1u);
  EXPECT_EQ(history.damaged, 4u);

  ASSERT_EQ(AppendCommissioningRecord(Entry("2026-12-02T08:00:00+01:00", "B"), path.string()), "");
  history = ReadCommissioningRecord(path.string());
  ASSERT_EQ(history.entries.size(), 2u);
  EXPECT_EQ(history.entries[1].maker, "B");
  EXPECT_EQ(history.damaged, 4u);
}

TEST_F(RecordTest, AFailedWriteSaysWhereAndWhy) {
  std::filesystem::create_directories(m_folder);
  // A folder where the file should be.
  const std::filesystem::path path = m_folder / "commissioning.csv";
  std::filesystem::create_directories(path);
  const std::string why = AppendCommissioningRecord(Entry("2026-12-01T08:00:00+01:00", "A"),
                                                    path.string());
  EXPECT_TRUE(why.starts_with("The commissioning record could not be written to " +
                              path.string() + ": "))
      << why;
  EXPECT_GT(why.size(), path.string().size() + 52) << why;
}

TEST(RecordTime, TheLocalTimeCarriesItsOffsetFromUtc) {
  // 2026-01-15 12:00:00 UTC and 2026-07-15 12:00:00 UTC.
  const std::int64_t winter = 1768478400;
  const std::int64_t summer = 1784116800;
  for (const std::int64_t instant : {winter, summer}) {
    const std::string text = IsoLocalTime(instant);
    ASSERT_EQ(text.size(), 25u) << text;
    // The text read back with its offset is the instant.
    const int offset = (text[19] == '-' ? -1 : 1) *
                       (std::stoi(text.substr(20, 2)) * 60 + std::stoi(text.substr(23, 2)));
    const int minutes = std::stoi(text.substr(11, 2)) * 60 + std::stoi(text.substr(14, 2));
    EXPECT_EQ(((minutes - offset) % 1440 + 1440) % 1440, 12 * 60) << text;
  }
#ifndef _WIN32
  // The tests run with TZ=CET-1CEST,M3.5.0,M10.5.0/3 (ctest's environment).
  EXPECT_EQ(IsoLocalTime(winter), "2026-01-15T13:00:00+01:00");
  EXPECT_EQ(IsoLocalTime(summer), "2026-07-15T14:00:00+02:00");
#endif
}

TEST(RecordLocation, TheRecordLivesInTheUsersStateFolder) {
  const std::string path = CommissioningRecordPath();
#ifdef _WIN32
  EXPECT_TRUE(path.ends_with("\\Varnholt\\Quillnet\\commissioning.csv")) << path;
#else
  EXPECT_TRUE(path.ends_with("/quillnet/commissioning.csv")) << path;
  EXPECT_EQ(path.find("/quillnet/"), path.size() - std::string("/quillnet/commissioning.csv").size());
#endif
}

}  // namespace
}  // namespace quillnet
