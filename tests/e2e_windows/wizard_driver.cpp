// Drives the real Quillnet.exe from another process, as a user's clicks and keys would: it
// finds the wizard's window and sends the messages they produce (a button's click, an address
// typed into an IP address control, a row selected in the device list) by control id, and
// reads the controls' texts. Each argument is one step; the driver stops at the first that
// fails, saying why, with exit code 1.
//
//   wizard_driver.exe STEP...
//     page NAME [SECONDS]          wait until the sheet shows that page (welcome, listen,
//                                  set-ip, assign-ip, install, failure, completion)
//     back | next | finish | cancel   click that button of the sheet
//     enabled BUTTON [SECONDS]     wait until back, next or finish can be clicked
//     disabled BUTTON              back, next or finish cannot be clicked now
//     row MAC [SECONDS]            wait until the device list shows MAC
//     select MAC                   select the device list's row of MAC
//     address ID A.B.C.D           type an address into the IP address control ID
//     text ID                      print the control's text
//     has ID SECONDS TEXT...       wait until the control's text holds TEXT
//     lacks ID TEXT...             the control's text does not hold TEXT (now)
//     title                        print the window's title
//     rect                         print the window's place on the screen: WIDTHxHEIGHT+X+Y
//     check ID                     click the check box ID
//     type ID TEXT...              set the text of the edit control ID, as typing it would
//     box TITLE SECONDS TEXT...    wait for a message box titled TITLE whose text holds TEXT,
//                                  print its text and press its OK button
//     gone [SECONDS]               wait until the wizard's window has closed
//     hidden ID                    the control ID of the current page is not shown
//     window TITLE SECONDS TEXT... wait for a window whose title begins with TITLE (any
//                                  program's, such as the installer's) and whose controls'
//                                  texts hold TEXT; print them
//     press TITLE BUTTON           press the button labelled BUTTON in that window
//     click ID                     click the middle of control ID with the mouse
//     clipboard-has TEXT...        wait until the clipboard's text holds TEXT
//     keys KEY...                  press keys as the keyboard does, into whatever has the
//                                  focus: each character of a word, or one of <tab> <end>
//                                  <home> <down> <up> <enter> <ctrl-a> <ctrl-c> <ctrl-v>
//     clear ID                     empty the IP address control ID and click its first part
//     clip TEXT...                 put TEXT on the clipboard
//     focus ID PART                the keys go to part PART (0 to 3) of the IP address
//                                  control ID
//     sheet-has ID SECONDS TEXT... wait until the sheet's own control ID (the header texts)
//                                  holds TEXT
//     fits                         the page shows what it holds whole: its picture fills
//                                  its place, the IP address parts show all their digits,
//                                  the summary's values line up unclipped without a
//                                  sideways scroll bar and no MAC address in it wraps, and
//                                  the list's columns hold their headers and cells
//     grab FILE                    the wizard's window as a PNG picture
//     load STOPFILE                on the Listen page with two devices or more: a key (Down
//                                  or Up in the device list) every 100 ms until STOPFILE
//                                  exists; then prints the requests the page counted and how
//                                  long each key took to move the selection
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <richedit.h>
#include <wincodec.h>

#include <cstdint>
#include <cwctype>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr wchar_t kTitle[] = L"Varnholt - Quillnet 1.1.2";
constexpr int kBackButton = 0x3023;
constexpr int kNextButton = 0x3024;
constexpr int kFinishButton = 0x3025;
constexpr int kDeviceList = 1210;
constexpr int kPollMs = 50;
constexpr int kDefaultSeconds = 30;

std::string Narrow(const std::wstring& text) {
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length,
                        nullptr, nullptr);
  return narrow;
}

std::wstring Wide(const std::string& text) {
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

// The words of `step` from `first` on, joined by spaces.
std::string Rest(const std::vector<std::string>& step, std::size_t first) {
  std::string rest;
  for (std::size_t at = first; at < step.size(); ++at) rest += (at > first ? " " : "") + step[at];
  return rest;
}

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "wizard_driver: %s\n", why.c_str());
  std::exit(1);
}

// Waits until `done` holds, asking every 50 ms; false after `seconds`.
bool WaitFor(int seconds, const std::function<bool()>& done) {
  const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
  for (;;) {
    if (done()) return true;
    if (::GetTickCount64() >= end) return false;
    ::Sleep(kPollMs);
  }
}

HWND Sheet() { return ::FindWindowW(L"#32770", kTitle); }

