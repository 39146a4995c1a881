#pragma once

#include <string>

namespace quillnet {

// This PC's host name, as the network knows it; "" when the system gives none.
std::string PcHostName();

// The name of the user this program runs as; "" when the system gives none.
std::string CurrentUserName();

}  // namespace quillnet
