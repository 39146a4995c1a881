#include "wizard/wizard_application.h"

#include <QApplication>
#include <QIcon>

namespace quillnet {

std::shared_ptr<void> StartWizardApplication(int& argc, char** argv) {
  auto application = std::make_shared<QApplication>(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Varnholt"));
  QApplication::setApplicationName(QStringLiteral("Quillnet"));
  QApplication::setApplicationVersion(QStringLiteral("1.1.2.45"));
  QGuiApplication::setDesktopFileName(QStringLiteral("quillnet"));
  return application;
}

}  // namespace quillnet
