#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/address_prober.h"
#include "app/device_network.h"
#include "app/firewall_check.h"
#include "app/keep_runner.h"
#include "app/vendor_loader.h"
#include "platform/settings_store.h"

namespace quillnet {

class AdapterSource;
class AssignmentSession;
class BootPServer;
class CBootpWizardInfo;

// The program's own version and the registry key that keeps its settings.
inline constexpr char kProgramVersion[] = QUILLNET_VERSION;
inline constexpr char kSettingsKeyPath[] = "Software\\Varnholt\\Quillnet";

// Dialog resource numbers name the pages.
inline constexpr int kWelcomePageId = 115;
inline constexpr int kEndPageId = 116;
inline constexpr int kInstallPageId = 117;
inline constexpr int kSetIpPageId = 130;
inline constexpr int kListenPageId = 131;
inline constexpr int kAssignIpPageId = 133;

// Base of the sheet and of every page: their way to the shared state of the run.
class CBootpWizardInfoRef {
 public:
  CBootpWizardInfo* m_pWizardInfo = nullptr;
};

// The shared state of one run of the wizard.
//
// It owns the run's server, whose receive loop the Listen page starts (BootPServer::Listen).
// At the end of the run the shared state stops the server, which wakes a blocked receive and
// joins its threads, and only then deletes it.
class CBootpWizardInfo {
 public:
  // Shows the sheet for this state modally and returns the sheet's result.
  using SheetRunner = std::function<int(CBootpWizardInfo&)>;
  using ServerFactory = std::function<std::unique_ptr<BootPServer>()>;

  // What the state uses of the system; every field left empty means this machine's own.
  struct Environment {
    std::string settingsFile;            // "" → the current user's store
    ServerFactory serverFactory;         // empty → BootPServer on the system's sockets
    AdapterSource* adapters = nullptr;   // null → the system's adapters
    // null → the system's neighbour check
    NeighbourCheck* neighbours = nullptr;
    // The interfaces to probe a device on that was not heard on any known one; empty → every
    // interface that can send ARP.
    std::function<std::vector<int>()> arpInterfaces;
    int settingsBusyTimeoutMs = SettingsStore::kDefaultBusyTimeoutMs;
    // How long the Assign IP page waits for the device after a reply; 0 → timing::kCheckWindow.
    std::chrono::milliseconds answerWindow{0};
    // How long the Listen page hears nothing before it explains the silence; 0 → its own.
    std::chrono::milliseconds silenceWindow{0};
    // What the firewall does to BOOTP; empty → this system's firewall, for the running program.
    std::function<FirewallCheck()> firewall;
    std::string programFile;   // what the Install page copies; "" → the running program
    // Where the system's installer put the programs; "" → where it recorded (none on Linux).
    std::string installedFolder;
    std::string packageQuery;  // what tells a file's package; "" → dpkg-query
    std::string vendorFolder;  // the makers' registries; "" → the system's
    KeepRunner::Keep keep;     // how a device is told to keep its address; empty → EtherNet/IP
    std::string recordFile;    // the commissioning record; "" → the user's
  };

  CBootpWizardInfo();
  explicit CBootpWizardInfo(Environment environment);
  // Stops the server as stated above, then deletes it.
  virtual ~CBootpWizardInfo();

  CBootpWizardInfo(const CBootpWizardInfo&) = delete;
  CBootpWizardInfo& operator=(const CBootpWizardInfo&) = delete;

  // Loads the settings, then shows the sheet; true when the sheet ended with 1.
  bool Run(const SheetRunner& showSheet);

  void LoadSettings();
  // Installed by this version's own Install page (the registry says so), or started from the
  // folder the system's installer put it in.
  bool IsInstalled() const { return m_installed || m_packageInstalled; }
  void SaveInstalled(bool installed, const std::string& version);

  BootPServer* GetServer();
  // Who is told of server failures that need the user (called on the worker thread). Given
  // to the server when it is made, or at once if it exists.
  void SetServerErrorHandler(std::function<void(const std::string& text, const std::string& caption)> handler);
  bool ArmServer();

