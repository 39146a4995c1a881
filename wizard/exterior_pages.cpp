#include "wizard/exterior_pages.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>

#include "bootp/bootp_server.h"
#include "platform/net_helper.h"
#include "platform/port_owners.h"
#include "platform/program_file.h"
#include "platform/winsock_errors.h"
#include "wizard/wait_cursor.h"

namespace quillnet {
namespace {

constexpr char kPictureType[] = "JPEG";
constexpr int kWelcomePicture = 135;
constexpr int kCompletionPicture = 136;
constexpr int kFailurePicture = 137;
constexpr int kBoldPrefixLength = 8;  // "ERROR:  " and "WARNING:"

QString Text(const char* text) { return QString::fromLatin1(text); }

void SetTextColor(QWidget* widget, const QColor& color) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, color);
  palette.setColor(QPalette::Text, color);
  palette.setColor(QPalette::Base, Qt::transparent);
  widget->setPalette(palette);
  widget->setAutoFillBackground(false);
}

// What the user is told when `subject`, the program at `programPath`, lacks a capability: what
// it may not do, the capabilities it lacks, and the one command that grants both, as they are
// granted together.
std::string FormatCapabilityHint(const std::string& subject, const std::string& programPath,
                                 bool lacksPort, bool lacksRaw) {
  constexpr char kPort[] = "listen on BOOTP port 67";
  constexpr char kRaw[] =
      "send the ARP probes that confirm a device took its address and find addresses in use";
  const bool both = lacksPort && lacksRaw;
  const std::string cannot = both ? std::string(kPort) + " nor " + kRaw : lacksPort ? kPort : kRaw;
  const std::string lacked = both        ? "capabilities cap_net_bind_service and cap_net_raw"
                             : lacksPort ? "capability cap_net_bind_service"
                                         : "capability cap_net_raw";
  return subject + " may not " + cannot + ": it lacks the " + lacked + ". To grant " +
         (both ? "them" : "it") + ", run:\r\n" + CapabilityCommand(programPath) + "\r\n";
}

}  // namespace

std::string FormatSuccessSummary(const std::string& mac, const std::string& ip,
                                 const std::string& mask, const std::string& gateway) {
  return "Successfully assigned MAC address:\r\n\t" + mac +
         "\r\n\nthe following: \r\n\tIP address: \t\t\t" + ip + "\r\n\tSubnet mask: \t\t" + mask +
         "\r\n\tDefault gateway: \t" + gateway + "\r\n";
}

std::string FormatFailureText(const std::string& reason, const std::string& error) {
  // The server's failure wins; the reason of the page left last is shown only without one.
  if (!error.empty()) return "ERROR:  \r\n" + error + "\r\n";
  return "WARNING:\r\n" + reason + "\r\n" + error + "\r\n";
}

QString RichEditText(const std::string& text) {
  QString result = Latin1(text);
  result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return result;
}

// ---- common --------------------------------------------------------------------------------

CBootpWizardExteriorPage::CBootpWizardExteriorPage(int dialogId, const QString& title,
                                                   int pictureId)
    : CWizard97ExteriorPageImpl(dialogId, title), m_pictureId(pictureId) {}

void CBootpWizardExteriorPage::OnSize() {
  if (m_splashControl != nullptr) return;
  m_splashControl = new QLabel(this);
  m_splashControl->setObjectName(QStringLiteral("splashImage"));
  m_splashControl->setAccessibleName(QStringLiteral("Welcome Screen Splash Image"));
  const bool loaded = m_splash.Load(m_pictureId, kPictureType);
  if (loaded) {
    m_splashControl->setPixmap(m_splash.Handle());
    m_splashControl->setGeometry(QRect(QPoint(0, 0), m_splash.Handle().size()));
  } else {
    m_splashControl->setGeometry(0, 0, 1, 1);
  }
  // Below the page's own controls, so the texts that only exist as controls stay readable.
  m_splashControl->lower();
  m_splashControl->show();
  OnPictureCreated(loaded);
}

// ---- Welcome -------------------------------------------------------------------------------

CBootpWizardWelcomePage::CBootpWizardWelcomePage(const QString& title)
    : CBootpWizardExteriorPage(kWelcomePageId, title, kWelcomePicture) {
  setObjectName(QStringLiteral("welcomePage"));
}

