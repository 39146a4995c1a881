// The Listen page's 100 ms tick: bringing the device list up to date with the server's table,
// with a view attached and a device selected, as the page shows it.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QItemSelectionModel>
#include <QTreeView>
#include <memory>

#include "bench/bench_support.h"
#include "pages/device_list_model.h"

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

// range(0) devices listed; range(1) of them ask again before each tick.
void BM_ListenTick(benchmark::State& state) {
  Application();
  AskingSockets sockets;
  NoRoutes routes;
  const auto rows = static_cast<std::size_t>(state.range(0));
  const auto changedPerTick = static_cast<std::size_t>(state.range(1));
  auto server = ServerOf(rows, sockets, routes);
  QTreeView view;
  CDeviceListModel model;
  view.setModel(&model);
  view.resize(500, 160);
  view.show();
  model.Reset(*server, false, true);
  view.selectionModel()->select(model.index(static_cast<int>(rows / 2), 0),
                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  std::size_t next = 0;
  for (auto _ : state) {
    for (std::size_t i = 0; i < changedPerTick; ++i) {
      sockets.Ask(KeyOf(next));
      next = (next * 7 + 1) % rows;
    }
    if (changedPerTick > 0) server->ServiceOneRequest();
    model.Refresh(*server);
  }
  if (model.rowCount() != static_cast<int>(rows)) state.SkipWithError("rows were lost");
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