HWND CurrentPage() {
  HWND sheet = Sheet();
  if (sheet == nullptr) return nullptr;
  DWORD_PTR page = 0;
  if (!::SendMessageTimeoutW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0, SMTO_ABORTIFHUNG, 5000, &page)) {
    return nullptr;
  }
  return reinterpret_cast<HWND>(page);
}

std::string Text(HWND control) {
  DWORD_PTR length = 0;
  if (!::SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  ::SendMessageTimeoutW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 5000, &copied);
  text.resize(copied);
  return Narrow(text);
}

// Which page the sheet shows, told by the controls only that page has.
std::string PageName(HWND page) {
  if (page == nullptr) return "none";
  if (::GetDlgItem(page, 1224) != nullptr) return "welcome";
  if (::GetDlgItem(page, kDeviceList) != nullptr) return "listen";
  if (::GetDlgItem(page, 1214) != nullptr) return "set-ip";
  if (::GetDlgItem(page, 1217) != nullptr) return "assign-ip";
  if (::GetDlgItem(page, 1103) != nullptr) return "install";
  if (::GetDlgItem(page, 1226) != nullptr) {
    return Text(::GetDlgItem(page, 1004)) == "Cancelled" ? "failure" : "completion";
  }
  return "unknown";
}

HWND Control(int id) {
  HWND page = CurrentPage();
  HWND control = page != nullptr ? ::GetDlgItem(page, id) : nullptr;
  if (control == nullptr) Fail("the page " + PageName(page) + " has no control " + std::to_string(id));
  return control;
}

int ButtonId(const std::string& name) {
  if (name == "back") return kBackButton;
  if (name == "next") return kNextButton;
  if (name == "finish") return kFinishButton;
  if (name == "cancel") return IDCANCEL;
  Fail("no button " + name);
}

bool CanClick(HWND button) {
  return button != nullptr && ::IsWindowVisible(button) && ::IsWindowEnabled(button);
}

// Memory in the wizard's process, for the list view's messages, which carry pointers.
class RemoteBuffer {
 public:
  RemoteBuffer(HWND window, std::size_t size) : m_size(size) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    m_process = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (m_process == nullptr) Fail("cannot open the wizard's process");
    m_address = ::VirtualAllocEx(m_process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    if (m_address == nullptr) Fail("cannot allocate memory in the wizard's process");
  }
  ~RemoteBuffer() {
    ::VirtualFreeEx(m_process, m_address, 0, MEM_RELEASE);
    ::CloseHandle(m_process);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;

  char* Address() const { return static_cast<char*>(m_address); }
  void Write(std::size_t offset, const void* data, std::size_t size) {
    ::WriteProcessMemory(m_process, Address() + offset, data, size, nullptr);
  }
  void Read(std::size_t offset, void* data, std::size_t size) const {
    ::ReadProcessMemory(m_process, Address() + offset, data, size, nullptr);
  }

 private:
  std::size_t m_size;
  HANDLE m_process = nullptr;
  void* m_address = nullptr;
};

constexpr std::size_t kCellChars = 64;

// One column's texts, in the order the list shows them.
std::vector<std::wstring> ColumnTexts(HWND list, int column) {
  std::vector<std::wstring> texts;
  const int count = static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  RemoteBuffer buffer(list, sizeof(LVITEMW) + kCellChars * sizeof(wchar_t));
  for (int index = 0; index < count; ++index) {
    LVITEMW item{};
    item.iSubItem = column;
    item.cchTextMax = kCellChars;
    item.pszText = reinterpret_cast<wchar_t*>(buffer.Address() + sizeof(LVITEMW));
    buffer.Write(0, &item, sizeof item);
    const auto length = ::SendMessageW(list, LVM_GETITEMTEXTW, index, reinterpret_cast<LPARAM>(buffer.Address()));
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    buffer.Read(sizeof(LVITEMW), text.data(), text.size() * sizeof(wchar_t));
    texts.push_back(std::move(text));
  }
  return texts;
}

// The MAC address column's texts, in the order the list shows them.
std::vector<std::string> ListMacs(HWND list) {
  std::vector<std::string> macs;
  for (const std::wstring& text : ColumnTexts(list, 0)) macs.push_back(Narrow(text));
  return macs;
}

int RowOf(HWND list, const std::string& mac) {
  const std::vector<std::string> macs = ListMacs(list);
  for (std::size_t index = 0; index < macs.size(); ++index) {
    if (macs[index] == mac) return static_cast<int>(index);
  }
  return -1;
}

// The click on a row: it becomes the selected and focused one.
void SelectRow(HWND list, int row) {
  RemoteBuffer buffer(list, sizeof(LVITEMW));
  LVITEMW item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  buffer.Write(0, &item, sizeof item);
  ::SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(buffer.Address()));
}

