#include "pages/assign_ip_page.h"

#include <chrono>
#include <vector>

#include "app/assignment_session.h"
#include "bootp/bootp_server.h"
#include "dialogs/dialog_ids.h"
#include "platform/local_time.h"

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
constexpr char kLinkDownSubTitle[] = "The link to the device is lost.";
constexpr char kKeepingSubTitle[] = "Telling the device to keep its address.";
constexpr char kAttemptingText[] = "The wizard is attempting to assign the specified IP address.";
constexpr char kRebootHint[] =
    "If it has been more than a minute or two and the IP is still not assigned, please try "
    "rebooting or power cycling your device.";
constexpr char kTimeFormat[] = "%H:%M:%S";

std::string TimeText(std::int64_t seconds) { return FormatLocalTime(seconds, kTimeFormat); }

// "30 seconds", "1 second", "1.5 seconds".
std::string DurationText(std::chrono::milliseconds duration) {
  const long long whole = duration.count() / 1000;
  const long long tenths = duration.count() % 1000 / 100;
  std::string text = std::to_string(whole);
  if (tenths != 0) {
    text += '.';
    text += std::to_string(tenths);
  }
  text += whole == 1 && tenths == 0 ? " second" : " seconds";
  return text;
}

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

void CAssignIPDlg::ShowSummary() {
  Window().SetRichText(IDC_ASSIGN_SUMMARY,
                       FormatAssignSummary(m_pWizardInfo->GetMacAddress(),
                                           m_pWizardInfo->GetIpAddress(),
                                           m_pWizardInfo->GetSubnetMask(),
                                           m_pWizardInfo->GetDefaultGateway(), m_answersShown > 0),
                       0);
}

void CAssignIPDlg::ShowTexts() {
  const std::string ip = m_pWizardInfo->GetIpAddress();
  const std::string seconds = DurationText(m_pWizardInfo->GetAnswerWindow());
  std::string subTitle = kAttemptingSubTitle;
  std::string text = kAttemptingText;
  std::string hint = kRebootHint;
  if (m_keeping) {
    subTitle = kKeepingSubTitle;
    text = "The device answers at " + ip +
           ". The wizard tells it to keep that address at its next start-up (EtherNet/IP).";
    hint = "The wizard goes on as soon as the device has answered, within a few seconds.";
  } else if (m_linkDown) {
    subTitle = kLinkDownSubTitle;
    text = m_linkName + ", this PC's interface toward the device, is down or has lost its IPv4 "
                        "address. The wizard goes on once it is back.";
    hint = "Check the cable and the network adapter, or choose Back.";
  } else if (m_answersShown > 0) {
    subTitle = kCheckingSubTitle;
    text = (m_answersShown == 1
                ? "The reply was sent to " + m_pWizardInfo->GetMacAddress() + " at " +
                      TimeText(m_lastAnswerTime) + "."
                : "The device asked again: reply " + std::to_string(m_answersShown) +
                      " was sent at " + TimeText(m_lastAnswerTime) + ".") +
           " The wizard checks whether it answers at " + ip + ".";
    hint = "The wizard goes on as soon as the device answers, and " + seconds +
           " after the last reply at most.";
  }
  SetHeaderSubTitle(subTitle);
  Window().SetText(IDC_ATTEMPTING_TEXT, text);
  Window().SetText(IDC_REBOOT_HINT, hint);
  ShowSummary();
}

