// The Listen page's 100 ms tick: bringing the device list up to date with the server's table,
// in the Qt frame's list view with a device selected, as the page shows it.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QItemSelectionModel>
#include <QTreeView>
#include <memory>

#include "app/bootp_wizard_info.h"
#include "bench/bench_support.h"
#include "dialogs/dialog_ids.h"
#include "pages/device_list.h"
#include "wizard/qt/qt_wizard.h"

namespace quillnet {
namespace {

QApplication& Application() {
  static int argc = 1;
  static char name[] = "quillnet_bench";
  static char* argv[] = {name, nullptr};
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication application(argc, argv);
  return application;
}

// The Listen dialog with nothing but its list.
class ListPage final : public CWizard97InteriorPageImpl {
 public:
  ListPage() : CWizard97InteriorPageImpl(kListenPageId, "listenPage", kWizardPageTitle) {}
  CDeviceList rows;
};

// range(0) devices listed; range(1) of them ask again before each tick.
void BM_ListenTick(benchmark::State& state) {
  Application();
  AskingSockets sockets;
  NoRoutes routes;
  const auto rows = static_cast<std::size_t>(state.range(0));
  const auto changedPerTick = static_cast<std::size_t>(state.range(1));
  auto server = ServerOf(rows, sockets, routes);
  ListPage page;
  CWizard97SheetImpl sheet("Bench", 0);
  sheet.AddPage(&page);
  QtWizardSheet window(sheet);
  if (!window.ShowModeless()) {
    state.SkipWithError("no Listen page");
    return;
  }
  QtPageWindow& host = *window.PageWindow(0);
  host.SetListRows(IDC_DEVICE_LIST, &page.rows);
  page.rows.Reset(*server, false, true, host, IDC_DEVICE_LIST);
  auto* view = host.findChild<QTreeView*>();
  view->selectionModel()->select(view->model()->index(static_cast<int>(rows / 2), 0),
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  std::size_t next = 0;
  for (auto _ : state) {
    for (std::size_t i = 0; i < changedPerTick; ++i) {
      sockets.Ask(KeyOf(next));
      next = (next * 7 + 1) % rows;
    }
    if (changedPerTick > 0) server->ServiceOneRequest();
    page.rows.Refresh(*server, host, IDC_DEVICE_LIST);
  }
  if (view->model()->rowCount() != static_cast<int>(rows)) state.SkipWithError("rows were lost");
}

BENCHMARK(BM_ListenTick)
    ->ArgNames({"devices", "changed"})
    ->Args({100, 0})
    ->Args({100, 1})
    ->Args({10000, 0})
    ->Args({10000, 1})
    ->Args({65536, 0})
    ->Args({65536, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quillnet
