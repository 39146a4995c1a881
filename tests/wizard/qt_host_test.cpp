// The Qt frame as a host of the pages: what it draws for them, and how its services behave.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTextCursor>
#include <QTextEdit>
#include <QTreeView>
#include <thread>

#include "bootp/bootp_server.h"
#include "dialogs/dialog_ids.h"
#include "pages/listen_page.h"
#include "tests/wizard/page_driver.h"
#include "tests/wizard/wizard_test_support.h"
#include "wizard/qt/gdiplus_bitmap.h"
#include "wizard/qt/ip_address_edit.h"

namespace quillnet {
namespace {

using testing::Click;
using testing::Find;
using testing::WaitFor;

class QtHostTest : public testing::QtWizardOnFakes {
 protected:
  testing::QtWizard Show(bool interiorPages = false) {
    m_info = std::make_unique<CBootpWizardInfo>(m_environment);
    m_info->LoadSettings();
    return MakeSheet(interiorPages);
  }
  // Whether each character of the summary in [from, to) is bold.
  static std::vector<bool> Bold(QTextEdit* edit, int from, int to) {
    std::vector<bool> bold;
    for (int position = from; position < to; ++position) {
      QTextCursor cursor(edit->document());
      cursor.setPosition(position + 1);  // the format of the character before the cursor
      bold.push_back(cursor.charFormat().fontWeight() >= QFont::Bold);
    }
    return bold;
  }
  static QLabel* Picture(QWidget* page) { return Find<QLabel>(page, "splashImage"); }
  // The wizard on its Listen page, hearing devices on one interface; false when it is not shown.
  bool ShowListenPage() {
    m_routes.rows = {{0xFFFFFFFFu, 0xFFFFFFFFu, testing::Ip(192, 168, 0, 5)}};
    ShowQt();
    const testing::PageDriver driver(*m_qt->Window());
    return driver.Click("nextButton") && WaitFor([&] { return driver.On("listenPage"); });
  }
  static void ClickHeader(QTreeView* list, int column) {
    QHeaderView* header = list->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
  }
  void Hear(DeviceKey mac) {
    testing::Request request;
    request.mac = mac;
    m_sockets.Push(request.Bytes());
  }
};

TEST_F(QtHostTest, ThePictureLiesAtTheTopLeftBelowTheTextsItDoesNotCarry) {
  auto wizard = Show();
  QtPageWindow* page = wizard.Current();
  auto* version = Find<QLineEdit>(page, "versionText");
  EXPECT_EQ(version->text(), kProgramVersion);
  EXPECT_TRUE(version->isReadOnly());
  ASSERT_TRUE(WaitFor([&] { return Picture(page) != nullptr; }));
  EXPECT_EQ(Picture(page)->geometry(), QRect(0, 0, 497, 314));
  for (const char* carried : {"titleText", "introText", "bullet1", "step1Text", "step3Text"}) {
    EXPECT_FALSE(Find<QWidget>(page, carried)->isVisible()) << carried;
  }
  for (const char* shown : {"versionText", "continueText", "localAddressLabel", "localAddressText"}) {
    QWidget* widget = Find<QWidget>(page, shown);
    EXPECT_TRUE(widget->isVisible()) << shown;
    EXPECT_GT(page->children().indexOf(widget), page->children().indexOf(Picture(page)))
        << shown << " is drawn below the picture";
    EXPECT_EQ(widget->palette().color(QPalette::WindowText), QColor(0xF2, 0xF6, 0xFA)) << shown;
  }
  // Without Marlett the bullets are bullets, never the letter h.
  if (QFontInfo(*wizard.Window()->GetBulletFont()).family() != "Marlett") {
    for (const char* bullet : {"bullet1", "bullet2", "bullet3"}) {
      EXPECT_EQ(Find<QLabel>(page, bullet)->text(), QString(QChar(0x2022)));
    }
  }
}

TEST_F(QtHostTest, SummariesAreBoldAsAskedInArialWithTabStopsOfFourAverageCharacters) {
  auto wizard = Show();
  Click(wizard.Window(), "cancelButton");
  ASSERT_EQ(wizard->GetCurrentIndex(), 1);
  auto* failure = Find<QTextEdit>(wizard.Current(), "summaryEdit");
  EXPECT_EQ(failure->toPlainText(), "WARNING:\nCancelled from Welcome Page.\n\n");
  EXPECT_EQ(Bold(failure, 0, 12), (std::vector<bool>{true, true, true, true, true, true, true,
                                                      true, false, false, false, false}));
  EXPECT_TRUE(failure->isReadOnly());
  ASSERT_TRUE(WaitFor([&] { return Picture(wizard.Current()) != nullptr; }));
  EXPECT_EQ(Picture(wizard.Current())->geometry(), QRect(0, 0, 164, 314));

  m_info->SetMacAddress("00:1b:2c:3d:4e:5f");
  ASSERT_TRUE(wizard->SetCurSel(wizard->GetPageCount() - 1));
  auto* summary = Find<QTextEdit>(wizard.Current(), "summaryEdit");
  EXPECT_EQ(Bold(summary, 0, 8), std::vector<bool>(8, false));
  EXPECT_EQ(summary->font().pointSize(), 10);
  EXPECT_EQ(QFontInfo(summary->font()).family(), QFontInfo(QFont("Arial")).family());
  // Arial's average character is 904/2048 of its size (its OS/2 table); Liberation Sans
  // has Arial's widths, whatever its own table says.
  const double average = QFontInfo(summary->font()).pixelSize() * 904.0 / 2048.0;
  EXPECT_NEAR(summary->tabStopDistance(), 4.0 * average, 4.0 * 0.5);
  EXPECT_DOUBLE_EQ(summary->tabStopDistance(), 4.0 * AverageCharWidth(summary->font()));
}

// A page's timer runs while the page is shown; what the page posts reaches it on the
// user-interface thread, and is dropped once the page's window is gone.
TEST_F(QtHostTest, TimersFireAndPostsAreDroppedOnceTheWindowIsGone) {
  auto wizard = Show();
  struct Ticking : testing::RecordingPage {
    using RecordingPage::RecordingPage;
    int ticks = 0;
    void OnTimer(int) override { ++ticks; }
  };
  std::vector<std::string> log;
  Ticking page(999, log);
  QtWizardSheet& sheet = *wizard.Window();
  bool ran = false;
  {
    QtPageWindow host(page, sheet);
    ASSERT_TRUE(host.Build(sheet.Units()));
    host.StartTimer(1, 10);
    EXPECT_TRUE(WaitFor([&] { return page.ticks >= 3; }));
    host.StopTimer(1);
    const int stopped = page.ticks;
    QTest::qWait(50);
    EXPECT_EQ(page.ticks, stopped);
    // From another thread, as a probe's result comes.
    std::thread([&] { host.Post([&] { ran = true; }); }).join();
    EXPECT_TRUE(WaitFor([&] { return ran; }));
    host.Post([&] { ran = false; });
  }
  // The window went before the loop ran the second post.
  QTest::qWait(50);
  EXPECT_TRUE(ran) << "a post to a window that is gone ran";
}

// Sorting is the list control's: a click on a column header sorts by it, and the selection
// stays on the chosen device while rows update and move.
TEST_F(QtHostTest, TheDeviceListSortsByTheClickedColumnAndTheSelectionStaysOnItsDevice) {
  ASSERT_TRUE(ShowListenPage());
  const testing::PageDriver driver(*m_qt->Window());
  constexpr DeviceKey kA = 0x02005E000001;
  constexpr DeviceKey kB = 0x02005E000002;
  constexpr DeviceKey kC = 0x02005E000003;
  // A asks once, B twice, C three times.
  for (const DeviceKey device : {kA, kB, kB, kC, kC, kC}) Hear(device);
  ASSERT_TRUE(WaitFor([&] {
    return driver.ListedMacs().size() == 3 &&
           driver.List()->model()->index(2, 1).data().toString() == "3";
  }));
  driver.ClickRow(0);
  ASSERT_TRUE(WaitFor([&] { return driver.Enabled("nextButton"); }));
  ASSERT_EQ(m_info->GetMacAddress(), "02:00:5e:00:00:01");

  ClickHeader(driver.List(), CDeviceList::kCountColumn);
  ClickHeader(driver.List(), CDeviceList::kCountColumn);
  ASSERT_TRUE(WaitFor([&] {
    return driver.ListedMacs() ==
           QStringList({"02:00:5e:00:00:03", "02:00:5e:00:00:02", "02:00:5e:00:00:01"});
  }));
  EXPECT_EQ(driver.SelectedMac(), "02:00:5e:00:00:01");

  // A asks on and climbs past the others, as numbers (10 above 9), with the selection.
  for (int request = 0; request < 9; ++request) Hear(kA);
  ASSERT_TRUE(WaitFor([&] {
    return driver.ListedMacs().first() == "02:00:5e:00:00:01" &&
           driver.List()->model()->index(0, 1).data().toString() == "10";
  }));
  QTest::qWait(3 * CListenDlg::kTimerMs);
  EXPECT_EQ(driver.SelectedMac(), "02:00:5e:00:00:01");
  EXPECT_EQ(m_info->GetMacAddress(), "02:00:5e:00:00:01");
}

// After every sort the chosen device stays in sight, as in the Win32 frame: when a header click
// sorts the list, when its own requests take it below the rows shown, and when a device heard
// later comes in above it. Devices that asked as often stand in the order they were heard.
TEST_F(QtHostTest, TheSelectedDeviceStaysInSightWhenTheListSortsItselfAgain) {
  ASSERT_TRUE(ShowListenPage());
  const testing::PageDriver driver(*m_qt->Window());
  constexpr int kDevices = 40;
  constexpr DeviceKey kFirst = 0x02005E000100;
  for (int device = 0; device < kDevices; ++device) Hear(kFirst + device);
  ASSERT_TRUE(WaitFor([&] { return driver.ListedMacs().size() == kDevices; }));
  const QStringList heard = driver.ListedMacs();
  QTreeView* list = driver.List();
  auto selectedInSight = [&] {
    const QModelIndexList selected = list->selectionModel()->selectedRows();
    return selected.size() == 1 &&
           list->viewport()->rect().contains(list->visualRect(selected.first()));
  };

  // By MAC address downwards: the first device heard is last, and chosen there.
  ClickHeader(list, CDeviceList::kMacColumn);
  ClickHeader(list, CDeviceList::kMacColumn);
  ASSERT_TRUE(WaitFor([&] { return driver.ListedMacs().last() == heard.first(); }));
  list->scrollToBottom();
  driver.ClickRow(kDevices - 1);
  ASSERT_TRUE(WaitFor([&] { return driver.SelectedMac() == heard.first(); }));
  // By count: every device asked once, so the list stands as heard, the chosen device on top.
  ClickHeader(list, CDeviceList::kCountColumn);
  ASSERT_TRUE(WaitFor([&] { return driver.ListedMacs() == heard; }));
  EXPECT_TRUE(WaitFor(selectedInSight));

  // It asks again, and its count takes it to the bottom, far below the rows shown.
  Hear(kFirst);
  ASSERT_TRUE(WaitFor([&] { return driver.ListedMacs().last() == heard.first(); }));
  EXPECT_EQ(driver.SelectedMac(), heard.first());
  EXPECT_TRUE(WaitFor(selectedInSight)) << "the sort left the chosen device out of sight";

  // Devices heard for the first time come in above it and push it down.
  for (int device = kDevices; device < kDevices + 3; ++device) Hear(kFirst + device);
  ASSERT_TRUE(WaitFor([&] { return driver.ListedMacs().size() == kDevices + 3; }));
  EXPECT_EQ(driver.ListedMacs().last(), heard.first());
  EXPECT_TRUE(WaitFor(selectedInSight)) << "new devices pushed the chosen one out of sight";
}

// Keys alone, as a Windows user's hands expect: Tab into the device list selects a row, Down
// the next; on every visit of the Set IP page typing starts in the address, where it is open.
TEST_F(QtHostTest, TheKeyboardAloneChoosesADeviceAndTypesItsAddressOnEveryVisit) {
  ASSERT_TRUE(ShowListenPage());
  const testing::PageDriver driver(*m_qt->Window());
  Hear(0x02005E000001);
  Hear(0x02005E000002);
  ASSERT_TRUE(WaitFor([&] { return driver.ListedMacs().size() == 2; }));
  m_qt->Window()->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(m_qt->Window()));
  // The page starts in the list, still empty then; away from it and back with the keys.
  ASSERT_EQ(QApplication::focusWidget(), driver.List());
  QTest::keyClick(driver.List(), Qt::Key_Tab);
  ASSERT_NE(QApplication::focusWidget(), driver.List());
  EXPECT_EQ(driver.SelectedMac(), "");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
  ASSERT_EQ(QApplication::focusWidget(), driver.List());
  EXPECT_EQ(driver.SelectedMac(), "02:00:5e:00:00:01");
  QTest::keyClick(driver.List(), Qt::Key_Down);
  EXPECT_EQ(driver.SelectedMac(), "02:00:5e:00:00:02");
  ASSERT_TRUE(WaitFor([&] { return driver.Enabled("nextButton"); }));
  QTest::keyClick(driver.List(), Qt::Key_Return);
  ASSERT_TRUE(WaitFor([&] { return driver.On("setIpPage"); }));

