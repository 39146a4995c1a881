// quillnet-cli: the BOOTP engine without a user interface. `listen` shows the devices that ask
// for an address; `assign` answers one device's next request with the given addresses; `serve`
// answers every device of a hosts file; `startup` reads or sets an EtherNet/IP device's
// start-up method; `history` prints the commissioning record; `doctor` checks whether this PC
// can serve at all.
#include <CLI/CLI.hpp>

#include <array>
#include <atomic>
#include <csignal>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/arguments.h"
#include "cli/assign.h"
#include "cli/doctor.h"
#include "cli/history.h"
#include "cli/listen.h"
#include "cli/output.h"
#include "cli/serve.h"
#include "cli/serving.h"
#include "cli/startup.h"
#include "platform/console.h"

namespace {

// What ends listen and serve: Windows has no SIGTERM.
#ifdef _WIN32
constexpr char kStoppedBy[] = "Ctrl+C";
#else
constexpr char kStoppedBy[] = "Ctrl+C or SIGTERM";
#endif

constexpr char kProgramName[] = "quillnet-cli";
// A longer parser message holds an argument it quotes; it is cut, as the program's own
// refusals cut what they quote.
constexpr std::size_t kShownParserMessage = 200;
constexpr char kOutputFailed[] = "the output could not be written";

using namespace quillnet::cli;

constexpr std::array<std::string_view, 7> kSubcommands = {"listen", "assign",  "serve", "startup",
                                                          "history", "doctor", "help"};

std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) { g_interrupted = true; }

void AddTimeout(CLI::App* command, std::optional<double>& seconds) {
  command
      ->add_option_function<std::string>(
          "--timeout",
          [&seconds](const std::string& text) {
            double read = 0;
            ReadTimeout(text, read);
            seconds = read;
          },
          "Give up after SECONDS (0.001 to 86400; default: wait for ever)")
      ->type_name("SECONDS")
      ->check(CLI::Validator(
          [](std::string& text) {
            double read = 0;
            return ReadTimeout(text, read) ? std::string() : std::string(kTimeoutRule);
          },
          ""));
}

// Each subcommand's help names its own exit codes, in order; every one may end with 2 and 9
// too.
std::string ExitCodes(std::map<int, std::string> own) {
  own.emplace(kExitUsage, "invalid arguments");
  own.emplace(kExitOutputFailed,
              std::string(kOutputFailed) + " (quietly when its reader closed the pipe)");
  std::string text = "Exit codes: ";
  for (const auto& [code, meaning] : own) {
    if (code != own.begin()->first) text += "; ";
    text += std::to_string(code) + " " + meaning;
  }
  return text + ".";
}

