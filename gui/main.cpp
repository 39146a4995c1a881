#include <QCommandLineParser>
#include <QCoreApplication>
#include <vector>

#include "app/wizard_main.h"
#include "wizard/qt/qt_wizard.h"
#include "wizard/qt/wizard_application.h"

namespace {

// Answers --help and --version, which print and end the program, before the wizard's
// application exists: they need no display. Every other argument is left to Qt, whose options
// (such as -platform or -reverse) are single-dash words, so they are not read as short options.
void AnswerHelpAndVersion(int argc, char* argv[]) {
  // A copy of the arguments: QCoreApplication may take some out, and the wizard's application
  // must still see them all.
  std::vector<char*> arguments(argv, argv + argc);
  arguments.push_back(nullptr);
  QCoreApplication application(argc, arguments.data());
  QCoreApplication::setApplicationName(QStringLiteral("quillnet"));
  QCoreApplication::setApplicationVersion(QStringLiteral(QUILLNET_VERSION));
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Wizard that gives an IPv4 address to an Ethernet device over BOOTP.\n"
      "The options every Qt program accepts, such as -platform, work as usual."));
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  parser.parse(QCoreApplication::arguments());
  if (parser.isSet(help)) parser.showHelp(0);
  if (parser.isSet(version)) parser.showVersion();
}

}  // namespace

int main(int argc, char* argv[]) {
  AnswerHelpAndVersion(argc, argv);
  return quillnet::WizardMain([&] { return quillnet::StartWizardApplication(argc, argv); },
                              quillnet::ShowBootpWizardSheet);
}
