// The Listen, Set IP and Assign IP pages in the real sheet, on fake sockets and routes, driven
// through their widgets with mouse and key events.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTextEdit>
#include <QTreeView>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>

#include "bootp/arp.h"
#include "bootp/bootp_server.h"
#include "pages/assign_ip_page.h"
#include "pages/set_ip_page.h"
#include "pages/interior_pages.h"
#include "pages/listen_page.h"
#include "platform/ipv4_text.h"
#include "platform/program_file.h"
#include "platform/winsock_errors.h"
#include "tests/pages/page_driver.h"
#include "tests/support/requests.h"
#include "tests/wizard/wizard_test_support.h"
#include "wizard/exterior_pages.h"
#include "wizard/ip_address_edit.h"

namespace quillnet {
namespace {

using testing::Find;
using testing::Ip;
using testing::Request;
using testing::WaitFor;

constexpr DeviceKey kDeviceA = 0x02005E000001;
constexpr DeviceKey kDeviceB = 0x02005E000002;
constexpr DeviceKey kDeviceC = 0x02005E000003;

class PagesTest : public testing::WizardOnFakes {
 protected:
  PagesTest() {
    // One interface to answer through.
    m_routes.rows = {{0xFFFFFFFFu, 0xFFFFFFFFu, Ip(192, 168, 0, 5)}};
    m_environment.answerWindow = std::chrono::milliseconds(kAnswerWindowMs);
  }
  // Short, so that a device that never answers ends a test soon.
  static constexpr int kAnswerWindowMs = 1500;
  ~PagesTest() override {
    // The sheet goes first, as in the program; the shared state then ends the worker.
    m_sheet.reset();
    m_info.reset();
  }

  void Show() {
    m_info = std::make_unique<CBootpWizardInfo>(m_environment);
    m_info->LoadSettings();
    m_sheet = std::make_unique<CBootpWizardSheet>(m_info.get(), 0, nullptr, MakeInteriorPages);
    ASSERT_TRUE(m_sheet->ShowModeless());
  }

  void Hear(DeviceKey mac, bool valid = true) {
    Request request;
    request.mac = mac;
    if (!valid) request.sname = "elsewhere";
    m_sockets.Push(request.Bytes());
  }

  QWidget* Sheet() const { return m_sheet.get(); }
  bool On(const char* page) const { return Driver().On(page); }
  testing::PageDriver Driver() const { return testing::PageDriver(*m_sheet); }
  QTreeView* List() const { return Driver().List(); }
  QStringList ListedMacs() const { return Driver().ListedMacs(); }
  IpAddressEdit* Entry(const char* name) const { return Driver().Entry(name); }
  QString ResultLine() const { return Driver().ResultLine(); }
  bool NextEnabled() const { return Driver().Enabled("nextButton"); }
  void Type(const char* entry, const char* text) { Driver().Type(entry, QString::fromLatin1(text)); }

  void GoToListen() {
    ASSERT_TRUE(On("welcomePage"));
    ASSERT_TRUE(WaitFor([&] { return NextEnabled(); }));
    ASSERT_TRUE(Driver().Click("nextButton"));
    ASSERT_TRUE(WaitFor([&] { return On("listenPage"); }));
  }
  // Listen page → the device heard and selected → Set IP page.
  void GoToSetIp(DeviceKey mac) {
    GoToListen();
    Hear(mac);
    ASSERT_TRUE(WaitFor([&] { return ListedMacs().contains(QString::fromStdString(FormatMacAddress(mac))); }));
    Driver().ClickRow(0);
    ASSERT_TRUE(WaitFor([&] { return NextEnabled(); }));
    ASSERT_TRUE(Driver().Click("nextButton"));
    ASSERT_TRUE(WaitFor([&] { return On("setIpPage"); }));
  }
  // The fake network answers every ARP probe for an address of `holders` as its holder would.
  void AnswerProbes(const std::map<std::string, DeviceKey>& holders) {
    std::map<std::uint32_t, std::uint64_t> byAddress;
    for (const auto& [text, holder] : holders) {
      std::uint32_t ip = 0;
      ASSERT_TRUE(ReadIpv4Text(text, ip));
      byAddress[ip] = holder;
    }
    m_arp.AnswerProbes(std::move(byAddress));
  }

