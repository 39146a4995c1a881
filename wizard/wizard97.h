#pragma once

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QString>
#include <QWidget>
#include <map>
#include <optional>
#include <vector>

#include "wizard/dialog_template.h"

class QFrame;
class QLabel;
class QPushButton;
class QStackedWidget;

namespace quillnet {

class CWizard97SheetImpl;

// Wizard buttons a page may request (combined).
inline constexpr int PSWIZB_BACK = 1;
inline constexpr int PSWIZB_NEXT = 2;
inline constexpr int PSWIZB_FINISH = 4;

// The title every page puts into the window's title bar.
inline constexpr char kWizardPageTitle[] = "Varnholt - Quillnet " QUILLNET_TITLE_VERSION;

// A page of the wizard: its dialog template, built into the page the first time the page is
// shown, and the handlers the sheet calls. Results follow the property-sheet conventions.
class CWizard97PageImpl : public QWidget {
 public:
  ~CWizard97PageImpl() override;

  int DialogId() const { return m_dialogId; }
  QString Title() const { return m_title; }
  bool HidesHeader() const { return m_hidesHeader; }
  QString HeaderTitle() const { return m_headerTitle; }
  QString HeaderSubTitle() const { return m_headerSubTitle; }
  // The page's size in dialog units.
  QSize DialogSize() const { return m_dialogSize; }
  bool IsCreated() const { return m_created; }

  // The sheet the page has been added to; null before.
  CWizard97SheetImpl* Sheet() const { return m_sheet; }
  // The template's control with this id; null when there is none (or not yet).
  QWidget* Control(int id) const;

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

 protected:
  CWizard97PageImpl(int dialogId, const QString& title, bool hidesHeader, QSize dialogSize);
  void SetHeaderTitleText(const QString& text) { m_headerTitle = text; }
  void SetHeaderSubTitleText(const QString& text) { m_headerSubTitle = text; }

  // The page's first layout by the sheet (and every later size change).
  virtual void OnSize() {}
  void resizeEvent(QResizeEvent* event) override;

 private:
  friend class CWizard97SheetImpl;
  // Builds the template and runs OnInitDialog the first time. A page without a template of
  // its own draws everything itself; false when its template is there but cannot be loaded.
  bool Create(const DialogUnits& units);

  int m_dialogId;
  QString m_title;
  bool m_hidesHeader;
  QSize m_dialogSize;
  QString m_headerTitle;
  QString m_headerSubTitle;
  CWizard97SheetImpl* m_sheet = nullptr;
  bool m_created = false;
  std::map<int, QWidget*> m_controls;
};

// Full-height page without a header band, on a white ground.
class CWizard97ExteriorPageImpl : public CWizard97PageImpl {
 protected:
  CWizard97ExteriorPageImpl(int dialogId, const QString& title);
};

// Page below the header band (title, subtitle and badge).
class CWizard97InteriorPageImpl : public CWizard97PageImpl {
 public:
  // The header band shows a change at once while the page is shown.
  void SetHeaderTitle(const QString& text);
  void SetHeaderSubTitle(const QString& text);

 protected:
  CWizard97InteriorPageImpl(int dialogId, const QString& title);
};

// The Wizard97 sheet: a modal dialog that shows one page at a time, with the header band for
// interior pages and Back / Next / Finish / Cancel below.
class CWizard97SheetImpl : public QDialog {
 public:
  CWizard97SheetImpl(const QString& caption, int startPage, QWidget* parent);
  ~CWizard97SheetImpl() override;

  // Adds a page in order; its controls are built when it is first shown.
  bool AddPage(CWizard97PageImpl* page);
  // Shows the sheet modally from the start page; 1 after Finish, 0 after the window's close
  // command, -1 when there is no page to show.
  int DoModal(QWidget* owner = nullptr);
  // Shows the sheet from the start page without a modal loop of its own; its result() holds
  // what DoModal would return once it has closed.
  bool ShowModeless();

  // Services of the sheet to its pages.
  // Posted: takes effect after the running handler has returned, after earlier requests.
  void PostSetWizButtons(int buttons);
  // Sent: the current page's kill-active and the new page's set-active have both run when
  // this returns. False when the page could not be left or the index is out of range.
  bool SetCurSel(int index);
  int GetPageCount() const { return static_cast<int>(m_pages.size()); }
  int GetCurrentIndex() const { return m_current; }
  CWizard97PageImpl* GetPage(int index) const;
  // Index of the first page with this dialog number, or -1.
  int IndexOfDialog(int dialogId) const;
  // Shows `page`'s header title and subtitle anew, when it is the page shown.
  void UpdateHeader(const CWizard97PageImpl* page);
  // Null until the sheet has been initialised (shown).
  const QFont* GetExteriorPageTitleFont() const;
  const QFont* GetBulletFont() const;
  const DialogUnits& Units() const { return m_units; }
  QPushButton* CancelButton() const { return m_cancelButton; }
  // The button set last applied.
  int WizButtons() const { return m_wizButtons; }

  // Presses of the wizard buttons, as the buttons themselves do.
  void PressBack();
  void PressNext();
  void PressFinish();

  // The window's close command: asks the page, then ends the wizard with 0.
  void reject() override;

 protected:
  // The Cancel button and Esc. By default as the window's close command.
  virtual void OnCancelCommand();
  // Once, when the sheet is about to be shown and before its first page is created.
  virtual void OnInitialized();

  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool Prepare();
  void ApplyWizButtons(int buttons);
  void ShowPage(int index);
  // The first keyboard focus on the current page, unless the focus is inside it already: its
  // first control that takes the Tab key, else FocusWizButton(). Never Cancel.
  void FocusPage();
  // The shown Next or Finish when it is enabled, else an enabled Back, else the page itself.
  void FocusWizButton();
  QWidget* MakeHeader();

  int m_startPage;
  DialogUnits m_units;
  std::vector<CWizard97PageImpl*> m_pages;
  int m_current = -1;
  int m_wizButtons = 0;
  bool m_initialized = false;
  bool m_iconsSet = false;
  std::optional<QFont> m_exteriorTitleFont;
  std::optional<QFont> m_bulletFont;

  QWidget* m_header = nullptr;
  QLabel* m_headerTitle = nullptr;
  QLabel* m_headerSubTitle = nullptr;
  QWidget* m_headerGap = nullptr;
  QStackedWidget* m_stack = nullptr;
  QPushButton* m_backButton = nullptr;
  QPushButton* m_nextButton = nullptr;
  QPushButton* m_finishButton = nullptr;
  QPushButton* m_cancelButton = nullptr;
};

}  // namespace quillnet
