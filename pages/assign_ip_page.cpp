#include "pages/assign_ip_page.h"

#include <QLabel>
#include <QLineEdit>
#include <QTextEdit>
#include <chrono>

#include "app/assignment_session.h"
#include "bootp/bootp_server.h"
#include "wizard/dialog_template.h"
#include "wizard/exterior_pages.h"

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
    : CWizard97InteriorPageImpl(kAssignIpPageId, QString::fromLatin1(kWizardPageTitle)) {
  setObjectName(QStringLiteral("assignIpPage"));
  SetHeaderTitle(QStringLiteral("Assign IP Address"));
  SetHeaderSubTitle(QString::fromLatin1(kAttemptingSubTitle));
  m_assignTimer.setInterval(kTimerMs);
  connect(&m_assignTimer, &QTimer::timeout, this, [this] { OnTimer(); });
  m_watchTimer.setInterval(kWatchMs);
  connect(&m_watchTimer, &QTimer::timeout, this, [this] { OnWatch(); });
}

CAssignIPDlg::~CAssignIPDlg() = default;

bool CAssignIPDlg::OnInitDialog() {
  m_summaryEdit = static_cast<QTextEdit*>(Control(IDC_ASSIGN_SUMMARY));
  m_elapsedEdit = static_cast<QLineEdit*>(Control(IDC_ELAPSED));
  m_summaryEdit->setLineWrapMode(QTextEdit::NoWrap);
  m_summaryEdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  SetupSummaryFont();
  ShowElapsed();
  return true;
}

void CAssignIPDlg::SetupSummaryFont() {
  m_summaryFont = QFont(QStringLiteral("Arial"));
  m_summaryFont.setStyleHint(QFont::SansSerif);
  m_summaryFont.setPointSize(10);
  m_summaryEdit->setFont(m_summaryFont);
  m_summaryEdit->document()->setDefaultFont(m_summaryFont);
  // A tab stop every four average characters of the summary font.
  m_summaryEdit->setTabStopDistance(4.0 * AverageCharWidth(m_summaryFont));
}

void CAssignIPDlg::ShowElapsed() { m_elapsedEdit->setText(QString::number(m_elapsedSeconds)); }

void CAssignIPDlg::ShowSummary(bool sent) {
  m_summaryEdit->setPlainText(RichEditText(FormatAssignSummary(
      m_pWizardInfo->GetMacAddress(), m_pWizardInfo->GetIpAddress(),
      m_pWizardInfo->GetSubnetMask(), m_pWizardInfo->GetDefaultGateway(), sent)));
}

std::chrono::milliseconds CAssignIPDlg::AnswerWindow() const {
  const std::chrono::milliseconds asked = m_pWizardInfo->GetAnswerWindow();
  return asked.count() > 0 ? asked : std::chrono::milliseconds(kAnswerWindowMs);
}

void CAssignIPDlg::ShowTexts(bool sent) {
  const std::string ip = m_pWizardInfo->GetIpAddress();
  SetHeaderSubTitle(QString::fromLatin1(sent ? kCheckingSubTitle : kAttemptingSubTitle));
  static_cast<QLabel*>(Control(IDC_ATTEMPTING_TEXT))
      ->setText(sent ? Latin1("The reply with " + ip + " was sent to " +
                              m_pWizardInfo->GetMacAddress() +
                              ". The wizard checks whether the device answers there.")
                     : QString::fromLatin1(kAttemptingText));
  static_cast<QLabel*>(Control(IDC_REBOOT_HINT))
      ->setText(sent ? QStringLiteral("The wizard goes on as soon as the device answers, and "
                                      "after %1 seconds at most.")
                           .arg(AnswerWindow().count() / 1000)
                     : QString::fromLatin1(kRebootHint));
  ShowSummary(sent);
}

int CAssignIPDlg::OnSetActive() {
  m_wizButtons = PSWIZB_BACK;
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
  m_assignTimer.start();
  m_watchTimer.start();
  return 0;
}

void CAssignIPDlg::OnTimer() {
  // The count goes on while the device is being asked after the reply.
  ++m_elapsedSeconds;
  ShowElapsed();
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
  m_assignTimer.stop();
  m_watchTimer.stop();
  m_session.reset();
  m_pWizardInfo->SetStatusMessage(m_leaveText);
  return 0;
}

int CAssignIPDlg::OnWizardBack() {
  m_assignTimer.stop();
  m_watchTimer.stop();
  return m_pWizardInfo->GetPreviousPage(kAssignIpPageId);
}

int CAssignIPDlg::OnWizardNext() { return -1; }

}  // namespace quillnet