  std::string GetMacAddress() const { return m_macAddress; }
  bool SetMacAddress(const std::string& text);
  std::string GetIpAddress() const { return m_ipAddress; }
  bool SetIpAddress(const std::string& text);
  std::string GetSubnetMask() const { return m_subnetMask; }
  bool SetSubnetMask(const std::string& text);
  std::string GetDefaultGateway() const { return m_defaultGateway; }
  bool SetDefaultGateway(const std::string& text);
  // Whether the selected device is to be told to keep its address once it answers there
  // (EtherNet/IP); remembered per device with its addresses.
  bool GetKeepAddress() const { return m_keepAddress; }
  void SetKeepAddress(bool keep) { m_keepAddress = keep; }

  // Who made the device: the registries are read on a thread of their own from the start of
  // the run, so "not loaded yet" may come first.
  VendorLookup LookupVendor(DeviceKey device) const { return m_vendors.Lookup(device); }
  // Appends the assignment's line to the commissioning record; what that came to, for the end
  // pages, is GetRecordResult.
  void RecordAssignment(const AssignmentSession& session);
  // "The assignment was recorded in <path>." or why it was not; "" while this run's latest
  // device choice has none.
  std::string GetRecordResult() const { return m_recordResult; }
  void ClearRecordResult() { m_recordResult.clear(); }

  // Asks the network, off the user-interface thread, whether another device answers at
  // `ipAddress` where the selected device is (as the last RefreshLocalAddress found it; see
  // BuildProbe). `done` gets the result on the prober's thread unless a later probe or
  // CancelProbes came first. An unreadable text is asked for as 0.0.0.0, at which nobody
  // answers. Returns the probe's generation.
  std::uint64_t ProbeForOtherHolder(const std::string& ipAddress, AddressProber::Done done);
  // Ends the probe under way; once it returns, no result of it is being delivered.
  void CancelProbes();
  // Arms the server for the selected device with the addresses of the shared state, and
  // watches the assignment: after each answer the device is asked for GetAnswerWindow(), every
  // timing::kCheckInterval, whether it answers at its address. The session has ended already
  // when the server could not be armed.
  std::unique_ptr<AssignmentSession> StartAssignment();
  // What the assignment came to, for the end pages: the verdict (confirmed or not, and why),
  // and the lines that follow the summary (the device's own word, a lost link); both "" while
  // no assignment has ended.
  void SetAssignmentResult(const std::string& verdict, const std::string& details);
  std::string GetVerdict() const { return m_verdict; }
  std::string GetConfirmation() const { return m_confirmation; }
  // The address the selected device declined as in use by another device, in this run; the
  // Set IP page does not propose it again. "" when it declined none.
  void SetDeclinedAddress(const std::string& ipAddress);
  std::string GetDeclinedAddress() const;
  // How long the device is asked after a reply: timing::kCheckWindow, unless the environment
  // asks for another.
  std::chrono::milliseconds GetAnswerWindow() const;
  // The silence the environment lets the Listen page wait; 0 when it leaves it to the page.
  std::chrono::milliseconds GetSilenceWindow() const { return m_environment.silenceWindow; }
  // What the firewall does to BOOTP requests on their way to this program.
  FirewallCheck CheckFirewall() const;
  // The interfaces the server hears requests on, one "name address" a row, in the adapters'
  // order: every address of every adapter that has one.
  std::vector<std::string> GetListeningAddresses() const;

