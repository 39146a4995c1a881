// The Win32 frame itself, under Wine on a virtual display: the property sheet shows the flow's
// pages from the program's dialog templates, button requests take effect after the handler
// that made them, a page selected directly has been told before the call returns, timers
// tick and stop, a task posted to a page whose window is gone is dropped, the IP address
// control's own notifications during a fill are not the user's, focus on an IP address control
// goes to its first empty part, the owner-data list keeps its selected row through insertions
// above it and a sort and keeps it in sight, the keyboard's row is the selected one, and a
// page's new header subtitle shows at once.
#include "wizard/win32/win32_wizard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/bootp_wizard_info.h"
#include "dialogs/dialog_ids.h"

namespace quillnet {
namespace {

constexpr int kStepMs = 20;
constexpr int kStepLimit = 1500;  // 30 s of steps at most: a test that hangs fails instead

// A page that records what the sheet tells it.
class RecordingPage : public CWizard97InteriorPageImpl {
 public:
  RecordingPage(int dialogId, std::string name, std::vector<std::string>& log)
      : CWizard97InteriorPageImpl(dialogId, name, "Varnholt - Quillnet 1.1.2"), m_log(log) {
    SetHeaderTitle(name + " title");
    SetHeaderSubTitle(name + " subtitle");
  }
  int OnSetActive() override {
    m_log.push_back(Name() + " set-active");
    Sheet()->PostSetWizButtons(buttonsOnActivation);
    // Posted: nothing of it shows while the handler runs.
    buttonsInHandler = Sheet()->WizButtons();
    return 0;
  }
  int OnKillActive() override {
    m_log.push_back(Name() + " kill-active");
    return 0;
  }
  void OnTimer(int timerId) override {
    if (timerId == 7) ++ticks;
  }
  void OnCommand(int id, ControlEvent event) override { commands.push_back({id, event}); }

  int buttonsOnActivation = PSWIZB_BACK | PSWIZB_NEXT;
  int buttonsInHandler = -1;
  int ticks = 0;
  std::vector<std::pair<int, ControlEvent>> commands;

 private:
  std::vector<std::string>& m_log;
};

// Rows the test changes as a server's table would change.
class TestRows final : public ListRows {
 public:
  int ColumnCount() const override { return 2; }
  std::string ColumnTitle(int column) const override { return column == 0 ? "MAC Address" : "Count"; }
  int ColumnWidth(int) const override { return 66; }
  int RowCount() const override { return static_cast<int>(rows.size()); }
  std::string Cell(int row, int column) const override {
    return column == 0 ? rows[static_cast<std::size_t>(row)].first
                       : std::to_string(rows[static_cast<std::size_t>(row)].second);
  }
  bool IsNumeric(int column) const override { return column == 1; }
  std::vector<std::pair<std::string, int>> rows;
};

// Steps run one after another on the sheet's thread, inside its modal loop; a step that
// returns false is run again at the next tick, so a test waits for events, not for time.
class Script {
 public:
  void Add(std::function<bool()> step) { m_steps.push_back(std::move(step)); }
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    Script* script = s_running;
    if (script == nullptr) return;
    if (++script->m_ticks > kStepLimit) {
      ADD_FAILURE() << "a step did not come true: " << script->m_steps.size() << " left";
      script->m_steps.clear();
    }
    while (!script->m_steps.empty() && script->m_steps.front()()) script->m_steps.pop_front();
    if (script->m_steps.empty()) {
      // Every step is done: the window's close command ends the sheet.
      ::KillTimer(nullptr, script->m_timer);
      s_running = nullptr;
      ::PostMessageW(script->m_window->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    }
  }
  void Start(Win32WizardSheet& window) {
    m_window = &window;
    s_running = this;
    m_timer = ::SetTimer(nullptr, 0, kStepMs, &Script::Tick);
  }

 private:
  static inline Script* s_running = nullptr;
  std::deque<std::function<bool()>> m_steps;
  UINT_PTR m_timer = 0;
  int m_ticks = 0;
  Win32WizardSheet* m_window = nullptr;
};

class Win32HostTest : public ::testing::Test {
 protected:
  Win32HostTest()
      : sheet("Test Wizard", 0),
        listen(kListenPageId, "listen", log),
        setIp(kSetIpPageId, "setIp", log),
        last(kAssignIpPageId, "assignIp", log) {
    sheet.AddPage(&listen);
    sheet.AddPage(&setIp);
    sheet.AddPage(&last);
  }
  static void SetUpTestSuite() { s_libraries = StartWin32WizardLibraries(); }
  static void TearDownTestSuite() { s_libraries.reset(); }

