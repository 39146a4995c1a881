// Runs the real wizard (real server, this machine's adapters, the user's settings file) on the
// offscreen platform and drives it through its widgets as a user would. The end-to-end scripts
// run it in a network namespace with a BOOTP client on the other side.
//
//   wizard_driver assign MAC IP MASK GATEWAY [--expect-prefill] [--arm-after SECONDS]
//                 [--expect-confirmed | --expect-not-answered | --expect-failure TEXT]
//                 [--type-ip TEXT] [--keep]
//       Welcome → Listen (waits for MAC) → Set IP (types the addresses, or with
//       --expect-prefill checks that they are already shown) → Assign IP; prints "ARMED" and
//       the time of the click in milliseconds since 1970; waits for the Completion page and
//       presses Finish. Typing first leaves the gateway incomplete and requires Next to be
//       refused, then completes it. --type-ip types TEXT into the IP address entry, which must
//       then show IP. --arm-after presses Next on the Set IP page only once SECONDS have
//       passed since the device was listed. --expect-confirmed requires the Completion page
//       to say that the device answers at its new address, --expect-not-answered that it has
//       not answered yet. --expect-failure requires the run to end on the Failure page instead,
//       with TEXT in its summary; Finish is pressed there. --expect-local PC-IP requires the
//       Set IP page to show PC-IP as this PC's address, to propose its network, and to pass
//       the typed addresses without the subnet warning. --expect-relay RELAY-IP requires the
//       Listen page to name RELAY-IP as the device's relay agent, and the Set IP page to show
//       it as the relay agent's address and to do as --expect-local does for it.
//       --refuse-own PC-IP first types PC-IP, this PC's own address, which the Set IP page
//       must refuse with Next disabled. --arm-when FILE prints "READY" on the Set IP page and
//       presses Next only once FILE exists. --expect-link-lost IF requires the Assign IP page
//       to say that IF, toward the device, is down, then prints "LINK LOST SHOWN", and the
//       end page to tell of it. --cancel-install ticks the install box on the Completion page,
//       whose hint must then name Next, goes to the Install page and presses Esc there: the
//       Failure page must say that nothing was saved and repeat the verdict. --keep ticks
//       "Make the device keep this address (EtherNet/IP)" on the Set IP page and requires the
//       Completion page to say that the device keeps IP and where the assignment was recorded.
//   wizard_driver listen-load STOP-FILE
//       Next onto the Listen page; prints "LISTENING", then presses Down or Up in the device
//       list every 100 ms, timing how long each key takes to move the selection, until
//       STOP-FILE exists. Two ticks later it prints "COUNTED <the sum of the Count column>
//       ROWS <rows> KEYS <keys> KEY_P50_MS <ms> KEY_P99_MS <ms> KEY_MAX_MS <ms>" and cancels.
//       A benchmark's driver: it requires nothing of the times.
//   wizard_driver start-refused TEXT
//       Next onto the Listen page must lead to the Failure page, whose summary contains TEXT;
//       prints "FAILURE SHOWN".
//   wizard_driver port-taken FREED-FILE
//       Next onto the Listen page must show the Failure page within a tick; prints
//       "FAILURE SHOWN", waits for FREED-FILE to exist, presses Back and checks that the
//       Listen page stays.
// Exits 0 on success, 1 with the reason on stderr.

#include <QApplication>
#include <QDateTime>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/bootp_wizard_info.h"
#include "bootp/bootp_server.h"
#include "pages/bootp_wizard_sheet.h"
#include "tests/wizard/page_driver.h"
#include "wizard/qt/qt_wizard.h"
#include "wizard/qt/wizard_application.h"