  std::unique_ptr<CBootpWizardSheet> m_sheet;
};

TEST_F(PagesTest, ListenListsValidDevicesAndTheSelectionStaysOnItsDevice) {
  Show();
  GoToListen();
  EXPECT_TRUE(ListedMacs().isEmpty());
  EXPECT_TRUE(WaitFor([&] { return m_sheet->WizButtons() == PSWIZB_BACK; }));
  EXPECT_FALSE(Find<QCheckBox>(Sheet(), "validOnlyCheck")->isVisible());

  // A device heard only with invalid requests is not listed until a valid one arrives.
  Hear(kDeviceA, false);
  Hear(kDeviceB);
  Hear(kDeviceC);
  ASSERT_TRUE(WaitFor([&] { return ListedMacs() == QStringList({"02:00:5e:00:00:02", "02:00:5e:00:00:03"}); }));
  Driver().ClickRow(1);
  ASSERT_TRUE(WaitFor([&] { return NextEnabled(); }));
  EXPECT_EQ(m_info->GetMacAddress(), "02:00:5e:00:00:03");

  // A turns valid: it takes its place in table order, above the selected device, and the
  // selection and the stored MAC stay with C.
  Hear(kDeviceA);
  Hear(kDeviceC);
  ASSERT_TRUE(WaitFor([&] {
    return ListedMacs().size() == 3 && List()->model()->index(2, 1).data().toString() == "2";
  }));
  EXPECT_EQ(ListedMacs(), QStringList({"02:00:5e:00:00:01", "02:00:5e:00:00:02", "02:00:5e:00:00:03"}));
  QTest::qWait(3 * CListenDlg::kTimerMs);
  EXPECT_EQ(Driver().SelectedMac(), "02:00:5e:00:00:03");
  EXPECT_EQ(m_info->GetMacAddress(), "02:00:5e:00:00:03");

  // The maker's devices only; the prefix counts only at the start.
  Hear(0x0A5C31123456);
  Hear(0x0A5C32000001);
  Hear(0x0011220A5C31);
  ASSERT_TRUE(WaitFor([&] { return ListedMacs().size() == 6; }));
  QTest::mouseClick(Find<QCheckBox>(Sheet(), "vendorOnlyCheck"), Qt::LeftButton);
  EXPECT_EQ(ListedMacs(), QStringList({"0a:5c:31:12:34:56", "0a:5c:32:00:00:01"}));
  // The selection went with the old rows: Back only, the stored MAC stays.
  EXPECT_TRUE(WaitFor([&] { return m_sheet->WizButtons() == PSWIZB_BACK; }));
  EXPECT_EQ(m_info->GetMacAddress(), "02:00:5e:00:00:03");
  EXPECT_FALSE(NextEnabled());
}

TEST_F(PagesTest, DoubleClickMovesOnAndReturningStartsNoSecondWorker) {
  Show();
  GoToListen();
  QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, QPoint(5, List()->viewport()->height() - 5));
  EXPECT_TRUE(On("listenPage"));
  Hear(kDeviceB);
  ASSERT_TRUE(WaitFor([&] { return ListedMacs().size() == 1; }));
  Driver().ClickRow(0);
  Driver().ClickRow(0, true);
  ASSERT_TRUE(On("setIpPage"));
  EXPECT_EQ(Find<QLineEdit>(Sheet(), "macAddressEdit")->text(), "02:00:5e:00:00:02");

  ASSERT_TRUE(Driver().Click("backButton"));
  ASSERT_TRUE(Driver().Click("backButton"));
  ASSERT_TRUE(On("welcomePage"));
  ASSERT_TRUE(Driver().Click("nextButton"));
  ASSERT_TRUE(On("listenPage"));
  EXPECT_EQ(ListedMacs().size(), 1);
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
  ASSERT_TRUE(WaitFor([&] { return NextEnabled(); }));
  ASSERT_TRUE(Driver().Click("nextButton"));
  ASSERT_TRUE(WaitFor([&] { return On("failurePage"); }));
  EXPECT_TRUE(m_sheet->FailurePage().findChild<QTextEdit*>("summaryEdit")->toPlainText().contains(
      "Bootp Server Startup failed. There is already a Bootp Server running"));

