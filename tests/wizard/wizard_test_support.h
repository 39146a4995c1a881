#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "pages/bootp_wizard_sheet.h"
#include "tests/pages/page_test_support.h"
#include "wizard/qt/qt_wizard.h"

namespace quillnet::testing {

// The wizard's sheet shown in the Qt frame.
struct QtWizard {
  std::unique_ptr<CBootpWizardSheet> sheet;
  std::unique_ptr<QtWizardSheet> window;

  CBootpWizardSheet* operator->() const { return sheet.get(); }
  QtWizardSheet* Window() const { return window.get(); }
  // The window of the page shown.
  QtPageWindow* Current() const { return window->PageWindow(sheet->GetCurrentIndex()); }
};

// The wizard on fakes (WizardOnFakes) in the Qt frame.
class QtWizardOnFakes : public WizardOnFakes {
 protected:
  ~QtWizardOnFakes() override { m_qt.reset(); }

  // The sheet for m_info, shown; with recording interior pages or with none.
  QtWizard MakeSheet(bool interiorPages) {
    QtWizard wizard;
    wizard.sheet = std::make_unique<CBootpWizardSheet>(
        m_info.get(), 0, interiorPages ? RecordingInteriorPages(m_log) : InteriorPageMaker{});
    wizard.window = std::make_unique<QtWizardSheet>(*wizard.sheet);
    EXPECT_TRUE(wizard.window->ShowModeless());
    return wizard;
  }
  // The wizard with its own pages, shown, kept by the fixture.
  void ShowQt() {
    m_qt.reset();
    m_info = std::make_unique<CBootpWizardInfo>(m_environment);
    m_info->LoadSettings();
    m_qt = std::make_unique<QtWizard>();
    m_qt->sheet = std::make_unique<CBootpWizardSheet>(m_info.get(), 0);
    m_qt->window = std::make_unique<QtWizardSheet>(*m_qt->sheet);
    ASSERT_TRUE(m_qt->window->ShowModeless());
  }

  std::unique_ptr<QtWizard> m_qt;
};

template <typename T>
T* Find(QWidget* root, const char* name) {
  return root->findChild<T*>(QString::fromLatin1(name));
}

inline void Click(QWidget* root, const char* button) {
  auto* widget = Find<QPushButton>(root, button);
  ASSERT_NE(widget, nullptr) << button;
  QTest::mouseClick(widget, Qt::LeftButton);
}

// Runs posted requests until `condition` holds (at most five seconds).
template <typename Condition>
bool WaitFor(Condition condition) {
  return QTest::qWaitFor(condition, 5000);
}

}  // namespace quillnet::testing