namespace {

using quillnet::testing::PageDriver;

constexpr int kListenWaitMs = 30000;
constexpr int kReplyWaitMs = 90000;
constexpr int kFreedWaitMs = 30000;
// The Listen page's tick is 100 ms; the Failure page must follow within one tick (with room
// for a loaded machine).
constexpr int kFailureWithinMs = 600;

struct Failure {
  std::string what;
};

void Require(bool condition, const std::string& what) {
  if (!condition) throw Failure{what};
}

template <typename Condition>
void WaitUntil(Condition condition, int milliseconds, const std::string& what) {
  Require(QTest::qWaitFor(condition, milliseconds), "timed out: " + what);
}

void Say(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

QString Summary(const PageDriver& driver) {
  const auto* summary = driver.FindOnPage<QTextEdit>("summaryEdit");
  return summary != nullptr ? quillnet::WithoutJoiners(summary->toPlainText()) : QString();
}

void Assign(const PageDriver& driver, const QStringList& args) {
  Require(args.size() >= 4, "usage: assign MAC IP MASK GATEWAY [--expect-prefill]");
  const QString mac = args[0], ip = args[1], mask = args[2], gateway = args[3];
  const bool expectPrefill = args.contains(QStringLiteral("--expect-prefill"));
  const bool expectConfirmed = args.contains(QStringLiteral("--expect-confirmed"));
  const bool expectNotAnswered = args.contains(QStringLiteral("--expect-not-answered"));
  const qsizetype failureAt = args.indexOf(QStringLiteral("--expect-failure"));
  const bool expectFailure = failureAt > 0;
  Require(!expectFailure || failureAt + 1 < args.size(), "--expect-failure needs the TEXT");
  const QString failureText = expectFailure ? args[failureAt + 1] : QString();
  const qsizetype typeIpAt = args.indexOf(QStringLiteral("--type-ip"));
  const QString typedIp = typeIpAt > 0 && typeIpAt + 1 < args.size() ? args[typeIpAt + 1] : ip;
  const qsizetype localAt = args.indexOf(QStringLiteral("--expect-local"));
  const qsizetype relayAt = args.indexOf(QStringLiteral("--expect-relay"));
  const QString expectedRelay = relayAt > 0 && relayAt + 1 < args.size() ? args[relayAt + 1] : QString();
  const QString expectedLocal = localAt > 0 && localAt + 1 < args.size() ? args[localAt + 1]
                                                                         : expectedRelay;
  const auto valueOf = [&](const char* option) {
    const qsizetype at = args.indexOf(QLatin1String(option));
    return at > 0 && at + 1 < args.size() ? args[at + 1] : QString();
  };
  const QString ownAddress = valueOf("--refuse-own");
  const QString armWhen = valueOf("--arm-when");
  const QString lostLink = valueOf("--expect-link-lost");
  const bool cancelInstall = args.contains(QStringLiteral("--cancel-install"));
  const bool keep = args.contains(QStringLiteral("--keep"));
  const qsizetype armAfterAt = args.indexOf(QStringLiteral("--arm-after"));
  const int armAfterMs = armAfterAt > 0 && armAfterAt + 1 < args.size()
                             ? args[armAfterAt + 1].toInt() * 1000
                             : 0;

  Require(driver.On("welcomePage"), "the wizard did not open on the Welcome page");
  Require(driver.Click("nextButton"), "Next on the Welcome page");
  WaitUntil([&] { return driver.On("listenPage"); }, 2000, "the Listen page");
  WaitUntil([&] { return driver.ListedMacs().contains(mac); }, kListenWaitMs, "the device in the list");
  QElapsedTimer sinceListed;
  sinceListed.start();
  const int row = static_cast<int>(driver.ListedMacs().indexOf(mac));
  if (!expectedRelay.isEmpty()) {
    const QAbstractItemModel* model = driver.List()->model();
    int relayColumn = 0;
    while (relayColumn < model->columnCount() &&
           model->headerData(relayColumn, Qt::Horizontal).toString() != "Relay Agent") {
      ++relayColumn;
    }
    Require(relayColumn < model->columnCount(), "no Relay Agent column on the Listen page");
    const QString shown = model->index(row, relayColumn).data().toString();
    Require(shown == expectedRelay, "the Listen page names the relay agent " + shown.toStdString());
  }
  driver.ClickRow(row);
  WaitUntil([&] { return driver.Enabled("nextButton"); }, 2000, "Next after selecting the device");
  Require(driver.Click("nextButton"), "Next on the Listen page");
  WaitUntil([&] { return driver.On("setIpPage"); }, 2000, "the Set IP page");
  if (!expectedLocal.isEmpty()) {
    const QString shown = driver.FindOnPage<QLineEdit>("localAddressEdit")->text();
    Require(shown == expectedLocal, "this PC's address is shown as " + shown.toStdString());
    const QString label = driver.FindOnPage<QLabel>("localAddressLabel")->text();
    const QString expectedLabel =
        expectedRelay.isEmpty() ? "This PC's IP address" : "Relay agent's IP address";
    Require(label == expectedLabel, "the address is labelled " + label.toStdString());
    const QString network = expectedLocal.left(expectedLocal.lastIndexOf(u'.') + 1);
    const QString proposed = driver.Entry("ipAddressEdit")->text();
    Require(proposed == network, "the proposed address is " + proposed.toStdString());
  }

  if (!ownAddress.isEmpty()) {
    // This PC's own address is refused as typed, and by Next.
    driver.Type("ipAddressEdit", ownAddress);
    const QString refusal = "ERROR: " + ownAddress + " is already in use by this PC's interface ";
    WaitUntil([&] { return driver.ResultLine().startsWith(refusal) && !driver.Enabled("nextButton"); },
              2000, "this PC's address refused (result line: " + driver.ResultLine().toStdString() + ")");
  }
  if (expectPrefill) {
    Require(driver.Entry("ipAddressEdit")->text() == ip, "IP address not pre-filled: " +
            driver.Entry("ipAddressEdit")->text().toStdString());
    Require(driver.Entry("subnetMaskEdit")->text() == mask, "subnet mask not pre-filled");
    Require(driver.Entry("gatewayEdit")->text() == gateway, "gateway not pre-filled");
  } else {
    driver.Type("ipAddressEdit", typedIp);
    driver.Type("subnetMaskEdit", mask);
    // A gateway with an empty part: refused as typed, and by Next.
    const QString partial = gateway.left(gateway.lastIndexOf(u'.') + 1);
    driver.Type("gatewayEdit", partial);
    // The separator selected what the last part held (a remembered gateway's); it goes.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace, Qt::NoModifier,
                    PageDriver::kKeyDelayMs);
    WaitUntil([&] { return driver.ResultLine() == "ERROR: Incomplete Default gateway."; }, 2000,
              "the incomplete gateway refused (result line: " + driver.ResultLine().toStdString() + ")");
    Require(!driver.Enabled("nextButton"), "Next offered with an incomplete gateway");
    driver.Type("gatewayEdit", gateway);
    Require(driver.Entry("ipAddressEdit")->text() == ip,
            "the IP address entry shows " + driver.Entry("ipAddressEdit")->text().toStdString());
  }
  if (keep) {
    auto* keepCheck = driver.FindOnPage<QCheckBox>("keepAddressCheck");
    Require(keepCheck != nullptr, "no keep check box on the Set IP page");
    Require(keepCheck->text() == "Make the device keep this address (EtherNet/IP)",
            "the keep check box says " + keepCheck->text().toStdString());
    if (!keepCheck->isChecked()) QTest::mouseClick(keepCheck, Qt::LeftButton);
    WaitUntil([&] { return keepCheck->isChecked(); }, 2000, "the keep check box ticked");
  }
  WaitUntil([&] { return driver.Enabled("nextButton"); }, 2000,
            "Next on the Set IP page (result line: " + driver.ResultLine().toStdString() + ")");
  if (!expectedLocal.isEmpty()) {
    Require(driver.ResultLine().isEmpty(), "the Set IP page warns: " + driver.ResultLine().toStdString());
  }
  if (armAfterMs > 0) QTest::qWait(static_cast<int>(armAfterMs - sinceListed.elapsed()));
  if (!armWhen.isEmpty()) {
    Say("READY");
    WaitUntil([&] { return QFileInfo::exists(armWhen); }, kListenWaitMs, "the file " + armWhen.toStdString());
  }
  const qint64 clicked = QDateTime::currentMSecsSinceEpoch();
  Require(driver.Click("nextButton"), "Next on the Set IP page");
  WaitUntil([&] { return driver.On("assignIpPage"); }, 2000, "the Assign IP page");
  Say(("ARMED " + std::to_string(clicked)).c_str());
  if (!lostLink.isEmpty()) {
    const QString lost = lostLink + ", this PC's interface toward the device, is down";
    WaitUntil([&] { return driver.FindOnPage<QLabel>("attemptingText")->text().startsWith(lost); },
              kListenWaitMs, "the lost link said on the Assign IP page");
    Say("LINK LOST SHOWN");
  }

  WaitUntil([&] { return !driver.On("assignIpPage"); }, kReplyWaitMs, "the reply");
  if (expectFailure) {
    Require(driver.On("failurePage"), "ended on " + driver.Page().toStdString() +
            ", not on the Failure page: " + Summary(driver).toStdString());
    Require(Summary(driver).contains(failureText),
            "the Failure page does not say why: " + Summary(driver).toStdString());
    WaitUntil([&] { return driver.Enabled("finishButton"); }, 2000, "Finish");
    Require(driver.Click("finishButton"), "Finish");
    return;
  }
  Require(driver.On("completionPage"), "ended on " + driver.Page().toStdString() + ": " +
          Summary(driver).toStdString());
  for (const QString& value : {mac, ip, mask, gateway}) {
    Require(Summary(driver).contains(value), "the Completion page does not list " + value.toStdString());
  }
  if (expectConfirmed) {
    // A DHCP device says first that it took the address: "Confirmed: the device took IP and
    // answers there."
    const QString verdict = Summary(driver).section(u'\n', 0, 0);
    Require(verdict == "Confirmed: the device answers at " + ip + "." ||
                verdict == "Confirmed: the device took " + ip + " and answers there.",
            "the Completion page does not confirm the address: " + Summary(driver).toStdString());
  }
  if (keep) {
    Require(Summary(driver).contains("The device keeps " + ip + ": it now starts with its stored "
                                     "configuration"),
            "the Completion page does not say that the device keeps its address: " +
                Summary(driver).toStdString());
    Require(Summary(driver).contains("The assignment was recorded in "),
            "the Completion page does not say where the assignment was recorded: " +
                Summary(driver).toStdString());
  }
  if (!lostLink.isEmpty()) {
    Require(Summary(driver).contains(lostLink + " went down or lost its IPv4 address."),
            "the Completion page does not tell of the lost link: " + Summary(driver).toStdString());
  }
  if (cancelInstall) {
    const QString verdict = Summary(driver).section(u'\n', 0, 0);
    QTest::mouseClick(driver.FindOnPage<QCheckBox>("installCheck"), Qt::LeftButton);
    WaitUntil([&] { return driver.Enabled("nextButton"); }, 2000, "Next with the install box ticked");
    const QString hint = driver.FindOnPage<QLabel>("finishHintText")->text();
    Require(hint == "Click Next to save a copy of Quillnet, or click Back to assign another IP address.",
            "the hint says " + hint.toStdString());
    Require(driver.Click("nextButton"), "Next to the Install page");
    WaitUntil([&] { return driver.On("installPage"); }, 2000, "the Install page");
    QTest::keyClick(driver.FindOnPage<QLineEdit>("installPathEdit"), Qt::Key_Escape);
    WaitUntil([&] { return driver.On("failurePage"); }, 2000, "the Failure page after Esc");
    const QString failure = Summary(driver);
    Require(failure.contains("You cancelled saving a copy of Quillnet; nothing was saved.") &&
                failure.contains(verdict) && !failure.contains("before you left the page"),
            "the Failure page after a cancelled install says: " + failure.toStdString());
  }
  if (expectNotAnswered) {
    Require(Summary(driver).startsWith("Not confirmed: no answer at " + ip + " within"),
            "the Completion page does not say the device has not answered: " +
                Summary(driver).toStdString());
  }
  WaitUntil([&] { return driver.Enabled("finishButton"); }, 2000, "Finish");
  Require(driver.Click("finishButton"), "Finish");
}

void ListenLoad(const PageDriver& driver, const QStringList& args) {
  Require(args.size() == 1, "usage: listen-load STOP-FILE");
  constexpr int kKeyEveryMs = 100;
  Require(driver.Click("nextButton"), "Next on the Welcome page");
  WaitUntil([&] { return driver.On("listenPage"); }, 2000, "the Listen page");
  QTreeView* list = driver.List();
  Require(list != nullptr, "no device list on the Listen page");
  Say("LISTENING");
  WaitUntil([&] { return list->model()->rowCount() >= 2; }, kListenWaitMs, "two devices listed");
  list->setFocus();
  list->setCurrentIndex(list->model()->index(0, 0));

  // A key is posted as the window system delivers one: behind whatever the event loop has
  // queued. Its time ends when the selection has moved.
  std::vector<qint64> latencies;
  QElapsedTimer sincePosted;
  bool down = true;
  bool waiting = false;
  QObject::connect(list->selectionModel(), &QItemSelectionModel::currentChanged, list, [&] {
    if (!waiting) return;
    latencies.push_back(sincePosted.nsecsElapsed());
    waiting = false;
  });
  QTimer keys;
  QObject::connect(&keys, &QTimer::timeout, list, [&] {
    if (waiting) return;  // the last one still has not been answered: it keeps counting
    const Qt::Key key = down ? Qt::Key_Down : Qt::Key_Up;
    down = !down;
    waiting = true;
    sincePosted.start();
    QCoreApplication::postEvent(list, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier));
    QCoreApplication::postEvent(list, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier));
  });
  keys.start(kKeyEveryMs);
  // The event loop itself, as the program runs: a test wait would sleep between its looks.
  QEventLoop loop;
  QTimer stopLook;
  QObject::connect(&stopLook, &QTimer::timeout, &loop, [&] {
    if (QFileInfo::exists(args[0])) loop.quit();
  });
  stopLook.start(kKeyEveryMs);
  loop.exec();
  keys.stop();
  QTest::qWait(2 * 100);  // two of the page's ticks
  if (waiting) latencies.push_back(sincePosted.nsecsElapsed());

  long long counted = 0;
  const QAbstractItemModel* model = list->model();
  for (int row = 0; row < model->rowCount(); ++row) {
    counted += model->index(row, 1).data().toString().toLongLong();
  }
  std::sort(latencies.begin(), latencies.end());
  const auto at = [&](double share) {
    if (latencies.empty()) return 0.0;
    const auto index = static_cast<std::size_t>(share * static_cast<double>(latencies.size() - 1));
    return static_cast<double>(latencies[index]) / 1e6;
  };
  char line[256];
  std::snprintf(line, sizeof line,
                "COUNTED %lld ROWS %d KEYS %zu KEY_P50_MS %.2f KEY_P99_MS %.2f KEY_MAX_MS %.2f",
                counted, model->rowCount(), latencies.size(), at(0.5), at(0.99), at(1.0));
  Say(line);
}

