// The Listen, Set IP and Assign IP pages' logic in the real sheet, on fake sockets and routes,
// shown in the fake frame and driven as a user would.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "app/assignment_timing.h"
#include "dialogs/dialog_ids.h"
#include "pages/assign_ip_page.h"
#include "pages/listen_page.h"
#include "pages/set_ip_page.h"
#include "platform/net_helper.h"
#include "platform/program_file.h"
#include "platform/winsock_errors.h"
#include "record/commissioning_record.h"
#include "tests/pages/page_test_support.h"

namespace quillnet {
namespace {

using namespace std::chrono_literals;
using testing::Ip;
using testing::Request;

constexpr DeviceKey kDeviceA = 0x02005E000001;
constexpr DeviceKey kDeviceB = 0x02005E000002;
constexpr DeviceKey kDeviceC = 0x02005E000003;
const std::string kMacA = "02:00:5e:00:00:01";
const std::string kMacB = "02:00:5e:00:00:02";
const std::string kMacC = "02:00:5e:00:00:03";

// "\r\n", a bare "\r" and a bare "\n" each end one line, as a rich-edit control shows them.
std::string Shown(std::string text) {
  std::string lines;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '\r') {
      lines += '\n';
      if (at + 1 < text.size() && text[at + 1] == '\n') ++at;
    } else {
      lines += text[at];
    }
  }
  return lines;
}

class PagesTest : public testing::WizardOnFakes {
 protected:
  PagesTest() {
    // One interface to answer through.
    m_routes.rows = {{0xFFFFFFFFu, 0xFFFFFFFFu, Ip(192, 168, 0, 5)}};
    m_environment.answerWindow = std::chrono::milliseconds(kAnswerWindowMs);
  }
  // Short, so that a device that never answers ends a test soon.
  static constexpr int kAnswerWindowMs = 1500;

  void Hear(DeviceKey mac, bool valid = true) {
    Request request;
    request.mac = mac;
    if (!valid) request.sname = "elsewhere";
    m_sockets.Push(request.Bytes(), m_heardOn);
  }
  // The interface requests come in on; 0: not known.
  int m_heardOn = 0;

  std::vector<std::string> ListedMacs() const {
    std::vector<std::string> macs;
    const ListRows* rows = Wizard().Window().rows;
    for (int row = 0; rows != nullptr && row < rows->RowCount(); ++row) {
      macs.push_back(rows->Cell(row, CDeviceList::kMacColumn));
    }
    return macs;
  }
  bool Listed(const std::string& mac) const {
    const auto macs = ListedMacs();
    return std::find(macs.begin(), macs.end(), mac) != macs.end();
  }
  int RowOf(const std::string& mac) const {
    const auto macs = ListedMacs();
    return static_cast<int>(std::find(macs.begin(), macs.end(), mac) - macs.begin());
  }
  std::string SelectedMac() const {
    const testing::FakePageWindow& window = Wizard().Window();
    return window.selectedRow < 0 ? std::string()
                                  : window.rows->Cell(window.selectedRow, CDeviceList::kMacColumn);
  }
  std::string ResultLine() const { return Wizard().Window().Text(IDC_RESULT_LINE); }
  std::string Entry(int id) const { return Wizard().Window().GetAddress(id).Text(); }
  // The summary of the page shown: the Assign IP page and the end pages each have one.
  std::string Summary() const {
    const testing::FakePageWindow& window = Wizard().Window();
    return Shown(window.Text(On("assignIpPage") ? IDC_ASSIGN_SUMMARY : IDC_SUMMARY));
  }
  template <typename Condition>
  bool WaitFor(Condition condition) {
    return Wizard().WaitFor(condition);
  }

  void GoToListen() {
    ASSERT_TRUE(On("welcomePage"));
    ASSERT_TRUE(Wizard().Next());
    ASSERT_TRUE(On("listenPage"));
  }
  // Listen page → the device heard and selected → Set IP page.
  void GoToSetIp(DeviceKey mac) {
    GoToListen();
    Hear(mac);
    ASSERT_TRUE(WaitFor([&] { return Listed(FormatMacAddress(mac)); }));
    Wizard().SelectRow(RowOf(FormatMacAddress(mac)));
    ASSERT_TRUE(WaitFor([&] { return Wizard().NextEnabled(); }));
    ASSERT_TRUE(Wizard().Next());
    ASSERT_TRUE(On("setIpPage"));
  }
  // The fake network answers every probe for an address of `holders` as its holder would.
  void AnswerProbes(const std::map<std::string, DeviceKey>& holders) {
    std::map<std::uint32_t, std::uint64_t> byAddress;
    for (const auto& [text, holder] : holders) {
      std::uint32_t ip = 0;
      ASSERT_TRUE(ReadIpv4Text(text, ip));
      byAddress[ip] = holder;
    }
    m_neighbours.AnswerProbes(std::move(byAddress));
  }
};

TEST_F(PagesTest, ListenListsValidDevicesAndTheSelectionStaysOnItsDevice) {
  Show();
  GoToListen();
  EXPECT_TRUE(ListedMacs().empty());
  EXPECT_EQ(Wizard().Buttons(), PSWIZB_BACK);
  EXPECT_FALSE(Wizard().Window().Shown(IDC_VALID_ONLY));
  EXPECT_TRUE(Wizard().Window().GetCheck(IDC_VALID_ONLY));

  // A device heard only with invalid requests is not listed until a valid one arrives.
  Hear(kDeviceA, false);
  Hear(kDeviceB);
  Hear(kDeviceC);
  ASSERT_TRUE(WaitFor([&] { return ListedMacs() == std::vector<std::string>{kMacB, kMacC}; }));
  Wizard().SelectRow(1);
  ASSERT_TRUE(WaitFor([&] { return Wizard().NextEnabled(); }));
  EXPECT_EQ(m_info->GetMacAddress(), kMacC);

  // A turns valid: it takes its place in table order, above the selected device, and the
  // selection and the stored MAC stay with C.
  Hear(kDeviceA);
  Hear(kDeviceC);
  ASSERT_TRUE(WaitFor([&] {
    return ListedMacs().size() == 3 && Wizard().Window().rows->Cell(2, 1) == "2";
  }));
  EXPECT_EQ(ListedMacs(), (std::vector<std::string>{kMacA, kMacB, kMacC}));
  Wizard().Run(3 * std::chrono::milliseconds(CListenDlg::kTimerMs));
  EXPECT_EQ(SelectedMac(), kMacC);
  EXPECT_EQ(m_info->GetMacAddress(), kMacC);

  // The maker's devices only; the prefix counts only at the start.
  Hear(0x0A5C31123456);
  Hear(0x0A5C32000001);
  Hear(0x0011220A5C31);
  ASSERT_TRUE(WaitFor([&] { return ListedMacs().size() == 6; }));
  Wizard().Check(IDC_VENDOR_ONLY);
  EXPECT_EQ(ListedMacs(), (std::vector<std::string>{"0a:5c:31:12:34:56", "0a:5c:32:00:00:01"}));
  // The selection went with the old rows: Back only, the stored MAC stays.
  EXPECT_TRUE(WaitFor([&] { return Wizard().Buttons() == PSWIZB_BACK; }));
  EXPECT_EQ(m_info->GetMacAddress(), kMacC);
  EXPECT_FALSE(Wizard().NextEnabled());
}

