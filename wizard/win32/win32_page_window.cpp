#include "wizard/win32/win32_page_window.h"

#include <objbase.h>
#include <richedit.h>
#include <shlobj.h>
#include <windowsx.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <utility>

#include "platform/windows/wide_text.h"
#include "wizard/win32/frame_support.h"
#include "wizard/win32/wic_picture.h"
#include "wizard/win32/win32_wizard.h"

namespace quillnet {
namespace {

constexpr wchar_t kPictureWindowText[] = L"Welcome Screen Splash Image";
// The texts on the Welcome picture's dark panel.
constexpr COLORREF kOnPanel = RGB(0xF2, 0xF6, 0xFA);
// A tab stop every this many average characters of the summary font.
constexpr int kTabCharacters = 4;
constexpr int kTwipsPerInch = 1440;
// The pictures are drawn for a page in 8-point "MS Shell Dlg" at 96 DPI, whose dialog base
// units are 6 by 13 pixels: they are shown at the share of the page they have there.
constexpr int kPictureBaseX = 6;
constexpr int kPictureBaseY = 13;
// An IP address entry's part holds this many digits.
constexpr int kAddressDigits = 3;
constexpr int kAddressParts = 4;
constexpr UINT_PTR kAddressFieldSubclass = 1;
// What Ctrl+V types (TranslateMessage's character for it).
constexpr wchar_t kPasteCharacter = 0x16;

// Every host gets a generation of its own, so that a task posted to a window handle that a
// later window reuses is not run there.
std::atomic<std::uint64_t> g_nextGeneration{1};

// The system's wait cursor (IDC_WAIT, whose macro names the ANSI form).
HCURSOR WaitCursorHandle() { return ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)); }

bool IsClass(HWND window, const wchar_t* name) {
  wchar_t text[64] = {};
  ::GetClassNameW(window, text, 64);
  return ::lstrcmpiW(text, name) == 0;
}

// The four fields of an IP address control, left to right.
std::vector<HWND> AddressFields(HWND control) {
  std::vector<HWND> fields;
  for (HWND child = ::GetWindow(control, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    fields.push_back(child);
  }
  std::sort(fields.begin(), fields.end(), [](HWND left, HWND right) {
    RECT a{};
    RECT b{};
    ::GetWindowRect(left, &a);
    ::GetWindowRect(right, &b);
    return a.left < b.left;
  });
  return fields;
}

// The text on the clipboard; "" when there is none.
std::wstring ClipboardText(HWND owner) {
  std::wstring text;
  if (!::OpenClipboard(owner)) return text;
  if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(::GlobalLock(data))) {
      text = chars;
      ::GlobalUnlock(data);
    }
  }
  ::CloseClipboard();
  return text;
}

std::wstring Trimmed(const std::wstring& text) {
  const std::size_t first = text.find_first_not_of(L" \t\r\n");
  if (first == std::wstring::npos) return {};
  return text.substr(first, text.find_last_not_of(L" \t\r\n") - first + 1);
}