void StartRefused(const PageDriver& driver, const QStringList& args) {
  Require(args.size() == 1, "usage: start-refused TEXT");
  Require(driver.Click("nextButton"), "Next on the Welcome page");
  WaitUntil([&] { return driver.On("failurePage"); }, 10000, "the Failure page");
  Require(Summary(driver).contains(args[0]),
          "the Failure page does not say why: " + Summary(driver).toStdString());
  Say("FAILURE SHOWN");
}

void PortTaken(const PageDriver& driver, const QStringList& args) {
  Require(args.size() == 1, "usage: port-taken FREED-FILE");
  Require(driver.Click("nextButton"), "Next on the Welcome page");
  QElapsedTimer clock;
  clock.start();
  WaitUntil([&] { return driver.On("failurePage"); }, kFailureWithinMs, "the Failure page");
  Require(Summary(driver).contains("There is already a Bootp Server running"),
          "the Failure page does not give the start-up text: " + Summary(driver).toStdString());
  Say("FAILURE SHOWN");
  WaitUntil([&] { return QFileInfo::exists(args[0]); }, kFreedWaitMs, "the port to be freed");
  Require(driver.Click("backButton"), "Back on the Failure page");
  Require(driver.On("listenPage"), "Back did not lead to the Listen page");
  QTest::qWait(1000);
  Require(driver.On("listenPage"), "the Listen page did not stay: " + Summary(driver).toStdString());
}

}  // namespace

