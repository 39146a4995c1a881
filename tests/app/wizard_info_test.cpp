#include "app/bootp_wizard_info.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "app/wizard_main.h"
#include "bootp/bootp_server.h"
#include "tests/support/settings_location.h"
#include "tests/app/temporary_folder.h"
#include "tests/support/fake_platform.h"
#include "tests/support/requests.h"

namespace quillnet {
namespace {

using testing::FakeSocketApi;
using testing::FakeAdapterSource;
using testing::FakeRouteSource;

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }
std::vector<std::uint8_t> Dword(std::uint32_t value) {
  std::vector<std::uint8_t> data(4);
  std::memcpy(data.data(), &value, 4);
  return data;
}

class WizardInfoTest : public ::testing::Test {
 protected:
  CBootpWizardInfo::Environment Environment() {
    CBootpWizardInfo::Environment environment;
    environment.settingsFile = m_file;
    environment.recordFile = m_folder.File("commissioning.csv");
    return environment;
  }
  void Put(const std::string& name, std::uint32_t type, const std::vector<std::uint8_t>& data) {
    auto key = SettingsStore(m_file).CreateKey(kSettingsKeyPath);
    ASSERT_NE(key, nullptr);
    ASSERT_TRUE(key->SetValue(name, type, data));
  }
  std::optional<std::pair<std::uint32_t, std::vector<std::uint8_t>>> Get(const std::string& name) {
    auto key = SettingsStore(m_file).OpenKey(kSettingsKeyPath);
    std::pair<std::uint32_t, std::vector<std::uint8_t>> value;
    if (!key || !key->QueryValue(name, value.first, value.second)) return std::nullopt;
    return value;
  }

