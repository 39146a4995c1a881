#include <gtest/gtest.h>

#include <QLabel>
#include <QResizeEvent>
#include <QTimer>

#include "bootp/bootp_server.h"
#include "tests/wizard/wizard_test_support.h"

namespace quillnet {
namespace {

using testing::Click;
using testing::Find;
using testing::RecordingPage;
using testing::WaitFor;

// A plain sheet over four recording pages 501 to 504.
class FrameTest : public ::testing::Test {
 protected:
  FrameTest() : m_sheet(QStringLiteral("Test Wizard"), 0, nullptr) {
    for (int id = 501; id <= 504; ++id) {
      m_pages.push_back(std::make_unique<RecordingPage>(id, m_log));
      m_sheet.AddPage(m_pages.back().get());
    }
  }
  void SetUp() override {
    ASSERT_TRUE(m_sheet.ShowModeless());
    ASSERT_TRUE(WaitFor([&] { return m_sheet.WizButtons() == (PSWIZB_BACK | PSWIZB_NEXT); }));
    m_log.clear();
  }
  RecordingPage& Page(int index) { return *m_pages[static_cast<std::size_t>(index)]; }
  // Clicks a button and waits for the buttons the new page asked for.
  void Press(const char* button) {
    Click(&m_sheet, button);
    ASSERT_TRUE(WaitFor([&] { return m_sheet.WizButtons() == Page(m_sheet.GetCurrentIndex()).buttons; }));
  }

