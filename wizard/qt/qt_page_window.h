#pragma once

#include <QString>
#include <QWidget>
#include <map>
#include <optional>

#include "pages/page_host.h"
#include "pages/wizard97.h"
#include "wizard/qt/dialog_template.h"
#include "wizard/qt/gdiplus_bitmap.h"

class QLabel;
class QTimer;

namespace quillnet {

class QtWizardSheet;
class RowsModel;
class SortedRowsModel;

// A page's window in the Qt frame: the widgets of its dialog template, found by control id,
// and the host the page's logic works through.
class QtPageWindow final : public QWidget, public PageHost {
 public:
  QtPageWindow(CWizard97PageImpl& page, QtWizardSheet& sheet);
  ~QtPageWindow() override;

  CWizard97PageImpl& Page() const { return m_page; }
  // The template's control with this id; null when there is none.
  QWidget* Control(int id) const;
  // Builds the template's controls; false when it is there but cannot be read. A page
  // without a template of its own draws everything itself.
  bool Build(const DialogUnits& units);

  // PageHost.
  void SetText(int id, const std::string& text) override;
  std::string GetText(int id) const override;
  void Show(int id, bool shown) override;
  void SetCheck(int id, bool checked) override;
  bool GetCheck(int id) const override;
  void SetFocus(int id) override;
  void SetAddress(int id, const IpEntry& address) override;
  IpEntry GetAddress(int id) const override;
  void SetFont(int id, FontRole role) override;
  void SetRichText(int id, const std::string& text, int boldCharacters) override;
  void SetOnPicture(int id) override;
  bool ShowPicture(int pictureId) override;
  void SetListRows(int id, const ListRows* rows) override;
  void ListRowsInserted(int id, int first, int count) override;
  void ListRowChanged(int id, int row, int firstColumn, int lastColumn) override;
  void ListReset(int id) override;
  int ListSelectedRow(int id) const override;
  void Post(std::function<void()> task) override;
  void StartTimer(int timerId, int milliseconds) override;
  void StopTimer(int timerId) override;
  void MessageBox(const std::string& title, const std::string& text, BoxIcon icon) override;
  std::optional<std::string> ChooseFolder(const std::string& title,
                                          const std::string& start) override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct List {
    RowsModel* model = nullptr;
    SortedRowsModel* sorted = nullptr;
  };
  void Connect(int id, QWidget* control);

  CWizard97PageImpl& m_page;
  QtWizardSheet& m_sheet;
  bool m_built = false;
  std::map<int, QWidget*> m_controls;
  std::map<int, List> m_lists;
  std::map<int, QTimer*> m_timers;
  CGdiPlusBitmapResource m_picture;
  QLabel* m_pictureControl = nullptr;
};

}  // namespace quillnet
