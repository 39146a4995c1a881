#pragma once

#include <QFont>
#include <QTimer>
#include <cstdint>
#include <string>

#include "app/bootp_wizard_info.h"
#include "wizard/wizard97.h"

class QLineEdit;
class QTextEdit;

namespace quillnet {

// Control ids of the Assign IP dialog.
inline constexpr int IDC_ASSIGN_SUMMARY = 1007;
inline constexpr int IDC_ELAPSED = 1217;

// The summary of what is being assigned: MAC address, IP address, subnet mask, gateway.
std::string FormatAssignSummary(const std::string& mac, const std::string& ip,
                                const std::string& mask, const std::string& gateway);

struct ProbeResult;

// The page on which the assignment happens: it remembers the addresses for the device, arms
// the server and waits, counting the seconds, until the server's worker has answered the
// device. A device that asked a moment ago is answered at once. After each reply the page
// asks the network whether the device answers at its new address: when it does, the
// assignment is done. A reply that went out leads to the Completion page, which says what the
// check found; one that could not be sent through any interface leads to the Failure page.
// Leaving the page disarms the server.
class CAssignIPDlg : public CWizard97InteriorPageImpl, public CBootpWizardInfoRef {
 public:
  static constexpr int kTimerMs = 1000;
  // How often the page looks at the server's answer.
  static constexpr int kWatchMs = 100;
  // How long, and how often, the device is asked whether it answers at its new address.
  static constexpr int kConfirmMs = 5000;
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
  // After the early reply (the server still armed) or after the server's own reply.
  enum class Phase { kWaiting, kConfirmingEarly, kConfirming, kDone };
  void StartConfirm(Phase phase);
  void OnConfirmResult(std::uint64_t generation, const ProbeResult& result);
  void Finish(const std::string& confirmation);
  void ShowSummary();
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
  // The early reply has been checked once; the next check follows the server's own reply.
  bool m_earlyChecked = false;
  std::uint64_t m_probeGeneration = 0;
};

}  // namespace quillnet
