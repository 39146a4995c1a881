#include "app/wizard_main.h"

#include <utility>

namespace quillnet {

int WizardMain(const LibraryStarter& startLibraries,
               const CBootpWizardInfo::SheetRunner& showSheet,
               CBootpWizardInfo::Environment environment) {
  // A failed start is ignored; the run goes on.
  std::shared_ptr<void> libraries = startLibraries ? startLibraries() : nullptr;
  {
    // The state must be gone before the libraries: the server and the pages it outlives
    // may still refer to them.
    CBootpWizardInfo info(std::move(environment));
    info.Run(showSheet);
  }
  libraries.reset();
  return 0;
}

}  // namespace quillnet
