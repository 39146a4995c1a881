#pragma once

#include <QTimer>

#include "app/bootp_wizard_info.h"
#include "wizard/wizard97.h"

class QCheckBox;
class QTreeView;

namespace quillnet {

class BootPServer;
class CDeviceListModel;

// Control ids of the Listen dialog.
inline constexpr int IDC_DEVICE_LIST = 1210;
inline constexpr int IDC_VENDOR_ONLY = 1229;
inline constexpr int IDC_VALID_ONLY = 1230;

// The first interior page: starts the server's worker on its first visit, lists the devices
// heard, and stores the selected device's MAC text in the shared state.
class CListenDlg : public CWizard97InteriorPageImpl, public CBootpWizardInfoRef {
 public:
  static constexpr int kTimerMs = 100;

  CListenDlg();
  ~CListenDlg() override;

  bool OnInitDialog() override;
  int OnSetActive() override;
  int OnKillActive() override;
  int OnWizardNext() override;
  int OnWizardBack() override;

 private:
  void InitList();
  void OnTimer();
  bool UpdateSelection();
  void RefreshList();
  void OnFilterClicked();
  void OnDoubleClick();
  void StartWorker();
  void SetWizButtons(int buttons);

  int m_wizButtons = 0;
  QTreeView* m_list = nullptr;
  CDeviceListModel* m_model = nullptr;
  BootPServer* m_listenServer = nullptr;
  QCheckBox* m_vendorOnlyCheck = nullptr;
  QCheckBox* m_validOnlyCheck = nullptr;
  bool m_vendorOnly = false;
  bool m_validOnly = true;
  QTimer m_listenTimer;
};

}  // namespace quillnet