// Heard from nobody for the silence window, the page says what it knows in place of the
// power-cycle hint, asking the firewall once; a request ends that for good.
TEST_F(PagesTest, ListenExplainsASilenceUntilARequestArrives) {
  constexpr auto kWindow = 500ms;
  m_environment.silenceWindow = kWindow;
  m_adapters.adapters.push_back({"eth1", {{"10.1.0.2", "255.255.0.0"}, {"10.2.0.2", "255.255.0.0"}}, "0.0.0.0", 3});
  m_adapters.adapters.push_back({"wlan0", {{"0.0.0.0", "0.0.0.0"}}, "0.0.0.0", 4});
  int asked = 0;
  m_environment.firewall = [&asked] {
    ++asked;
    FirewallCheck check;
    check.verdict = FirewallCheck::Verdict::kBlocks;
    check.firewall = "Windows Firewall";
    check.findings = {"the rule \"No DHCP\" blocks UDP port 67 in for every program."};
    return check;
  };
  const auto start = std::chrono::steady_clock::now();
  Show();
  GoToListen();
  const auto hint = [&] { return Wizard().Window().Text(IDC_POWER_CYCLE_HINT); };
  const std::string powerCycle =
      "If you do not see the MAC address of the device you are looking for, try cycling power "
      "to that device.";
  ASSERT_TRUE(WaitFor([&] { return hint().starts_with("No request yet."); }));
  EXPECT_GE(std::chrono::steady_clock::now() - start, kWindow);
  EXPECT_EQ(hint(),
            "No request yet. Listening on eth0 192.168.0.5, eth1 10.1.0.2, eth1 10.2.0.2. Windows "
            "Firewall: the rule \"No DHCP\" blocks UDP port 67 in for every program. If the device "
            "is on, power-cycle the device: it asks when it starts.");

  // Any request, even one the list does not show, ends the silence.
  Hear(kDeviceA, false);
  ASSERT_TRUE(WaitFor([&] { return hint() == powerCycle; }));
  Wizard().Back();
  ASSERT_TRUE(Wizard().Next());
  Wizard().Run(3 * std::chrono::milliseconds(CListenDlg::kTimerMs));
  EXPECT_EQ(hint(), powerCycle);
  EXPECT_EQ(asked, 1);
}

// Once the table is full, the page says so, once: devices heard after that are not listed.
TEST_F(PagesTest, AFullDeviceTableIsSaidOnTheListenPage) {
  Show();
  GoToListen();
  const std::string hint = Wizard().Window().Text(IDC_POWER_CYCLE_HINT);
  constexpr DeviceKey kFirst = 0x02005E100000;
  for (DeviceKey i = 0; i < BootPServer::kMaxRows; ++i) {
    Request request;
    request.mac = kFirst + i;
    m_sockets.Push(request.Bytes());
  }
  ASSERT_TRUE(Wizard().WaitFor(
      [&] { return m_info->GetServer()->GetRequestCount() == static_cast<int>(BootPServer::kMaxRows); },
      std::chrono::seconds(60)));
  Wizard().Run(2 * std::chrono::milliseconds(CListenDlg::kTimerMs));
  EXPECT_EQ(Wizard().Window().Text(IDC_POWER_CYCLE_HINT), hint);
  Hear(kFirst + BootPServer::kMaxRows);
  ASSERT_TRUE(WaitFor([&] {
    return Wizard().Window().Text(IDC_POWER_CYCLE_HINT).rfind("The list is full: it holds 65536 devices", 0) == 0;
  })) << Wizard().Window().Text(IDC_POWER_CYCLE_HINT);
}

TEST_F(PagesTest, DoubleClickMovesOnAndReturningStartsNoSecondWorker) {
  Show();
  GoToListen();
  // On no row: nothing happens.
  Wizard().DoubleClick(IDC_DEVICE_LIST);
  EXPECT_TRUE(On("listenPage"));
  Hear(kDeviceB);
  ASSERT_TRUE(WaitFor([&] { return ListedMacs().size() == 1; }));
  Wizard().SelectRow(0);
  Wizard().DoubleClick(IDC_DEVICE_LIST);
  ASSERT_TRUE(On("setIpPage"));
  EXPECT_EQ(Wizard().Window().Text(IDC_SELECTED_MAC), kMacB);

  ASSERT_TRUE(Wizard().Back());
  ASSERT_TRUE(Wizard().Back());
  ASSERT_TRUE(On("welcomePage"));
  ASSERT_TRUE(Wizard().Next());
  ASSERT_TRUE(On("listenPage"));
  EXPECT_EQ(ListedMacs().size(), 1u);
  EXPECT_EQ(m_serversMade, 1);
  const std::vector<std::string> log = m_sockets.log();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& line) { return line.ends_with(" 0.0.0.0:67"); }),
            1);
}

TEST_F(PagesTest, PortTakenShowsTheFailurePageAndBackRetriesTheStart) {
  m_sockets.failAnyBindNumber = 1;
  m_sockets.failAnyBindError = 10048;
  Show();
  ASSERT_TRUE(Wizard().Next());
  // The page shows at once; the first tick after the failed start goes on.
  ASSERT_TRUE(WaitFor([&] { return On("failurePage"); }));
  EXPECT_NE(Summary().find("Bootp Server Startup failed. There is already a Bootp Server running"),
            std::string::npos);

  // The port is free again: Back retries the start and the Listen page stays.
  ASSERT_TRUE(Wizard().Back());
  ASSERT_TRUE(On("listenPage"));
  ASSERT_TRUE(WaitFor([&] { return m_info->GetServer()->IsRunning(); }));
  Wizard().Run(3 * std::chrono::milliseconds(CListenDlg::kTimerMs));
  EXPECT_TRUE(On("listenPage"));
  Hear(kDeviceB);
  EXPECT_TRUE(WaitFor([&] { return ListedMacs().size() == 1; }));
}

