#pragma once

#include <chrono>
#include <string>

#include "app/bootp_wizard_info.h"
#include "pages/device_list.h"
#include "pages/wizard97.h"

namespace quillnet {

class BootPServer;

// The first interior page: starts the server's worker on its first visit, lists the devices
// heard, and stores the selected device's MAC text in the shared state.
class CListenDlg : public CWizard97InteriorPageImpl, public CBootpWizardInfoRef {
 public:
  static constexpr int kTimerId = 1;
  static constexpr int kTimerMs = 100;
  // How long the page hears nothing before it says what it knows of why.
  static constexpr std::chrono::seconds kSilenceWindow{15};

  CListenDlg();
  ~CListenDlg() override;

  bool OnInitDialog() override;
  int OnSetActive() override;
  int OnKillActive() override;
  int OnWizardNext() override;
  int OnWizardBack() override;
  void OnTimer(int timerId) override;

 protected:
  void OnCommand(int id, ControlEvent event) override;

 private:
  void InitList();
  bool UpdateSelection();
  void RefreshList();
  void OnFilterClicked();
  void OnDoubleClick();
  // Starts the server's receive loop unless it runs.
  void StartListening();
  // In place of the power-cycle hint while nothing has been heard for the silence window: the
  // interfaces listened on, what the firewall is known to do to UDP port 67, and the hint.
  void ExplainSilence();
  // Says once that the device table is full.
  void SayWhenFull();
  std::string SilenceText() const;

  BootPServer* m_listenServer = nullptr;
  CDeviceList m_rows;
  bool m_vendorOnly = false;
  bool m_validOnly = true;
  std::chrono::steady_clock::time_point m_listeningSince;
  bool m_silenceExplained = false;
  bool m_fullSaid = false;
  bool m_heard = false;
};

}  // namespace quillnet