// Pasting into a part of an IP address entry, as Windows' own entry takes it: a dotted address
// fills the parts from the first; a number goes into the part, in place of its selection.
// Anything else changes nothing.
void PasteIntoAddressField(HWND field) {
  HWND control = ::GetParent(field);
  const std::vector<HWND> fields = AddressFields(control);
  const auto at = std::find(fields.begin(), fields.end(), field);
  if (at == fields.end()) return;
  const std::wstring text = Trimmed(ClipboardText(field));
  if (text.empty() || text.find_first_not_of(L"0123456789.") != std::wstring::npos) return;
  if (text.find(L'.') != std::wstring::npos) {
    if (std::count(text.begin(), text.end(), L'.') >= kAddressParts) return;
    const IpEntry address = IpEntry::FromText(Utf8Text(text));
    HWND last = fields.front();
    for (std::size_t index = 0; index < fields.size() && index < address.parts.size(); ++index) {
      const auto& part = address.parts[index];
      ::SetWindowTextW(fields[index], part ? std::to_wstring(*part).c_str() : L"");
      if (part) last = fields[index];
    }
    ::SetFocus(last);
    ::SendMessageW(last, EM_SETSEL, ::GetWindowTextLengthW(last), ::GetWindowTextLengthW(last));
    return;
  }
  DWORD start = 0;
  DWORD end = 0;
  ::SendMessageW(field, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  std::wstring part = WindowText(field);
  part.replace(std::min<std::size_t>(start, part.size()), end - std::min(start, end), text);
  if (part.size() > static_cast<std::size_t>(kAddressDigits)) return;
  const std::wstring value = std::to_wstring(std::min(std::stoi(part), 255));
  ::SetWindowTextW(field, value.c_str());
  ::SendMessageW(field, EM_SETSEL, value.size(), value.size());
}

// Ahead of the entry's own handling of a part's keys: paste, and '.' over a selection, which
// moves on to the next part as on Windows.
LRESULT CALLBACK AddressFieldProc(HWND field, UINT message, WPARAM wParam, LPARAM lParam,
                                  UINT_PTR /*id*/, DWORD_PTR /*data*/) {
  switch (message) {
    case WM_CHAR:
      if (wParam == kPasteCharacter) {
        PasteIntoAddressField(field);
        return 0;
      }
      if (wParam == L'.' || wParam == L' ') {
        DWORD start = 0;
        DWORD end = 0;
        ::SendMessageW(field, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        const std::vector<HWND> fields = AddressFields(::GetParent(field));
        const auto at = std::find(fields.begin(), fields.end(), field);
        if (start != end && ::GetWindowTextLengthW(field) > 0 && at != fields.end() &&
            at + 1 != fields.end()) {
          ::SetFocus(*(at + 1));
          ::SendMessageW(*(at + 1), EM_SETSEL, 0, -1);
          return 0;
        }
      }
      break;
    case WM_PASTE:
      PasteIntoAddressField(field);
      return 0;
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(field, &AddressFieldProc, kAddressFieldSubclass);
      break;
    default:
      break;
  }
  return ::DefSubclassProc(field, message, wParam, lParam);
}

// A list's focused row, selected: a keyboard user's row is the selected one, as in Windows'
// lists. Without a focused row, the first.
void SelectFocusedRow(HWND list) {
  if (ListView_GetItemCount(list) == 0) return;
  int focused = ListView_GetNextItem(list, -1, LVNI_FOCUSED);
  if (focused < 0) focused = 0;
  if (ListView_GetNextItem(list, -1, LVNI_SELECTED) == focused) return;
  ListView_SetItemState(list, focused, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  ListView_EnsureVisible(list, focused, FALSE);
}

}  // namespace

Win32PageWindow::Win32PageWindow(CWizard97PageImpl& page, Win32WizardSheet& sheet, int index)
    : m_page(page),
      m_sheet(sheet),
      m_index(index),
      m_generation(g_nextGeneration++),
      m_title(WideText(page.Title())) {}

Win32PageWindow::~Win32PageWindow() {
  if (m_page.Host() == this) m_page.AttachHost(nullptr);
  std::lock_guard lock(m_postedMutex);
  m_posted.clear();
  m_postTarget = nullptr;
  if (m_pictureBrush != nullptr) ::DeleteObject(m_pictureBrush);
  if (m_picture != nullptr) ::DeleteObject(m_picture);
}

PROPSHEETPAGEW Win32PageWindow::Descriptor() {
  PROPSHEETPAGEW page{};
  page.dwSize = sizeof page;
  page.dwFlags = PSP_USETITLE;
  // An interior page's header band is the sheet's; its texts are the frame's (LayoutHeader).
  if (m_page.HidesHeader()) page.dwFlags |= PSP_HIDEHEADER;
  page.hInstance = Module();
  page.pszTemplate = MAKEINTRESOURCEW(m_page.DialogId());
  page.pszTitle = m_title.c_str();
  page.pfnDlgProc = &Win32PageWindow::DialogProc;
  page.lParam = reinterpret_cast<LPARAM>(this);
  return page;
}

INT_PTR CALLBACK Win32PageWindow::DialogProc(HWND hwnd, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
  auto* window = reinterpret_cast<Win32PageWindow*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  if (message == WM_INITDIALOG) {
    window = reinterpret_cast<Win32PageWindow*>(reinterpret_cast<PROPSHEETPAGEW*>(lParam)->lParam);
    ::SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(window));
    window->OnCreated(hwnd);
    return TRUE;
  }
  if (window == nullptr) return FALSE;
  if (message == WM_NCDESTROY) {
    window->OnDestroyed();
    ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    return FALSE;
  }
  return window->OnMessage(message, wParam, lParam);
}

void Win32PageWindow::OnCreated(HWND hwnd) {
  m_hwnd = hwnd;
  {
    std::lock_guard lock(m_postedMutex);
    m_postTarget = hwnd;
  }
  FitOneLineTexts();
  FitAddressFields();
}

int Win32PageWindow::DialogX(int units) const {
  RECT rect{0, 0, units, 0};
  ::MapDialogRect(m_hwnd, &rect);
  return rect.right;
}

int Win32PageWindow::DialogY(int units) const {
  RECT rect{0, 0, 0, units};
  ::MapDialogRect(m_hwnd, &rect);
  return rect.bottom;
}

void Win32PageWindow::FitAddressFields() {
  HFONT font = reinterpret_cast<HFONT>(::SendMessageW(m_hwnd, WM_GETFONT, 0, 0));
  HDC dc = ::GetDC(m_hwnd);
  HGDIOBJ before = ::SelectObject(dc, font);
  int widestDigit = 0;
  for (wchar_t digit = L'0'; digit <= L'9'; ++digit) {
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, &digit, 1, &extent);
    widestDigit = std::max(widestDigit, static_cast<int>(extent.cx));
  }
  SIZE dot{};
  ::GetTextExtentPoint32W(dc, L".", 1, &dot);
  ::SelectObject(dc, before);
  ::ReleaseDC(m_hwnd, dc);
  // The caret after the last digit needs its pixel too.
  const int digitsWidth = kAddressDigits * widestDigit + 2;
  for (HWND control = ::GetWindow(m_hwnd, GW_CHILD); control != nullptr;
       control = ::GetWindow(control, GW_HWNDNEXT)) {
    if (!IsClass(control, WC_IPADDRESSW)) continue;
    const std::vector<HWND> fields = AddressFields(control);
    if (fields.size() != static_cast<std::size_t>(kAddressParts)) continue;
    for (HWND field : fields) ::SetWindowSubclass(field, &AddressFieldProc, kAddressFieldSubclass, 0);
    // A part is an edit that refuses a digit it has no room for, and moves on to the next
    // part: Wine's entry makes its parts a quarter of its width in a font of its own, too narrow
    // for three digits. Where they are, the parts get the page's font and the room they need.
    bool fits = true;
    for (HWND field : fields) {
      RECT client{};
      ::GetClientRect(field, &client);
      const DWORD margins = static_cast<DWORD>(::SendMessageW(field, EM_GETMARGINS, 0, 0));
      fits = fits && client.right - LOWORD(margins) - HIWORD(margins) >= digitsWidth;
    }
    if (fits) continue;
    RECT whole{};
    ::GetClientRect(control, &whole);
    RECT first{};
    ::GetWindowRect(fields.front(), &first);
    ::MapWindowPoints(nullptr, control, reinterpret_cast<POINT*>(&first), 2);
    const int edge = ::GetSystemMetrics(SM_CXEDGE);
    const int gap = dot.cx + 2;
    const int needed = 2 * edge + kAddressParts * digitsWidth + (kAddressParts - 1) * gap;
    if (whole.right < needed) {
      RECT place{};
      ::GetWindowRect(control, &place);
      ::SetWindowPos(control, nullptr, 0, 0, needed + (place.right - place.left) - whole.right,
                     place.bottom - place.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      whole.right = needed;
    }
    const int fieldWidth = (whole.right - 2 * edge - (kAddressParts - 1) * gap) / kAddressParts;
    for (int index = 0; index < kAddressParts; ++index) {
      HWND field = fields[static_cast<std::size_t>(index)];
      ::SendMessageW(field, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
      ::SendMessageW(field, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
      ::SetWindowPos(field, nullptr, edge + index * (fieldWidth + gap), first.top, fieldWidth,
                     first.bottom - first.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ::InvalidateRect(control, nullptr, TRUE);
  }
}

void Win32PageWindow::Attach() {
  if (m_hwnd == nullptr) return;
  // The sheet answers its exterior pages' control colours itself (white, beside a
  // watermark), ahead of the page's dialog procedure; the texts on the picture are the
  // frame's to colour, so it listens ahead of the sheet.
  if (m_page.HidesHeader()) {
    ::SetWindowSubclass(m_hwnd, &Win32PageWindow::ColourProc, 0, reinterpret_cast<DWORD_PTR>(this));
  }
  m_page.AttachHost(this);
}

LRESULT CALLBACK Win32PageWindow::ColourProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                             UINT_PTR /*id*/, DWORD_PTR data) {
  auto* window = reinterpret_cast<Win32PageWindow*>(data);
  if (message == WM_CTLCOLORSTATIC) {
    if (HBRUSH brush = window->ControlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam))) {
      return reinterpret_cast<LRESULT>(brush);
    }
  } else if (message == WM_NCDESTROY) {
    ::RemoveWindowSubclass(hwnd, &Win32PageWindow::ColourProc, 0);
  }
  return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

void Win32PageWindow::FitOneLineTexts() {
  // A static of one line keeps its text on that line, where this system's dialog font runs
  // wider than the template's; the text would otherwise wrap out of sight.
  HDC dc = ::GetDC(m_hwnd);
  for (HWND child = ::GetWindow(m_hwnd, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (!IsClass(child, WC_STATICW)) continue;
    const std::wstring text = WindowText(child);
    HGDIOBJ before = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(child, WM_GETFONT, 0, 0)));
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    ::SelectObject(dc, before);
    RECT rect{};
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, m_hwnd, reinterpret_cast<POINT*>(&rect), 2);
    const int width = rect.right - rect.left;
    if (extent.cy * 2 > rect.bottom - rect.top && extent.cx > width) {
      ::SetWindowPos(child, nullptr, 0, 0, extent.cx + 1, rect.bottom - rect.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  ::ReleaseDC(m_hwnd, dc);
}

void Win32PageWindow::OnDestroyed() {
  {
    std::lock_guard lock(m_postedMutex);
    m_postTarget = nullptr;
    m_posted.clear();
  }
  if (m_page.Host() == this) m_page.AttachHost(nullptr);
  m_hwnd = nullptr;
}

INT_PTR Win32PageWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (!OnNotify(*reinterpret_cast<const NMHDR*>(lParam), result)) return FALSE;
      ::SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, result);
      return TRUE;
    }
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      HWND control = reinterpret_cast<HWND>(lParam);
      // The frame's own writes, and what the controls tell as the sheet closes (a field that
      // loses the focus), are not the user's.
      if (m_writing > 0 || control == nullptr || m_sheet.Closing()) return FALSE;
      if (code == BN_CLICKED && IsClass(control, WC_BUTTONW)) {
        m_page.Command(id, ControlEvent::kClicked);
        return TRUE;
      }
      // The IP address control passes its fields' changes on as EN_CHANGE: the pages check
      // the addresses as they are typed.
      if (code == EN_CHANGE && IsClass(control, WC_IPADDRESSW)) {
        m_page.Command(id, ControlEvent::kFieldChanged);
        return TRUE;
      }
      return FALSE;
    }
    case WM_TIMER:
      m_page.OnTimer(static_cast<int>(wParam));
      return TRUE;
    case WM_SIZE:
      // Before the page has been shown, its controls are not filled yet.
      if (m_page.Host() == this && ::IsWindowVisible(m_hwnd)) m_page.OnSize();
      return FALSE;
    case kRunPostedMessage:
      RunPosted(wParam, lParam);
      return TRUE;
    case WM_SETCURSOR:
      if (m_waitCursors > 0) {
        ::SetCursor(WaitCursorHandle());
        ::SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

HBRUSH Win32PageWindow::ControlColor(HDC dc, HWND control) {
  if (!m_page.HidesHeader()) return nullptr;
  const int id = ::GetDlgCtrlID(control);
  const bool onPicture = std::find(m_onPicture.begin(), m_onPicture.end(), id) != m_onPicture.end();
  if (!onPicture || m_picture == nullptr) return nullptr;
  {
    // The picture itself is the control's background, lined up with where the control sits.
    if (m_pictureBrush == nullptr) m_pictureBrush = ::CreatePatternBrush(m_picture);
    RECT rect{};
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, m_hwnd, reinterpret_cast<POINT*>(&rect), 2);
    ::SetBrushOrgEx(dc, -rect.left, -rect.top, nullptr);
    ::SetTextColor(dc, kOnPanel);
    ::SetBkMode(dc, TRANSPARENT);
    return m_pictureBrush;
  }
}

bool Win32PageWindow::OnNotify(const NMHDR& header, LRESULT& result) {
  HWND sheet = ::GetParent(m_hwnd);
  if (header.hwndFrom == sheet || header.hwndFrom == m_hwnd) {
    switch (header.code) {
      // The sheet's own page changes: the flow has told the pages already.
      case PSN_SETACTIVE:
      case PSN_KILLACTIVE:
      case PSN_APPLY:
      case PSN_RESET:
      case PSN_TRANSLATEACCELERATOR:
      case PSN_QUERYINITIALFOCUS:
        result = 0;
        return true;
      case PSN_WIZBACK:
      case PSN_WIZNEXT:
      case PSN_WIZFINISH:
      case PSN_QUERYCANCEL:
        result = m_sheet.OnWizardButton(header.code);
        return true;
      default:
        return false;
    }
  }
  const int id = static_cast<int>(header.idFrom);
  if (m_lists.contains(id)) return OnListNotify(id, header, result);
  if (header.code == static_cast<UINT>(IPN_FIELDCHANGED) && m_writing == 0 && !m_sheet.Closing()) {
    m_page.Command(id, ControlEvent::kFieldChanged);
    result = 0;
    return true;
  }
  return false;
}

bool Win32PageWindow::OnListNotify(int id, const NMHDR& header, LRESULT& result) {
  SortedRows& list = m_lists[id];
  switch (header.code) {
    case LVN_GETDISPINFOW: {
      LVITEMW& item = const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(header)).item;
      if ((item.mask & LVIF_TEXT) != 0 && item.pszText != nullptr && item.cchTextMax > 0) {
        const int row = list.RowAt(item.iItem);
        m_cellText = row < 0 || list.Rows() == nullptr ? std::wstring()
                                                        : WideText(list.Rows()->Cell(row, item.iSubItem));
        ::lstrcpynW(item.pszText, m_cellText.c_str(), item.cchTextMax);
      }
      result = 0;
      return true;
    }
    case LVN_COLUMNCLICK: {
      HWND control = ::GetDlgItem(m_hwnd, id);
      const int selected = list.RowAt(ListView_GetNextItem(control, -1, LVNI_SELECTED));
      list.SortBy(reinterpret_cast<const NMLISTVIEW&>(header).iSubItem);
      // The header shows the order; the selection stays on its device.
      HWND columns = ListView_GetHeader(control);
      for (int column = 0; column < Header_GetItemCount(columns); ++column) {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        ::SendMessageW(columns, HDM_GETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
        item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (column == list.Sort().column) item.fmt |= list.Sort().ascending ? HDF_SORTUP : HDF_SORTDOWN;
        ::SendMessageW(columns, HDM_SETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
      }
      m_writing++;
      ListView_SetItemState(control, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
      if (const int view = list.ViewIndexOf(selected); view >= 0) {
        ListView_SetItemState(control, view, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        ListView_EnsureVisible(control, view, FALSE);
      }
      m_writing--;
      ::InvalidateRect(control, nullptr, FALSE);
      result = 0;
      return true;
    }
    case NM_DBLCLK:
      if (m_writing == 0) m_page.Command(id, ControlEvent::kDoubleClicked);
      result = 0;
      return true;
    case NM_SETFOCUS:
      // Tab into the list: the row the keys are on is the one chosen.
      if (ListView_GetNextItem(header.hwndFrom, -1, LVNI_SELECTED) < 0) SelectFocusedRow(header.hwndFrom);
      result = 0;
      return true;
    case LVN_KEYDOWN: {
      // The list moves its focus with the key once this returns; the selection follows it.
      HWND control = header.hwndFrom;
      Post([control] {
        if (::IsWindow(control) && ::GetFocus() == control) SelectFocusedRow(control);
      });
      result = 0;
      return true;
    }
    case LVN_ODFINDITEMW:
      result = -1;
      return true;
    default:
      return false;
  }
}

void Win32PageWindow::SetText(int id, const std::string& text) {
  HWND control = ::GetDlgItem(m_hwnd, id);
  if (control == nullptr) return;
  if (IsClass(control, RICHEDIT_CLASSW)) {
    SetRichText(id, text, 0);
    return;
  }
  ++m_writing;
  ::SetWindowTextW(control, WideText(text).c_str());
  --m_writing;
}

std::string Win32PageWindow::GetText(int id) const {
  HWND control = ::GetDlgItem(m_hwnd, id);
  if (control == nullptr) return {};
  std::wstring text = WindowText(control);
  if (IsClass(control, RICHEDIT_CLASSW)) {
    // Lines end in "\n", whichever end the control keeps.
    std::wstring lines;
    for (std::size_t at = 0; at < text.size(); ++at) {
      if (text[at] == L'\r') {
        if (at + 1 < text.size() && text[at + 1] == L'\n') ++at;
        lines += L'\n';
      } else {
        lines += text[at];
      }
    }
    text = std::move(lines);
  }
  return Utf8Text(text);
}

void Win32PageWindow::Show(int id, bool shown) {
  if (HWND control = ::GetDlgItem(m_hwnd, id)) ::ShowWindow(control, shown ? SW_SHOW : SW_HIDE);
}

void Win32PageWindow::SetCheck(int id, bool checked) {
  ++m_writing;
  ::CheckDlgButton(m_hwnd, id, checked ? BST_CHECKED : BST_UNCHECKED);
  --m_writing;
}

bool Win32PageWindow::GetCheck(int id) const {
  return ::IsDlgButtonChecked(m_hwnd, id) == BST_CHECKED;
}

void Win32PageWindow::SetFocus(int id) {
  HWND control = ::GetDlgItem(m_hwnd, id);
  // The sheet is the dialog that keeps the focus, and selects an edit's text as it goes there.
  if (control == nullptr) return;
  ::SendMessageW(::GetParent(m_hwnd), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
  // An IP address entry takes the keys in its first empty part, where typing goes on.
  if (IsClass(control, WC_IPADDRESSW)) {
    const std::vector<HWND> fields = AddressFields(control);
    for (std::size_t index = 0; index < fields.size(); ++index) {
      if (::GetWindowTextLengthW(fields[index]) == 0) {
        ::SendMessageW(control, IPM_SETFOCUS, index, 0);
        break;
      }
    }
  }
}

void Win32PageWindow::SetAddress(int id, const IpEntry& address) {
  HWND control = ::GetDlgItem(m_hwnd, id);
  if (control == nullptr) return;
  // The control tells of each field it fills; none of that is the user's.
  ++m_writing;
  ::SendMessageW(control, IPM_CLEARADDRESS, 0, 0);
  const bool whole = std::all_of(address.parts.begin(), address.parts.end(),
                                 [](const auto& part) { return part.has_value(); });
  if (whole) {
    ::SendMessageW(control, IPM_SETADDRESS, 0,
                   MAKEIPADDRESS(*address.parts[0], *address.parts[1], *address.parts[2],
                                 *address.parts[3]));
  } else {
    // A part left empty stays empty: the fields are written one by one.
    const std::vector<HWND> fields = AddressFields(control);
    for (std::size_t index = 0; index < address.parts.size() && index < fields.size(); ++index) {
      if (address.parts[index]) {
        ::SetWindowTextW(fields[index], std::to_wstring(*address.parts[index]).c_str());
      }
    }
  }
  --m_writing;
}

IpEntry Win32PageWindow::GetAddress(int id) const {
  IpEntry entry;
  HWND control = ::GetDlgItem(m_hwnd, id);
  if (control == nullptr) return entry;
  DWORD packed = 0;
  ::SendMessageW(control, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&packed));
  const int values[] = {FIRST_IPADDRESS(packed), SECOND_IPADDRESS(packed), THIRD_IPADDRESS(packed),
                        FOURTH_IPADDRESS(packed)};
  // The packed address cannot tell an empty field from a 0: the fields can.
  const std::vector<HWND> fields = AddressFields(control);
  for (std::size_t index = 0; index < entry.parts.size(); ++index) {
    if (index < fields.size() && ::GetWindowTextLengthW(fields[index]) > 0) {
      entry.parts[index] = values[index];
    }
  }
  return entry;
}

void Win32PageWindow::SetFont(int id, FontRole role) {
  HWND control = ::GetDlgItem(m_hwnd, id);
  HFONT font = m_sheet.Font(role);
  if (control == nullptr || font == nullptr) return;
  ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  if (role == FontRole::kSummary && IsClass(control, RICHEDIT_CLASSW)) {
    // Rich edit keeps the font for new text; the tab stops are set with each text.
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_FACE | CFM_SIZE;
    format.yHeight = kSummaryPoints * 20;
    ::lstrcpynW(format.szFaceName, L"Arial", LF_FACESIZE);
    ::SendMessageW(control, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&format));
  }
}

void Win32PageWindow::SetRichText(int id, const std::string& text, int boldCharacters) {
  HWND control = ::GetDlgItem(m_hwnd, id);
  if (control == nullptr) return;
  ++m_writing;
  ::SetWindowTextW(control, WideText(text).c_str());
  CHARFORMAT2W plain{};
  plain.cbSize = sizeof plain;
  plain.dwMask = CFM_BOLD;
  ::SendMessageW(control, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&plain));
  AlignTabStops(control, WideText(text));
  if (boldCharacters > 0) {
    ::SendMessageW(control, EM_SETSEL, 0, boldCharacters);
    CHARFORMAT2W bold{};
    bold.cbSize = sizeof bold;
    bold.dwMask = CFM_BOLD;
    bold.dwEffects = CFE_BOLD;
    ::SendMessageW(control, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&bold));
  }
  ::SendMessageW(control, EM_SETSEL, 0, 0);
  --m_writing;
}

void Win32PageWindow::AlignTabStops(HWND control, const std::wstring& text) {
  HFONT font = m_sheet.Font(FontRole::kSummary);
  if (font == nullptr) return;
  HDC dc = ::GetDC(control);
  HGDIOBJ before = ::SelectObject(dc, font);
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  const int pixelsPerInch = ::GetDeviceCaps(dc, LOGPIXELSX);
  // Each line's parts between tabs, measured; a line with a label and a value after tabs is
  // one whose value must line up with the others'.
  struct Line {
    std::vector<int> widths;
    bool aligned = false;
  };
  std::vector<Line> lines;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find_first_of(L"\r\n", at);
    if (end == std::wstring::npos) end = text.size();
    Line line;
    int filled = 0;
    for (std::size_t part = at;;) {
      std::size_t tab = text.find(L'\t', part);
      if (tab == std::wstring::npos || tab > end) tab = end;
      SIZE extent{};
      ::GetTextExtentPoint32W(dc, text.data() + part, static_cast<int>(tab - part), &extent);
      line.widths.push_back(extent.cx);
      if (tab > part) ++filled;
      if (tab == end) break;
      part = tab + 1;
    }
    line.aligned = filled >= 2 && line.widths.back() > 0;
    lines.push_back(std::move(line));
    at = end + 1;
  }
  ::SelectObject(dc, before);
  ::ReleaseDC(control, dc);
  // A tab stop every four average characters, as the texts were written for; a label's line
  // ends in as many tabs as that put its value under the others' in the fonts they were
  // written with. Here a label may end elsewhere: the stops between the labels' ends are placed
  // so that every value still comes after the same stop, the first every four characters
  // holds beyond the labels.
  const int step = kTabCharacters * std::max<int>(metrics.tmAveCharWidth, 1);
  std::vector<int> stops;
  struct Label {
    int end;
    std::size_t tabs;
  };
  std::vector<Label> labels;
  bool tabular = true;
  for (const Line& line : lines) {
    if (!line.aligned) continue;
    // An indent, a label, tabs, a value.
    const std::size_t parts = line.widths.size();
    tabular = tabular && parts >= 3 && line.widths[0] == 0 && line.widths[1] > 0;
    for (std::size_t part = 2; tabular && part + 1 < parts; ++part) tabular = line.widths[part] == 0;
    if (tabular) labels.push_back({step + line.widths[1], parts - 2});
  }
  std::sort(labels.begin(), labels.end(), [](const Label& a, const Label& b) { return a.end < b.end; });
  // A wider label is followed by fewer tabs, one fewer for each wider label that ends its own
  // way; equal labels by as many.
  for (std::size_t index = 1; tabular && index < labels.size(); ++index) {
    const Label& narrower = labels[index - 1];
    const Label& wider = labels[index];
    tabular = wider.end == narrower.end ? wider.tabs == narrower.tabs
                                        : wider.end > narrower.end + 1 && wider.tabs < narrower.tabs;
  }
  if (tabular && !labels.empty() && labels.back().tabs >= 1) {
    stops.push_back(step);
    // Between two labels' ends as many stops as the narrower has tabs more.
    for (std::size_t index = 1; index < labels.size(); ++index) {
      const Label& narrower = labels[index - 1];
      const Label& wider = labels[index];
      for (std::size_t extra = 0; extra < narrower.tabs - wider.tabs; ++extra) {
        const int between = narrower.end + static_cast<int>((extra + 1) * static_cast<std::size_t>(wider.end - narrower.end) /
                                                            (narrower.tabs - wider.tabs + 1));
        stops.push_back(between);
      }
    }
    // The widest label has tabs - 1 stops after it before the values' column.
    const int widest = labels.back().end;
    const int column = (widest / step + static_cast<int>(labels.back().tabs)) * step;
    for (std::size_t extra = 1; extra < labels.back().tabs; ++extra) {
      stops.push_back(widest + static_cast<int>(extra) * (column - widest) / static_cast<int>(labels.back().tabs));
    }
    stops.push_back(column);
    std::sort(stops.begin(), stops.end());
  } else {
    stops.push_back(step);
  }
  while (stops.size() < static_cast<std::size_t>(MAX_TAB_STOPS)) stops.push_back(stops.back() + step);
  PARAFORMAT2 tabs{};
  tabs.cbSize = sizeof tabs;
  tabs.dwMask = PFM_TABSTOPS;
  tabs.cTabCount = MAX_TAB_STOPS;
  for (int stop = 0; stop < MAX_TAB_STOPS; ++stop) {
    tabs.rgxTabs[stop] = ::MulDiv(stops[static_cast<std::size_t>(stop)], kTwipsPerInch, pixelsPerInch);
  }
  ::SendMessageW(control, EM_SETSEL, 0, -1);
  ::SendMessageW(control, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&tabs));
}