TEST_F(PagesTest, PortRefusedForLackOfPermissionNamesTheCommandThatGrantsIt) {
  m_sockets.failAnyBindNumber = 1;
  m_sockets.failAnyBindError = 10013;
  Show();
  ASSERT_TRUE(Wizard().Next());
  ASSERT_TRUE(WaitFor([&] { return On("failurePage"); }));
  // Where the port needs a capability, the command that grants it; where any program may
  // bind it, that another holds it.
  const std::string advice =
      NeedsNetHelper() ? "This program may not listen on BOOTP port 67: it lacks the capability "
                         "cap_net_bind_service. To grant it, run:\nsudo setcap "
                         "cap_net_bind_service,cap_net_raw=+ep '" + RunningProgramPath() + "'\n"
                       : "UDP port 67 is refused to this program.\n";
  EXPECT_EQ(Summary(), "ERROR:  \nbind BOOTPS port failed 10013 (0000271D)\n\n" + advice);
  EXPECT_EQ(Wizard().Window().bold.at(IDC_SUMMARY), 8);
}

TEST_F(PagesTest, SetIpPrefillsChecksEveryChangeAndStoresWhatPasses) {
  Show();
  GoToSetIp(kDeviceB);
  // The PC's network with an empty fourth part, the PC's mask, no gateway; Next waits.
  EXPECT_EQ(Entry(IDC_IP_ADDRESS), "192.168.0.");
  EXPECT_EQ(Entry(IDC_SUBNET_MASK), "255.255.255.0");
  EXPECT_EQ(Entry(IDC_DEFAULT_GATEWAY), "");
  EXPECT_EQ(Wizard().Window().Text(IDC_PC_ADDRESS), "192.168.0.5");
  EXPECT_FALSE(Wizard().NextEnabled());

  struct Case {
    const char* ip;
    const char* expectedLine;
    bool passes;
  };
  const Case cases[] = {
      {"192.168.0.0", "ERROR: Invalid IP address (Host portion).", false},
      {"127.0.0.1", "ERROR: Loopback IP range.", false},
      {"224.0.0.1", "ERROR: Can't assign a Multicast address.", false},
      {"10.1.2.3", "WARNING: this address is in a different Subnet.", true},
      {"192.168.0.20", "", true},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.ip);
    Wizard().Type(IDC_IP_ADDRESS, each.ip);
    EXPECT_EQ(ResultLine(), each.expectedLine);
    EXPECT_EQ(Wizard().NextEnabled(), each.passes);
  }
  EXPECT_EQ(m_info->GetIpAddress(), "192.168.0.20");

  // A gateway with an empty part is refused as it is typed; completing it enables Next.
  Wizard().Type(IDC_DEFAULT_GATEWAY, "192.168.0.");
  EXPECT_EQ(ResultLine(), "ERROR: Incomplete Default gateway.");
  EXPECT_FALSE(Wizard().NextEnabled());
  // One the device cannot reach is advice, as the subnet warning is: Next is offered.
  Wizard().Type(IDC_DEFAULT_GATEWAY, "192.168.9.1");
  EXPECT_EQ(ResultLine(), "WARNING: the default gateway is outside the device's subnet.");
  EXPECT_TRUE(Wizard().NextEnabled());
  Wizard().Type(IDC_DEFAULT_GATEWAY, "192.168.0.1");
  EXPECT_EQ(ResultLine(), "");
  ASSERT_TRUE(Wizard().Next());
  ASSERT_TRUE(On("assignIpPage"));
  EXPECT_EQ(m_info->GetDefaultGateway(), "192.168.0.1");

  // Back with the same device: the values stay and Next is offered at once.
  ASSERT_TRUE(Wizard().Back());
  ASSERT_TRUE(On("setIpPage"));
  EXPECT_EQ(Entry(IDC_IP_ADDRESS), "192.168.0.20");
  EXPECT_EQ(Wizard().Buttons(), PSWIZB_BACK | PSWIZB_NEXT);

  // Another device with a remembered record gets that record.
  m_info->SetMacAddress(kMacA);
  m_info->SetIpAddress("172.16.5.9");
  m_info->SetSubnetMask("255.255.0.0");
  m_info->SetDefaultGateway("172.16.0.1");
  m_info->SaveRememberedAddresses();
  ASSERT_TRUE(Wizard().Back());
  ASSERT_TRUE(On("listenPage"));
  Hear(kDeviceA);
  ASSERT_TRUE(WaitFor([&] { return ListedMacs().size() == 2; }));
  Wizard().SelectRow(1);
  ASSERT_TRUE(WaitFor([&] { return Wizard().NextEnabled(); }));
  ASSERT_TRUE(Wizard().Next());
  ASSERT_TRUE(On("setIpPage"));
  EXPECT_EQ(Entry(IDC_IP_ADDRESS), "172.16.5.9");
  EXPECT_EQ(Entry(IDC_SUBNET_MASK), "255.255.0.0");
  EXPECT_EQ(Entry(IDC_DEFAULT_GATEWAY), "172.16.0.1");
}

// A Win32 IP address control tells of every part it is given, last part first: while the page
// fills its entries, none of that is taken for the user's typing.
TEST_F(PagesTest, SetIpTakesNoChangeWhileItFillsItsEntries) {
  Show();
  GoToSetIp(kDeviceB);
  Wizard().Type(IDC_IP_ADDRESS, "192.168.0.20");
  Wizard().Type(IDC_DEFAULT_GATEWAY, "192.168.0.1");
  ASSERT_TRUE(Wizard().Next());
  ASSERT_TRUE(On("assignIpPage"));
  ASSERT_TRUE(Wizard().Back());
  Wizard().Window().notifyWhileFilled = true;
  // Back to the Listen page and to this page again: the same values are filled in anew.
  ASSERT_TRUE(Wizard().Back());
  ASSERT_TRUE(WaitFor([&] { return Wizard().NextEnabled(); }));
  ASSERT_TRUE(Wizard().Next());
  ASSERT_TRUE(On("setIpPage"));
  EXPECT_EQ(Entry(IDC_IP_ADDRESS), "192.168.0.20");
  EXPECT_EQ(m_info->GetIpAddress(), "192.168.0.20");
  EXPECT_EQ(m_info->GetDefaultGateway(), "192.168.0.1");
  EXPECT_EQ(ResultLine(), "");
}

