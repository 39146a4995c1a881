#pragma once

#include <memory>

namespace quillnet {

// The application object and the program's resources: what the pages need of the platform
// (windows, controls, rich text, pictures). Alive as long as the handle.
std::shared_ptr<void> StartWizardApplication(int& argc, char** argv);

}  // namespace quillnet
