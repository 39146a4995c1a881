#include "wizard/win32/win32_wizard.h"

#include <objbase.h>
#include <ole2.h>

#include <algorithm>
#include <atomic>
#include <tuple>
#include <utility>

#include "pages/bootp_wizard_sheet.h"
#include "platform/windows/wide_text.h"
#include "wizard/win32/frame_support.h"

namespace quillnet {
namespace {

// The sheet's own messages.
constexpr UINT kStartMessage = WM_APP + 10;
constexpr UINT kRunQueuedMessage = WM_APP + 11;
constexpr UINT kServerBoxMessage = WM_APP + 12;

// A missing resource: the program draws no watermark; each exterior page shows its picture.
constexpr int kWatermarkBitmapId = 1001;
constexpr int kTitlePoints = 12;
constexpr int kBulletPoints = 8;
// The header texts' places in the band, in the sheet's dialog units, as Wizard97 has them.
constexpr int kHeaderTitleLeft = 11;
constexpr int kHeaderTitleTop = 5;
constexpr int kHeaderSubTitleIndent = 11;
constexpr int kHeaderGap = 2;
constexpr int kHeaderBitmapSize = 49;

// The sheet being shown: the property sheet's callback carries no pointer of ours.
Win32WizardSheet* g_showing = nullptr;
// Where the server's failures are shown as message boxes; null while no sheet is up.
std::atomic<HWND> g_boxOwner{nullptr};

HFONT MakeFont(const LOGFONTW& base, const wchar_t* face, int points, LONG weight) {
  LOGFONTW font = base;
  HDC screen = ::GetDC(nullptr);
  font.lfHeight = -::MulDiv(points, ::GetDeviceCaps(screen, LOGPIXELSY), 72);
  ::ReleaseDC(nullptr, screen);
  font.lfWidth = 0;
  font.lfWeight = weight;
  font.lfCharSet = DEFAULT_CHARSET;
  ::lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
  return ::CreateFontIndirectW(&font);
}

void ShowServerBox(HWND owner, LPARAM box) {
  std::unique_ptr<std::pair<std::wstring, std::wstring>> texts(
      reinterpret_cast<std::pair<std::wstring, std::wstring>*>(box));
  ::MessageBoxW(owner, texts->first.c_str(), texts->second.c_str(), MB_OK | MB_ICONWARNING);
}

}  // namespace

Win32WizardSheet::Win32WizardSheet(CWizard97SheetImpl& sheet)
    : m_sheet(sheet), m_caption(WideText(sheet.Caption())) {
  for (int index = 0; index < sheet.GetPageCount(); ++index) {
    m_windows.push_back(std::make_unique<Win32PageWindow>(*sheet.GetPage(index), *this, index));
  }
  m_sheet.AttachWindow(this);
}

Win32WizardSheet::~Win32WizardSheet() {
  m_sheet.AttachWindow(nullptr);
  m_windows.clear();
  for (HFONT font : {m_titleFont, m_bulletFont, m_summaryFont, m_headerTitleFont}) {
    if (font != nullptr) ::DeleteObject(font);
  }
  if (m_header != nullptr) ::DeleteObject(m_header);
}

Win32PageWindow* Win32WizardSheet::PageWindow(int index) const {
  return index >= 0 && index < static_cast<int>(m_windows.size())
             ? m_windows[static_cast<std::size_t>(index)].get()
             : nullptr;
}

HFONT Win32WizardSheet::Font(FontRole role) {
  switch (role) {
    case FontRole::kExteriorTitle:
      return m_titleFont;
    case FontRole::kBullet:
      return m_bulletFont;
    case FontRole::kSummary:
      return m_summaryFont;
  }
  return nullptr;
}

int Win32WizardSheet::DoModal(HWND owner) {
  if (m_windows.empty() || g_showing != nullptr) return -1;
  std::vector<HPROPSHEETPAGE> pages;
  for (auto& window : m_windows) {
    PROPSHEETPAGEW descriptor = window->Descriptor();
    // A page that cannot be made is left out, and the flow's indexes with it.
    if (HPROPSHEETPAGE page = ::CreatePropertySheetPageW(&descriptor)) pages.push_back(page);
  }
  if (pages.size() != m_windows.size()) {
    for (HPROPSHEETPAGE page : pages) ::DestroyPropertySheetPage(page);
    return -1;
  }
  // Under Wine the header bitmap shows only when given as a handle.
  m_header = static_cast<HBITMAP>(::LoadImageW(Module(), MAKEINTRESOURCEW(kHeaderBitmapId),
                                               IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  PROPSHEETHEADERW header{};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_WIZARD97 | PSH_HEADER | PSH_WATERMARK | PSH_USECALLBACK |
                   PSH_NOCONTEXTHELP | (m_header != nullptr ? PSH_USEHBMHEADER : 0);
  header.hwndParent = owner;
  header.hInstance = Module();
  header.pszCaption = m_caption.c_str();
  header.nPages = static_cast<UINT>(pages.size());
  header.nStartPage = 0;
  header.phpage = pages.data();
  header.pszbmWatermark = MAKEINTRESOURCEW(kWatermarkBitmapId);
  if (m_header != nullptr) {
    header.hbmHeader = m_header;
  } else {
    header.pszbmHeader = MAKEINTRESOURCEW(kHeaderBitmapId);
  }
  header.pfnCallback = &Win32WizardSheet::SheetCallback;
  g_showing = this;
  const INT_PTR shown = ::PropertySheetW(&header);
  g_showing = nullptr;
  g_boxOwner = nullptr;
  m_hwnd = nullptr;
  m_headerTitle = nullptr;
  m_headerSubTitle = nullptr;
  m_queue.clear();
  return shown < 0 ? -1 : m_result;
}

int CALLBACK Win32WizardSheet::SheetCallback(HWND hwnd, UINT message, LPARAM /*lParam*/) {
  if (message == PSCB_INITIALIZED && g_showing != nullptr) g_showing->OnInitialized(hwnd);
  return 0;
}

void Win32WizardSheet::OnInitialized(HWND hwnd) {
  m_hwnd = hwnd;
  m_sheetProc = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
      hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32WizardSheet::SheetProc)));
  // Both fonts derive from the sheet's own; their heights follow the screen's resolution.
  LOGFONTW base{};
  if (HFONT font = reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0))) {
    ::GetObjectW(font, sizeof base, &base);
  }
  m_titleFont = MakeFont(base, L"Verdana", kTitlePoints, FW_BOLD);
  m_bulletFont = MakeFont(base, L"Marlett", kBulletPoints, FW_NORMAL);
  LOGFONTW plain{};
  m_summaryFont = MakeFont(plain, L"Arial", kSummaryPoints, FW_NORMAL);
  // The header band's texts: the page's header title in bold, its subtitle below, in the
  // sheet's font. The sheet draws the band and its bitmap, and nothing of the texts, which it
  // would not draw anew when a page changes them (Wine keeps a subtitle as it was made).
  LOGFONTW bold = base;
  bold.lfWeight = FW_BOLD;
  m_headerTitleFont = ::CreateFontIndirectW(&bold);
  HFONT sheetFont = reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0));
  for (auto [text, id, font] : {std::tuple{&m_headerTitle, kHeaderTitleId, m_headerTitleFont},
                                std::tuple{&m_headerSubTitle, kHeaderSubTitleId, sheetFont}}) {
    *text = ::CreateWindowExW(0, WC_STATICW, L"", WS_CHILD | SS_LEFT | SS_NOPREFIX, 0, 0, 1, 1, hwnd,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Module(), nullptr);
    ::SendMessageW(*text, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  g_boxOwner = hwnd;
  // The sheet shows its first page itself once this returns; the flow takes over from there.
  ::PostMessageW(hwnd, kStartMessage, 0, 0);
}

LRESULT CALLBACK Win32WizardSheet::SheetProc(HWND hwnd, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  Win32WizardSheet* sheet = g_showing;
  if (sheet == nullptr || sheet->m_hwnd != hwnd) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  return sheet->OnSheetMessage(message, wParam, lParam);
}

LRESULT Win32WizardSheet::OnSheetMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      // The icons are set on the first size only; later layouts keep them.
      if (!m_iconsSet) {
        m_iconsSet = true;
        for (const auto& [which, width, height] :
             {std::tuple{ICON_BIG, SM_CXICON, SM_CYICON}, std::tuple{ICON_SMALL, SM_CXSMICON, SM_CYSMICON}}) {
          HANDLE icon = ::LoadImageW(Module(), MAKEINTRESOURCEW(kWindowIconId), IMAGE_ICON,
                                     ::GetSystemMetrics(width), ::GetSystemMetrics(height), 0);
          ::SendMessageW(m_hwnd, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
        }
      }
      break;
    case WM_COMMAND:
      // Cancel and Esc follow the wizard's Cancel rule; they never close it.
      if (LOWORD(wParam) == IDCANCEL && !m_closing) {
        if (HIWORD(wParam) == 0 || HIWORD(wParam) == BN_CLICKED) m_sheet.PressCancel();
        return 0;
      }
      break;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE && !m_closing) {
        m_sheet.Close();
        return 0;
      }
      break;
    case WM_CLOSE:
      if (!m_closing) {
        m_sheet.Close();
        return 0;
      }
      break;
    case kStartMessage:
      if (!m_sheet.Start()) Close(-1);
      return 0;
    case kRunQueuedMessage:
      if (!m_queue.empty()) {
        std::function<void()> task = std::move(m_queue.front());
        m_queue.erase(m_queue.begin());
        task();
      }
      return 0;
    case kServerBoxMessage:
      ShowServerBox(m_hwnd, lParam);
      return 0;
    case WM_CTLCOLORSTATIC:
      // The header texts lie on the band's white.
      if (reinterpret_cast<HWND>(lParam) == m_headerTitle ||
          reinterpret_cast<HWND>(lParam) == m_headerSubTitle) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
        ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
      }
      break;
    default:
      break;
  }
  return ::CallWindowProcW(m_sheetProc, m_hwnd, message, wParam, lParam);
}