  std::vector<std::string> m_log;
  CWizard97SheetImpl m_sheet;
  // Declared after the sheet so the pages leave it before it goes.
  std::vector<std::unique_ptr<RecordingPage>> m_pages;
};

TEST_F(FrameTest, HandlerResultsPickNeighbourStayOrNamedPage) {
  Press("nextButton");
  EXPECT_EQ(m_sheet.GetCurrentIndex(), 1);

  Page(1).nextResult = -1;
  Press("nextButton");
  EXPECT_EQ(m_sheet.GetCurrentIndex(), 1);

  Page(1).nextResult = 504;
  Press("nextButton");
  EXPECT_EQ(m_sheet.GetCurrentIndex(), 3);

  Press("backButton");
  EXPECT_EQ(m_sheet.GetCurrentIndex(), 2);

  Page(2).backResult = 501;
  Press("backButton");
  EXPECT_EQ(m_sheet.GetCurrentIndex(), 0);

  Page(0).backResult = -1;
  Press("backButton");
  EXPECT_EQ(m_sheet.GetCurrentIndex(), 0);
}

TEST_F(FrameTest, PageBeingLeftIsToldBeforeTheNewPageAndEachPageIsBuiltOnce) {
  Press("nextButton");                 // 501 → 502
  Page(1).nextResult = 504;
  Press("nextButton");                 // 502 → 504 by number
  Press("backButton");                 // 504 → 503
  ASSERT_TRUE(m_sheet.SetCurSel(1));   // 503 → 502, sent
  EXPECT_EQ(m_log, (std::vector<std::string>{
                       "next 501", "kill 501", "init 502", "set 502",
                       "next 502", "kill 502", "init 504", "set 504",
                       "back 504", "kill 504", "init 503", "set 503",
                       "kill 503", "set 502"}));

  // A page that refuses to be left keeps the sheet where it is.
  m_log.clear();
  Page(1).killResult = 1;
  EXPECT_FALSE(m_sheet.SetCurSel(3));
  EXPECT_EQ(m_sheet.GetCurrentIndex(), 1);
  EXPECT_EQ(m_log, std::vector<std::string>{"kill 502"});
  EXPECT_FALSE(m_sheet.SetCurSel(4));
}

TEST_F(FrameTest, ButtonRequestsTakeEffectAfterTheHandlerInTheOrderPosted) {
  Page(1).buttons = PSWIZB_BACK | PSWIZB_FINISH;
  ASSERT_TRUE(m_sheet.SetCurSel(1));
  // Still the earlier set: the request waits for the event loop.
  EXPECT_EQ(m_sheet.WizButtons(), PSWIZB_BACK | PSWIZB_NEXT);
  ASSERT_TRUE(WaitFor([&] { return m_sheet.WizButtons() == (PSWIZB_BACK | PSWIZB_FINISH); }));
  EXPECT_TRUE(Find<QPushButton>(&m_sheet, "finishButton")->isVisible());
  EXPECT_FALSE(Find<QPushButton>(&m_sheet, "nextButton")->isVisible());

  m_sheet.PostSetWizButtons(PSWIZB_NEXT);
  m_sheet.PostSetWizButtons(PSWIZB_BACK);
  m_sheet.PostSetWizButtons(0);
  m_sheet.PostSetWizButtons(PSWIZB_BACK | PSWIZB_NEXT);
  ASSERT_TRUE(WaitFor([&] { return m_sheet.WizButtons() == (PSWIZB_BACK | PSWIZB_NEXT); }));
  EXPECT_TRUE(Find<QPushButton>(&m_sheet, "nextButton")->isEnabled());
  EXPECT_TRUE(Find<QPushButton>(&m_sheet, "backButton")->isEnabled());

  // A disabled Next does nothing, even when asked for.
  m_sheet.PostSetWizButtons(PSWIZB_BACK);
  ASSERT_TRUE(WaitFor([&] { return m_sheet.WizButtons() == PSWIZB_BACK; }));
  m_sheet.PressNext();
  EXPECT_EQ(m_sheet.GetCurrentIndex(), 1);
}

TEST_F(FrameTest, PlainSheetClosesOnCancelAndHeaderShowsThePageTexts) {
  EXPECT_TRUE(Find<QWidget>(&m_sheet, "headerBand")->isVisible());
  EXPECT_EQ(Find<QLabel>(&m_sheet, "headerTitle")->text(), "Page 501");
  EXPECT_FALSE(Find<QLabel>(&m_sheet, "headerBadge")->pixmap().isNull());
  EXPECT_EQ(Find<QLabel>(&m_sheet, "headerBadge")->pixmap().size(), QSize(49, 49));
  Click(&m_sheet, "cancelButton");
  EXPECT_FALSE(m_sheet.isVisible());
  EXPECT_EQ(m_sheet.result(), 0);
}

// The wizard itself, with recording pages in place of the interior pages.
class BootpSheetTest : public testing::WizardOnFakes {
 protected:
  BootpSheetTest() { m_info = std::make_unique<CBootpWizardInfo>(m_environment); }
};

TEST_F(BootpSheetTest, SevenPagesInOrderWithTheTitleOnEachAndNoTestWizard) {
  auto sheet = MakeSheet(true);
  ASSERT_EQ(sheet->GetPageCount(), 7);
  const int ids[] = {kWelcomePageId, kListenPageId, kSetIpPageId, kAssignIpPageId,
                     kInstallPageId, kEndPageId, kEndPageId};
  for (int index = 0; index < 7; ++index) {
    EXPECT_EQ(sheet->GetPage(index)->DialogId(), ids[index]);
    ASSERT_TRUE(sheet->SetCurSel(index));
    EXPECT_EQ(sheet->windowTitle(), "Varnholt - Quillnet 1.1.2");
  }
  EXPECT_EQ(sheet->GetPage(5), &sheet->FailurePage());
  EXPECT_EQ(sheet->GetPage(6), &sheet->CompletionPage());
}

TEST_F(BootpSheetTest, CancelAndEscOnTheFirstFivePagesShowTheFailurePage) {
  auto sheet = MakeSheet(true);
  for (int index = 0; index < 5; ++index) {
    for (bool escape : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "page " << index << (escape ? " Esc" : " Cancel"));
      ASSERT_TRUE(sheet->SetCurSel(index));
      m_log.clear();
      ASSERT_TRUE(WaitFor([&] { return Find<QPushButton>(sheet.get(), "cancelButton")->isVisible(); }));
      if (escape) {
        QTest::keyClick(sheet.get(), Qt::Key_Escape);
      } else {
        Click(sheet.get(), "cancelButton");
      }
      EXPECT_EQ(sheet->GetCurrentIndex(), 5);
      EXPECT_TRUE(sheet->isVisible());
      if (index > 0) {
        EXPECT_EQ(m_log, std::vector<std::string>{"kill " + std::to_string(sheet->GetPage(index)->DialogId())});
      }
    }
  }
}

TEST_F(BootpSheetTest, OnTheEndPagesCancelIsHiddenEscDoesNothingAndBackGoesToListen) {
  auto sheet = MakeSheet(true);
  for (int index : {5, 6}) {
    SCOPED_TRACE(index);
    ASSERT_TRUE(sheet->SetCurSel(index));
    ASSERT_TRUE(WaitFor([&] { return sheet->WizButtons() == (PSWIZB_BACK | PSWIZB_FINISH); }));
    EXPECT_FALSE(Find<QPushButton>(sheet.get(), "cancelButton")->isVisible());
    EXPECT_FALSE(Find<QPushButton>(sheet.get(), "nextButton")->isVisible());
    QTest::keyClick(sheet.get(), Qt::Key_Escape);
    EXPECT_EQ(sheet->GetCurrentIndex(), index);
    EXPECT_TRUE(sheet->isVisible());

    Click(sheet.get(), "backButton");
    EXPECT_EQ(sheet->GetCurrentIndex(), 1);
    EXPECT_TRUE(Find<QPushButton>(sheet.get(), "cancelButton")->isVisible());
    EXPECT_EQ(m_info->GetStatusMessage(), "From Finish Page");
  }
}

TEST_F(BootpSheetTest, TitleBarCloseEndsTheWizardFromAnyPage) {
  for (int index : {0, 5}) {
    auto sheet = MakeSheet(false);
    ASSERT_TRUE(sheet->SetCurSel(index == 0 ? 0 : sheet->GetPageCount() - 2));
    EXPECT_TRUE(sheet->close());
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(sheet->result(), 0);
  }
}

TEST_F(BootpSheetTest, FinishEndsTheModalWizardWithOneAndRestoresTheCursor) {
  CBootpWizardSheet sheet(m_info.get(), 0, nullptr);
  QTimer::singleShot(0, &sheet, [&] {
    Click(&sheet, "cancelButton");
    QTimer::singleShot(0, &sheet, [&] {
      ASSERT_TRUE(Find<QPushButton>(&sheet, "finishButton")->isVisible());
      Click(&sheet, "finishButton");
    });
  });
  EXPECT_EQ(sheet.DoModal(), 1);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(BootpSheetTest, WindowIconsAreSetOnceAndFontsAreLent) {
  auto sheet = MakeSheet(false);
  ASSERT_TRUE(WaitFor([&] { return !sheet->windowIcon().isNull(); }));
  const qint64 icon = sheet->windowIcon().cacheKey();
  EXPECT_TRUE(sheet->windowIcon().availableSizes().contains(QSize(48, 48)));
  QResizeEvent resize(QSize(800, 600), sheet->size());
  QApplication::sendEvent(sheet.get(), &resize);
  EXPECT_EQ(sheet->windowIcon().cacheKey(), icon);

  const QFont* title = sheet->GetExteriorPageTitleFont();
  ASSERT_NE(title, nullptr);
  EXPECT_TRUE(title->bold());
  EXPECT_EQ(title->pointSize(), 12);
  const QFont* bullet = sheet->GetBulletFont();
  ASSERT_NE(bullet, nullptr);
  EXPECT_EQ(bullet->family(), "Marlett");
  EXPECT_EQ(bullet->pointSize(), 8);
  EXPECT_EQ(Find<QLabel>(&sheet->WelcomePage(), "titleText")->font(), *title);
}

}  // namespace
}  // namespace quillnet
