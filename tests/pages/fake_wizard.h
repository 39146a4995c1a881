#pragma once

// A frame for the pages' logic without any toolkit: it records what the pages ask of their
// windows, and drives the pages as a user and an event loop would. Requests the sheet queues
// and tasks the pages post run in Run(), as an event loop runs them after the handler that
// made them; timers fire on a clock of the frame's own, which Run() moves on.

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "pages/page_host.h"
#include "pages/wizard97.h"

namespace quillnet::testing {

class FakeWizard;

// One page's window: the state of its controls, by id.
class FakePageWindow final : public PageHost {
 public:
  struct Box {
    std::string title;
    std::string text;
    BoxIcon icon = BoxIcon::kNone;
  };

  FakePageWindow(CWizard97PageImpl& page, FakeWizard& wizard, int index);
  ~FakePageWindow() override;

  // What the page set.
  std::map<int, std::string> texts;
  std::map<int, bool> hidden;
  std::map<int, bool> checks;
  std::map<int, IpEntry> addresses;
  std::map<int, FontRole> fonts;
  std::map<int, int> bold;  // rich-edit controls: their bold prefix
  std::set<int> onPicture;
  int picture = 0;  // the picture shown; 0: none
  int focus = 0;
  const ListRows* rows = nullptr;
  int selectedRow = -1;  // as the rows number it
  // The frame's timers: interval and when each fires next, on the frame's clock.
  std::map<int, std::pair<int, std::chrono::milliseconds>> timers;

  bool Shown(int id) const { return !hidden.contains(id) || !hidden.at(id); }
  std::string Text(int id) const { return texts.contains(id) ? texts.at(id) : std::string(); }

  // PageHost.
  void SetText(int id, const std::string& text) override { texts[id] = text; }
  std::string GetText(int id) const override { return Text(id); }
  void Show(int id, bool shown) override { hidden[id] = !shown; }
  void SetCheck(int id, bool checked) override { checks[id] = checked; }
  bool GetCheck(int id) const override { return checks.contains(id) && checks.at(id); }
  void SetFocus(int id) override { focus = id; }
  void SetAddress(int id, const IpEntry& address) override;
  IpEntry GetAddress(int id) const override {
    return addresses.contains(id) ? addresses.at(id) : IpEntry{};
  }
  void SetFont(int id, FontRole role) override { fonts[id] = role; }
  void SetRichText(int id, const std::string& text, int boldCharacters) override {
    texts[id] = text;
    bold[id] = boldCharacters;
  }
  void SetOnPicture(int id) override { onPicture.insert(id); }
  bool ShowPicture(int pictureId) override;
  void SetListRows(int /*id*/, const ListRows* listRows) override { rows = listRows; }
  void ListRowsInserted(int id, int first, int count) override;
  void ListRowChanged(int /*id*/, int /*row*/, int /*first*/, int /*last*/) override {}
  void ListReset(int /*id*/) override { selectedRow = -1; }
  int ListSelectedRow(int /*id*/) const override { return selectedRow; }
  void Post(std::function<void()> task) override;
  void StartTimer(int timerId, int milliseconds) override;
  void StopTimer(int timerId) override { timers.erase(timerId); }
  void MessageBox(const std::string& title, const std::string& text, BoxIcon icon) override;
  std::optional<std::string> ChooseFolder(const std::string& title,
                                          const std::string& start) override;
  void BeginWaitCursor() override { ++waitCursor; }
  void EndWaitCursor() override { --waitCursor; }

  int waitCursor = 0;
  // The control's notifications while it is given an address: a Win32 IP address control
  // tells of each part it fills, the last part first.
  bool notifyWhileFilled = false;

 private:
  CWizard97PageImpl& m_page;
  FakeWizard& m_wizard;
  int m_index;
};

// The sheet's window and the event loop around the pages.
class FakeWizard final : public SheetWindow {
 public:
  explicit FakeWizard(CWizard97SheetImpl& sheet);
  ~FakeWizard() override;

  // Shows the start page; false when there is none.
  bool Start();

  // SheetWindow.
  bool CreatePage(int index) override;
  void ShowPage(int index) override;
  void ApplyButtons(int buttons) override { m_buttons = buttons; }
  void UpdateHeader(int index) override;
  void ShowCancelButton(bool shown) override { m_cancelShown = shown; }
  void FocusPage(int /*index*/) override {}
  void Queue(std::function<void()> task) override;
  void Close(int result) override { m_result = result; }

  // The event loop: runs what was queued and posted, and the timers that are due as the
  // frame's clock moves on by `step`, until nothing more is waiting.
  void Run(std::chrono::milliseconds step = std::chrono::milliseconds(0));
  // Runs the loop, its clock moving on in steps of 10 ms while real time passes too (the
  // server and the prober work on threads of their own), until `condition` holds; false
  // after `limit` of real time.
  bool WaitFor(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::milliseconds(5000));
  // Fires the current page's timer `timerId` once.
  void Fire(int timerId);

  // What a user does. Each runs the loop afterwards, as the event loop would.
  bool Next();    // false when Next is not offered
  bool Back();    // false when Back is not offered
  bool Finish();  // false when Finish is not offered
  void Escape();
  void CloseWindow();
  // A click on a button.
  void Click(int id);
  // A click on a check box, which changes its state first.
  void Check(int id);
  // Types an address into an IP address entry: each part is told as it changes.
  void Type(int id, const std::string& text);
  void SelectRow(int row);
  void DoubleClick(int id);

  // What is shown.
  std::string Page() const;
  int CurrentIndex() const;
  FakePageWindow& Window() const;  // the current page's
  FakePageWindow* WindowOf(int index) const;
  int Buttons() const { return m_buttons; }
  bool NextEnabled() const { return (m_buttons & PSWIZB_NEXT) != 0 && (m_buttons & PSWIZB_FINISH) == 0; }
  bool CancelShown() const { return m_cancelShown; }
  std::optional<int> Result() const { return m_result; }
  const std::string& HeaderTitle() const { return m_headerTitle; }
  const std::string& HeaderSubTitle() const { return m_headerSubTitle; }
  std::chrono::milliseconds Now() const { return m_now; }

  // Message boxes shown, in order, and what the folder chooser answers.
  std::vector<FakePageWindow::Box> boxes;
  std::optional<std::string> folderAnswer;
  std::vector<std::string> folderStarts;
  // The pictures that load; others fail as an undecodable one would.
  std::set<int> pictures = {135, 136, 137};

 private:
  friend class FakePageWindow;
  void PostTask(std::function<void()> task);
  void RunTimers();

  CWizard97SheetImpl& m_sheet;
  std::map<int, std::unique_ptr<FakePageWindow>> m_windows;
  std::set<int> m_sized;
  std::vector<std::function<void()>> m_queued;
  std::mutex m_postedMutex;
  std::vector<std::function<void()>> m_posted;
  std::chrono::milliseconds m_now{0};
  int m_buttons = 0;
  bool m_cancelShown = true;
  std::optional<int> m_result;
  std::string m_headerTitle;
  std::string m_headerSubTitle;
};

}  // namespace quillnet::testing