LRESULT Win32WizardSheet::OnWizardButton(UINT code) {
  switch (code) {
    case PSN_WIZBACK:
      m_sheet.PressBack();
      return -1;
    case PSN_WIZNEXT:
      m_sheet.PressNext();
      return -1;
    case PSN_WIZFINISH:
      m_sheet.PressFinish();
      // The flow closed the wizard, or the page keeps it open.
      return m_closing ? FALSE : TRUE;
    case PSN_QUERYCANCEL:
      if (m_closing) return FALSE;
      // Cancel pressed by message rather than by the button: the same rule.
      m_sheet.PressCancel();
      return TRUE;
    default:
      return 0;
  }
}

void Win32WizardSheet::Select(int index) {
  if (m_hwnd == nullptr) return;
  ::SendMessageW(m_hwnd, PSM_SETCURSEL, static_cast<WPARAM>(index), 0);
}

bool Win32WizardSheet::CreatePage(int index) {
  Win32PageWindow* window = PageWindow(index);
  if (window == nullptr) return false;
  // The sheet makes a page's window the first time it shows it.
  if (window->Handle() == nullptr) Select(index);
  // The page learns of its window only now, whenever the sheet made it: its initialisation
  // is the flow's.
  window->Attach();
  return window->Handle() != nullptr;
}

