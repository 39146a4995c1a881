#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "app/bootp_wizard_info.h"
#include "pages/wizard97.h"

namespace quillnet {

// The summary of what is being assigned: MAC address, IP address, subnet mask, gateway. Once
// the reply has gone out, `sent` makes it say so instead of "Attempting to assign".
std::string FormatAssignSummary(const std::string& mac, const std::string& ip,
                                const std::string& mask, const std::string& gateway,
                                bool sent = false);

class AssignmentSession;

// The page on which the assignment happens: it remembers the addresses for the device, arms
// the server and waits, counting the seconds, until the server's worker has answered the
// device. A device that asked a moment ago is answered at once.
//
// Every reply that went out ends the page within timing::kCheckWindow (the shared state's
// answer window): the page asks the network
// all that time whether the device answers at its new address, and goes to the Completion
// page as soon as it does. A device that asks again (the answer at once came too late for it,
// or it rebooted) is answered again and the window starts anew. A device that neither answers
// nor asks again within the window stopped asking because it took the reply, and the
// Completion page says that it has not answered yet. A reply that did not leave through the
// interface the device asked on leads to the Failure page. Leaving the page disarms the server.
//
// A DHCP device is offered the address and asks for it; only the ack ends the waiting, and it
// is the device's own word that it took the address, which the Completion page says before
// the check's result. A device that declines the address as in use, before its ack or while it
// is being checked, leads to the Failure page.
//
// When the user ticked "keep this address" on the Set IP page, a device that answers at its
// address is then told to keep it, and the page goes to the Completion page once the device has
// said whether it does (within the exchange's own limits, about 10 s for a port that does not
// open).
class CAssignIPDlg : public CWizard97InteriorPageImpl, public CBootpWizardInfoRef {
 public:
  static constexpr int kTimerId = 1;
  static constexpr int kTimerMs = 1000;
  // How often the page looks at the assignment.
  static constexpr int kWatchTimerId = 2;
  static constexpr int kWatchMs = 100;

  CAssignIPDlg();
  // A probe's result must not reach a page that is gone.
  ~CAssignIPDlg() override;

  bool OnInitDialog() override;
  int OnSetActive() override;
  int OnKillActive() override;
  int OnWizardNext() override;
  int OnWizardBack() override;
  void OnTimer(int timerId) override;

 private:
  void OnWatch();
  // Ends on the Completion page with `verdict` first in its summary and `why` after its
  // values.
  void Finish(const std::string& verdict, const std::string& why);
  // Ends the page on the page at `pageIndex`: the Completion page or the Failure page.
  void Leave(int pageIndex);
  void ShowTexts();
  void ShowSummary();
  void ShowElapsed();
  void StopTimers();
  void OnLinkEvent(bool down, const std::string& name, std::int64_t time);
  // What the Failure page says when the user leaves the page now.
  std::string LeaveText() const;

  int m_elapsedSeconds = 0;
  // The assignment under way, from activation until the page is left.
  std::unique_ptr<AssignmentSession> m_session;
  // Final answers shown (BOOTP replies or acks), and when the last one went out.
  int m_answersShown = 0;
  std::int64_t m_lastAnswerTime = 0;
  // The addresses could not be read: nothing was sent.
  bool m_unreadable = false;
  // The interface toward the device is down; and what became of it, for the end pages.
  bool m_linkDown = false;
  std::string m_linkName;
  std::string m_linkNote;
  // The page ended on its own, with this verdict.
  std::string m_verdict;
  // Confirmed, the device is being told to keep its address; the verdict waits for its word.
  bool m_keeping = false;
  std::string m_confirmedVerdict;
};

}  // namespace quillnet
