#pragma once

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
  void StartWorker();

  BootPServer* m_listenServer = nullptr;
  CDeviceList m_rows;
  bool m_vendorOnly = false;
  bool m_validOnly = true;
};

}  // namespace quillnet