int SelectedRow(HWND list) {
  return static_cast<int>(::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

// The sum of the Count column.
long long Counted(HWND list) {
  long long counted = 0;
  for (const std::wstring& text : ColumnTexts(list, 1)) counted += std::wcstoll(text.c_str(), nullptr, 10);
  return counted;
}

void Load(const std::string& stopFile) {
  using Clock = std::chrono::steady_clock;
  constexpr int kKeyEveryMs = 100;
  HWND list = Control(kDeviceList);
  if (!WaitFor(120, [&] { return ::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) >= 2; })) {
    Fail("fewer than two devices listed");
  }
  SelectRow(list, 0);
  std::printf("LOADING\n");
  std::fflush(stdout);
  // A key is posted as the window system delivers one, behind whatever the page's thread has
  // queued; its time ends when the selection has moved.
  std::vector<double> latencies;
  bool down = true;
  const std::wstring stop(stopFile.begin(), stopFile.end());
  while (::GetFileAttributesW(stop.c_str()) == INVALID_FILE_ATTRIBUTES) {
    const int before = SelectedRow(list);
    const UINT key = down ? VK_DOWN : VK_UP;
    down = !down;
    const auto posted = Clock::now();
    ::PostMessageW(list, WM_KEYDOWN, key, 1);
    ::PostMessageW(list, WM_KEYUP, key, 0xC0000001);
    while (SelectedRow(list) == before && Clock::now() - posted < std::chrono::seconds(10)) ::Sleep(1);
    latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - posted).count());
    ::Sleep(kKeyEveryMs);
  }
  ::Sleep(2 * kKeyEveryMs);  // two of the page's ticks
  std::sort(latencies.begin(), latencies.end());
  const auto at = [&](double share) {
    return latencies.empty() ? 0.0 : latencies[static_cast<std::size_t>(share * static_cast<double>(latencies.size() - 1))];
  };
  std::printf("COUNTED %lld ROWS %d KEYS %zu KEY_P50_MS %.2f KEY_P99_MS %.2f KEY_MAX_MS %.2f\n", Counted(list),
              static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)), latencies.size(), at(0.5), at(0.99),
              at(1.0));
}

// The shown top-level window whose title begins with `title`, of any class; null when there
// is none.
HWND WindowTitled(const std::string& title) {
  struct Search {
    std::string title;
    HWND found = nullptr;
  } search{title};
  ::EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto* search = reinterpret_cast<Search*>(context);
        if (!::IsWindowVisible(window) || !Text(window).starts_with(search->title)) return TRUE;
        search->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The texts of a window's controls, one a line, in their order.
std::string ControlTexts(HWND window) {
  std::string texts;
  for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (!::IsWindowVisible(child)) continue;
    const std::string text = Text(child);
    if (!text.empty()) texts += text + "\n";
  }
  return texts;
}

// ---- keys ------------------------------------------------------------------------------------

void SendKey(WORD key, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  if (::SendInput(1, &input, sizeof input) != 1) Fail("SendInput failed");
}

void Press(WORD key, bool control = false, bool shift = false) {
  if (control) SendKey(VK_CONTROL, false);
  if (shift) SendKey(VK_SHIFT, false);
  SendKey(key, false);
  SendKey(key, true);
  if (shift) SendKey(VK_SHIFT, true);
  if (control) SendKey(VK_CONTROL, true);
}

HWND FocusOf(HWND window);

// What a key may change: where the keys go, and that control's text, selection or row.
std::string KeyState() {
  HWND focus = FocusOf(Sheet());
  if (focus == nullptr) return "none";
  DWORD_PTR selection = 0;
  ::SendMessageTimeoutW(focus, EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG, 5000, &selection);
  DWORD_PTR row = 0;
  ::SendMessageTimeoutW(focus, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED, SMTO_ABORTIFHUNG, 5000, &row);
  return std::to_string(reinterpret_cast<std::uintptr_t>(focus)) + " " + std::to_string(selection) + " " +
         std::to_string(row) + " " + Text(focus);
}

// A key as a person presses it: the next one after the wizard has taken this one, which
// shows as a change (a key that changes nothing is given a second). Keys pressed faster
// than the program takes them go to the control that had the focus when they were pressed.
void PressAndWait(WORD key, bool control = false, bool shift = false) {
  const std::string before = KeyState();
  Press(key, control, shift);
  WaitFor(1, [&] { return KeyState() != before; });
}

