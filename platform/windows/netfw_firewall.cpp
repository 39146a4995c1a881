// Windows Firewall's policy through INetFwPolicy2 (hnetcfg), which any user may read: the
// profiles of the networks this PC is on, where the firewall is on and blocks by default, and
// its inbound rules. A policy that does not answer a question (Wine answers none but the
// count of its rules) is not read at all, so nothing is said of it that it did not say.
#include <windows.h>

#include <netfw.h>
#include <oleauto.h>

#include <cstdio>
#include <string>
#include <utility>

#include "platform/firewall.h"
#include "platform/windows/wide_text.h"

namespace quillnet {
namespace {

constexpr std::uint32_t kProfiles[] = {kFirewallDomain, kFirewallPrivate, kFirewallPublic};

// Keeps COM up on this thread for as long as it lives; a thread that has it already keeps it.
class ComScope {
 public:
  ComScope() : m_result(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(m_result)) ::CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT m_result;
};

// Releases a COM interface when it goes.
template <typename Interface>
class Held {
 public:
  Held() = default;
  ~Held() {
    if (m_pointer != nullptr) m_pointer->Release();
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  Interface** Out() { return &m_pointer; }
  void** OutVoid() { return reinterpret_cast<void**>(&m_pointer); }
  Interface* operator->() const { return m_pointer; }
  Interface* Get() const { return m_pointer; }

 private:
  Interface* m_pointer = nullptr;
};

// A BSTR's text, freed; "" for a null one.
std::string Take(BSTR text) {
  std::string result =
      text != nullptr ? Utf8Text(std::wstring_view(text, ::SysStringLen(text))) : "";
  ::SysFreeString(text);
  return result;
}

std::string Failed(const char* what, HRESULT result) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
  std::string text = what;
  text.append(" (error ").append(code).append(")");
  return text;
}

// The rule behind one item of the rules' enumeration; false when it is not an inbound rule.
bool ReadRule(IDispatch* item, FirewallRule& rule) {
  Held<INetFwRule> held;
  if (FAILED(item->QueryInterface(__uuidof(INetFwRule), held.OutVoid()))) return false;
  NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_OUT;
  if (FAILED(held->get_Direction(&direction)) || direction != NET_FW_RULE_DIR_IN) return false;
  BSTR text = nullptr;
  if (SUCCEEDED(held->get_Name(&text))) rule.name = Take(text);
  VARIANT_BOOL enabled = VARIANT_FALSE;
  held->get_Enabled(&enabled);
  rule.enabled = enabled != VARIANT_FALSE;
  NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
  held->get_Action(&action);
  rule.allows = action == NET_FW_ACTION_ALLOW;
  LONG protocol = kFirewallAnyProtocol;
  if (SUCCEEDED(held->get_Protocol(&protocol))) rule.protocol = static_cast<int>(protocol);
  text = nullptr;
  if (SUCCEEDED(held->get_LocalPorts(&text))) {
    // An empty list means every port, as "*" does.
    if (std::string ports = Take(text); !ports.empty()) rule.localPorts = std::move(ports);
  }
  text = nullptr;
  if (SUCCEEDED(held->get_ApplicationName(&text))) rule.program = Take(text);
  LONG profiles = NET_FW_PROFILE2_ALL;
  if (SUCCEEDED(held->get_Profiles(&profiles)))
    rule.profiles = static_cast<std::uint32_t>(profiles);
  return true;
}

}  // namespace

std::string FirewallName() { return "Windows Firewall"; }

FirewallReading ReadFirewall() {
  FirewallReading reading;
  ComScope com;
  Held<INetFwPolicy2> policy;
  HRESULT result = ::CoCreateInstance(__uuidof(NetFwPolicy2), nullptr, CLSCTX_INPROC_SERVER,
                                      __uuidof(INetFwPolicy2), policy.OutVoid());
  if (FAILED(result)) {
    reading.why = Failed("it could not be asked", result);
    return reading;
  }
  LONG active = 0;
  if (result = policy->get_CurrentProfileTypes(&active); FAILED(result)) {
    reading.why = Failed("it did not say which networks this PC is on", result);
    return reading;
  }
  reading.activeProfiles = static_cast<std::uint32_t>(active);
  for (const std::uint32_t profile : kProfiles) {
    const auto type = static_cast<NET_FW_PROFILE_TYPE2>(profile);
    VARIANT_BOOL enabled = VARIANT_FALSE;
    NET_FW_ACTION inbound = NET_FW_ACTION_ALLOW;
    if (result = policy->get_FirewallEnabled(type, &enabled); FAILED(result)) {
      reading.why = Failed("it did not say whether it is on", result);
      return reading;
    }
    if (result = policy->get_DefaultInboundAction(type, &inbound); FAILED(result)) {
      reading.why = Failed("it did not say what it does by default", result);
      return reading;
    }
    if (enabled != VARIANT_FALSE) reading.enabledProfiles |= profile;
    if (inbound == NET_FW_ACTION_BLOCK) reading.blockingProfiles |= profile;
  }
  Held<INetFwRules> rules;
  Held<IUnknown> enumeration;
  Held<IEnumVARIANT> items;
  if (result = policy->get_Rules(rules.Out()); SUCCEEDED(result)) {
    result = rules->get__NewEnum(enumeration.Out());
  }
  if (SUCCEEDED(result))
    result = enumeration->QueryInterface(__uuidof(IEnumVARIANT), items.OutVoid());
  if (FAILED(result)) {
    reading.why = Failed("it did not give its rules", result);
    return reading;
  }
  for (;;) {
    VARIANT item;
    ::VariantInit(&item);
    ULONG fetched = 0;
    if (items->Next(1, &item, &fetched) != S_OK || fetched == 0) break;
    FirewallRule rule;
    if (item.vt == VT_DISPATCH && item.pdispVal != nullptr && ReadRule(item.pdispVal, rule)) {
      reading.inboundRules.push_back(std::move(rule));
    }
    ::VariantClear(&item);
  }
  reading.kind = FirewallReading::Kind::kWindowsFirewall;
  return reading;
}

bool IsSameFile(const std::string& first, const std::string& second) {
  const auto normal = [](const std::string& name) {
    const std::wstring wide = WideText(name);
    std::wstring expanded(MAX_PATH, L'\0');
    DWORD length = ::ExpandEnvironmentStringsW(wide.c_str(), expanded.data(),
                                               static_cast<DWORD>(expanded.size()));
    if (length > expanded.size()) {
      expanded.resize(length);
      length = ::ExpandEnvironmentStringsW(wide.c_str(), expanded.data(), length);
    }
    expanded.resize(length == 0 ? 0 : length - 1);
    if (length == 0) expanded = wide;
    for (wchar_t& character : expanded) {
      if (character == L'/') character = L'\\';
    }
    return expanded;
  };
  const std::wstring a = normal(first);
  const std::wstring b = normal(second);
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace quillnet