  // The port is free again: Back retries the start and the Listen page stays.
  ASSERT_TRUE(Driver().Click("backButton"));
  ASSERT_TRUE(On("listenPage"));
  QTest::qWait(3 * CListenDlg::kTimerMs);
  EXPECT_TRUE(On("listenPage"));
  EXPECT_TRUE(m_info->GetServer()->IsRunning());
  Hear(kDeviceB);
  EXPECT_TRUE(WaitFor([&] { return ListedMacs().size() == 1; }));
}

TEST_F(PagesTest, PortRefusedForLackOfPermissionNamesTheCommandThatGrantsIt) {
  m_sockets.failAnyBindNumber = 1;
  m_sockets.failAnyBindError = 10013;
  Show();
  ASSERT_TRUE(WaitFor([&] { return NextEnabled(); }));
  ASSERT_TRUE(Driver().Click("nextButton"));
  ASSERT_TRUE(WaitFor([&] { return On("failurePage"); }));
  EXPECT_EQ(m_sheet->FailurePage().findChild<QTextEdit*>("summaryEdit")->toPlainText().toStdString(),
            "ERROR:  \nbind BOOTPS port failed 10013 (0000271D)\n\n"
            "This program may not listen on BOOTP port 67: it lacks the capability "
            "cap_net_bind_service. To grant it, run:\nsudo setcap "
            "cap_net_bind_service,cap_net_raw=+ep '" + RunningProgramPath() + "'\n");
}

TEST_F(PagesTest, SetIpPrefillsChecksEveryChangeAndStoresWhatPasses) {
  Show();
  GoToSetIp(kDeviceB);
  // The PC's network with an empty fourth part, the PC's mask, no gateway; Next waits.
  EXPECT_EQ(Entry("ipAddressEdit")->text(), "192.168.0.");
  EXPECT_EQ(Entry("subnetMaskEdit")->text(), "255.255.255.0");
  EXPECT_EQ(Entry("gatewayEdit")->text(), "");
  EXPECT_EQ(Find<QLineEdit>(Sheet(), "localAddressEdit")->text(), "192.168.0.5");
  EXPECT_TRUE(WaitFor([&] { return m_sheet->WizButtons() == PSWIZB_BACK; }));

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
    Type("ipAddressEdit", each.ip);
    EXPECT_EQ(ResultLine(), QString::fromLatin1(each.expectedLine));
    EXPECT_TRUE(WaitFor([&] { return NextEnabled() == each.passes; }));
  }
  EXPECT_EQ(m_info->GetIpAddress(), "192.168.0.20");
  // Leading zeros go as each part is completed: shown, stored and sent as the same address.
  Type("ipAddressEdit", "192.168.000.021");
  EXPECT_EQ(Entry("ipAddressEdit")->text(), "192.168.0.21");
  EXPECT_EQ(m_info->GetIpAddress(), "192.168.0.21");
  Type("ipAddressEdit", "192.168.0.20");

  // A gateway with an empty part is refused as it is typed; completing it enables Next.
  Type("gatewayEdit", "192.168.0.");
  EXPECT_EQ(ResultLine(), "ERROR: Incomplete Default gateway.");
  EXPECT_FALSE(NextEnabled());
  // One the device cannot reach is advice, as the subnet warning is: Next is offered.
  Type("gatewayEdit", "192.168.9.1");
  EXPECT_EQ(ResultLine(), "WARNING: the default gateway is outside the device's subnet.");
  EXPECT_TRUE(WaitFor([&] { return NextEnabled(); }));
  Type("gatewayEdit", "192.168.0.1");
  EXPECT_EQ(ResultLine(), "");
  ASSERT_TRUE(Driver().Click("nextButton"));
  ASSERT_TRUE(On("assignIpPage"));
  EXPECT_EQ(m_info->GetDefaultGateway(), "192.168.0.1");

  // Back with the same device: the values stay and Next is offered at once.
  ASSERT_TRUE(Driver().Click("backButton"));
  ASSERT_TRUE(On("setIpPage"));
  EXPECT_EQ(Entry("ipAddressEdit")->text(), "192.168.0.20");
  EXPECT_TRUE(WaitFor([&] { return m_sheet->WizButtons() == (PSWIZB_BACK | PSWIZB_NEXT); }));

