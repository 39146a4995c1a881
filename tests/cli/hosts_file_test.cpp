#include "cli/hosts_file.h"

#include <gtest/gtest.h>

#include <string>

namespace quillnet::cli {
namespace {

using namespace std::string_literals;

TEST(HostsFile, ReadsRowsBetweenCommentsBlankLinesAndAHeader) {
  const HostsFile file = ParseHostsFile(
      "# bench 3\r\n"
      "MAC, IP, Mask, Gateway\r\n"
      "\r\n"
      "02-00-5E-10-20-30, 10.77.0.50 ,255.255.255.0,10.77.0.1\r\n"
      "   # the second unit\n"
      "02:00:5e:10:20:31,192.168.9.51,255.255.255.0,\n"
      "02:00:5e:10:20:32,10.77.0.52,255.255.0.0",
      "hosts.csv", {"10.77.0.1", ""});
  ASSERT_FALSE(file.refusal) << file.refusal->text;
  ASSERT_EQ(file.rows.size(), 3u);
  EXPECT_EQ(file.rows[0].macText, "02:00:5e:10:20:30");
  EXPECT_EQ(file.rows[0].key, DeviceKey{0x02005E102030});
  EXPECT_EQ(file.rows[0].addresses.ipAddress, "10.77.0.50");
  EXPECT_EQ(file.rows[0].addresses.defaultGateway, "10.77.0.1");
  EXPECT_EQ(file.rows[0].line, 4);
  EXPECT_EQ(file.rows[1].addresses.defaultGateway, "");  // an empty fourth field is none
  EXPECT_EQ(file.rows[2].addresses.subnetMask, "255.255.0.0");
  EXPECT_EQ(file.rows[2].line, 7);
  // The row outside the PC's subnet passes with the wizard's warning.
  ASSERT_EQ(file.warnings.size(), 1u);
  EXPECT_EQ(file.warnings[0], "hosts.csv line 6: WARNING: this address is in a different Subnet.");
}

TEST(HostsFile, OneBadRowRefusesTheWholeFileNamingItsLine) {
  const std::string good = "02:00:5e:10:20:30,10.77.0.50,255.255.255.0\n";
  const struct {
    std::string text;
    std::string refusal;
  } cases[] = {
      {good + "02:00:5e:10:20:31,256.1.1.1,255.255.255.0\n",
       "h line 2: IP address '256.1.1.1' is not four numbers 0–255 separated by dots."},
      {good + "02:00:5e:10:20:31,10.77.0.51,255.255.255.0junk\n",
       "h line 2: Subnet mask '255.255.255.0junk' is not four numbers 0–255 separated by dots."},
      {good + "02:00:5e:10:20:31,10.77.0.51,255.255.255.0,10.77.0.01\n",
       "h line 2: Default gateway '10.77.0.01' is not four numbers 0–255 separated by dots."},
      {good + "2:0:5e:10:20:31,10.77.0.51,255.255.255.0\n",
       "h line 2: MAC address '2:0:5e:10:20:31' is not six two-digit hexadecimal numbers "
       "separated by ':' or '-'."},
      {good + "00:00:00:00:00:00,10.77.0.51,255.255.255.0\n",
       "h line 2: MAC address '00:00:00:00:00:00' is no device's address."},
      {good + "02:00:5e:10:20:31,10.77.0.51\n",
       "h line 2: expected MAC,IP,MASK or MAC,IP,MASK,GATEWAY, found 2 fields."},
      {good + "02:00:5e:10:20:31,10.77.0.51,255.255.255.0,10.77.0.1,x\n",
       "h line 2: expected MAC,IP,MASK or MAC,IP,MASK,GATEWAY, found 5 fields."},
      {good + "02:00:5e:10:20:31,10.77.0.0,255.255.255.0\n",
       "h line 2: ERROR: Invalid IP address (Host portion)."},
      {good + "02:00:5e:10:20:31,10.77.0.51,255.0.255.0\n", "h line 2: ERROR: Invalid Subnet Mask."},
      {good + "\n# again\n02-00-5E-10-20-30,10.77.0.51,255.255.255.0\n",
       "h line 4: MAC address 02:00:5e:10:20:30 is listed on line 1 already."},
      {good + "02:00:5e:10:20:31,10.77.0.50,255.255.0.0\n",
       "h line 2: IP address 10.77.0.50 is listed on line 1 already."},
      // A header is only the first row; later it is a bad row.
      {good + "MAC,IP,MASK\n",
       "h line 2: MAC address 'MAC' is not six two-digit hexadecimal numbers separated by ':' "
       "or '-'."},
      {"02:00:5e:10:20:30,10.77.0.50\0,255.255.255.0\n"s,
       "h line 1: IP address '10.77.0.50\0' is not four numbers 0–255 separated by dots."s},
      {"# nothing but a comment\n\nMAC,IP,MASK\n", "h lists no device."},
      {"", "h lists no device."},
  };
  for (const auto& c : cases) {
    const HostsFile file = ParseHostsFile(c.text, "h", {"10.77.0.1", ""});
    ASSERT_TRUE(file.refusal) << c.text;
    EXPECT_EQ(file.refusal->text, c.refusal) << c.text;
    EXPECT_EQ(file.refusal->exitCode, kExitRefused) << c.text;
    EXPECT_TRUE(file.rows.empty()) << c.text;
    EXPECT_TRUE(file.warnings.empty()) << c.text;
  }
}

}  // namespace
}  // namespace quillnet::cli