TEST_F(PagesTest, SetIpNamesAnotherDeviceThatAnswersAtTheAddress) {
  constexpr DeviceKey kHolder = 0x02005E000099;
  AnswerProbes({{"192.168.0.30", kHolder}, {"192.168.0.31", kDeviceB}});
  m_adapters.adapters.push_back({"eth1", {{"10.9.0.5", "255.255.255.0"}}, "0.0.0.0", 3});
  Show();
  GoToSetIp(kDeviceB);
  Wizard().Type(IDC_IP_ADDRESS, "192.168.0.30");
  // Advice, like the subnet warning: Next stays offered.
  EXPECT_TRUE(WaitFor([&] {
    return ResultLine() == "WARNING: 192.168.0.30 is already in use by 02:00:5e:00:00:99.";
  }));
  EXPECT_TRUE(Wizard().NextEnabled());
  // An error takes the line first; once the mask is right again, the warning is back.
  Wizard().Type(IDC_SUBNET_MASK, "255.0.255.0");
  EXPECT_EQ(ResultLine(), "ERROR: Invalid Subnet Mask.");
  Wizard().Type(IDC_SUBNET_MASK, "255.255.255.0");
  EXPECT_EQ(ResultLine(), "WARNING: 192.168.0.30 is already in use by 02:00:5e:00:00:99.");
  // This PC's own address is refused, as assign refuses it: the device would clash with the
  // PC. The PC never answers its own probes, so it is known without them.
  Wizard().Type(IDC_IP_ADDRESS, "192.168.0.5");
  EXPECT_EQ(ResultLine(), "ERROR: 192.168.0.5 is already in use by this PC's interface eth0.");
  EXPECT_TRUE(WaitFor([&] { return !Wizard().NextEnabled(); }));
  EXPECT_EQ(Wizard().Next(), false);
  EXPECT_TRUE(On("setIpPage"));
  // So are its addresses on its other interfaces.
  Wizard().Type(IDC_IP_ADDRESS, "10.9.0.5");
  EXPECT_EQ(ResultLine(), "ERROR: 10.9.0.5 is already in use by this PC's interface eth1.");
  // The selected device itself answering there is no warning.
  Wizard().Type(IDC_IP_ADDRESS, "192.168.0.31");
  Wizard().WaitFor([] { return false; }, 500ms);
  EXPECT_EQ(ResultLine(), "");
}

// A device heard on the PC's second network: the page takes this PC's address, mask and
// prefix from that interface.
TEST_F(PagesTest, SetIpProposesTheNetworkTheDeviceWasHeardOn) {
  m_adapters.adapters.push_back({"eth1", {{"10.92.0.1", "255.255.0.0"}}, "0.0.0.0", 7});
  Show();
  GoToListen();
  Request request;
  request.mac = kDeviceB;
  m_sockets.Push(request.Bytes(), 7);
  ASSERT_TRUE(WaitFor([&] { return Listed(kMacB); }));
  Wizard().SelectRow(0);
  ASSERT_TRUE(WaitFor([&] { return Wizard().NextEnabled(); }));
  ASSERT_TRUE(Wizard().Next());
  ASSERT_TRUE(On("setIpPage"));
  EXPECT_EQ(Wizard().Window().Text(IDC_PC_ADDRESS), "10.92.0.1");
  EXPECT_EQ(Entry(IDC_IP_ADDRESS), "10.92.0.");
  EXPECT_EQ(Entry(IDC_SUBNET_MASK), "255.255.0.0");
  Wizard().Type(IDC_IP_ADDRESS, "10.92.0.50");
  EXPECT_EQ(ResultLine(), "");
  EXPECT_TRUE(Wizard().NextEnabled());
}

class AssignTest : public PagesTest {
 protected:
  // With `justHeard` the device's latest request is one to answer at once; otherwise it was
  // one that is not (it names a server), so the page waits for the device's next request.
  void GoToAssign(bool justHeard = false) {
    Show();
    GoToSetIp(kDeviceB);
    if (!justHeard) {
      Hear(kDeviceB, false);
      ASSERT_TRUE(WaitFor([&] { return m_info->GetServer()->GetCount(0) == 2; }));
    }
    Wizard().Type(IDC_IP_ADDRESS, "192.168.0.20");
    Wizard().Type(IDC_DEFAULT_GATEWAY, "192.168.0.1");
    ASSERT_TRUE(Wizard().Next());
    ASSERT_TRUE(On("assignIpPage"));
  }
  // From the Listen page, the first device chosen again with the addresses that passed before:
  // on to the Assign IP page.
  void AssignAgain() {
    Wizard().SelectRow(0);
    ASSERT_TRUE(WaitFor([&] { return Wizard().NextEnabled(); }));
    ASSERT_TRUE(Wizard().Next());
    ASSERT_TRUE(WaitFor([&] { return Wizard().NextEnabled(); }));
    ASSERT_TRUE(Wizard().Next());
    ASSERT_TRUE(On("assignIpPage"));
  }
  std::string Elapsed() const { return Wizard().Window().Text(IDC_ELAPSED); }
  // Waits longer than WaitFor: a check that nobody answers takes the whole window.
  template <typename Condition>
  bool WaitForConfirmation(Condition condition) {
    return Wizard().WaitFor(condition, std::chrono::milliseconds(5000 + 2 * kAnswerWindowMs));
  }
  bool Contains(const std::string& text) const { return Summary().find(text) != std::string::npos; }
};

TEST_F(AssignTest, ADeviceThatJustAskedIsAnsweredAtOnceAndItsAnswerEndsTheAssignment) {
  AnswerProbes({{"192.168.0.20", kDeviceB}});
  GoToAssign(true);
  ASSERT_TRUE(WaitFor([&] { return On("completionPage"); }));
  EXPECT_FALSE(m_info->GetServer()->IsArmed());
  const auto sent = m_sockets.sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].bytes[kYiaddrOffset + 3], 20);
  // The verdict comes first, in bold.
  const std::string verdict = "Confirmed: the device answers at 192.168.0.20.";
  EXPECT_EQ(Summary().rfind(verdict + "\n\nSuccessfully assigned MAC address:", 0), 0u) << Summary();
  EXPECT_EQ(Wizard().Window().bold.at(IDC_SUMMARY), static_cast<int>(verdict.size()));
  // The probe that was answered asked by ARP for the address, on the interface toward the
  // device.
  const auto questions = m_neighbours.questions();
  ASSERT_FALSE(questions.empty());
  EXPECT_FALSE(questions.back().echo);
  EXPECT_EQ(questions.back().ip, Ip(192, 168, 0, 20));
  EXPECT_EQ(questions.back().interfaces, std::vector<int>{kPcInterface});

  // Finish closes the wizard; an address control that tells of a change as its window goes
  // changes nothing.
  ASSERT_TRUE(Wizard().Finish());
  EXPECT_EQ(Wizard().Result(), 1);
  Wizard().WindowOf(2)->addresses[IDC_IP_ADDRESS] = IpEntry::FromText("192.168.0.99");
  m_sheet->GetPage(2)->Command(IDC_IP_ADDRESS, ControlEvent::kFieldChanged);
  EXPECT_EQ(m_info->GetIpAddress(), "192.168.0.20");
}