bool CBootpWizardWelcomePage::OnInitDialog() {
  if (const QFont* titleFont = Sheet()->GetExteriorPageTitleFont()) {
    Control(IDC_TITLE)->setFont(*titleFont);
  }
  if (const QFont* bulletFont = Sheet()->GetBulletFont()) {
    // In Marlett "h" is a bullet. Without Marlett the letter would show, so the bullet is
    // written as the character itself.
    const bool marlett = QFontInfo(*bulletFont).family() == QStringLiteral("Marlett");
    for (int id : {IDC_BULLET1, IDC_BULLET2, IDC_BULLET3}) {
      auto* bullet = static_cast<QLabel*>(Control(id));
      if (marlett) {
        bullet->setFont(*bulletFont);
      } else {
        bullet->setText(QString(QChar(0x2022)));
      }
    }
  }
  m_versionText = static_cast<QLineEdit*>(Control(IDC_VERSION));
  m_localAddressText = static_cast<QLabel*>(Control(IDC_LOCAL_ADDRESS));
  m_localAddressText->setText(QString::fromStdString(m_pWizardInfo->QueryLocalIpAddress()));
  m_versionText->setText(Text(kProgramVersion));
  return true;
}

void CBootpWizardWelcomePage::OnPictureCreated(bool loaded) {
  if (!loaded) return;
  // The picture carries the title, the introduction and the steps in its own pixels; the
  // controls with the same texts would print them a second time over it.
  for (int id : {IDC_TITLE, IDC_INTRO, IDC_BULLET1, IDC_BULLET2, IDC_BULLET3, IDC_STEP1,
                 IDC_STEP2, IDC_STEP3}) {
    Control(id)->hide();
  }
  // The remaining texts sit on the picture's dark panel.
  const QColor onPanel(0xF2, 0xF6, 0xFA);
  for (QWidget* widget : {static_cast<QWidget*>(m_versionText),
                          static_cast<QWidget*>(m_localAddressText),
                          findChild<QWidget*>(QStringLiteral("continueText")),
                          findChild<QWidget*>(QStringLiteral("localAddressLabel"))}) {
    if (widget != nullptr) SetTextColor(widget, onPanel);
  }
}

int CBootpWizardWelcomePage::OnSetActive() {
  Sheet()->PostSetWizButtons(PSWIZB_NEXT);
  return 0;
}

int CBootpWizardWelcomePage::OnKillActive() {
  m_pWizardInfo->SetStatusMessage("Cancelled from Welcome Page.");
  return 0;
}

int CBootpWizardWelcomePage::OnWizardNext() { return m_pWizardInfo->GetNextPage(kWelcomePageId); }

int CBootpWizardWelcomePage::OnWizardBack() { return -1; }

// ---- end pages -----------------------------------------------------------------------------

CBootpWizardEndPage::CBootpWizardEndPage(const QString& title, int pictureId)
    : CBootpWizardExteriorPage(kEndPageId, title, pictureId) {}

bool CBootpWizardEndPage::OnInitDialog() {
  if (const QFont* titleFont = Sheet()->GetExteriorPageTitleFont()) {
    Control(IDC_TITLE)->setFont(*titleFont);
  }
  m_summaryEdit = static_cast<QTextEdit*>(Control(IDC_SUMMARY));
  m_installCheck = static_cast<QCheckBox*>(Control(IDC_INSTALL_CHECK));
  m_cancelButton = Sheet()->CancelButton();

  m_summaryFont = QFont(QStringLiteral("Arial"));
  m_summaryFont.setStyleHint(QFont::SansSerif);
  m_summaryFont.setPointSize(10);
  m_summaryEdit->setFont(m_summaryFont);
  m_summaryEdit->document()->setDefaultFont(m_summaryFont);
  // A tab stop every four average characters of the summary font.
  m_summaryEdit->setTabStopDistance(4.0 * AverageCharWidth(m_summaryFont));

  connect(m_installCheck, &QCheckBox::clicked, this, [this](bool checked) {
    Sheet()->PostSetWizButtons(checked ? PSWIZB_BACK | PSWIZB_NEXT : PSWIZB_BACK | PSWIZB_FINISH);
  });
  return true;
}

bool CBootpWizardEndPage::OffersInstall() const {
  return !m_pWizardInfo->IsInstalled() && Sheet()->IndexOfDialog(kInstallPageId) >= 0;
}

int CBootpWizardEndPage::OnSetActive() {
  const bool offerInstall = OffersInstall();
  // A box still ticked from an earlier visit keeps Next on offer.
  const bool toInstall = offerInstall && m_installCheck->isChecked();
  Sheet()->PostSetWizButtons(toInstall ? PSWIZB_BACK | PSWIZB_NEXT
                                       : PSWIZB_BACK | PSWIZB_FINISH);
  m_cancelButton->hide();
  m_installCheck->setVisible(offerInstall);
  FillSummary();
  return 0;
}

int CBootpWizardEndPage::OnKillActive() {
  m_cancelButton->show();
  if (!m_toInstall) m_pWizardInfo->SetStatusMessage("From Finish Page");
  m_toInstall = false;
  return 0;
}

int CBootpWizardEndPage::OnWizardBack() { return kListenPageId; }

int CBootpWizardEndPage::OnWizardNext() {
  m_toInstall = true;
  m_pWizardInfo->SetInstallOrigin(Sheet()->GetCurrentIndex());
  return kInstallPageId;
}

