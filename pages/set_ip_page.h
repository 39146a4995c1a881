#pragma once

#include <string>

#include "app/bootp_wizard_info.h"
#include "wizard/wizard97.h"

class QLabel;
class QLineEdit;

namespace quillnet {

class IpAddressEdit;

// Control ids of the Set IP dialog.
inline constexpr int IDC_SELECTED_MAC = 1213;
inline constexpr int IDC_IP_ADDRESS = 1214;
inline constexpr int IDC_SUBNET_MASK = 1215;
inline constexpr int IDC_DEFAULT_GATEWAY = 1216;
inline constexpr int IDC_PC_ADDRESS = 1218;
inline constexpr int IDC_RESULT_LINE = 1225;

// The page on which the user gives the selected device its addresses. Every change of the IP
// address or the subnet mask is checked; the result is one line on the page, and the three
// texts are stored in the shared state whenever the check passes.
class CSetIPDlg : public CWizard97InteriorPageImpl, public CBootpWizardInfoRef {
 public:
  CSetIPDlg();

  bool OnInitDialog() override;
  int OnSetActive() override;
  int OnKillActive() override;
  int OnWizardNext() override;
  int OnWizardBack() override;

 private:
  // Checks the two texts and writes the result line; stores nothing.
  bool ValidateAddresses(const std::string& ipAddress, const std::string& subnetMask);
  bool UpdateFromControls();
  void PrefillAddresses();
  void FillControls();
  void SetWizButtons(int buttons);

  int m_wizButtons = 0;
  QLineEdit* m_macAddressEdit = nullptr;
  QLineEdit* m_localAddressEdit = nullptr;
  IpAddressEdit* m_ipAddressEdit = nullptr;
  IpAddressEdit* m_subnetMaskEdit = nullptr;
  IpAddressEdit* m_gatewayEdit = nullptr;
  QLabel* m_resultLine = nullptr;
  std::string m_subnetPrefix;
};

}  // namespace quillnet