TEST_F(AssignTest, WithoutTheWayToAskTheReplyCountsAndTheCompletionPageSaysWhy) {
  m_neighbours.Refuse(kWsaBase + EPERM,
                      "this program lacks the CAP_NET_RAW capability, which ARP probes need");
  GoToAssign(true);
  ASSERT_TRUE(WaitFor([&] { return On("completionPage"); }));
  EXPECT_EQ(m_sockets.sent().size(), 1u);
  EXPECT_EQ(Summary().rfind("Not confirmed: this PC could not ask whether the device answers.\n", 0),
            0u);
  EXPECT_TRUE(Contains("Could not check that the device answers at 192.168.0.20: "
                       "this program lacks the CAP_NET_RAW capability"));
  // The programs hold no capability: the way to ask is the helper's, never a setcap on them.
  EXPECT_FALSE(Contains("setcap"));
}

TEST_F(AssignTest, ArmsCountsAndMovesToCompletionOnceTheReplyHasGoneOut) {
  GoToAssign();
  EXPECT_EQ(Elapsed(), "0");
  EXPECT_TRUE(m_info->GetServer()->IsArmed());
  EXPECT_EQ(Summary().rfind("Attempting to assign MAC address:\n\t02:00:5e:00:00:02\n\nthe following:", 0), 0u);
  EXPECT_EQ(Wizard().Window().fonts.at(IDC_ASSIGN_SUMMARY), FontRole::kSummary);
  // Remembered before the device has them.
  m_info->SetIpAddress("");
  ASSERT_TRUE(m_info->LoadRememberedAddresses());
  EXPECT_EQ(m_info->GetIpAddress(), "192.168.0.20");
  Wizard().Fire(CAssignIPDlg::kTimerId);
  Wizard().Fire(CAssignIPDlg::kTimerId);
  EXPECT_EQ(Elapsed(), "2");
  EXPECT_TRUE(On("assignIpPage"));
  EXPECT_FALSE(Wizard().NextEnabled());
  // A Next sent by other means is refused.
  EXPECT_EQ(m_sheet->GetPage(3)->OnWizardNext(), -1);
  // Set IP's entry tells of a change once Enter has left it (as it loses the focus): the
  // page shown keeps its buttons.
  m_sheet->GetPage(2)->Command(IDC_IP_ADDRESS, ControlEvent::kFieldChanged);
  Wizard().Run();
  EXPECT_EQ(Wizard().Buttons(), PSWIZB_BACK);

  Hear(kDeviceB);
  ASSERT_TRUE(WaitFor([&] { return m_sockets.sent().size() == 1; }));
  const auto sent = m_sockets.sent();
  EXPECT_EQ(sent[0].from, Ip(192, 168, 0, 5));
  const std::vector<std::uint8_t> yiaddr(sent[0].bytes.begin() + kYiaddrOffset,
                                         sent[0].bytes.begin() + kYiaddrOffset + 4);
  EXPECT_EQ(yiaddr, (std::vector<std::uint8_t>{192, 168, 0, 20}));
  // Nobody answers the probes: the page asks through its window, counting on, and then says
  // so without calling it a failure.
  const int elapsedAtReply = std::stoi(Elapsed());
  ASSERT_TRUE(WaitForConfirmation([&] { return On("completionPage"); }));
  EXPECT_GT(std::stoi(Wizard().WindowOf(3)->Text(IDC_ELAPSED)), elapsedAtReply);
  EXPECT_EQ(Summary().rfind("Not confirmed: no answer at 192.168.0.20 within 1.5 seconds.\n", 0), 0u)
      << Summary();
  EXPECT_TRUE(Contains("Check that it answers at 192.168.0.20."));
}

// A DHCP device's messages; it asks for 192.168.0.20 from the PC's interface.
struct DhcpDevice {
  DhcpDevice() { device.mac = kDeviceB; }
  Request device;
  std::vector<std::uint8_t> Discover() const { return device.WithOptions({53, 1, 1}); }
  std::vector<std::uint8_t> Request20() const {
    return device.WithOptions({53, 1, 3, 50, 4, 192, 168, 0, 20, 54, 4, 192, 168, 0, 5});
  }
  std::vector<std::uint8_t> Decline20() const {
    return device.WithOptions({53, 1, 4, 50, 4, 192, 168, 0, 20});
  }
};

// The offer leaves the page waiting; the ack is the device's word that it took the address.
TEST_F(AssignTest, ADhcpDeviceIsOfferedItsAddressAndAcceptsIt) {
  const DhcpDevice dhcp;
  AnswerProbes({{"192.168.0.20", kDeviceB}});
  GoToAssign();
  m_sockets.Push(dhcp.Discover());
  ASSERT_TRUE(WaitFor([&] { return m_sockets.sent().size() == 1; }));
  Wizard().WaitFor([] { return false; }, 300ms);
  EXPECT_TRUE(On("assignIpPage"));
  m_sockets.Push(dhcp.Request20());
  ASSERT_TRUE(WaitForConfirmation([&] { return On("completionPage"); }));
  EXPECT_EQ(Summary().rfind("Confirmed: the device took 192.168.0.20 and answers there.", 0), 0u);
  EXPECT_TRUE(Contains("The device accepted 192.168.0.20."));
}

// A device that finds the address in use after its ack, while it is being checked.
TEST_F(AssignTest, ADhcpDeviceThatDeclinesItsAddressEndsOnTheFailurePage) {
  const DhcpDevice dhcp;
  GoToAssign();
  m_sockets.Push(dhcp.Request20());
  ASSERT_TRUE(WaitFor([&] { return m_sockets.sent().size() == 1; }));
  m_sockets.Push(dhcp.Decline20());
  ASSERT_TRUE(WaitFor([&] { return On("failurePage"); }));
  EXPECT_TRUE(Contains("The device 02:00:5e:00:00:02 reports 192.168.0.20 as in use by another device."));
}