  // Another device with a remembered record gets that record.
  m_info->SetMacAddress("02:00:5e:00:00:01");
  m_info->SetIpAddress("172.16.5.9");
  m_info->SetSubnetMask("255.255.0.0");
  m_info->SetDefaultGateway("172.16.0.1");
  m_info->SaveRememberedAddresses();
  ASSERT_TRUE(Driver().Click("backButton"));
  ASSERT_TRUE(On("listenPage"));
  Hear(kDeviceA);
  ASSERT_TRUE(WaitFor([&] { return ListedMacs().size() == 2; }));
  Driver().ClickRow(1);
  ASSERT_TRUE(WaitFor([&] { return NextEnabled(); }));
  ASSERT_TRUE(Driver().Click("nextButton"));
  ASSERT_TRUE(On("setIpPage"));
  EXPECT_EQ(Entry("ipAddressEdit")->text(), "172.16.5.9");
  EXPECT_EQ(Entry("subnetMaskEdit")->text(), "255.255.0.0");
  EXPECT_EQ(Entry("gatewayEdit")->text(), "172.16.0.1");
}

TEST_F(PagesTest, SetIpNamesAnotherDeviceThatAnswersAtTheAddress) {
  constexpr DeviceKey kHolder = 0x02005E000099;
  AnswerProbes({{"192.168.0.30", kHolder}, {"192.168.0.31", kDeviceB}});
  m_adapters.adapters.push_back({"eth1", {{"10.9.0.5", "255.255.255.0"}}, "0.0.0.0", 3});
  Show();
  GoToSetIp(kDeviceB);
  Type("ipAddressEdit", "192.168.0.30");
  // Advice, like the subnet warning: Next stays offered.
  EXPECT_TRUE(WaitFor([&] {
    return ResultLine() == "WARNING: 192.168.0.30 is already in use by 02:00:5e:00:00:99.";
  }));
  EXPECT_TRUE(NextEnabled());
  // An error takes the line first; once the mask is right again, the warning is back.
  Type("subnetMaskEdit", "255.0.255.0");
  EXPECT_EQ(ResultLine(), "ERROR: Invalid Subnet Mask.");
  Type("subnetMaskEdit", "255.255.255.0");
  EXPECT_EQ(ResultLine(), "WARNING: 192.168.0.30 is already in use by 02:00:5e:00:00:99.");
  // This PC's own address: it never answers its own probes, so it is known without them.
  Type("ipAddressEdit", "192.168.0.5");
  EXPECT_EQ(ResultLine(), "WARNING: 192.168.0.5 is already in use by this PC.");
  // So are its addresses on its other interfaces.
  Type("ipAddressEdit", "10.9.0.5");
  EXPECT_EQ(ResultLine(), "WARNING: 10.9.0.5 is already in use by this PC.");
  // The selected device itself answering is no conflict: it may hold the address already.
  Type("ipAddressEdit", "192.168.0.31");
  const auto asked = m_arp.sent().size();
  ASSERT_TRUE(WaitFor([&] { return m_arp.sent().size() > asked; }));
  EXPECT_FALSE(QTest::qWaitFor([&] { return !ResultLine().isEmpty(); },
                               2 * CSetIPDlg::kInUseProbeMs));
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
    Type("ipAddressEdit", "192.168.0.20");
    Type("gatewayEdit", "192.168.0.1");
    ASSERT_TRUE(Driver().Click("nextButton"));
    ASSERT_TRUE(On("assignIpPage"));
  }
  QString Elapsed() const { return Find<QLineEdit>(Sheet(), "elapsedEdit")->text(); }
  // Waits longer than WaitFor: a check that nobody answers takes the whole window.
  template <typename Condition>
  static bool WaitForConfirmation(Condition condition) {
    return QTest::qWaitFor(condition, 5000 + 2 * kAnswerWindowMs);
  }
  // The summary of the page shown: the Assign IP page and the end pages each have one.
  QString Summary() const {
    return m_sheet->GetPage(m_sheet->GetCurrentIndex())->findChild<QTextEdit*>("summaryEdit")->toPlainText();
  }
};

