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

// The Qt frame: where the focus starts, where the buttons sit, icons and fonts, the modal loop.
// What the sheet does on each button is tested with the pages' logic.

// For messages: the object name of the window's focus widget.
std::string FocusName(QWidget* window) {
  QWidget* focus = window->focusWidget();
  return focus == nullptr ? "nothing" : focus->objectName().toStdString();
}

// A plain sheet over four recording pages 501 to 504, in the Qt frame.
class FrameTest : public ::testing::Test {
 protected:
  FrameTest() : m_logic("Test Wizard", 0), m_sheet(m_logic) {
    for (int id = 501; id <= 504; ++id) {
      m_pages.push_back(std::make_unique<RecordingPage>(id, m_log));
      m_logic.AddPage(m_pages.back().get());
    }
  }
  void SetUp() override {
    ASSERT_TRUE(m_sheet.ShowModeless());
    ASSERT_TRUE(WaitFor([&] { return m_sheet.WizButtons() == (PSWIZB_BACK | PSWIZB_NEXT); }));
    m_log.clear();
  }
  RecordingPage& Page(int index) { return *m_pages[static_cast<std::size_t>(index)]; }

  std::vector<std::string> m_log;
  std::vector<std::unique_ptr<RecordingPage>> m_pages;
  CWizard97SheetImpl m_logic;
  QtWizardSheet m_sheet;
};

TEST_F(FrameTest, ButtonRequestsTakeEffectAfterTheHandlerInTheOrderPosted) {
  Page(1).buttons = PSWIZB_BACK | PSWIZB_FINISH;
  ASSERT_TRUE(m_logic.SetCurSel(1));
  // Still the earlier set: the request waits for the event loop.
  EXPECT_EQ(m_sheet.WizButtons(), PSWIZB_BACK | PSWIZB_NEXT);
  ASSERT_TRUE(WaitFor([&] { return m_sheet.WizButtons() == (PSWIZB_BACK | PSWIZB_FINISH); }));
  EXPECT_TRUE(Find<QPushButton>(&m_sheet, "finishButton")->isVisible());
  EXPECT_FALSE(Find<QPushButton>(&m_sheet, "nextButton")->isVisible());

  m_logic.PostSetWizButtons(PSWIZB_NEXT);
  m_logic.PostSetWizButtons(PSWIZB_BACK);
  m_logic.PostSetWizButtons(0);
  m_logic.PostSetWizButtons(PSWIZB_BACK | PSWIZB_NEXT);
  ASSERT_TRUE(WaitFor([&] { return m_sheet.WizButtons() == (PSWIZB_BACK | PSWIZB_NEXT); }));
  EXPECT_TRUE(Find<QPushButton>(&m_sheet, "nextButton")->isEnabled());
  EXPECT_TRUE(Find<QPushButton>(&m_sheet, "backButton")->isEnabled());

  // A disabled Next does nothing, even when asked for.
  m_logic.PostSetWizButtons(PSWIZB_BACK);
  ASSERT_TRUE(WaitFor([&] { return m_sheet.WizButtons() == PSWIZB_BACK; }));
  m_logic.PressNext();
  EXPECT_EQ(m_logic.GetCurrentIndex(), 1);
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
      {0, nullptr},
  };
  for (const auto& [buttons, focus] : cases) {
    SCOPED_TRACE(buttons);
    ASSERT_TRUE(m_logic.SetCurSel(0));
    cancel->setFocus(Qt::TabFocusReason);
    Page(1).buttons = buttons;
    ASSERT_TRUE(m_logic.SetCurSel(1));
    QWidget* const expected = focus != nullptr ? focus : m_sheet.PageWindow(1);
    EXPECT_TRUE(WaitFor([&] { return m_sheet.focusWidget() == expected; }))
        << "focus on " << FocusName(&m_sheet);
  }

  // Next turning into Finish under the focus hands the focus on to Finish.
  Page(1).buttons = PSWIZB_BACK | PSWIZB_NEXT;
  ASSERT_TRUE(m_logic.SetCurSel(0));
  ASSERT_TRUE(m_logic.SetCurSel(1));
  auto* next = Find<QWidget>(&m_sheet, "nextButton");
  ASSERT_TRUE(WaitFor([&] { return m_sheet.focusWidget() == next; }));
  m_logic.PostSetWizButtons(PSWIZB_BACK | PSWIZB_FINISH);
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
class BootpSheetTest : public testing::QtWizardOnFakes {
 protected:
  BootpSheetTest() { m_info = std::make_unique<CBootpWizardInfo>(m_environment); }
};