TEST_F(AssignTest, AReplyThatLeftThroughNoInterfaceEndsOnTheFailurePage) {
  m_routes.rows.clear();
  GoToAssign();
  Hear(kDeviceB);
  ASSERT_TRUE(WaitFor([&] { return On("failurePage"); }));
  EXPECT_EQ(Summary().rfind("ERROR:", 0), 0u);
  EXPECT_TRUE(Contains("No network interface could send the reply"));
}

TEST_F(AssignTest, BackDisarmsSoALaterRequestIsOnlyRecorded) {
  GoToAssign();
  ASSERT_TRUE(Wizard().Back());
  ASSERT_TRUE(On("setIpPage"));
  EXPECT_FALSE(m_info->GetServer()->IsArmed());
  Hear(kDeviceB);
  // Its third request: the first listed it, the second was not one to answer at once.
  ASSERT_TRUE(WaitFor([&] { return m_info->GetServer()->GetCount(0) == 3; }));
  EXPECT_TRUE(m_sockets.sent().empty());
  // Cancel while armed: the Failure page, disarmed, with the abort text.
  ASSERT_TRUE(Wizard().Next());
  ASSERT_TRUE(On("assignIpPage"));
  Wizard().Escape();
  ASSERT_TRUE(On("failurePage"));
  EXPECT_FALSE(m_info->GetServer()->IsArmed());
  EXPECT_TRUE(Contains("You aborted the IP assignment before it could be completed."));
}

TEST_F(AssignTest, ClosingTheWindowWhileArmedEndsTheRunWithTheWorkerJoined) {
  GoToAssign();
  ASSERT_TRUE(m_info->GetServer()->IsArmed());
  Wizard().CloseWindow();
  EXPECT_EQ(Wizard().Result(), 0);
  m_wizard.reset();
  m_sheet.reset();
  // Ends the worker, which is blocked in the receive, before the server goes.
  m_info.reset();
  EXPECT_TRUE(m_sockets.openSockets().empty());
}

TEST_F(AssignTest, ADeviceThatTakesTheAnswerAtOnceButNeverAnswersEndsTheAssignment) {
  // As bootpc: it takes the reply, configures nothing and never asks again.
  GoToAssign(true);
  ASSERT_TRUE(WaitFor([&] { return m_sockets.sent().size() == 1; }));
  EXPECT_TRUE(WaitFor([&] {
    return Wizard().HeaderSubTitle() == "Checking whether the device answers at its new address.";
  }));
  EXPECT_EQ(Summary().rfind("Sent to MAC address:", 0), 0u);
  ASSERT_TRUE(WaitForConfirmation([&] { return On("completionPage"); }));
  EXPECT_TRUE(Contains("Not confirmed: no answer at 192.168.0.20"));
  EXPECT_FALSE(m_info->GetServer()->IsArmed());
  // The device was asked all through the window, not only at its start.
  EXPECT_GE(m_neighbours.questions().size(),
            static_cast<std::size_t>(kAnswerWindowMs / timing::kCheckInterval.count()));
}

TEST_F(AssignTest, ADeviceThatAsksAgainAfterTheAnswerAtOnceIsAnsweredAndThenAsked) {
  GoToAssign(true);
  ASSERT_TRUE(WaitFor([&] { return m_sockets.sent().size() == 1; }));
  // It did not take the answer at once: the server answers its request, and the device then
  // takes up its address within the new window.
  AnswerProbes({{"192.168.0.20", kDeviceB}});
  Hear(kDeviceB);
  ASSERT_TRUE(WaitForConfirmation([&] { return On("completionPage"); }));
  EXPECT_EQ(m_sockets.sent().size(), 2u);
  EXPECT_TRUE(Contains("Confirmed: the device answers at 192.168.0.20."));
}

TEST_F(AssignTest, ADeviceThatRebootsWhileItIsCheckedIsAnsweredAgain) {
  GoToAssign();
  Hear(kDeviceB);
  ASSERT_TRUE(WaitFor([&] { return m_sockets.sent().size() == 1; }));
  ASSERT_TRUE(WaitFor([&] { return Summary().rfind("Sent to MAC address:", 0) == 0; }));
  EXPECT_EQ(Wizard().Window().Text(IDC_ATTEMPTING_TEXT).rfind("The reply was sent to 02:00:5e:00:00:02 at ", 0), 0u);
  Wizard().Fire(CAssignIPDlg::kTimerId);
  Wizard().Fire(CAssignIPDlg::kTimerId);
  ASSERT_EQ(Elapsed(), "2");
  // It restarted before it took up the address, and asks again: the same reply, shown with
  // its time, and the count starts anew with the check; the device then answers there.
  Hear(kDeviceB);
  ASSERT_TRUE(WaitFor([&] { return m_sockets.sent().size() == 2; }));
  EXPECT_TRUE(On("assignIpPage"));
  EXPECT_EQ(m_sockets.sent()[1].bytes[kYiaddrOffset + 3], 20);
  ASSERT_TRUE(WaitFor([&] {
    return Wizard().Window().Text(IDC_ATTEMPTING_TEXT).rfind("The device asked again: reply 2 was sent at ", 0) == 0;
  }));
  EXPECT_EQ(Elapsed(), "0");
  AnswerProbes({{"192.168.0.20", kDeviceB}});
  ASSERT_TRUE(WaitForConfirmation([&] { return On("completionPage"); }));
  EXPECT_TRUE(Contains("Confirmed: the device answers at 192.168.0.20."));
  EXPECT_TRUE(Contains("The device asked again: 2 replies were sent, the last at "));
}

