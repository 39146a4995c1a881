#include <windows.h>
#include <shellapi.h>

#include <cstdlib>

#include "platform/console.h"
#include "platform/windows/wide_text.h"

namespace quillnet {
namespace {

UINT g_consoleCodePage = 0;

void RestoreConsole() { ::SetConsoleOutputCP(g_consoleCodePage); }

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return arguments;
  // The C runtime and the shell split a command line alike but for odd quoting; where they
  // disagree on the count, the runtime's split stands.
  if (count == argc) {
    for (int i = 0; i < count; ++i) arguments[static_cast<std::size_t>(i)] = Utf8Text(wide[i]);
  }
  ::LocalFree(wide);
  return arguments;
}

void UseUtf8Console() {
  const UINT current = ::GetConsoleOutputCP();
  // 0: no console (output to a file or a pipe), whose bytes are taken as they are.
  if (current == 0 || current == CP_UTF8 || g_consoleCodePage != 0) return;
  if (!::SetConsoleOutputCP(CP_UTF8)) return;
  g_consoleCodePage = current;
  std::atexit(RestoreConsole);
}

// A pipe's reader is only known to be gone once a write fails.
bool StandardOutputReaderGone() { return false; }

}  // namespace quillnet
