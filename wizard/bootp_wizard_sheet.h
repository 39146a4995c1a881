#pragma once

#include <functional>
#include <memory>

#include "app/bootp_wizard_info.h"
#include "wizard/exterior_pages.h"
#include "wizard/wizard97.h"

namespace quillnet {

// The four interior pages, made by the library that holds them. A page left null is not
// added, and the wizard runs with the pages it has.
struct InteriorPages {
  std::unique_ptr<CWizard97PageImpl> listen;
  std::unique_ptr<CWizard97PageImpl> setIp;
  std::unique_ptr<CWizard97PageImpl> assignIp;
  std::unique_ptr<CWizard97PageImpl> install;
};
using InteriorPageMaker = std::function<InteriorPages()>;

// The wizard: Welcome, Listen, Set IP, Assign IP, Install, Failure, Completion, in this order.
// Cancel and Esc on the pages before Failure show the Failure page; on the two end pages they
// do nothing. Cancel never closes the wizard; the window's close command does.
class CBootpWizardSheet : public CWizard97SheetImpl, public CBootpWizardInfoRef {
 public:
  CBootpWizardSheet(CBootpWizardInfo* info, int startPage, QWidget* parent,
                    const InteriorPageMaker& makeInteriorPages = {});
  ~CBootpWizardSheet() override;

  CBootpWizardWelcomePage& WelcomePage() { return m_welcomePage; }
  CBootpWizardFailurePage& FailurePage() { return m_failurePage; }
  CBootpWizardCompletionPage& CompletionPage() { return m_completionPage; }

 protected:
  void OnCancelCommand() override;

 private:
  CBootpWizardWelcomePage m_welcomePage;
  std::unique_ptr<CWizard97PageImpl> m_listenPage;
  std::unique_ptr<CWizard97PageImpl> m_setIpPage;
  std::unique_ptr<CWizard97PageImpl> m_assignIpPage;
  std::unique_ptr<CWizard97PageImpl> m_installPage;
  CBootpWizardFailurePage m_failurePage;
  CBootpWizardCompletionPage m_completionPage;
};

// Builds the sheet for `info` (start page 0, no parent), shows it modally with the active
// window as its owner and returns the result.
int ShowBootpWizardSheet(CBootpWizardInfo& info);
// The same with interior pages.
int ShowBootpWizardSheetWith(CBootpWizardInfo& info, const InteriorPageMaker& makeInteriorPages);

}  // namespace quillnet
