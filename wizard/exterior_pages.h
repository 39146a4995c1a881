#pragma once

#include <QFont>
#include <QString>
#include <string>

#include "app/bootp_wizard_info.h"
#include "wizard/gdiplus_bitmap.h"
#include "wizard/wizard97.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTextEdit;

namespace quillnet {

// Control ids of the exterior dialogs 115 and 116.
inline constexpr int IDC_TITLE = 1004;
inline constexpr int IDC_INTRO = 1005;
inline constexpr int IDC_SUMMARY = 1007;
inline constexpr int IDC_FINISH_HINT = 1008;
inline constexpr int IDC_BULLET1 = 1011;
inline constexpr int IDC_BULLET2 = 1012;
inline constexpr int IDC_BULLET3 = 1013;
inline constexpr int IDC_STEP1 = 1021;
inline constexpr int IDC_STEP2 = 1022;
inline constexpr int IDC_STEP3 = 1023;
inline constexpr int IDC_LOCAL_ADDRESS = 1218;
inline constexpr int IDC_VERSION = 1224;
inline constexpr int IDC_INSTALL_CHECK = 1226;

// The texts of the end pages' summary, with the line ends the rich-edit control is given.
std::string FormatSuccessSummary(const std::string& mac, const std::string& ip,
                                 const std::string& mask, const std::string& gateway);
std::string FormatFailureText(const std::string& reason, const std::string& error);
// "\r\n", a bare "\r" and a bare "\n" each end one line.
QString RichEditText(const std::string& text);

// An exterior page with its picture at the top-left corner, below the page's controls.
class CBootpWizardExteriorPage : public CWizard97ExteriorPageImpl, public CBootpWizardInfoRef {
 public:
  QLabel* SplashControl() const { return m_splashControl; }

 protected:
  CBootpWizardExteriorPage(int dialogId, const QString& title, int pictureId);
  void OnSize() override;
  // After the picture control exists; `loaded` tells whether it shows a picture.
  virtual void OnPictureCreated(bool /*loaded*/) {}

  CGdiPlusBitmapResource m_splash;
  QLabel* m_splashControl = nullptr;

 private:
  int m_pictureId;
};

class CBootpWizardWelcomePage : public CBootpWizardExteriorPage {
 public:
  explicit CBootpWizardWelcomePage(const QString& title);

  bool OnInitDialog() override;
  int OnSetActive() override;
  int OnKillActive() override;
  int OnWizardNext() override;
  int OnWizardBack() override;

 protected:
  void OnPictureCreated(bool loaded) override;

 private:
  QLineEdit* m_versionText = nullptr;
  QLabel* m_localAddressText = nullptr;
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
  CBootpWizardEndPage(const QString& title, int pictureId);
  // Fills the summary control on each activation.
  virtual void FillSummary() = 0;
  // Whether the install check box is offered: only while this version is not installed and
  // when the sheet has an Install page to go to.
  bool OffersInstall() const;
  // A line for each setting that could not be saved, to follow the summary.
  std::string SettingsProblemLines();
  // What the last install came to, to follow the summary; "" when none was tried.
  std::string InstallResultLines() const;

  QTextEdit* m_summaryEdit = nullptr;
  QCheckBox* m_installCheck = nullptr;
  QPushButton* m_cancelButton = nullptr;
  QFont m_summaryFont;
  // How many of the settings problems the user has been told of.
  std::size_t m_shownProblems = 0;

 private:
  // Next was pressed for the Install page, which comes back here: the reason this page shows
  // stays.
  bool m_toInstall = false;
};

class CBootpWizardFailurePage : public CBootpWizardEndPage {
 public:
  explicit CBootpWizardFailurePage(const QString& title);
  bool OnInitDialog() override;

 protected:
  void FillSummary() override;
};

class CBootpWizardCompletionPage : public CBootpWizardEndPage {
 public:
  explicit CBootpWizardCompletionPage(const QString& title);

 protected:
  void FillSummary() override;
};

}  // namespace quillnet
