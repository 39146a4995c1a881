#include "app/bootp_wizard_info.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "app/assignment_session.h"
#include "app/assignment_timing.h"
#include "app/commissioning.h"
#include "app/device_probes.h"
#include "bootp/adapter_query.h"
#include "bootp/bootp_server.h"
#include "platform/ipv4_text.h"
#include "platform/program_file.h"
#include "platform/record_location.h"

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

void WriteDword(SettingsStore& store, const std::string& name, std::uint32_t value) {
  std::uint8_t data[sizeof value];
  std::memcpy(data, &value, sizeof value);
  WriteValue(store, name, kRegDword, data);
}

// A REG_DWORD value; 0 when it is missing or of another type.
std::uint32_t ReadDword(const SettingsKey& key, const std::string& name) {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  std::uint32_t value = 0;
  if (key.QueryValue(name, type, data) && type == kRegDword && data.size() == sizeof value) {
    std::memcpy(&value, data.data(), sizeof value);
  }
  return value;
}

// Whether the device is to keep its address is remembered beside its addresses' value.
std::string KeepValueName(const std::string& macText) { return macText + " keep"; }

void WriteString(SettingsStore& store, const std::string& name, const std::string& text) {
  // Stored with its terminating NUL, as the registry stores strings.
  std::vector<std::uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  WriteValue(store, name, kRegSz, data);
}

}  // namespace

CBootpWizardInfo::CBootpWizardInfo() : CBootpWizardInfo(Environment{}) {}

CBootpWizardInfo::CBootpWizardInfo(Environment environment)
    : m_environment(std::move(environment)),
      m_settings(MakeStore(m_environment)),
      m_vendors(m_environment.vendorFolder) {}

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

std::uint64_t CBootpWizardInfo::ProbeForOtherHolder(const std::string& ipAddress,
                                                    AddressProber::Done done) {
  std::uint32_t ip = 0;
  ReadIpv4Text(ipAddress, ip);
  return GetProber().Start(
      BuildProbe(ProbePurpose::kInUse, ip, ParseMacKey(m_macAddress), m_deviceNetwork,
                 FallbackInterfaces(), timing::kInUseProbe, timing::kInUseProbeInterval),
      std::move(done));
}

std::function<std::vector<int>()> CBootpWizardInfo::FallbackInterfaces() const {
  return m_environment.arpInterfaces ? m_environment.arpInterfaces : ArpInterfaces;
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
  settings.fallbackInterfaces = FallbackInterfaces();
  settings.armServer = [this] { return ArmServer(); };
  settings.adapters = &Adapters();
  settings.keepAddress = m_keepAddress;
  settings.keep = m_environment.keep;
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
    installed = ReadDword(*key, kInstalledValue) != 0;
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
  m_deviceNetwork = LocateDevice(m_bootpServer.get(), ParseMacKey(m_macAddress), Adapters());
  m_relayAddress = m_deviceNetwork.relay;
  // A query that fails leaves what it was given, as it does on the Welcome page; one that
  // finds no adapter leaves this PC without an address.
  std::string gateway;
  if (!QueryAdapter(m_localIpAddress, m_localSubnetMask, gateway)) {
    m_localIpAddress.clear();
    m_localSubnetMask.clear();
  }
  // The first adapter (the Welcome page's) only stands in where the device's network is not
  // known.
  const std::optional<LocalNetwork>& network = m_deviceNetwork.network;
  m_deviceOnAnotherNetwork = network && network->ipAddress != m_localIpAddress;
  if (m_deviceOnAnotherNetwork) {
    m_localIpAddress = network->ipAddress;
    m_localSubnetMask = network->subnetMask;
  }
}

AddressVerdict CBootpWizardInfo::CheckAddresses(const std::string& ipAddress,
                                                const std::string& subnetMask,
                                                const std::string& defaultGateway) const {
  return CheckDeviceAddresses(ipAddress, subnetMask, defaultGateway, m_deviceNetwork);
}

bool CBootpWizardInfo::LoadRememberedAddresses() {
  m_keepAddress = false;
  auto key = m_settings.OpenKey(kSettingsKeyPath);
  if (!key) return false;
  const std::string text = ReadString(*key, m_macAddress);
  m_keepAddress = ReadDword(*key, KeepValueName(m_macAddress)) != 0;
  key.reset();
  if (text.empty()) {
    m_keepAddress = false;
    return false;
  }

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
  // A value of its own, so the addresses' value keeps its form.
  WriteDword(m_settings, KeepValueName(m_macAddress), m_keepAddress ? 1 : 0);
}

void CBootpWizardInfo::RecordAssignment(const AssignmentSession& session) {
  const std::string path =
      m_environment.recordFile.empty() ? CommissioningRecordPath() : m_environment.recordFile;
  const std::string failure = quillnet::RecordAssignment(
      session, "quillnet", m_vendors.Lookup(ParseMacKey(m_macAddress)), path);
  m_recordResult = failure.empty() ? "The assignment was recorded in " + path + "." : failure;
}

std::vector<std::string> CBootpWizardInfo::GetSettingsProblems() const {
  std::vector<std::string> lines;
  const std::vector<SettingsStore::Failure> failures = m_settings.Failures();
  for (const SettingsStore::Failure& failure : failures) {
    DeviceKey key = 0;
    const std::string mac = failure.name.substr(0, failure.name.find(' '));
    if (ParseMacText(failure.name, key)) {
      lines.push_back("The addresses of " + failure.name + " were not remembered: " +
                      failure.why + ".");
    } else if (failure.name == KeepValueName(mac) && ParseMacText(mac, key)) {
      // Said once with the addresses, when they were lost too.
      const bool addressesLost =
          std::any_of(failures.begin(), failures.end(),
                      [&mac](const SettingsStore::Failure& other) { return other.name == mac; });
      if (addressesLost) continue;
      lines.push_back("Whether " + mac + " is to keep its address was not remembered: " +
                      failure.why + ".");
    } else {
      lines.push_back("The setting \"" + failure.name + "\" was not saved: " + failure.why + ".");
    }
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
