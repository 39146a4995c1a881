#include "pages/wizard97.h"

#include <utility>

namespace quillnet {

// ---- pages ---------------------------------------------------------------------------------

CWizard97PageImpl::CWizard97PageImpl(int dialogId, std::string name, std::string title,
                                     bool hidesHeader)
    : m_dialogId(dialogId),
      m_name(std::move(name)),
      m_title(std::move(title)),
      m_hidesHeader(hidesHeader) {}

CWizard97PageImpl::~CWizard97PageImpl() = default;

void CWizard97PageImpl::Command(int id, ControlEvent event) {
  if (m_filling > 0 || m_finished) return;
  // A control of a page already left speaks too late: an IP address entry tells of its change
  // as it loses the focus, after Enter has moved to the next page. That page's buttons are not
  // this page's to set.
  if (m_sheet != nullptr && m_sheet->GetPage(m_sheet->GetCurrentIndex()) != this) return;
  OnCommand(id, event);
}

int CWizard97PageImpl::Finish() {
  const int result = OnWizardFinish();
  // The wizard closes: what its controls tell from here on (a Win32 IP address control tells
  // once more as its window goes) is nobody's input, on any page.
  if (result == 0 && m_sheet != nullptr) {
    for (int index = 0; index < m_sheet->GetPageCount(); ++index) {
      m_sheet->GetPage(index)->m_finished = true;
    }
  }
  if (result == 0) m_finished = true;
  return result;
}

CWizard97ExteriorPageImpl::CWizard97ExteriorPageImpl(int dialogId, std::string name,
                                                     std::string title)
    : CWizard97PageImpl(dialogId, std::move(name), std::move(title), true) {}

CWizard97InteriorPageImpl::CWizard97InteriorPageImpl(int dialogId, std::string name,
                                                     std::string title)
    : CWizard97PageImpl(dialogId, std::move(name), std::move(title), false) {
  SetHeaderTitleText("Call SetHeaderTitle in Derived Class");
  SetHeaderSubTitleText("Call SetHeaderSubTitle in the constructor of the Derived Class.");
}

void CWizard97InteriorPageImpl::SetHeaderTitle(std::string text) {
  SetHeaderTitleText(std::move(text));
  if (Sheet() != nullptr) Sheet()->HeaderChanged(*this);
}

void CWizard97InteriorPageImpl::SetHeaderSubTitle(std::string text) {
  SetHeaderSubTitleText(std::move(text));
  if (Sheet() != nullptr) Sheet()->HeaderChanged(*this);
}

// ---- sheet ---------------------------------------------------------------------------------

CWizard97SheetImpl::CWizard97SheetImpl(std::string caption, int startPage)
    : m_caption(std::move(caption)), m_startPage(startPage) {}

CWizard97SheetImpl::~CWizard97SheetImpl() = default;

bool CWizard97SheetImpl::AddPage(CWizard97PageImpl* page) {
  if (page == nullptr || page->m_sheet != nullptr) return false;
  page->m_sheet = this;
  m_pages.push_back(page);
  return true;
}

CWizard97PageImpl* CWizard97SheetImpl::GetPage(int index) const {
  return index >= 0 && index < GetPageCount() ? m_pages[static_cast<std::size_t>(index)] : nullptr;
}

int CWizard97SheetImpl::IndexOfDialog(int dialogId) const {
  for (int index = 0; index < GetPageCount(); ++index) {
    if (m_pages[static_cast<std::size_t>(index)]->DialogId() == dialogId) return index;
  }
  return -1;
}

bool CWizard97SheetImpl::Start() {
  if (m_pages.empty() || m_window == nullptr) return false;
  if (m_current >= 0) return true;
  ApplyWizButtons(0);
  return SetCurSel(m_startPage >= 0 && m_startPage < GetPageCount() ? m_startPage : 0);
}

void CWizard97SheetImpl::PostSetWizButtons(int buttons) {
  if (m_window == nullptr || buttons == m_requestedButtons) return;
  m_requestedButtons = buttons;
  m_window->Queue([this, buttons] { ApplyWizButtons(buttons); });
}

void CWizard97SheetImpl::ApplyWizButtons(int buttons) {
  m_wizButtons = buttons;
  if (m_window != nullptr) m_window->ApplyButtons(buttons);
}

bool CWizard97SheetImpl::SetCurSel(int index) {
  CWizard97PageImpl* next = GetPage(index);
  if (next == nullptr || m_window == nullptr) return false;
  if (CWizard97PageImpl* current = GetPage(m_current)) {
    if (current->OnKillActive() != 0) return false;
  }
  if (next->Host() == nullptr) {
    if (!m_window->CreatePage(index)) return false;
    next->OnInitDialog();
  }
  m_current = index;
  m_window->ShowPage(index);
  next->OnSetActive();
  // After the buttons the page has just asked for, which are queued too.
  m_window->Queue([this, index] {
    if (m_current == index && m_window != nullptr) m_window->FocusPage(index);
  });
  return true;
}

void CWizard97SheetImpl::HeaderChanged(const CWizard97PageImpl& page) {
  if (m_window != nullptr && &page == GetPage(m_current) && !page.HidesHeader()) {
    m_window->UpdateHeader(m_current);
  }
}

void CWizard97SheetImpl::ShowCancelButton(bool shown) {
  if (m_window != nullptr) m_window->ShowCancelButton(shown);
}

void CWizard97SheetImpl::PressBack() {
  CWizard97PageImpl* page = GetPage(m_current);
  if (page == nullptr || (m_wizButtons & PSWIZB_BACK) == 0) return;
  const int result = page->OnWizardBack();
  if (result == -1) return;
  SetCurSel(result == 0 ? m_current - 1 : IndexOfDialog(result));
}

void CWizard97SheetImpl::PressNext() {
  CWizard97PageImpl* page = GetPage(m_current);
  if (page == nullptr || (m_wizButtons & PSWIZB_FINISH) != 0 ||
      (m_wizButtons & PSWIZB_NEXT) == 0) {
    return;
  }
  const int result = page->OnWizardNext();
  if (result == -1) return;
  SetCurSel(result == 0 ? m_current + 1 : IndexOfDialog(result));
}

void CWizard97SheetImpl::PressFinish() {
  CWizard97PageImpl* page = GetPage(m_current);
  if (page == nullptr || (m_wizButtons & PSWIZB_FINISH) == 0) return;
  if (page->Finish() == 0 && m_window != nullptr) m_window->Close(1);
}

bool CWizard97SheetImpl::Close() {
  if (CWizard97PageImpl* page = GetPage(m_current)) {
    if (page->OnQueryCancel() != 0) return false;
    for (CWizard97PageImpl* each : m_pages) {
      if (each->Host() != nullptr) each->OnReset();
    }
  }
  if (m_window != nullptr) m_window->Close(0);
  return true;
}

void CWizard97SheetImpl::OnCancelCommand() { Close(); }

}  // namespace quillnet
