#pragma once

#include <QFont>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <string>

#include "app/bootp_wizard_info.h"
#include "wizard/wizard97.h"

class QLineEdit;
class QTextEdit;

namespace quillnet {

// Control ids of the Assign IP dialog.
inline constexpr int IDC_ATTEMPTING_TEXT = 1005;
inline constexpr int IDC_ASSIGN_SUMMARY = 1007;
inline constexpr int IDC_REBOOT_HINT = 1009;
inline constexpr int IDC_ELAPSED = 1217;

// The summary of what is being assigned: MAC address, IP address, subnet mask, gateway. Once
// the reply has gone out, `sent` makes it say so instead of "Attempting to assign".
std::string FormatAssignSummary(const std::string& mac, const std::string& ip,
                                const std::string& mask, const std::string& gateway,
                                bool sent = false);

struct ProbeResult;

// The page on which the assignment happens: it remembers the addresses for the device, arms
// the server and waits, counting the seconds, until the server's worker has answered the
// device. A device that asked a moment ago is answered at once.
//
// Every reply that went out ends the page within kAnswerWindowMs: the page asks the network
// all that time whether the device answers at its new address, and goes to the Completion
// page as soon as it does. A device that asks again after the answer at once did not take it;
// the server answers that request too and the window starts anew. A device that neither
// answers nor asks again within the window stopped asking because it took the reply, and the
// Completion page says that it has not answered yet. A reply that did not leave through the
// interface the device asked on leads to the Failure page. Leaving the page disarms the server.
//
// A DHCP device is offered the address and asks for it; only the ack ends the waiting, and it
// is the device's own word that it took the address, which the Completion page says before
// the check's result. A device that declines the address as in use, before its ack or while it
// is being checked, leads to the Failure page.
class CAssignIPDlg : public CWizard97InteriorPageImpl, public CBootpWizardInfoRef {
 public:
  static constexpr int kTimerMs = 1000;
  // How often the page looks at the server's answer.
  static constexpr int kWatchMs = 100;
  // How long after a reply the page waits for the device to answer at its address or to ask
  // again. A client that did not take the reply asks again within its retry interval: bootpc
  // waits 4, 8, 14, then 21 s between its tries, and ISC dhclient backs off to at most 15 s
  // randomised by up to half, so 22.5 s. 30 s covers both with room to spare, so a device
  // that has not asked again by then took the reply; and it still ends the page while the
  // user watches it.
  static constexpr int kAnswerWindowMs = 30000;
  // How often the device is asked, through the window, whether it answers.
  static constexpr int kConfirmIntervalMs = 500;

  CAssignIPDlg();
  // A probe's result must not reach a page that is gone.
  ~CAssignIPDlg() override;

  bool OnInitDialog() override;
  int OnSetActive() override;
  int OnKillActive() override;
  int OnWizardNext() override;
  int OnWizardBack() override;

 private:
  void OnTimer();
  void OnWatch();
  // kChecking: a reply went out and the page waits for the device's answer.
  enum class Phase { kWaiting, kChecking, kDone };
  // A reply went out: the answer at once (the server stays armed for the device's next
  // request) or the answer to its request.
  void StartChecking(bool early);
  void OnConfirmResult(std::uint64_t generation, const ProbeResult& result);
  void Finish(const std::string& confirmation);
  // Ends the page on the page at `pageIndex`: the Completion page or the Failure page.
  void Leave(int pageIndex);
  void ShowTexts(bool sent);
  std::chrono::milliseconds AnswerWindow() const;
  void ShowSummary(bool sent);
  void ShowElapsed();
  void SetupSummaryFont();

  int m_wizButtons = 0;
  QFont m_summaryFont;
  QTextEdit* m_summaryEdit = nullptr;
  QLineEdit* m_elapsedEdit = nullptr;
  QTimer m_assignTimer;
  QTimer m_watchTimer;
  int m_elapsedSeconds = 0;
  Phase m_phase = Phase::kWaiting;
  // The reply being checked is the answer at once; the server still waits for a request.
  bool m_early = false;
  std::chrono::steady_clock::time_point m_windowEnd;
  // Why the device cannot be asked; "" while it can.
  std::string m_cannotCheck;
  // What the Failure page says when the user leaves the page now.
  std::string m_leaveText;
  std::uint64_t m_probeGeneration = 0;
};

}  // namespace quillnet
