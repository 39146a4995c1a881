#include "pages/assign_ip_page.h"

#include <QLineEdit>
#include <QTextEdit>

#include "bootp/bootp_server.h"
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
  m_pWizardInfo->ArmServer();
  m_assignTimer.start();
  m_elapsedSeconds = 0;
  ShowElapsed();
  return 0;
}

void CAssignIPDlg::OnTimer() {
  BootPServer* server = m_pWizardInfo->GetServer();
  if (server->IsArmed()) {
    ++m_elapsedSeconds;
    ShowElapsed();
    return;
  }
  m_assignTimer.stop();
  // The worker disarms the server once it has answered the device; the answer may still have
  // failed on every interface, and then the Failure page shows the server's reason.
  const int pages = Sheet()->GetPageCount();
  Sheet()->SetCurSel(server->WasReplySent() ? pages - 1 : pages - 2);
}

int CAssignIPDlg::OnKillActive() {
  m_assignTimer.stop();
  m_pWizardInfo->GetServer()->Disarm();
  m_pWizardInfo->SetStatusMessage("You aborted the IP assignment before it could be completed.");
  return 0;
}

int CAssignIPDlg::OnWizardBack() {
  m_assignTimer.stop();
  return m_pWizardInfo->GetPreviousPage(kAssignIpPageId);
}

int CAssignIPDlg::OnWizardNext() { return -1; }

}  // namespace quillnet