// Keys go where the window system sends them: to the focused control of the active window.
void Keys(const std::vector<std::string>& step) {
  ::SetForegroundWindow(Sheet());
  for (std::size_t at = 1; at < step.size(); ++at) {
    const std::string& word = step[at];
    static const std::vector<std::pair<std::string, std::pair<WORD, bool>>> named = {
        {"<tab>", {VK_TAB, false}},   {"<end>", {VK_END, false}},     {"<home>", {VK_HOME, false}},
        {"<down>", {VK_DOWN, false}}, {"<up>", {VK_UP, false}},       {"<enter>", {VK_RETURN, false}},
        {"<ctrl-a>", {'A', true}},    {"<ctrl-c>", {'C', true}},      {"<ctrl-v>", {'V', true}}};
    const auto found = std::find_if(named.begin(), named.end(), [&](const auto& key) { return key.first == word; });
    if (found != named.end()) {
      PressAndWait(found->second.first, found->second.second);
      continue;
    }
    for (const char character : word) {
      const SHORT key = ::VkKeyScanW(static_cast<wchar_t>(character));
      if (key == -1) Fail(std::string("no key types '") + character + "'");
      PressAndWait(LOBYTE(key), (HIBYTE(key) & 2) != 0, (HIBYTE(key) & 1) != 0);
    }
  }
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

// The parts of an IP address control, left to right.
std::vector<HWND> Parts(HWND control) {
  std::vector<HWND> parts;
  for (HWND child = ::GetWindow(control, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    parts.push_back(child);
  }
  std::sort(parts.begin(), parts.end(), [](HWND left, HWND right) {
    RECT a{};
    RECT b{};
    ::GetWindowRect(left, &a);
    ::GetWindowRect(right, &b);
    return a.left < b.left;
  });
  return parts;
}

void SetClipboard(const std::string& text) {
  const std::wstring wide = Wide(text);
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, (wide.size() + 1) * sizeof(wchar_t));
  if (memory == nullptr) Fail("cannot allocate the clipboard's text");
  std::copy_n(wide.c_str(), wide.size() + 1, static_cast<wchar_t*>(::GlobalLock(memory)));
  ::GlobalUnlock(memory);
  if (!::OpenClipboard(nullptr)) Fail("cannot open the clipboard");
  ::EmptyClipboard();
  if (::SetClipboardData(CF_UNICODETEXT, memory) == nullptr) Fail("cannot set the clipboard's text");
  ::CloseClipboard();
}

// ---- what the page shows ------------------------------------------------------------------

RECT RectIn(HWND window, HWND page) {
  RECT rect{};
  ::GetWindowRect(window, &rect);
  ::MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return name;
}

// Where the rich edit draws character `index` (its own count, a line break one character).
std::optional<POINT> CharPlace(HWND edit, int index) {
  RemoteBuffer buffer(edit, sizeof(POINTL));
  POINTL point{-1, -1};
  buffer.Write(0, &point, sizeof point);
  ::SendMessageW(edit, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(buffer.Address()), index);
  buffer.Read(0, &point, sizeof point);
  if (point.x < 0 && point.y < 0) return std::nullopt;
  return POINT{point.x, point.y};
}

// The summary's values line up in one column and show whole, without a sideways scroll bar,
// and no MAC address in it wraps.
void CheckSummary(HWND edit, std::vector<std::string>& faults) {
  if ((::GetWindowLongW(edit, GWL_STYLE) & WS_HSCROLL) != 0) faults.push_back("the summary scrolls sideways");
  // The rich edit's own character count: each line break is one character.
  std::wstring text = Wide(Text(edit));
  std::wstring own;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == L'\r' && at + 1 < text.size() && text[at + 1] == L'\n') continue;
    own += text[at] == L'\n' ? L'\r' : text[at];
  }
  RECT client{};
  ::GetClientRect(edit, &client);
  std::optional<LONG> column;
  int lineHeight = 0;
  std::optional<POINT> previousLine;
  for (std::size_t start = 0; start < own.size();) {
    std::size_t end = own.find(L'\r', start);
    if (end == std::wstring::npos) end = own.size();
    const std::wstring line = own.substr(start, end - start);
    const std::optional<POINT> lineStart = CharPlace(edit, static_cast<int>(start));
    if (lineStart && previousLine && lineStart->y > previousLine->y) lineHeight = lineStart->y - previousLine->y;
    if (lineStart) previousLine = lineStart;
    for (const wchar_t* label : {L"IP address:", L"Subnet mask:", L"Default gateway:"}) {
      const std::size_t tab = line.rfind(L'\t');
      if (line.find(label) == std::wstring::npos || tab == std::wstring::npos || tab + 1 >= line.size()) continue;
      const int first = static_cast<int>(start + tab + 1);
      const int last = static_cast<int>(start + line.size() - 1);
      const std::optional<POINT> begin = CharPlace(edit, first);
      const std::optional<POINT> finish = CharPlace(edit, last);
      const std::string value = Narrow(line.substr(tab + 1));
      if (!begin || !finish) {
        faults.push_back("the summary does not show " + value);
        continue;
      }
      if (column && *column != begin->x) {
        faults.push_back("the value " + value + " starts at x " + std::to_string(begin->x) + ", not at " +
                         std::to_string(*column) + " as the one above");
      }
      column = begin->x;
      if (finish->y != begin->y) faults.push_back("the value " + value + " wraps");
      if (finish->x + (finish->x - begin->x) / static_cast<LONG>(value.size()) >= client.right) {
        faults.push_back("the value " + value + " is cut at the right");
      }
      if (lineHeight > 0 && finish->y + lineHeight > client.bottom + 1) {
        faults.push_back("the value " + value + " lies below the summary's fold");
      }
    }
    start = end + 1;
  }
  // A MAC address: 17 characters, hexadecimal pairs joined by colons.
  for (std::size_t at = 0; at + 17 <= own.size(); ++at) {
    bool mac = true;
    for (std::size_t index = 0; index < 17 && mac; ++index) {
      const wchar_t character = own[at + index];
      mac = index % 3 == 2 ? character == L':' : std::iswxdigit(character) != 0;
    }
    if (!mac) continue;
    const std::optional<POINT> begin = CharPlace(edit, static_cast<int>(at));
    const std::optional<POINT> finish = CharPlace(edit, static_cast<int>(at + 16));
    if (begin && finish && begin->y != finish->y) faults.push_back("the MAC address " + Narrow(own.substr(at, 17)) + " wraps");
    at += 16;
  }
}

