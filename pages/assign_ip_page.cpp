#include "pages/assign_ip_page.h"

#include <chrono>
#include <vector>

#include "app/assignment_session.h"
#include "bootp/bootp_server.h"
#include "dialogs/dialog_ids.h"

namespace quillnet {

std::string FormatAssignSummary(const std::string& mac, const std::string& ip,
                                const std::string& mask, const std::string& gateway, bool sent) {
  return std::string(sent ? "Sent to MAC address:" : "Attempting to assign MAC address:") +
         "\r\n\t" + mac + "\r\n\nthe following: \r\n\tIP address: \t\t\t" + ip +
         "\r\n\tSubnet mask: \t\t" + mask + "\r\n\tDefault gateway: \t" + gateway;
}

namespace {

constexpr char kAttemptingSubTitle[] = "Attempting to assign IP address.";
constexpr char kCheckingSubTitle[] = "Checking whether the device answers at its new address.";
constexpr char kAttemptingText[] = "The wizard is attempting to assign the specified IP address.";
constexpr char kRebootHint[] =
    "If it has been more than a minute or two and the IP is still not assigned, please try "
    "rebooting or power cycling your device.";

}  // namespace

CAssignIPDlg::CAssignIPDlg()
    : CWizard97InteriorPageImpl(kAssignIpPageId, "assignIpPage", kWizardPageTitle) {
  SetHeaderTitle("Assign IP Address");
  SetHeaderSubTitle(kAttemptingSubTitle);
}

CAssignIPDlg::~CAssignIPDlg() = default;

bool CAssignIPDlg::OnInitDialog() {
  Window().SetFont(IDC_ASSIGN_SUMMARY, FontRole::kSummary);
  ShowElapsed();
  return true;
}

void CAssignIPDlg::ShowElapsed() {
  Window().SetText(IDC_ELAPSED, std::to_string(m_elapsedSeconds));
}

void CAssignIPDlg::ShowSummary(bool sent) {
  Window().SetRichText(IDC_ASSIGN_SUMMARY,
                       FormatAssignSummary(m_pWizardInfo->GetMacAddress(),
                                           m_pWizardInfo->GetIpAddress(),
                                           m_pWizardInfo->GetSubnetMask(),
                                           m_pWizardInfo->GetDefaultGateway(), sent),
                       0);
}

std::chrono::milliseconds CAssignIPDlg::AnswerWindow() const {
  const std::chrono::milliseconds asked = m_pWizardInfo->GetAnswerWindow();
  return asked.count() > 0 ? asked : std::chrono::milliseconds(kAnswerWindowMs);
}

void CAssignIPDlg::ShowTexts(bool sent) {
  const std::string ip = m_pWizardInfo->GetIpAddress();
  SetHeaderSubTitle(sent ? kCheckingSubTitle : kAttemptingSubTitle);
  Window().SetText(IDC_ATTEMPTING_TEXT,
                   sent ? "The reply with " + ip + " was sent to " +
                              m_pWizardInfo->GetMacAddress() +
                              ". The wizard checks whether the device answers there."
                        : kAttemptingText);
  Window().SetText(IDC_REBOOT_HINT,
                   sent ? "The wizard goes on as soon as the device answers, and after " +
                              std::to_string(AnswerWindow().count() / 1000) + " seconds at most."
                        : kRebootHint);
  ShowSummary(sent);
}

int CAssignIPDlg::OnSetActive() {
  Sheet()->PostSetWizButtons(PSWIZB_BACK);
  // Remembered now, before the device has them: the Set IP page offers them again.
  m_pWizardInfo->SaveRememberedAddresses();
  ShowTexts(false);
  m_sentShown = false;
  m_pWizardInfo->SetConfirmation("");
  m_elapsedSeconds = 0;
  ShowElapsed();
  m_leaveText = "You aborted the IP assignment before it could be completed.";
  m_session = m_pWizardInfo->StartAssignment(std::chrono::milliseconds(kAnswerWindowMs),
                                             std::chrono::milliseconds(kConfirmIntervalMs));
  if (m_session->Ended()) {
    // The Set IP page lets only addresses through that read as they show; should one reach
    // here all the same, nothing is sent, and the first watch goes to the Failure page.
    m_leaveText = "The addresses for " + m_pWizardInfo->GetMacAddress() +
                  " could not be read; nothing was sent.";
  }
  Window().StartTimer(kTimerId, kTimerMs);
  Window().StartTimer(kWatchTimerId, kWatchMs);
  return 0;
}

void CAssignIPDlg::OnTimer(int timerId) {
  if (timerId == kWatchTimerId) {
    OnWatch();
    return;
  }
  // The count goes on while the device is being asked after the reply.
  ++m_elapsedSeconds;
  ShowElapsed();
}

void CAssignIPDlg::StopTimers() {
  Window().StopTimer(kTimerId);
  Window().StopTimer(kWatchTimerId);
}

void CAssignIPDlg::OnWatch() {
  if (!m_session) return;
  if (m_session->Ended() && !m_session->Answered()) {
    Leave(Sheet()->GetPageCount() - 2);
    return;
  }
  std::vector<AssignmentSession::Event> events;
  m_session->Poll(events);
  const std::string ip = m_pWizardInfo->GetIpAddress();
  using Kind = AssignmentSession::EventKind;
  for (const AssignmentSession::Event& event : events) {
    switch (event.kind) {
      case Kind::kSent:
        if (!m_sentShown && (event.reply.messageType == kBootpMessage ||
                             event.reply.messageType == kDhcpAck)) {
          m_sentShown = true;
          ShowTexts(true);
          // A reply that went out is no abort: the device may well use its address.
          m_leaveText = "The reply with " + ip + " was sent to " +
                        m_pWizardInfo->GetMacAddress() +
                        " before you left the page; whether the device answers there was not "
                        "checked.";
        }
        break;
      case Kind::kAccepted:
        break;
      case Kind::kNotSent:
      case Kind::kDeclined:
      case Kind::kOtherServer:
        // The Failure page shows the server's text, which says why.
        Leave(Sheet()->GetPageCount() - 2);
        return;
      case Kind::kAskedTooOften:
        m_leaveText = event.text;
        Leave(Sheet()->GetPageCount() - 2);
        return;
      case Kind::kConfirmed:
        Finish("The device answers at " + ip + ".");
        return;
      case Kind::kNotConfirmed:
        // Neither an answer nor another request: the device stopped asking because it took
        // the reply, and may take longer to use its address; that is no failure.
        Finish("The device has not answered at " + ip + " yet.");
        return;
      case Kind::kCannotCheck:
        Finish("Could not check that the device answers at " + ip + ": " + event.text + ".");
        return;
      case Kind::kCheckBrokeOff:
        Finish("The check whether the device answers at " + ip + " broke off: " + event.text +
               ".");
        return;
    }
  }
}

void CAssignIPDlg::Finish(const std::string& confirmation) {
  // A DHCP device's ack is its own word that it took the address; the check says the rest.
  m_pWizardInfo->SetConfirmation(
      m_session->Accepted()
          ? "The device accepted " + m_pWizardInfo->GetIpAddress() + ".\r\n" + confirmation
          : confirmation);
  Leave(Sheet()->GetPageCount() - 1);
}

void CAssignIPDlg::Leave(int pageIndex) {
  // The leave handler stops the timers and ends the session, which disarms the server.
  Sheet()->SetCurSel(pageIndex);
}

int CAssignIPDlg::OnKillActive() {
  StopTimers();
  m_session.reset();
  m_pWizardInfo->SetStatusMessage(m_leaveText);
  return 0;
}

int CAssignIPDlg::OnWizardBack() {
  StopTimers();
  return m_pWizardInfo->GetPreviousPage(kAssignIpPageId);
}

int CAssignIPDlg::OnWizardNext() { return -1; }

}  // namespace quillnet
