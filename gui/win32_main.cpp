// Quillnet.exe: the wizard in its Win32 frame. The command line is ignored.
// The frame's header comes first: it brings the system's headers after the pages' own.
#include "wizard/win32/win32_wizard.h"

#include "app/wizard_main.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
  return quillnet::WizardMain(quillnet::StartWin32WizardLibraries, quillnet::ShowBootpWizardSheet);
}
