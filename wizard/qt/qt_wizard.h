#pragma once

#include <QDialog>
#include <QFont>
#include <QString>
#include <QWidget>
#include <map>
#include <memory>
#include <optional>

#include "pages/page_host.h"
#include "pages/wizard97.h"
#include "wizard/qt/dialog_template.h"
#include "wizard/qt/qt_page_window.h"

class QLabel;
class QPushButton;
class QStackedWidget;

namespace quillnet {

class CBootpWizardInfo;

// The Wizard97 sheet in Qt: a modal dialog that shows one page at a time, with the header
// band for interior pages and Back / Next / Finish / Cancel below. What it does on each button
// is the sheet's (CWizard97SheetImpl); this shows it. Showing the wizard's own sheet, it shows
// the server's failures that need the user as message boxes.
class QtWizardSheet : public QDialog, public SheetWindow {
 public:
  QtWizardSheet(CWizard97SheetImpl& sheet, QWidget* parent = nullptr);
  ~QtWizardSheet() override;

  CWizard97SheetImpl& Sheet() const { return m_sheet; }
  // Shows the sheet modally from the start page; 1 after Finish, 0 after the window's close
  // command, -1 when there is no page to show.
  int DoModal(QWidget* owner = nullptr);
  // Shows the sheet from the start page without a modal loop of its own; its result() holds
  // what DoModal would return once it has closed.
  bool ShowModeless();

  // The window of the page at `index`; null before it was first shown.
  QtPageWindow* PageWindow(int index) const;
  const DialogUnits& Units() const { return m_units; }
  // Null until the sheet has been initialised (shown).
  const QFont* GetExteriorPageTitleFont() const;
  const QFont* GetBulletFont() const;
  int WizButtons() const { return m_sheet.WizButtons(); }

  // SheetWindow.
  bool CreatePage(int index) override;
  void ShowPage(int index) override;
  void ApplyButtons(int buttons) override;
  void UpdateHeader(int index) override;
  void ShowCancelButton(bool shown) override;
  void FocusPage(int index) override;
  void Queue(std::function<void()> task) override;
  void Close(int result) override;

  // The window's close command.
  void reject() override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool Prepare();
  // Once, when the sheet is about to be shown and before its first page is created.
  void OnInitialized();
  // The shown Next or Finish when it is enabled, else an enabled Back, else the page itself.
  void FocusWizButton();
  QWidget* MakeHeader();

  CWizard97SheetImpl& m_sheet;
  DialogUnits m_units;
  std::map<int, std::unique_ptr<QtPageWindow>> m_windows;
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

// Builds the wizard's sheet for `info` (start page 0, no parent), shows it modally with the
// active window as its owner and returns the result.
int ShowBootpWizardSheet(CBootpWizardInfo& info);

}  // namespace quillnet