  // Queries this PC's adapter: its address, which it returns, and its mask, kept as this PC's;
  // the mask and gateway also become the ones offered to the device.
  std::string QueryLocalIpAddress();
  // Finds the selected device again (LocateDevice), leaving its addresses alone: the PC's
  // address may have changed since the Welcome page. The PC's address and mask shown are then
  // those of the device's network: this PC's on the interface the device was last heard on,
  // or for a device heard through a relay agent the relay's address and kRelaySubnetMask;
  // else the first adapter's, as on the Welcome page. The Set IP page proposes the device's
  // network from them.
  void RefreshLocalAddress();
  // Checks addresses for the selected device where the last RefreshLocalAddress found it
  // (CheckDeviceAddresses).
  AddressVerdict CheckAddresses(const std::string& ipAddress, const std::string& subnetMask,
                                const std::string& defaultGateway) const;
  // Whether the last RefreshLocalAddress found the device on another network than the first
  // adapter's (another interface's, or behind a relay agent): the address and mask below are
  // then that network's.
  bool IsDeviceOnAnotherNetwork() const { return m_deviceOnAnotherNetwork; }
  // The relay agent the selected device was last heard through, as the last
  // RefreshLocalAddress found it; "" when it asked on one of this PC's networks. While it is
  // set, GetLocalIpAddress is the relay's address, not this PC's.
  std::string GetRelayAddress() const { return m_relayAddress; }
  std::string GetLocalIpAddress() const { return m_localIpAddress; }
  // "" when not known.
  std::string GetLocalSubnetMask() const { return m_localSubnetMask; }

  // Reads the device's remembered addresses and whether it is to keep them; a part stored with
  // leading zeros ("010") is read as decimal, as the check that let it pass read it, and kept
  // without them. False when none are remembered: the keep choice is then off.
  bool LoadRememberedAddresses();
  void SaveRememberedAddresses();
  // One line per setting that could not be saved, for the end pages: the device's addresses
  // were not remembered, and why.
  std::vector<std::string> GetSettingsProblems() const;
  // How long Finish waits for settings writes that another program's lock holds up.
  static constexpr std::chrono::milliseconds kFinishWritesLimit{2000};

  void SetStatusMessage(const std::string& text);
  std::string GetStatusMessage() const { return m_statusMessage; }
  void SetInstallPath(const std::string& text);
  std::string GetInstallPath() const { return m_installPath; }
  // The end page the Install page was reached from, by its index in the sheet; the Install
  // page returns there, so that page's account of the run stays true. -1 before.
  void SetInstallOrigin(int pageIndex) { m_installOrigin = pageIndex; }
  int GetInstallOrigin() const { return m_installOrigin; }
  // What the last install came to, for the end pages; "" when none was tried.
  void SetInstallResult(const std::string& text) { m_installResult = text; }
  std::string GetInstallResult() const { return m_installResult; }
  // What the environment names instead of the running program and the system's package query;
  // "" for those themselves.
  std::string GetProgramFile() const;
  std::string GetPackageQueryProgram() const;

  int GetNextPage(int pageId) const;
  int GetPreviousPage(int pageId) const;
  bool FinishWizard(const void* pageWindow);

 private:
  AddressProber& GetProber();
  // The interfaces a device heard on none known is asked on.
  std::function<std::vector<int>()> FallbackInterfaces() const;
  // The environment's adapters, else this machine's.
  AdapterSource& Adapters() const;
  bool QueryAdapter(std::string& ipAddress, std::string& subnetMask, std::string& defaultGateway);

  std::string m_macAddress;
  std::string m_ipAddress;
  std::string m_subnetMask;
  std::string m_defaultGateway;
  bool m_keepAddress = false;
  std::string m_recordResult;
  std::string m_localIpAddress;
  std::string m_localSubnetMask;
  std::string m_relayAddress;
  bool m_deviceOnAnotherNetwork = false;
  DeviceNetwork m_deviceNetwork;
  bool m_installed = false;
  bool m_packageInstalled = false;
  std::unique_ptr<BootPServer> m_bootpServer;
  std::string m_statusMessage;
  std::string m_installPath;
  int m_installOrigin = -1;
  std::string m_installResult;
  std::string m_verdict;
  std::string m_confirmation;
  // By MAC text.
  std::map<std::string, std::string> m_declined;

  std::function<void(const std::string&, const std::string&)> m_serverErrorHandler;
  Environment m_environment;
  SettingsStore m_settings;
  VendorLoader m_vendors;
  std::unique_ptr<AddressProber> m_prober;
};

}  // namespace quillnet
