// The Welcome, Failure and Completion pages' logic, in the fake frame.
#include <gtest/gtest.h>

#include "dialogs/dialog_ids.h"
#include "pages/exterior_pages.h"
#include "tests/pages/page_test_support.h"

namespace quillnet {
namespace {

class ExteriorPagesTest : public testing::WizardOnFakes {
 protected:
  void ShowWith(bool interiorPages) {
    Show(interiorPages ? testing::RecordingInteriorPages(m_log) : InteriorPageMaker{});
  }
  std::string Summary() const { return Wizard().Window().Text(IDC_SUMMARY); }
};

TEST_F(ExteriorPagesTest, WelcomeShowsVersionAndAddressOverItsPictureWithNextOnly) {
  ShowWith(false);
  const testing::FakePageWindow& page = Wizard().Window();
  EXPECT_EQ(Wizard().Page(), "welcomePage");
  EXPECT_EQ(Wizard().Buttons(), PSWIZB_NEXT);
  EXPECT_EQ(page.Text(IDC_VERSION), kProgramVersion);
  EXPECT_EQ(page.Text(IDC_LOCAL_ADDRESS), "192.168.0.5");
  EXPECT_EQ(m_info->GetSubnetMask(), "255.255.255.0");
  EXPECT_EQ(page.fonts.at(IDC_TITLE), FontRole::kExteriorTitle);
  EXPECT_EQ(page.fonts.at(IDC_BULLET2), FontRole::kBullet);

  // The picture carries the title, the introduction and the steps: their controls go, and
  // the texts that only exist as controls sit on its panel.
  EXPECT_EQ(page.picture, kWelcomePicture);
  for (const int carried : {IDC_TITLE, IDC_INTRO, IDC_BULLET1, IDC_STEP1, IDC_STEP3}) {
    EXPECT_FALSE(page.Shown(carried)) << carried;
  }
  for (const int shown : {IDC_VERSION, IDC_CONTINUE_TEXT, IDC_LOCAL_ADDRESS_LABEL, IDC_LOCAL_ADDRESS}) {
    EXPECT_TRUE(page.Shown(shown)) << shown;
    EXPECT_TRUE(page.onPicture.contains(shown)) << shown;
  }
  // Back is refused; Next goes on (here straight to the Failure page: no interior pages).
  EXPECT_EQ(m_sheet->WelcomePage().OnWizardBack(), -1);
  ASSERT_TRUE(Wizard().Next());
  EXPECT_EQ(Wizard().CurrentIndex(), 1);
}

TEST_F(ExteriorPagesTest, WithoutItsPictureAPageShowsAllItsTexts) {
  m_adapters.result = AdapterQueryResult::kNoData;
  m_adapters.adapters.clear();
  ShowWith(false);
  // The adapter query failed: no address after "This PC's IP address:".
  EXPECT_EQ(Wizard().Window().Text(IDC_LOCAL_ADDRESS), "");
  Wizard().pictures.clear();
  Wizard().Escape();
  const testing::FakePageWindow& failure = Wizard().Window();
  EXPECT_EQ(failure.picture, 0);
  EXPECT_TRUE(failure.Shown(IDC_TITLE));
  EXPECT_TRUE(failure.onPicture.empty());
}

TEST_F(ExteriorPagesTest, CancelOnWelcomeShowsTheWarningWithItsFirstEightCharactersBold) {
  ShowWith(true);
  EXPECT_EQ(m_serversMade, 0);
  Wizard().Escape();
  ASSERT_EQ(Wizard().Page(), "failurePage");
  EXPECT_EQ(Wizard().CurrentIndex(), 5);
  EXPECT_EQ(m_serversMade, 1) << "the server is made to read its message";
  const testing::FakePageWindow& page = Wizard().Window();
  EXPECT_EQ(page.Text(IDC_TITLE), "Cancelled");
  EXPECT_EQ(page.Text(IDC_INTRO), "You did not complete an IP assignment.");
  EXPECT_EQ(page.Text(IDC_FINISH_HINT), "Click Finish to exit, or click Back to start over.");
  EXPECT_EQ(Summary(), "WARNING:\r\nCancelled from Welcome Page.\r\n\r\n");
  EXPECT_EQ(page.bold.at(IDC_SUMMARY), 8);
  EXPECT_EQ(page.fonts.at(IDC_SUMMARY), FontRole::kSummary);
  EXPECT_EQ(page.picture, kFailurePicture);
  // On the end pages Cancel is hidden and Escape does nothing; leaving shows it again.
  EXPECT_FALSE(Wizard().CancelShown());
  EXPECT_EQ(Wizard().Buttons(), PSWIZB_BACK | PSWIZB_FINISH);
  Wizard().Escape();
  EXPECT_EQ(Wizard().Page(), "failurePage");
  ASSERT_TRUE(Wizard().Back());
  EXPECT_TRUE(Wizard().CancelShown());
}

TEST_F(ExteriorPagesTest, ServerFailureTakesPrecedenceAndIsReadAgainOnEachVisit) {
  ShowWith(true);
  m_sockets.openError = 10048;
  m_info->SetStatusMessage("ignored");
  ASSERT_FALSE(m_info->GetServer()->Start());
  std::string error;
  m_info->GetServer()->GetMessageText(error);
  ASSERT_FALSE(error.empty());

  ASSERT_TRUE(m_sheet->SetCurSel(1));
  Wizard().Escape();
  EXPECT_EQ(Summary(), "ERROR:  \r\n" + error + "\r\n");

  // Back to the Listen page; the server starts after all, so the next visit shows the
  // Listen page's reason in place of the old error.
  m_sockets.openError = 0;
  ASSERT_TRUE(m_info->GetServer()->Start());
  ASSERT_TRUE(Wizard().Back());
  ASSERT_EQ(Wizard().CurrentIndex(), 1);
  m_info->SetStatusMessage("You have not selected a device for IP assignment.");
  // The recording page sets no text of its own, so the one above stands.
  ASSERT_TRUE(m_sheet->SetCurSel(5));
  EXPECT_EQ(Summary(), "WARNING:\r\nYou have not selected a device for IP assignment.\r\n\r\n");
}

TEST_F(ExteriorPagesTest, CompletionListsTheAssignedValues) {
  ShowWith(false);
  m_info->SetMacAddress("00:1b:2c:3d:4e:5f");
  m_info->SetIpAddress("192.168.0.20");
  m_info->SetSubnetMask("255.255.255.0");
  m_info->SetDefaultGateway("192.168.0.1");
  ASSERT_TRUE(m_sheet->SetCurSel(m_sheet->GetPageCount() - 1));
  Wizard().Run();
  const testing::FakePageWindow& page = Wizard().Window();
  EXPECT_EQ(page.Text(IDC_TITLE), "");  // the template's own "Congratulations" stays
  EXPECT_EQ(Summary(),
            "Successfully assigned MAC address:\r\n\t00:1b:2c:3d:4e:5f\r\n\nthe following: \r\n"
            "\tIP address: \t\t\t192.168.0.20\r\n\tSubnet mask: \t\t255.255.255.0\r\n"
            "\tDefault gateway: \t192.168.0.1\r\n");
  EXPECT_EQ(page.bold.at(IDC_SUMMARY), 0);
  EXPECT_EQ(page.fonts.at(IDC_SUMMARY), FontRole::kSummary);
  EXPECT_EQ(Wizard().Buttons(), PSWIZB_BACK | PSWIZB_FINISH);
  EXPECT_EQ(page.picture, kCompletionPicture);
  // Finish closes the wizard with 1, with the wait cursor up only meanwhile.
  ASSERT_TRUE(Wizard().Finish());
  EXPECT_EQ(Wizard().Result(), 1);
  EXPECT_EQ(page.waitCursor, 0);
}

TEST_F(ExteriorPagesTest, InstallBoxIsOfferedOnlyWithAnInstallPageAndWhileNotInstalled) {
  ShowWith(false);
  ASSERT_TRUE(m_sheet->SetCurSel(m_sheet->GetPageCount() - 1));
  EXPECT_FALSE(Wizard().Window().Shown(IDC_INSTALL_CHECK));

  ShowWith(true);
  ASSERT_TRUE(m_sheet->SetCurSel(6));
  Wizard().Run();
  ASSERT_TRUE(Wizard().Window().Shown(IDC_INSTALL_CHECK));
  EXPECT_FALSE(Wizard().Window().GetCheck(IDC_INSTALL_CHECK));
  EXPECT_EQ(Wizard().Buttons(), PSWIZB_BACK | PSWIZB_FINISH);
  Wizard().Check(IDC_INSTALL_CHECK);
  EXPECT_EQ(Wizard().Buttons(), PSWIZB_BACK | PSWIZB_NEXT);
  ASSERT_TRUE(Wizard().Next());
  EXPECT_EQ(Wizard().CurrentIndex(), 4);
  // Coming back with the box still ticked keeps Next on offer.
  ASSERT_TRUE(m_sheet->SetCurSel(6));
  Wizard().Run();
  EXPECT_EQ(Wizard().Buttons(), PSWIZB_BACK | PSWIZB_NEXT);
  Wizard().Check(IDC_INSTALL_CHECK);
  EXPECT_EQ(Wizard().Buttons(), PSWIZB_BACK | PSWIZB_FINISH);

  CBootpWizardInfo(m_environment).SaveInstalled(true, kProgramVersion);
  ShowWith(true);
  ASSERT_TRUE(m_info->IsInstalled());
  ASSERT_TRUE(m_sheet->SetCurSel(5));
  EXPECT_FALSE(Wizard().Window().Shown(IDC_INSTALL_CHECK));
  EXPECT_TRUE(Wizard().Window().GetCheck(IDC_INSTALL_CHECK)) << "preset from the installed state";
}

}  // namespace
}  // namespace quillnet
