#include "tests/pages/fake_wizard.h"

#include <thread>

namespace quillnet::testing {
namespace {

constexpr std::chrono::milliseconds kWaitStep{10};

}  // namespace

// ---- page window ---------------------------------------------------------------------------

FakePageWindow::FakePageWindow(CWizard97PageImpl& page, FakeWizard& wizard, int index)
    : m_page(page), m_wizard(wizard), m_index(index) {}

FakePageWindow::~FakePageWindow() {
  if (m_page.Host() == this) m_page.AttachHost(nullptr);
}

void FakePageWindow::SetAddress(int id, const IpEntry& address) {
  if (!notifyWhileFilled) {
    addresses[id] = address;
    return;
  }
  IpEntry filled = addresses.contains(id) ? addresses.at(id) : IpEntry{};
  for (int part = 3; part >= 0; --part) {
    filled.parts[static_cast<std::size_t>(part)] = address.parts[static_cast<std::size_t>(part)];
    addresses[id] = filled;
    m_page.Command(id, ControlEvent::kFieldChanged);
  }
}

bool FakePageWindow::ShowPicture(int pictureId) {
  if (!m_wizard.pictures.contains(pictureId)) return false;
  picture = pictureId;
  return true;
}

void FakePageWindow::ListRowsInserted(int /*id*/, int first, int count) {
  // Rows inserted at or above the selection move it down with its row, as a list control's
  // selection follows its item.
  if (selectedRow >= first) selectedRow += count;
}

void FakePageWindow::Post(std::function<void()> task) {
  // Dropped once this window is gone, as a frame drops a call to a window that is no more.
  FakeWizard& wizard = m_wizard;
  wizard.PostTask([&wizard, index = m_index, self = this, task = std::move(task)] {
    if (wizard.WindowOf(index) == self) task();
  });
}

void FakePageWindow::StartTimer(int timerId, int milliseconds) {
  timers[timerId] = {milliseconds, m_wizard.Now() + std::chrono::milliseconds(milliseconds)};
}

void FakePageWindow::MessageBox(const std::string& title, const std::string& text, BoxIcon icon) {
  m_wizard.boxes.push_back({title, text, icon});
}

std::optional<std::string> FakePageWindow::ChooseFolder(const std::string& /*title*/,
                                                        const std::string& start) {
  m_wizard.folderStarts.push_back(start);
  return m_wizard.folderAnswer;
}

// ---- sheet window and loop -----------------------------------------------------------------

FakeWizard::FakeWizard(CWizard97SheetImpl& sheet) : m_sheet(sheet) {
  m_sheet.AttachWindow(this);
}

FakeWizard::~FakeWizard() {
  m_sheet.AttachWindow(nullptr);
  m_windows.clear();
}

bool FakeWizard::Start() {
  const bool started = m_sheet.Start();
  Run();
  return started;
}

bool FakeWizard::CreatePage(int index) {
  CWizard97PageImpl* page = m_sheet.GetPage(index);
  if (page == nullptr) return false;
  auto window = std::make_unique<FakePageWindow>(*page, *this, index);
  page->AttachHost(window.get());
  m_windows[index] = std::move(window);
  return true;
}

void FakeWizard::ShowPage(int index) {
  CWizard97PageImpl* page = m_sheet.GetPage(index);
  if (page == nullptr) return;
  if (!page->HidesHeader()) UpdateHeader(index);
  // The first layout of a page comes when it is first shown.
  if (m_sized.insert(index).second) page->OnSize();
}

void FakeWizard::UpdateHeader(int index) {
  if (const CWizard97PageImpl* page = m_sheet.GetPage(index)) {
    m_headerTitle = page->HeaderTitle();
    m_headerSubTitle = page->HeaderSubTitle();
  }
}

void FakeWizard::Queue(std::function<void()> task) { m_queued.push_back(std::move(task)); }

void FakeWizard::PostTask(std::function<void()> task) {
  const std::lock_guard lock(m_postedMutex);
  m_posted.push_back(std::move(task));
}

void FakeWizard::RunTimers() {
  FakePageWindow* window = WindowOf(CurrentIndex());
  if (window == nullptr) return;
  for (bool fired = true; fired;) {
    fired = false;
    for (auto& [id, timer] : window->timers) {
      if (timer.second > m_now) continue;
      timer.second += std::chrono::milliseconds(timer.first);
      const int timerId = id;
      m_sheet.GetPage(CurrentIndex())->OnTimer(timerId);
      fired = true;
      // The handler may have stopped timers or left the page.
      window = WindowOf(CurrentIndex());
      if (window == nullptr) return;
      break;
    }
  }
}

void FakeWizard::Run(std::chrono::milliseconds step) {
  m_now += step;
  for (;;) {
    std::vector<std::function<void()>> tasks;
    tasks.swap(m_queued);
    {
      const std::lock_guard lock(m_postedMutex);
      for (auto& task : m_posted) tasks.push_back(std::move(task));
      m_posted.clear();
    }
    if (tasks.empty()) break;
    for (auto& task : tasks) task();
  }
  RunTimers();
  // What the timers queued runs too.
  while (!m_queued.empty()) {
    std::vector<std::function<void()>> tasks;
    tasks.swap(m_queued);
    for (auto& task : tasks) task();
  }
}

bool FakeWizard::WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    Run();
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Run(kWaitStep);
    if (condition()) return true;
  }
}