int StringWidth(HWND list, const std::wstring& text) {
  RemoteBuffer buffer(list, (text.size() + 1) * sizeof(wchar_t));
  buffer.Write(0, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  return static_cast<int>(::SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(buffer.Address())));
}

void CheckList(HWND list, std::vector<std::string>& faults) {
  HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
  const int columns = static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
  RECT headerRect{};
  ::GetClientRect(header, &headerRect);
  // A header's text, its margins and the sort arrow beside it, which is about as wide as the
  // header is high.
  const int margins = 4 * ::GetSystemMetrics(SM_CXEDGE) + 4;
  for (int column = 0; column < columns; ++column) {
    RemoteBuffer buffer(list, sizeof(HDITEMW) + kCellChars * sizeof(wchar_t));
    HDITEMW item{};
    item.mask = HDI_TEXT;
    item.cchTextMax = kCellChars;
    item.pszText = reinterpret_cast<wchar_t*>(buffer.Address() + sizeof(HDITEMW));
    buffer.Write(0, &item, sizeof item);
    ::SendMessageW(header, HDM_GETITEMW, column, reinterpret_cast<LPARAM>(buffer.Address()));
    wchar_t title[kCellChars] = {};
    buffer.Read(sizeof(HDITEMW), title, sizeof title);
    const int width = static_cast<int>(::SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0));
    const int needed = StringWidth(list, title) + margins + headerRect.bottom;
    if (width < needed) {
      faults.push_back("the column " + Narrow(title) + " is " + std::to_string(width) + " pixels wide, its header sorted needs " +
                       std::to_string(needed));
    }
    for (const std::wstring& cell : ColumnTexts(list, column)) {
      if (width < StringWidth(list, cell) + margins) {
        faults.push_back("the column " + Narrow(title) + " cuts " + Narrow(cell));
      }
    }
  }
}

