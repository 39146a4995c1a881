#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "app/bootp_wizard_info.h"
#include "bootp/bootp_server.h"
#include "tests/app/temporary_folder.h"
#include "tests/support/fake_platform.h"
#include "wizard/bootp_wizard_sheet.h"
#include "wizard/wizard97.h"

namespace quillnet::testing {

// A page that records every handler call in a shared log and answers as it is told.
class RecordingPage : public CWizard97InteriorPageImpl, public CBootpWizardInfoRef {
 public:
  RecordingPage(int dialogId, std::vector<std::string>& log)
      : CWizard97InteriorPageImpl(dialogId, QString::fromLatin1(kWizardPageTitle)), m_log(log) {
    SetHeaderTitle(QStringLiteral("Page %1").arg(dialogId));
    SetHeaderSubTitle(QStringLiteral("A page of the test wizard."));
  }

  int buttons = PSWIZB_BACK | PSWIZB_NEXT;
  int nextResult = 0;
  int backResult = 0;
  int killResult = 0;

  bool OnInitDialog() override {
    Record("init");
    return true;
  }
  int OnSetActive() override {
    Record("set");
    Sheet()->PostSetWizButtons(buttons);
    return 0;
  }
  int OnKillActive() override {
    Record("kill");
    return killResult;
  }
  int OnWizardNext() override {
    Record("next");
    return nextResult;
  }
  int OnWizardBack() override {
    Record("back");
    return backResult;
  }

 private:
  void Record(const char* what) { m_log.push_back(std::string(what) + " " + std::to_string(DialogId())); }
  std::vector<std::string>& m_log;
};

// Interior pages standing in for the Listen, Set IP, Assign IP and Install pages.
inline InteriorPageMaker RecordingInteriorPages(std::vector<std::string>& log) {
  return [&log] {
    InteriorPages pages;
    pages.listen = std::make_unique<RecordingPage>(kListenPageId, log);
    pages.setIp = std::make_unique<RecordingPage>(kSetIpPageId, log);
    pages.assignIp = std::make_unique<RecordingPage>(kAssignIpPageId, log);
    pages.install = std::make_unique<RecordingPage>(kInstallPageId, log);
    return pages;
  };
}

// The wizard on fake sockets, routes and adapters (one adapter, 192.168.0.5/24) with its
// settings in a temporary folder.
class WizardOnFakes : public ::testing::Test {
 protected:
  WizardOnFakes() {
    m_environment.settingsFile = m_folder.File("registry.sqlite3");
    m_environment.adapters = &m_adapters;
    m_environment.serverFactory = [this] {
      ++m_serversMade;
      return std::make_unique<BootPServer>(m_sockets, m_routes);
    };
    m_adapters.adapters = {{"eth0", {{"192.168.0.5", "255.255.255.0"}}, "192.168.0.1"}};
    // ARP goes to a fake too: a test must never probe this machine's own networks.
    m_arp.macs = {{kPcInterface, kPcMac}};
    m_environment.arpSockets = &m_arp;
    m_environment.arpInterfaces = [] { return std::vector<int>{kPcInterface}; };
  }

  // The sheet for m_info, shown; with recording interior pages or with none.
  std::unique_ptr<CBootpWizardSheet> MakeSheet(bool interiorPages) {
    auto sheet = std::make_unique<CBootpWizardSheet>(
        m_info.get(), 0, nullptr,
        interiorPages ? RecordingInteriorPages(m_log) : InteriorPageMaker{});
    EXPECT_TRUE(sheet->ShowModeless());
    return sheet;
  }

  static constexpr int kPcInterface = 2;
  static constexpr std::uint64_t kPcMac = 0x02005E0000AA;

  TemporaryFolder m_folder;
  FakeArpSocketApi m_arp;
  FakeSocketApi m_sockets;
  FakeRouteSource m_routes;
  FakeAdapterSource m_adapters;
  CBootpWizardInfo::Environment m_environment;
  std::unique_ptr<CBootpWizardInfo> m_info;
  std::vector<std::string> m_log;
  int m_serversMade = 0;
};

template <typename T>
T* Find(QWidget* root, const char* name) {
  return root->findChild<T*>(QString::fromLatin1(name));
}

inline void Click(QWidget* root, const char* button) {
  auto* widget = Find<QPushButton>(root, button);
  ASSERT_NE(widget, nullptr) << button;
  QTest::mouseClick(widget, Qt::LeftButton);
}

// Runs posted requests until `condition` holds (at most five seconds).
template <typename Condition>
bool WaitFor(Condition condition) {
  return QTest::qWaitFor(condition, 5000);
}

}  // namespace quillnet::testing
