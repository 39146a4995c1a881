#include "pages/set_ip_page.h"

#include <chrono>

#include "app/device_probes.h"
#include "bootp/address_check.h"
#include "dialogs/dialog_ids.h"
#include "platform/ipv4_text.h"
#include "platform/neighbour_check.h"

namespace quillnet {
namespace {

constexpr char kPcAddressLabel[] = "This PC's IP address";
constexpr char kRelayAddressLabel[] = "Relay agent's IP address";

}  // namespace

CSetIPDlg::CSetIPDlg() : CWizard97InteriorPageImpl(kSetIpPageId, "setIpPage", kWizardPageTitle) {
  SetHeaderTitle("Set IP Address");
  SetHeaderSubTitle("Please specify an IP address to use.");
}

CSetIPDlg::~CSetIPDlg() {
  if (m_pWizardInfo != nullptr) m_pWizardInfo->CancelProbes();
}

void CSetIPDlg::OnCommand(int id, ControlEvent event) {
  // Each of the three is checked on every change, so that completing any of them enables Next.
  if (event == ControlEvent::kFieldChanged &&
      (id == IDC_IP_ADDRESS || id == IDC_SUBNET_MASK || id == IDC_DEFAULT_GATEWAY)) {
    UpdateFromControls();
  }
  // Remembered with the addresses when the Assign IP page arms.
  if (event == ControlEvent::kClicked && id == IDC_KEEP_ADDRESS) {
    m_pWizardInfo->SetKeepAddress(Window().GetCheck(IDC_KEEP_ADDRESS));
  }
}

int CSetIPDlg::OnSetActive() {
  Sheet()->PostSetWizButtons(PSWIZB_BACK);
  // This PC's address may have changed since the Welcome page, and the subnet check and the
  // in-use check rely on it.
  m_pWizardInfo->RefreshLocalAddress();
  FillControls();
  UpdateFromControls();
  // On every visit the typing starts in the address, where the proposal leaves a part open.
  Window().SetFocus(IDC_IP_ADDRESS);
  return 0;
}

bool CSetIPDlg::ShowVerdict(const std::string& ipAddress, const std::string& subnetMask,
                            const std::string& defaultGateway) {
  const AddressVerdict verdict =
      m_pWizardInfo->CheckAddresses(ipAddress, subnetMask, defaultGateway);
  // One line: the error, else the advice that matters most to the device (the gateway's over
  // the subnet's).
  Window().SetText(IDC_RESULT_LINE, !verdict.passed          ? verdict.error
                                    : verdict.warnings.empty() ? std::string()
                                                               : verdict.warnings.back());
  return verdict.passed;
}

void CSetIPDlg::PrefillAddresses() {
  const std::string shownMac = Window().GetText(IDC_SELECTED_MAC);
  const std::string mac = m_pWizardInfo->GetMacAddress();
  m_subnetPrefix = SubnetPrefix(m_pWizardInfo->GetLocalIpAddress());
  // An address the device declined as in use by another device is not proposed again.
  const std::string declined = m_pWizardInfo->GetDeclinedAddress();
  // Back from the next page with the same device: what passed before stays.
  if (shownMac == mac && m_pWizardInfo->GetIpAddress() != declined &&
      ShowVerdict(m_pWizardInfo->GetIpAddress(), m_pWizardInfo->GetSubnetMask(),
                  m_pWizardInfo->GetDefaultGateway())) {
    return;
  }
  if (m_pWizardInfo->LoadRememberedAddresses() && m_pWizardInfo->GetIpAddress() != declined) {
    return;
  }
  // Three parts and a trailing dot: the entry shows the PC's network and an empty fourth part.
  m_pWizardInfo->SetIpAddress(m_subnetPrefix);
  m_pWizardInfo->SetDefaultGateway("");
  // The mask kept from the Welcome page is the first adapter's; a device on another network
  // is offered that network's.
  if (m_pWizardInfo->IsDeviceOnAnotherNetwork()) {
    m_pWizardInfo->SetSubnetMask(m_pWizardInfo->GetLocalSubnetMask());
  }
}

void CSetIPDlg::FillControls() {
  PrefillAddresses();
  // The entries tell of each part they are given; none of that is the user's typing.
  const Filling filling(*this);
  PageHost& window = Window();
  window.SetText(IDC_SELECTED_MAC, m_pWizardInfo->GetMacAddress());
  window.SetAddress(IDC_IP_ADDRESS, IpEntry::FromText(m_pWizardInfo->GetIpAddress()));
  window.SetAddress(IDC_SUBNET_MASK, IpEntry::FromText(m_pWizardInfo->GetSubnetMask()));
  window.SetAddress(IDC_DEFAULT_GATEWAY, IpEntry::FromText(m_pWizardInfo->GetDefaultGateway()));
  window.SetCheck(IDC_KEEP_ADDRESS, m_pWizardInfo->GetKeepAddress());
  // A device behind a relay agent is on the relay's network, which is the one shown.
  const bool relayed = !m_pWizardInfo->GetRelayAddress().empty();
  window.SetText(IDC_PC_ADDRESS_LABEL, relayed ? kRelayAddressLabel : kPcAddressLabel);
  window.SetText(IDC_PC_ADDRESS, m_pWizardInfo->GetLocalIpAddress());
}

bool CSetIPDlg::UpdateFromControls() {
  // Stored as they are read, without leading zeros: the texts shown later are those sent.
  PageHost& window = Window();
  const std::string ipAddress = NormalizedIpv4Text(window.GetAddress(IDC_IP_ADDRESS).Text());
  const std::string subnetMask = NormalizedIpv4Text(window.GetAddress(IDC_SUBNET_MASK).Text());
  const std::string gateway = NormalizedIpv4Text(window.GetAddress(IDC_DEFAULT_GATEWAY).Text());
  const bool ok = ShowVerdict(ipAddress, subnetMask, gateway);
  m_passed = ok;
  if (ok) {
    m_pWizardInfo->SetIpAddress(ipAddress);
    m_pWizardInfo->SetSubnetMask(subnetMask);
    m_pWizardInfo->SetDefaultGateway(gateway);
    CheckInUse(ipAddress);
    Sheet()->PostSetWizButtons(PSWIZB_BACK | PSWIZB_NEXT);
    return true;
  }
  Sheet()->PostSetWizButtons(PSWIZB_BACK);
  return false;
}

int CSetIPDlg::OnWizardNext() {
  if (!UpdateFromControls()) return -1;
  return m_pWizardInfo->GetNextPage(kSetIpPageId);
}

int CSetIPDlg::OnWizardBack() { return m_pWizardInfo->GetPreviousPage(kSetIpPageId); }

int CSetIPDlg::OnKillActive() {
  m_pWizardInfo->SetStatusMessage("No IP address was entered for the selected device.");
  // Asked anew on the next visit: the network may have changed, or the device.
  m_pWizardInfo->CancelProbes();
  m_probedIp.clear();
  m_inUseBy.clear();
  return 0;
}

void CSetIPDlg::CheckInUse(const std::string& ipAddress) {
  if (ipAddress == m_probedIp) {
    ShowInUse();
    return;
  }
  m_probedIp = ipAddress;
  m_inUseBy.clear();
  // The result comes on the prober's thread; the page takes it on its own, while it is there.
  PageHost* window = &Window();
  m_probeGeneration = m_pWizardInfo->ProbeForOtherHolder(
      ipAddress, [this, window, ipAddress](std::uint64_t generation, const ProbeResult& result) {
        window->Post([this, generation, ipAddress, result] {
          OnInUseResult(generation, ipAddress, result);
        });
      });
}

void CSetIPDlg::OnInUseResult(std::uint64_t generation, const std::string& ipAddress,
                              const ProbeResult& result) {
  if (generation != m_probeGeneration || ipAddress != m_probedIp) return;
  // A probe that could not be made says nothing here: the check before arming is advice.
  m_inUseBy = ReadInUse(result).holder;
  ShowInUse();
}

void CSetIPDlg::ShowInUse() {
  // An error keeps the line; the warning is advice, like the subnet warning it replaces.
  if (!m_passed || m_inUseBy.empty()) return;
  Window().SetText(IDC_RESULT_LINE, "WARNING: " + m_probedIp + " is already in use by " + m_inUseBy + ".");
}

}  // namespace quillnet
