#include "pages/assign_ip_page.h"

#include <QLineEdit>
#include <QTextEdit>
#include <chrono>

#include "bootp/address_probe.h"
#include "bootp/bootp_server.h"
#include "pages/page_probe.h"
#include "platform/program_file.h"
#include "wizard/dialog_template.h"
#include "wizard/exterior_pages.h"

namespace quillnet {

std::string FormatAssignSummary(const std::string& mac, const std::string& ip,
                                const std::string& mask, const std::string& gateway) {
  return "Attempting to assign MAC address:\r\n\t" + mac +
         "\r\n\nthe following: \r\n\tIP address: \t\t\t" + ip + "\r\n\tSubnet mask: \t\t" + mask +
         "\r\n\tDefault gateway: \t" + gateway;
}

CAssignIPDlg::CAssignIPDlg()
    : CWizard97InteriorPageImpl(kAssignIpPageId, QString::fromLatin1(kWizardPageTitle)) {
  setObjectName(QStringLiteral("assignIpPage"));
  SetHeaderTitle(QStringLiteral("Assign IP Address"));
  SetHeaderSubTitle(QStringLiteral("Attempting to assign IP address."));
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

void CAssignIPDlg::ShowSummary() {
  m_summaryEdit->setPlainText(RichEditText(FormatAssignSummary(
      m_pWizardInfo->GetMacAddress(), m_pWizardInfo->GetIpAddress(),
      m_pWizardInfo->GetSubnetMask(), m_pWizardInfo->GetDefaultGateway())));
}

int CAssignIPDlg::OnSetActive() {
  m_wizButtons = PSWIZB_BACK;
  Sheet()->PostSetWizButtons(PSWIZB_BACK);
  // Remembered now, before the device has them: the Set IP page offers them again.
  m_pWizardInfo->SaveRememberedAddresses();
  ShowSummary();
  m_pWizardInfo->SetConfirmation("");
  m_phase = Phase::kWaiting;
  m_earlyChecked = false;
  m_pWizardInfo->ArmServer();
  m_assignTimer.start();
  m_watchTimer.start();
  m_elapsedSeconds = 0;
  ShowElapsed();
  return 0;
}

void CAssignIPDlg::OnTimer() {
  // The count goes on while the device is being asked after the reply.
  ++m_elapsedSeconds;
  ShowElapsed();
}

void CAssignIPDlg::OnWatch() {
  if (m_phase != Phase::kWaiting) return;
  BootPServer* server = m_pWizardInfo->GetServer();
  if (server->IsArmed()) {
    // A device that asked a moment ago was answered at once, and the server waits on for its
    // next request in case that answer came too late for it.
    if (server->WasReplySent() && !m_earlyChecked) {
      m_earlyChecked = true;
      StartConfirm(Phase::kConfirmingEarly);
    }
    return;
  }
  // The worker disarms the server once it has answered the device; the answer may still have
  // failed on every interface, and then the Failure page shows the server's reason.
  if (!server->WasReplySent()) {
    m_assignTimer.stop();
    m_watchTimer.stop();
    m_phase = Phase::kDone;
    Sheet()->SetCurSel(Sheet()->GetPageCount() - 2);
    return;
  }
  StartConfirm(Phase::kConfirming);
}

void CAssignIPDlg::StartConfirm(Phase phase) {
  m_phase = phase;
  m_probeGeneration = m_pWizardInfo->ProbeDeviceAddress(
      m_pWizardInfo->GetIpAddress(), CBootpWizardInfo::ProbeFor::kTheDevice,
      std::chrono::milliseconds(kConfirmMs), std::chrono::milliseconds(kConfirmIntervalMs),
      OnPageThread(this, [this](std::uint64_t generation, const ProbeResult& result) {
        OnConfirmResult(generation, result);
      }));
}

void CAssignIPDlg::OnConfirmResult(std::uint64_t generation, const ProbeResult& result) {
  if (generation != m_probeGeneration || m_phase == Phase::kDone) return;
  const std::string ip = m_pWizardInfo->GetIpAddress();
  switch (result.outcome) {
    case ProbeOutcome::kAnswered:
      Finish("The device answers at " + ip + ".");
      return;
    case ProbeOutcome::kNotPossible: {
      // Without a way to ask, a reply that went out counts, as it always did.
      std::string text = "Could not check that the device answers at " + ip + ": " +
                         result.reason + ".";
      if (LacksRawCapability(result)) {
        text += " To allow the check, run:\r\n" + CapabilityCommand(RunningProgramPath());
      }
      Finish(text);
      return;
    }
    case ProbeOutcome::kSilent:
      break;
  }
  if (m_phase == Phase::kConfirmingEarly) {
    // The early answer may have come too late for the device: the server waits on for its
    // next request, and the server's own reply is checked again.
    m_phase = Phase::kWaiting;
    return;
  }
  // A device may take longer to take up its address; that is no failure.
  Finish("The device has not answered at " + ip + " yet.");
}

void CAssignIPDlg::Finish(const std::string& confirmation) {
  m_assignTimer.stop();
  m_watchTimer.stop();
  m_phase = Phase::kDone;
  m_pWizardInfo->GetServer()->Disarm();
  m_pWizardInfo->SetConfirmation(confirmation);
  Sheet()->SetCurSel(Sheet()->GetPageCount() - 1);
}

int CAssignIPDlg::OnKillActive() {
  m_assignTimer.stop();
  m_watchTimer.stop();
  if (m_phase != Phase::kDone) m_pWizardInfo->CancelProbes();
  m_phase = Phase::kDone;
  m_pWizardInfo->GetServer()->Disarm();
  m_pWizardInfo->SetStatusMessage("You aborted the IP assignment before it could be completed.");
  return 0;
}

int CAssignIPDlg::OnWizardBack() {
  m_assignTimer.stop();
  m_watchTimer.stop();
  return m_pWizardInfo->GetPreviousPage(kAssignIpPageId);
}

int CAssignIPDlg::OnWizardNext() { return -1; }

}  // namespace quillnet
