#pragma once

// The pages' headers come first: the system's headers define the wizard-button names as macros
// of the same values.
#include "pages/page_host.h"
#include "pages/wizard97.h"

#include <windows.h>

#include <commctrl.h>

// The page host's MessageBox, not the system's ANSI/wide switch.
#undef MessageBox

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "wizard/win32/sorted_rows.h"

namespace quillnet {

class Win32WizardSheet;

// Messages of the frame's own, to a page window.
// wParam: the host's generation, lParam: the number of a task handed to Post.
inline constexpr UINT kRunPostedMessage = WM_APP + 1;

// A page's window in the Win32 frame: the property sheet's page made from the dialog template,
// and the host the page's logic works through. Texts are UTF-8 here and UTF-16 at the calls.
class Win32PageWindow final : public PageHost {
 public:
  Win32PageWindow(CWizard97PageImpl& page, Win32WizardSheet& sheet, int index);
  ~Win32PageWindow() override;
  Win32PageWindow(const Win32PageWindow&) = delete;
  Win32PageWindow& operator=(const Win32PageWindow&) = delete;

  CWizard97PageImpl& Page() const { return m_page; }
  HWND Handle() const { return m_hwnd; }
  int Index() const { return m_index; }
  // Gives the page its host, once its window exists.
  void Attach();
  // The descriptor the sheet makes the page from.
  PROPSHEETPAGEW Descriptor();
  // The generation messages posted to this window carry.
  std::uint64_t Generation() const { return m_generation; }

  // PageHost.
  void SetText(int id, const std::string& text) override;
  std::string GetText(int id) const override;
  void Show(int id, bool shown) override;
  void SetCheck(int id, bool checked) override;
  bool GetCheck(int id) const override;
  void SetFocus(int id) override;
  void SetAddress(int id, const IpEntry& address) override;
  IpEntry GetAddress(int id) const override;
  void SetFont(int id, FontRole role) override;
  void SetRichText(int id, const std::string& text, int boldCharacters) override;
  void SetOnPicture(int id) override;
  bool ShowPicture(int pictureId) override;
  void SetListRows(int id, const ListRows* rows) override;
  void ListRowsInserted(int id, int first, int count) override;
  void ListRowChanged(int id, int row, int firstColumn, int lastColumn) override;
  void ListReset(int id) override;
  int ListSelectedRow(int id) const override;
  void Post(std::function<void()> task) override;
  void StartTimer(int timerId, int milliseconds) override;
  void StopTimer(int timerId) override;
  void MessageBox(const std::string& title, const std::string& text, BoxIcon icon) override;
  std::optional<std::string> ChooseFolder(const std::string& title,
                                          const std::string& start) override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;

 private:
  static LRESULT CALLBACK ColourProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR data);
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // The answer to a WM_NOTIFY; false when the notification is not the page's.
  bool OnNotify(const NMHDR& header, LRESULT& result);
  bool OnListNotify(int id, const NMHDR& header, LRESULT& result);
  void OnCreated(HWND hwnd);
  void FitOneLineTexts();
  // Each part of the page's IP address entries takes three digits in the page's font.
  void FitAddressFields();
  // Dialog units of this page in pixels, horizontally and vertically.
  int DialogX(int units) const;
  int DialogY(int units) const;
  // Tab stops that put the last part of every line with a label under one another.
  void AlignTabStops(HWND control, const std::wstring& text);
  void OnDestroyed();
  void RunPosted(WPARAM generation, LPARAM number);
  HBRUSH ControlColor(HDC dc, HWND control);

  CWizard97PageImpl& m_page;
  Win32WizardSheet& m_sheet;
  int m_index;
  HWND m_hwnd = nullptr;
  std::uint64_t m_generation;
  std::wstring m_title;
  // While the frame writes a control itself, what the control tells is not the user's.
  int m_writing = 0;
  // The control that sits on the Welcome picture's dark panel.
  std::vector<int> m_onPicture;
  HWND m_pictureControl = nullptr;
  HBITMAP m_picture = nullptr;
  HBRUSH m_pictureBrush = nullptr;
  std::map<int, SortedRows> m_lists;
  std::wstring m_cellText;
  int m_waitCursors = 0;
  HCURSOR m_cursorBefore = nullptr;

  // Tasks handed over by Post, from any thread, until the window runs them or goes.
  std::mutex m_postedMutex;
  std::map<std::uint64_t, std::function<void()>> m_posted;
  std::uint64_t m_nextPosted = 0;
  HWND m_postTarget = nullptr;
};

}  // namespace quillnet
