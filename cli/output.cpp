#include "cli/output.h"

#include <cctype>
#include <cerrno>
#include <iostream>
#include <system_error>

#include "platform/console.h"

namespace quillnet::cli {

Output::Output(bool json, std::ostream& out, std::ostream& err)
    : m_json(json), m_out(out), m_err(err), m_outIsStandardOutput(&out == &std::cout) {}

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

void Output::Warning(const std::string& text, nlohmann::json fields) {
  nlohmann::json line = {{"message", WithoutFinalBreaks(text)}};
  if (fields.is_object()) line.update(fields);
  Write(m_err, "warning", text, std::move(line));
}

void Output::Text(const std::string& text) {
  std::lock_guard lock(m_mutex);
  WriteLocked(m_out, text);
}

void Output::Write(std::ostream& stream, const std::string& event, const std::string& text,
                   nlohmann::json fields) {
  std::string line;
  if (m_json) {
    nlohmann::json object = {{"event", event}};
    if (fields.is_object()) object.update(fields);
    // Texts from the engine may hold bytes that are not UTF-8; they are replaced, not thrown on.
    line = object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  } else {
    line = text;
  }
  if (!line.ends_with('\n')) line += '\n';
  std::lock_guard lock(m_mutex);
  WriteLocked(stream, line);
}

void Output::WriteLocked(std::ostream& stream, const std::string& text) {
  const bool out = &stream == &m_out;
  // After a failure the stream stays failed; nothing more is tried on it.
  if (out ? m_outFailed : m_errFailed) return;
  errno = 0;
  stream << text;
  stream.flush();
  if (stream) return;
  if (out) {
    m_outFailed = true;
    m_outError = errno != 0 ? errno : EIO;
  } else {
    m_errFailed = true;
  }
}

bool Output::Failed() {
  std::lock_guard lock(m_mutex);
  if (!m_outFailed && m_outIsStandardOutput && StandardOutputReaderGone()) {
    m_outFailed = true;
    m_outError = EPIPE;
  }
  return m_outFailed || m_errFailed;
}

void Output::SayWhyFailed() {
  std::string reason;
  {
    std::lock_guard lock(m_mutex);
    if (!m_outFailed || m_outError == EPIPE) return;
    reason = std::generic_category().message(m_outError);
  }
  if (!reason.empty()) reason[0] = static_cast<char>(std::tolower(reason[0]));
  Error("Standard output could not be written: " + reason + ".");
}

}  // namespace quillnet::cli
