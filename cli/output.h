#pragma once

#include <mutex>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

namespace quillnet::cli {

// Where the subcommands report: lines of text for a person, or with --json one JSON object per
// line for a script ({"event": ..., fields}; errors and warnings too, on standard error).
// Every line ends with a line break and is flushed, so a reader sees it at once. Safe to call
// from the server's worker thread and the main thread at the same time.
class Output {
 public:
  Output(bool json, std::ostream& out, std::ostream& err);

  // A result on standard output: `text` for a person, else `fields` with "event": `event`.
  void Event(const std::string& event, const std::string& text, nlohmann::json fields = {});
  // A refusal or failure on standard error. `text` may span lines; a JSON line keeps it whole.
  void Error(const std::string& text);
  void Warning(const std::string& text);

 private:
  void Write(std::ostream& stream, const std::string& event, const std::string& text,
             nlohmann::json fields);

  bool m_json;
  std::ostream& m_out;
  std::ostream& m_err;
  std::mutex m_mutex;
};

}  // namespace quillnet::cli