// Asked to keep its address, a device that answers at it is told so once confirmed, through the
// interface it was heard on; the page shows the step, the Completion page its outcome, and the
// assignment has its line in the record. The choice is remembered for the device.
TEST_F(AssignTest, ADeviceToldToKeepItsAddressIsToldOnceConfirmedAndTheAssignmentIsRecorded) {
  std::mutex mutex;
  std::condition_variable answer;
  bool answerNow = false;
  std::vector<enip::Target> told;
  // The device answers when the test lets it; a page that goes cancels the exchange.
  m_environment.keep = [&](const enip::Target& target, const std::atomic<bool>* cancel) {
    std::unique_lock lock(mutex);
    told.push_back(target);
    answer.notify_all();
    while (!answerNow && !*cancel) answer.wait_for(lock, std::chrono::milliseconds(10));
    if (!answerNow) return enip::MethodResult{enip::MethodOutcome::kCancelled, "Cancelled."};
    return enip::MethodResult{enip::MethodOutcome::kDone,
                              "The device keeps 192.168.0.20 at its next start-up."};
  };
  m_heardOn = kPcInterface;
  m_routes.rows = {{0xFFFFFFFFu, 0xFFFFFFFFu, Ip(192, 168, 0, 5), kPcInterface}};
  m_adapters.adapters.front().index = kPcInterface;
  AnswerProbes({{"192.168.0.20", kDeviceB}});
  Show();
  GoToSetIp(kDeviceB);
  // The maker's column names what the registries know of the address: this one was set
  // locally.
  EXPECT_FALSE(Wizard().Window().GetCheck(IDC_KEEP_ADDRESS));
  Wizard().Check(IDC_KEEP_ADDRESS);
  Wizard().Type(IDC_IP_ADDRESS, "192.168.0.20");
  Wizard().Type(IDC_DEFAULT_GATEWAY, "192.168.0.1");
  ASSERT_TRUE(Wizard().Next());
  ASSERT_TRUE(On("assignIpPage"));

  ASSERT_TRUE(WaitForConfirmation(
      [&] { return Wizard().HeaderSubTitle() == "Telling the device to keep its address."; }));
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard lock(mutex);
    return !told.empty();
  }));
  {
    std::lock_guard lock(mutex);
    ASSERT_EQ(told.size(), 1u);
    std::uint32_t ip = 0;
    ReadIpv4Text("192.168.0.20", ip);
    EXPECT_EQ(told[0].address, ip) << "only the address just given and confirmed";
    EXPECT_EQ(told[0].interfaceIndex, kPcInterface) << "where the device was heard";
    answerNow = true;
  }
  answer.notify_all();
  ASSERT_TRUE(WaitFor([&] { return On("completionPage"); }));
  EXPECT_TRUE(Contains("Confirmed: the device answers at 192.168.0.20.")) << Summary();
  EXPECT_TRUE(Contains("The device keeps 192.168.0.20 at its next start-up.")) << Summary();
  EXPECT_TRUE(Contains("The assignment was recorded in " + m_folder.File("commissioning.csv")))
      << Summary();

  const RecordHistory history = ReadCommissioningRecord(m_folder.File("commissioning.csv"));
  ASSERT_EQ(history.entries.size(), 1u);
  const CommissioningEntry& line = history.entries[0];
  EXPECT_EQ(line.program, "quillnet");
  EXPECT_EQ(line.mac, kMacB);
  EXPECT_EQ(line.maker, "locally administered");
  EXPECT_EQ(line.ip, "192.168.0.20");
  EXPECT_EQ(line.protocol, "BOOTP");
  EXPECT_EQ(line.via, "if" + std::to_string(kPcInterface));
  EXPECT_EQ(line.result, "confirmed");
  EXPECT_EQ(line.keep, "kept");

  // Chosen again, the device is to keep its address again.
  ASSERT_TRUE(Wizard().Back());
  Wizard().SelectRow(0);
  ASSERT_TRUE(WaitFor([&] { return Wizard().NextEnabled(); }));
  EXPECT_EQ(Wizard().Window().rows->Cell(0, CDeviceList::kVendorColumn), "locally administered");
  ASSERT_TRUE(Wizard().Next());
  ASSERT_TRUE(On("setIpPage"));
  EXPECT_TRUE(Wizard().Window().GetCheck(IDC_KEEP_ADDRESS));

  // Left while the device is being told: the exchange is cut short, and the record says so.
  {
    std::lock_guard lock(mutex);
    answerNow = false;
  }
  ASSERT_TRUE(WaitFor([&] { return Wizard().NextEnabled(); }));
  ASSERT_TRUE(Wizard().Next());
  ASSERT_TRUE(On("assignIpPage"));
  Hear(kDeviceB);
  ASSERT_TRUE(WaitForConfirmation([&] {
    std::lock_guard lock(mutex);
    return told.size() == 2;
  }));
  Wizard().Escape();
  ASSERT_TRUE(On("failurePage"));
  const RecordHistory again = ReadCommissioningRecord(m_folder.File("commissioning.csv"));
  ASSERT_EQ(again.entries.size(), 2u);
  EXPECT_EQ(again.entries[1].result, "confirmed");
  EXPECT_EQ(again.entries[1].keep, "cancelled");
}

// Without the user's word no device is told to keep anything, and an assignment left before
// it came to anything is recorded as cancelled.
TEST_F(AssignTest, NoDeviceIsToldToKeepItsAddressUnaskedAndALeftAssignmentIsRecordedAsCancelled) {
  int told = 0;
  m_environment.keep = [&](const enip::Target&, const std::atomic<bool>*) {
    ++told;
    return enip::MethodResult{};
  };
  AnswerProbes({{"192.168.0.20", kDeviceB}});
  GoToAssign(true);
  ASSERT_TRUE(WaitFor([&] { return On("completionPage"); }));
  EXPECT_EQ(told, 0);
  ASSERT_TRUE(Wizard().Back());
  // Its latest request is not one to answer at once: the page waits, and the user leaves.
  Hear(kDeviceB, false);
  ASSERT_TRUE(WaitFor([&] { return m_info->GetServer()->GetCount(0) == 2; }));
  ASSERT_NO_FATAL_FAILURE(AssignAgain());
  Wizard().Escape();
  ASSERT_TRUE(On("failurePage"));
  EXPECT_EQ(m_sockets.sent().size(), 1u);
  EXPECT_TRUE(Contains("The assignment was recorded in ")) << Summary();
  const RecordHistory history = ReadCommissioningRecord(m_folder.File("commissioning.csv"));
  ASSERT_EQ(history.entries.size(), 2u);
  EXPECT_EQ(history.entries[0].result, "confirmed");
  EXPECT_EQ(history.entries[0].keep, "");
  EXPECT_EQ(history.entries[1].result, "cancelled");
  EXPECT_EQ(history.entries[1].protocol, "");
  EXPECT_EQ(told, 0);
}