int CBootpWizardEndPage::OnWizardFinish() {
  bool ok = false;
  {
    WaitCursor wait;
    ok = m_pWizardInfo->FinishWizard(this);
  }
  // A setting held up until now did not get saved; the user hears of it before the window
  // goes.
  const std::vector<std::string> problems = m_pWizardInfo->GetSettingsProblems();
  if (problems.size() > m_shownProblems) {
    std::string text;
    for (std::size_t index = m_shownProblems; index < problems.size(); ++index) {
      text += (text.empty() ? "" : "\n") + problems[index];
    }
    m_shownProblems = problems.size();
    QMessageBox::warning(this, windowTitle(), QString::fromLatin1(text.c_str()));
  }
  return ok ? 0 : 1;
}

std::string CBootpWizardEndPage::InstallResultLines() const {
  const std::string result = m_pWizardInfo->GetInstallResult();
  return result.empty() ? std::string() : "\r\n" + result + "\r\n";
}

std::string CBootpWizardEndPage::SettingsProblemLines() {
  std::string text;
  const std::vector<std::string> problems = m_pWizardInfo->GetSettingsProblems();
  for (const std::string& line : problems) text += "\r\n" + line + "\r\n";
  m_shownProblems = problems.size();
  return text;
}

CBootpWizardFailurePage::CBootpWizardFailurePage(const QString& title)
    : CBootpWizardEndPage(title, kFailurePicture) {
  setObjectName(QStringLiteral("failurePage"));
}

bool CBootpWizardFailurePage::OnInitDialog() {
  static_cast<QLabel*>(Control(IDC_TITLE))->setText(QStringLiteral("Cancelled"));
  CBootpWizardEndPage::OnInitDialog();
  static_cast<QLabel*>(Control(IDC_INTRO))
      ->setText(QStringLiteral("You did not complete an IP assignment."));
  static_cast<QLabel*>(Control(IDC_FINISH_HINT))
      ->setText(QStringLiteral("Click Finish to exit, or click Back to start over."));
  m_installCheck->setChecked(m_pWizardInfo->IsInstalled());
  return true;
}

void CBootpWizardFailurePage::FillSummary() {
  const std::string reason = m_pWizardInfo->GetStatusMessage();
  std::string error;
  int startError = 0;
  if (BootPServer* server = m_pWizardInfo->GetServer()) {
    server->GetMessageText(error);
    startError = server->GetStartError();
  }
  std::string text = FormatFailureText(reason, error);
  // The server's text stands as it is; what it cannot know follows: who holds the port, and
  // what fixes a refusal.
  if (!error.empty() && startError == kWsaEaddrinuse) {
    if (const std::string holders = PortHoldersText(FindUdpPortOwners(BootPServer::kServerPort));
        !holders.empty()) {
      text += "UDP port 67 is held by " + holders + ".\r\n";
    }
  }
  // A bare code would leave the user who started a copy without the capability stuck.
  if (!error.empty() && startError == kWsaEacces) {
    // Refused the port, the program asked quillnet-net-helper, which says what it lacks.
    const std::string helper = LastPortHelperFailure();
    text += helper.empty() ? FormatCapabilityHint("This program", RunningProgramPath(), true, false)
                           : "This program may not listen on BOOTP port 67 itself, nor through " +
                                 std::string(kNetHelperName) + ": " + helper + "\r\n";
  }
  text += InstallResultLines();
  text += SettingsProblemLines();
  m_summaryEdit->setPlainText(RichEditText(text));
  QTextCursor cursor(m_summaryEdit->document());
  cursor.setPosition(0);
  cursor.setPosition(kBoldPrefixLength, QTextCursor::KeepAnchor);
  QTextCharFormat bold;
  bold.setFontWeight(QFont::Bold);
  cursor.mergeCharFormat(bold);
}

CBootpWizardCompletionPage::CBootpWizardCompletionPage(const QString& title)
    : CBootpWizardEndPage(title, kCompletionPicture) {
  setObjectName(QStringLiteral("completionPage"));
}

void CBootpWizardCompletionPage::FillSummary() {
  std::string text = FormatSuccessSummary(
      m_pWizardInfo->GetMacAddress(), m_pWizardInfo->GetIpAddress(),
      m_pWizardInfo->GetSubnetMask(), m_pWizardInfo->GetDefaultGateway());
  // Whether the device answers at its new address, as the Assign IP page found it.
  if (const std::string confirmation = m_pWizardInfo->GetConfirmation(); !confirmation.empty()) {
    text += "\r\n" + confirmation + "\r\n";
  }
  text += InstallResultLines();
  text += SettingsProblemLines();
  m_summaryEdit->setPlainText(RichEditText(text));
}

}  // namespace quillnet
