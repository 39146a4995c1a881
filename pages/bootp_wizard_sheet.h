#pragma once

#include <functional>
#include <memory>

#include "app/bootp_wizard_info.h"
#include "pages/exterior_pages.h"
#include "pages/wizard97.h"

namespace quillnet {

// The four interior pages. A page left null is not added, and the wizard runs with the pages
// it has.
struct InteriorPages {
  std::unique_ptr<CWizard97PageImpl> listen;
  std::unique_ptr<CWizard97PageImpl> setIp;
  std::unique_ptr<CWizard97PageImpl> assignIp;
  std::unique_ptr<CWizard97PageImpl> install;
};
using InteriorPageMaker = std::function<InteriorPages()>;

// The wizard's Listen, Set IP, Assign IP and Install pages.
InteriorPages MakeInteriorPages();

// The wizard: Welcome, Listen, Set IP, Assign IP, Install, Failure, Completion, in this order.
// Cancel and Esc on the pages before Failure show the Failure page; on the two end pages they
// do nothing. Cancel never closes the wizard; the window's close command does.
class CBootpWizardSheet : public CWizard97SheetImpl, public CBootpWizardInfoRef {
 public:
  // The interior pages come from `makeInteriorPages`, by default the wizard's own.
  CBootpWizardSheet(CBootpWizardInfo* info, int startPage,
                    const InteriorPageMaker& makeInteriorPages = MakeInteriorPages);
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

}  // namespace quillnet
