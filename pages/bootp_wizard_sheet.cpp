#include "pages/bootp_wizard_sheet.h"

#include "pages/assign_ip_page.h"
#include "pages/install_page.h"
#include "pages/listen_page.h"
#include "pages/set_ip_page.h"

namespace quillnet {

InteriorPages MakeInteriorPages() {
  InteriorPages pages;
  pages.listen = std::make_unique<CListenDlg>();
  pages.setIp = std::make_unique<CSetIPDlg>();
  pages.assignIp = std::make_unique<CAssignIPDlg>();
  pages.install = std::make_unique<CInstallPage>();
  return pages;
}

CBootpWizardSheet::CBootpWizardSheet(CBootpWizardInfo* info, int startPage,
                                     const InteriorPageMaker& makeInteriorPages)
    : CWizard97SheetImpl("Test Wizard", startPage) {
  m_pWizardInfo = info;
  InteriorPages interior = makeInteriorPages ? makeInteriorPages() : InteriorPages{};
  m_listenPage = std::move(interior.listen);
  m_setIpPage = std::move(interior.setIp);
  m_assignIpPage = std::move(interior.assignIp);
  m_installPage = std::move(interior.install);
  CWizard97PageImpl* pages[] = {&m_welcomePage,       m_listenPage.get(), m_setIpPage.get(),
                                m_assignIpPage.get(), m_installPage.get(), &m_failurePage,
                                &m_completionPage};
  for (CWizard97PageImpl* page : pages) {
    if (auto* ref = dynamic_cast<CBootpWizardInfoRef*>(page)) ref->m_pWizardInfo = info;
  }
  for (CWizard97PageImpl* page : pages) AddPage(page);
}

CBootpWizardSheet::~CBootpWizardSheet() = default;

void CBootpWizardSheet::OnCancelCommand() {
  const int count = GetPageCount();
  // Before the two end pages: show why the run ended. On them: nothing.
  if (GetCurrentIndex() < count - 2) SetCurSel(count - 2);
}

}  // namespace quillnet