TEST_F(AssignTest, ADeviceThatJustAskedIsAnsweredAtOnceAndItsAnswerEndsTheAssignment) {
  AnswerProbes({{"192.168.0.20", kDeviceB}});
  GoToAssign(true);
  ASSERT_TRUE(WaitFor([&] { return On("completionPage"); }));
  EXPECT_EQ(Elapsed(), "0");
  EXPECT_FALSE(m_info->GetServer()->IsArmed());
  const auto sent = m_sockets.sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].bytes[kYiaddrOffset + 3], 20);
  EXPECT_TRUE(Summary().contains("The device answers at 192.168.0.20."));
  // The probe that was answered asked for the address from 0.0.0.0, so no neighbour learnt
  // anything from it.
  ArpPacket probe;
  ASSERT_FALSE(m_arp.sent().empty());
  ASSERT_TRUE(ParseArpFrame(m_arp.sent().back().bytes, probe));
  EXPECT_EQ(probe.senderIp, 0u);
  EXPECT_EQ(probe.targetIp, Ip(192, 168, 0, 20));
}

TEST_F(AssignTest, WithoutTheWayToAskTheReplyCountsAndTheCompletionPageSaysWhy) {
  m_arp.openError = kWsaBase + EPERM;
  GoToAssign(true);
  ASSERT_TRUE(WaitFor([&] { return On("completionPage"); }));
  EXPECT_EQ(m_sockets.sent().size(), 1u);
  EXPECT_TRUE(Summary().contains("Could not check that the device answers at 192.168.0.20: "
                                 "this program lacks the CAP_NET_RAW capability"));
  // The programs hold no capability: the way to ask is the helper's, never a setcap on them.
  EXPECT_FALSE(Summary().contains("setcap"));
}

TEST_F(AssignTest, ArmsCountsAndMovesToCompletionOnceTheReplyHasGoneOut) {
  GoToAssign();
  EXPECT_EQ(Elapsed(), "0");
  EXPECT_TRUE(m_info->GetServer()->IsArmed());
  EXPECT_TRUE(Summary().startsWith("Attempting to assign MAC address:\n\t02:00:5e:00:00:02\n\nthe following:"));
  // Remembered before the device has them.
  m_info->SetIpAddress("");
  ASSERT_TRUE(m_info->LoadRememberedAddresses());
  EXPECT_EQ(m_info->GetIpAddress(), "192.168.0.20");
  EXPECT_TRUE(WaitFor([&] { return Elapsed() == "2"; }));
  EXPECT_TRUE(On("assignIpPage"));
  EXPECT_FALSE(NextEnabled());

  Hear(kDeviceB);
  ASSERT_TRUE(WaitFor([&] { return m_sockets.sent().size() == 1; }));
  const auto sent = m_sockets.sent();
  EXPECT_EQ(sent[0].from, Ip(192, 168, 0, 5));
  const std::vector<std::uint8_t> yiaddr(sent[0].bytes.begin() + kYiaddrOffset,
                                         sent[0].bytes.begin() + kYiaddrOffset + 4);
  EXPECT_EQ(yiaddr, (std::vector<std::uint8_t>{192, 168, 0, 20}));
  // Nobody answers the probes: the page asks for its five seconds, counting on, and then
  // says so without calling it a failure.
  const int elapsedAtReply = Elapsed().toInt();
  ASSERT_TRUE(WaitForConfirmation([&] { return On("completionPage"); }));
  EXPECT_GT(Elapsed().toInt(), elapsedAtReply);
  EXPECT_TRUE(Summary().contains("192.168.0.20"));
  EXPECT_TRUE(Summary().contains("The device has not answered at 192.168.0.20 yet."));
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
  QTest::qWait(300);
  EXPECT_TRUE(On("assignIpPage"));
  m_sockets.Push(dhcp.Request20());
  ASSERT_TRUE(WaitForConfirmation([&] { return On("completionPage"); }));
  EXPECT_TRUE(Summary().contains(
      "The device accepted 192.168.0.20.\nThe device answers at 192.168.0.20."));
}

