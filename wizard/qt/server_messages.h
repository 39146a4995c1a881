#pragma once

#include <functional>
#include <string>

namespace quillnet {

// A server error handler that may be called from any thread: it hands the text and caption
// to the UI thread, which shows them in a message box (object name "serverMessageBox").
std::function<void(const std::string& text, const std::string& caption)> MessageBoxErrorHandler();

}  // namespace quillnet