  const auto typeKeys = [](const char* keys) {
    for (; *keys != '\0'; ++keys) QTest::keyClick(QApplication::focusWidget(), *keys);
  };
  ASSERT_TRUE(WaitFor([&] { return driver.Entry("ipAddressEdit")->field(3)->hasFocus(); }));
  typeKeys("20");
  EXPECT_EQ(driver.Entry("ipAddressEdit")->text(), "192.168.0.20");
  // The gateway has the focus when the page is left; on the next visit typing starts in the
  // address again.
  driver.Entry("gatewayEdit")->setFieldFocus(0);
  ASSERT_TRUE(driver.Click("backButton"));
  ASSERT_TRUE(WaitFor([&] { return driver.On("listenPage"); }));
  ASSERT_TRUE(driver.Click("nextButton"));
  ASSERT_TRUE(WaitFor([&] { return driver.On("setIpPage"); }));
  ASSERT_TRUE(WaitFor([&] { return driver.Entry("ipAddressEdit")->field(3)->hasFocus(); }));
  typeKeys("21");
  EXPECT_EQ(driver.Entry("ipAddressEdit")->text(), "192.168.0.21");
  EXPECT_EQ(driver.Entry("gatewayEdit")->text(), "");
}

TEST(PictureResource, LoadsAtItsStoredSizeAndRefusesWhatItCannotDecode) {
  CGdiPlusBitmapResource picture;
  ASSERT_TRUE(picture.Load(135, "JPEG"));
  EXPECT_EQ(picture.Handle().size(), QSize(497, 314));
  ASSERT_TRUE(picture.Load(137, "JPEG"));
  EXPECT_EQ(picture.Bitmap().size(), QSize(164, 314));
  EXPECT_FALSE(picture.Load(999, "JPEG"));
  EXPECT_TRUE(picture.Bitmap().isNull());
  EXPECT_TRUE(picture.Handle().isNull());
  // The dialog templates are resources too, but no picture.
  EXPECT_FALSE(picture.Load(115, "dialogs"));
  EXPECT_TRUE(picture.Handle().isNull());
}

}  // namespace
}  // namespace quillnet
