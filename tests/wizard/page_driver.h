#pragma once

// Drives the wizard's pages through their widgets, as a user does with mouse and keyboard.

#include <QAbstractItemModel>
#include <QApplication>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <functional>
#include <vector>

#include "wizard/qt/ip_address_edit.h"
#include "wizard/qt/qt_wizard.h"

namespace quillnet::testing {

class PageDriver {
 public:
  static constexpr int kKeyDelayMs = 1;

  explicit PageDriver(QtWizardSheet& sheet) : m_sheet(sheet) {}

  template <typename T>
  T* Find(const char* name) const {
    return m_sheet.findChild<T*>(QString::fromLatin1(name));
  }

  // A control of the page shown; pages share control names.
  template <typename T>
  T* FindOnPage(const char* name) const {
    const QtPageWindow* page = m_sheet.PageWindow(m_sheet.Sheet().GetCurrentIndex());
    return page != nullptr ? page->findChild<T*>(QString::fromLatin1(name)) : nullptr;
  }

  QString Page() const {
    const QtPageWindow* page = m_sheet.PageWindow(m_sheet.Sheet().GetCurrentIndex());
    return page != nullptr ? page->objectName() : QString();
  }
  bool On(const char* page) const { return Page() == QLatin1String(page); }

  // Clicks a wizard button once it is offered (button requests are applied after the page's
  // handler has returned); false when it is not offered within two seconds.
  bool Click(const char* button) const {
    if (!QTest::qWaitFor([&] { return Enabled(button); }, 2000)) return false;
    QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton);
    return true;
  }
  bool Enabled(const char* button) const {
    auto* widget = Find<QPushButton>(button);
    return widget != nullptr && widget->isVisible() && widget->isEnabled();
  }

  QTreeView* List() const { return Find<QTreeView>("deviceList"); }
  QStringList ListedMacs() const {
    QStringList macs;
    const QAbstractItemModel* model = List()->model();
    for (int row = 0; row < model->rowCount(); ++row) macs << model->index(row, 0).data().toString();
    return macs;
  }
  QString SelectedMac() const {
    const QModelIndexList rows = List()->selectionModel()->selectedRows();
    return rows.size() == 1 ? rows.first().data().toString() : QString();
  }
  QPoint RowCentre(int row) const {
    return List()->visualRect(List()->model()->index(row, 0)).center();
  }
  void ClickRow(int row, bool twice = false) const {
    if (twice) {
      QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, RowCentre(row));
    } else {
      QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, RowCentre(row));
    }
  }

  IpAddressEdit* Entry(const char* name) const { return Find<IpAddressEdit>(name); }
  // Replaces what an address entry shows: double-click its first part, then type.
  void Type(const char* entry, const QString& text) const {
    IpAddressEdit* edit = Entry(entry);
    // Keys go to the focus widget, which only the active window has.
    if (!edit->window()->isActiveWindow()) {
      edit->window()->activateWindow();
      if (!QTest::qWaitForWindowActive(edit->window())) return;
    }
    QTest::mouseDClick(edit->field(0), Qt::LeftButton);
    // Key by key to whichever part has the focus, as the control moves it while typing; the
    // event loop runs between the keys, as it does for a user, so queued changes apply.
    for (const QChar character : text) {
      QTest::keyClicks(QApplication::focusWidget(), QString(character), Qt::NoModifier, kKeyDelayMs);
    }
    QTest::qWait(kKeyDelayMs);
  }
  QString ResultLine() const { return WithoutJoiners(Find<QLabel>("resultText")->text()); }

 private:
  QtWizardSheet& m_sheet;
};

// Answers the modal windows a page opens while it lives, as the user would: a message box
// with its OK button, any other window with `answer`. The page's own modal loop runs the
// checks, so a test never blocks on a box.
class ModalAnswerer {
 public:
  struct Shown {
    QString name;
    QString title;
    QString text;  // a message box's
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
  };

  explicit ModalAnswerer(std::function<void(QWidget*)> answer = {}) : m_answer(std::move(answer)) {
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
    m_timer.start(10);
  }

  const std::vector<Shown>& shown() const { return m_shown; }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible() || modal == m_answered) return;
    m_answered = modal;
    Shown shown{modal->objectName(), modal->windowTitle(), {}, QMessageBox::NoIcon, {}};
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      shown.text = box->text();
      shown.icon = box->icon();
      shown.buttons = box->standardButtons();
      m_shown.push_back(shown);
      if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
        QTest::mouseClick(ok, Qt::LeftButton);
      } else {
        box->reject();
      }
      return;
    }
    m_shown.push_back(shown);
    if (m_answer) m_answer(modal);
  }

  std::function<void(QWidget*)> m_answer;
  QTimer m_timer;
  // Cleared when that window goes, so a later one at the same address is answered too.
  QPointer<QWidget> m_answered;
  std::vector<Shown> m_shown;
};

}  // namespace quillnet::testing
