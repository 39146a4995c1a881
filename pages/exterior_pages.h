#pragma once

#include <cstddef>
#include <string>

#include "app/bootp_wizard_info.h"
#include "pages/wizard97.h"

namespace quillnet {

// The JPEG pictures of the exterior pages.
inline constexpr int kWelcomePicture = 135;
inline constexpr int kCompletionPicture = 136;
inline constexpr int kFailurePicture = 137;

// The texts of the end pages' summary, with the line ends the rich-edit control is given.
std::string FormatSuccessSummary(const std::string& mac, const std::string& ip,
                                 const std::string& mask, const std::string& gateway);
std::string FormatFailureText(const std::string& reason, const std::string& error);

// An exterior page with its picture at the top-left corner, below the page's controls.
class CBootpWizardExteriorPage : public CWizard97ExteriorPageImpl, public CBootpWizardInfoRef {
 public:
  // Whether the page's picture is shown; false before the page's first layout too.
  bool PictureShown() const { return m_pictureShown; }
  void OnSize() override;

 protected:
  CBootpWizardExteriorPage(int dialogId, std::string name, int pictureId);
  // After the picture was asked for; `loaded` tells whether it shows.
  virtual void OnPictureCreated(bool /*loaded*/) {}

 private:
  int m_pictureId;
  bool m_pictureCreated = false;
  bool m_pictureShown = false;
};

class CBootpWizardWelcomePage : public CBootpWizardExteriorPage {
 public:
  CBootpWizardWelcomePage();

  bool OnInitDialog() override;
  int OnSetActive() override;
  int OnKillActive() override;
  int OnWizardNext() override;
  int OnWizardBack() override;

 protected:
  void OnPictureCreated(bool loaded) override;
};

// What the Failure and the Completion page share: dialog 116 and its behaviour.
class CBootpWizardEndPage : public CBootpWizardExteriorPage {
 public:
  bool OnInitDialog() override;
  int OnSetActive() override;
  int OnKillActive() override;
  int OnWizardBack() override;
  int OnWizardNext() override;
  int OnWizardFinish() override;

 protected:
  CBootpWizardEndPage(std::string name, int pictureId);
  void OnCommand(int id, ControlEvent event) override;
  // Fills the summary control on each activation.
  virtual void FillSummary() = 0;
  // What Back leads to, for the hint below the install check box.
  virtual std::string BackHint() const = 0;
  // The buttons, and the hint that names them: Next to the Install page when `toInstall`.
  void ShowButtons(bool toInstall);
  // Whether the install check box is offered: only while this version is not installed and
  // when the sheet has an Install page to go to.
  bool OffersInstall() const;
  // A line for each setting that could not be saved, to follow the summary.
  std::string SettingsProblemLines();
  // What the last install came to, to follow the summary; "" when none was tried.
  std::string InstallResultLines() const;
  // Where the assignment was recorded, or why it was not; "" when none was.
  std::string RecordLines() const;

  // How many of the settings problems the user has been told of.
  std::size_t m_shownProblems = 0;

 private:
  // Next was pressed for the Install page, which comes back here: the reason this page shows
  // stays.
  bool m_toInstall = false;
};

class CBootpWizardFailurePage : public CBootpWizardEndPage {
 public:
  CBootpWizardFailurePage();
  bool OnInitDialog() override;

 protected:
  void FillSummary() override;
  std::string BackHint() const override;
};

class CBootpWizardCompletionPage : public CBootpWizardEndPage {
 public:
  CBootpWizardCompletionPage();

 protected:
  void FillSummary() override;
  std::string BackHint() const override;
};

}  // namespace quillnet