void FakeWizard::Fire(int timerId) {
  if (CWizard97PageImpl* page = m_sheet.GetPage(CurrentIndex())) page->OnTimer(timerId);
  Run();
}

bool FakeWizard::Next() {
  Run();
  if (!NextEnabled()) return false;
  m_sheet.PressNext();
  Run();
  return true;
}

bool FakeWizard::Back() {
  Run();
  if ((m_buttons & PSWIZB_BACK) == 0) return false;
  m_sheet.PressBack();
  Run();
  return true;
}

bool FakeWizard::Finish() {
  Run();
  if ((m_buttons & PSWIZB_FINISH) == 0) return false;
  m_sheet.PressFinish();
  Run();
  return true;
}

void FakeWizard::Escape() {
  m_sheet.PressCancel();
  Run();
}

void FakeWizard::CloseWindow() {
  m_sheet.Close();
  Run();
}

void FakeWizard::Click(int id) {
  m_sheet.GetPage(CurrentIndex())->Command(id, ControlEvent::kClicked);
  Run();
}

void FakeWizard::Check(int id) {
  Window().checks[id] = !Window().GetCheck(id);
  Click(id);
}

void FakeWizard::Type(int id, const std::string& text) {
  // As a user types: each part as it is completed, the parts after it cleared first when the
  // whole entry is replaced.
  FakePageWindow& window = Window();
  const IpEntry target = IpEntry::FromText(text);
  IpEntry typed;
  window.addresses[id] = typed;
  CWizard97PageImpl* page = m_sheet.GetPage(CurrentIndex());
  page->Command(id, ControlEvent::kFieldChanged);
  for (std::size_t part = 0; part < target.parts.size(); ++part) {
    if (!target.parts[part]) continue;
    typed.parts[part] = target.parts[part];
    window.addresses[id] = typed;
    page->Command(id, ControlEvent::kFieldChanged);
  }
  Run();
}

void FakeWizard::SelectRow(int row) {
  Window().selectedRow = row;
  Run();
}

void FakeWizard::DoubleClick(int id) {
  m_sheet.GetPage(CurrentIndex())->Command(id, ControlEvent::kDoubleClicked);
  Run();
}

std::string FakeWizard::Page() const {
  const CWizard97PageImpl* page = m_sheet.GetPage(CurrentIndex());
  return page != nullptr ? page->Name() : std::string();
}

int FakeWizard::CurrentIndex() const { return m_sheet.GetCurrentIndex(); }

FakePageWindow& FakeWizard::Window() const { return *WindowOf(CurrentIndex()); }

FakePageWindow* FakeWizard::WindowOf(int index) const {
  const auto found = m_windows.find(index);
  return found == m_windows.end() ? nullptr : found->second.get();
}

}  // namespace quillnet::testing
