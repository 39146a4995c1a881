// Shows every page of the wizard, with the real interior pages on fake sockets and routes, and
// writes each to <folder>/page-<name>.png to be looked at; README's pictures are made this way
// (target docs-screenshots). With names after the folder, only those pages are written.
// Exits with 1 when a page could not be reached or written.

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPixmap>
#include <QTest>
#include <QTextEdit>
#include <QTreeView>
#include <cstring>
#include <cstdio>

#include "app/bootp_wizard_info.h"
#include "bootp/bootp_server.h"
#include "pages/bootp_wizard_sheet.h"
#include "tests/app/temporary_folder.h"
#include "tests/support/fake_platform.h"
#include "tests/support/requests.h"
#include "tests/wizard/page_driver.h"
#include "wizard/qt/qt_wizard.h"

namespace {

using namespace quillnet;
using quillnet::testing::PageDriver;

// Two of the maker's own devices, one behind a router, and a drive of another maker.
constexpr DeviceKey kDevices[] = {0x0A5C31004A17, 0x0A5C3200012E, 0x001B2C3D4E5F, 0x0000BC1A2B3C};
constexpr int kSelected = 1;

class Grabber {
 public:
  Grabber(QtWizardSheet& sheet, QDir folder, QStringList only)
      : m_sheet(sheet), m_folder(std::move(folder)), m_only(std::move(only)) {}

  bool Grab(const char* name) {
    // Let the posted button requests and the layout run.
    for (int round = 0; round < 5; ++round) QApplication::processEvents();
    if (!m_only.isEmpty() && !m_only.contains(QLatin1String(name))) return true;
    const QString path = m_folder.filePath(QStringLiteral("page-%1.png").arg(QLatin1String(name)));
    const bool ok = m_sheet.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
  }