int main(int argc, char* argv[]) {
  std::shared_ptr<void> application = quillnet::StartWizardApplication(argc, argv);
  const QStringList args = QApplication::arguments().mid(1);
  if (args.isEmpty()) {
    std::fprintf(stderr, "usage: wizard_driver assign|listen-load|start-refused|port-taken ...\n");
    return 1;
  }
  std::string failure;
  int result = -1;
  {
    quillnet::CBootpWizardInfo info;
    info.LoadSettings();
    quillnet::CBootpWizardSheet pages(&info, 0);
    quillnet::QtWizardSheet sheet(pages);
    QTimer::singleShot(0, &sheet, [&] {
      const PageDriver driver(sheet);
      try {
        if (args[0] == QLatin1String("assign")) {
          Assign(driver, args.mid(1));
        } else if (args[0] == QLatin1String("start-refused")) {
          StartRefused(driver, args.mid(1));
        } else if (args[0] == QLatin1String("listen-load")) {
          ListenLoad(driver, args.mid(1));
        } else if (args[0] == QLatin1String("port-taken")) {
          PortTaken(driver, args.mid(1));
          sheet.reject();
        } else {
          failure = "unknown mode " + args[0].toStdString();
        }
      } catch (const Failure& error) {
        failure = error.what;
      }
      if (sheet.isVisible()) sheet.reject();
    });
    result = sheet.DoModal();
  }
  if (!failure.empty()) {
    std::fprintf(stderr, "FAIL: %s\n", failure.c_str());
    return 1;
  }
  if (args[0] == QLatin1String("assign") && result != 1) {
    std::fprintf(stderr, "FAIL: the wizard ended with %d, not with Finish\n", result);
    return 1;
  }
  return 0;
}
