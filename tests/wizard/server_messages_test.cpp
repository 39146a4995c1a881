#include <gtest/gtest.h>

#include <QMessageBox>
#include <thread>

#include "bootp/bootp_server.h"
#include "tests/wizard/wizard_test_support.h"
#include "wizard/qt/server_messages.h"

namespace quillnet {
namespace {

using testing::WaitFor;

// Delivers one BOOTP request from 00:1b:2c:3d:4e:5f, then nothing.
class OneRequestSockets : public SocketApi {
 public:
  int Startup(std::uint16_t requested, std::uint16_t& granted) override {
    granted = requested;
    return 0;
  }
  int Open(SocketHandle& socket) override {
    socket = 5;
    return 0;
  }
  int EnableBroadcast(SocketHandle) override { return 0; }
  int SetReceiveBuffer(SocketHandle, int, int&) override { return 0; }
  int Bind(SocketHandle, std::uint32_t, std::uint16_t) override { return 0; }
  int ReceiveMany(SocketHandle, std::span<ReceivedDatagram> datagrams,
                  std::size_t& count) override {
    std::span<std::uint8_t> buffer = datagrams[0].buffer;
    std::fill(buffer.begin(), buffer.end(), 0);
    buffer[kOpOffset] = kOpBootRequest;
    buffer[kHtypeOffset] = 1;
    buffer[kHlenOffset] = kEthernetAddressLength;
    const std::uint8_t mac[] = {0x00, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f};
    std::copy(std::begin(mac), std::end(mac), buffer.begin() + kChaddrOffset);
    datagrams[0].length = kMinRequestLength;
    count = 1;
    return 0;
  }
  int SendFrom(SocketHandle, std::span<const std::uint8_t>, std::uint32_t, int, std::uint32_t,
               std::uint16_t) override {
    return 0;
  }
  void Shutdown(SocketHandle) override {}
  void Close(SocketHandle) override {}
};

class FailingRoutes : public RouteSource {
 public:
  RouteQueryResult QueryRoutes(std::vector<RouteRow>&) override { return RouteQueryResult::kFailed; }
};

QMessageBox* ServerMessageBox() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == "serverMessageBox" && widget->isVisible()) {
      return static_cast<QMessageBox*>(widget);
    }
  }
  return nullptr;
}

TEST(ServerMessages, FailureOnTheWorkerIsShownAsAMessageBoxOnTheUiThread) {
  testing::TemporaryFolder folder;
  OneRequestSockets sockets;
  FailingRoutes routes;
  CBootpWizardInfo::Environment environment;
  environment.settingsFile = folder.File("registry.sqlite3");
  environment.recordFile = folder.File("commissioning.csv");
  environment.serverFactory = [&] { return std::make_unique<BootPServer>(sockets, routes); };
  CBootpWizardInfo info(environment);
  CBootpWizardSheet pages(&info, 0, {});
  QtWizardSheet sheet(pages);

  BootPServer* server = info.GetServer();
  ASSERT_TRUE(server->Start());
  info.SetMacAddress("00:1b:2c:3d:4e:5f");
  info.SetIpAddress("192.168.0.20");
  info.SetSubnetMask("255.255.255.0");
  info.SetDefaultGateway("192.168.0.1");
  ASSERT_TRUE(info.ArmServer());
  std::thread worker([server] { server->ServiceOneRequest(); });
  worker.join();
  ASSERT_TRUE(server->WaitForReplies(std::chrono::seconds(5)));
  EXPECT_FALSE(server->IsArmed());

  ASSERT_TRUE(WaitFor([] { return ServerMessageBox() != nullptr; }));
  QMessageBox* box = ServerMessageBox();
  EXPECT_EQ(box->thread(), QApplication::instance()->thread());
  EXPECT_EQ(box->windowTitle(), "Error before send");
  EXPECT_EQ(box->text(), "Insufficient buffer for GetIpForwardTable");
  box->close();
  ASSERT_TRUE(WaitFor([] { return ServerMessageBox() == nullptr; }));
}

}  // namespace
}  // namespace quillnet