 private:
  QtWizardSheet& m_sheet;
  QDir m_folder;
  QStringList m_only;
};

bool Reached(const PageDriver& driver, const char* page) {
  const bool ok = QTest::qWaitFor([&] { return driver.On(page); }, 5000);
  if (!ok) std::printf("did not reach %s (on %s)\n", page, qPrintable(driver.Page()));
  return ok;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  const QStringList args = QApplication::arguments().mid(1);
  const QDir folder(args.isEmpty() ? QDir::currentPath() : args.first());

  quillnet::testing::TemporaryFolder settings;
  quillnet::testing::FakeSocketApi sockets;
  quillnet::testing::FakeRouteSource routes;
  quillnet::testing::FakeAdapterSource adapters;
  adapters.adapters = {{"eth0", {{"192.168.0.5", "255.255.255.0"}}, "192.168.0.1"}};
  routes.rows = {{0xFFFFFFFFu, 0xFFFFFFFFu, quillnet::testing::Ip(192, 168, 0, 5)}};
  CBootpWizardInfo::Environment environment;
  environment.settingsFile = settings.File("registry.sqlite3");
  environment.recordFile = settings.File("commissioning.csv");
  environment.adapters = &adapters;
  environment.serverFactory = [&] { return std::make_unique<BootPServer>(sockets, routes); };
  // The selected device answers at its new address; nothing probes this machine's networks.
  quillnet::testing::FakeNeighbourCheck neighbours;
  neighbours.AnswerProbes({{quillnet::testing::Ip(192, 168, 0, 20), kDevices[kSelected]},
                           {quillnet::testing::Ip(192, 168, 0, 21), kDevices[0]}});
  environment.neighbours = &neighbours;
  environment.arpInterfaces = [] { return std::vector<int>{2}; };
  // The selected device keeps its address when told to.
  environment.keep = [](const enip::Target&, const std::atomic<bool>*) {
    return enip::MethodResult{enip::MethodOutcome::kDone,
                              "The device keeps 192.168.0.20 at its next start-up."};
  };
  CBootpWizardInfo info(environment);

  bool ok = false;
  {
    CBootpWizardSheet pages(&info, 0);
    QtWizardSheet sheet(pages);
    if (!sheet.ShowModeless()) return 1;
    const PageDriver driver(sheet);
    Grabber grabber(sheet, folder, args.mid(1));
    auto hear = [&](DeviceKey mac, bool valid = true) {
      quillnet::testing::Request request;
      request.mac = mac;
      if (!valid) request.sname = "elsewhere";
      std::vector<std::uint8_t> bytes = request.Bytes();
      // The last device is behind a router, heard through its relay agent.
      if (mac == kDevices[2]) {
        const std::uint32_t relay = quillnet::testing::Ip(10, 20, 0, 1);
        std::memcpy(bytes.data() + kGiaddrOffset, &relay, sizeof relay);
      }
      sockets.Push(bytes);
    };

    ok = grabber.Grab("welcome");
    driver.Click("nextButton");
    ok = Reached(driver, "listenPage") && ok;
    for (DeviceKey mac : kDevices) hear(mac);
    hear(kDevices[0]);
    ok = QTest::qWaitFor([&] { return driver.ListedMacs().size() == std::ssize(kDevices); }, 5000) && ok;
    // The makers come once the registries are read.
    const QAbstractItemModel* list = driver.List()->model();
    ok = QTest::qWaitFor([&] { return !list->index(3, 3).data().toString().isEmpty(); }, 10000) && ok;
    driver.ClickRow(kSelected);
    ok = QTest::qWaitFor([&] { return driver.Enabled("nextButton"); }, 5000) && ok;
    ok = grabber.Grab("listen") && ok;

    driver.Click("nextButton");
    ok = Reached(driver, "setIpPage") && ok;
    driver.Type("gatewayEdit", QStringLiteral("192.168.0.1"));
    // An address another device answers at is named on the result line.
    driver.Type("ipAddressEdit", QStringLiteral("192.168.0.21"));
    ok = QTest::qWaitFor([&] { return driver.ResultLine().contains("in use"); }, 5000) && ok;
    ok = grabber.Grab("set-ip-in-use") && ok;
    driver.Type("ipAddressEdit", QStringLiteral("192.168.0.20"));
    QTest::mouseClick(driver.FindOnPage<QCheckBox>("keepAddressCheck"), Qt::LeftButton);
    ok = grabber.Grab("set-ip") && ok;

    // A request the server does not answer at once, so the page waits to be looked at.
    hear(kDevices[kSelected], false);
    ok = QTest::qWaitFor([&] { return info.GetServer()->GetCount(kSelected) == 2; }, 5000) && ok;
    driver.Click("nextButton");
    ok = Reached(driver, "assignIpPage") && ok;
    ok = grabber.Grab("assign-ip") && ok;
    // The device takes a few probes to answer, so the page is seen checking.
    neighbours.HoldAnswers(4);
    // The device asks in DHCP for the address it was offered; the ack is its word that it
    // took it, which the Completion page says.
    quillnet::testing::Request dhcp;
    dhcp.mac = kDevices[kSelected];
    sockets.Push(dhcp.WithOptions({53, 1, 3, 50, 4, 192, 168, 0, 20}));
    ok = QTest::qWaitFor([&] { return driver.FindOnPage<QTextEdit>("summaryEdit")->toPlainText().startsWith("Sent to"); }, 5000) && ok;
    ok = grabber.Grab("assign-ip-checking") && ok;
    ok = Reached(driver, "completionPage") && ok;
    ok = grabber.Grab("completion") && ok;

    // The install box leads to the Install page; Back from there to the Listen page, then
    // Cancel: the Failure page with the Listen page's reason.
    QTest::mouseClick(driver.Find<QCheckBox>("installCheck"), Qt::LeftButton);
    driver.Click("nextButton");
    ok = Reached(driver, "installPage") && ok;
    ok = grabber.Grab("install") && ok;
    driver.Click("backButton");
    ok = Reached(driver, "listenPage") && ok;
    // The device behind a relay agent is proposed the relay agent's network.
    driver.ClickRow(2);
    ok = QTest::qWaitFor([&] { return driver.Enabled("nextButton"); }, 5000) && ok;
    driver.Click("nextButton");
    ok = Reached(driver, "setIpPage") && ok;
    ok = grabber.Grab("set-ip-relay") && ok;
    driver.Click("backButton");
    ok = Reached(driver, "listenPage") && ok;
    QTest::mouseClick(driver.Find<QPushButton>("cancelButton"), Qt::LeftButton);
    ok = Reached(driver, "failurePage") && ok;
    ok = grabber.Grab("failure") && ok;

    // An install from there, into a folder of its own and without launchers, returns to the
    // Failure page, which adds what the install came to.
    QTest::mouseClick(driver.FindOnPage<QCheckBox>("installCheck"), Qt::LeftButton);
    driver.Click("nextButton");
    ok = Reached(driver, "installPage") && ok;
    driver.Find<QLineEdit>("installPathEdit")->setText(QString::fromStdString(settings.File("tools")));
    driver.Click("nextButton");
    ok = Reached(driver, "failurePage") && ok;
    ok = grabber.Grab("failure-installed") && ok;
    sheet.hide();
  }
  {
    // Another run in which no device asks: after the silence window the Listen page says
    // what it knows, here of a firewall that blocks the port.
    quillnet::testing::FakeSocketApi silentSockets;
    environment.serverFactory = [&] { return std::make_unique<BootPServer>(silentSockets, routes); };
    environment.silenceWindow = std::chrono::milliseconds(100);
    environment.firewall = [] {
      FirewallCheck check;
      check.verdict = FirewallCheck::Verdict::kBlocks;
      check.firewall = "nftables";
      check.findings = {"chain inet filter input drops by default and accepts no UDP port 67 in."};
      return check;
    };
    CBootpWizardInfo silentInfo(environment);
    CBootpWizardSheet pages(&silentInfo, 0);
    QtWizardSheet sheet(pages);
    if (!sheet.ShowModeless()) return 1;
    const PageDriver driver(sheet);
    Grabber grabber(sheet, folder, args.mid(1));
    driver.Click("nextButton");
    ok = Reached(driver, "listenPage") && ok;
    ok = QTest::qWaitFor([&] { return driver.FindOnPage<QLabel>("powerCycleText")->text().startsWith("No request yet."); }, 5000) && ok;
    ok = grabber.Grab("listen-silent") && ok;
    sheet.hide();
  }
  return ok ? 0 : 1;
}
