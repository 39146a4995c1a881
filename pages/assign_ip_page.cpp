#include "pages/assign_ip_page.h"

#include <QLabel>
#include <QLineEdit>
#include <QTextEdit>
#include <chrono>

#include "bootp/address_probe.h"
#include "bootp/bootp_server.h"
#include "pages/page_probe.h"
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

CAssignIPDlg::~CAssignIPDlg() {
  if (m_pWizardInfo != nullptr) m_pWizardInfo->CancelProbes();
}

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
  m_pWizardInfo->SetConfirmation("");
  m_phase = Phase::kWaiting;
  m_early = false;
  m_cannotCheck.clear();
  m_elapsedSeconds = 0;
  ShowElapsed();
  m_leaveText = "You aborted the IP assignment before it could be completed.";
  if (!m_pWizardInfo->ArmServer()) {
    // The Set IP page lets only addresses through that read as they show; should one reach
    // here all the same, nothing is sent, and the first watch finds the server neither armed
    // nor answered and goes to the Failure page.
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
  if (m_phase == Phase::kDone) return;
  BootPServer* server = m_pWizardInfo->GetServer();
  // A DHCP device found the address in use, before its ack or while it is being checked, or
  // took another server's offer; the Failure page shows the server's text, which says which.
  if (const auto verdict = server->GetDeviceVerdict();
      verdict == BootPServer::DeviceVerdict::kDeclined ||
      verdict == BootPServer::DeviceVerdict::kOtherServer) {
    Leave(Sheet()->GetPageCount() - 2);
    return;
  }
  const bool armed = server->IsArmed();
  // For the last answer to this arming: whether it left through the device's interface.
  const bool sent = server->WasReplySent();
  if (m_phase == Phase::kWaiting) {
    // Still armed with a reply sent: the answer at once to a device that asked a moment ago;
    // the server waits on for its next request, in case that answer came too late for it.
    if (armed && sent) StartChecking(true);
    // Not armed: the worker answered the device's request, and that ended the arming.
    if (!armed) sent ? StartChecking(false) : Leave(Sheet()->GetPageCount() - 2);
    return;
  }
  if (m_early && !armed) {
    // The device asked again, so it did not take the answer at once; the server answered
    // this request, and the page goes on as after any answer to a request.
    if (!sent) {
      Leave(Sheet()->GetPageCount() - 2);
      return;
    }
    if (!m_cannotCheck.empty()) {
      Finish(m_cannotCheck);
      return;
    }
    StartChecking(false);
    return;
  }
  if (std::chrono::steady_clock::now() < m_windowEnd) return;
  // Neither an answer nor another request: the device stopped asking because it took the
  // reply, and may take longer to use its address; that is no failure.
  Finish(!m_cannotCheck.empty()
             ? m_cannotCheck
             : "The device has not answered at " + m_pWizardInfo->GetIpAddress() + " yet.");
}

void CAssignIPDlg::StartChecking(bool early) {
  const bool first = m_phase == Phase::kWaiting;
  m_phase = Phase::kChecking;
  m_early = early;
  const std::chrono::milliseconds window = AnswerWindow();
  m_windowEnd = std::chrono::steady_clock::now() + window;
  if (first) ShowTexts(true);
  // A reply that went out is no abort: the device may well use its address.
  m_leaveText = "The reply with " + m_pWizardInfo->GetIpAddress() + " was sent to " +
                m_pWizardInfo->GetMacAddress() +
                " before you left the page; whether the device answers there was not checked.";
  // One probe through the whole window; a new window replaces the probe under way.
  m_probeGeneration = m_pWizardInfo->ProbeDeviceAddress(
      m_pWizardInfo->GetIpAddress(), CBootpWizardInfo::ProbeFor::kTheDevice,
      window, std::chrono::milliseconds(kConfirmIntervalMs),
      OnPageThread(this, [this](std::uint64_t generation, const ProbeResult& result) {
        OnConfirmResult(generation, result);
      }));
}

void CAssignIPDlg::OnConfirmResult(std::uint64_t generation, const ProbeResult& result) {
  if (generation != m_probeGeneration || m_phase != Phase::kChecking) return;
  const std::string ip = m_pWizardInfo->GetIpAddress();
  switch (result.outcome) {
    case ProbeOutcome::kAnswered:
      Finish("The device answers at " + ip + ".");
      return;
    case ProbeOutcome::kNotPossible:
      m_cannotCheck = "Could not check that the device answers at " + ip + ": " + result.reason + ".";
      // Without a way to ask, an answer to the device's request counts, as it always did;
      // after the answer at once the page still waits to see whether the device asks again.
      if (!m_early) Finish(m_cannotCheck);
      return;
    case ProbeOutcome::kSilent:
      // The window ends on the watch.
      return;
  }
}

void CAssignIPDlg::Finish(const std::string& confirmation) {
  // A DHCP device's ack is its own word that it took the address; the check says the rest.
  const bool accepted = m_pWizardInfo->GetServer()->GetDeviceVerdict() ==
                        BootPServer::DeviceVerdict::kAccepted;
  m_pWizardInfo->SetConfirmation(
      accepted ? "The device accepted " + m_pWizardInfo->GetIpAddress() + ".\r\n" + confirmation
               : confirmation);
  Leave(Sheet()->GetPageCount() - 1);
}

void CAssignIPDlg::Leave(int pageIndex) {
  // The leave handler stops the timers and the probe and disarms the server; the Failure
  // page shows the server's message, which says why a reply did not reach the device.
  Sheet()->SetCurSel(pageIndex);
}

int CAssignIPDlg::OnKillActive() {
  m_assignTimer.stop();
  m_watchTimer.stop();
  m_pWizardInfo->CancelProbes();
  m_phase = Phase::kDone;
  m_pWizardInfo->GetServer()->Disarm();
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
