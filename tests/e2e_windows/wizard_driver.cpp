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
//     row MAC [SECONDS]            wait until the device list shows MAC
//     select MAC                   select the device list's row of MAC
//     address ID A.B.C.D           type an address into the IP address control ID
//     text ID                      print the control's text
//     has ID SECONDS TEXT...       wait until the control's text holds TEXT
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
//     click TITLE BUTTON           click the button labelled BUTTON in that window
//     load STOPFILE                on the Listen page with two devices or more: a key (Down
//                                  or Up in the device list) every 100 ms until STOPFILE
//                                  exists; then prints the requests the page counted and how
//                                  long each key took to move the selection
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
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
  } else if (verb == "click") {
    need(3);
    HWND window = WindowTitled(step[1]);
    HWND button = nullptr;
    for (HWND child = window != nullptr ? ::GetWindow(window, GW_CHILD) : nullptr; child != nullptr && button == nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
      if (Text(child) == Rest(step, 2) && CanClick(child)) button = child;
    }
    if (button == nullptr) Fail("no button " + Rest(step, 2) + " to click in a window titled " + step[1] + "...");
    ::PostMessageW(button, BM_CLICK, 0, 0);
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
  if (!first.starts_with("window ") && !first.starts_with("click ") &&
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
