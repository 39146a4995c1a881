#include "cli/hosts_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/ipv4_text.h"

namespace quillnet::cli {
namespace {

using namespace std::string_literals;

// This PC as a hosts file's rows are checked against it: one network, and its own addresses.
DeviceNetwork Pc(const std::string& address, const std::string& mask,
                 std::vector<OwnAddress> own = {}) {
  DeviceNetwork pc;
  pc.pcNetworks = {{address, mask}};
  pc.own = std::move(own);
  return pc;
}

TEST(HostsFile, ReadsRowsBetweenCommentsBlankLinesAndAHeader) {
  const HostsFile file = ParseHostsFile(
      "# bench 3\r\n"
      "MAC, IP, Mask, Gateway\r\n"
      "\r\n"
      "02-00-5E-10-20-30, 10.77.0.50 ,255.255.255.0,10.77.0.1\r\n"
      "   # the second unit\n"
      "02:00:5e:10:20:31,192.168.9.51,255.255.255.0,\n"
      "02:00:5e:10:20:32,10.77.0.52,255.255.0.0",
      "hosts.csv", Pc("10.77.0.1", ""));
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
       "h line 1: IP address '10.77.0.50\\x00' is not four numbers 0–255 separated by dots."s},
      {"# nothing but a comment\n\nMAC,IP,MASK\n", "h lists no device."},
      {"", "h lists no device."},
  };
  for (const auto& c : cases) {
    const HostsFile file = ParseHostsFile(c.text, "h", Pc("10.77.0.1", ""));
    ASSERT_TRUE(file.refusal) << c.text;
    EXPECT_EQ(file.refusal->text, c.refusal) << c.text;
    EXPECT_EQ(file.refusal->exitCode, kExitRefused) << c.text;
    EXPECT_TRUE(file.rows.empty()) << c.text;
    EXPECT_TRUE(file.warnings.empty()) << c.text;
  }
}

// `count` valid rows on lines 1.., each with its own MAC and IP address in 10.0.0.0/8.
std::string Rows(int count) {
  std::string text;
  for (int i = 2; i < count + 2; ++i) {
    char row[64];
    std::snprintf(row, sizeof row, "02:00:00:00:%02x:%02x,10.%d.%d.%d,255.0.0.0\n",
                  (i >> 8) & 0xFF, i & 0xFF, i >> 16, (i >> 8) & 0xFF, i & 0xFF);
    text += row;
  }
  return text;
}

// A file of exactly `size` bytes: one row, then a comment that fills it up.
std::string RowPaddedTo(std::size_t size) {
  std::string text = "02:00:5e:10:20:30,10.77.0.50,255.255.255.0\n#";
  text.resize(size, 'x');
  return text;
}

// `text` (ASCII) in UTF-16 after the bytes `mark`.
std::string Utf16(const std::string& mark, const std::string& text, bool bigEndian) {
  std::string bytes = mark;
  for (const char c : text) {
    bytes += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
  }
  return bytes;
}