std::vector<std::string> Misfits(HWND page) {
  std::vector<std::string> faults;
  RECT client{};
  ::GetClientRect(page, &client);
  HWND picture = nullptr;
  HWND summary = ::GetDlgItem(page, 1007);
  for (HWND child = ::GetWindow(page, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    const std::wstring kind = ClassOf(child);
    if (::lstrcmpiW(kind.c_str(), L"Static") == 0 && Text(child) == "Welcome Screen Splash Image") picture = child;
    if (::lstrcmpiW(kind.c_str(), WC_IPADDRESSW) == 0) {
      for (HWND part : Parts(child)) {
        const std::string digits = Text(part);
        if (digits.size() < 2) continue;
        RECT area{};
        ::GetClientRect(part, &area);
        const auto place = [&](int index) {
          return static_cast<int>(static_cast<short>(LOWORD(::SendMessageW(part, EM_POSFROMCHAR, index, 0))));
        };
        const int last = place(static_cast<int>(digits.size()) - 1);
        const int digit = last - place(static_cast<int>(digits.size()) - 2);
        if (last < 0 || last + digit > area.right) {
          faults.push_back("the IP address part " + digits + " of control " + std::to_string(::GetDlgCtrlID(child)) + " is cut");
        }
      }
    }
  }
  if (picture != nullptr) {
    const RECT place = RectIn(picture, page);
    if (place.left != 0 || place.top != 0 || place.bottom < client.bottom) {
      faults.push_back("the picture covers " + std::to_string(place.right) + "x" + std::to_string(place.bottom) +
                       " of the page's " + std::to_string(client.right) + "x" + std::to_string(client.bottom));
    }
    if (summary != nullptr) {
      // The texts begin at 115 dialog units; the picture ends 8 before them, as drawn.
      const RECT text = RectIn(summary, page);
      if (place.right > text.left || text.left - place.right > text.left * 12 / 115) {
        faults.push_back("the picture ends at x " + std::to_string(place.right) + ", the texts begin at " +
                         std::to_string(text.left));
      }
    } else if (place.right < client.right) {
      faults.push_back("the picture ends at x " + std::to_string(place.right) + " of the page's " + std::to_string(client.right));
    }
  }
  if (summary != nullptr) CheckSummary(summary, faults);
  if (HWND list = ::GetDlgItem(page, kDeviceList)) CheckList(list, faults);
  return faults;
}

// A page that is still being filled in may show half of it: it is asked until it fits.
void CheckFits() {
  HWND page = CurrentPage();
  if (page == nullptr) Fail("no page");
  std::vector<std::string> faults;
  WaitFor(10, [&] {
    faults = Misfits(page);
    return faults.empty();
  });
  if (!faults.empty()) {
    std::string all;
    for (const std::string& fault : faults) all += (all.empty() ? "" : "; ") + fault;
    Fail("the page " + PageName(page) + " does not fit: " + all);
  }
}

// The window as it is on the screen, as a PNG file.
void Grab(const std::string& file) {
  RECT rect{};
  ::GetWindowRect(Sheet(), &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* pixels = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  HGDIOBJ before = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  ::SelectObject(memory, before);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IWICImagingFactory* factory = nullptr;
  IWICStream* stream = nullptr;
  IWICBitmapEncoder* encoder = nullptr;
  IWICBitmapFrameEncode* frame = nullptr;
  WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGR;
  const std::wstring path = Wide(file);
  const UINT stride = static_cast<UINT>(width) * 4;
  const bool written =
      SUCCEEDED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                   reinterpret_cast<void**>(&factory))) &&
      SUCCEEDED(factory->CreateStream(&stream)) && SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
      SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
      SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
      SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
      SUCCEEDED(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height))) &&
      SUCCEEDED(frame->SetPixelFormat(&format)) &&
      SUCCEEDED(frame->WritePixels(static_cast<UINT>(height), stride, stride * static_cast<UINT>(height),
                                   static_cast<BYTE*>(pixels))) &&
      SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
  for (IUnknown* object : std::initializer_list<IUnknown*>{frame, encoder, stream, factory}) {
    if (object != nullptr) object->Release();
  }
  ::DeleteObject(bitmap);
  if (!written) Fail("cannot write " + file);
}

int Seconds(const std::vector<std::string>& step, std::size_t at) {
  return step.size() > at ? std::atoi(step[at].c_str()) : kDefaultSeconds;
}

