// Installing a copy on Windows: Quillnet.exe in the folder, shell links on the desktop and in
// the Start menu's programs (the known folders; the Start menu reads no other).
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "platform/program_file.h"
#include "platform/program_installer.h"
#include "platform/windows/wide_text.h"

namespace quillnet {
namespace {

constexpr wchar_t kProgramName[] = L"Quillnet.exe";
constexpr wchar_t kLinkName[] = L"Quillnet.lnk";
constexpr wchar_t kLinkDescription[] = L"Varnholt IP Addressing Tool";
constexpr wchar_t kVendorFolder[] = L"\\Varnholt\\Tools";

std::wstring KnownFolder(const KNOWNFOLDERID& id) {
  PWSTR path = nullptr;
  std::wstring folder;
  if (SUCCEEDED(::SHGetKnownFolderPath(id, 0, nullptr, &path))) folder = path;
  ::CoTaskMemFree(path);
  return folder;
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring Parent(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos || slash < 3 ? std::wstring() : path.substr(0, slash);
}

std::string Reason(DWORD error) {
  std::string text = SystemErrorText(error);
  while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text.empty() ? "error " + std::to_string(error) : text;
}

// Keeps COM up on this thread for as long as it lives.
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

class ShellProgramInstaller final : public ProgramInstaller {
 public:
  explicit ShellProgramInstaller(const InstallerSettings& settings)
      : m_program(settings.programFile.empty() ? RunningProgramPath() : settings.programFile) {}

  std::string DefaultFolder() const override {
    return Utf8Text(KnownFolder(FOLDERID_ProgramFiles) + kVendorFolder);
  }

  std::string FullFolder(const std::string& text, std::string& why) const override {
    std::wstring path = WideText(text);
    const bool absolute = (path.size() >= 3 && path[1] == L':' &&
                           (path[2] == L'\\' || path[2] == L'/')) ||
                          path.starts_with(L"\\\\");
    // Below the user's own folder, not the folder the program happened to be started in.
    if (!absolute) {
      const std::wstring profile = KnownFolder(FOLDERID_Profile);
      if (profile.empty()) {
        why = "There is no user folder to put \"" + text +
              "\" in. Please provide a full path, starting with a drive letter.";
        return {};
      }
      path = profile + L"\\" + path;
    }
    std::wstring full(MAX_PATH, L'\0');
    DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(),
                                      nullptr);
    if (length >= full.size()) {
      full.resize(length);
      length = ::GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
    }
    if (length == 0) {
      why = "\"" + text + "\" is no folder: " + Reason(::GetLastError()) + ".";
      return {};
    }
    full.resize(length);
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
    return Utf8Text(full);
  }

  std::string ExistingFolderAt(const std::string& text) const override {
    std::wstring folder = WideText(text);
    while (!folder.empty() && !IsFolder(folder)) folder = Parent(folder);
    return Utf8Text(folder);
  }

  std::string Refusal(const std::string& /*folder*/) const override { return {}; }

  bool CopyProgram(const std::string& folder, std::string& why) override {
    const std::wstring target = WideText(folder);
    // The folders the copy makes, so that a failure leaves none of them behind.
    std::vector<std::wstring> missing;
    for (std::wstring at = target; !at.empty() && !IsFolder(at); at = Parent(at)) {
      missing.push_back(at);
    }
    const int made = ::SHCreateDirectoryExW(nullptr, target.c_str(), nullptr);
    if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS) {
      why = Reason(static_cast<DWORD>(made));
      RemoveFolders(missing);
      return false;
    }
    const std::wstring program = target + L"\\" + kProgramName;
    if (!::CopyFileW(WideText(m_program).c_str(), program.c_str(), FALSE)) {
      why = Reason(::GetLastError());
      if (!missing.empty()) ::DeleteFileW(program.c_str());
      RemoveFolders(missing);
      return false;
    }
    return true;
  }

  bool CreateLauncher(const std::string& folder, LauncherPlace place, std::string& why) override {
    const std::wstring links =
        KnownFolder(place == LauncherPlace::kDesktop ? FOLDERID_Desktop : FOLDERID_Programs);
    // Without the known folder the link would land in the current drive's root.
    if (links.empty()) {
      why = "the shortcut " + Utf8Text(kLinkName) + " has no folder to go in";
      return false;
    }
    const std::wstring file = links + L"\\" + kLinkName;
    const std::wstring program = WideText(folder) + L"\\" + kProgramName;
    const ComScope com;
    IShellLinkW* link = nullptr;
    HRESULT result = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IShellLinkW, reinterpret_cast<void**>(&link));
    IPersistFile* persist = nullptr;
    if (SUCCEEDED(result)) {
      link->SetPath(program.c_str());
      link->SetWorkingDirectory(WideText(folder).c_str());
      link->SetDescription(kLinkDescription);
      link->SetIconLocation(program.c_str(), 0);
      result = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist));
    }
    if (SUCCEEDED(result)) result = persist->Save(file.c_str(), TRUE);
    if (persist != nullptr) persist->Release();
    if (link != nullptr) link->Release();
    if (FAILED(result)) {
      why = "the shortcut " + Utf8Text(file) + " could not be written";
      return false;
    }
    return true;
  }

 private:
  // The deepest first, each only while it is empty.
  static void RemoveFolders(const std::vector<std::wstring>& folders) {
    for (const std::wstring& folder : folders) ::RemoveDirectoryW(folder.c_str());
  }

  std::string m_program;
};

}  // namespace

std::unique_ptr<ProgramInstaller> MakeProgramInstaller(const InstallerSettings& settings) {
  return std::make_unique<ShellProgramInstaller>(settings);
}

}  // namespace quillnet