// A device that finds the address in use after its ack, while it is being checked.
TEST_F(AssignTest, ADhcpDeviceThatDeclinesItsAddressEndsOnTheFailurePage) {
  const DhcpDevice dhcp;
  GoToAssign();
  m_sockets.Push(dhcp.Request20());
  ASSERT_TRUE(WaitFor([&] { return m_sockets.sent().size() == 1; }));
  m_sockets.Push(dhcp.Decline20());
  ASSERT_TRUE(WaitFor([&] { return On("failurePage"); }));
  EXPECT_TRUE(Summary().contains(
      "The device 02:00:5e:00:00:02 reports 192.168.0.20 as in use by another device."));
}

TEST_F(AssignTest, AReplyThatLeftThroughNoInterfaceEndsOnTheFailurePage) {
  m_routes.rows.clear();
  GoToAssign();
  Hear(kDeviceB);
  ASSERT_TRUE(WaitFor([&] { return On("failurePage"); }));
  EXPECT_TRUE(Summary().startsWith("ERROR:"));
  EXPECT_TRUE(Summary().contains("No network interface could send the reply"));
}

TEST_F(AssignTest, BackDisarmsSoALaterRequestIsOnlyRecorded) {
  GoToAssign();
  ASSERT_TRUE(Driver().Click("backButton"));
  ASSERT_TRUE(On("setIpPage"));
  EXPECT_FALSE(m_info->GetServer()->IsArmed());
  Hear(kDeviceB);
  // Its third request: the first listed it, the second was not one to answer at once.
  ASSERT_TRUE(WaitFor([&] { return m_info->GetServer()->GetCount(0) == 3; }));
  EXPECT_TRUE(m_sockets.sent().empty());
  // Cancel while armed: the Failure page, disarmed, with the abort text.
  ASSERT_TRUE(Driver().Click("nextButton"));
  ASSERT_TRUE(On("assignIpPage"));
  ASSERT_TRUE(Driver().Click("cancelButton"));
  ASSERT_TRUE(On("failurePage"));
  EXPECT_FALSE(m_info->GetServer()->IsArmed());
  EXPECT_TRUE(Summary().contains("You aborted the IP assignment before it could be completed."));
}

TEST_F(AssignTest, ClosingTheWindowWhileArmedEndsTheRunWithTheWorkerJoined) {
  GoToAssign();
  ASSERT_TRUE(m_info->GetServer()->IsArmed());
  m_sheet->close();
  EXPECT_EQ(m_sheet->result(), 0);
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
    return m_sheet->findChild<QLabel*>("headerSubTitle")->text() ==
           "Checking whether the device answers at its new address.";
  }));
  EXPECT_TRUE(Summary().startsWith("Sent to MAC address:"));
  ASSERT_TRUE(WaitForConfirmation([&] { return On("completionPage"); }));
  EXPECT_TRUE(Summary().contains("The device has not answered at 192.168.0.20 yet."));
  EXPECT_FALSE(m_info->GetServer()->IsArmed());
  // The device was asked all through the window, not only at its start.
  EXPECT_GE(m_arp.sent().size(), std::size_t{kAnswerWindowMs / CAssignIPDlg::kConfirmIntervalMs});
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
  EXPECT_TRUE(Summary().contains("The device answers at 192.168.0.20."));
}