int CAssignIPDlg::OnSetActive() {
  Sheet()->PostSetWizButtons(PSWIZB_BACK);
  // Remembered now, before the device has them: the Set IP page offers them again.
  m_pWizardInfo->SaveRememberedAddresses();
  m_answersShown = 0;
  m_lastAnswerTime = 0;
  m_linkDown = false;
  m_linkName.clear();
  m_linkNote.clear();
  m_verdict.clear();
  m_keeping = false;
  m_confirmedVerdict.clear();
  m_pWizardInfo->SetAssignmentResult("", "");
  ShowTexts();
  m_elapsedSeconds = 0;
  ShowElapsed();
  m_session = m_pWizardInfo->StartAssignment();
  // The Set IP page lets only addresses through that read as they show; should one reach
  // here all the same, nothing is sent, and the first watch goes to the Failure page.
  m_unreadable = m_session->Ended();
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

void CAssignIPDlg::OnLinkEvent(bool down, const std::string& name, std::int64_t time) {
  m_linkDown = down;
  m_linkName = name;
  // Appended piece by piece: mingw's g++ 12 warns falsely of a literal joined to a temporary.
  if (down) {
    if (!m_linkNote.empty()) m_linkNote += ' ';
    m_linkNote += "The link to the device was lost at ";
    m_linkNote += TimeText(time);
    m_linkNote += ": ";
    m_linkNote += name;
    m_linkNote += " went down or lost its IPv4 address.";
  } else {
    m_linkNote += " It was back at ";
    m_linkNote += TimeText(time);
    m_linkNote += '.';
    // The check after a reply starts anew once the link is back, and the count with it.
    if (m_answersShown > 0) {
      m_elapsedSeconds = 0;
      ShowElapsed();
    }
  }
  ShowTexts();
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
  const std::string seconds = DurationText(m_pWizardInfo->GetAnswerWindow());
  using Kind = AssignmentSession::EventKind;
  for (const AssignmentSession::Event& event : events) {
    switch (event.kind) {
      case Kind::kSent:
        if (event.reply.final) {
          // Each answer starts the check anew, and the count with it.
          ++m_answersShown;
          m_lastAnswerTime = event.reply.time;
          m_elapsedSeconds = 0;
          ShowElapsed();
          ShowTexts();
        }
        break;
      case Kind::kAccepted:
      case Kind::kWarning:
        // The Set IP page checked the addresses for the network the device was heard on.
        break;
      case Kind::kLinkDown:
      case Kind::kLinkUp:
        OnLinkEvent(event.kind == Kind::kLinkDown, event.text, event.time);
        break;
      case Kind::kDeclined:
        // Not proposed again on the Set IP page.
        m_pWizardInfo->SetDeclinedAddress(ip);
        [[fallthrough]];
      case Kind::kNotSent:
      case Kind::kOtherServer:
        // The Failure page shows the server's text, which says why.
        Leave(Sheet()->GetPageCount() - 2);
        return;
      case Kind::kAskedTooOften:
        m_verdict = event.text;
        Leave(Sheet()->GetPageCount() - 2);
        return;
      case Kind::kConfirmed:
        m_confirmedVerdict = m_session->Accepted()
                                 ? "Confirmed: the device took " + ip + " and answers there."
                                 : "Confirmed: the device answers at " + ip + ".";
        // Told to keep its address, the device's word on that ends the page.
        if (!m_session->Ended()) break;
        Finish(m_confirmedVerdict, "");
        return;
      case Kind::kKeeping:
        m_keeping = true;
        ShowTexts();
        break;
      case Kind::kKept:
        // The address was given either way: the outcome is a line of the summary.
        Finish(m_confirmedVerdict, event.text);
        return;
      case Kind::kNotConfirmed:
        // Neither an answer nor another request: the device stopped asking because it took
        // the reply, and may take longer to use its address; that is no failure.
        if (m_linkDown) {
          Finish("Not confirmed: the link to the device was lost.",
                 "Check the cable, then whether the device answers at " + ip + ".");
        } else if (m_session->Accepted()) {
          Finish("Not confirmed: it took " + ip + " but did not answer there.",
                 "No answer within " + seconds + ". Check that it is still connected.");
        } else {
          Finish("Not confirmed: no answer at " + ip + " within " + seconds + ".",
                 "The device stopped asking, so it took the reply; it may need longer to start. "
                 "Check that it answers at " + ip + ".");
        }
        return;
      case Kind::kCannotCheck:
        Finish("Not confirmed: this PC could not ask whether the device answers.",
               "Could not check that the device answers at " + ip + ": " + event.text + ".");
        return;
      case Kind::kCheckBrokeOff:
        Finish("Not confirmed: the check whether the device answers broke off.",
               "The check whether the device answers at " + ip + " broke off: " + event.text +
                   ". Check whether the device answers at " + ip + ".");
        return;
    }
  }
}

void CAssignIPDlg::Finish(const std::string& verdict, const std::string& why) {
  // The verdict is short, so that the values below it stay in sight; why it is so, and what to
  // check, follow them.
  m_verdict = verdict;
  std::string details = why;
  // A DHCP device's ack is its own word that it took the address.
  if (m_session->Accepted()) {
    details += (details.empty() ? "" : "\r\n") + ("The device accepted " + m_pWizardInfo->GetIpAddress() + ".");
  }
  if (m_answersShown > 1) {
    details += (details.empty() ? "" : "\r\n") + ("The device asked again: " +
                                                 std::to_string(m_answersShown) +
                                                 " replies were sent, the last at " +
                                                 TimeText(m_lastAnswerTime) + ".");
  }
  if (!m_linkNote.empty()) details += (details.empty() ? "" : "\r\n") + m_linkNote;
  m_pWizardInfo->SetAssignmentResult(verdict, details);
  Leave(Sheet()->GetPageCount() - 1);
}

void CAssignIPDlg::Leave(int pageIndex) {
  // The leave handler stops the timers and ends the session, which disarms the server.
  Sheet()->SetCurSel(pageIndex);
}

std::string CAssignIPDlg::LeaveText() const {
  const std::string ip = m_pWizardInfo->GetIpAddress();
  const std::string mac = m_pWizardInfo->GetMacAddress();
  std::string text;
  if (m_unreadable) {
    text = "The addresses for " + mac + " could not be read; nothing was sent.";
  } else if (!m_verdict.empty()) {
    // The page ended on its own: what it found stays true after it.
    text = m_verdict;
  } else if (!m_confirmedVerdict.empty()) {
    text = m_confirmedVerdict + " You left the page before it said whether it keeps that address.";
  } else if (m_answersShown > 0) {
    // A reply that went out is no abort: the device may well use its address.
    text = "The reply with " + ip + " was sent to " + mac +
           " before you left the page; whether the device answers there was not checked.";
  } else {
    text = "You aborted the IP assignment before it could be completed.";
  }
  if (!m_linkNote.empty()) text += "\r\n" + m_linkNote;
  return text;
}

int CAssignIPDlg::OnKillActive() {
  StopTimers();
  // Whatever it came to, an assignment that was armed has its line in the record, once what is
  // under way (telling the device to keep its address) has been cut short.
  if (m_session) m_session->End();
  if (m_session && !m_unreadable) m_pWizardInfo->RecordAssignment(*m_session);
  m_session.reset();
  m_pWizardInfo->SetStatusMessage(LeaveText());
  return 0;
}

int CAssignIPDlg::OnWizardBack() {
  StopTimers();
  return m_pWizardInfo->GetPreviousPage(kAssignIpPageId);
}

int CAssignIPDlg::OnWizardNext() { return -1; }

}  // namespace quillnet
