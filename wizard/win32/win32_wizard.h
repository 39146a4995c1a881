#pragma once

// The pages' headers come first: the system's headers define the wizard-button names as macros
// of the same values.
#include "pages/page_host.h"
#include "pages/wizard97.h"

#include <windows.h>

#include <commctrl.h>

// The page host's MessageBox, not the system's ANSI/wide switch.
#undef MessageBox

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quillnet {

class CBootpWizardInfo;
class Win32WizardSheet;

// Resources of the program besides the dialog templates.
inline constexpr int kWindowIconId = 134;
inline constexpr int kHeaderBitmapId = 1000;
inline constexpr wchar_t kPictureResourceType[] = L"JPEG";

// The sheet's own texts in the header band of interior pages: the page's header title and
// subtitle, which the frame draws itself so that a change shows at once on every system.
inline constexpr int kHeaderTitleId = 0x3200;
inline constexpr int kHeaderSubTitleId = 0x3201;

// Messages of the frame's own, to a page window.
// wParam: the host's generation, lParam: the number of a task handed to Post.
inline constexpr UINT kRunPostedMessage = WM_APP + 1;

// An owner-data list view's rows in the order the user sorted them by a column click; the
// order of `rows` until then. The selection is kept by row of `rows`, so that it stays on its
// device as rows are inserted above it or the order changes.
class SortedRows {
 public:
  void Attach(const ListRows* rows) { m_rows = rows; Reset(); }
  const ListRows* Rows() const { return m_rows; }
  // The row of `rows` shown at `viewIndex`.
  int RowAt(int viewIndex) const;
  // Where row `row` of `rows` is shown; -1 when it is not.
  int ViewIndexOf(int row) const;
  int Count() const { return m_count; }
  // The rows `first` to `first + count - 1` are new; rows from `first` on moved down.
  void Inserted(int first, int count);
  // The cells of `row` changed: it may move when the list is sorted by one of them.
  void Changed(int row, int firstColumn, int lastColumn);
  void Reset();
  // A click on `column`: sorts by it, ascending first, the other way on a second click.
  void SortBy(int column);
  int SortColumn() const { return m_sortColumn; }
  bool Ascending() const { return m_ascending; }
  // Sorted anew when a change may have moved a row; false when the order stood.
  bool Resort();
  // A change may have moved a row.
  bool NeedsResort() const { return m_dirty; }
  // A resort is queued behind the changes under way.
  bool resortQueued = false;

 private:
  bool Less(int left, int right) const;

  const ListRows* m_rows = nullptr;
  int m_count = 0;
  int m_sortColumn = -1;
  bool m_ascending = true;
  bool m_dirty = false;
  // View index → row, and back; empty while unsorted.
  std::vector<int> m_order;
  std::vector<int> m_position;
};

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