TEST_F(AssignTest, LeavingAfterTheReplyWentOutIsNoAbort) {
  GoToAssign();
  Hear(kDeviceB);
  ASSERT_TRUE(WaitFor([&] { return m_sockets.sent().size() == 1; }));
  ASSERT_TRUE(WaitFor([&] { return Summary().startsWith("Sent to MAC address:"); }));
  ASSERT_TRUE(Driver().Click("cancelButton"));
  ASSERT_TRUE(On("failurePage"));
  EXPECT_FALSE(Summary().contains("aborted"));
  EXPECT_TRUE(Summary().contains("The reply with 192.168.0.20 was sent to 02:00:5e:00:00:02 "
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
  EXPECT_TRUE(Summary().contains("The reply could not be sent through if7, where the device "
                                 "asked: if7 has no IPv4 address or is down."))
      << Summary().toStdString();
}

TEST_F(PagesTest, ListenSortsByTheClickedColumnAndTheSelectionStaysOnItsDevice) {
  Show();
  GoToListen();
  // A asks once, B twice, C three times.
  for (const DeviceKey device : {kDeviceA, kDeviceB, kDeviceB, kDeviceC, kDeviceC, kDeviceC}) {
    Hear(device);
  }
  ASSERT_TRUE(WaitFor([&] {
    return ListedMacs().size() == 3 && List()->model()->index(2, 1).data().toString() == "3";
  }));
  Driver().ClickRow(0);
  ASSERT_TRUE(WaitFor([&] { return NextEnabled(); }));
  ASSERT_EQ(m_info->GetMacAddress(), "02:00:5e:00:00:01");

  QHeaderView* header = List()->header();
  const QPoint count(header->sectionViewportPosition(1) + 5, header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, count);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, count);
  ASSERT_TRUE(WaitFor([&] {
    return ListedMacs() == QStringList({"02:00:5e:00:00:03", "02:00:5e:00:00:02", "02:00:5e:00:00:01"});
  }));
  EXPECT_EQ(Driver().SelectedMac(), "02:00:5e:00:00:01");

  // A asks on and climbs past the others, as numbers (10 above 9), with the selection.
  for (int request = 0; request < 9; ++request) Hear(kDeviceA);
  ASSERT_TRUE(WaitFor([&] {
    return ListedMacs().first() == "02:00:5e:00:00:01" &&
           List()->model()->index(0, 1).data().toString() == "10";
  }));
  QTest::qWait(3 * CListenDlg::kTimerMs);
  EXPECT_EQ(Driver().SelectedMac(), "02:00:5e:00:00:01");
  EXPECT_EQ(m_info->GetMacAddress(), "02:00:5e:00:00:01");
}

TEST_F(AssignTest, ADeviceThatRebootsWhileItIsCheckedIsAnsweredAgain) {
  GoToAssign();
  Hear(kDeviceB);
  ASSERT_TRUE(WaitFor([&] { return m_sockets.sent().size() == 1; }));
  ASSERT_TRUE(WaitFor([&] { return Summary().startsWith("Sent to MAC address:"); }));
  // It restarted before it took up the address, and asks again: the same reply, and the
  // device then answers there.
  Hear(kDeviceB);
  ASSERT_TRUE(WaitFor([&] { return m_sockets.sent().size() == 2; }));
  EXPECT_TRUE(On("assignIpPage"));
  EXPECT_EQ(m_sockets.sent()[1].bytes[kYiaddrOffset + 3], 20);
  AnswerProbes({{"192.168.0.20", kDeviceB}});
  ASSERT_TRUE(WaitForConfirmation([&] { return On("completionPage"); }));
  EXPECT_TRUE(Summary().contains("The device answers at 192.168.0.20."));
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
  ASSERT_TRUE(Summary().contains("reports 192.168.0.20 as in use by another device."));
  ASSERT_TRUE(Driver().Click("backButton"));
  ASSERT_TRUE(On("listenPage"));
  Driver().ClickRow(0);
  ASSERT_TRUE(WaitFor([&] { return NextEnabled(); }));
  ASSERT_TRUE(Driver().Click("nextButton"));
  ASSERT_TRUE(On("setIpPage"));
  QTest::keyClick(Sheet(), Qt::Key_Escape);
  ASSERT_TRUE(On("failurePage"));
  EXPECT_EQ(Summary(), "WARNING:\nNo IP address was entered for the selected device.\n\n");

  // A reply that could not be sent, then Back and Escape on the Listen page.
  m_routes.rows.clear();
  ASSERT_TRUE(Driver().Click("backButton"));
  Driver().ClickRow(0);
  ASSERT_TRUE(WaitFor([&] { return NextEnabled(); }));
  ASSERT_TRUE(Driver().Click("nextButton"));
  ASSERT_TRUE(Driver().Click("nextButton"));
  ASSERT_TRUE(On("assignIpPage"));
  Hear(kDeviceB);
  ASSERT_TRUE(WaitFor([&] { return On("failurePage"); }));
  ASSERT_TRUE(Summary().contains("No network interface could send the reply"));
  ASSERT_TRUE(Driver().Click("backButton"));
  ASSERT_TRUE(On("listenPage"));
  QTest::keyClick(Sheet(), Qt::Key_Escape);
  ASSERT_TRUE(On("failurePage"));
  EXPECT_EQ(Summary(), "WARNING:\nYou have not selected a device for IP assignment.\n\n");
}

}  // namespace
}  // namespace quillnet
