#include "pages/set_ip_page.h"

#include <QLabel>
#include <QLineEdit>
#include <chrono>

#include "bootp/address_check.h"
#include "bootp/address_probe.h"
#include "pages/page_probe.h"
#include "platform/ipv4_text.h"
#include "wizard/dialog_template.h"
#include "wizard/ip_address_edit.h"

namespace quillnet {
namespace {

constexpr char kIncompleteGatewayText[] = "ERROR: Incomplete Default gateway.";

std::string Latin1Text(const QString& text) { return text.toLatin1().toStdString(); }

}  // namespace

CSetIPDlg::CSetIPDlg()
    : CWizard97InteriorPageImpl(kSetIpPageId, QString::fromLatin1(kWizardPageTitle)) {
  setObjectName(QStringLiteral("setIpPage"));
  SetHeaderTitle(QStringLiteral("Set IP Address"));
  SetHeaderSubTitle(QStringLiteral("Please specify an IP address to use."));
}

CSetIPDlg::~CSetIPDlg() {
  if (m_pWizardInfo != nullptr) m_pWizardInfo->CancelProbes();
}

bool CSetIPDlg::OnInitDialog() {
  m_macAddressEdit = static_cast<QLineEdit*>(Control(IDC_SELECTED_MAC));
  m_ipAddressEdit = static_cast<IpAddressEdit*>(Control(IDC_IP_ADDRESS));
  m_subnetMaskEdit = static_cast<IpAddressEdit*>(Control(IDC_SUBNET_MASK));
  m_gatewayEdit = static_cast<IpAddressEdit*>(Control(IDC_DEFAULT_GATEWAY));
  m_localAddressEdit = static_cast<QLineEdit*>(Control(IDC_PC_ADDRESS));
  m_resultLine = static_cast<QLabel*>(Control(IDC_RESULT_LINE));
  // Each of the three is checked on every change, so that completing any of them enables Next.
  for (IpAddressEdit* edit : {m_ipAddressEdit, m_subnetMaskEdit, m_gatewayEdit}) {
    connect(edit, &IpAddressEdit::fieldChanged, this, [this] { UpdateFromControls(); });
  }
  return true;
}

void CSetIPDlg::SetWizButtons(int buttons) {
  m_wizButtons = buttons;
  Sheet()->PostSetWizButtons(buttons);
}

int CSetIPDlg::OnSetActive() {
  SetWizButtons(PSWIZB_BACK);
  // This PC's address may have changed since the Welcome page, and the subnet check and the
  // in-use check rely on it.
  m_pWizardInfo->RefreshLocalAddress();
  FillControls();
  UpdateFromControls();
  return 0;
}

bool CSetIPDlg::ValidateAddresses(const std::string& ipAddress, const std::string& subnetMask) {
  std::string line;
  const LocalNetwork local{m_pWizardInfo->GetLocalIpAddress(), m_pWizardInfo->GetLocalSubnetMask()};
  const bool ok = quillnet::ValidateAddresses(ipAddress, subnetMask, local, line);
  m_resultLine->setText(Latin1(line));
  return ok;
}

void CSetIPDlg::PrefillAddresses() {
  const std::string shownMac = Latin1Text(m_macAddressEdit->text());
  const std::string mac = m_pWizardInfo->GetMacAddress();
  m_subnetPrefix = SubnetPrefix(m_pWizardInfo->GetLocalIpAddress());
  // Back from the next page with the same device: what passed before stays.
  if (shownMac == mac &&
      ValidateAddresses(m_pWizardInfo->GetIpAddress(), m_pWizardInfo->GetSubnetMask())) {
    return;
  }
  if (m_pWizardInfo->LoadRememberedAddresses()) return;
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
  m_macAddressEdit->setText(Latin1(m_pWizardInfo->GetMacAddress()));
  m_ipAddressEdit->setText(Latin1(m_pWizardInfo->GetIpAddress()));
  m_subnetMaskEdit->setText(Latin1(m_pWizardInfo->GetSubnetMask()));
  m_gatewayEdit->setText(Latin1(m_pWizardInfo->GetDefaultGateway()));
  m_localAddressEdit->setText(Latin1(m_pWizardInfo->GetLocalIpAddress()));
}

bool CSetIPDlg::UpdateFromControls() {
  // Stored as they are read, without leading zeros: the texts shown later are those sent.
  const std::string ipAddress = NormalizedIpv4Text(Latin1Text(m_ipAddressEdit->text()));
  const std::string subnetMask = NormalizedIpv4Text(Latin1Text(m_subnetMaskEdit->text()));
  const std::string gateway = NormalizedIpv4Text(Latin1Text(m_gatewayEdit->text()));
  bool ok = ValidateAddresses(ipAddress, subnetMask);
  // A gateway with empty parts would reach the device as 0.0.0.0 while the summary shows what
  // was typed: it must be complete, or empty for none.
  std::uint32_t gatewayAddress = 0;
  if (ok && !gateway.empty() && !ReadIpv4Text(gateway, gatewayAddress)) {
    m_resultLine->setText(QString::fromLatin1(kIncompleteGatewayText));
    ok = false;
  }
  m_passed = ok;
  if (ok) {
    // Advice, as the subnet warning is; it takes the line as it is more of a problem for the
    // device.
    const std::string gatewayWarning = GatewayWarning(ipAddress, subnetMask, gateway);
    if (!gatewayWarning.empty()) m_resultLine->setText(Latin1(gatewayWarning));
    m_pWizardInfo->SetIpAddress(ipAddress);
    m_pWizardInfo->SetSubnetMask(subnetMask);
    m_pWizardInfo->SetDefaultGateway(gateway);
    CheckInUse(ipAddress);
    if (m_wizButtons != (PSWIZB_BACK | PSWIZB_NEXT)) SetWizButtons(PSWIZB_BACK | PSWIZB_NEXT);
    return true;
  }
  if (m_wizButtons != PSWIZB_BACK) SetWizButtons(PSWIZB_BACK);
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
  // This PC does not answer its own probes; its addresses are known without asking.
  if (m_pWizardInfo->IsOwnAddress(ipAddress)) {
    m_inUseBy = "this PC";
    ShowInUse();
    return;
  }
  m_probeGeneration = m_pWizardInfo->ProbeDeviceAddress(
      ipAddress, CBootpWizardInfo::ProbeFor::kAnotherDevice,
      std::chrono::milliseconds(kInUseProbeMs), std::chrono::milliseconds(kInUseProbeIntervalMs),
      OnPageThread(this, [this, ipAddress](std::uint64_t generation, const ProbeResult& result) {
        OnInUseResult(generation, ipAddress, result);
      }));
}

void CSetIPDlg::OnInUseResult(std::uint64_t generation, const std::string& ipAddress,
                              const ProbeResult& result) {
  if (generation != m_probeGeneration || ipAddress != m_probedIp) return;
  // A probe that could not be made says nothing here; the check before arming is advice.
  if (result.outcome == ProbeOutcome::kAnswered) m_inUseBy = FormatMacAddress(result.holder);
  ShowInUse();
}

void CSetIPDlg::ShowInUse() {
  // An error keeps the line; the warning is advice, like the subnet warning it replaces.
  if (!m_passed || m_inUseBy.empty()) return;
  m_resultLine->setText(Latin1("WARNING: " + m_probedIp + " is already in use by " + m_inUseBy + "."));
}

}  // namespace quillnet