void Run(const std::vector<std::string>& step) {
  const std::string& verb = step[0];
  auto need = [&](std::size_t count) {
    if (step.size() < count) Fail("step '" + verb + "' needs " + std::to_string(count - 1) + " argument(s)");
  };
  if (verb == "page") {
    need(2);
    if (!WaitFor(Seconds(step, 2), [&] { return PageName(CurrentPage()) == step[1]; })) {
      HWND page = CurrentPage();
      std::string detail;
      if (page != nullptr && ::GetDlgItem(page, 1007) != nullptr) detail = ": " + Text(::GetDlgItem(page, 1007));
      Fail("the sheet shows " + PageName(page) + ", not " + step[1] + detail);
    }
  } else if (verb == "back" || verb == "next" || verb == "finish" || verb == "cancel") {
    HWND button = ::GetDlgItem(Sheet(), ButtonId(verb));
    if (button == nullptr) Fail("no wizard window, or it has no " + verb + " button");
    // Posted: a click does not wait for what it sets off.
    ::PostMessageW(button, BM_CLICK, 0, 0);
  } else if (verb == "enabled") {
    need(2);
    if (!WaitFor(Seconds(step, 2), [&] { return CanClick(::GetDlgItem(Sheet(), ButtonId(step[1]))); })) {
      Fail(step[1] + " cannot be clicked");
    }
  } else if (verb == "disabled") {
    need(2);
    if (CanClick(::GetDlgItem(Sheet(), ButtonId(step[1])))) Fail(step[1] + " can be clicked");
  } else if (verb == "click") {
    need(2);
    // The mouse's own click in the middle of the control.
    RECT rect{};
    ::GetWindowRect(Control(std::atoi(step[1].c_str())), &rect);
    ::SetForegroundWindow(Sheet());
    ::SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    if (::SendInput(2, inputs, sizeof inputs[0]) != 2) Fail("SendInput failed");
  } else if (verb == "clipboard-has") {
    need(2);
    const std::string wanted = Rest(step, 1);
    std::string last;
    if (!WaitFor(10, [&] {
          if (!::OpenClipboard(nullptr)) return false;
          if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
            last = Narrow(static_cast<const wchar_t*>(::GlobalLock(data)));
            ::GlobalUnlock(data);
          }
          ::CloseClipboard();
          return last.find(wanted) != std::string::npos;
        })) {
      Fail("the clipboard holds '" + last + "', without '" + wanted + "'");
    }
  } else if (verb == "row") {
    need(2);
    if (!WaitFor(Seconds(step, 2), [&] { return RowOf(Control(kDeviceList), step[1]) >= 0; })) {
      Fail("the device list does not show " + step[1]);
    }
  } else if (verb == "select") {
    need(2);
    HWND list = Control(kDeviceList);
    const int row = RowOf(list, step[1]);
    if (row < 0) Fail("the device list does not show " + step[1]);
    SelectRow(list, row);
  } else if (verb == "address") {
    need(3);
    unsigned parts[4] = {};
    if (std::sscanf(step[2].c_str(), "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]) != 4) {
      Fail("not an address: " + step[2]);
    }
    ::SendMessageW(Control(std::atoi(step[1].c_str())), IPM_SETADDRESS, 0,
                   MAKEIPADDRESS(parts[0], parts[1], parts[2], parts[3]));
  } else if (verb == "text") {
    need(2);
    std::printf("%s\n", Text(Control(std::atoi(step[1].c_str()))).c_str());
  } else if (verb == "has") {
    need(4);
    const int id = std::atoi(step[1].c_str());
    const std::string wanted = Rest(step, 3);
    std::string last;
    if (!WaitFor(Seconds(step, 2), [&] {
          last = Text(Control(id));
          return last.find(wanted) != std::string::npos;
        })) {
      Fail("control " + step[1] + " reads '" + last + "', without '" + wanted + "'");
    }
  } else if (verb == "lacks") {
    need(3);
    const std::string text = Text(Control(std::atoi(step[1].c_str())));
    if (text.find(Rest(step, 2)) != std::string::npos) {
      Fail("control " + step[1] + " still reads '" + Rest(step, 2) + "': '" + text + "'");
    }
  } else if (verb == "load") {
    need(2);
    Load(step[1]);
  } else if (verb == "rect") {
    RECT rect{};
    ::GetWindowRect(Sheet(), &rect);
    std::printf("%ldx%ld+%ld+%ld\n", rect.right - rect.left, rect.bottom - rect.top, rect.left, rect.top);
  } else if (verb == "title") {
    std::printf("%s\n", Text(Sheet()).c_str());
  } else if (verb == "check") {
    need(2);
    ::PostMessageW(Control(std::atoi(step[1].c_str())), BM_CLICK, 0, 0);
  } else if (verb == "type") {
    need(3);
    ::SendMessageW(Control(std::atoi(step[1].c_str())), WM_SETTEXT, 0,
                   reinterpret_cast<LPARAM>(Wide(Rest(step, 2)).c_str()));
  } else if (verb == "box") {
    need(4);
    const std::string wanted = Rest(step, 3);
    HWND box = nullptr;
    std::string text;
    if (!WaitFor(Seconds(step, 2), [&] {
          box = ::FindWindowW(L"#32770", Wide(step[1]).c_str());
          text.clear();
          // A message box shows its text in its one static control besides the icon.
          for (HWND child = ::GetWindow(box, GW_CHILD); box != nullptr && child != nullptr;
               child = ::GetWindow(child, GW_HWNDNEXT)) {
            wchar_t type[16] = {};
            ::GetClassNameW(child, type, 16);
            if (std::wstring(type) == L"Static") text += Text(child);
          }
          return box != nullptr && text.find(wanted) != std::string::npos;
        })) {
      Fail(box == nullptr ? "no message box titled " + step[1]
                          : "the message box reads '" + text + "', without '" + wanted + "'");
    }
    std::printf("%s\n", text.c_str());
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  } else if (verb == "hidden") {
    need(2);
    if (::IsWindowVisible(Control(std::atoi(step[1].c_str())))) Fail("control " + step[1] + " is shown");
  } else if (verb == "window") {
    need(4);
    const std::string wanted = Rest(step, 3);
    std::string texts;
    if (!WaitFor(Seconds(step, 2), [&] {
          HWND window = WindowTitled(step[1]);
          texts = window != nullptr ? ControlTexts(window) : std::string();
          return window != nullptr && texts.find(wanted) != std::string::npos;
        })) {
      Fail(WindowTitled(step[1]) == nullptr ? "no window titled " + step[1] + "..."
                                            : "the window " + step[1] + " reads '" + texts + "', without '" + wanted + "'");
    }
    std::printf("%s", texts.c_str());
  } else if (verb == "press") {
    need(3);
    HWND window = WindowTitled(step[1]);
    HWND button = nullptr;
    for (HWND child = window != nullptr ? ::GetWindow(window, GW_CHILD) : nullptr; child != nullptr && button == nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
      if (Text(child) == Rest(step, 2) && CanClick(child)) button = child;
    }
    if (button == nullptr) Fail("no button " + Rest(step, 2) + " to click in a window titled " + step[1] + "...");
    ::PostMessageW(button, BM_CLICK, 0, 0);
  } else if (verb == "keys") {
    need(2);
    Keys(step);
  } else if (verb == "clear") {
    need(2);
    HWND control = Control(std::atoi(step[1].c_str()));
    ::SendMessageW(control, IPM_CLEARADDRESS, 0, 0);
    ::SetForegroundWindow(Sheet());
    ::SendMessageW(control, IPM_SETFOCUS, 0, 0);
  } else if (verb == "clip") {
    need(2);
    SetClipboard(Rest(step, 1));
  } else if (verb == "focus") {
    need(3);
    HWND control = Control(std::atoi(step[1].c_str()));
    const std::vector<HWND> parts = Parts(control);
    const std::size_t part = static_cast<std::size_t>(std::atoi(step[2].c_str()));
    if (part >= parts.size()) Fail("control " + step[1] + " has no part " + step[2]);
    if (!WaitFor(10, [&] { return FocusOf(Sheet()) == parts[part]; })) {
      const auto at = std::find(parts.begin(), parts.end(), FocusOf(Sheet()));
      Fail("the keys go to " + (at != parts.end() ? "part " + std::to_string(at - parts.begin()) + " of control " + step[1]
                                                  : "control " + std::to_string(::GetDlgCtrlID(FocusOf(Sheet())))) +
           ", not to part " + step[2]);
    }
  } else if (verb == "sheet-has") {
    need(4);
    HWND control = ::GetDlgItem(Sheet(), std::atoi(step[1].c_str()));
    if (control == nullptr) Fail("the sheet has no control " + step[1]);
    const std::string wanted = Rest(step, 3);
    std::string last;
    if (!WaitFor(Seconds(step, 2), [&] {
          last = Text(control);
          return last.find(wanted) != std::string::npos && ::IsWindowVisible(control);
        })) {
      Fail("the sheet's control " + step[1] + " reads '" + last + "', without '" + wanted + "'");
    }
  } else if (verb == "fits") {
    CheckFits();
  } else if (verb == "grab") {
    need(2);
    Grab(Rest(step, 1));
  } else if (verb == "gone") {
    if (!WaitFor(Seconds(step, 1), [] { return Sheet() == nullptr; })) Fail("the wizard is still open");
  } else {
    Fail("unknown step '" + verb + "'");
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 2) Fail("usage: wizard_driver.exe STEP...");
  // Steps on another program's window need no wizard.
  const std::string first = argv[1];
  if (!first.starts_with("window ") && !first.starts_with("press ") &&
      !WaitFor(kDefaultSeconds, [] { return Sheet() != nullptr; })) {
    Fail("no wizard window");
  }
  for (int index = 1; index < argc; ++index) {
    std::vector<std::string> step;
    std::string word;
    for (const char* at = argv[index];; ++at) {
      if (*at == ' ' || *at == '\0') {
        if (!word.empty()) step.push_back(word);
        word.clear();
        if (*at == '\0') break;
      } else {
        word += *at;
      }
    }
    if (!step.empty()) Run(step);
  }
  return 0;
}
