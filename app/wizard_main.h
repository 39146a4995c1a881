#pragma once

#include <functional>
#include <memory>

#include "app/bootp_wizard_info.h"

namespace quillnet {

// Starts what the pages need of the platform (application object, resources) and keeps it
// alive for as long as the returned handle lives.
using LibraryStarter = std::function<std::shared_ptr<void>()>;

// The entry point's steps: start the libraries, build the shared state, run the wizard once,
// destroy the shared state (and with it the server), release the libraries. Always 0.
int WizardMain(const LibraryStarter& startLibraries,
               const CBootpWizardInfo::SheetRunner& showSheet,
               CBootpWizardInfo::Environment environment = {});

}  // namespace quillnet
