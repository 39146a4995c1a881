#include "pages/listen_page.h"

#include <string>
#include <vector>

#include "bootp/bootp_server.h"
#include "dialogs/dialog_ids.h"

namespace quillnet {
namespace {

// The dialog template's text of the hint, which the silence's explanation stands in for.
constexpr char kPowerCycleHint[] =
    "If you do not see the MAC address of the device you are looking for, try cycling power to "
    "that device.";

}  // namespace

CListenDlg::CListenDlg()
    : CWizard97InteriorPageImpl(kListenPageId, "listenPage", kWizardPageTitle) {
  SetHeaderTitle("IP Address Request Listener");
  SetHeaderSubTitle("Please select a MAC address.");
}

CListenDlg::~CListenDlg() = default;

bool CListenDlg::OnInitDialog() {
  WaitCursor wait(Window());
  InitList();
  m_vendorOnly = false;
  m_validOnly = true;
  return true;
}

void CListenDlg::InitList() {
  m_rows.SetVendors([info = m_pWizardInfo](DeviceKey key) { return info->LookupVendor(key); });
  Window().SetListRows(IDC_DEVICE_LIST, &m_rows);
  Window().Show(IDC_VALID_ONLY, false);
}

int CListenDlg::OnSetActive() {
  Sheet()->PostSetWizButtons(PSWIZB_BACK);
  // Choosing a device starts a new assignment: what the last one ended in is no longer true.
  m_pWizardInfo->GetServer()->ClearAssignmentMessage();
  m_pWizardInfo->ClearRecordResult();
  Window().SetCheck(IDC_VALID_ONLY, m_validOnly);
  StartListening();
  Window().StartTimer(kTimerId, kTimerMs);
  return 0;
}

void CListenDlg::StartListening() {
  BootPServer* server = m_pWizardInfo->GetServer();
  // A server that listens goes on as it is; one whose start failed is started again.
  if (m_listenServer == server && (server->IsRunning() || server->IsStarting())) return;
  m_listenServer = server;
  m_listeningSince = std::chrono::steady_clock::now();
  // The page does not wait for the start: the list shows at once, and the first tick finds a
  // start that failed.
  server->Listen();
}

void CListenDlg::OnTimer(int timerId) {
  if (timerId != kTimerId) return;
  // A server still starting has not failed yet.
  if (m_listenServer == nullptr ||
      (!m_listenServer->IsRunning() && !m_listenServer->IsStarting())) {
    // The Failure page has set its buttons; a selection update now would post this page's
    // Back and Next after them.
    Sheet()->SetCurSel(Sheet()->GetPageCount() - 2);
    return;
  }
  UpdateSelection();
  RefreshList();
  ExplainSilence();
  SayWhenFull();
}

void CListenDlg::SayWhenFull() {
  if (m_fullSaid || m_listenServer == nullptr || !m_listenServer->GetNotices().tableFull) return;
  // Said once, where the hint was: devices heard from now on are not listed.
  m_fullSaid = true;
  Window().SetText(IDC_POWER_CYCLE_HINT,
                   "The list is full: it holds " + std::to_string(BootPServer::kMaxRows) +
                       " devices, and devices heard after them are not listed. Start the wizard "
                       "anew to list them.");
}

void CListenDlg::ExplainSilence() {
  if (m_heard || m_listenServer == nullptr) return;
  if (m_listenServer->IsTableUpdated()) {
    // Once a request has arrived, the silence is over for good.
    m_heard = true;
    if (m_silenceExplained && !m_fullSaid) Window().SetText(IDC_POWER_CYCLE_HINT, kPowerCycleHint);
    return;
  }
  const std::chrono::milliseconds window = m_pWizardInfo->GetSilenceWindow();
  if (m_silenceExplained ||
      std::chrono::steady_clock::now() - m_listeningSince <
          (window.count() > 0 ? window : std::chrono::milliseconds(kSilenceWindow))) {
    return;
  }
  m_silenceExplained = true;
  Window().SetText(IDC_POWER_CYCLE_HINT, SilenceText());
}

std::string CListenDlg::SilenceText() const {
  std::string text = "No request yet. ";
  const std::vector<std::string> addresses = m_pWizardInfo->GetListeningAddresses();
  if (addresses.empty()) {
    text += "No interface has an IPv4 address to listen on. ";
  } else {
    text += "Listening on ";
    for (std::size_t index = 0; index < addresses.size(); ++index) {
      text += (index == 0 ? "" : ", ") + addresses[index];
    }
    text += ". ";
  }
  const FirewallCheck firewall = m_pWizardInfo->CheckFirewall();
  switch (firewall.verdict) {
    case FirewallCheck::Verdict::kBlocks:
      text += firewall.firewall + ": " + firewall.findings.front() + " ";
      break;
    case FirewallCheck::Verdict::kLetsThrough:
      text += "No firewall rule is known to block UDP port 67. ";
      break;
    case FirewallCheck::Verdict::kNotChecked:
      text += "Whether a firewall blocks UDP port 67 is not known. ";
      break;
  }
  return text + "If the device is on, power-cycle the device: it asks when it starts.";
}

bool CListenDlg::UpdateSelection() {
  const int row = Window().ListSelectedRow(IDC_DEVICE_LIST);
  if (row < 0) {
    Sheet()->PostSetWizButtons(PSWIZB_BACK);
    return false;
  }
  const bool ok = m_pWizardInfo->SetMacAddress(m_rows.Cell(row, CDeviceList::kMacColumn));
  if (ok) Sheet()->PostSetWizButtons(PSWIZB_BACK | PSWIZB_NEXT);
  return ok;
}

void CListenDlg::RefreshList() {
  if (m_listenServer != nullptr) m_rows.Refresh(*m_listenServer, Window(), IDC_DEVICE_LIST);
}

void CListenDlg::OnCommand(int id, ControlEvent event) {
  if ((id == IDC_VENDOR_ONLY || id == IDC_VALID_ONLY) && event == ControlEvent::kClicked) {
    OnFilterClicked();
  } else if (id == IDC_DEVICE_LIST && event == ControlEvent::kDoubleClicked) {
    OnDoubleClick();
  }
}

void CListenDlg::OnFilterClicked() {
  m_vendorOnly = Window().GetCheck(IDC_VENDOR_ONLY);
  m_validOnly = Window().GetCheck(IDC_VALID_ONLY);
  if (m_listenServer != nullptr) {
    m_rows.Reset(*m_listenServer, m_vendorOnly, m_validOnly, Window(), IDC_DEVICE_LIST);
  }
}

int CListenDlg::OnKillActive() {
  Window().StopTimer(kTimerId);
  m_pWizardInfo->SetStatusMessage("You have not selected a device for IP assignment.");
  return 0;
}

int CListenDlg::OnWizardNext() {
  if (!UpdateSelection()) return -1;
  Window().StopTimer(kTimerId);
  return m_pWizardInfo->GetNextPage(kListenPageId);
}

int CListenDlg::OnWizardBack() {
  Window().StopTimer(kTimerId);
  return m_pWizardInfo->GetPreviousPage(kListenPageId);
}

void CListenDlg::OnDoubleClick() {
  if (OnWizardNext() != -1) Sheet()->SetCurSel(Sheet()->GetCurrentIndex() + 1);
}

}  // namespace quillnet