void Win32WizardSheet::ShowPage(int index) {
  Win32PageWindow* window = PageWindow(index);
  CWizard97PageImpl* page = m_sheet.GetPage(index);
  if (window == nullptr || page == nullptr) return;
  if (PropSheet_GetCurrentPageHwnd(m_hwnd) != window->Handle()) Select(index);
  ::SetWindowTextW(m_hwnd, WideText(page->Title()).c_str());
  LayoutHeader(index);
  // The sheet may set its buttons on a page change; they are the flow's.
  ApplyButtons(m_sheet.WizButtons());
  page->OnSize();
}

void Win32WizardSheet::ApplyButtons(int buttons) {
  // Requests are queued by the flow after the handler that made them; here they take effect.
  if (m_hwnd != nullptr) ::SendMessageW(m_hwnd, PSM_SETWIZBUTTONS, 0, buttons);
}

void Win32WizardSheet::UpdateHeader(int index) { LayoutHeader(index); }

void Win32WizardSheet::LayoutHeader(int index) {
  CWizard97PageImpl* page = m_sheet.GetPage(index);
  Win32PageWindow* window = PageWindow(index);
  if (m_headerTitle == nullptr || page == nullptr || window == nullptr) return;
  const bool shown = !page->HidesHeader() && window->Handle() != nullptr;
  if (shown) {
    ::SetWindowTextW(m_headerTitle, WideText(page->HeaderTitle()).c_str());
    ::SetWindowTextW(m_headerSubTitle, WideText(page->HeaderSubTitle()).c_str());
    // The band ends above the page; the badge sits at its right, centred in its height.
    RECT pageRect{};
    ::GetWindowRect(window->Handle(), &pageRect);
    ::MapWindowPoints(nullptr, m_hwnd, reinterpret_cast<POINT*>(&pageRect), 2);
    RECT client{};
    ::GetClientRect(m_hwnd, &client);
    RECT units{kHeaderTitleLeft, kHeaderTitleTop, kHeaderSubTitleIndent, kHeaderGap};
    ::MapDialogRect(m_hwnd, &units);
    const int band = pageRect.top;
    const int badge = kHeaderBitmapSize + std::max(0, band - kHeaderBitmapSize);
    const int right = client.right - badge - units.left;
    int top = units.top;
    for (HWND text : {m_headerTitle, m_headerSubTitle}) {
      const int left = units.left + (text == m_headerSubTitle ? units.right : 0);
      HDC dc = ::GetDC(text);
      HGDIOBJ before = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(text, WM_GETFONT, 0, 0)));
      const std::wstring content = WindowText(text);
      RECT extent{0, 0, std::max(right - left, 1), 0};
      ::DrawTextW(dc, content.c_str(), static_cast<int>(content.size()), &extent,
                  DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
      ::SelectObject(dc, before);
      ::ReleaseDC(text, dc);
      const int height = std::min<int>(extent.bottom, std::max(band - top, 1));
      ::SetWindowPos(text, HWND_TOP, left, top, std::max(right - left, 1), height, SWP_NOACTIVATE);
      top += height + units.bottom;
    }
  }
  for (HWND text : {m_headerTitle, m_headerSubTitle}) ::ShowWindow(text, shown ? SW_SHOWNA : SW_HIDE);
}

