#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "pages/page_host.h"

namespace quillnet {

class CWizard97SheetImpl;

// Wizard buttons a page may request (combined).
inline constexpr int PSWIZB_BACK = 1;
inline constexpr int PSWIZB_NEXT = 2;
inline constexpr int PSWIZB_FINISH = 4;

// The title every page puts into the window's title bar.
inline constexpr char kWizardPageTitle[] = "Varnholt - Quillnet " QUILLNET_TITLE_VERSION;

// Sizes of the pages in dialog units.
inline constexpr int kPageWidth = 317;
inline constexpr int kExteriorPageHeight = 193;
inline constexpr int kInteriorPageHeight = 143;

// A page of the wizard: its dialog template, which the frame builds into the page's window the
// first time the page is shown, and the handlers the sheet calls, with the property sheet's
// results. The page reaches its window only through its host, and the sheet through Sheet().
class CWizard97PageImpl {
 public:
  virtual ~CWizard97PageImpl();
  CWizard97PageImpl(const CWizard97PageImpl&) = delete;
  CWizard97PageImpl& operator=(const CWizard97PageImpl&) = delete;

  int DialogId() const { return m_dialogId; }
  const std::string& Title() const { return m_title; }
  bool HidesHeader() const { return m_hidesHeader; }
  const std::string& HeaderTitle() const { return m_headerTitle; }
  const std::string& HeaderSubTitle() const { return m_headerSubTitle; }
  // The page's height in dialog units (the width is kPageWidth).
  int DialogHeight() const { return m_hidesHeader ? kExteriorPageHeight : kInteriorPageHeight; }
  // The name frames and tests know the page by, such as "listenPage".
  const std::string& Name() const { return m_name; }

  // The sheet the page has been added to; null before.
  CWizard97SheetImpl* Sheet() const { return m_sheet; }
  // The page's window, once the frame has made it; null before.
  PageHost* Host() const { return m_host; }
  // The frame gives the page its window before OnInitDialog, and takes it back (null) when
  // the window goes.
  void AttachHost(PageHost* host) { m_host = host; }

  // Once, after the template's controls exist. The result is ignored (default focus).
  virtual bool OnInitDialog() { return true; }
  // 0 accepts the activation.
  virtual int OnSetActive() { return 0; }
  // 0 lets the page be left; anything else keeps it.
  virtual int OnKillActive() { return 0; }
  // 0: the neighbour page; -1: stay; a dialog number: that page.
  virtual int OnWizardBack() { return 0; }
  virtual int OnWizardNext() { return 0; }
  // 0 lets the wizard close; anything else keeps it open.
  virtual int OnWizardFinish() { return 0; }
  // 0 allows the window's close command.
  virtual int OnQueryCancel() { return 0; }
  virtual void OnReset() {}
  virtual void OnTimer(int /*timerId*/) {}
  // The frame's first layout of the page.
  virtual void OnSize() {}

  // What the frame calls for a control's event. An event that comes while the page fills its
  // own controls, while another page is shown, or once Finish has closed the wizard (on any
  // page), is not the user's: it is dropped.
  void Command(int id, ControlEvent event);
  // What the frame calls for Finish; a result of 0 closes the wizard.
  int Finish();

 protected:
  CWizard97PageImpl(int dialogId, std::string name, std::string title, bool hidesHeader);
  virtual void OnCommand(int /*id*/, ControlEvent /*event*/) {}
  void SetHeaderTitleText(std::string text) { m_headerTitle = std::move(text); }
  void SetHeaderSubTitleText(std::string text) { m_headerSubTitle = std::move(text); }
  // The page's window; only valid from OnInitDialog on.
  PageHost& Window() const { return *m_host; }

  // While one lives, the page is filling its own controls: their events are not the user's.
  class Filling {
   public:
    explicit Filling(CWizard97PageImpl& page) : m_page(page) { ++m_page.m_filling; }
    ~Filling() { --m_page.m_filling; }
    Filling(const Filling&) = delete;
    Filling& operator=(const Filling&) = delete;

   private:
    CWizard97PageImpl& m_page;
  };

 private:
  friend class CWizard97SheetImpl;

