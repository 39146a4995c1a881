// The sheet's behaviour, whatever shows it: which page a handler's result leads to, the page
// being left told first, button requests after the handler, and the wizard's Cancel rule.
#include <gtest/gtest.h>

#include "tests/pages/page_test_support.h"

namespace quillnet {
namespace {

using testing::RecordingPage;

// A plain sheet over four recording pages 501 to 504.
class SheetTest : public ::testing::Test {
 protected:
  SheetTest() {
    for (int id = 501; id <= 504; ++id) {
      m_pages.push_back(std::make_unique<RecordingPage>(id, m_log));
      m_sheet.AddPage(m_pages.back().get());
    }
    m_wizard = std::make_unique<testing::FakeWizard>(m_sheet);
    EXPECT_TRUE(m_wizard->Start());
    m_log.clear();
  }
  RecordingPage& Page(int index) { return *m_pages[static_cast<std::size_t>(index)]; }

  std::vector<std::string> m_log;
  std::vector<std::unique_ptr<RecordingPage>> m_pages;
  CWizard97SheetImpl m_sheet{"Test Wizard", 0};
  std::unique_ptr<testing::FakeWizard> m_wizard;
};

TEST_F(SheetTest, HandlerResultsPickNeighbourStayOrNamedPage) {
  ASSERT_TRUE(m_wizard->Next());
  EXPECT_EQ(m_sheet.GetCurrentIndex(), 1);
  Page(1).nextResult = -1;
  ASSERT_TRUE(m_wizard->Next());
  EXPECT_EQ(m_sheet.GetCurrentIndex(), 1);
  Page(1).nextResult = 504;
  ASSERT_TRUE(m_wizard->Next());
  EXPECT_EQ(m_sheet.GetCurrentIndex(), 3);
  ASSERT_TRUE(m_wizard->Back());
  EXPECT_EQ(m_sheet.GetCurrentIndex(), 2);
  Page(2).backResult = 501;
  ASSERT_TRUE(m_wizard->Back());
  EXPECT_EQ(m_sheet.GetCurrentIndex(), 0);
  Page(0).backResult = -1;
  ASSERT_TRUE(m_wizard->Back());
  EXPECT_EQ(m_sheet.GetCurrentIndex(), 0);
}

TEST_F(SheetTest, PageBeingLeftIsToldBeforeTheNewPageAndEachPageIsBuiltOnce) {
  ASSERT_TRUE(m_wizard->Next());  // 501 → 502
  Page(1).nextResult = 504;
  ASSERT_TRUE(m_wizard->Next());  // 502 → 504 by number
  ASSERT_TRUE(m_wizard->Back());  // 504 → 503
  ASSERT_TRUE(m_sheet.SetCurSel(1));  // 503 → 502, sent
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

TEST_F(SheetTest, ButtonRequestsTakeEffectAfterTheHandlerInTheOrderPostedAndRepeatsAreDropped) {
  Page(1).buttons = PSWIZB_BACK | PSWIZB_FINISH;
  ASSERT_TRUE(m_sheet.SetCurSel(1));
  // Still the earlier set: the request waits for the loop.
  EXPECT_EQ(m_wizard->Buttons(), PSWIZB_BACK | PSWIZB_NEXT);
  m_wizard->Run();
  EXPECT_EQ(m_wizard->Buttons(), PSWIZB_BACK | PSWIZB_FINISH);

  m_sheet.PostSetWizButtons(PSWIZB_NEXT);
  m_sheet.PostSetWizButtons(PSWIZB_BACK);
  m_sheet.PostSetWizButtons(0);
  m_sheet.PostSetWizButtons(PSWIZB_BACK | PSWIZB_NEXT);
  m_wizard->Run();
  EXPECT_EQ(m_sheet.WizButtons(), PSWIZB_BACK | PSWIZB_NEXT);

  // A disabled Next does nothing, even when asked for.
  m_sheet.PostSetWizButtons(PSWIZB_BACK);
  m_wizard->Run();
  m_sheet.PressNext();
  EXPECT_EQ(m_sheet.GetCurrentIndex(), 1);
  // Asking again for the set last asked for queues nothing.
  m_sheet.PostSetWizButtons(PSWIZB_BACK);
  m_wizard->ApplyButtons(PSWIZB_FINISH);  // what the frame shows, moved by hand
  m_wizard->Run();
  EXPECT_EQ(m_wizard->Buttons(), PSWIZB_FINISH);
}

// The wizard itself, with recording pages in place of the interior pages.
class BootpSheetTest : public testing::WizardOnFakes {
 protected:
  void ShowRecording() { Show(testing::RecordingInteriorPages(m_log)); }
};

TEST_F(BootpSheetTest, SevenPagesInOrderWithTheTitleOnEachAndNoTestWizard) {
  ShowRecording();
  ASSERT_EQ(m_sheet->GetPageCount(), 7);
  const int ids[] = {kWelcomePageId, kListenPageId, kSetIpPageId, kAssignIpPageId,
                     kInstallPageId, kEndPageId, kEndPageId};
  for (int index = 0; index < 7; ++index) {
    EXPECT_EQ(m_sheet->GetPage(index)->DialogId(), ids[index]);
    EXPECT_EQ(m_sheet->GetPage(index)->Title(), "Varnholt - Quillnet " QUILLNET_TITLE_VERSION);
  }
  EXPECT_EQ(m_sheet->GetPage(5), &m_sheet->FailurePage());
  EXPECT_EQ(m_sheet->GetPage(6), &m_sheet->CompletionPage());
}

TEST_F(BootpSheetTest, CancelAndEscOnTheFirstFivePagesShowTheFailurePage) {
  ShowRecording();
  for (int index = 0; index < 5; ++index) {
    SCOPED_TRACE(::testing::Message() << "page " << index);
    ASSERT_TRUE(m_sheet->SetCurSel(index));
    Wizard().Run();
    EXPECT_TRUE(Wizard().CancelShown());
    m_log.clear();
    Wizard().Escape();
    EXPECT_EQ(m_sheet->GetCurrentIndex(), 5);
    EXPECT_FALSE(Wizard().Result()) << "Cancel never closes the wizard";
    if (index > 0) {
      EXPECT_EQ(m_log, std::vector<std::string>{"kill " + std::to_string(m_sheet->GetPage(index)->DialogId())});
    }
  }
}

TEST_F(BootpSheetTest, OnTheEndPagesEscDoesNothingBackGoesToListenAndCloseEndsTheWizard) {
  ShowRecording();
  for (int index : {5, 6}) {
    SCOPED_TRACE(index);
    ASSERT_TRUE(m_sheet->SetCurSel(index));
    Wizard().Run();
    EXPECT_EQ(Wizard().Buttons(), PSWIZB_BACK | PSWIZB_FINISH);
    EXPECT_FALSE(Wizard().CancelShown());
    Wizard().Escape();
    EXPECT_EQ(m_sheet->GetCurrentIndex(), index);
    ASSERT_TRUE(Wizard().Back());
    EXPECT_EQ(m_sheet->GetCurrentIndex(), 1);
    EXPECT_TRUE(Wizard().CancelShown());
    EXPECT_EQ(m_info->GetStatusMessage(), "From Finish Page");
  }
  // The window's close command ends the wizard from any page, with 0.
  Wizard().CloseWindow();
  EXPECT_EQ(Wizard().Result(), 0);
}

}  // namespace
}  // namespace quillnet