TEST(HostsFile, EdgesOfFilesFromTheField) {
  const std::string good = "02:00:5e:10:20:30,10.77.0.50,255.255.255.0\n";
  const std::string good2 = "02:00:5e:10:20:31,10.77.0.51,255.255.255.0\n";
  const std::string otherSubnet = "255.255.255.0\n";
  std::string thirteenWarnings;
  for (int i = 0; i < 13; ++i) {
    thirteenWarnings +=
        "02:00:5e:10:21:" + std::to_string(10 + i) + ",10.78.0." + std::to_string(10 + i) + "," +
        otherSubnet;
  }
  std::uint32_t ownIp = 0;
  ASSERT_TRUE(ReadIpv4Text("10.77.0.1", ownIp));
  const std::vector<OwnAddress> own = {{ownIp, "eth0"}};
  const struct {
    const char* label;
    std::string text;
    std::string refusal;  // empty: the file is read
    std::size_t rows;
    std::size_t warningCount;
    std::string firstWarning;
    std::string lastWarning;
  } cases[] = {
      {"a spreadsheet's byte order mark before the header", "\xEF\xBB\xBFMAC,IP,MASK\n" + good,
       "", 1, 0, "", ""},
      {"only a byte order mark", "\xEF\xBB\xBF", "h lists no device.", 0, 0, "", ""},
      {"16 MiB", RowPaddedTo(16 * 1024 * 1024), "", 1, 0, "", ""},
      {"16 MiB and a byte", RowPaddedTo(16 * 1024 * 1024 + 1),
       "h is larger than 16 MiB, the most a hosts file may hold.", 0, 0, "", ""},
      {"65536 rows", Rows(65536), "", 65536, 0, "", ""},
      {"65537 rows", Rows(65537), "h line 65537: a hosts file may list at most 65536 devices.",
       0, 0, "", ""},
      {"this PC's address", good + "02:00:5e:10:20:31,10.77.0.1,255.255.255.0\n",
       "h line 2: IP address 10.77.0.1 is in use by this PC's interface eth0. Give the device "
       "another address.",
       0, 0, "", ""},
      {"broadcast MAC", good + "FF-FF-FF-FF-FF-FF,10.77.0.51,255.255.255.0\n",
       "h line 2: MAC address 'FF-FF-FF-FF-FF-FF' is the broadcast address, no device's "
       "address.",
       0, 0, "", ""},
      {"multicast MAC", good + "33:33:00:00:00:01,10.77.0.51,255.255.255.0\n",
       "h line 2: MAC address '33:33:00:00:00:01' is a multicast address, no device's address.",
       0, 0, "", ""},
      // Ten rows' warnings are shown, then one line counts the other three.
      {"thirteen rows with one warning", good + thirteenWarnings, "", 14, 11,
       "h line 2: WARNING: this address is in a different Subnet.",
       "h: ... and 3 more rows with the same warning."},
      // As spreadsheets save "Unicode text": UTF-16 with its byte order mark, or without.
      {"UTF-16 little-endian with its mark", Utf16("\xFF\xFE", "MAC,IP,MASK\r\n" + good, false),
       "", 1, 0, "", ""},
      {"UTF-16 big-endian without a mark", Utf16("", good + good2, true), "", 2, 0, "", ""},
      {"CR alone ends a line", "MAC,IP,MASK\r" + good.substr(0, good.size() - 1) + "\r" + good2,
       "", 2, 0, "", ""},
      {"semicolons", "02:00:5e:10:20:30;10.77.0.50;255.255.255.0\n",
       "h line 1: expected MAC,IP,MASK or MAC,IP,MASK,GATEWAY; the fields are separated by "
       "semicolons; use commas.",
       0, 0, "", ""},
      {"one field", "02:00:5e:10:20:30\n",
       "h line 1: expected MAC,IP,MASK or MAC,IP,MASK,GATEWAY, found 1 field.", 0, 0, "", ""},
      {"a gateway the device cannot reach", good2.substr(0, good2.size() - 1) + ",192.168.9.1\n",
       "", 1, 1, "h line 1: WARNING: the default gateway is outside the device's subnet.",
       "h line 1: WARNING: the default gateway is outside the device's subnet."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const HostsFile file = ParseHostsFile(c.text, "h", Pc("10.77.0.1", "255.0.0.0", own));
    EXPECT_EQ(file.refusal ? file.refusal->text : "", c.refusal);
    if (file.refusal) {
      EXPECT_EQ(file.refusal->exitCode, kExitRefused);
    }
    EXPECT_EQ(file.rows.size(), c.rows);
    ASSERT_EQ(file.warnings.size(), c.warningCount);
    if (c.warningCount != 0) {
      EXPECT_EQ(file.warnings.front(), c.firstWarning);
      EXPECT_EQ(file.warnings.back(), c.lastWarning);
    }
  }
}

}  // namespace
}  // namespace quillnet::cli
