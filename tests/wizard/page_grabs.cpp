// Shows every page of the wizard and writes each to <folder>/page-<name>.png, to be looked
// at. Exits with 1 when a page could not be shown or written.

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <cstdio>

#include "app/bootp_wizard_info.h"
#include "bootp/bootp_server.h"
#include "tests/app/temporary_folder.h"
#include "tests/support/fake_platform.h"
#include "wizard/bootp_wizard_sheet.h"

namespace {

using namespace quillnet;

// An interior page without controls, to show the header band.
class HeaderOnlyPage : public CWizard97InteriorPageImpl, public CBootpWizardInfoRef {
 public:
  HeaderOnlyPage()
      : CWizard97InteriorPageImpl(kListenPageId, QString::fromLatin1(kWizardPageTitle)) {
    SetHeaderTitle(QStringLiteral("IP Address Request Listener"));
    SetHeaderSubTitle(QStringLiteral("Please select a MAC address."));
  }
  int OnSetActive() override {
    Sheet()->PostSetWizButtons(PSWIZB_BACK);
    return 0;
  }
};

bool Grab(CBootpWizardSheet& sheet, int index, const QDir& folder, const char* name) {
  if (!sheet.SetCurSel(index)) return false;
  // Let the posted button requests and the layout run.
  for (int round = 0; round < 5; ++round) QApplication::processEvents();
  const QString path = folder.filePath(QStringLiteral("page-%1.png").arg(QLatin1String(name)));
  const bool ok = sheet.grab().save(path);
  std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
  return ok;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());

  quillnet::testing::TemporaryFolder settings;
  quillnet::testing::FakeSocketApi sockets;
  quillnet::testing::FakeRouteSource routes;
  quillnet::testing::FakeAdapterSource adapters;
  adapters.adapters = {{"eth0", {{"192.168.0.5", "255.255.255.0"}}, "192.168.0.1"}};
  CBootpWizardInfo::Environment environment;
  environment.settingsFile = settings.File("registry.sqlite3");
  environment.adapters = &adapters;
  environment.serverFactory = [&] { return std::make_unique<BootPServer>(sockets, routes); };
  CBootpWizardInfo info(environment);

  CBootpWizardSheet sheet(&info, 0, nullptr, [] {
    InteriorPages pages;
    pages.listen = std::make_unique<HeaderOnlyPage>();
    return pages;
  });
  if (!sheet.ShowModeless()) return 1;
  const int failure = sheet.GetPageCount() - 2;
  const int completion = sheet.GetPageCount() - 1;
  bool ok = Grab(sheet, 0, folder, "welcome");
  ok = Grab(sheet, 1, folder, "interior") && ok;
  // Cancel from the Welcome page.
  ok = sheet.SetCurSel(0) && ok;
  ok = Grab(sheet, failure, folder, "failure-warning") && ok;
  // The server could not start.
  sockets.openError = 10048;
  info.GetServer()->Start();
  ok = Grab(sheet, failure, folder, "failure-error") && ok;
  info.SetMacAddress("00:1b:2c:3d:4e:5f");
  info.SetIpAddress("192.168.0.20");
  info.SetSubnetMask("255.255.255.0");
  info.SetDefaultGateway("192.168.0.1");
  ok = Grab(sheet, completion, folder, "completion") && ok;
  sheet.hide();
  return ok ? 0 : 1;
}
