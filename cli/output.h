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
//
// A write that fails (a full disk, a reader that went away) is never passed over: from then on
// Failed() tells the subcommand to end, and the program ends with its own exit code.
class Output {
 public:
  Output(bool json, std::ostream& out, std::ostream& err);

  // A result on standard output: `text` for a person, else `fields` with "event": `event`.
  void Event(const std::string& event, const std::string& text, nlohmann::json fields = {});
  // A refusal or failure on standard error. `text` may span lines; a JSON line keeps it whole.
  void Error(const std::string& text);
  // A warning on standard error; with --json, `fields` join its message.
  void Warning(const std::string& text, nlohmann::json fields = {});
  // `text` on standard output as it is, in either form (the help).
  void Text(const std::string& text);

  // Whether a write failed, or the reader of this process's standard output has gone: the run
  // is to end.
  bool Failed();
  // Says on standard error why the output failed, where it can and should be said: not for a
  // reader that went away (a closed pipe is how a reader says it has had enough), nor when
  // standard error itself failed.
  void SayWhyFailed();

 private:
  void Write(std::ostream& stream, const std::string& event, const std::string& text,
             nlohmann::json fields);
  void WriteLocked(std::ostream& stream, const std::string& text);

  const bool m_json;
  std::ostream& m_out;
  std::ostream& m_err;
  // Only the process's own standard output can be asked whether its reader is there.
  const bool m_outIsStandardOutput;
  std::mutex m_mutex;
  bool m_outFailed = false;
  bool m_errFailed = false;
  int m_outError = 0;  // errno of standard output's failed write
};

}  // namespace quillnet::cli