  testing::SettingsLocation m_settings;
  std::string m_file = m_settings.Path();
  testing::TemporaryFolder m_folder;
};

TEST_F(WizardInfoTest, WithoutAKeyNothingIsInstalledRememberedOrCreated) {
  CBootpWizardInfo info(Environment());
  info.LoadSettings();
  EXPECT_FALSE(info.IsInstalled());
  info.SetMacAddress("00:1b:2c:3d:4e:5f");
  info.SetIpAddress("1.2.3.4");
  EXPECT_FALSE(info.LoadRememberedAddresses());
  EXPECT_EQ(info.GetIpAddress(), "1.2.3.4");
  EXPECT_FALSE(m_settings.Exists());
}

struct InstalledCase {
  const char* name;
  std::optional<std::pair<std::uint32_t, std::vector<std::uint8_t>>> installed;
  std::optional<std::pair<std::uint32_t, std::vector<std::uint8_t>>> version;
  bool expected;
};

TEST_F(WizardInfoTest, InstalledOnlyWithANonZeroDwordAndExactlyThisVersion) {
  const std::string version = kProgramVersion;
  const std::vector<InstalledCase> cases = {
      {"one and this version", {{kRegDword, Dword(1)}}, {{kRegSz, Bytes(version + '\0')}}, true},
      {"any non-zero", {{kRegDword, Dword(7)}}, {{kRegSz, Bytes(version + '\0')}}, true},
      {"expandable version", {{kRegDword, Dword(1)}}, {{kRegExpandSz, Bytes(version)}}, true},
      {"text after the NUL", {{kRegDword, Dword(1)}}, {{kRegSz, Bytes(version + std::string("\0x", 2))}}, true},
      {"zero", {{kRegDword, Dword(0)}}, {{kRegSz, Bytes(version)}}, false},
      {"older version", {{kRegDword, Dword(1)}}, {{kRegSz, Bytes("1.1.2.44")}}, false},
      {"trailing blank", {{kRegDword, Dword(1)}}, {{kRegSz, Bytes(version + " ")}}, false},
      {"no version", {{kRegDword, Dword(1)}}, std::nullopt, false},
      {"empty version", {{kRegDword, Dword(1)}}, {{kRegSz, {}}}, false},
      {"version as a dword", {{kRegDword, Dword(1)}}, {{kRegDword, Dword(1)}}, false},
      {"installed as text", {{kRegSz, Bytes("1")}}, {{kRegSz, Bytes(version)}}, false},
      {"no installed", std::nullopt, {{kRegSz, Bytes(version)}}, false},
  };
  for (const InstalledCase& row : cases) {
    SCOPED_TRACE(row.name);
    const testing::SettingsLocation fresh;
    m_file = fresh.Path();
    Put("unrelated", kRegSz, Bytes("x"));
    if (row.installed) Put("Installed", row.installed->first, row.installed->second);
    if (row.version) Put("Version", row.version->first, row.version->second);
    CBootpWizardInfo info(Environment());
    info.LoadSettings();
    EXPECT_EQ(info.IsInstalled(), row.expected);
  }
}

TEST_F(WizardInfoTest, SaveInstalledWritesOneAndTheVersionWithItsNul) {
  CBootpWizardInfo info(Environment());
  info.SaveInstalled(true, kProgramVersion);
  EXPECT_TRUE(info.IsInstalled());
  EXPECT_EQ(Get("Installed"), std::make_pair(kRegDword, Dword(1)));
  EXPECT_EQ(Get("Version"), std::make_pair(kRegSz, Bytes(std::string(kProgramVersion) + '\0')));

  CBootpWizardInfo nextRun(Environment());
  nextRun.LoadSettings();
  EXPECT_TRUE(nextRun.IsInstalled());

  nextRun.SaveInstalled(false, kProgramVersion);
  EXPECT_FALSE(nextRun.IsInstalled());
  EXPECT_EQ(Get("Installed"), std::make_pair(kRegDword, Dword(0)));
}

// The registry's values stay as the Install page left them; the installer's folder only adds
// to them.
TEST_F(WizardInfoTest, AProgramInTheInstallersFolderCountsAsInstalled) {
  struct Case {
    const char* program;
    const char* folder;
    bool expected;
  };
  const std::vector<Case> cases = {
      {"/opt/Varnholt/Quillnet/quillnet", "/opt/Varnholt/Quillnet", true},
      {"/opt/Varnholt/Quillnet/quillnet", "/opt/Varnholt/Quillnet/", true},
      {"/opt/Varnholt/Quillnet/copy/quillnet", "/opt/Varnholt/Quillnet/", false},
      {"/opt/Varnholt/QuillnetTools/quillnet", "/opt/Varnholt/Quillnet", false},
      {"/opt/Varnholt/quillnet", "/opt/Varnholt/Quillnet", false},
      {"/opt/Varnholt/Quillnet/quillnet", "", false},
#ifdef _WIN32
      {"C:\\Program Files\\Varnholt\\Quillnet\\Quillnet.exe", "c:\\program files\\varnholt\\quillnet\\", true},
      {"C:/Program Files/Varnholt/Quillnet/Quillnet.exe", "C:\\Program Files\\Varnholt\\Quillnet\\", true},
#else
      {"/opt/Varnholt/Quillnet/quillnet", "/opt/varnholt/quillnet", false},
#endif
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(std::string(row.program) + " in " + row.folder);
    CBootpWizardInfo::Environment environment = Environment();
    environment.programFile = row.program;
    environment.installedFolder = row.folder;
    CBootpWizardInfo info(environment);
    info.LoadSettings();
    EXPECT_EQ(info.IsInstalled(), row.expected);
  }
  EXPECT_FALSE(m_settings.Exists()) << "nothing is written for it";

  Put("Installed", kRegDword, Dword(1));
  Put("Version", kRegSz, Bytes(std::string(kProgramVersion) + '\0'));
  CBootpWizardInfo::Environment elsewhere = Environment();
  elsewhere.programFile = "/home/user/Tools/quillnet";
  elsewhere.installedFolder = "/opt/Varnholt/Quillnet";
  CBootpWizardInfo copy(elsewhere);
  copy.LoadSettings();
  EXPECT_TRUE(copy.IsInstalled()) << "a copy the Install page made still counts";
}

struct RememberedCase {
  const char* stored;
  const char* ip;
  const char* mask;
  const char* gateway;
};

TEST_F(WizardInfoTest, RememberedAddressesSplitAtBlanks) {
  const RememberedCase cases[] = {
      {"192.168.0.20 255.255.255.0 192.168.0.1", "192.168.0.20", "255.255.255.0", "192.168.0.1"},
      {"192.168.0.20", "192.168.0.20", "", ""},
      {"  192.168.0.20   255.255.255.0", "192.168.0.20", "255.255.255.0", ""},
      {"1.1.1.1 2.2.2.2 3.3.3.3 4.4.4.4", "1.1.1.1", "2.2.2.2", "3.3.3.3"},
      {"1.1.1.1 2.2.2.2 ", "1.1.1.1", "2.2.2.2", ""},
  };
  for (const RememberedCase& row : cases) {
    SCOPED_TRACE(row.stored);
    std::string stored = row.stored;
    Put("00:1b:2c:3d:4e:5f", kRegSz, Bytes({stored.c_str(), stored.size() + 1}));
    CBootpWizardInfo info(Environment());
    info.SetMacAddress("00:1b:2c:3d:4e:5f");
    info.SetDefaultGateway("9.9.9.9");
    ASSERT_TRUE(info.LoadRememberedAddresses());
    EXPECT_EQ(info.GetIpAddress(), row.ip);
    EXPECT_EQ(info.GetSubnetMask(), row.mask);
    EXPECT_EQ(info.GetDefaultGateway(), row.gateway);
  }
}

TEST_F(WizardInfoTest, EmptyOrMistypedRememberedValueChangesNothing) {
  for (const auto& [type, data] : std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>>{
           {kRegSz, Bytes({"\0", 1})}, {kRegSz, {}}, {kRegDword, Dword(5)}}) {
    Put("00:1b:2c:3d:4e:5f", type, data);
    CBootpWizardInfo info(Environment());
    info.SetMacAddress("00:1b:2c:3d:4e:5f");
    info.SetIpAddress("10.1.1.1");
    info.SetSubnetMask("255.0.0.0");
    EXPECT_FALSE(info.LoadRememberedAddresses());
    EXPECT_EQ(info.GetIpAddress(), "10.1.1.1");
    EXPECT_EQ(info.GetSubnetMask(), "255.0.0.0");
  }
}

TEST_F(WizardInfoTest, EachDeviceKeepsOneValueThatALaterAssignmentReplaces) {
  CBootpWizardInfo info(Environment());
  auto assign = [&](const char* mac, const char* ip) {
    info.SetMacAddress(mac);
    info.SetIpAddress(ip);
    info.SetSubnetMask("255.255.255.0");
    info.SetDefaultGateway("");
    info.SaveRememberedAddresses();
  };
  assign("00:1b:2c:3d:4e:5f", "192.168.0.20");
  assign("00:1b:2c:3d:4e:60", "192.168.0.21");
  assign("00:1b:2c:3d:4e:5f", "192.168.0.30");

  EXPECT_EQ(Get("00:1b:2c:3d:4e:5f"),
            std::make_pair(kRegSz, Bytes({"192.168.0.30 255.255.255.0 \0", 28})));

  CBootpWizardInfo nextRun(Environment());
  nextRun.SetMacAddress("00:1b:2c:3d:4e:60");
  ASSERT_TRUE(nextRun.LoadRememberedAddresses());
  EXPECT_EQ(nextRun.GetIpAddress(), "192.168.0.21");
  EXPECT_EQ(nextRun.GetDefaultGateway(), "");
}

TEST_F(WizardInfoTest, LocalAddressQueryProposesMaskAndGatewayOnlyOnSuccess) {
  FakeAdapterSource adapters;
  adapters.adapters = {{"eth0", {{"192.168.0.5", "255.255.255.0"}}, "192.168.0.1"}};
  CBootpWizardInfo::Environment environment = Environment();
  environment.adapters = &adapters;
  CBootpWizardInfo info(environment);
  EXPECT_EQ(info.QueryLocalIpAddress(), "192.168.0.5");
  EXPECT_EQ(info.GetLocalIpAddress(), "192.168.0.5");
  EXPECT_EQ(info.GetSubnetMask(), "255.255.255.0");
  EXPECT_EQ(info.GetDefaultGateway(), "192.168.0.1");

  adapters.result = AdapterQueryResult::kNoData;
  adapters.adapters.clear();
  EXPECT_EQ(info.QueryLocalIpAddress(), "");
}

// The network proposed for a device and checked against: this PC's on the interface it was
// heard on, or its relay agent's when it asked through one.
TEST_F(WizardInfoTest, LocalNetworkIsTheHeardInterfacesOrTheRelays) {
  FakeAdapterSource adapters;
  adapters.adapters = {{"eth0", {{"192.168.0.5", "255.255.255.0"}}, "192.168.0.1", 1},
                       {"eth1", {{"10.1.0.2", "255.255.0.0"}}, "0.0.0.0", 2}};
  FakeSocketApi sockets;
  FakeRouteSource routes;
  CBootpWizardInfo::Environment environment = Environment();
  environment.adapters = &adapters;
  environment.serverFactory = [&] { return std::make_unique<BootPServer>(sockets, routes); };
  CBootpWizardInfo info(environment);
  BootPServer* server = info.GetServer();
  ASSERT_TRUE(server->Start());
  testing::Request direct;
  testing::Request relayed;
  relayed.mac = 0x02005E000002;
  std::vector<std::uint8_t> relayedBytes = relayed.Bytes();
  const std::uint8_t relay[] = {10, 89, 0, 1};
  std::copy(std::begin(relay), std::end(relay), relayedBytes.begin() + kGiaddrOffset);
  sockets.Push(direct.Bytes(), 2);
  sockets.Push(relayedBytes, 1);
  server->ServiceOneRequest();

  struct Case {
    std::string mac;
    std::string local;
    std::string mask;
    std::string relay;
  };
  for (const Case& c : {Case{"02:00:5e:10:20:30", "10.1.0.2", "255.255.0.0", ""},
                        Case{"02:00:5e:00:00:02", "10.89.0.1", "255.255.255.0", "10.89.0.1"},
                        Case{"02:00:5e:00:00:09", "192.168.0.5", "255.255.255.0", ""}}) {
    info.SetMacAddress(c.mac);
    info.RefreshLocalAddress();
    EXPECT_EQ(info.GetLocalIpAddress(), c.local) << c.mac;
    EXPECT_EQ(info.GetLocalSubnetMask(), c.mask) << c.mac;
    EXPECT_EQ(info.GetRelayAddress(), c.relay) << c.mac;
    EXPECT_EQ(info.IsDeviceOnAnotherNetwork(), c.local != "192.168.0.5") << c.mac;
  }
  server->Stop();
}

TEST_F(WizardInfoTest, ServerIsMadeOnceAndArmedOnlyOnceItExists) {
  FakeSocketApi sockets;
  FakeRouteSource routes;
  int made = 0;
  CBootpWizardInfo::Environment environment = Environment();
  environment.serverFactory = [&] {
    ++made;
    return std::make_unique<BootPServer>(sockets, routes);
  };
  CBootpWizardInfo info(environment);
  info.SetMacAddress("00:1b:2c:3d:4e:5f");
  info.SetIpAddress("192.168.0.20");
  info.SetSubnetMask("255.255.255.0");
  info.SetDefaultGateway("192.168.0.1");
  EXPECT_FALSE(info.ArmServer());
  BootPServer* server = info.GetServer();
  EXPECT_EQ(info.GetServer(), server);
  EXPECT_EQ(made, 1);
  EXPECT_TRUE(info.ArmServer());
  EXPECT_TRUE(server->IsArmed());
}

// The receive loop as the Listen page runs it: a failed start ends it, a new one started later
// starts the same server without stopping it, and the end of the run stops and joins it
// before the server is deleted (a server deleted under the loop shows up under the
// sanitizers; a loop that is never woken hangs the test).
TEST_F(WizardInfoTest, ListeningEndsOnAFailedStartIsStartedAnewAndIsJoinedAtTheEnd) {
  FakeSocketApi sockets;
  FakeRouteSource routes;
  sockets.failAnyBindNumber = 1;
  sockets.failAnyBindError = 10048;
  CBootpWizardInfo::Environment environment = Environment();
  environment.serverFactory = [&] { return std::make_unique<BootPServer>(sockets, routes); };
  auto info = std::make_unique<CBootpWizardInfo>(environment);
  auto waitFor = [](auto condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
  };
  BootPServer* server = info->GetServer();

  server->Listen();
  ASSERT_TRUE(waitFor([&] { return !server->IsStarting(); }));
  EXPECT_FALSE(server->IsRunning());

  // The port is free now: the next loop starts the server, and the old one is only joined.
  server->Listen();
  ASSERT_TRUE(waitFor([&] { return server->IsRunning(); }));
  ASSERT_TRUE(sockets.WaitForReceiver());
  server->Listen();
  testing::Request request;
  sockets.Push(request.Bytes());
  EXPECT_TRUE(waitFor([&] { return server->GetCount(0) == 1; }));
  const std::vector<std::string> log = sockets.log();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& line) { return line.ends_with(" 0.0.0.0:67"); }),
            2)
      << "one failed bind, one that holds; a running loop is not started twice";

  info.reset();
  EXPECT_TRUE(sockets.openSockets().empty());
}

