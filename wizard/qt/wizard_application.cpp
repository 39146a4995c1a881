#include "wizard/qt/wizard_application.h"

#include <QApplication>
#include <QIcon>

namespace quillnet {

std::shared_ptr<void> StartWizardApplication(int& argc, char** argv) {
  auto application = std::make_shared<QApplication>(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Varnholt"));
  QApplication::setApplicationName(QStringLiteral("Quillnet"));
  QApplication::setApplicationVersion(QStringLiteral(QUILLNET_VERSION));
  // The launchers are Quillnet.desktop; desktops match the window to them by this name.
  QGuiApplication::setDesktopFileName(QStringLiteral("Quillnet"));
  return application;
}

}  // namespace quillnet
