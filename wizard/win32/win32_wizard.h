#pragma once

// The pages' headers come first: the system's headers define the wizard-button names as macros
// of the same values.
#include "pages/page_host.h"
#include "pages/wizard97.h"

#include <windows.h>

#include <commctrl.h>

// The page host's MessageBox, not the system's ANSI/wide switch.
#undef MessageBox

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "wizard/win32/win32_page_window.h"

namespace quillnet {

class CBootpWizardInfo;

// Resources of the program besides the dialog templates.
inline constexpr int kWindowIconId = 134;
inline constexpr int kHeaderBitmapId = 1000;
inline constexpr wchar_t kPictureResourceType[] = L"JPEG";

// The sheet's own texts in the header band of interior pages: the page's header title and
// subtitle, which the frame draws itself so that a change shows at once on every system.
inline constexpr int kHeaderTitleId = 0x3200;
inline constexpr int kHeaderSubTitleId = 0x3201;

// The Wizard97 property sheet: what it does on each button is the sheet's
// (CWizard97SheetImpl); this shows it with PropertySheetW. The sheet's own moves are
// answered by letting the flow decide and selecting the page it names itself; the
// notifications of that selection are the frame's, not the pages'.
class Win32WizardSheet final : public SheetWindow {
 public:
  explicit Win32WizardSheet(CWizard97SheetImpl& sheet);
  ~Win32WizardSheet() override;
  Win32WizardSheet(const Win32WizardSheet&) = delete;
  Win32WizardSheet& operator=(const Win32WizardSheet&) = delete;

  CWizard97SheetImpl& Sheet() const { return m_sheet; }
  // Shows the sheet modally from the start page; 1 after Finish, 0 after the window's close
  // command, -1 when the sheet cannot be made.
  int DoModal(HWND owner);
  HWND Handle() const { return m_hwnd; }
  Win32PageWindow* PageWindow(int index) const;
  bool Closing() const { return m_closing; }
  HFONT Font(FontRole role);

  // SheetWindow.
  bool CreatePage(int index) override;
  void ShowPage(int index) override;
  void ApplyButtons(int buttons) override;
  void UpdateHeader(int index) override;
  void ShowCancelButton(bool shown) override;
  void FocusPage(int index) override;
  void Queue(std::function<void()> task) override;
  void Close(int result) override;

  // What a page's notification of the sheet's buttons comes to.
  LRESULT OnWizardButton(UINT code);

 private:
  static int CALLBACK SheetCallback(HWND hwnd, UINT message, LPARAM lParam);
  static LRESULT CALLBACK SheetProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnSheetMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitialized(HWND hwnd);
  void Select(int index);
  // Places the header texts in the band above page `index`, or hides them for an exterior page.
  void LayoutHeader(int index);

  CWizard97SheetImpl& m_sheet;
  std::vector<std::unique_ptr<Win32PageWindow>> m_windows;
  HWND m_hwnd = nullptr;
  WNDPROC m_sheetProc = nullptr;
  bool m_closing = false;
  int m_result = 0;
  bool m_iconsSet = false;
  HBITMAP m_header = nullptr;
  HFONT m_titleFont = nullptr;
  HFONT m_bulletFont = nullptr;
  HFONT m_summaryFont = nullptr;
  HFONT m_headerTitleFont = nullptr;
  HWND m_headerTitle = nullptr;
  HWND m_headerSubTitle = nullptr;
  std::vector<std::function<void()>> m_queue;
  std::wstring m_caption;
};

// Builds the wizard's sheet for `info` (start page 0), shows it modally with the active
// window as its owner and returns the result.
int ShowBootpWizardSheet(CBootpWizardInfo& info);

// Starts what the frame needs of the system (COM, the common controls, the rich-edit
// library) for as long as the handle lives.
std::shared_ptr<void> StartWin32WizardLibraries();

}  // namespace quillnet
