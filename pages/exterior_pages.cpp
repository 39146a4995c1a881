#include "pages/exterior_pages.h"

#include <vector>

#include "app/start_failure.h"
#include "bootp/bootp_server.h"
#include "dialogs/dialog_ids.h"
#include "platform/net_helper.h"
#include "platform/program_file.h"

namespace quillnet {
namespace {

constexpr int kBoldPrefixLength = 8;  // "ERROR:  " and "WARNING:"

// The characters of a UTF-8 text, as the controls count them (UTF-16 code units).
int CharacterCount(const std::string& text) {
  int count = 0;
  for (const char byte : text) {
    const auto value = static_cast<unsigned char>(byte);
    // A lead byte of four starts a character outside the BMP, two units long.
    if ((value & 0xC0) != 0x80) count += value >= 0xF0 ? 2 : 1;
  }
  return count;
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

// ---- common --------------------------------------------------------------------------------

CBootpWizardExteriorPage::CBootpWizardExteriorPage(int dialogId, std::string name, int pictureId)
    : CWizard97ExteriorPageImpl(dialogId, std::move(name), kWizardPageTitle),
      m_pictureId(pictureId) {}

void CBootpWizardExteriorPage::OnSize() {
  if (m_pictureCreated) return;
  m_pictureCreated = true;
  // A picture that cannot be shown leaves the page without one; it works as before.
  m_pictureShown = Window().ShowPicture(m_pictureId);
  OnPictureCreated(m_pictureShown);
}

// ---- Welcome -------------------------------------------------------------------------------

CBootpWizardWelcomePage::CBootpWizardWelcomePage()
    : CBootpWizardExteriorPage(kWelcomePageId, "welcomePage", kWelcomePicture) {}

bool CBootpWizardWelcomePage::OnInitDialog() {
  PageHost& window = Window();
  window.SetFont(IDC_TITLE, FontRole::kExteriorTitle);
  for (const int id : {IDC_BULLET1, IDC_BULLET2, IDC_BULLET3}) window.SetFont(id, FontRole::kBullet);
  window.SetText(IDC_LOCAL_ADDRESS, m_pWizardInfo->QueryLocalIpAddress());
  window.SetText(IDC_VERSION, kProgramVersion);
  return true;
}

void CBootpWizardWelcomePage::OnPictureCreated(bool loaded) {
  if (!loaded) return;
  PageHost& window = Window();
  // The picture carries the title, the introduction and the steps in its own pixels; the
  // controls with the same texts would print them a second time over it.
  for (const int id : {IDC_TITLE, IDC_INTRO, IDC_BULLET1, IDC_BULLET2, IDC_BULLET3, IDC_STEP1,
                       IDC_STEP2, IDC_STEP3}) {
    window.Show(id, false);
  }
  // The remaining texts sit on the picture's dark panel.
  for (const int id : {IDC_VERSION, IDC_LOCAL_ADDRESS, IDC_CONTINUE_TEXT,
                       IDC_LOCAL_ADDRESS_LABEL}) {
    window.SetOnPicture(id);
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

CBootpWizardEndPage::CBootpWizardEndPage(std::string name, int pictureId)
    : CBootpWizardExteriorPage(kEndPageId, std::move(name), pictureId) {}

bool CBootpWizardEndPage::OnInitDialog() {
  Window().SetFont(IDC_TITLE, FontRole::kExteriorTitle);
  Window().SetFont(IDC_SUMMARY, FontRole::kSummary);
  return true;
}

void CBootpWizardEndPage::OnCommand(int id, ControlEvent event) {
  if (id != IDC_INSTALL_CHECK || event != ControlEvent::kClicked) return;
  ShowButtons(Window().GetCheck(IDC_INSTALL_CHECK));
}

void CBootpWizardEndPage::ShowButtons(bool toInstall) {
  Sheet()->PostSetWizButtons(toInstall ? PSWIZB_BACK | PSWIZB_NEXT : PSWIZB_BACK | PSWIZB_FINISH);
  // The hint names the button that is there.
  Window().SetText(IDC_FINISH_HINT,
                   (toInstall ? std::string("Click Next to save a copy of Quillnet")
                              : std::string("Click Finish to exit")) +
                       ", or click Back to " + BackHint() + ".");
}

bool CBootpWizardEndPage::OffersInstall() const {
  return !m_pWizardInfo->IsInstalled() && Sheet()->IndexOfDialog(kInstallPageId) >= 0;
}

int CBootpWizardEndPage::OnSetActive() {
  const bool offerInstall = OffersInstall();
  // A box still ticked from an earlier visit keeps Next on offer.
  const bool toInstall = offerInstall && Window().GetCheck(IDC_INSTALL_CHECK);
  ShowButtons(toInstall);
  Sheet()->ShowCancelButton(false);
  Window().Show(IDC_INSTALL_CHECK, offerInstall);
  FillSummary();
  return 0;
}

int CBootpWizardEndPage::OnKillActive() {
  Sheet()->ShowCancelButton(true);
  if (!m_toInstall) m_pWizardInfo->SetStatusMessage("From Finish Page");
  m_toInstall = false;
  // What the last install came to was told here; a later end page tells of its own.
  m_pWizardInfo->SetInstallResult("");
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
    WaitCursor wait(Window());
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
    Window().MessageBox(Title(), text, BoxIcon::kWarning);
  }
  return ok ? 0 : 1;
}

std::string CBootpWizardEndPage::InstallResultLines() const {
  const std::string result = m_pWizardInfo->GetInstallResult();
  return result.empty() ? std::string() : "\r\n" + result + "\r\n";
}

std::string CBootpWizardEndPage::RecordLines() const {
  const std::string result = m_pWizardInfo->GetRecordResult();
  return result.empty() ? std::string() : "\r\n" + result + "\r\n";
}

std::string CBootpWizardEndPage::SettingsProblemLines() {
  std::string text;
  const std::vector<std::string> problems = m_pWizardInfo->GetSettingsProblems();
  for (const std::string& line : problems) text += "\r\n" + line + "\r\n";
  m_shownProblems = problems.size();
  return text;
}

CBootpWizardFailurePage::CBootpWizardFailurePage()
    : CBootpWizardEndPage("failurePage", kFailurePicture) {}

bool CBootpWizardFailurePage::OnInitDialog() {
  PageHost& window = Window();
  window.SetText(IDC_TITLE, "Cancelled");
  CBootpWizardEndPage::OnInitDialog();
  window.SetText(IDC_INTRO, "You did not complete an IP assignment.");
  window.SetText(IDC_FINISH_HINT, "Click Finish to exit, or click Back to start over.");
  window.SetCheck(IDC_INSTALL_CHECK, m_pWizardInfo->IsInstalled());
  return true;
}

void CBootpWizardFailurePage::FillSummary() {
  const std::string reason = m_pWizardInfo->GetStatusMessage();
  std::string error;
  StartFailure start;
  if (BootPServer* server = m_pWizardInfo->GetServer()) {
    server->GetMessageText(error);
    start = DiagnoseStart(*server);
  }
  std::string text = FormatFailureText(reason, error);
  // The server's text stands as it is; what it cannot know follows: who holds the port, and
  // what fixes a refusal.
  switch (start.kind) {
    case StartFailure::Kind::kPortInUse:
      if (!start.holders.empty()) text += "UDP port 67 is held by " + start.holders + ".\r\n";
      break;
    case StartFailure::Kind::kPortRefused:
      text += "UDP port 67 is refused to this program" +
              (start.holders.empty() ? std::string() : ", held by " + start.holders) + ".\r\n";
      break;
    case StartFailure::Kind::kNeedsHelper:
      // A bare code would leave the user who started a copy without the capability stuck.
      text += start.helperFailure.empty()
                  ? FormatCapabilityHint("This program", RunningProgramPath(), true, false)
                  : "This program may not listen on BOOTP port 67 itself, nor through " +
                        std::string(kNetHelperName) + ": " + start.helperFailure + "\r\n";
      break;
    case StartFailure::Kind::kNone:
    case StartFailure::Kind::kOther:
      break;
  }
  text += RecordLines();
  text += InstallResultLines();
  text += SettingsProblemLines();
  Window().SetRichText(IDC_SUMMARY, text, kBoldPrefixLength);
}

CBootpWizardCompletionPage::CBootpWizardCompletionPage()
    : CBootpWizardEndPage("completionPage", kCompletionPicture) {}

void CBootpWizardCompletionPage::FillSummary() {
  // The verdict comes first: whether the device answers at its new address, as the Assign IP
  // page found it, or why that is not known.
  const std::string verdict = m_pWizardInfo->GetVerdict();
  std::string text = verdict.empty() ? std::string() : verdict + "\r\n\r\n";
  text += FormatSuccessSummary(m_pWizardInfo->GetMacAddress(), m_pWizardInfo->GetIpAddress(),
                               m_pWizardInfo->GetSubnetMask(),
                               m_pWizardInfo->GetDefaultGateway());
  if (const std::string details = m_pWizardInfo->GetConfirmation(); !details.empty()) {
    text += "\r\n" + details + "\r\n";
  }
  text += RecordLines();
  text += InstallResultLines();
  text += SettingsProblemLines();
  Window().SetRichText(IDC_SUMMARY, text, CharacterCount(verdict));
}

std::string CBootpWizardCompletionPage::BackHint() const { return "assign another IP address"; }

std::string CBootpWizardFailurePage::BackHint() const { return "start over"; }

}  // namespace quillnet