void Win32WizardSheet::ShowCancelButton(bool shown) {
  if (HWND cancel = m_hwnd != nullptr ? ::GetDlgItem(m_hwnd, IDCANCEL) : nullptr) {
    ::ShowWindow(cancel, shown ? SW_SHOW : SW_HIDE);
  }
}

void Win32WizardSheet::FocusPage(int index) {
  Win32PageWindow* window = PageWindow(index);
  if (window == nullptr || window->Handle() == nullptr) return;
  HWND page = window->Handle();
  // A page that has placed the focus itself keeps it.
  HWND focused = ::GetFocus();
  if (focused != nullptr && focused != page && ::IsChild(page, focused)) return;
  HWND first = ::GetNextDlgTabItem(page, nullptr, FALSE);
  if (first != nullptr && ::IsChild(page, first) && ::IsWindowEnabled(first) && ::IsWindowVisible(first)) {
    ::SendMessageW(m_hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
    return;
  }
  // Nothing on the page takes keys: the button that moves on does.
  constexpr int kBack = 0x3023;
  constexpr int kNext = 0x3024;
  constexpr int kFinish = 0x3025;
  for (const int id : {kFinish, kNext, kBack}) {
    HWND button = ::GetDlgItem(m_hwnd, id);
    if (button != nullptr && ::IsWindowVisible(button) && ::IsWindowEnabled(button)) {
      ::SendMessageW(m_hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button), TRUE);
      return;
    }
  }
}

void Win32WizardSheet::Queue(std::function<void()> task) {
  m_queue.push_back(std::move(task));
  if (m_hwnd != nullptr) ::PostMessageW(m_hwnd, kRunQueuedMessage, 0, 0);
}

void Win32WizardSheet::Close(int result) {
  if (m_closing) return;
  m_closing = true;
  m_result = result;
  // Finish closes through the sheet's own answer to PSN_WIZFINISH; anything else through its
  // Cancel, which now passes.
  if (result != 1 && m_hwnd != nullptr) ::PostMessageW(m_hwnd, WM_COMMAND, IDCANCEL, 0);
}

// ---- the program's sheet -------------------------------------------------------------------

int ShowBootpWizardSheet(CBootpWizardInfo& info) {
  CBootpWizardSheet sheet(&info, 0);
  Win32WizardSheet window(sheet);
  // Failures of the reply step, on the server's threads, reach the user as message boxes on
  // the sheet's thread; the worker never waits for them.
  info.SetServerErrorHandler([](const std::string& text, const std::string& caption) {
    HWND owner = g_boxOwner;
    if (owner == nullptr) return;
    auto* box = new std::pair<std::wstring, std::wstring>(WideText(text), WideText(caption));
    if (!::PostMessageW(owner, kServerBoxMessage, 0, reinterpret_cast<LPARAM>(box))) delete box;
  });
  const int result = window.DoModal(::GetActiveWindow());
  info.SetServerErrorHandler(nullptr);
  return result;
}

std::shared_ptr<void> StartWin32WizardLibraries() {
  // COM for the pictures' decoder, the shell links and the folder chooser.
  const HRESULT ole = ::OleInitialize(nullptr);
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_WIN95_CLASSES | ICC_DATE_CLASSES | ICC_USEREX_CLASSES | ICC_COOL_CLASSES |
                   ICC_INTERNET_CLASSES | ICC_PAGESCROLLER_CLASS | ICC_NATIVEFNTCTL_CLASS |
                   ICC_STANDARD_CLASSES | ICC_LINK_CLASS;
  ::InitCommonControlsEx(&controls);
  // Registers the rich-edit class of the summaries.
  HMODULE richEdit = ::LoadLibraryW(L"riched20.dll");
  return std::shared_ptr<void>(richEdit, [ole](void* module) {
    // A copy from a summary leaves the rich edit's data object on the clipboard: it is
    // rendered there while its code is still loaded, and OLE lets go of it before the library
    // goes.
    if (SUCCEEDED(ole)) {
      ::OleFlushClipboard();
      ::OleUninitialize();
    }
    if (module != nullptr) ::FreeLibrary(static_cast<HMODULE>(module));
  });
}

}  // namespace quillnet