// Whether --json is among the arguments. A refusal of the arguments comes before the parser
// has read it, or instead of that, and is still one JSON object then.
bool AsksForJson(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--") return false;
    if (argument == "--json") return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** systemArgv) {
  quillnet::UseUtf8Console();
  // Read in UTF-8 from here on, as a path is handed on to the system in UTF-8.
  std::vector<std::string> texts = quillnet::Utf8Arguments(argc, systemArgv);
  std::vector<char*> utf8Argv;
  for (std::string& text : texts) utf8Argv.push_back(text.data());
  utf8Argv.push_back(nullptr);
  char** const argv = utf8Argv.data();
  Output argumentsOutput(AsksForJson(argc, argv), std::cout, std::cerr);
  if (auto refusal = CheckSubcommand(argc > 1 ? argv[1] : "", kSubcommands)) {
    return Refuse(argumentsOutput, *refusal);
  }
  // `help [SUBCOMMAND]` is read as `[SUBCOMMAND] --help`.
  std::vector<char*> arguments(argv, argv + argc);
  std::string helpFlag = "--help";
  if (argc > 1 && std::string_view(argv[1]) == "help") {
    if (argc > 2) {
      if (auto refusal = CheckSubcommand(argv[2], kSubcommands)) {
        return Refuse(argumentsOutput, *refusal);
      }
    }
    arguments.erase(arguments.begin() + 1);
    arguments.push_back(helpFlag.data());
  }

  // Named as the user knows it, not by the path it was started from.
  CLI::App app{"Quillnet BOOTP server without the wizard.", kProgramName};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string(kProgramName) + " " + QUILLNET_VERSION,
                       "Print the version and exit");
  app.footer(std::string("Exit codes: each subcommand's help lists its own (") + kProgramName +
             " help SUBCOMMAND); every subcommand ends with 2 after invalid arguments, and with "
             "9 when its output could not be written.");

  bool json = false;
  CLI::App* listen =
      app.add_subcommand("listen", "List the devices that ask for an address, with their makers.");
  listen->add_flag("--json", json, "One JSON object per line");
  listen->footer(ExitCodes({{kExitSent, std::string("the run ended by ") + kStoppedBy},
                            {kExitStartFailed, "the server could not start or stopped listening"}}));

  AssignArguments assignArgs;
  CLI::App* assign =
      app.add_subcommand("assign",
                         "Answer a device's next BOOTP or DHCP request with these addresses.");
  // The names say what each positional argument is; a type beside them would only say TEXT.
  assign->add_option("MAC", assignArgs.mac, "The device's MAC address, e.g. 02:00:5e:10:20:30")
      ->type_name("")
      ->required();
  assign->add_option("IP", assignArgs.addresses.ipAddress, "The IP address to give it")
      ->type_name("")
      ->required();
  assign->add_option("MASK", assignArgs.addresses.subnetMask, "Its subnet mask")
      ->type_name("")
      ->required();
  assign
      ->add_option("GATEWAY", assignArgs.addresses.defaultGateway,
                   "Its default gateway (none: 0.0.0.0)")
      ->type_name("");
  AddTimeout(assign, assignArgs.timeoutSeconds);
  assign
      ->add_option_function<std::string>(
          "--confirm",
          [&assignArgs](const std::string& text) { ReadConfirm(text, assignArgs.confirmSeconds); },
          "After the reply, wait at most SECONDS (0.001 to 86400) for the device to answer at "
          "its new address (0: do not check; default 5)")
      ->type_name("SECONDS")
      ->check(CLI::Validator(
          [](std::string& text) {
            double read = 0;
            return ReadConfirm(text, read) ? std::string() : std::string(kConfirmRule);
          },
          ""));
  assign->add_flag("--force", assignArgs.force,
                   "Assign the IP address even when another device answers at it (never one of "
                   "this PC's)");
  assign->add_flag("--keep", assignArgs.keep,
                   "Once the device answers at its new address, tell it to keep that address "
                   "at its next start-up (EtherNet/IP: start-up method stored configuration)");
  assign->add_flag("--json", json, "One JSON object per line");
  assign->footer(ExitCodes(
      {{kExitSent,
        "the reply was sent, and the device answers at its new address where that could be "
        "checked"},
       {kExitRefused,
        "the addresses failed the check (an address of this PC among them), the IP address is "
        "in use by another device, or the device declined it as in use or took another DHCP "
        "server's offer"},
       {kExitStartFailed, "the server could not start or stopped listening"},
       {kExitSendFailed, "the reply could not be sent through the interface the device asked on"},
       {kExitTimeout, "no request from the device before the timeout or an interruption"},
       {kExitNotConfirmed,
        "the device did not answer at its new address within --confirm seconds or before an "
        "interruption, the check broke off, or the device asked again after each of 8 "
        "replies"},
       {kExitNotKept,
        "with --keep: the device answers at its new address, but was not made to keep it"}}));

  ServeArguments serveArgs;
  CLI::App* serve = app.add_subcommand(
      "serve", std::string("Answer every device listed in a hosts file, until ") + kStoppedBy + ".");
  serve
      ->add_option("--hosts", serveArgs.hostsPath,
                   "CSV lines MAC,IP,MASK[,GATEWAY]; a header line, # comments and blank lines "
                   "are allowed")
      ->type_name("FILE")
      ->required();
  serve->add_flag("--once", serveArgs.once,
                  "End as soon as every device has been answered (with --keep: and has said "
                  "whether it keeps its address, or did not answer at it)");
  AddTimeout(serve, serveArgs.timeoutSeconds);
  serve->add_flag("--keep", serveArgs.keep,
                  "Once a device answers at its new address, tell it to keep that address at its "
                  "next start-up (EtherNet/IP: start-up method stored configuration)");
  serve->add_flag("--json", json, "One JSON object per line");
  serve->footer(ExitCodes(
      {{kExitSent, std::string("the run ended by ") + kStoppedBy +
                       ", or with --once once every device was answered (with --keep: and kept "
                       "its address)"},
       {kExitUsage, "invalid arguments, or a hosts file that cannot be read"},
       {kExitRefused,
        "the hosts file was refused: a row failed the check, or it lists no device or too many"},
       {kExitStartFailed, "the server could not start or stopped listening"},
       {kExitTimeout, std::string("not every device was answered before the timeout or, with "
                                  "--once, before ") +
                          kStoppedBy +
                          "; or the hosts file did not end before the timeout or an "
                          "interruption"},
       {kExitNotKept,
        "with --keep --once: every device was answered, but not every one was made to keep "
        "its address (it did not answer at it, or did not keep it)"}}));

  CLI::App* doctor = app.add_subcommand(
      "doctor", "Check whether this PC can serve BOOTP, and say how to fix what is wrong.");
  doctor->add_flag("--json", json, "One JSON object per line");
  doctor->footer(ExitCodes({{kExitSent, "every check passed (a warning does not fail)"},
                            {kExitCheckFailed, "a check failed"}}));

  StartupArguments startupArgs;
  CLI::App* startup = app.add_subcommand(
      "startup",
      "Read the start-up method of the EtherNet/IP device at IP (stored configuration, BOOTP "
      "or DHCP), or set it and read it back.");
  startup->add_option("IP", startupArgs.ip, "The device's IP address")->type_name("")->required();
  startup
      ->add_option("METHOD", startupArgs.method,
                   "stored (keep the address it has), bootp or dhcp (ask at every start-up)")
      ->type_name("");
  startup->add_flag("--json", json, "One JSON object per line");
  startup->footer(ExitCodes(
      {{kExitSent, "the method was read, or set and read back"},
       {kExitNotKept,
        "no EtherNet/IP device answers at IP, it refused, or it read back another method"}}));

  HistoryArguments historyArgs;
  CLI::App* history = app.add_subcommand(
      "history", "Print the commissioning record: one line per assignment, oldest first.");
  history->add_option("--since", historyArgs.since, "Only assignments from DATE on (YYYY-MM-DD)")
      ->type_name("DATE");
  history->add_flag("--json", json, "One JSON object per line");
  history->footer(ExitCodes({{kExitSent, "the record was printed (damaged lines are skipped)"},
                             {kExitRecordUnreadable, "the record could not be read"}}));

  // Read as `SUBCOMMAND --help` before parsing; here for the list of subcommands and its own
  // --help.
  std::string helpTopic;
  CLI::App* help = app.add_subcommand("help", "Print this help, or SUBCOMMAND's help.");
  help->add_option("SUBCOMMAND", helpTopic, "The subcommand to explain")->type_name("");

  try {
    app.parse(static_cast<int>(arguments.size()), arguments.data());
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) {
      // --help and --version print and end with 0, unless what they print is lost.
      std::ostringstream text;
      std::ostringstream unused;
      app.exit(error, text, unused);
      argumentsOutput.Text(text.str());
      if (!argumentsOutput.Failed()) return kExitSent;
      argumentsOutput.SayWhyFailed();
      return kExitOutputFailed;
    }
    // One line per refusal; --help says the rest.
    argumentsOutput.Error(ShownInput(error.what(), kShownParserMessage));
    return kExitUsage;
  }
  // A device is told to keep only an address it was seen to answer at.
  if (*assign && assignArgs.keep && assignArgs.confirmSeconds == 0) {
    argumentsOutput.Error("--keep needs the check at the new address: --confirm must be above 0.");
    return kExitUsage;
  }

  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
#ifdef SIGHUP
  // A closed terminal ends the run as SIGTERM does, with its summary and exit code.
  std::signal(SIGHUP, OnInterrupt);
#endif
  Output output(json, std::cout, std::cerr);
  int exitCode = kExitUsage;
  if (*listen) {
    exitCode = Listen(output, g_interrupted);
  } else if (*serve) {
    exitCode = Serve(serveArgs, output, g_interrupted);
  } else if (*doctor) {
    exitCode = RunDoctor(output);
  } else if (*assign) {
    exitCode = Assign(assignArgs, output, g_interrupted);
  } else if (*startup) {
    exitCode = Startup(startupArgs, output, g_interrupted);
  } else if (*history) {
    exitCode = History(historyArgs, output);
  }
  // A result that could not be written is no result: the caller would read what is missing
  // as success.
  if (output.Failed()) {
    output.SayWhyFailed();
    return kExitOutputFailed;
  }
  return exitCode;
}
