#include "cli/output.h"

namespace quillnet::cli {

Output::Output(bool json, std::ostream& out, std::ostream& err)
    : m_json(json), m_out(out), m_err(err) {}

void Output::Event(const std::string& event, const std::string& text, nlohmann::json fields) {
  Write(m_out, event, text, std::move(fields));
}

namespace {

std::string WithoutFinalBreaks(std::string text) {
  while (text.ends_with('\n')) text.pop_back();
  return text;
}

}  // namespace

void Output::Error(const std::string& text) {
  Write(m_err, "error", text, {{"message", WithoutFinalBreaks(text)}});
}

void Output::Warning(const std::string& text) {
  Write(m_err, "warning", text, {{"message", WithoutFinalBreaks(text)}});
}

void Output::Write(std::ostream& stream, const std::string& event, const std::string& text,
                   nlohmann::json fields) {
  std::lock_guard lock(m_mutex);
  if (m_json) {
    nlohmann::json line = {{"event", event}};
    if (fields.is_object()) line.update(fields);
    // Texts from the engine may hold bytes that are not UTF-8; they are replaced, not thrown on.
    stream << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  } else {
    stream << text;
    if (!text.ends_with('\n')) stream << '\n';
  }
  stream.flush();
}

}  // namespace quillnet::cli