  int Run(Win32WizardSheet& window) {
    script.Start(window);
    return window.DoModal(nullptr);
  }
  HWND Page(Win32WizardSheet& window, int index) { return window.PageWindow(index)->Handle(); }
  static bool Enabled(Win32WizardSheet& window, int button) {
    return ::IsWindowEnabled(::GetDlgItem(window.Handle(), button)) != FALSE;
  }

  static inline std::shared_ptr<void> s_libraries;
  std::vector<std::string> log;
  CWizard97SheetImpl sheet;
  RecordingPage listen;
  RecordingPage setIp;
  RecordingPage last;
  Script script;
};

// The parts of an IP address control, left to right.
std::vector<HWND> Parts(HWND control) {
  std::vector<HWND> parts;
  for (HWND part = ::GetWindow(control, GW_CHILD); part != nullptr; part = ::GetWindow(part, GW_HWNDNEXT)) {
    parts.push_back(part);
  }
  std::sort(parts.begin(), parts.end(), [](HWND a, HWND b) {
    RECT left{};
    RECT right{};
    ::GetWindowRect(a, &left);
    ::GetWindowRect(b, &right);
    return left.left < right.left;
  });
  return parts;
}

constexpr int kNextButton = 0x3024;
constexpr int kBackButton = 0x3023;

TEST_F(Win32HostTest, ButtonsAreQueuedAndPagesSelectedDirectlyAreToldFirst) {
  Win32WizardSheet window(sheet);
  setIp.buttonsOnActivation = PSWIZB_BACK;
  bool toldBeforeReturn = false;
  script.Add([&] { return listen.Host() != nullptr && Enabled(window, kNextButton); });
  script.Add([&] {
    // The button's own click goes through the flow to the next page.
    ::SendMessageW(::GetDlgItem(window.Handle(), kNextButton), BM_CLICK, 0, 0);
    return true;
  });
  script.Add([&] { return sheet.GetCurrentIndex() == 1 && !Enabled(window, kNextButton); });
  script.Add([&] {
    log.clear();
    toldBeforeReturn = sheet.SetCurSel(2) && log.size() == 2 &&
                       reinterpret_cast<HWND>(::SendMessageW(window.Handle(), PSM_GETCURRENTPAGEHWND,
                                                             0, 0)) == Page(window, 2);
    return true;
  });
  script.Add([&] { return Enabled(window, kNextButton); });
  EXPECT_EQ(Run(window), 0);
  EXPECT_EQ(listen.buttonsInHandler, 0) << "the request showed inside the handler that made it";
  EXPECT_TRUE(toldBeforeReturn);
  EXPECT_EQ(log, (std::vector<std::string>{"setIp kill-active", "assignIp set-active"}));
  // Header band and title: the page's own, never the sheet's caption.
  EXPECT_EQ(sheet.GetPage(2)->HeaderTitle(), "assignIp title");
}

TEST_F(Win32HostTest, TimersTickUntilStoppedAndPostsToAGoneWindowAreDropped) {
  Win32WizardSheet window(sheet);
  PageHost* host = nullptr;
  auto token = std::make_shared<int>(0);
  std::atomic<int> ran{0};
  script.Add([&] {
    host = listen.Host();
    if (host == nullptr) return false;
    host->StartTimer(7, 10);
    return true;
  });
  int ticksWhenStopped = 0;
  script.Add([&] {
    if (listen.ticks < 3) return false;
    host->StopTimer(7);
    ticksWhenStopped = listen.ticks;
    // From another thread, as a probe's result comes: it runs on this one.
    std::thread([&, keep = token] { host->Post([&, keep] { ++ran; }); }).join();
    return true;
  });
  script.Add([&] { return ran == 1; });
  EXPECT_EQ(Run(window), 0);
  EXPECT_EQ(listen.ticks, ticksWhenStopped);
  // The page's window is gone with the sheet's: a task posted now never runs, and nothing
  // of it is kept.
  host->Post([&, keep = token] { ++ran; });
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(token.use_count(), 1);
}

TEST_F(Win32HostTest, AnAddressFilledByThePageIsNotTheUsersButOneTypedIs) {
  Win32WizardSheet window(sheet);
  IpEntry partial;
  int focusedPart = -1;
  bool dotMoved = false;
  int endAt = -1;
  script.Add([&] { return listen.Host() != nullptr; });
  script.Add([&] { return sheet.SetCurSel(1); });
  script.Add([&] {
    PageHost& host = *setIp.Host();
    host.SetAddress(IDC_IP_ADDRESS, IpEntry::FromText("192.168.1.20"));
    host.SetAddress(IDC_SUBNET_MASK, IpEntry::FromText("192.168.1."));
    partial = host.GetAddress(IDC_SUBNET_MASK);
    EXPECT_EQ(host.GetAddress(IDC_IP_ADDRESS).Text(), "192.168.1.20");
    EXPECT_TRUE(setIp.commands.empty()) << "a fill told the page of " << setIp.commands.size() << " changes";
    // What a user's typing (or a driver) does to the control reaches the page.
    ::SendMessageW(::GetDlgItem(Page(window, 1), IDC_DEFAULT_GATEWAY), IPM_SETADDRESS, 0,
                   MAKEIPADDRESS(10, 0, 0, 1));
    return true;
  });
  script.Add([&] {
    PageHost& host = *setIp.Host();
    // The entries tell of their fields as the focus leaves them; that is theirs to tell.
    const std::size_t told = setIp.commands.size();
    host.SetFocus(IDC_SUBNET_MASK);
    const std::vector<HWND> parts = Parts(::GetDlgItem(Page(window, 1), IDC_SUBNET_MASK));
    focusedPart = static_cast<int>(std::find(parts.begin(), parts.end(), ::GetFocus()) - parts.begin());
    // '.' over a part's selected text moves on to the next part; End goes to the end of a part.
    const std::vector<HWND> ip = Parts(::GetDlgItem(Page(window, 1), IDC_IP_ADDRESS));
    ::SetFocus(ip[0]);
    ::SendMessageW(ip[0], EM_SETSEL, 0, -1);
    ::SendMessageW(ip[0], WM_CHAR, L'.', 1);
    dotMoved = ::GetFocus() == ip[1];
    ::SendMessageW(ip[1], EM_SETSEL, 0, 0);
    ::SendMessageW(ip[1], WM_KEYDOWN, VK_END, 1);
    DWORD start = 0;
    DWORD end = 0;
    ::SendMessageW(ip[1], EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    endAt = static_cast<int>(start == end ? start : -1);
    setIp.commands.resize(told);
    return true;
  });
  EXPECT_EQ(Run(window), 0);
  EXPECT_EQ(partial.Text(), "192.168.1.");
  EXPECT_EQ(focusedPart, 3) << "the keys do not go to the first empty part";
  EXPECT_TRUE(dotMoved);
  EXPECT_EQ(endAt, 3) << "End in the part 168";
  ASSERT_FALSE(setIp.commands.empty());
  for (const auto& [id, event] : setIp.commands) {
    EXPECT_EQ(id, IDC_DEFAULT_GATEWAY);
    EXPECT_EQ(event, ControlEvent::kFieldChanged);
  }
}

TEST_F(Win32HostTest, TheListKeepsItsSelectedDeviceThroughInsertionsAndASort) {
  Win32WizardSheet window(sheet);
  TestRows rows;
  rows.rows = {{"02:00:00:00:00:01", 5}, {"02:00:00:00:00:02", 1}};
  HWND list = nullptr;
  script.Add([&] {
    if (listen.Host() == nullptr) return false;
    listen.Host()->SetListRows(IDC_DEVICE_LIST, &rows);
    list = ::GetDlgItem(Page(window, 0), IDC_DEVICE_LIST);
    LVITEMW item{};
    item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(list, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&item));
    return true;
  });
  script.Add([&] {
    PageHost& host = *listen.Host();
    EXPECT_EQ(host.ListSelectedRow(IDC_DEVICE_LIST), 1);
    // A device heard earlier becomes valid: it takes its place above the selected one.
    rows.rows.insert(rows.rows.begin(), {"02:00:00:00:00:00", 9});
    host.ListRowsInserted(IDC_DEVICE_LIST, 0, 1);
    EXPECT_EQ(host.ListSelectedRow(IDC_DEVICE_LIST), 2);
    EXPECT_EQ(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 3);
    // A click on the Count column: sorted by the numbers, the selection on its device.
    NMLISTVIEW click{};
    click.hdr.hwndFrom = list;
    click.hdr.idFrom = IDC_DEVICE_LIST;
    click.hdr.code = LVN_COLUMNCLICK;
    click.iItem = -1;
    click.iSubItem = 1;
    ::SendMessageW(Page(window, 0), WM_NOTIFY, IDC_DEVICE_LIST, reinterpret_cast<LPARAM>(&click));
    EXPECT_EQ(host.ListSelectedRow(IDC_DEVICE_LIST), 2);
    EXPECT_EQ(::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 0)
        << "the device with 1 request is shown first";
    // It asks again and again: its count passes the others', and it moves with its row.
    rows.rows[2].second = 20;
    host.ListRowChanged(IDC_DEVICE_LIST, 2, 1, 1);
    return true;
  });
  script.Add([&] {
    return ::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED) == 2;
  });
  script.Add([&] { return listen.Host()->ListSelectedRow(IDC_DEVICE_LIST) == 2; });
  EXPECT_EQ(Run(window), 0);
}

TEST_F(Win32HostTest, TheKeyboardsRowIsSelectedAndASortKeepsTheSelectedRowInSight) {
  Win32WizardSheet window(sheet);
  TestRows rows;
  for (int index = 0; index < 60; ++index) {
    rows.rows.push_back({"02:00:00:00:00:" + std::to_string(10 + index), 1});
  }
  HWND list = nullptr;
  script.Add([&] {
    if (listen.Host() == nullptr) return false;
    listen.Host()->SetListRows(IDC_DEVICE_LIST, &rows);
    list = ::GetDlgItem(Page(window, 0), IDC_DEVICE_LIST);
    // Tab into the list from the check box: its first row, the one the keys are on, is chosen.
    ::SetFocus(::GetDlgItem(Page(window, 0), IDC_VENDOR_ONLY));
    ::SetFocus(list);
    return true;
  });
  script.Add([&] { return listen.Host()->ListSelectedRow(IDC_DEVICE_LIST) == 0; });
  script.Add([&] {
    // Sorted by the count; then the selected device asks again and again, and the sort takes
    // it below the rows shown: the list follows it.
    NMLISTVIEW header{};
    header.hdr.hwndFrom = list;
    header.hdr.idFrom = IDC_DEVICE_LIST;
    header.hdr.code = LVN_COLUMNCLICK;
    header.iItem = -1;
    header.iSubItem = 1;
    ::SendMessageW(Page(window, 0), WM_NOTIFY, IDC_DEVICE_LIST, reinterpret_cast<LPARAM>(&header));
    EXPECT_EQ(ListView_GetTopIndex(list), 0);
    rows.rows[0].second = 99;
    listen.Host()->ListRowChanged(IDC_DEVICE_LIST, 0, 1, 1);
    return true;
  });
  script.Add([&] {
    return ::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED) == 59;
  });
  script.Add([&] {
    const int top = ListView_GetTopIndex(list);
    EXPECT_EQ(listen.Host()->ListSelectedRow(IDC_DEVICE_LIST), 0);
    EXPECT_TRUE(59 >= top && 59 < top + ListView_GetCountPerPage(list)) << "the top row is " << top;
    return true;
  });
  EXPECT_EQ(Run(window), 0);
}

TEST_F(Win32HostTest, ANewHeaderSubtitleShowsAtOnce) {
  Win32WizardSheet window(sheet);
  std::wstring before;
  script.Add([&] {
    if (listen.Host() == nullptr) return false;
    HWND subtitle = ::GetDlgItem(window.Handle(), kHeaderSubTitleId);
    wchar_t text[128] = {};
    ::GetWindowTextW(subtitle, text, 128);
    before = text;
    listen.SetHeaderSubTitle("Checking whether the device answers at its new address.");
    ::GetWindowTextW(subtitle, text, 128);
    EXPECT_STREQ(text, L"Checking whether the device answers at its new address.");
    EXPECT_TRUE(::IsWindowVisible(subtitle));
    return true;
  });
  EXPECT_EQ(Run(window), 0);
  EXPECT_EQ(before, L"listen subtitle");
}

}  // namespace
}  // namespace quillnet
