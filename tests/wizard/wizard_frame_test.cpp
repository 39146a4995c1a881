#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
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

// For messages: the object name of the window's focus widget.
std::string FocusName(QWidget* window) {
  QWidget* focus = window->focusWidget();
  return focus == nullptr ? "nothing" : focus->objectName().toStdString();
}

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

TEST_F(FrameTest, PageWithoutControlsStartsOnTheButtonToPressNeverOnCancel) {
  auto* cancel = Find<QPushButton>(&m_sheet, "cancelButton");
  const struct {
    int buttons;
    QWidget* focus;
  } cases[] = {
      {PSWIZB_BACK | PSWIZB_NEXT, Find<QWidget>(&m_sheet, "nextButton")},
      {PSWIZB_BACK | PSWIZB_FINISH, Find<QWidget>(&m_sheet, "finishButton")},
      {PSWIZB_BACK, Find<QWidget>(&m_sheet, "backButton")},
      {0, &Page(1)},
  };
  for (const auto& [buttons, focus] : cases) {
    SCOPED_TRACE(buttons);
    ASSERT_TRUE(m_sheet.SetCurSel(0));
    cancel->setFocus(Qt::TabFocusReason);
    Page(1).buttons = buttons;
    ASSERT_TRUE(m_sheet.SetCurSel(1));
    EXPECT_TRUE(WaitFor([&] { return m_sheet.focusWidget() == focus; }))
        << "focus on " << FocusName(&m_sheet);
  }

  // Next turning into Finish under the focus hands the focus on to Finish.
  Page(1).buttons = PSWIZB_BACK | PSWIZB_NEXT;
  ASSERT_TRUE(m_sheet.SetCurSel(0));
  ASSERT_TRUE(m_sheet.SetCurSel(1));
  auto* next = Find<QWidget>(&m_sheet, "nextButton");
  ASSERT_TRUE(WaitFor([&] { return m_sheet.focusWidget() == next; }));
  m_sheet.PostSetWizButtons(PSWIZB_BACK | PSWIZB_FINISH);
  ASSERT_TRUE(WaitFor([&] { return m_sheet.WizButtons() == (PSWIZB_BACK | PSWIZB_FINISH); }));
  EXPECT_EQ(m_sheet.focusWidget(), Find<QWidget>(&m_sheet, "finishButton"));
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
    EXPECT_EQ(sheet->windowTitle(), "Varnholt - Quillnet " QUILLNET_TITLE_VERSION);
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

TEST_F(BootpSheetTest, ButtonsKeepTheirPlacesAndNoPageStartsOnCancel) {
  auto sheet = MakeSheet(true);
  auto* back = Find<QPushButton>(sheet.get(), "backButton");
  auto* next = Find<QPushButton>(sheet.get(), "nextButton");
  auto* finish = Find<QPushButton>(sheet.get(), "finishButton");
  auto* cancel = Find<QPushButton>(sheet.get(), "cancelButton");
  const struct {
    int buttons;
    // Where the first focus must be, where the page's template decides (read-only fields are
    // skipped); elsewhere it is on a control of the page or on Next.
    const char* focus;
  } pages[] = {
      {PSWIZB_NEXT, "nextButton"},           {PSWIZB_BACK | PSWIZB_NEXT, nullptr},
      {PSWIZB_BACK | PSWIZB_NEXT, nullptr},  {PSWIZB_BACK | PSWIZB_NEXT, nullptr},
      {PSWIZB_BACK | PSWIZB_NEXT, nullptr},  {PSWIZB_BACK | PSWIZB_FINISH, "installCheck"},
      {PSWIZB_BACK | PSWIZB_FINISH, "installCheck"}};
  ASSERT_EQ(sheet->GetPageCount(), 7);
  int backX = -1;
  int nextOrFinishX = -1;
  for (int index = 0; index < 7; ++index) {
    SCOPED_TRACE(::testing::Message() << "page " << index);
    CWizard97PageImpl* page = sheet->GetPage(index);
    // A button set no page asks for, so that the page's own can be seen to arrive; and the
    // focus on Cancel, as for a user who has tabbed there.
    sheet->PostSetWizButtons(PSWIZB_BACK);
    ASSERT_TRUE(WaitFor([&] { return sheet->WizButtons() == PSWIZB_BACK; }));
    if (cancel->isVisible()) cancel->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(sheet->SetCurSel(index));
    ASSERT_TRUE(WaitFor([&] { return sheet->WizButtons() == pages[index].buttons; }));
    const auto focused = [&] { return sheet->focusWidget(); };
    if (pages[index].focus != nullptr) {
      QWidget* expected = Find<QWidget>(page, pages[index].focus);
      if (expected == nullptr) expected = Find<QWidget>(sheet.get(), pages[index].focus);
      EXPECT_TRUE(WaitFor([&] { return focused() == expected; }))
          << "focus on " << FocusName(sheet.get());
    } else {
      EXPECT_TRUE(WaitFor([&] { return focused() != cancel; }));
      EXPECT_TRUE(focused() == next || (focused() != page && page->isAncestorOf(focused())))
          << "focus on " << FocusName(sheet.get());
    }
    EXPECT_NE(focused(), cancel);

    // Next and Finish take turns in one slot; Back stays put, Cancel shown or hidden.
    sheet->layout()->activate();
    QPushButton* nextOrFinish = next->isHidden() ? finish : next;
    if (index == 0) {
      backX = back->x();
      nextOrFinishX = nextOrFinish->x();
    }
    EXPECT_EQ(back->x(), backX) << "Cancel " << (cancel->isHidden() ? "hidden" : "shown");
    EXPECT_EQ(nextOrFinish->x(), nextOrFinishX) << qPrintable(nextOrFinish->objectName());
  }
  EXPECT_TRUE(cancel->isHidden()) << "the last page shown is an end page";
  EXPECT_FALSE(finish->isHidden());
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

TEST(DialogTemplate, MalformedTemplatesAreRefusedWithTheReason) {
  const struct {
    const char* json;
    const char* reason;
  } cases[] = {
      {R"({"id": 115,, "controls": []})", "not JSON: unterminated object at offset 12"},
      {R"([115])", "not a JSON object"},
      {R"({"id": 116, "controls": []})", "holds dialog 116, not 115"},
      {R"({"controls": []})", "no dialog id"},
      {R"({"id": 115})", "no list of controls"},
      {R"({"id": 115, "controls": [{"name": "list", "kind": "combobox", "rect": [0, 0, 9, 9]}]})",
       "control \"list\" has the unknown kind \"combobox\""},
      {R"({"id": 115, "controls": [{"kind": "static", "rect": [0, 0, 9]}]})",
       "control 0 has a rect that is not [x, y, width, height]"},
      {R"({"id": 115, "controls": [{"id": 7, "kind": "static", "rect": [0, 0, 9, 9]},
                                   {"id": 7, "name": "b", "kind": "edit", "rect": [0, 9, 9, 9]}]})",
       "control \"b\" repeats the id 7"},
  };
  for (const auto& [json, reason] : cases) {
    SCOPED_TRACE(json);
    DialogTemplate dialog;
    dialog.caption = QStringLiteral("untouched");
    QString error;
    EXPECT_FALSE(ParseDialogTemplate(json, 115, dialog, error));
    EXPECT_EQ(error.toStdString(), reason);
    EXPECT_EQ(dialog.caption, "untouched");
  }

  DialogTemplate dialog;
  QString error;
  ASSERT_TRUE(ParseDialogTemplate(R"({"id": 115, "caption": "Welcome", "controls": [
                                       {"id": 7, "kind": "edit", "rect": [1, 2, 3, 4]}]})",
                                  115, dialog, error))
      << error.toStdString();
  ASSERT_EQ(dialog.controls.size(), 1u);
  EXPECT_EQ(dialog.controls[0].rect, QRect(1, 2, 3, 4));
  EXPECT_EQ(dialog.controls[0].kind, DialogControl::Kind::kEdit);

  // A template that is not there at all is named with its file.
  EXPECT_FALSE(HasDialogTemplate(999));
  EXPECT_FALSE(LoadDialogTemplate(999, dialog, error));
  EXPECT_EQ(error, ":/dialogs/999.json: missing");
}

// A broken template in the resources would make its page refuse to show.
TEST(DialogTemplate, EveryTemplateInTheResourcesLoads) {
  const QFileInfoList files = QDir(QStringLiteral(":/dialogs")).entryInfoList(QDir::Files);
  ASSERT_FALSE(files.isEmpty());
  for (const QFileInfo& file : files) {
    SCOPED_TRACE(file.filePath().toStdString());
    bool numbered = false;
    const int id = file.completeBaseName().toInt(&numbered);
    EXPECT_TRUE(numbered && file.suffix() == "json") << "a template is found by its dialog number";
    if (!numbered) continue;
    EXPECT_TRUE(HasDialogTemplate(id));
    DialogTemplate dialog;
    QString error;
    EXPECT_TRUE(LoadDialogTemplate(id, dialog, error)) << error.toStdString();
    EXPECT_FALSE(dialog.controls.empty());
  }
}

}  // namespace
}  // namespace quillnet