TEST_F(BootpSheetTest, ButtonsKeepTheirPlacesAndNoPageStartsOnCancel) {
  auto wizard = MakeSheet(true);
  auto* back = Find<QPushButton>(wizard.Window(), "backButton");
  auto* next = Find<QPushButton>(wizard.Window(), "nextButton");
  auto* finish = Find<QPushButton>(wizard.Window(), "finishButton");
  auto* cancel = Find<QPushButton>(wizard.Window(), "cancelButton");
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
  ASSERT_EQ(wizard->GetPageCount(), 7);
  int backX = -1;
  int nextOrFinishX = -1;
  for (int index = 0; index < 7; ++index) {
    SCOPED_TRACE(::testing::Message() << "page " << index);
    QWidget* page = nullptr;
    // A button set no page asks for, so that the page's own can be seen to arrive; and the
    // focus on Cancel, as for a user who has tabbed there.
    wizard->PostSetWizButtons(PSWIZB_BACK);
    ASSERT_TRUE(WaitFor([&] { return wizard.Window()->WizButtons() == PSWIZB_BACK; }));
    if (cancel->isVisible()) cancel->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(wizard->SetCurSel(index));
    page = wizard.Current();
    ASSERT_TRUE(WaitFor([&] { return wizard.Window()->WizButtons() == pages[index].buttons; }));
    const auto focused = [&] { return wizard.Window()->focusWidget(); };
    if (pages[index].focus != nullptr) {
      QWidget* expected = Find<QWidget>(page, pages[index].focus);
      if (expected == nullptr) expected = Find<QWidget>(wizard.Window(), pages[index].focus);
      EXPECT_TRUE(WaitFor([&] { return focused() == expected; }))
          << "focus on " << FocusName(wizard.Window());
    } else {
      EXPECT_TRUE(WaitFor([&] { return focused() != cancel; }));
      EXPECT_TRUE(focused() == next || (focused() != page && page->isAncestorOf(focused())))
          << "focus on " << FocusName(wizard.Window());
    }
    EXPECT_NE(focused(), cancel);

    // Next and Finish take turns in one slot; Back stays put, Cancel shown or hidden.
    wizard.Window()->layout()->activate();
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
    auto wizard = MakeSheet(false);
    ASSERT_TRUE(wizard->SetCurSel(index == 0 ? 0 : wizard->GetPageCount() - 2));
    EXPECT_TRUE(wizard.Window()->close());
    EXPECT_FALSE(wizard.Window()->isVisible());
    EXPECT_EQ(wizard.Window()->result(), 0);
  }
}

TEST_F(BootpSheetTest, FinishEndsTheModalWizardWithOneAndRestoresTheCursor) {
  CBootpWizardSheet pages(m_info.get(), 0, {});
  QtWizardSheet sheet(pages);
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
  auto wizard = MakeSheet(false);
  ASSERT_TRUE(WaitFor([&] { return !wizard.Window()->windowIcon().isNull(); }));
  const qint64 icon = wizard.Window()->windowIcon().cacheKey();
  EXPECT_TRUE(wizard.Window()->windowIcon().availableSizes().contains(QSize(48, 48)));
  QResizeEvent resize(QSize(800, 600), wizard.Window()->size());
  QApplication::sendEvent(wizard.Window(), &resize);
  EXPECT_EQ(wizard.Window()->windowIcon().cacheKey(), icon);

  const QFont* title = wizard.Window()->GetExteriorPageTitleFont();
  ASSERT_NE(title, nullptr);
  EXPECT_TRUE(title->bold());
  EXPECT_EQ(title->pointSize(), 12);
  const QFont* bullet = wizard.Window()->GetBulletFont();
  ASSERT_NE(bullet, nullptr);
  EXPECT_EQ(bullet->family(), "Marlett");
  EXPECT_EQ(bullet->pointSize(), 8);
  EXPECT_EQ(Find<QLabel>(wizard.Window()->PageWindow(0), "titleText")->font(), *title);
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
