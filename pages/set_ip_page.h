#pragma once

#include <cstdint>
#include <string>

#include "app/bootp_wizard_info.h"
#include "pages/wizard97.h"

namespace quillnet {

struct ProbeResult;

// The page on which the user gives the selected device its addresses. Every change of the IP
// address, the subnet mask or the gateway is checked; the result is one line on the page, and
// the three texts are stored in the shared state, without leading zeros, whenever the check
// passes. An address that passes is also asked for on the network: another device that
// answers at it is named on the line.
class CSetIPDlg : public CWizard97InteriorPageImpl, public CBootpWizardInfoRef {
 public:
  CSetIPDlg();
  // A probe's result must not reach a page that is gone.
  ~CSetIPDlg() override;

  int OnSetActive() override;
  int OnKillActive() override;
  int OnWizardNext() override;
  int OnWizardBack() override;

 protected:
  void OnCommand(int id, ControlEvent event) override;

 private:
  // Checks the three texts for the selected device and writes the result line; stores
  // nothing. Whether they may be sent.
  bool ShowVerdict(const std::string& ipAddress, const std::string& subnetMask,
                   const std::string& defaultGateway);
  bool UpdateFromControls();
  void PrefillAddresses();
  void FillControls();
  // Asks whether a device other than the selected one answers at `ipAddress`, unless that was
  // asked already; shows what is known of it.
  void CheckInUse(const std::string& ipAddress);
  void OnInUseResult(std::uint64_t generation, const std::string& ipAddress,
                     const ProbeResult& result);
  void ShowInUse();

  std::string m_subnetPrefix;
  // The address last asked for, and who answered at it: a MAC text, "this PC", or "" for none.
  std::string m_probedIp;
  std::string m_inUseBy;
  std::uint64_t m_probeGeneration = 0;
  bool m_passed = false;
};

}  // namespace quillnet