// The interface toward the device goes down while the page waits: it says so at once, goes on
// once the link is back, and the end page tells of it.
TEST_F(AssignTest, ALostLinkIsSaidAtOnceAndTheAssignmentGoesOnWhenItIsBack) {
  const RouteRow link{0xFFFFFFFFu, 0xFFFFFFFFu, Ip(192, 168, 0, 5), kPcInterface};
  m_routes.rows = {link};
  m_heardOn = kPcInterface;
  GoToAssign();
  const auto text = [&] { return Wizard().Window().Text(IDC_ATTEMPTING_TEXT); };
  m_routes.SetRows({});
  ASSERT_TRUE(WaitFor([&] {
    return text().rfind("if2, this PC's interface toward the device, is down", 0) == 0;
  })) << text();
  EXPECT_EQ(Wizard().HeaderSubTitle(), "The link to the device is lost.");
  m_routes.SetRows({link});
  ASSERT_TRUE(WaitFor([&] { return text().rfind("The wizard is attempting", 0) == 0; })) << text();
  AnswerProbes({{"192.168.0.20", kDeviceB}});
  Hear(kDeviceB);
  ASSERT_TRUE(WaitForConfirmation([&] { return On("completionPage"); }));
  EXPECT_TRUE(Contains("Confirmed: the device answers at 192.168.0.20."));
  EXPECT_TRUE(Contains("The link to the device was lost at ")) << Summary();
  EXPECT_TRUE(Contains(": if2 went down or lost its IPv4 address. It was back at ")) << Summary();

  // Lost while the user leaves: the Failure page names it too. The device stays silent now.
  AnswerProbes({});
  ASSERT_TRUE(Wizard().Back());
  Wizard().SelectRow(0);
  ASSERT_TRUE(WaitFor([&] { return Wizard().NextEnabled(); }));
  ASSERT_TRUE(Wizard().Next());
  ASSERT_TRUE(WaitFor([&] { return Wizard().NextEnabled(); }));
  const std::size_t sent = m_sockets.sent().size();
  ASSERT_TRUE(Wizard().Next());
  ASSERT_TRUE(On("assignIpPage"));
  // It asked a moment ago, so it is answered at once, while the link is there.
  ASSERT_TRUE(WaitFor([&] { return m_sockets.sent().size() == sent + 1; }));
  ASSERT_TRUE(WaitFor([&] { return Wizard().HeaderSubTitle() != "Attempting to assign IP address."; }));
  m_routes.SetRows({});
  ASSERT_TRUE(WaitFor([&] { return Wizard().HeaderSubTitle() == "The link to the device is lost."; }));
  Wizard().Fire(CAssignIPDlg::kTimerId);
  ASSERT_NE(Elapsed(), "0");
  // The device could not be asked meanwhile: its check, and the count, start anew.
  m_routes.SetRows({link});
  ASSERT_TRUE(WaitFor([&] { return text().rfind("The reply was sent to ", 0) == 0; })) << text();
  EXPECT_EQ(Elapsed(), "0");
  m_routes.SetRows({});
  ASSERT_TRUE(WaitFor([&] { return Wizard().HeaderSubTitle() == "The link to the device is lost."; }));
  Wizard().Escape();
  ASSERT_TRUE(On("failurePage"));
  EXPECT_TRUE(Contains("before you left the page")) << Summary();
  EXPECT_TRUE(Contains("if2 went down or lost its IPv4 address.")) << Summary();
}

TEST_F(AssignTest, LeavingAfterTheReplyWentOutIsNoAbort) {
  GoToAssign();
  Hear(kDeviceB);
  ASSERT_TRUE(WaitFor([&] { return m_sockets.sent().size() == 1; }));
  ASSERT_TRUE(WaitFor([&] { return Summary().rfind("Sent to MAC address:", 0) == 0; }));
  Wizard().Escape();
  ASSERT_TRUE(On("failurePage"));
  EXPECT_FALSE(Contains("aborted"));
  EXPECT_TRUE(Contains("The reply with 192.168.0.20 was sent to 02:00:5e:00:00:02 "
                       "before you left the page"));
}

TEST_F(AssignTest, AReplyThatMissedTheDevicesInterfaceIsAFailureThatNamesIt) {
  // The device asks on interface 7; this PC's address there is gone, so the reply leaves only
  // through interface 2, into another network.
  m_routes.rows = {{0xFFFFFFFFu, 0xFFFFFFFFu, Ip(192, 168, 0, 5), 2}};
  GoToAssign();
  Request request;
  request.mac = kDeviceB;
  m_sockets.Push(request.Bytes(), 7);
  ASSERT_TRUE(WaitFor([&] { return On("failurePage"); }));
  EXPECT_EQ(m_sockets.sent().size(), 1u) << "the other interfaces still get their copies";
  EXPECT_TRUE(Contains("The reply could not be sent through if7, where the device "
                       "asked: if7 has no IPv4 address or is down."))
      << Summary();
}

// An error text belongs to the assignment that ended in it: once the user chooses a device
// anew, the Failure page tells of what is current.
TEST_F(AssignTest, AFailuresTextGoesOnceTheUserStartsOver) {
  const DhcpDevice dhcp;
  GoToAssign();
  m_sockets.Push(dhcp.Request20());
  ASSERT_TRUE(WaitFor([&] { return m_sockets.sent().size() == 1; }));
  m_sockets.Push(dhcp.Decline20());
  ASSERT_TRUE(WaitFor([&] { return On("failurePage"); }));
  ASSERT_TRUE(Contains("reports 192.168.0.20 as in use by another device."));
  ASSERT_TRUE(Wizard().Back());
  ASSERT_TRUE(On("listenPage"));
  Wizard().SelectRow(0);
  ASSERT_TRUE(WaitFor([&] { return Wizard().NextEnabled(); }));
  ASSERT_TRUE(Wizard().Next());
  ASSERT_TRUE(On("setIpPage"));
  // The declined address is not proposed again: the network is.
  EXPECT_EQ(Entry(IDC_IP_ADDRESS), "192.168.0.");
  Wizard().Type(IDC_IP_ADDRESS, "192.168.0.21");
  Wizard().Escape();
  ASSERT_TRUE(On("failurePage"));
  EXPECT_EQ(Summary(), "WARNING:\nNo IP address was entered for the selected device.\n\n");

  // A reply that could not be sent, then Back and Escape on the Listen page.
  m_routes.rows.clear();
  ASSERT_TRUE(Wizard().Back());
  ASSERT_NO_FATAL_FAILURE(AssignAgain());
  Hear(kDeviceB);
  ASSERT_TRUE(WaitFor([&] { return On("failurePage"); }));
  ASSERT_TRUE(Contains("No network interface could send the reply"));
  ASSERT_TRUE(Wizard().Back());
  ASSERT_TRUE(On("listenPage"));
  Wizard().Escape();
  ASSERT_TRUE(On("failurePage"));
  EXPECT_EQ(Summary(), "WARNING:\nYou have not selected a device for IP assignment.\n\n");
}

}  // namespace
}  // namespace quillnet
