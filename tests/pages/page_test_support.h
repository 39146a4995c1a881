#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/bootp_wizard_info.h"
#include "bootp/bootp_server.h"
#include "pages/bootp_wizard_sheet.h"
#include "platform/ipv4_text.h"
#include "tests/app/temporary_folder.h"
#include "tests/pages/fake_wizard.h"
#include "tests/support/fake_platform.h"
#include "tests/support/requests.h"
#include "tests/support/settings_location.h"

namespace quillnet::testing {

// A page that records every handler call in a shared log and answers as it is told.
class RecordingPage : public CWizard97InteriorPageImpl, public CBootpWizardInfoRef {
 public:
  RecordingPage(int dialogId, std::vector<std::string>& log)
      : CWizard97InteriorPageImpl(dialogId, "page" + std::to_string(dialogId), kWizardPageTitle),
        m_log(log) {
    SetHeaderTitle("Page " + std::to_string(dialogId));
    SetHeaderSubTitle("A page of the test wizard.");
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
// settings in a temporary folder, shown in the fake frame.
class WizardOnFakes : public ::testing::Test {
 protected:
  WizardOnFakes() {
    m_environment.settingsFile = m_settings.Path();
    m_environment.recordFile = m_folder.File("commissioning.csv");
    m_environment.adapters = &m_adapters;
    m_environment.serverFactory = [this] {
      ++m_serversMade;
      return std::make_unique<BootPServer>(m_sockets, m_routes);
    };
    m_adapters.adapters = {{"eth0", {{"192.168.0.5", "255.255.255.0"}}, "192.168.0.1", 2}};
    // The neighbours are a fake too: a test must never probe this machine's own networks.
    m_environment.neighbours = &m_neighbours;
    m_environment.arpInterfaces = [] { return std::vector<int>{kPcInterface}; };
  }
  ~WizardOnFakes() override {
    // The frame and the sheet go first, as in the program; the shared state then ends the
    // worker.
    m_wizard.reset();
    m_sheet.reset();
    m_info.reset();
  }

  // The shared state, settings loaded, and the sheet on the fake frame, started; with
  // `makeInteriorPages` for its interior pages.
  void Show(const InteriorPageMaker& makeInteriorPages = MakeInteriorPages) {
    m_wizard.reset();
    m_sheet.reset();
    m_info = std::make_unique<CBootpWizardInfo>(m_environment);
    m_info->LoadSettings();
    m_sheet = std::make_unique<CBootpWizardSheet>(m_info.get(), 0, makeInteriorPages);
    m_wizard = std::make_unique<FakeWizard>(*m_sheet);
    ASSERT_TRUE(m_wizard->Start());
  }

  FakeWizard& Wizard() const { return *m_wizard; }
  bool On(const char* page) const { return m_wizard->Page() == page; }

  static constexpr int kPcInterface = 2;

  TemporaryFolder m_folder;
  SettingsLocation m_settings;
  FakeNeighbourCheck m_neighbours;
  FakeSocketApi m_sockets;
  FakeRouteSource m_routes;
  FakeAdapterSource m_adapters;
  CBootpWizardInfo::Environment m_environment;
  std::unique_ptr<CBootpWizardInfo> m_info;
  std::unique_ptr<CBootpWizardSheet> m_sheet;
  std::unique_ptr<FakeWizard> m_wizard;
  std::vector<std::string> m_log;
  int m_serversMade = 0;
};

}  // namespace quillnet::testing