TEST_F(WizardInfoTest, EntryPointTearsDownInOrderAndAlwaysExitsWithZero) {
  FakeSocketApi sockets;
  FakeRouteSource routes;
  class LoggingServer : public BootPServer {
   public:
    LoggingServer(SocketApi& s, RouteSource& r, std::vector<std::string>& log)
        : BootPServer(s, r), m_log(log) {}
    ~LoggingServer() override { m_log.push_back("server deleted"); }

   private:
    std::vector<std::string>& m_log;
  };

  for (int sheetResult : {1, 0, -1}) {
    SCOPED_TRACE(sheetResult);
    std::vector<std::string> log;
    CBootpWizardInfo::Environment environment = Environment();
    environment.serverFactory = [&] {
      return std::make_unique<LoggingServer>(sockets, routes, log);
    };
    Put("Installed", kRegDword, Dword(1));
    Put("Version", kRegSz, Bytes(kProgramVersion));
    const int exitCode = WizardMain(
        [&] {
          log.push_back("libraries started");
          return std::shared_ptr<void>(nullptr, [&](void*) { log.push_back("libraries released"); });
        },
        [&](CBootpWizardInfo& info) {
          // The settings are loaded before the sheet is shown.
          log.push_back(info.IsInstalled() ? "sheet shown, installed" : "sheet shown");
          info.GetServer();
          return sheetResult;
        },
        environment);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(log, (std::vector<std::string>{"libraries started", "sheet shown, installed",
                                             "server deleted", "libraries released"}));
  }
}

}  // namespace
}  // namespace quillnet
