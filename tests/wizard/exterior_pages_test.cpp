#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>

#include "bootp/bootp_server.h"
#include "tests/wizard/wizard_test_support.h"
#include "wizard/exterior_pages.h"
#include "wizard/gdiplus_bitmap.h"

namespace quillnet {
namespace {

using testing::Click;
using testing::Find;
using testing::WaitFor;

class ExteriorPagesTest : public testing::WizardOnFakes {
 protected:
  std::unique_ptr<CBootpWizardSheet> Show(bool interiorPages = false) {
    m_info = std::make_unique<CBootpWizardInfo>(m_environment);
    m_info->LoadSettings();
    return MakeSheet(interiorPages);
  }
  static QTextEdit* Summary(QWidget* page) { return Find<QTextEdit>(page, "summaryEdit"); }
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
};

TEST_F(ExteriorPagesTest, WelcomeShowsVersionAndAddressOverItsPictureWithNextOnly) {
  auto sheet = Show();
  CBootpWizardWelcomePage& page = sheet->WelcomePage();
  ASSERT_TRUE(WaitFor([&] { return sheet->WizButtons() == PSWIZB_NEXT; }));
  EXPECT_FALSE(Find<QPushButton>(sheet.get(), "backButton")->isEnabled());

  auto* version = Find<QLineEdit>(&page, "versionText");
  EXPECT_EQ(version->text(), kProgramVersion);
  EXPECT_TRUE(version->isReadOnly());
  EXPECT_EQ(Find<QLabel>(&page, "localAddressText")->text(), "192.168.0.5");
  EXPECT_EQ(m_info->GetSubnetMask(), "255.255.255.0");

  // The picture sits at the top-left at its own size, under the controls; the texts it
  // carries are not printed again, the others stay on top of it.
  ASSERT_TRUE(WaitFor([&] { return page.SplashControl() != nullptr; }));
  EXPECT_EQ(page.SplashControl()->geometry(), QRect(0, 0, 497, 314));
  for (const char* carried : {"titleText", "introText", "bullet1", "step1Text", "step3Text"}) {
    EXPECT_FALSE(Find<QWidget>(&page, carried)->isVisible()) << carried;
  }
  for (const char* shown : {"versionText", "continueText", "localAddressLabel", "localAddressText"}) {
    QWidget* widget = Find<QWidget>(&page, shown);
    EXPECT_TRUE(widget->isVisible()) << shown;
    EXPECT_GT(page.children().indexOf(widget), page.children().indexOf(page.SplashControl()))
        << shown << " is drawn below the picture";
  }
  // Without Marlett the bullets are bullets, never the letter h.
  if (QFontInfo(*sheet->GetBulletFont()).family() != "Marlett") {
    for (const char* bullet : {"bullet1", "bullet2", "bullet3"}) {
      EXPECT_EQ(Find<QLabel>(&page, bullet)->text(), QString(QChar(0x2022)));
    }
  }
  // Back is refused; Next goes on (here straight to the Failure page: no interior pages).
  EXPECT_EQ(page.OnWizardBack(), -1);
  Click(sheet.get(), "nextButton");
  EXPECT_EQ(sheet->GetCurrentIndex(), 1);
}

TEST_F(ExteriorPagesTest, WelcomeShowsNoAddressWhenTheAdapterQueryFails) {
  m_adapters.result = AdapterQueryResult::kNoData;
  m_adapters.adapters.clear();
  auto sheet = Show();
  EXPECT_EQ(Find<QLabel>(&sheet->WelcomePage(), "localAddressText")->text(), "");
}

TEST_F(ExteriorPagesTest, CancelOnWelcomeShowsTheWarningWithItsFirstEightCharactersBold) {
  auto sheet = Show();
  EXPECT_EQ(m_serversMade, 0);
  Click(sheet.get(), "cancelButton");
  CBootpWizardFailurePage& page = sheet->FailurePage();
  ASSERT_EQ(sheet->GetCurrentIndex(), 1);
  EXPECT_EQ(m_serversMade, 1) << "the server is made to read its message";
  EXPECT_EQ(Find<QLabel>(&page, "titleText")->text(), "Cancelled");
  EXPECT_EQ(Find<QLabel>(&page, "resultText")->text(), "You did not complete an IP assignment.");
  EXPECT_EQ(Find<QLabel>(&page, "finishHintText")->text(),
            "Click Finish to exit, or click Back to start over.");
  QTextEdit* summary = Summary(&page);
  EXPECT_EQ(summary->toPlainText(), "WARNING:\nCancelled from Welcome Page.\n\n");
  EXPECT_EQ(Bold(summary, 0, 12), (std::vector<bool>{true, true, true, true, true, true, true,
                                                      true, false, false, false, false}));
  EXPECT_TRUE(summary->isReadOnly());
  ASSERT_TRUE(WaitFor([&] { return page.SplashControl() != nullptr; }));
  EXPECT_EQ(page.SplashControl()->geometry(), QRect(0, 0, 164, 314));
}

TEST_F(ExteriorPagesTest, ServerFailureTakesPrecedenceAndIsReadAgainOnEachVisit) {
  auto sheet = Show(true);
  m_sockets.openError = 10048;
  m_info->SetStatusMessage("ignored");
  ASSERT_FALSE(m_info->GetServer()->Start());
  std::string error;
  m_info->GetServer()->GetMessageText(error);
  ASSERT_FALSE(error.empty());

  ASSERT_TRUE(sheet->SetCurSel(1));
  QTest::keyClick(sheet.get(), Qt::Key_Escape);
  QTextEdit* summary = Summary(&sheet->FailurePage());
  EXPECT_EQ(summary->toPlainText(), RichEditText("ERROR:  \r\n" + error + "\r\n"));
  EXPECT_EQ(Bold(summary, 0, 9), (std::vector<bool>{true, true, true, true, true, true, true,
                                                    true, false}));

  // Back to the Listen page; the server starts after all, so the next visit shows the
  // Listen page's reason in place of the old error.
  m_sockets.openError = 0;
  ASSERT_TRUE(m_info->GetServer()->Start());
  ASSERT_TRUE(WaitFor([&] { return sheet->WizButtons() == (PSWIZB_BACK | PSWIZB_FINISH); }));
  Click(sheet.get(), "backButton");
  ASSERT_EQ(sheet->GetCurrentIndex(), 1);
  m_info->SetStatusMessage("You have not selected a device for IP assignment.");
  // The recording page sets no text of its own, so the one above stands.
  sheet->SetCurSel(5);
  EXPECT_EQ(summary->toPlainText(),
            "WARNING:\nYou have not selected a device for IP assignment.\n\n");
  EXPECT_EQ(Bold(summary, 7, 10), (std::vector<bool>{true, false, false}));
}

TEST_F(ExteriorPagesTest, CompletionListsTheAssignedValuesOnTabStopsOfFourAverageCharacters) {
  auto sheet = Show();
  m_info->SetMacAddress("00:1b:2c:3d:4e:5f");
  m_info->SetIpAddress("192.168.0.20");
  m_info->SetSubnetMask("255.255.255.0");
  m_info->SetDefaultGateway("192.168.0.1");
  ASSERT_TRUE(sheet->SetCurSel(sheet->GetPageCount() - 1));
  CBootpWizardCompletionPage& page = sheet->CompletionPage();
  EXPECT_EQ(Find<QLabel>(&page, "titleText")->text(), "Congratulations");
  QTextEdit* summary = Summary(&page);
  EXPECT_EQ(summary->toPlainText(),
            "Successfully assigned MAC address:\n\t00:1b:2c:3d:4e:5f\n\nthe following: \n"
            "\tIP address: \t\t\t192.168.0.20\n\tSubnet mask: \t\t255.255.255.0\n"
            "\tDefault gateway: \t192.168.0.1\n");
  EXPECT_EQ(Bold(summary, 0, 8), std::vector<bool>(8, false));
  EXPECT_EQ(summary->font().pointSize(), 10);
  EXPECT_EQ(QFontInfo(summary->font()).family(), QFontInfo(QFont("Arial")).family());
  // Arial's average character is 904/2048 of its size (its OS/2 table); Liberation Sans
  // has Arial's widths, whatever its own table says.
  const double average = QFontInfo(summary->font()).pixelSize() * 904.0 / 2048.0;
  EXPECT_NEAR(summary->tabStopDistance(), 4.0 * average, 4.0 * 0.5);
  EXPECT_DOUBLE_EQ(summary->tabStopDistance(), 4.0 * AverageCharWidth(summary->font()));
  ASSERT_TRUE(WaitFor([&] { return sheet->WizButtons() == (PSWIZB_BACK | PSWIZB_FINISH); }));
  ASSERT_TRUE(WaitFor([&] { return page.SplashControl() != nullptr; }));
  EXPECT_EQ(page.SplashControl()->geometry(), QRect(0, 0, 164, 314));
}

TEST_F(ExteriorPagesTest, InstallBoxIsOfferedOnlyWithAnInstallPageAndWhileNotInstalled) {
  {
    auto sheet = Show(false);
    ASSERT_TRUE(sheet->SetCurSel(sheet->GetPageCount() - 1));
    EXPECT_FALSE(Find<QCheckBox>(&sheet->CompletionPage(), "installCheck")->isVisible());
  }
  {
    auto sheet = Show(true);
    ASSERT_TRUE(sheet->SetCurSel(6));
    auto* box = Find<QCheckBox>(&sheet->CompletionPage(), "installCheck");
    ASSERT_TRUE(box->isVisible());
    EXPECT_FALSE(box->isChecked());
    ASSERT_TRUE(WaitFor([&] { return sheet->WizButtons() == (PSWIZB_BACK | PSWIZB_FINISH); }));
    QTest::mouseClick(box, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return sheet->WizButtons() == (PSWIZB_BACK | PSWIZB_NEXT); }));
    Click(sheet.get(), "nextButton");
    EXPECT_EQ(sheet->GetCurrentIndex(), 4);
    // Coming back with the box still ticked keeps Next on offer.
    ASSERT_TRUE(sheet->SetCurSel(6));
    ASSERT_TRUE(WaitFor([&] { return sheet->WizButtons() == (PSWIZB_BACK | PSWIZB_NEXT); }));
    QTest::mouseClick(box, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return sheet->WizButtons() == (PSWIZB_BACK | PSWIZB_FINISH); }));
  }
  {
    CBootpWizardInfo(m_environment).SaveInstalled(true, kProgramVersion);
    auto sheet = Show(true);
    ASSERT_TRUE(m_info->IsInstalled());
    ASSERT_TRUE(sheet->SetCurSel(5));
    auto* box = Find<QCheckBox>(&sheet->FailurePage(), "installCheck");
    EXPECT_FALSE(box->isVisible());
    EXPECT_TRUE(box->isChecked()) << "preset from the installed state";
  }
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