  int m_dialogId;
  std::string m_name;
  std::string m_title;
  bool m_hidesHeader;
  std::string m_headerTitle;
  std::string m_headerSubTitle;
  CWizard97SheetImpl* m_sheet = nullptr;
  PageHost* m_host = nullptr;
  int m_filling = 0;
  bool m_finished = false;
};

// Full-height page without a header band.
class CWizard97ExteriorPageImpl : public CWizard97PageImpl {
 protected:
  CWizard97ExteriorPageImpl(int dialogId, std::string name, std::string title);
};

// Page below the header band (title, subtitle and badge).
class CWizard97InteriorPageImpl : public CWizard97PageImpl {
 public:
  // The header band shows a change at once while the page is shown.
  void SetHeaderTitle(std::string text);
  void SetHeaderSubTitle(std::string text);

 protected:
  CWizard97InteriorPageImpl(int dialogId, std::string name, std::string title);
};

// What a frame shows of the sheet, in its own widgets.
class SheetWindow {
 public:
  virtual ~SheetWindow() = default;
  // Makes page `index`'s window from its dialog template and gives the page its host; false
  // when the template cannot be read.
  virtual bool CreatePage(int index) = 0;
  // Shows page `index`: its window, the header band for an interior page, its title.
  virtual void ShowPage(int index) = 0;
  virtual void ApplyButtons(int buttons) = 0;
  virtual void UpdateHeader(int index) = 0;
  virtual void ShowCancelButton(bool shown) = 0;
  // Gives the keyboard focus to the page shown, once the buttons it asked for are applied.
  virtual void FocusPage(int index) = 0;
  // Runs `task` once the handler under way has returned, after the tasks queued before it.
  virtual void Queue(std::function<void()> task) = 0;
  // Ends the wizard with `result`.
  virtual void Close(int result) = 0;
};

// The Wizard97 sheet's behaviour, whatever shows it: the pages in their order, which page a
// handler's result leads to, the page being left told before the new one, button requests
// applied after the handler that posted them, Cancel and the window's close command.
class CWizard97SheetImpl {
 public:
  CWizard97SheetImpl(std::string caption, int startPage);
  virtual ~CWizard97SheetImpl();
  CWizard97SheetImpl(const CWizard97SheetImpl&) = delete;
  CWizard97SheetImpl& operator=(const CWizard97SheetImpl&) = delete;

  // Adds a page in order; its controls are built when it is first shown.
  bool AddPage(CWizard97PageImpl* page);
  // The frame that shows the sheet; null when it goes.
  void AttachWindow(SheetWindow* window) { m_window = window; }
  // Shows the start page; false when there is no page to show.
  bool Start();
  const std::string& Caption() const { return m_caption; }

  // Services of the sheet to its pages.
  // Posted: takes effect after the running handler has returned, after earlier requests. A
  // repeat of the set last requested changes nothing.
  void PostSetWizButtons(int buttons);
  // Sent: the current page's kill-active and the new page's set-active have both run when
  // this returns. False when the page could not be left or the index is out of range.
  bool SetCurSel(int index);
  int GetPageCount() const { return static_cast<int>(m_pages.size()); }
  int GetCurrentIndex() const { return m_current; }
  CWizard97PageImpl* GetPage(int index) const;
  // Index of the first page with this dialog number, or -1.
  int IndexOfDialog(int dialogId) const;
  void ShowCancelButton(bool shown);
  // The button set last applied.
  int WizButtons() const { return m_wizButtons; }

  // The frame's buttons and keys.
  void PressBack();
  void PressNext();
  void PressFinish();
  // The Cancel button and Esc.
  void PressCancel() { OnCancelCommand(); }
  // The window's close command: asks the page, then ends the wizard with 0. False when the
  // page keeps it open.
  bool Close();
  // Called by the frame once the header band of page `page` should be shown anew.
  void HeaderChanged(const CWizard97PageImpl& page);

 protected:
  // The Cancel button and Esc. By default as the window's close command.
  virtual void OnCancelCommand();

 private:
  void ApplyWizButtons(int buttons);

  std::string m_caption;
  int m_startPage;
  std::vector<CWizard97PageImpl*> m_pages;
  SheetWindow* m_window = nullptr;
  int m_current = -1;
  int m_wizButtons = 0;
  // The set last requested, applied or still queued.
  int m_requestedButtons = -1;
};

}  // namespace quillnet
