#include "wizard/bootp_wizard_sheet.h"

#include <QApplication>

#include "wizard/server_messages.h"

namespace quillnet {
namespace {

InteriorPages MakePages(const InteriorPageMaker& maker) {
  return maker ? maker() : InteriorPages{};
}

QString PageTitle() { return QString::fromLatin1(kWizardPageTitle); }

}  // namespace

CBootpWizardSheet::CBootpWizardSheet(CBootpWizardInfo* info, int startPage, QWidget* parent,
                                     const InteriorPageMaker& makeInteriorPages)
    : CWizard97SheetImpl(QStringLiteral("Test Wizard"), startPage, parent),
      m_welcomePage(PageTitle()),
      m_failurePage(PageTitle()),
      m_completionPage(PageTitle()) {
  m_pWizardInfo = info;
  // Failures of the reply step reach the user as message boxes.
  if (info != nullptr) info->SetServerErrorHandler(MessageBoxErrorHandler());
  InteriorPages interior = MakePages(makeInteriorPages);
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

// The pages are members: they go before the sheet's widgets, which no longer hold them then.
CBootpWizardSheet::~CBootpWizardSheet() = default;

void CBootpWizardSheet::OnCancelCommand() {
  const int count = GetPageCount();
  // Before the two end pages: show why the run ended. On them: nothing.
  if (GetCurrentIndex() < count - 2) SetCurSel(count - 2);
}

int ShowBootpWizardSheetWith(CBootpWizardInfo& info, const InteriorPageMaker& makeInteriorPages) {
  CBootpWizardSheet sheet(&info, 0, nullptr, makeInteriorPages);
  return sheet.DoModal(QApplication::activeWindow());
}

int ShowBootpWizardSheet(CBootpWizardInfo& info) { return ShowBootpWizardSheetWith(info, {}); }

}  // namespace quillnet
