#pragma once

#include <QFont>
#include <QTimer>
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

// The page on which the assignment happens: it remembers the addresses for the device, arms
// the server and waits, counting the seconds, until the server's worker has answered the
// device. A reply that went out leads to the Completion page; one that could not be sent
// through any interface leads to the Failure page. Leaving the page disarms the server.
class CAssignIPDlg : public CWizard97InteriorPageImpl, public CBootpWizardInfoRef {
 public:
  static constexpr int kTimerMs = 1000;

  CAssignIPDlg();

  bool OnInitDialog() override;
  int OnSetActive() override;
  int OnKillActive() override;
  int OnWizardNext() override;
  int OnWizardBack() override;

 private:
  void OnTimer();
  void ShowSummary();
  void ShowElapsed();
  void SetupSummaryFont();

  int m_wizButtons = 0;
  QFont m_summaryFont;
  QTextEdit* m_summaryEdit = nullptr;
  QLineEdit* m_elapsedEdit = nullptr;
  QTimer m_assignTimer;
  int m_elapsedSeconds = 0;
};

}  // namespace quillnet