void Win32PageWindow::SetOnPicture(int id) {
  if (std::find(m_onPicture.begin(), m_onPicture.end(), id) == m_onPicture.end()) {
    m_onPicture.push_back(id);
  }
  if (HWND control = ::GetDlgItem(m_hwnd, id)) ::InvalidateRect(control, nullptr, TRUE);
}

bool Win32PageWindow::ShowPicture(int pictureId) {
  if (m_pictureControl == nullptr) {
    // Below the page's controls, and drawn around them, so the texts that only exist as
    // controls stay readable.
    m_pictureControl = ::CreateWindowExW(0, WC_STATICW, kPictureWindowText,
                                         WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SS_BITMAP, 0, 0,
                                         1, 1, m_hwnd, nullptr, Module(), nullptr);
    ::SetWindowPos(m_pictureControl, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  if (m_pictureBrush != nullptr) ::DeleteObject(m_pictureBrush);
  m_pictureBrush = nullptr;
  if (m_picture != nullptr) ::DeleteObject(m_picture);
  // Windows scales the dialog units with the DPI, and not the pictures: each is made as large
  // as it is beside the page's controls at 96 DPI.
  const int baseX = DialogX(4);
  const int baseY = DialogY(8);
  m_picture = LoadPictureResource(Module(), pictureId, kPictureResourceType, [&](SIZE stored) {
    return SIZE{::MulDiv(stored.cx, baseX, kPictureBaseX), ::MulDiv(stored.cy, baseY, kPictureBaseY)};
  });
  ::SendMessageW(m_pictureControl, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(m_picture));
  return m_picture != nullptr;
}

void Win32PageWindow::SetListRows(int id, const ListRows* rows) {
  HWND control = ::GetDlgItem(m_hwnd, id);
  if (control == nullptr || rows == nullptr) return;
  SortedRows& list = m_lists[id];
  list.Attach(rows);
  ListView_SetExtendedListViewStyleEx(control, 0,
                                      LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP | LVS_EX_DOUBLEBUFFER);
  for (int column = 0; column < rows->ColumnCount(); ++column) {
    const std::wstring title = WideText(rows->ColumnTitle(column));
    LVCOLUMNW item{};
    item.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    item.fmt = LVCFMT_LEFT;
    item.cx = DialogX(rows->ColumnWidth(column));
    item.pszText = const_cast<wchar_t*>(title.c_str());
    item.iSubItem = column;
    ::SendMessageW(control, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
  }
  ListView_SetItemCountEx(control, list.Count(), LVSICF_NOINVALIDATEALL);
}

void Win32PageWindow::ListRowsInserted(int id, int first, int count) {
  const auto found = m_lists.find(id);
  HWND control = ::GetDlgItem(m_hwnd, id);
  if (found == m_lists.end() || control == nullptr) return;
  SortedRows& list = found->second;
  // The device selected before, by the rows' numbering before the insertion.
  int selected = list.RowAt(ListView_GetNextItem(control, -1, LVNI_SELECTED));
  if (selected >= first) selected += count;
  list.Inserted(first, count);
  const bool moved = list.Resort();
  ++m_writing;
  ListView_SetItemCountEx(control, list.Count(), LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
  const int view = list.ViewIndexOf(selected);
  if (view != ListView_GetNextItem(control, -1, LVNI_SELECTED)) {
    ListView_SetItemState(control, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (view >= 0) {
      ListView_SetItemState(control, view, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    }
  }
  // A sort that moved the selected row keeps it in sight.
  if (moved && view >= 0) ListView_EnsureVisible(control, view, FALSE);
  --m_writing;
  ::InvalidateRect(control, nullptr, FALSE);
}

void Win32PageWindow::ListRowChanged(int id, int row, int firstColumn, int lastColumn) {
  const auto found = m_lists.find(id);
  HWND control = ::GetDlgItem(m_hwnd, id);
  if (found == m_lists.end() || control == nullptr) return;
  SortedRows& list = found->second;
  list.Changed(row, firstColumn, lastColumn);
  const int view = list.ViewIndexOf(row);
  const int top = ListView_GetTopIndex(control);
  // Only a row that is in sight is drawn again.
  if (view >= top && view <= top + ListView_GetCountPerPage(control)) {
    ListView_RedrawItems(control, view, view);
  }
  // The order is made anew once the page's refresh has told every change, once for all of
  // them: a tick may change every row.
  if (!list.NeedsResort() || list.resortQueued) return;
  list.resortQueued = true;
  m_sheet.Queue([this, id] {
    const auto again = m_lists.find(id);
    HWND list = m_hwnd != nullptr ? ::GetDlgItem(m_hwnd, id) : nullptr;
    if (again == m_lists.end() || list == nullptr) return;
    again->second.resortQueued = false;
    const int selected = again->second.RowAt(ListView_GetNextItem(list, -1, LVNI_SELECTED));
    if (!again->second.Resort()) return;
    ++m_writing;
    ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (const int at = again->second.ViewIndexOf(selected); at >= 0) {
      ListView_SetItemState(list, at, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
      ListView_EnsureVisible(list, at, FALSE);
    }
    --m_writing;
    ::InvalidateRect(list, nullptr, FALSE);
  });
}

void Win32PageWindow::ListReset(int id) {
  const auto found = m_lists.find(id);
  HWND control = ::GetDlgItem(m_hwnd, id);
  if (found == m_lists.end() || control == nullptr) return;
  ++m_writing;
  ListView_SetItemState(control, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
  found->second.Reset();
  ListView_SetItemCountEx(control, found->second.Count(), 0);
  --m_writing;
  ::InvalidateRect(control, nullptr, TRUE);
}

int Win32PageWindow::ListSelectedRow(int id) const {
  const auto found = m_lists.find(id);
  HWND control = ::GetDlgItem(m_hwnd, id);
  if (found == m_lists.end() || control == nullptr) return -1;
  return found->second.RowAt(ListView_GetNextItem(control, -1, LVNI_SELECTED));
}

void Win32PageWindow::Post(std::function<void()> task) {
  std::lock_guard lock(m_postedMutex);
  // A window that is gone takes no more tasks.
  if (m_postTarget == nullptr) return;
  const std::uint64_t number = ++m_nextPosted;
  m_posted.emplace(number, std::move(task));
  if (!::PostMessageW(m_postTarget, kRunPostedMessage, static_cast<WPARAM>(m_generation),
                      static_cast<LPARAM>(number))) {
    m_posted.erase(number);
  }
}

void Win32PageWindow::RunPosted(WPARAM generation, LPARAM number) {
  // A message for an earlier window with this handle is not this window's.
  if (generation != static_cast<WPARAM>(m_generation)) return;
  std::function<void()> task;
  {
    std::lock_guard lock(m_postedMutex);
    const auto found = m_posted.find(static_cast<std::uint64_t>(number));
    if (found == m_posted.end()) return;
    task = std::move(found->second);
    m_posted.erase(found);
  }
  task();
}

void Win32PageWindow::StartTimer(int timerId, int milliseconds) {
  ::SetTimer(m_hwnd, static_cast<UINT_PTR>(timerId), static_cast<UINT>(milliseconds), nullptr);
}

void Win32PageWindow::StopTimer(int timerId) {
  ::KillTimer(m_hwnd, static_cast<UINT_PTR>(timerId));
}

void Win32PageWindow::MessageBox(const std::string& title, const std::string& text, BoxIcon icon) {
  ::MessageBoxW(::GetParent(m_hwnd), WideText(text).c_str(), WideText(title).c_str(),
                MB_OK | (icon == BoxIcon::kWarning ? MB_ICONWARNING : 0));
}

namespace {

int CALLBACK BrowseCallback(HWND hwnd, UINT message, LPARAM /*lParam*/, LPARAM data) {
  if (message == BFFM_INITIALIZED && data != 0) {
    ::SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, data);
  }
  return 0;
}

}  // namespace

std::optional<std::string> Win32PageWindow::ChooseFolder(const std::string& title,
                                                         const std::string& start) {
  const std::wstring caption = WideText(title);
  const std::wstring startFolder = WideText(start);
  BROWSEINFOW browse{};
  browse.hwndOwner = ::GetParent(m_hwnd);
  browse.lpszTitle = caption.c_str();
  browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT | BIF_RETURNFSANCESTORS | BIF_NEWDIALOGSTYLE;
  browse.lpfn = &BrowseCallback;
  browse.lParam = startFolder.empty() ? 0 : reinterpret_cast<LPARAM>(startFolder.c_str());
  PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&browse);
  if (chosen == nullptr) return std::nullopt;
  wchar_t path[MAX_PATH] = {};
  const bool hasPath = ::SHGetPathFromIDListW(chosen, path) != FALSE;
  ::CoTaskMemFree(chosen);
  if (!hasPath) return std::nullopt;
  return Utf8Text(path);
}

void Win32PageWindow::BeginWaitCursor() {
  if (m_waitCursors++ == 0) m_cursorBefore = ::SetCursor(WaitCursorHandle());
}

void Win32PageWindow::EndWaitCursor() {
  if (m_waitCursors > 0 && --m_waitCursors == 0) ::SetCursor(m_cursorBefore);
}

}  // namespace quillnet
