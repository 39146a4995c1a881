#include "app/bootp_wizard_info.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "app/assignment_session.h"
#include "app/assignment_timing.h"
#include "bootp/adapter_query.h"
#include "bootp/bootp_server.h"
#include "platform/ipv4_text.h"
#include "platform/program_file.h"

namespace quillnet {
namespace {

constexpr char kInstalledValue[] = "Installed";
constexpr char kVersionValue[] = "Version";

SettingsStore MakeStore(const CBootpWizardInfo::Environment& environment) {
  if (environment.settingsFile.empty()) return SettingsStore();
  return SettingsStore(environment.settingsFile, environment.settingsBusyTimeoutMs);
}

// A string value as the registry keeps it: REG_SZ or REG_EXPAND_SZ, up to its first NUL;
// "" for anything else.
std::string ReadString(const SettingsKey& key, const std::string& name) {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  if (!key.QueryValue(name, type, data) || (type != kRegSz && type != kRegExpandSz) ||
      data.empty()) {
    return {};
  }
  std::string text(data.begin(), data.end());
  return text.substr(0, text.find('\0'));
}

// A write queued behind another program's lock counts as done: the store finishes it.
bool WriteValue(SettingsStore& store, const std::string& name, std::uint32_t type,
                std::span<const std::uint8_t> data) {
  return store.WriteValue(kSettingsKeyPath, name, type, data) !=
         SettingsStore::WriteResult::kFailed;
}

void WriteString(SettingsStore& store, const std::string& name, const std::string& text) {
  // Stored with its terminating NUL, as the registry stores strings.
  std::vector<std::uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  WriteValue(store, name, kRegSz, data);
}

}  // namespace

CBootpWizardInfo::CBootpWizardInfo() : CBootpWizardInfo(Environment{}) {}

CBootpWizardInfo::CBootpWizardInfo(Environment environment)
    : m_environment(std::move(environment)), m_settings(MakeStore(m_environment)) {}

CBootpWizardInfo::~CBootpWizardInfo() {
  // A probe's result would be handed to pages that are gone.
  m_prober.reset();
  // Its receive loop may be blocked in the receive: woken and joined before the server goes.
  if (m_bootpServer) m_bootpServer->Stop();
  m_bootpServer.reset();
  // However the window closed, writes that another program's lock holds up keep the ended
  // program alive only briefly.
  m_settings.FinishWrites(kFinishWritesLimit);
}

AddressProber& CBootpWizardInfo::GetProber() {
  if (!m_prober) {
    m_prober = std::make_unique<AddressProber>(
        m_environment.neighbours != nullptr ? *m_environment.neighbours : SystemNeighbourCheck());
  }
  return *m_prober;
}

std::uint64_t CBootpWizardInfo::ProbeDeviceAddress(const std::string& ipAddress, ProbeFor who,
                                                   std::chrono::milliseconds duration,
                                                   std::chrono::milliseconds interval,
                                                   AddressProber::Done done) {
  ProbeRequest request;
  ReadIpv4Text(ipAddress, request.ip);
  // ARP does not pass the relay agent's router: a holder behind it is asked with ICMP echo.
  request.echo = !m_relayAddress.empty();
  if (!request.echo) request.interfaces = GetServer()->GetHeardInterfaces(ParseMacKey(m_macAddress));
  if (!request.echo && request.interfaces.empty()) {
    request.interfaces = m_environment.arpInterfaces ? m_environment.arpInterfaces() : ArpInterfaces();
  }
  const DeviceKey device = ParseMacKey(m_macAddress);
  request.accept = [device, who](DeviceKey holder) {
    return (holder == device) == (who == ProbeFor::kTheDevice);
  };
  request.duration = duration;
  request.interval = interval;
  return GetProber().Start(std::move(request), std::move(done));
}

void CBootpWizardInfo::CancelProbes() {
  if (m_prober) m_prober->Cancel();
}

std::chrono::milliseconds CBootpWizardInfo::GetAnswerWindow() const {
  return m_environment.answerWindow.count() > 0 ? m_environment.answerWindow
                                                : timing::kCheckWindow;
}

std::unique_ptr<AssignmentSession> CBootpWizardInfo::StartAssignment() {
  AssignmentSession::Settings settings;
  settings.checkWindow = GetAnswerWindow();
  settings.fallbackInterfaces =
      m_environment.arpInterfaces ? m_environment.arpInterfaces : ArpInterfaces;
  auto session = std::make_unique<AssignmentSession>(*GetServer(), GetProber(), settings);
  session->Arm(m_macAddress, m_ipAddress, m_subnetMask, m_defaultGateway);
  return session;
}

bool CBootpWizardInfo::Run(const SheetRunner& showSheet) {
  LoadSettings();
  return showSheet && showSheet(*this) == 1;
}

void CBootpWizardInfo::LoadSettings() {
  bool installed = false;
  std::string version;
  if (auto key = m_settings.OpenKey(kSettingsKeyPath)) {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    if (key->QueryValue(kInstalledValue, type, data) && type == kRegDword && data.size() == 4) {
      std::uint32_t value = 0;
      std::memcpy(&value, data.data(), sizeof value);
      installed = value != 0;
    }
    version = ReadString(*key, kVersionValue);
  }
  if (version != kProgramVersion) installed = false;
  m_installed = installed;
  const std::string folder = m_environment.installedFolder.empty()
                                 ? InstalledProgramFolder()
                                 : m_environment.installedFolder;
  const std::string program =
      m_environment.programFile.empty() ? RunningProgramPath() : m_environment.programFile;
  m_packageInstalled = !folder.empty() && IsFileInFolder(program, folder);
}

void CBootpWizardInfo::SaveInstalled(bool installed, const std::string& version) {
  const std::uint32_t value = installed ? 1 : 0;
  std::uint8_t data[sizeof value];
  std::memcpy(data, &value, sizeof value);
  if (!WriteValue(m_settings, kInstalledValue, kRegDword, data)) return;
  m_installed = installed;
  WriteString(m_settings, kVersionValue, version);
}

BootPServer* CBootpWizardInfo::GetServer() {
  if (!m_bootpServer) {
    m_bootpServer = m_environment.serverFactory ? m_environment.serverFactory()
                                                : std::make_unique<BootPServer>();
    if (m_bootpServer && m_serverErrorHandler) m_bootpServer->SetErrorHandler(m_serverErrorHandler);
  }
  return m_bootpServer.get();
}

void CBootpWizardInfo::SetServerErrorHandler(
    std::function<void(const std::string& text, const std::string& caption)> handler) {
  m_serverErrorHandler = std::move(handler);
  if (m_bootpServer) m_bootpServer->SetErrorHandler(m_serverErrorHandler);
}

bool CBootpWizardInfo::ArmServer() {
  // The Listen page, which always comes first, has created the server; without one there is
  // nothing to arm.
  if (!m_bootpServer) return false;
  return m_bootpServer->Arm(m_macAddress, m_ipAddress, m_subnetMask, m_defaultGateway);
}

bool CBootpWizardInfo::SetMacAddress(const std::string& text) {
  m_macAddress = text;
  return true;
}

bool CBootpWizardInfo::SetIpAddress(const std::string& text) {
  m_ipAddress = text;
  return true;
}

bool CBootpWizardInfo::SetSubnetMask(const std::string& text) {
  m_subnetMask = text;
  return true;
}

bool CBootpWizardInfo::SetDefaultGateway(const std::string& text) {
  m_defaultGateway = text;
  return true;
}

FirewallCheck CBootpWizardInfo::CheckFirewall() const {
  if (m_environment.firewall) return m_environment.firewall();
  const std::string program =
      m_environment.programFile.empty() ? RunningProgramPath() : m_environment.programFile;
  return quillnet::CheckFirewall(ReadFirewall(), program);
}

std::vector<std::string> CBootpWizardInfo::GetListeningAddresses() const {
  std::vector<AdapterInfo> adapters;
  std::vector<std::string> listening;
  if (Adapters().QueryAdapters(adapters) != AdapterQueryResult::kOk) return listening;
  for (const AdapterInfo& adapter : adapters) {
    for (const AdapterAddress& address : adapter.addresses) {
      if (address.ipAddress != "0.0.0.0") {
        listening.push_back(adapter.name + " " + address.ipAddress);
      }
    }
  }
  return listening;
}

AdapterSource& CBootpWizardInfo::Adapters() const {
  return m_environment.adapters != nullptr ? *m_environment.adapters : SystemAdapterSource();
}

bool CBootpWizardInfo::QueryAdapter(std::string& ipAddress, std::string& subnetMask,
                                    std::string& defaultGateway) {
  return QueryLocalAdapter(Adapters(), ipAddress, subnetMask, defaultGateway);
}

std::string CBootpWizardInfo::QueryLocalIpAddress() {
  const bool found = QueryAdapter(m_localIpAddress, m_subnetMask, m_defaultGateway);
  if (found) m_localSubnetMask = m_subnetMask;
  return found ? m_localIpAddress : std::string();
}

void CBootpWizardInfo::RefreshLocalAddress() {
  // The device's network is the one of the interface it was last heard on; the first adapter
  // (the Welcome page's) only stands in where that is not known.
  const std::vector<int> heard =
      m_bootpServer ? m_bootpServer->GetHeardInterfaces(ParseMacKey(m_macAddress)) : std::vector<int>();
  // A device behind a router was heard through its relay agent, which sits on its network.
  m_relayAddress = m_bootpServer ? m_bootpServer->GetRelayOf(ParseMacKey(m_macAddress)) : std::string();
  // A query that fails leaves what it was given, as it does on the Welcome page; one that
  // finds no adapter leaves this PC without an address.
  std::string gateway;
  if (!QueryAdapter(m_localIpAddress, m_localSubnetMask, gateway)) {
    m_localIpAddress.clear();
    m_localSubnetMask.clear();
  }
  if (!m_relayAddress.empty()) {
    // The relay's subnet: its address, and the three-part network the page proposes.
    m_deviceOnAnotherNetwork = true;
    m_localIpAddress = m_relayAddress;
    m_localSubnetMask = kRelaySubnetMask;
    return;
  }
  std::string ip;
  std::string mask;
  m_deviceOnAnotherNetwork = !heard.empty() &&
                             QueryInterfaceAddress(Adapters(), heard.front(), ip, mask) &&
                             ip != m_localIpAddress;
  if (m_deviceOnAnotherNetwork) {
    m_localIpAddress = ip;
    m_localSubnetMask = mask;
  }
}

std::string CBootpWizardInfo::OwnAddressHolder(const std::string& ipAddress) {
  std::uint32_t ip = 0;
  if (!ReadIpv4Text(ipAddress, ip)) return {};
  return quillnet::OwnAddressHolder(Adapters(), ip);
}

bool CBootpWizardInfo::LoadRememberedAddresses() {
  auto key = m_settings.OpenKey(kSettingsKeyPath);
  if (!key) return false;
  const std::string text = ReadString(*key, m_macAddress);
  key.reset();
  if (text.empty()) return false;

  std::string* targets[] = {&m_ipAddress, &m_subnetMask, &m_defaultGateway};
  std::size_t position = 0;
  for (std::string* target : targets) {
    const std::size_t start = text.find_first_not_of(' ', position);
    if (start == std::string::npos) {
      target->clear();
      position = text.size();
      continue;
    }
    const std::size_t end = std::min(text.find(' ', start), text.size());
    *target = NormalizedIpv4Text(text.substr(start, end - start));
    position = end;
  }
  return true;
}

void CBootpWizardInfo::SaveRememberedAddresses() {
  WriteString(m_settings, m_macAddress, m_ipAddress + " " + m_subnetMask + " " + m_defaultGateway);
}

std::vector<std::string> CBootpWizardInfo::GetSettingsProblems() const {
  std::vector<std::string> lines;
  for (const SettingsStore::Failure& failure : m_settings.Failures()) {
    DeviceKey key = 0;
    lines.push_back(ParseMacText(failure.name, key)
                        ? "The addresses of " + failure.name + " were not remembered: " +
                              failure.why + "."
                        : "The setting \"" + failure.name + "\" was not saved: " + failure.why + ".");
  }
  return lines;
}

void CBootpWizardInfo::SetStatusMessage(const std::string& text) { m_statusMessage = text; }

void CBootpWizardInfo::SetAssignmentResult(const std::string& verdict,
                                           const std::string& details) {
  m_verdict = verdict;
  m_confirmation = details;
}

void CBootpWizardInfo::SetDeclinedAddress(const std::string& ipAddress) {
  m_declined[m_macAddress] = ipAddress;
}

std::string CBootpWizardInfo::GetDeclinedAddress() const {
  const auto found = m_declined.find(m_macAddress);
  return found != m_declined.end() ? found->second : std::string();
}

void CBootpWizardInfo::SetInstallPath(const std::string& text) { m_installPath = text; }

std::string CBootpWizardInfo::GetProgramFile() const { return m_environment.programFile; }

std::string CBootpWizardInfo::GetPackageQueryProgram() const {
  return m_environment.packageQuery;
}

int CBootpWizardInfo::GetNextPage(int /*pageId*/) const { return 0; }

int CBootpWizardInfo::GetPreviousPage(int /*pageId*/) const { return 0; }

bool CBootpWizardInfo::FinishWizard(const void* /*pageWindow*/) {
  // Nothing may keep the program alive once its window is gone; what is still held up now is
  // reported by the page before the window closes.
  m_settings.FinishWrites(kFinishWritesLimit);
  return true;
}

}  // namespace quillnet
