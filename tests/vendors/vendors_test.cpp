#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "vendors/vendor_table.h"
#include "wire/message.h"

namespace quillnet {
namespace {

// Real prefixes, as Debian's ieee-data 20220827 lists them (checked by hand with grep in
// /usr/share/ieee-data). The MA-S, IAB and MA-M blocks lie inside MA-L blocks of the IEEE
// Registration Authority, so each finds its maker only by matching the longest prefix first.
TEST(Vendors, TheLongestRegisteredPrefixNamesTheMaker) {
  Vendors vendors;
  // Loaded on a thread of its own, as a program does, while lookups go on.
  std::thread loader([&vendors] { vendors.Load(); });
  const DeviceKey rockwell = ParseMacKey("00:00:bc:12:34:56");
  while (vendors.Lookup(rockwell).status == VendorStatus::kNotLoaded) std::this_thread::yield();
  loader.join();
  ASSERT_EQ(vendors.Unavailable(), "");
  const struct {
    const char* mac;
    VendorStatus status;
    const char* text;
  } cases[] = {
      {"70:b3:d5:f2:f0:01", VendorStatus::kFound, "TELEPLATFORMS"},          // MA-S 70B3D5F2F
      {"00:50:c2:7d:50:02", VendorStatus::kFound, "DEUTA-WERKE GmbH"},       // IAB 0050C27D5
      {"20:85:93:b0:00:03", VendorStatus::kFound, "IOG Products LLC"},       // MA-M 208593B
      {"20:85:93:f0:00:05", VendorStatus::kFound, "IEEE Registration Authority"},  // no 208593F
      {"00:00:bc:12:34:56", VendorStatus::kFound, "Rockwell Automation"},    // MA-L 0000BC
      {"f4:bd:9e:00:00:01", VendorStatus::kFound, "Cisco Systems, Inc"},     // a quoted name
      // The line after a record whose quoted address spans two lines (C404D8).
      {"e0:ca:3c:00:00:01", VendorStatus::kFound,
       "Hangzhou Hikvision Digital Technology Co.,Ltd."},
      {"f0:f0:f0:00:00:01", VendorStatus::kUnknown, "unknown"},
      {"02:00:5e:79:00:02", VendorStatus::kLocallyAdministered, "locally administered"},
      // The same bit on a registered prefix (00:00:BC) still means a local address.
      {"02:00:bc:12:34:56", VendorStatus::kLocallyAdministered, "locally administered"},
  };
  for (const auto& entry : cases) {
    const VendorLookup lookup = vendors.Lookup(ParseMacKey(entry.mac));
    EXPECT_EQ(lookup.status, entry.status) << entry.mac;
    EXPECT_EQ(lookup.text, entry.text) << entry.mac;
  }
}

TEST(Vendors, ALookupBeforeTheLoadSaysSoAndABadLineIsSkipped) {
  Vendors vendors;
  EXPECT_EQ(vendors.Lookup(ParseMacKey("00:00:bc:12:34:56")).text, "not loaded yet");
  VendorTable table;
  const std::size_t skipped = table.AddCsv(
      "Registry,Assignment,Organization Name,Organization Address\r\n"
      "MA-L,0000BC,Rockwell Automation,1 Allen-Bradley Dr.\r\n"
      "MA-L,00D0EF,\"IGT\"x,torn quote\r\n"
      "MA-L,12345,Five Digits,\r\n"
      "MA-L,GGGGGG,Not Hex,\r\n"
      "MA-L,0080F4,TELEMECANIQUE ELECTRIQUE\r\n"
      "MA-S,70B3D5F2F,\"Quoted \"\"Name\"\", Inc\",\"two\r\nlines\"\r\n"
      "MA-L,0000BC,A second maker for a listed prefix,\r\n"
      "MA-M,208593B,IOG Products LLC,\"open quote");
  EXPECT_EQ(skipped, 5u);
  vendors.Load(std::move(table));
  EXPECT_EQ(vendors.Lookup(ParseMacKey("00:00:bc:00:00:01")).text, "Rockwell Automation");
  EXPECT_EQ(vendors.Lookup(ParseMacKey("70:b3:d5:f2:f0:01")).text, "Quoted \"Name\", Inc");
  EXPECT_EQ(vendors.Lookup(ParseMacKey("00:d0:ef:00:00:01")).status, VendorStatus::kUnknown);
  EXPECT_EQ(vendors.Lookup(ParseMacKey("20:85:93:b0:00:01")).status, VendorStatus::kUnknown);
}

#ifndef _WIN32
TEST(Vendors, MissingRegistriesSayWhichPackageToInstall) {
  Vendors vendors;
  vendors.Load("/nonexistent/ieee-data");
  EXPECT_EQ(vendors.Unavailable(),
            "The IEEE registries are not in /nonexistent/ieee-data: install them with \"apt "
            "install ieee-data\" (as root).");
  EXPECT_EQ(vendors.Lookup(ParseMacKey("00:00:bc:12:34:56")).status, VendorStatus::kUnavailable);
  EXPECT_EQ(vendors.Lookup(ParseMacKey("02:00:bc:12:34:56")).text, "locally administered");
}
#endif

}  // namespace
}  // namespace quillnet
